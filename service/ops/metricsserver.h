#pragma once
// Serves GET /metrics in the Prometheus text format on its own small HTTP listener
// (cpp-httplib), apart from the gRPC port, so scrapers need no gRPC and the panels' port
// stays gRPC only.
//
// A scrape is one short GET without a body, so that is all the listener takes: any other path
// is 404 and any other method 405, answered from the request line and headers without reading
// a body; one request per connection; a few connections at once, each with a thread of its
// own; and short waits for a request that is slow to come. The process's accept() and recv()
// (serve/listenguard) count these connections apart from the gRPC port's and cut off one that
// sends more than a request or takes longer than one.

#include <QString>

#include <atomic>
#include <cstddef>
#include <memory>
#include <thread>

namespace httplib { class Server; }

namespace vorna::service {

class MetricsServer
{
public:
    // Connections at once, in all and from one client address; each has a worker thread.
    static constexpr int MaxConnections = 8;
    static constexpr int MaxConnectionsPerAddress = 4;
    // What one connection may send: a scrape's request line and headers take a few hundred bytes.
    static constexpr std::size_t MaxRequestBytes = 16 * 1024;
    // How long a connection may wait before its request starts, and any one read or write.
    static constexpr int IdleSeconds = 3;
    static constexpr int ReadWriteSeconds = 5;
    // How long after it was accepted a connection may still be sending its request.
    static constexpr int MaxRequestMs = 10 * 1000;

    MetricsServer();
    ~MetricsServer();

    // Binds `address` (HOST:PORT, port 0 for any free one) and serves on a thread of its own;
    // false with a sentence in `error` when the address cannot be used.
    bool start(const QString &address, QString *error);
    // The address bound, with the port chosen for ":0".
    QString address() const { return m_address; }
    void stop();

private:
    void configure();

    static constexpr int ListenBacklog = 128;

    std::unique_ptr<httplib::Server> m_http;
    int m_listener = -1;
    std::thread m_thread;
    std::atomic<bool> m_loopEnded{false};
    QString m_address;
};

} // namespace vorna::service
