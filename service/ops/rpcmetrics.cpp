#include "ops/rpcmetrics.h"

#include "commservice.pb.h"
#include "ops/eventlog.h"
#include "ops/metrics.h"
#include "storage/sqlexecutor.h"

#include <QHash>

#include <google/protobuf/descriptor.h>

#include <chrono>
#include <iterator>

namespace vorna::service {

namespace {

using grpc::experimental::InterceptionHookPoints;

const QStringList MethodLabel{QStringLiteral("method")};

// Full gRPC paths of everything the server answers, with their labels: the contract's methods
// (read from its descriptor, so a new RPC is labelled without an edit here), the health
// service and reflection.
QHash<QByteArray, QString> servedMethods()
{
    QHash<QByteArray, QString> byPath;
    const google::protobuf::ServiceDescriptor *service =
        v1::PresenceChunk::descriptor()->file()->FindServiceByName("CommService");
    for (int i = 0; service && i < service->method_count(); ++i) {
        const std::string &name = service->method(i)->name();
        byPath.insert(QByteArray::fromStdString("/" + service->full_name() + "/" + name), QString::fromStdString(name));
    }
    byPath.insert("/grpc.health.v1.Health/Check", QStringLiteral("Check"));
    byPath.insert("/grpc.health.v1.Health/Watch", QStringLiteral("Watch"));
    byPath.insert("/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo",
                  QStringLiteral("ServerReflectionInfo"));
    return byPath;
}

class RpcMetricsInterceptor final : public grpc::experimental::Interceptor
{
public:
    explicit RpcMetricsInterceptor(grpc::experimental::ServerRpcInfo *info)
        : m_method(methodLabel(info->method()))
        , m_started(std::chrono::steady_clock::now())
        , m_streaming(info->type() == grpc::experimental::ServerRpcInfo::Type::SERVER_STREAMING
                      || info->type() == grpc::experimental::ServerRpcInfo::Type::BIDI_STREAMING)
        , m_presence(m_method == QLatin1String("Presence"))
    {
        adjustOpenGauges(+1);
    }

    ~RpcMetricsInterceptor() override
    {
        adjustOpenGauges(-1);
        MetricsRegistry &registry = MetricsRegistry::instance();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        registry.counter("vorna_rpc_total", "RPCs finished, by method and status code.",
                         {QStringLiteral("method"), QStringLiteral("code")},
                         {m_method, QString::fromLatin1(statusCodeName(m_code))}).add();
        registry.histogram("vorna_rpc_duration_seconds", "Time from an RPC's arrival to its end, by method.",
                           MethodLabel, {m_method}).observe(seconds);
    }

    void Intercept(grpc::experimental::InterceptorBatchMethods *methods) override
    {
        if (methods->QueryInterceptionHookPoint(InterceptionHookPoints::PRE_SEND_STATUS))
            m_code = methods->GetSendStatus().error_code();
        if (m_presence && methods->QueryInterceptionHookPoint(InterceptionHookPoints::PRE_SEND_MESSAGE))
            countPresence(static_cast<const v1::PresenceChunk *>(methods->GetSendMessage()));
        methods->Proceed();
    }

private:
    void adjustOpenGauges(int delta) const
    {
        MetricsRegistry &registry = MetricsRegistry::instance();
        if (m_streaming)
            registry.gauge("vorna_streams_open", "Server-streaming RPCs in progress, by method.", MethodLabel,
                           {m_method}).add(delta);
        if (m_method == QLatin1String("WatchSession"))
            registry.gauge("vorna_sessions_open", "Session streams open: panels logged in and connected.").add(delta);
    }

    static void countPresence(const v1::PresenceChunk *chunk)
    {
        if (!chunk)
            return;
        MetricsRegistry &registry = MetricsRegistry::instance();
        registry.counter("vorna_presence_rows_streamed_total", "Presence rows sent to panels.")
            .add(std::uint64_t(chunk->rows_size()));
        registry.counter("vorna_presence_bytes_streamed_total", "Bytes of presence answers sent, pictures included.")
            .add(std::uint64_t(chunk->ByteSizeLong()));
    }

    const QString m_method;
    const std::chrono::steady_clock::time_point m_started;
    const bool m_streaming;
    const bool m_presence;
    // A call that ends without a status of its own was cancelled by the client or the server.
    int m_code = grpc::StatusCode::CANCELLED;
};

Counter &loginAttempts(const QString &result)
{
    return MetricsRegistry::instance().counter("vorna_login_attempts_total", "Login attempts, by result.",
                                               {QStringLiteral("result")}, {result});
}

void countStatement(double seconds)
{
    MetricsRegistry::instance()
        .histogram("vorna_db_query_duration_seconds", "Time of each SQL statement the storage runs.")
        .observe(seconds);
}

void countDatabaseError()
{
    MetricsRegistry::instance()
        .counter("vorna_db_errors_total", "Failed database statements, transactions and connections.")
        .add();
}

} // namespace

grpc::experimental::Interceptor *RpcMetricsFactory::CreateServerInterceptor(grpc::experimental::ServerRpcInfo *info)
{
    return new RpcMetricsInterceptor(info);
}

std::vector<std::unique_ptr<grpc::experimental::ServerInterceptorFactoryInterface>> rpcMetricsInterceptors()
{
    std::vector<std::unique_ptr<grpc::experimental::ServerInterceptorFactoryInterface>> creators;
    creators.push_back(std::make_unique<RpcMetricsFactory>());
    return creators;
}

void countLoginAttempt(const QString &result)
{
    loginAttempts(result).add();
}

void collectServiceMetrics()
{
    setSqlObserver({countStatement, countDatabaseError});
    // Declared up front, so a scrape shows them at zero before the first event.
    MetricsRegistry &registry = MetricsRegistry::instance();
    registry.gauge("vorna_sessions_open", "Session streams open: panels logged in and connected.");
    registry.histogram("vorna_db_query_duration_seconds", "Time of each SQL statement the storage runs.");
    registry.counter("vorna_db_errors_total", "Failed database statements, transactions and connections.");
    registry.counter("vorna_presence_rows_streamed_total", "Presence rows sent to panels.");
    registry.counter("vorna_presence_bytes_streamed_total", "Bytes of presence answers sent, pictures included.");
    for (const char *result : {"ok", "denied", "throttled", "too-many-sessions", "unavailable", "busy"})
        loginAttempts(QString::fromLatin1(result));
}

QString methodLabel(const char *path)
{
    static const QHash<QByteArray, QString> served = servedMethods();
    static const QString other = QStringLiteral("other");
    return served.value(QByteArray(path ? path : ""), other);
}

const char *statusCodeName(int code)
{
    static const char *const names[] = {"OK", "CANCELLED", "UNKNOWN", "INVALID_ARGUMENT", "DEADLINE_EXCEEDED",
                                        "NOT_FOUND", "ALREADY_EXISTS", "PERMISSION_DENIED", "RESOURCE_EXHAUSTED",
                                        "FAILED_PRECONDITION", "ABORTED", "OUT_OF_RANGE", "UNIMPLEMENTED",
                                        "INTERNAL", "UNAVAILABLE", "DATA_LOSS", "UNAUTHENTICATED"};
    return code >= 0 && code < int(std::size(names)) ? names[code] : "UNKNOWN";
}

} // namespace vorna::service
