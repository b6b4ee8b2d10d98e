#include "connectionoptions.h"

#include "answercheck.h"
#include <pindle/pindle.h>

#include <QFile>

#include <grpc/grpc.h>
#include <grpc/grpc_security_constants.h>
#include <grpcpp/security/credentials.h>

#include <algorithm>

namespace ostrel {

ConnectionOptions ConnectionOptions::fromSettings(const Settings *settings)
{
    ConnectionOptions options;
    if (!settings)
        return options;
    options.tls = settings->serviceTls();
    options.caFile = settings->serviceCaFile();
    options.tlsServerName = settings->serviceTlsServerName();
    options.connectTimeoutMs = settings->serviceConnectTimeoutMs();
    options.callTimeoutMs = settings->serviceCallTimeoutMs();
    options.keepaliveMs = settings->serviceKeepaliveMs();
    return options;
}

grpc::ChannelArguments ConnectionOptions::channelArguments() const
{
    grpc::ChannelArguments args;
    args.SetMaxSendMessageSize(kMaxSendMessageBytes);
    args.SetMaxReceiveMessageSize(kMaxReceiveMessageBytes);
    // Pings while calls are open (the session stream always is once logged in), so a dead
    // network ends the session instead of leaving it hanging. Pings do not need outgoing data:
    // the session stream sends nothing after its request.
    args.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, keepaliveMs);
    args.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, std::min(keepaliveMs, 10000));
    args.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 0);
    args.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
    // Each connect gets its own connection: a refused attempt must not leave a backed-off
    // subchannel that the next attempt (after the service was started) would inherit.
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    args.SetString(GRPC_ARG_PRIMARY_USER_AGENT_STRING, "Ostrel/3");
    if (tls && !tlsServerName.isEmpty())
        args.SetSslTargetNameOverride(tlsServerName.toStdString());
    return args;
}

std::shared_ptr<grpc::ChannelCredentials> ConnectionOptions::credentials(QString *error) const
{
    if (!tls)
        return grpc::InsecureChannelCredentials();
    // The name travels as the call's authority, where gRPC aborts on control bytes.
    if (!tlsServerName.isEmpty() && !isUsableMetadataValue(tlsServerName.toStdString())) {
        *error = QStringLiteral("The service/tlsServerName setting is not a plain host name. Fix or clear the setting.");
        return nullptr;
    }
    grpc::SslCredentialsOptions ssl;
    if (!caFile.isEmpty()) {
        QFile file(caFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("Cannot read the certificate file \"%1\" named by service/caFile in the settings (%2). Fix the path or clear the setting.")
                         .arg(caFile, file.errorString());
            return nullptr;
        }
        ssl.pem_root_certs = file.readAll().toStdString();
    }
    return grpc::SslCredentials(ssl);
}

} // namespace ostrel
