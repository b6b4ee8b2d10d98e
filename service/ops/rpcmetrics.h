#pragma once
// Feeds the metrics registry from the server without touching the handlers: a gRPC server
// interceptor counts calls, their status codes, latencies, open streams and the presence rows
// and bytes sent; the event log's login lines count login attempts by result; the storage's
// statement hook times queries and counts database errors. docs/service.md lists the metrics.

#include <QString>

#include <grpcpp/support/server_interceptor.h>

#include <memory>
#include <vector>

namespace vorna::service {

class RpcMetricsFactory final : public grpc::experimental::ServerInterceptorFactoryInterface
{
public:
    grpc::experimental::Interceptor *CreateServerInterceptor(grpc::experimental::ServerRpcInfo *info) override;
};

// The interceptor creators for grpc::ServerBuilder::experimental().SetInterceptorCreators().
std::vector<std::unique_ptr<grpc::experimental::ServerInterceptorFactoryInterface>> rpcMetricsInterceptors();

// Hooks the SQL executor to the registry; safe to call more than once.
void collectServiceMetrics();

// One login attempt with its result ("ok", "denied", "throttled" ...). Counted where the result
// is decided, since repeated refusals share a log line.
void countLoginAttempt(const QString &result);

// The `method` label of a call to `path` ("/vorna.v1.CommService/Login" -> "Login"): only the
// methods the service serves have labels of their own; any other path a client sends is
// "other", so clients cannot add series to the registry.
QString methodLabel(const char *path);

// The gRPC name of a status code ("OK", "UNAVAILABLE" ...), as the code label shows it.
const char *statusCodeName(int code);

} // namespace vorna::service
