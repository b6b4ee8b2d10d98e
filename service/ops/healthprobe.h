#pragma once
// Keeps the standard gRPC health status (grpc.health.v1) in step with the database, for "" and
// for vorna.v1.CommService. Load balancers and `vorna-service health` then stop sending panels
// to an instance whose database is gone.
//
// HealthStatus takes reports from two sides: the database workers tell it after each call's
// database work whether the database answered, so the status turns the moment calls fail or
// succeed again; and HealthProbe asks the storage for the schema version every interval, a
// real round trip, so an idle instance is kept up to date too.

#include "storage/database.h"

#include <grpcpp/health_check_service_interface.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace vorna::service {

class HealthStatus
{
public:
    // Milliseconds of a steady clock; tests hand in their own.
    using Clock = std::function<qint64()>;
    // A change of state within this long after the last health line is not logged at once but
    // summed up in the next line (changes=N), so a database that comes and goes from call to
    // call cannot flood the log.
    static constexpr qint64 QuietMs = 1000;

    explicit HealthStatus(Clock now = Clock());

    // The health service the status is shown on; reports before it is set are ignored.
    void attach(grpc::HealthCheckServiceInterface *health);
    // The database answered (`serving`) or did not, for the reason `why`. Cheap when nothing
    // changes, so it may be called after every call.
    void report(bool serving, const QString &why = QString());
    // From now on reports change nothing (a shutdown has set NOT_SERVING for good); a change
    // not logged yet is logged now.
    void freeze();

private:
    enum State { Unknown = -1, NotServing = 0, Serving = 1 };

    void change(State state, const QString &why);
    void logCurrent(qint64 now);
    bool logIsBehind(qint64 now) const;

    const Clock m_now;
    std::mutex m_mutex;
    std::atomic<int> m_state{Unknown};
    grpc::HealthCheckServiceInterface *m_health = nullptr;
    bool m_frozen = false;
    // What the log last said, and the changes since that it has not shown.
    State m_logged = Unknown;
    std::optional<qint64> m_lastLineMs;
    int m_unloggedChanges = 0;
    QString m_why;
    std::atomic<bool> m_logBehind{false};
};

class HealthProbe
{
public:
    HealthProbe(Database &database, HealthStatus &status, std::chrono::seconds interval);
    ~HealthProbe();

    // Probes once now, then every interval on a thread of its own until stop().
    void start();
    void stop();

private:
    void probeOnce();
    void run();

    Database &m_database;
    HealthStatus &m_status;
    const std::chrono::seconds m_interval;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
};

} // namespace vorna::service
