#include "rpc/timerqueue.h"

namespace vorna::service {

TimerQueue::TimerQueue()
    : m_thread([this] { run(); })
{
}

TimerQueue::~TimerQueue()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void TimerQueue::schedule(Clock::time_point at, Callback callback)
{
    bool earliest = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_due.emplace(at, std::move(callback));
        earliest = it == m_due.begin();
    }
    if (earliest)
        m_wake.notify_all();
}

int TimerQueue::waiting() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return int(m_due.size());
}

void TimerQueue::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_due.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const Clock::time_point next = m_due.begin()->first;
        if (Clock::now() < next) {
            m_wake.wait_until(lock, next);
            continue;
        }
        Callback callback = std::move(m_due.begin()->second);
        m_due.erase(m_due.begin());
        lock.unlock();
        callback();
        lock.lock();
    }
    // Callbacks may hold the last reference to what they serve; let it go outside the lock.
    std::multimap<Clock::time_point, Callback> dropped;
    dropped.swap(m_due);
    lock.unlock();
}

} // namespace vorna::service
