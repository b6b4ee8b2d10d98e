#include "callerror.h"

#include <QtMath>

namespace ostrel {

namespace {

QString seconds(int ms)
{
    const int whole = qCeil(ms / 1000.0);
    return whole == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(whole);
}

} // namespace

bool sentByService(const grpc::Status &status)
{
    switch (status.error_code()) {
    case grpc::StatusCode::OK:
    case grpc::StatusCode::INVALID_ARGUMENT:
    case grpc::StatusCode::NOT_FOUND:
    case grpc::StatusCode::ALREADY_EXISTS:
    case grpc::StatusCode::PERMISSION_DENIED:
    case grpc::StatusCode::FAILED_PRECONDITION:
    case grpc::StatusCode::ABORTED:
    case grpc::StatusCode::OUT_OF_RANGE:
    case grpc::StatusCode::UNAUTHENTICATED:
    case grpc::StatusCode::DATA_LOSS:
        return true;
    default:
        break;
    }
    const QString message = QString::fromStdString(status.error_message());
    return message.size() > 2 && message.at(0).isUpper() && message.endsWith(QLatin1Char('.'))
        && message.contains(QLatin1Char(' '));
}

QString transportReason(const grpc::Status &status)
{
    const QString message = QString::fromStdString(status.error_message());
    struct Clue { const char *text; const char *reason; };
    static const Clue clues[] = {
        {"Connection refused", "connection refused"},
        {"DNS resolution failed", "the host name is unknown"},
        {"Name or service not known", "the host name is unknown"},
        {"No route to host", "no route to host"},
        {"Network is unreachable", "the network is unreachable"},
        {"Handshake failed", "the TLS handshake failed"},
        {"SSL", "the TLS handshake failed"},
        {"Connection reset", "the connection was reset"},
        {"Socket closed", "the connection was closed"},
        {"Broken pipe", "the connection was closed"},
        {"keepalive", "the service stopped answering keep-alive pings"},
    };
    for (const Clue &clue : clues) {
        if (message.contains(QLatin1String(clue.text), Qt::CaseInsensitive))
            return QLatin1String(clue.reason);
    }
    if (status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED)
        return QStringLiteral("no answer in time");
    return message.isEmpty() ? QStringLiteral("no reason given") : message;
}

QString callFailureText(const grpc::Status &status, const QString &address, int timeoutMs)
{
    if (sentByService(status) && !status.error_message().empty())
        return QString::fromStdString(status.error_message());
    switch (status.error_code()) {
    case grpc::StatusCode::DEADLINE_EXCEEDED:
        return QStringLiteral("The attendance service at %1 did not answer within %2. Try again later.")
            .arg(address, seconds(timeoutMs));
    case grpc::StatusCode::CANCELLED:
        return QStringLiteral("The request was cancelled because the connection to the attendance service at %1 ended. Connect again and retry.")
            .arg(address);
    default:
        break;
    }
    return QStringLiteral("The request to the attendance service at %1 failed (%2). Check the connection and try again.")
        .arg(address, transportReason(status));
}

QString connectFailureText(const grpc::Status &status, const QString &address, int timeoutMs)
{
    if (status.error_code() == grpc::StatusCode::UNIMPLEMENTED) {
        return QStringLiteral("The server at %1 answered, but it does not offer the attendance service. Check the server and port.")
            .arg(address);
    }
    const QString reason = status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED
        ? QStringLiteral("no answer within %1").arg(seconds(timeoutMs))
        : transportReason(status);
    return QStringLiteral("Cannot reach the attendance service at %1 (%2). Is the service running?").arg(address, reason);
}

QString notConnectedText()
{
    return QStringLiteral("Not connected to the attendance service. Connect and log in first.");
}

QString notLoggedInText()
{
    return QStringLiteral("Not logged in to the attendance service. Log in first.");
}

QString sessionEndedText()
{
    return QStringLiteral("The connection to the attendance service ended before the change was confirmed. Connect again and check whether it was made.");
}

} // namespace ostrel
