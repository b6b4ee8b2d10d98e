// Load on vorna-service: many panels refreshing their presence list at once.
//
// Starts the real vorna-service on a temporary SQLite database seeded with the demo data,
// then lets N client threads (raw gRPC stubs, one connection each, logged in as the demo
// manager) refresh the whole presence list in a loop, as the panel does: the first request
// fetches every picture, later ones list the digests they hold. The run is cut into rounds;
// per round it measures refreshes per second and the p50/p99 latency of one refresh, and
// prints the median, min and max over the rounds. Any failed call is counted and fails the run.

#include "commservice.grpc.pb.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace v1 = vorna::v1;
using Clock = std::chrono::steady_clock;

namespace {

struct Settings
{
    int clients = 50;
    int employees = 1000;
    int seconds = 60;
    int rounds = 5;
};

// Latencies of the refreshes that ended in one round.
struct Round
{
    std::mutex mutex;
    std::vector<double> latenciesMs;
    std::atomic<int> errors{0};
};

struct Figures
{
    double median = 0;
    double min = 0;
    double max = 0;
};

Figures summarise(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {values.at(values.size() / 2), values.front(), values.back()};
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p * double(values.size())));
    return values.at(index);
}

void printBench(const char *name, const Figures &f, const char *unit, const char *target = nullptr)
{
    std::printf("BENCH %s median=%.2f%s min=%.2f max=%.2f", name, f.median, unit, f.min, f.max);
    if (target)
        std::printf(" target=%s", target);
    std::printf("\n");
    std::fflush(stdout);
}

bool runCommand(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(VORNA_SERVICE_BINARY), arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "vorna-service %s failed:\n%s\n", qPrintable(arguments.join(QLatin1Char(' '))),
                     process.readAll().constData());
        return false;
    }
    return true;
}

// Starts `serve` on a free port; returns its address, or an empty string.
QString startService(QProcess &service, const QString &database)
{
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(QStringLiteral(VORNA_SERVICE_BINARY),
                  {QStringLiteral("serve"), QStringLiteral("--database"), database, QStringLiteral("--listen"),
                   QStringLiteral("127.0.0.1:0"), QStringLiteral("--log-level"), QStringLiteral("warning")});
    if (!service.waitForReadyRead(60000))
        return {};
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("listening on (\\S+)")).match(QString::fromUtf8(service.readLine()));
    return match.hasMatch() ? match.captured(1) : QString();
}

class Client
{
public:
    explicit Client(const std::string &address)
    {
        grpc::ChannelArguments args;
        // One connection per client, like separate panels.
        args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
        args.SetMaxReceiveMessageSize(64 * 1024 * 1024);
        m_stub = v1::CommService::NewStub(grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), args));
    }

    bool login()
    {
        v1::LoginRequest request;
        request.set_user("manager");
        request.set_password("vorna-demo");
        request.set_client("bench_load");
        v1::LoginReply reply;
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(60));
        const grpc::Status status = m_stub->Login(&context, request, &reply);
        if (!status.ok())
            std::fprintf(stderr, "login failed: %s\n", status.error_message().c_str());
        m_token = reply.session_token();
        return status.ok();
    }

    // One refresh; false on any failure. Keeps the digests it now holds for the next one.
    bool refresh(int expectedRows)
    {
        v1::PresenceRequest request;
        request.set_user_name("manager");
        for (const std::string &digest : m_digests)
            request.add_known_picture_digests(digest);
        grpc::ClientContext context;
        context.AddMetadata("vorna-session", m_token);
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
        auto reader = m_stub->Presence(&context, request);
        std::vector<std::string> digests;
        digests.reserve(size_t(expectedRows));
        v1::PresenceChunk chunk;
        int rows = 0;
        while (reader->Read(&chunk)) {
            rows += chunk.rows_size();
            for (const v1::PresenceRow &row : chunk.rows())
                if (!row.picture_digest().empty())
                    digests.push_back(row.picture_digest());
        }
        const grpc::Status status = reader->Finish();
        if (!status.ok() || rows != expectedRows) {
            std::fprintf(stderr, "refresh failed: %s (%d rows)\n", status.error_message().c_str(), rows);
            return false;
        }
        m_digests = std::move(digests);
        return true;
    }

