#include "rpc/databasepool.h"

#include <algorithm>
#include <utility>

namespace vorna::service {

DatabasePool::DatabasePool(int workers, int queueLimit, ReachObserver observer)
    : m_queueLimit(std::max(1, queueLimit))
    , m_observer(std::move(observer))
{
    const int count = std::max(1, workers);
    m_threads.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        m_threads.emplace_back([this] { work(); });
}

DatabasePool::~DatabasePool()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads)
        thread.join();
}

bool DatabasePool::post(Job job)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping || int(m_queue.size()) >= m_queueLimit)
            return false;
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
    return true;
}

void DatabasePool::work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopping, and nothing left to do
            job = std::move(m_queue.front());
            m_queue.pop_front();
        }
        run(job);
    }
}

void DatabasePool::run(const Job &job) const
{
    job();
    const DatabaseReach reach = takeDatabaseReach();
    if (m_observer && reach.state != DatabaseReach::Untouched)
        m_observer(reach);
}

} // namespace vorna::service
