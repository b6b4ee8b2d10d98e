#pragma once
// The threads that talk to the database for the RPC handlers. gRPC's callback threads must
// never wait on the database or on a password hash, so handlers post that work here. The
// workers are few and fixed (each holds one connection of the storage's per-thread pool), and
// the queue in front of them is bounded: when it is full a call is refused at once instead of
// waiting without end. After each job a worker tells the reach observer, if there is one,
// whether the job's database work reached the database, so the service's health follows the
// calls as they happen.

#include "storage/sqlexecutor.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace vorna::service {

class DatabasePool
{
public:
    using Job = std::function<void()>;
    // Called on the worker after each job that touched the database; it must not block.
    using ReachObserver = std::function<void(const DatabaseReach &reach)>;

    static constexpr int DefaultWorkers = 8;
    static constexpr int DefaultQueueLimit = 1024;

    explicit DatabasePool(int workers = DefaultWorkers, int queueLimit = DefaultQueueLimit,
                          ReachObserver observer = ReachObserver());
    // Runs the jobs still queued, then ends the workers.
    ~DatabasePool();

    DatabasePool(const DatabasePool &) = delete;
    DatabasePool &operator=(const DatabasePool &) = delete;

    // Queues a job for the next free worker; false, without running it, when the queue holds
    // its limit already or the pool is stopping.
    bool post(Job job);

    int workers() const { return int(m_threads.size()); }
    int queueLimit() const { return m_queueLimit; }

private:
    void work();
    void run(const Job &job) const;

    const int m_queueLimit;
    const ReachObserver m_observer;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace vorna::service
