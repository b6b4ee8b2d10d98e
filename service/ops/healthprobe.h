#pragma once
// Keeps the standard gRPC health status (grpc.health.v1) in step with the database: every
// interval it asks the storage for the schema version, a real round trip, and reports
// SERVING or NOT_SERVING for "" and for vorna.v1.CommService. Load balancers and
// `vorna-service health` then stop sending panels to an instance whose database is gone.

#include "storage/database.h"

#include <grpcpp/health_check_service_interface.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vorna::service {

class HealthProbe
{
public:
    HealthProbe(Database &database, grpc::HealthCheckServiceInterface *health, std::chrono::seconds interval);
    ~HealthProbe();

    // Probes once now, then every interval on a thread of its own until stop().
    void start();
    void stop();

private:
    void probeOnce();
    void run();

    Database &m_database;
    grpc::HealthCheckServiceInterface *m_health;
    const std::chrono::seconds m_interval;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    // Unknown at first, so the first answer is logged only when it is bad.
    int m_serving = -1;
};

} // namespace vorna::service
