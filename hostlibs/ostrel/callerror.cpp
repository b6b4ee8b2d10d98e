#include "callerror.h"

#include <QtMath>

namespace ostrel {

namespace {

// Longer service messages are cut: a sentence for the user is never this long.
constexpr int kMaxServiceMessageChars = 300;

QString seconds(int ms)
{
    const int whole = qCeil(ms / 1000.0);
    return whole == 1 ? QStringLiteral("1 second") : QStringLiteral("%1 seconds").arg(whole);
}

// What went wrong, and what to check, when something other than the service ended a call.
struct TransportFault
{
    QString reason;
    QString hint; // empty: the caller's own advice
    // Closed or reset by the other end: while connecting, most often a plaintext client
    // talking to a TLS service, or a server that is not ours.
    bool closedByPeer = false;
};

const QString &notOurServiceHint()
{
    static const QString hint = QStringLiteral(
        "Check that the server and port point at a VornaPanel attendance service.");
    return hint;
}

const QString &tlsSettingHint()
{
    static const QString hint = QStringLiteral(
        "Check that the server and port point at a VornaPanel attendance service, and that the service/tls setting matches whether the service uses TLS.");
    return hint;
}

const QString &tlsOffHint()
{
    static const QString hint = QStringLiteral(
        "Set service/tls to false in the panel's settings file, or turn TLS on in the service.");
    return hint;
}

const QString &tlsOnHint()
{
    static const QString hint = QStringLiteral(
        "Set service/tls to true in the panel's settings file, and service/caFile to the service's CA certificate unless a public authority signed it.");
    return hint;
}

const QString &certificateHint()
{
    static const QString hint = QStringLiteral(
        "Check the service/caFile and service/tlsServerName settings against the service's certificate.");
    return hint;
}

TransportFault classify(const grpc::Status &status)
{
    struct Clue
    {
        const char *text;
        const char *reason;
        const QString *hint;
        bool closedByPeer;
    };
    // In order: the first clue found in gRPC's message wins, so the specific ones come first.
    static const Clue clues[] = {
        {"Connection refused", "connection refused", nullptr, false},
        {"DNS resolution failed", "the host name is unknown", nullptr, false},
        {"Name or service not known", "the host name is unknown", nullptr, false},
        {"No route to host", "no route to host", nullptr, false},
        {"Network is unreachable", "the network is unreachable", nullptr, false},
        {"timed out", "the connection timed out", nullptr, false},
        {"http1.x", "the server there speaks HTTP/1, not gRPC", &notOurServiceHint(), false},
        {"HTTP/1", "the server there speaks HTTP/1, not gRPC", &notOurServiceHint(), false},
        {"Failed parsing HTTP/2", "the server there does not speak gRPC", &notOurServiceHint(), false},
        {"PROTOCOL_ERROR", "the server there broke the gRPC protocol", &notOurServiceHint(), false},
        {"protocol error", "the server there broke the gRPC protocol", &notOurServiceHint(), false},
        // What OpenSSL makes of a plaintext gRPC server's first bytes.
        {"wrong version number", "the service does not use TLS", &tlsOffHint(), false},
        {"certificate verify failed", "the service's TLS certificate is not trusted", &certificateHint(), false},
        {"Handshake failed", "the TLS handshake failed", nullptr, false},
        {"SSL", "the TLS handshake failed", nullptr, false},
        {"Connection reset", "the connection was reset", nullptr, true},
        {"Socket closed", "the connection was closed", nullptr, true},
        {"Broken pipe", "the connection was closed", nullptr, true},
        {"GOAWAY", "the service closed the connection", nullptr, false},
        {"keepalive", "the service stopped answering keep-alive pings", nullptr, false},
        {"larger than max", "the answer was larger than the client accepts", nullptr, false},
        {"Failed to parse", "the answer could not be read", nullptr, false},
        {"Stream removed", "the service dropped the request", nullptr, false},
        {"RST_STREAM", "the service dropped the request", nullptr, false},
    };
    const QString message = QString::fromStdString(status.error_message());
    for (const Clue &clue : clues) {
        if (message.contains(QLatin1String(clue.text), Qt::CaseInsensitive))
            return {QLatin1String(clue.reason), clue.hint ? *clue.hint : QString(), clue.closedByPeer};
    }
    switch (status.error_code()) {
    case grpc::StatusCode::DEADLINE_EXCEEDED:
        return {QStringLiteral("no answer in time"), QString()};
    case grpc::StatusCode::CANCELLED:
        return {QStringLiteral("the request was cancelled"), QString()};
    case grpc::StatusCode::RESOURCE_EXHAUSTED:
        return {QStringLiteral("the answer was too large or the service is overloaded"), QString()};
    case grpc::StatusCode::UNIMPLEMENTED:
        return {QStringLiteral("the server there does not offer this request"), notOurServiceHint()};
    case grpc::StatusCode::UNAVAILABLE:
        // gRPC's summary of a connect that failed in a way it did not name ("failed to
        // connect to all addresses; last error: OK" for some servers that are not gRPC).
        return {QStringLiteral("the connection could not be set up"), tlsSettingHint()};
    default:
        return {QStringLiteral("the connection failed in an unexpected way"), QString()};
    }
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
    return classify(status).reason;
}

QString serviceMessage(const std::string &message)
{
    QString text = QString::fromStdString(message);
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = QLatin1Char(' ');
    }
    text = text.simplified();
    if (text.size() > kMaxServiceMessageChars)
        text = text.left(kMaxServiceMessageChars - 1) + QChar(0x2026);
    return text;
}

QString callFailureText(const grpc::Status &status, const QString &address, int timeoutMs)
{
    if (sentByService(status) && !status.error_message().empty())
        return serviceMessage(status.error_message());
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
    const TransportFault fault = classify(status);
    return QStringLiteral("The request to the attendance service at %1 failed (%2). %3")
        .arg(address, fault.reason,
             fault.hint.isEmpty() ? QStringLiteral("Check the connection and try again.") : fault.hint);
}

QString connectFailureText(const grpc::Status &status, const QString &address, int timeoutMs, bool clientUsesTls)
{
    if (status.error_code() == grpc::StatusCode::UNIMPLEMENTED) {
        return QStringLiteral("The server at %1 answered, but it does not offer the attendance service. Check the server and port.")
            .arg(address);
    }
    if (status.error_code() == grpc::StatusCode::DEADLINE_EXCEEDED) {
        return QStringLiteral("Cannot reach the attendance service at %1 (no answer within %2). Is the service running?")
            .arg(address, seconds(timeoutMs));
    }
    TransportFault fault = classify(status);
    // A TLS service closes a connection whose first bytes are not a TLS handshake.
    if (fault.closedByPeer && !clientUsesTls) {
        fault.reason = QStringLiteral("the service expects TLS");
        fault.hint = tlsOnHint();
    } else if (fault.closedByPeer) {
        fault.hint = tlsSettingHint();
    }
    return QStringLiteral("Cannot reach the attendance service at %1 (%2). %3")
        .arg(address, fault.reason, fault.hint.isEmpty() ? QStringLiteral("Is the service running?") : fault.hint);
}

QString unusableTokenText(const QString &address)
{
    return QStringLiteral("The attendance service at %1 sent an unusable session token. Check that the address points at a VornaPanel attendance service.")
        .arg(address);
}

QString malformedAnswerText(const QString &address, const QString &fault)
{
    return QStringLiteral("The attendance service at %1 sent a malformed answer (%2), so the rest of it was dropped. Check that the address points at a VornaPanel attendance service.")
        .arg(address, fault);
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
