// How long the panel waits for a presence list: 10,000 employees with ~5 KB pictures over
// loopback, from dbPresenceRequest to dbPresenceResponseEnd on the GUI thread. Cold: a new
// client, every picture sent. Warm: the same client again, pictures taken from its cache.
// Baselines measured in the same run: the same bytes through a plain loopback TCP socket, and
// the same stream read by a bare gRPC stub without the library.
//
// The service here is the in-process fake of the client tests, streaming prepared rows, so
// the figures are the client's and gRPC's; bench/service measures the real service's query.

#include "clientobjectqml.h"
#include "fakecommservice.h"
#include "loopbacksocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

const int kEmployees = 10000;
const int kPictureBytes = 5000;
// The service cuts chunks at about 256 KB: some 50 rows with pictures.
const int kRowsPerChunk = 50;
const int kRuns = 7;

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

void print(const char *name, const Figures &f, double baselineMedian, const char *target)
{
    std::printf("BENCH %s median=%.1fms min=%.1f max=%.1f", name, f.median(), f.min(), f.max());
    if (baselineMedian > 0)
        std::printf(" ratio=%.2f", f.median() / baselineMedian);
    if (target)
        std::printf(" target=%s", target);
    std::printf("\n");
    std::fflush(stdout);
}

// Runs the event loop until `client` emits `signal`, or 60 s pass. Returns false on time-out.
template <class Signal>
bool waitFor(ClientObjectQml &client, Signal signal)
{
    QEventLoop loop;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    QObject::connect(&client, signal, &loop, [&loop] { loop.exit(0); });
    guard.start(60000);
    return loop.exec() == 0;
}

bool connectAndLogin(ClientObjectQml &client, const FakeCommService &service)
{
    client.connectToServiceAsync(service.url());
    if (!waitFor(client, &ClientObjectQml::connected))
        return false;
    bool loggedIn = false;
    QObject::connect(&client, &ClientObjectQml::dbLoginResponse, &client, [&loggedIn](bool succ) { loggedIn = succ; });
    client.dbLoginRequest(QStringLiteral("bench"), QStringLiteral("bench"));
    return waitFor(client, &ClientObjectQml::dbLoginResponse) && loggedIn;
}

// Milliseconds from the request to End; -1 when the answer was short or did not come.
double timePresence(ClientObjectQml &client)
{
    int rows = 0;
    qint64 pictureBytes = 0;
    const auto counting = QObject::connect(&client, &ClientObjectQml::dbPresenceResponse, &client,
        [&](QString, QString, QString, QDateTime, bool, QString, QString, QByteArray picture, QString, int) {
            ++rows;
            pictureBytes += picture.size();
        });
    QElapsedTimer clock;
    clock.start();
    client.dbPresenceRequest(QStringLiteral("bench"), QDateTime::currentDateTime());
    const bool ended = waitFor(client, &ClientObjectQml::dbPresenceResponseEnd);
    const double ms = clock.nsecsElapsed() / 1e6;
    QObject::disconnect(counting);
    const bool complete = ended && rows == kEmployees && pictureBytes == qint64(kEmployees) * kPictureBytes;
    return complete ? ms : -1;
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
    const double ms = clock.nsecsElapsed() / 1e6;
    writer.join();
    ::close(sender);
    ::close(receiver);
    return ms;
}

// The same stream read by a plain stub: no library, no conversion, no signals.
double timeBareStream(const FakeCommService &service, std::string token, qint64 *wireBytes,
                      const std::vector<std::string> &knownDigests)
{
    grpc::ChannelArguments args;
    args.SetMaxReceiveMessageSize(64 * 1024 * 1024);
    auto channel = grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(service.port()), grpc::InsecureChannelCredentials(), args);
    auto stub = vorna::v1::CommService::NewStub(channel);
    vorna::v1::PresenceRequest request;
    for (const std::string &digest : knownDigests)
        request.add_known_picture_digests(digest);
    QElapsedTimer clock;
    clock.start();
    grpc::ClientContext context;
    context.AddMetadata("vorna-session", token);
    auto reader = stub->Presence(&context, request);
    vorna::v1::PresenceChunk chunk;
    *wireBytes = 0;
    while (reader->Read(&chunk))
        *wireBytes += qint64(chunk.ByteSizeLong());
    const bool ok = reader->Finish().ok();
    return ok ? clock.nsecsElapsed() / 1e6 : -1;
}

std::string loginToken(const FakeCommService &service)
{
    auto stub = vorna::v1::CommService::NewStub(
        grpc::CreateChannel("127.0.0.1:" + std::to_string(service.port()), grpc::InsecureChannelCredentials()));
    grpc::ClientContext context;
    vorna::v1::LoginRequest request;
    request.set_user("bench");
    request.set_password("bench");
    vorna::v1::LoginReply reply;
    return stub->Login(&context, request, &reply).ok() ? reply.session_token() : std::string();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "vorna.ostrel.info=false");

    FakeCommService service;
    service.script().passwords = {{"bench", "bench"}};
    service.script().rowsPerChunk = kRowsPerChunk;
    std::vector<std::string> digests;
    for (int i = 0; i < kEmployees; ++i) {
        service.script().presenceRows.push_back(fakePresenceRow(i, kPictureBytes));
        digests.push_back(service.script().presenceRows.back().picture_digest());
    }
    if (!service.start()) {
        std::fprintf(stderr, "The benchmark's service could not listen on 127.0.0.1.\n");
        return 1;
    }

    Figures cold, warm, tcpCold, tcpWarm, bareCold, bareWarm;
    qint64 coldBytes = 0;
    qint64 warmBytes = 0;
    const std::string token = loginToken(service);
    for (int run = 0; run < kRuns; ++run) {
        ClientObjectQml client;
        if (!connectAndLogin(client, service)) {
            std::fprintf(stderr, "The benchmark client could not connect and log in.\n");
            return 1;
        }
        cold.ms.push_back(timePresence(client));
        warm.ms.push_back(timePresence(client));
        bareCold.ms.push_back(timeBareStream(service, token, &coldBytes, {}));
        bareWarm.ms.push_back(timeBareStream(service, token, &warmBytes, digests));
        tcpCold.ms.push_back(timeLoopbackTcp(coldBytes));
        tcpWarm.ms.push_back(timeLoopbackTcp(warmBytes));
    }
    for (const Figures *f : {&cold, &warm, &bareCold, &bareWarm}) {
        if (f->min() < 0) {
            std::fprintf(stderr, "A presence answer came short or did not end; the figures would be wrong.\n");
            return 1;
        }
    }

    std::printf("# %d rows, %.1f MB cold and %.2f MB warm on the wire, %d runs\n", kEmployees, coldBytes / 1e6,
                warmBytes / 1e6, kRuns);
    print("client_presence_cold", cold, tcpCold.median(), "<=400ms");
    print("client_presence_warm", warm, tcpWarm.median(), "<=150ms");
    print("grpc_bare_stream_cold", bareCold, tcpCold.median(), nullptr);
    print("grpc_bare_stream_warm", bareWarm, tcpWarm.median(), nullptr);
    print("tcp_loopback_cold_bytes", tcpCold, 0, nullptr);
    print("tcp_loopback_warm_bytes", tcpWarm, 0, nullptr);
    return 0;
}
