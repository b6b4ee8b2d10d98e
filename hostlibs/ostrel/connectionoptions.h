#pragma once
// How the client reaches the service: read from the Pindle store ("service/..." keys, see
// docs/protocol.md), or the defaults when no store is open.

#include <QString>

#include <grpcpp/security/credentials.h>
#include <grpcpp/support/channel_arguments.h>

#include <memory>

class Settings;

namespace ostrel {

struct ConnectionOptions
{
    bool tls = false;
    QString caFile;
    QString tlsServerName;
    int connectTimeoutMs = 5000;
    int callTimeoutMs = 30000;
    int keepaliveMs = 20000;

    // `settings` may be null: the defaults above apply then.
    static ConnectionOptions fromSettings(const Settings *settings);

    grpc::ChannelArguments channelArguments() const;
    // Null with `error` set when the CA file named in the settings cannot be read.
    std::shared_ptr<grpc::ChannelCredentials> credentials(QString *error) const;
};

// Limits of one message, matched to the service's: a presence request lists up to 100,000
// picture digests; a presence chunk holds a few hundred rows with pictures.
constexpr int kMaxSendMessageBytes = 16 * 1024 * 1024;
constexpr int kMaxReceiveMessageBytes = 64 * 1024 * 1024;

} // namespace ostrel
