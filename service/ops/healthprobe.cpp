#include "ops/healthprobe.h"

#include "ops/eventlog.h"
#include "ops/metrics.h"

namespace vorna::service {

namespace {

const char *const ServiceName = "vorna.v1.CommService";

} // namespace

HealthProbe::HealthProbe(Database &database, grpc::HealthCheckServiceInterface *health, std::chrono::seconds interval)
    : m_database(database), m_health(health), m_interval(interval)
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
    const StorageError error = version.error();
    const bool serving = version.ok() && *version > 0;
    if (serving == (m_serving == 1))
        return;
    if (!serving)
        EventLog::error("health", {{"status", QStringLiteral("NOT_SERVING")},
                                   {"msg", error.ok() ? QStringLiteral("The database holds no schema.") : error.message}});
    else if (m_serving == 0)
        EventLog::info("health", {{"status", QStringLiteral("SERVING")}});
    m_serving = serving ? 1 : 0;
    m_health->SetServingStatus(serving);
    m_health->SetServingStatus(ServiceName, serving);
    MetricsRegistry::instance()
        .gauge("vorna_database_up", "1 while the health probe reaches the database, 0 when not.")
        .set(serving ? 1 : 0);
}

} // namespace vorna::service
