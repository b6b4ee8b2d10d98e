#include "serve/serviceserver.h"

#include "serve/descriptorlimit.h"
#include "ops/eventlog.h"
#include "serve/listenguard.h"
#include "ops/metricsserver.h"
#include "ops/rpcmetrics.h"
#include "serve/tlsfiles.h"

#include <QFile>

#include <grpc/support/log.h>
#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/health_check_service_interface.h>
#include <grpcpp/security/server_credentials.h>
#include <grpcpp/server_builder.h>

#include <thread>

namespace vorna::service {

namespace {

// A panel opens at most a few streams per session; 64 leaves room for several sessions behind
// one connection and bounds what one connection can hold open.
constexpr int MaxStreamsPerConnection = 64;
// A connection without calls is closed after this; a logged-in panel always has its session
// stream open, so only abandoned connections are hit.
constexpr int MaxConnectionIdleMs = 15 * 60 * 1000;
// A connection must finish its TLS and HTTP/2 handshake within this.
constexpr int HandshakeTimeoutMs = 10 * 1000;
// Clients may ping at most this often without data; two strikes and the connection is closed.
constexpr int MinClientPingIntervalMs = 10 * 1000;
constexpr int MaxPingStrikes = 2;

bool readPem(const QString &path, const char *what, std::string *out, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Cannot read the TLS %1 file %2 (%3). Check the path and its permissions.")
                     .arg(QLatin1String(what), path, file.errorString());
        return false;
    }
    *out = file.readAll().toStdString();
    return true;
}

QString withPort(const QString &listen, int port)
{
    return listen.left(listen.lastIndexOf(QLatin1Char(':')) + 1) + QString::number(port);
}

// gRPC's own messages become log lines of ours, so stderr stays one logfmt event per line.
void logFromGrpc(gpr_log_func_args *args)
{
    const EventLog::Level level = args->severity == GPR_LOG_SEVERITY_ERROR ? EventLog::Level::Error
                                : args->severity == GPR_LOG_SEVERITY_INFO  ? EventLog::Level::Info
                                                                           : EventLog::Level::Debug;
    EventLog::write(level, "grpc", {{"msg", QString::fromUtf8(args->message)},
                                    {"source", QStringLiteral("%1:%2").arg(QString::fromUtf8(args->file)).arg(args->line)}});
}

int hasherSlots()
{
    return int(std::max(2u, std::thread::hardware_concurrency()));
}

} // namespace

ServiceServer::ServiceServer(Database &database, const ServerConfig &config)
    : m_config(config)
    , m_hasher(hasherSlots())
    , m_sessions(database.accounts(), SessionPolicy{config.sessionIdle, config.maxSessionsPerUser})
    , m_authenticator(database.accounts(), m_sessions, m_throttle, m_hasher)
    , m_streams(config.maxStreamsPerSession)
    , m_pool(DatabasePool::DefaultWorkers, DatabasePool::DefaultQueueLimit,
             [this](const DatabaseReach &reach) { m_health.report(reach.state == DatabaseReach::Reached, reach.why); })
    , m_service(ServiceParts{database.accounts(), database.organisation(), database.calendars(), database.presence(),
                             m_sessions, m_authenticator, m_hub, m_streams, m_config, &m_pool})
    , m_database(database)
{
    gpr_set_log_function(logFromGrpc);
}

ServiceServer::~ServiceServer()
{
    shutdown();
    wait();
    ListenGuard::disable(m_guard);
}

