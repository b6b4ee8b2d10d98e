#include "ops/metricsserver.h"

#include "ops/metrics.h"

#include <httplib.h>

#include <sys/socket.h>

#include <chrono>

namespace vorna::service {

namespace {

using Handled = httplib::Server::HandlerResponse;

Handled refuse(httplib::Response &response, int status, const char *sentence)
{
    response.status = status;
    response.set_content(sentence, "text/plain; charset=utf-8");
    return Handled::Handled;
}

// Runs before httplib would read a body: whatever is not a scrape is answered from the request
// line and headers, and the connection then closes with the body unread.
Handled screen(const httplib::Request &request, httplib::Response &response)
{
    if (request.path != "/metrics")
        return refuse(response, 404, "Not found: this listener serves only GET /metrics.\n");
    if (request.method != "GET") {
        response.set_header("Allow", "GET");
        return refuse(response, 405, "Only GET is allowed here: this listener serves only GET /metrics.\n");
    }
    const bool body = request.has_header("Transfer-Encoding")
                   || (request.has_header("Content-Length") && request.get_header_value("Content-Length") != "0");
    if (body)
        return refuse(response, 413, "A scrape sends no body: send GET /metrics without one.\n");
    return Handled::Unhandled;
}

} // namespace

MetricsServer::MetricsServer() = default;

MetricsServer::~MetricsServer()
{
    stop();
}

bool MetricsServer::start(const QString &address, QString *error)
{
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    QString host = address.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    const int port = address.mid(colon + 1).toInt();

    m_http = std::make_unique<httplib::Server>();
    configure();
    const int bound = port == 0 ? m_http->bind_to_any_port(host.toStdString())
                                : (m_http->bind_to_port(host.toStdString(), port) ? port : -1);
    if (bound <= 0) {
        m_http.reset();
        m_listener = -1;
        *error = QStringLiteral("Cannot serve metrics on %1: the address is in use or not available here. "
                                "Choose another --metrics-listen address.").arg(address);
        return false;
    }
    // httplib listens with a backlog of 5: a burst of connections, each closed at once by the
    // connection caps, would overflow it, and a scraper's connect would wait for its retry.
    if (m_listener >= 0)
        ::listen(m_listener, ListenBacklog);
    m_address = address.left(colon + 1) + QString::number(bound);
    m_loopEnded = false;
    m_thread = std::thread([this] {
        m_http->listen_after_bind();
        m_loopEnded = true;
    });
    return true;
}

void MetricsServer::configure()
{
    // httplib's own socket options add SO_REUSEPORT, with which a second service could bind the
    // same port and take half the scrapes unnoticed.
    m_http->set_socket_options([this](socket_t fd) {
        const int yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        m_listener = fd;
    });
    m_http->new_task_queue = [] { return new httplib::ThreadPool(MaxConnections); };
    // One request per connection: nothing sent after it is ever read.
    m_http->set_keep_alive_max_count(1);
    m_http->set_keep_alive_timeout(IdleSeconds);
    m_http->set_read_timeout(ReadWriteSeconds);
    m_http->set_write_timeout(ReadWriteSeconds);
    m_http->set_payload_max_length(0);
    m_http->set_pre_routing_handler(screen);
    m_http->Get("/metrics", [](const httplib::Request &, httplib::Response &response) {
        const QByteArray text = MetricsRegistry::instance().render();
        response.set_content(text.constData(), size_t(text.size()), "text/plain; version=0.0.4; charset=utf-8");
    });
}

void MetricsServer::stop()
{
    if (!m_http)
        return;
    // httplib's stop() does nothing until its loop runs, and the loop would then run on.
    while (m_thread.joinable() && !m_http->is_running() && !m_loopEnded)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m_http->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_http.reset();
    m_listener = -1;
}

} // namespace vorna::service
