#include "ops/healthprobe.h"

#include "ops/eventlog.h"
#include "ops/metrics.h"

#include <utility>

namespace vorna::service {

namespace {

const char *const ServiceName = "vorna.v1.CommService";

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void logHealth(bool serving, const QString &why, int changes)
{
    const QString count = QString::number(changes);
    if (serving)
        EventLog::info("health", {{"status", QStringLiteral("SERVING")}, {"changes", count}});
    else
        EventLog::error("health", {{"status", QStringLiteral("NOT_SERVING")}, {"msg", why}, {"changes", count}});
}

} // namespace

HealthStatus::HealthStatus(Clock now)
    : m_now(now ? std::move(now) : Clock(steadyMs))
{
}

void HealthStatus::attach(grpc::HealthCheckServiceInterface *health)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_health = health;
}

void HealthStatus::report(bool serving, const QString &why)
{
    const State state = serving ? Serving : NotServing;
    if (m_state.load() == state && !m_logBehind.load())
        return;
    const qint64 now = m_now();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_frozen || !m_health)
        return;
    if (m_state.load() != state)
        change(state, why);
    if (logIsBehind(now))
        logCurrent(now);
}

void HealthStatus::freeze()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_logBehind.load())
        logCurrent(m_now());
    m_frozen = true;
}

void HealthStatus::change(State state, const QString &why)
{
    const bool serving = state == Serving;
    m_state = state;
    m_health->SetServingStatus(serving);
    m_health->SetServingStatus(ServiceName, serving);
    MetricsRegistry::instance()
        .gauge("vorna_database_up", "1 while the database answers the service, 0 when not.")
        .set(serving ? 1 : 0);
    if (!serving)
        m_why = why;
    // The first state is logged only when it is bad.
    if (m_logged == Unknown && serving) {
        m_logged = Serving;
        return;
    }
    ++m_unloggedChanges;
    m_logBehind = true;
}

bool HealthStatus::logIsBehind(qint64 now) const
{
    return m_logBehind.load() && (!m_lastLineMs || now - *m_lastLineMs >= QuietMs);
}

void HealthStatus::logCurrent(qint64 now)
{
    m_logBehind = false;
    const State state = State(m_state.load());
    logHealth(state == Serving, m_why, std::exchange(m_unloggedChanges, 0));
    m_logged = state;
    m_lastLineMs = now;
}

HealthProbe::HealthProbe(Database &database, HealthStatus &status, std::chrono::seconds interval)
    : m_database(database), m_status(status), m_interval(interval)
{
}

HealthProbe::~HealthProbe()
{
    stop();
}

void HealthProbe::start()
{
    probeOnce();
    m_thread = std::thread([this] { run(); });
}

void HealthProbe::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void HealthProbe::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_wake.wait_for(lock, m_interval, [this] { return m_stopping; })) {
        lock.unlock();
        probeOnce();
        lock.lock();
    }
}

void HealthProbe::probeOnce()
{
    const Result<int> version = m_database.schemaVersion();
    if (version.ok() && *version > 0)
        m_status.report(true);
    else
        m_status.report(false, version.ok() ? QStringLiteral("The database holds no schema.") : version.error().message);
}

} // namespace vorna::service
