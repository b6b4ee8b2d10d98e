#include "serverconfig.h"

#include <QRegularExpression>

namespace vorna::service {

bool parseDuration(const QString &text, std::chrono::seconds *out)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})([smh]?)$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const qint64 value = match.captured(1).toLongLong();
    const QString unit = match.captured(2);
    const qint64 factor = unit == QLatin1String("h") ? 3600 : unit == QLatin1String("m") ? 60 : 1;
    if (value < 1)
        return false;
    *out = std::chrono::seconds(value * factor);
    return true;
}

QString checkListenAddress(const QString &address)
{
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return QStringLiteral("The listen address \"%1\" has no port. Write it as HOST:PORT, "
                              "e.g. 127.0.0.1:50051 or [::1]:50051.").arg(address);
    const QString host = address.left(colon);
    bool numeric = false;
    const int port = address.mid(colon + 1).toInt(&numeric);
    if (!numeric || port < 0 || port > 65535)
        return QStringLiteral("The port in the listen address \"%1\" is not a number from 0 to "
                              "65535.").arg(address);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (host.contains(QLatin1Char(':')) && !bracketed)
        return QStringLiteral("The IPv6 address in \"%1\" must be in brackets, e.g. [::1]:50051.")
            .arg(address);
    if (host.contains(QLatin1Char(' ')) || host == QLatin1String("[]"))
        return QStringLiteral("The host in the listen address \"%1\" is not valid.").arg(address);
    return {};
}

} // namespace vorna::service
