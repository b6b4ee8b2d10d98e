#include "serviceaddress.h"

#include <QRegularExpression>

#include <algorithm>

#include <arpa/inet.h>

namespace ostrel {

namespace {

const QString kScheme = QStringLiteral("tcp://");
const QString kServicePath = QStringLiteral("/CommService");

bool isIPv4(const QString &text)
{
    in_addr out{};
    return inet_pton(AF_INET, text.toLatin1().constData(), &out) == 1;
}

// inet_pton stops at a NUL, so "127.0.0.1\0junk" would pass for an address without this.
bool isPlainText(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isPrint() && !c.isSpace(); });
}

bool isIPv6(const QString &text)
{
    in6_addr out{};
    return inet_pton(AF_INET6, text.toLatin1().constData(), &out) == 1;
}

// RFC 1123 host names: dot-separated labels of letters, digits and inner hyphens.
bool isHostName(const QString &text)
{
    static const QRegularExpression label(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?")));
    if (text.size() > 253)
        return false;
    const QStringList labels = text.split(QLatin1Char('.'));
    for (const QString &part : labels) {
        if (!label.match(part).hasMatch())
            return false;
    }
    // All-numeric names are mistyped IPv4 addresses, not names.
    static const QRegularExpression numeric(QRegularExpression::anchoredPattern(QStringLiteral("[0-9.]+")));
    return !numeric.match(text).hasMatch();
}

void fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
}

} // namespace

ServiceAddress ServiceAddress::parse(const QString &url, QString *error)
{
    ServiceAddress address;
    const QString shown = url.trimmed();
    if (shown.isEmpty()) {
        fail(error, QStringLiteral("No service address was given. Enter the server and port of the attendance service."));
        return address;
    }
    if (!shown.startsWith(kScheme, Qt::CaseInsensitive)) {
        fail(error, QStringLiteral("The service address \"%1\" does not start with tcp://. Use the form tcp://SERVER:PORT/CommService.").arg(shown));
        return address;
    }
    const QString rest = shown.mid(kScheme.size());
    const int slash = rest.indexOf(QLatin1Char('/'));
    const QString authority = slash < 0 ? rest : rest.left(slash);
    const QString path = slash < 0 ? QString() : rest.mid(slash);

    if (!isPlainText(authority)) {
        fail(error, QStringLiteral("The server part of the service address \"%1\" holds spaces or control characters. Check the server field.").arg(shown));
        return address;
    }
    QString host;
    QString portText;
    HostKind kind = HostKind::Name;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        host = close < 0 ? authority.mid(1) : authority.mid(1, close - 1);
        if (close < 0 || !isIPv6(host)) {
            fail(error, QStringLiteral("The server \"%1\" in the service address \"%2\" is not a valid IPv6 address. Write it in brackets, for example [::1].").arg(host, shown));
            return address;
        }
        kind = HostKind::IPv6;
        const QString after = authority.mid(close + 1);
        portText = after.startsWith(QLatin1Char(':')) ? after.mid(1) : QString();
    } else {
        const int colon = authority.lastIndexOf(QLatin1Char(':'));
        host = colon < 0 ? authority : authority.left(colon);
        portText = colon < 0 ? QString() : authority.mid(colon + 1);
        if (host.isEmpty()) {
            fail(error, QStringLiteral("The service address \"%1\" names no server. Enter the server name or IP address.").arg(shown));
            return address;
        }
        if (host.contains(QLatin1Char(':'))) {
            fail(error, QStringLiteral("The server \"%1\" in the service address \"%2\" looks like an IPv6 address. Write it in brackets, for example tcp://[::1]:50051/CommService.").arg(host, shown));
            return address;
        }
        if (isIPv4(host)) {
            kind = HostKind::IPv4;
        } else if (!isHostName(host)) {
            fail(error, QStringLiteral("The server \"%1\" in the service address \"%2\" is neither a valid host name nor an IP address. Check the server field.").arg(host, shown));
            return address;
        }
    }

    static const QRegularExpression digits(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,5}")));
    const int port = digits.match(portText).hasMatch() ? portText.toInt() : 0;
    if (port < 1 || port > 65535) {
        fail(error, QStringLiteral("The port \"%1\" in the service address \"%2\" is not valid. Use a number from 1 to 65535.").arg(portText, shown));
        return address;
    }
    if (path != kServicePath) {
        fail(error, QStringLiteral("The service address \"%1\" names the service \"%2\", which is not offered. Use tcp://%3:%4/CommService.")
                        .arg(shown, path.isEmpty() ? QStringLiteral("(none)") : path,
                             kind == HostKind::IPv6 ? QLatin1Char('[') + host + QLatin1Char(']') : host)
                        .arg(port));
        return address;
    }

    address.m_host = host;
    address.m_kind = kind;
    address.m_port = port;
    return address;
}

QString ServiceAddress::display() const
{
    const QString host = m_kind == HostKind::IPv6 ? QLatin1Char('[') + m_host + QLatin1Char(']') : m_host;
    return host + QLatin1Char(':') + QString::number(m_port);
}

std::string ServiceAddress::grpcTarget() const
{
    switch (m_kind) {
    case HostKind::IPv4:
        return "ipv4:" + display().toStdString();
    case HostKind::IPv6:
        return "ipv6:" + display().toStdString();
    case HostKind::Name:
        break;
    }
    return "dns:///" + display().toStdString();
}

} // namespace ostrel
