#include "ops/serverconfig.h"

#include <QRegularExpression>

#include <algorithm>

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

bool parseByteSize(const QString &text, qint64 *out)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,13})([KMG]?)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    const QString unit = match.captured(2).toUpper();
    const int shift = unit == QLatin1String("G") ? 30 : unit == QLatin1String("M") ? 20 : unit == QLatin1String("K") ? 10 : 0;
    const qint64 value = match.captured(1).toLongLong();
    if (value > (qint64(1) << (62 - shift)))
        return false;
    *out = value << shift;
    return true;
}

bool parseBoundedInt(const QString &text, int min, int max, int *out)
{
    bool number = false;
    const qint64 value = text.trimmed().toLongLong(&number);
    if (!number || value < min || value > max)
        return false;
    *out = int(value);
    return true;
}

bool isLoopbackListen(const QString &address)
{
    static const QRegularExpression loopbackV4(QStringLiteral("^127\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"));
    const QString host = address.left(address.lastIndexOf(QLatin1Char(':')));
    return loopbackV4.match(host).hasMatch() || host == QLatin1String("[::1]")
        || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0;
}

QString checkListenAddress(const QString &address)
{
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return QStringLiteral("The listen address \"%1\" has no port. Write it as HOST:PORT, "
                              "e.g. 127.0.0.1:50051 or [::1]:50051.").arg(address);
    const QString host = address.left(colon);
    const QString portText = address.mid(colon + 1);
    static const QRegularExpression digits(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]{1,5}")));
    const int port = digits.match(portText).hasMatch() ? portText.toInt() : -1;
    if (port < 0 || port > 65535)
        return QStringLiteral("The port in the listen address \"%1\" is not a number from 0 to "
                              "65535.").arg(address);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (host.contains(QLatin1Char(':')) && !bracketed)
        return QStringLiteral("The IPv6 address in \"%1\" must be in brackets, e.g. [::1]:50051.")
            .arg(address);
    // Host names and IP addresses are plain ASCII; anything else is a typo or worse.
    const bool printable = std::all_of(host.begin(), host.end(), [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7f; });
    if (!printable || host == QLatin1String("[]"))
        return QStringLiteral("The host in the listen address \"%1\" is not valid.").arg(address);
    return {};
}

} // namespace vorna::service
