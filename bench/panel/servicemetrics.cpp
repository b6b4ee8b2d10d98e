#include "servicemetrics.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <httplib.h>

namespace vorna::bench {

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

std::optional<double> metricValue(const QByteArray &exposition, const QByteArray &name)
{
    std::optional<double> total;
    for (const QByteArray &line : exposition.split('\n')) {
        if (!line.startsWith(name))
            continue;
        // "name 12", "name{a=\"b\"} 12": the name ends where the labels or the value begin.
        const char after = line.size() > name.size() ? line.at(name.size()) : '\0';
        if (after != ' ' && after != '{')
            continue;
        bool number = false;
        const double value = line.mid(line.lastIndexOf(' ') + 1).toDouble(&number);
        if (number)
            total = total.value_or(0) + value;
    }
    return total;
}

std::optional<double> scrapeMetric(quint16 port, const QByteArray &name)
{
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(10);
    client.set_read_timeout(30);
    const httplib::Result answer = client.Get("/metrics");
    if (!answer || answer->status != 200)
        return std::nullopt;
    return metricValue(QByteArray::fromStdString(answer->body), name);
}

double residentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

} // namespace vorna::bench
