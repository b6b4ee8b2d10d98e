#pragma once
// The gRPC server of vorna-service with everything its handlers share: the session keeping,
// the login throttle, the password hasher and the stream limits.

#include "sessions/authenticator.h"
#include "ops/healthprobe.h"
#include "rpc/commserviceimpl.h"
#include "rpc/databasepool.h"
#include "sessions/loginthrottle.h"
#include "sessions/passwordhasher.h"
#include "ops/serverconfig.h"
#include "sessions/sessionhub.h"
#include "sessions/sessionmanager.h"
#include "storage/database.h"
#include "rpc/streamlimiter.h"

#include <grpcpp/server.h>

#include <atomic>
#include <memory>

namespace vorna::service {

class ServiceServer
{
public:
    ServiceServer(Database &database, const ServerConfig &config);
    ~ServiceServer();

    // Binds the listen address and starts serving; false with a sentence in `error` when the
    // address or the TLS files cannot be used.
    bool start(QString *error);
    // The address actually bound, with the port chosen for ":0".
    QString address() const { return m_address; }
    // Ends the session streams, stops accepting calls and lets those in progress finish
    // (up to the call time-out). Safe to call from any thread, more than once.
    void shutdown();
    // Blocks until the server has stopped.
    void wait();

private:
    bool credentials(std::shared_ptr<grpc::ServerCredentials> *out, QString *error) const;
    // Puts the connection caps and the descriptor reserve in front of gRPC's listeners.
    bool guardListeners(QString *error);

    const ServerConfig m_config;
    PasswordHasher m_hasher;
    LoginThrottle m_throttle;
    SessionManager m_sessions;
    Authenticator m_authenticator;
    SessionHub m_hub;
    StreamLimiter m_streams;
    // Follows what the database workers meet on every call, and the probe when idle; it
    // outlives the workers that report to it.
    HealthStatus m_health;
    DatabasePool m_pool;
    CommServiceImpl m_service;
    Database &m_database;
    std::unique_ptr<grpc::Server> m_server;
    std::unique_ptr<HealthProbe> m_probe;
    QString m_address;
    std::atomic<bool> m_stopping{false};
    int m_guard = 0;
};

} // namespace vorna::service
