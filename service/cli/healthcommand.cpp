// health: asks a running service for its standard gRPC health status, for container and
// systemd probes. Exit 0 when it is SERVING, 1 otherwise, with a sentence on stderr.

#include "cli/command.h"
#include "health.grpc.pb.h"
#include "ops/serverconfig.h"

#include <QFile>

#include <grpcpp/create_channel.h>
#include <grpcpp/security/credentials.h>

#include <chrono>

namespace vorna::service {

namespace {

class Health final : public StandaloneCommand
{
public:
    QStringList words() const override { return {QStringLiteral("health")}; }
    QString summary() const override
    {
        return QStringLiteral("Exits 0 when the service at --address answers SERVING, 1 otherwise.");
    }
    QList<QCommandLineOption> options() const override { return {m_address, m_tlsCa, m_timeout}; }

    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        const QString bad = checkListenAddress(parser.value(m_address));
        if (!bad.isEmpty())
            return QStringLiteral("--address: ") + bad;
        std::chrono::seconds timeout{};
        if (!parseDuration(parser.value(m_timeout), &timeout))
            return QStringLiteral("--timeout takes a duration such as 3s, not \"%1\".").arg(parser.value(m_timeout));
        return {};
    }

    int runAlone(const QCommandLineParser &parser, const QStringList &, CommandContext &context) override
    {
        const QString address = parser.value(m_address);
        std::shared_ptr<grpc::ChannelCredentials> credentials = grpc::InsecureChannelCredentials();
        if (parser.isSet(m_tlsCa)) {
            QFile ca(parser.value(m_tlsCa));
            if (!ca.open(QIODevice::ReadOnly))
                return context.fail(QStringLiteral("Cannot read the CA file %1 (%2). Check the path and its permissions.")
                                        .arg(ca.fileName(), ca.errorString()));
            grpc::SslCredentialsOptions options;
            options.pem_root_certs = ca.readAll().toStdString();
            credentials = grpc::SslCredentials(options);
        }
        std::chrono::seconds timeout{};
        parseDuration(parser.value(m_timeout), &timeout);

        auto stub = grpc::health::v1::Health::NewStub(grpc::CreateChannel(address.toStdString(), credentials));
        grpc::ClientContext call;
        call.set_deadline(std::chrono::system_clock::now() + timeout);
        grpc::health::v1::HealthCheckRequest request;
        grpc::health::v1::HealthCheckResponse response;
        const grpc::Status status = stub->Check(&call, request, &response);
        if (!status.ok())
            return context.fail(QStringLiteral("The attendance service at %1 did not answer the health check (%2). "
                                               "Is it running, and does --tls-ca match its TLS setting?")
                                    .arg(address, QString::fromStdString(status.error_message())));
        if (response.status() != grpc::health::v1::HealthCheckResponse::SERVING)
            return context.fail(QStringLiteral("The attendance service at %1 is not serving: it cannot reach its "
                                               "database. Its log says why.").arg(address));
        context.out() << QStringLiteral("The attendance service at %1 is serving.\n").arg(address);
        return ExitOk;
    }

private:
    const QCommandLineOption m_address{QStringLiteral("address"),
        QStringLiteral("HOST:PORT of the service. Default: 127.0.0.1:50051."), QStringLiteral("address"),
        QStringLiteral("127.0.0.1:50051")};
    const QCommandLineOption m_tlsCa{QStringLiteral("tls-ca"),
        QStringLiteral("PEM certificate(s) to trust when the service speaks TLS."), QStringLiteral("file")};
    const QCommandLineOption m_timeout{QStringLiteral("timeout"),
        QStringLiteral("Gives up after this long. Default: 3s."), QStringLiteral("duration"), QStringLiteral("3s")};
};

} // namespace

void addHealthCommand(CommandList &commands)
{
    commands.push_back(std::make_unique<Health>());
}

} // namespace vorna::service