private:
    std::unique_ptr<v1::CommService::Stub> m_stub;
    std::string m_token;
    std::vector<std::string> m_digests;
};

Settings parseSettings(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Load benchmark of vorna-service."));
    parser.addHelpOption();
    const QCommandLineOption clients(QStringLiteral("clients"), QStringLiteral("Concurrent clients. Default: 50."),
                                     QStringLiteral("n"), QStringLiteral("50"));
    const QCommandLineOption employees(QStringLiteral("employees"), QStringLiteral("Employees in the demo. Default: 1000."),
                                       QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption duration(QStringLiteral("duration"), QStringLiteral("Seconds of load in all. Default: 60."),
                                      QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Rounds the duration is cut into (>= 5). Default: 5."),
                                    QStringLiteral("n"), QStringLiteral("5"));
    parser.addOptions({clients, employees, duration, rounds});
    parser.process(app);
    Settings settings;
    settings.clients = std::max(1, parser.value(clients).toInt());
    settings.employees = std::max(1, parser.value(employees).toInt());
    settings.seconds = std::max(5, parser.value(duration).toInt());
    settings.rounds = std::max(5, parser.value(rounds).toInt());
    return settings;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Settings settings = parseSettings(app);

    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("load.db"));
    if (!runCommand({QStringLiteral("init"), QStringLiteral("--database"), database})
        || !runCommand({QStringLiteral("demo"), QStringLiteral("--database"), database, QStringLiteral("--employees"),
                        QString::number(settings.employees)}))
        return 1;
    QProcess service;
    const QString address = startService(service, database);
    if (address.isEmpty()) {
        std::fprintf(stderr, "vorna-service serve did not announce its address.\n");
        return 1;
    }

    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < settings.clients; ++i)
        clients.push_back(std::make_unique<Client>(address.toStdString()));
    std::atomic<int> setupErrors{0};
    {
        // Logins and the first, cold refresh happen before the clock starts.
        std::vector<std::thread> threads;
        for (auto &client : clients)
            threads.emplace_back([&] {
                if (!client->login() || !client->refresh(settings.employees))
                    ++setupErrors;
            });
        for (std::thread &thread : threads)
            thread.join();
    }

    std::vector<Round> rounds(size_t(settings.rounds));
    const auto roundLength = std::chrono::milliseconds(settings.seconds * 1000 / settings.rounds);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + roundLength * settings.rounds;
    std::vector<std::thread> threads;
    for (auto &client : clients) {
        threads.emplace_back([&] {
            for (Clock::time_point begun = Clock::now(); begun < end; begun = Clock::now()) {
                const bool ok = client->refresh(settings.employees);
                const Clock::time_point done = Clock::now();
                const size_t index = std::min(size_t((done - start) / roundLength), rounds.size() - 1);
                Round &round = rounds[index];
                if (!ok) {
                    ++round.errors;
                    continue;
                }
                std::lock_guard<std::mutex> lock(round.mutex);
                round.latenciesMs.push_back(std::chrono::duration<double, std::milli>(done - begun).count());
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    service.terminate();
    service.waitForFinished(60000);

    std::vector<double> throughput, rows, p50, p99, failures;
    int errors = setupErrors;
    for (const Round &round : rounds) {
        throughput.push_back(double(round.latenciesMs.size()) * 1000.0 / double(roundLength.count()));
        rows.push_back(throughput.back() * settings.employees);
        p50.push_back(percentile(round.latenciesMs, 0.50));
        p99.push_back(percentile(round.latenciesMs, 0.99));
        failures.push_back(round.errors);
        errors += round.errors;
    }
    std::printf("load: %d clients, %d employees each refresh, %d rounds of %.1f s, %d failed logins or cold refreshes\n",
                settings.clients, settings.employees, settings.rounds, double(roundLength.count()) / 1000.0,
                setupErrors.load());
    printBench("service_load_refreshes", summarise(throughput), "/s");
    printBench("service_load_rows", summarise(rows), "/s");
    printBench("service_load_latency_p50", summarise(p50), "ms");
    printBench("service_load_latency_p99", summarise(p99), "ms");
    printBench("service_load_errors", summarise(failures), "", "0");
    return errors == 0 ? 0 : 1;
}
