// How long the panel waits for a presence list from the real vorna-service, from
// dbPresenceRequest to dbPresenceResponseEnd on the GUI thread, for demo organisations of
// 10,000 and 100,000 employees with pictures of about 5 KB. Cold: a new client, every picture
// sent. Warm: the same client again, pictures taken from its cache.
//
// Baselines measured in the same run against the same service: the same presence stream read
// by a bare gRPC stub without the library, and the same number of bytes through a plain
// loopback TCP socket. The service runs as its own process on a demo database that is seeded
// once per run (seeding 100,000 employees takes minutes); --cache-dir keeps the databases for
// later runs.

#include <ostrel/clientobjectqml.h>
#include "commservice.grpc.pb.h"
#include "support/loopbacksocket.h"
#include "support/servicerunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

using vorna::testing::ServiceRunner;

namespace {

const char *const User = "manager";
const char *const Password = "vorna-demo";
constexpr int AnswerTimeoutMs = 300000;

struct Figures
{
    std::vector<double> ms;
    double median() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    double min() const { return *std::min_element(ms.begin(), ms.end()); }
    double max() const { return *std::max_element(ms.begin(), ms.end()); }
};

// What one presence answer was, to check that every way of reading it saw the same.
struct Answer
{
    double ms = -1; // -1: failed or did not end
    int rows = 0;
    qint64 pictureBytes = 0;
    qint64 wireBytes = 0;
};

void print(const std::string &name, const Figures &f, double baselineMedian, const char *target)
{
    std::printf("BENCH %s median=%.1fms min=%.1f max=%.1f", name.c_str(), f.median(), f.min(), f.max());
    if (baselineMedian > 0)
        std::printf(" ratio=%.2f", f.median() / baselineMedian);
    if (target)
        std::printf(" target=%s", target);
    std::printf("\n");
    std::fflush(stdout);
}

// Runs the event loop until `client` emits `signal`, or the time-out passes. False on time-out.
template<class Signal>
bool waitFor(ClientObjectQml &client, Signal signal, int timeoutMs)
{
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    QObject::connect(&client, signal, &loop, [&loop] { loop.exit(0); });
    guard.start(timeoutMs);
    return loop.exec() == 0;
}

bool connectAndLogin(ClientObjectQml &client, const QString &address)
{
    bool succeeded = false;
    QObject::connect(&client, &ClientObjectQml::connected, &client, [&](bool succ, QString) { succeeded = succ; });
    client.connectToServiceAsync(QStringLiteral("tcp://%1/CommService").arg(address));
    if (!waitFor(client, &ClientObjectQml::connected, 30000) || !succeeded)
        return false;
    QObject::connect(&client, &ClientObjectQml::dbLoginResponse, &client, [&](bool succ) { succeeded = succ; });
    client.dbLoginRequest(QLatin1String(User), QLatin1String(Password));
    return waitFor(client, &ClientObjectQml::dbLoginResponse, 30000) && succeeded;
}

Answer timePresence(ClientObjectQml &client)
{
    Answer answer;
    const auto counting = QObject::connect(&client, &ClientObjectQml::dbPresenceResponse, &client,
        [&](QString, QString, QString, QDateTime, bool, QString, QString, QByteArray picture, QString, int) {
            ++answer.rows;
            answer.pictureBytes += picture.size();
        });
    QElapsedTimer clock;
    clock.start();
    client.dbPresenceRequest(QLatin1String(User), QDateTime::currentDateTime());
    const bool ended = waitFor(client, &ClientObjectQml::dbPresenceResponseEnd, AnswerTimeoutMs);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    QObject::disconnect(counting);
    answer.ms = ended ? ms : -1;
    return answer;
}

// Moves `bytes` from one thread to another through a loopback TCP connection.
double timeLoopbackTcp(qint64 bytes)
{
    int port = 0;
    const int listener = bindLoopback(&port);
    ::listen(listener, 1);
    const int sender = connectLoopback(port);
    const int receiver = ::accept(listener, nullptr, nullptr);
    ::close(listener);

    std::vector<char> block(256 * 1024, 'x');
    QElapsedTimer clock;
    clock.start();
    std::thread writer([&] {
        for (qint64 sent = 0; sent < bytes;) {
            const ssize_t n = ::send(sender, block.data(), size_t(std::min<qint64>(qint64(block.size()), bytes - sent)), 0);
            if (n <= 0)
                break;
            sent += n;
        }
    });
    std::vector<char> in(256 * 1024);
    for (qint64 received = 0; received < bytes;) {
        const ssize_t n = ::recv(receiver, in.data(), in.size(), 0);
        if (n <= 0)
            break;
        received += n;
    }
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    writer.join();
    ::close(sender);
    ::close(receiver);
    return ms;
}

std::unique_ptr<vorna::v1::CommService::Stub> bareStub(const QString &address)
{
    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(64 * 1024 * 1024);
    // A connection of its own, apart from the library's.
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return vorna::v1::CommService::NewStub(
        grpc::CreateCustomChannel(address.toStdString(), grpc::InsecureChannelCredentials(), args));
}

std::string loginToken(vorna::v1::CommService::Stub &stub)
{
    grpc::ClientContext context;
    vorna::v1::LoginRequest request;
    request.set_user(User);
    request.set_password(Password);
    request.set_client("bench_client");
    vorna::v1::LoginReply reply;
    return stub.Login(&context, request, &reply).ok() ? reply.session_token() : std::string();
}

// The same stream read by a plain stub: no library, no conversion, no signals. Collects the
// digests when `digests` is given, for the warm request.
Answer timeBareStream(vorna::v1::CommService::Stub &stub, const std::string &token,
                      const std::vector<std::string> &knownDigests, std::vector<std::string> *digests)
{
    vorna::v1::PresenceRequest request;
    request.set_user_name(User);
    for (const std::string &digest : knownDigests)
        request.add_known_picture_digests(digest);
    Answer answer;
    QElapsedTimer clock;
    clock.start();
    grpc::ClientContext context;
    context.AddMetadata("vorna-session", token);
    auto reader = stub.Presence(&context, request);
    vorna::v1::PresenceChunk chunk;
    while (reader->Read(&chunk)) {
        answer.wireBytes += qint64(chunk.ByteSizeLong());
        answer.rows += chunk.rows_size();
        for (const vorna::v1::PresenceRow &row : chunk.rows()) {
            answer.pictureBytes += qint64(row.picture().size());
            if (digests && !row.picture_digest().empty())
                digests->push_back(row.picture_digest());
        }
    }
    if (reader->Finish().ok())
        answer.ms = double(clock.nsecsElapsed()) / 1e6;
    return answer;
}

// A seeded demo database of `employees`, made once and kept in `directory`.
QString demoDatabase(const QString &binary, const QDir &directory, int employees, QString *error)
{
    const QString database = directory.filePath(QStringLiteral("demo-%1.db").arg(employees));
    if (QFile::exists(database))
        return database;
    // Seeded under another name first, so that an interrupted run leaves no half database behind.
    const QString partial = database + QStringLiteral(".partial");
    QFile::remove(partial);
    std::fprintf(stderr, "Seeding a demo of %d employees into %s ...\n", employees, qPrintable(database));
    ServiceRunner seeder(partial, binary);
    if (!seeder.seed(employees) || !seeder.addPanelUsers() || !QFile::rename(partial, database)) {
        *error = seeder.error();
        return {};
    }
    return database;
}

struct Measurement
{
    Figures cold, warm, bareCold, bareWarm, tcpCold, tcpWarm;
    Answer reference; // the bare cold answer, against which the others are checked
    qint64 warmWireBytes = 0;
};

// `runs` repetitions of each way of reading the answer, interleaved so that all see the same
// machine; false with a sentence when an answer came short or did not end.
bool measure(const QString &address, int runs, Measurement *m, QString *error)
{
    auto stub = bareStub(address);
    const std::string token = loginToken(*stub);
    if (token.empty()) {
        *error = QStringLiteral("The bare stub could not log in to the service at %1.").arg(address);
        return false;
    }
    std::vector<std::string> digests;
    m->reference = timeBareStream(*stub, token, {}, &digests);
    for (int run = 0; run < runs; ++run) {
        ClientObjectQml client;
        if (!connectAndLogin(client, address)) {
            *error = QStringLiteral("The client library could not connect to the service at %1 and log in.").arg(address);
            return false;
        }
        const Answer cold = timePresence(client);
        const Answer warm = timePresence(client);
        const Answer bareCold = timeBareStream(*stub, token, {}, nullptr);
        const Answer bareWarm = timeBareStream(*stub, token, digests, nullptr);
        // The library hands out every picture, from its cache when warm; the bare warm stream
        // carries none.
        for (const Answer *answer : {&cold, &warm, &bareCold, &bareWarm}) {
            const qint64 pictureBytes = answer == &bareWarm ? 0 : m->reference.pictureBytes;
            if (answer->ms < 0 || answer->rows != m->reference.rows || answer->pictureBytes != pictureBytes) {
                *error = QStringLiteral("A presence answer came short or did not end (%1 rows, %2 picture bytes; "
                                        "expected %3 and %4); the figures would be wrong.")
                             .arg(answer->rows).arg(answer->pictureBytes).arg(m->reference.rows).arg(pictureBytes);
                return false;
            }
        }
        m->cold.ms.push_back(cold.ms);
        m->warm.ms.push_back(warm.ms);
        m->bareCold.ms.push_back(bareCold.ms);
        m->bareWarm.ms.push_back(bareWarm.ms);
        m->tcpCold.ms.push_back(timeLoopbackTcp(bareCold.wireBytes));
        m->tcpWarm.ms.push_back(timeLoopbackTcp(bareWarm.wireBytes));
        m->warmWireBytes = bareWarm.wireBytes;
    }
    return true;
}

void report(int employees, int runs, const Measurement &m)
{
    const std::string k = employees % 1000 == 0 ? std::to_string(employees / 1000) + "k" : std::to_string(employees);
    std::printf("# %d employees: %d rows, %.1f MB of pictures, %.1f MB cold and %.2f MB warm on the wire, %d runs\n",
                employees, m.reference.rows, double(m.reference.pictureBytes) / 1e6, double(m.reference.wireBytes) / 1e6,
                double(m.warmWireBytes) / 1e6, runs);
    const bool small = employees <= 10000;
    print("client_presence_cold_" + k, m.cold, m.bareCold.median(), small ? "<=400ms" : nullptr);
    print("client_presence_warm_" + k, m.warm, m.bareWarm.median(), small ? "<=150ms" : nullptr);
    print("grpc_bare_stream_cold_" + k, m.bareCold, m.tcpCold.median(), nullptr);
    print("grpc_bare_stream_warm_" + k, m.bareWarm, m.tcpWarm.median(), nullptr);
    print("tcp_loopback_cold_bytes_" + k, m.tcpCold, 0, nullptr);
    print("tcp_loopback_warm_bytes_" + k, m.tcpWarm, 0, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "vorna.ostrel.info=false");

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Presence answers of the real vorna-service through the client library."));
    parser.addHelpOption();
    const QCommandLineOption employeesOption(QStringLiteral("employees"),
        QStringLiteral("Employee counts of the demo organisations. Default: 10000,100000."), QStringLiteral("n,..."),
        QStringLiteral("10000,100000"));
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Repetitions (>= 5). Default: 5."),
                                        QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption cacheOption(QStringLiteral("cache-dir"),
        QStringLiteral("Keep the seeded demo databases here and reuse them. Default: a temporary directory."),
        QStringLiteral("dir"));
    const QCommandLineOption serviceOption(QStringLiteral("service"),
        QStringLiteral("The vorna-service program to measure. Default: the one of this build."), QStringLiteral("path"),
        QStringLiteral(VORNA_SERVICE_BINARY));
    parser.addOptions({employeesOption, runsOption, cacheOption, serviceOption});
    parser.process(app);
    const int runs = std::max(5, parser.value(runsOption).toInt());
    std::vector<int> employeeCounts;
    for (const QString &part : parser.value(employeesOption).split(QLatin1Char(','), Qt::SkipEmptyParts))
        employeeCounts.push_back(std::max(1, part.trimmed().toInt()));

    QTemporaryDir temporary;
    const QDir cache(parser.isSet(cacheOption) ? parser.value(cacheOption) : temporary.path());
    if (!cache.exists() && !QDir().mkpath(cache.path())) {
        std::fprintf(stderr, "Cannot create the cache directory %s.\n", qPrintable(cache.path()));
        return 2;
    }

    for (const int employees : employeeCounts) {
        QString error;
        ServiceRunner service(demoDatabase(parser.value(serviceOption), cache, employees, &error), parser.value(serviceOption));
        service.setLogFile(temporary.filePath(QStringLiteral("service.log")));
        Measurement measurement;
        if (service.database().isEmpty() || !service.start({QStringLiteral("--log-level"), QStringLiteral("warning")})
            || !measure(service.address(), runs, &measurement, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error.isEmpty() ? service.error() : error));
            return 1;
        }
        std::printf("# service RSS after the runs: %.0f MB\n", service.sample().rssMb);
        service.terminate();
        report(employees, runs, measurement);
    }
    return 0;
}