bool ServiceServer::start(QString *error)
{
    std::shared_ptr<grpc::ServerCredentials> creds;
    if (!credentials(&creds, error))
        return false;
    if (!guardListeners(error))
        return false;
    m_hasher.warmUp();

    // The standard health service and reflection, for load balancers and generic gRPC tools.
    grpc::EnableDefaultHealthCheckService(true);
    grpc::reflection::InitProtoReflectionServerBuilderPlugin();
    grpc::ServerBuilder builder;
    builder.experimental().SetInterceptorCreators(rpcMetricsInterceptors());
    int port = 0;
    builder.AddListeningPort(m_config.listen.toStdString(), creds, &port);
    builder.RegisterService(&m_service);
    builder.SetMaxReceiveMessageSize(m_config.maxReceiveBytes);
    builder.SetMaxSendMessageSize(m_config.maxSendBytes);
    // Two services on one port would split the clients between them unnoticed.
    builder.AddChannelArgument(GRPC_ARG_ALLOW_REUSEPORT, 0);
    // Find dead clients, and let live ones keep idle connections open with their own pings.
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, 60000);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, 20000);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS, MinClientPingIntervalMs);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PING_STRIKES, MaxPingStrikes);
    builder.AddChannelArgument(GRPC_ARG_MAX_CONCURRENT_STREAMS, MaxStreamsPerConnection);
    builder.AddChannelArgument(GRPC_ARG_MAX_CONNECTION_IDLE_MS, MaxConnectionIdleMs);
    builder.AddChannelArgument(GRPC_ARG_SERVER_HANDSHAKE_TIMEOUT_MS, HandshakeTimeoutMs);
    // No maximum connection age: it would end the session stream, and the panel takes that
    // as a lost session.
    // Calls hold no thread (the handlers are reactors, database work runs on a bounded pool of
    // its own); what the connections and calls may take in memory is bounded here.
    grpc::ResourceQuota quota("vorna-service");
    quota.Resize(size_t(m_config.memoryQuotaBytes));
    builder.SetResourceQuota(quota);

    m_server = builder.BuildAndStart();
    if (!m_server || port == 0) {
        m_server.reset();
        *error = QStringLiteral("Cannot listen on %1: the address is in use or not available here. "
                                "Stop the program that holds it or choose another --listen address.")
                     .arg(m_config.listen);
        return false;
    }
    m_address = withPort(m_config.listen, port);
    m_health.attach(m_server->GetHealthCheckService());
    m_probe = std::make_unique<HealthProbe>(m_database, m_health, m_config.healthInterval);
    m_probe->start();
    if (m_config.tlsCertFile.isEmpty() && !isLoopbackListen(m_config.listen))
        EventLog::warning("plaintext", {{"address", m_address},
                                        {"msg", QStringLiteral("The service listens beyond this machine without TLS: all "
                                                               "traffic, passwords included, crosses the network "
                                                               "unencrypted. Give --tls-cert and --tls-key to turn on TLS.")}});
    return true;
}

bool ServiceServer::guardListeners(QString *error)
{
    ConnectionCaps caps;
    caps.total = m_config.maxConnections > 0 ? m_config.maxConnections : connectionsWithin(raiseDescriptorLimit());
    caps.perAddress = m_config.maxConnectionsPerAddress;
    // Encrypted frames cannot be counted; there a fronting proxy has to (docs/service.md).
    caps.resetsPerAddress = m_config.tlsCertFile.isEmpty() ? m_config.maxResetsPerAddress : 0;
    caps.metrics = {MetricsServer::MaxConnections, MetricsServer::MaxConnectionsPerAddress,
                    MetricsServer::MaxRequestBytes, MetricsServer::MaxRequestMs};
    std::string why;
    m_guard = ListenGuard::enable(caps, &why);
    if (m_guard == 0)
        *error = QString::fromStdString(why);
    return m_guard != 0;
}

void ServiceServer::shutdown()
{
    if (!m_server || m_stopping.exchange(true))
        return;
    EventLog::info("shutdown", {{"address", m_address}});
    // Shutdown() turns every health status to NOT_SERVING; neither the probe nor the calls
    // still finishing may turn it back.
    m_probe->stop();
    m_health.freeze();
    m_hub.shutdown(QStringLiteral("The attendance service is shutting down."));
    m_server->Shutdown(std::chrono::system_clock::now() + m_config.callTimeout);
}

void ServiceServer::wait()
{
    if (m_server)
        m_server->Wait();
}

bool ServiceServer::credentials(std::shared_ptr<grpc::ServerCredentials> *out, QString *error) const
{
    if (m_config.tlsCertFile.isEmpty()) {
        *out = grpc::InsecureServerCredentials();
        return true;
    }
    grpc::SslServerCredentialsOptions::PemKeyCertPair pair;
    if (!readPem(m_config.tlsCertFile, "certificate", &pair.cert_chain, error)
        || !readPem(m_config.tlsKeyFile, "key", &pair.private_key, error))
        return false;
    const QString unusable = checkTlsPair(m_config.tlsCertFile, pair.cert_chain, m_config.tlsKeyFile, pair.private_key);
    if (!unusable.isEmpty()) {
        *error = unusable;
        return false;
    }
    grpc::SslServerCredentialsOptions options;
    options.pem_key_cert_pairs.push_back(pair);
    *out = grpc::SslServerCredentials(options);
    return true;
}

} // namespace vorna::service
