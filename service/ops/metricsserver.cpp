#include "ops/metricsserver.h"

#include "ops/metrics.h"

#include <httplib.h>

namespace vorna::service {

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
    m_http->Get("/metrics", [](const httplib::Request &, httplib::Response &response) {
        const QByteArray text = MetricsRegistry::instance().render();
        response.set_content(text.constData(), size_t(text.size()), "text/plain; version=0.0.4; charset=utf-8");
    });
    const int bound = port == 0 ? m_http->bind_to_any_port(host.toStdString())
                                : (m_http->bind_to_port(host.toStdString(), port) ? port : -1);
    if (bound <= 0) {
        m_http.reset();
        *error = QStringLiteral("Cannot serve metrics on %1: the address is in use or not available here. "
                                "Choose another --metrics-listen address.").arg(address);
        return false;
    }
    m_address = address.left(colon + 1) + QString::number(bound);
    m_thread = std::thread([this] { m_http->listen_after_bind(); });
    return true;
}

void MetricsServer::stop()
{
    if (!m_http)
        return;
    m_http->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_http.reset();
}

} // namespace vorna::service
