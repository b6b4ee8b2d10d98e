#pragma once
// Serves GET /metrics in the Prometheus text format on its own small HTTP listener
// (cpp-httplib), apart from the gRPC port, so scrapers need no gRPC and the panels' port
// stays gRPC only.

#include <QString>

#include <memory>
#include <thread>

namespace httplib { class Server; }

namespace vorna::service {

class MetricsServer
{
public:
    MetricsServer();
    ~MetricsServer();

    // Binds `address` (HOST:PORT, port 0 for any free one) and serves on a thread of its own;
    // false with a sentence in `error` when the address cannot be used.
    bool start(const QString &address, QString *error);
    // The address bound, with the port chosen for ":0".
    QString address() const { return m_address; }
    void stop();

private:
    std::unique_ptr<httplib::Server> m_http;
    std::thread m_thread;
    QString m_address;
};

} // namespace vorna::service
