#pragma once
// Two built vorna-service instances on one replicated PostgreSQL (see ReplicatedPostgres), and
// the traffic that shows what a failover costs: a clocking terminal that registers an activity
// every 50 ms on one instance, and a panel's session stream on the other that notes when it is
// told of presence changes. Raw gRPC stubs, as terminals and panels speak.

#include "support/replicatedpostgres.h"
#include "support/servicerunner.h"

#include "commservice.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace vorna::testing {

using FailoverClock = std::chrono::steady_clock;

// One RegisterActivity call: when it went and came back, and how it ended.
struct RegistrationCall
{
    FailoverClock::time_point sent;
    FailoverClock::time_point answered;
    grpc::StatusCode code = grpc::StatusCode::UNKNOWN;
    std::string message;
    qint64 registrationId = 0;
    size_t request = 0; // the terminal's count of its registrations; a retry keeps it
};

// A terminal on its own thread: a registration, then a pause, until stopped. As a real terminal
// does, it sends each registration with a request id of its own and sends a refused one again.
class TerminalLoop
{
public:
    TerminalLoop(const QString &address, const QByteArray &deviceToken, std::vector<std::string> employees,
                 std::vector<int> activityKinds, std::chrono::milliseconds pause = std::chrono::milliseconds(50));
    ~TerminalLoop();

    void stop();
    std::vector<RegistrationCall> calls() const;
    // When the first registration sent at or after `since` was acknowledged, waiting up to `timeout`.
    std::optional<FailoverClock::time_point> acknowledgedAfter(FailoverClock::time_point since,
                                                                std::chrono::milliseconds timeout) const;

private:
    void run();

    const std::unique_ptr<vorna::v1::CommService::Stub> m_stub;
    const QByteArray m_deviceToken;
    const std::vector<std::string> m_employees;
    const std::vector<int> m_activityKinds;
    const std::chrono::milliseconds m_pause;
    mutable std::mutex m_mutex;
    std::vector<RegistrationCall> m_calls;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// A panel's session stream on its own thread, from its first heartbeat until destroyed.
class SessionStreamRecorder
{
public:
    SessionStreamRecorder(const QString &address, const std::string &sessionToken);
    ~SessionStreamRecorder();

    // Waits until the first heartbeat arrived; false when the stream ended first or it took too long.
    bool waitUntilOpen(std::chrono::milliseconds timeout) const;
    // When the first PRESENCE_CHANGED received at or after `since` came, waiting up to `timeout`.
    std::optional<FailoverClock::time_point> presenceChangedAfter(FailoverClock::time_point since,
                                                                  std::chrono::milliseconds timeout) const;
    // Empty while the stream stands; otherwise how it ended.
    QString ending() const;

private:
    void run();

    std::unique_ptr<vorna::v1::CommService::Stub> m_stub;
    grpc::ClientContext m_context;
    mutable std::mutex m_mutex;
    bool m_open = false;
    std::vector<FailoverClock::time_point> m_presenceChanged;
    QString m_ending;
    std::thread m_thread;
};

class FailoverRig
{
public:
    static constexpr int Instances = 2;

    // Starts the replicated database, seeds a small demo organisation with a terminal on it and
    // starts the instances; false with error() otherwise.
    bool start();
    ReplicatedPostgres &database() { return m_database; }
    ServiceRunner &instance(int index) { return *m_instances[index]; }

    // A demo manager's session token, from a login on `instance`; empty with error() otherwise.
    std::string logIn(int instance);
    // A call that needs a valid session, on `instance`.
    grpc::Status useSession(int instance, const std::string &sessionToken);
    std::unique_ptr<TerminalLoop> startTerminal(int instance) const;

    QString error() const { return m_error; }

private:
    bool fail(const QString &message);
    bool readOrganisation();

    ReplicatedPostgres m_database;
    std::unique_ptr<ServiceRunner> m_instances[Instances];
    QTemporaryDir m_logs;
    QByteArray m_terminalToken;
    std::vector<std::string> m_employees;
    std::vector<int> m_activityKinds;
    QString m_error;
};

} // namespace vorna::testing
