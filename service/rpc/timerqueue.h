#pragma once
// One thread that runs short callbacks at given times: the heartbeats of every open session
// stream, so that a waiting stream holds no thread of its own. Callbacks must be quick (post
// real work elsewhere); they run one after another on the timer's thread.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace vorna::service {

class TimerQueue
{
public:
    using Clock = std::chrono::steady_clock;
    using Callback = std::function<void()>;

    TimerQueue();
    // Drops the callbacks still waiting, unrun.
    ~TimerQueue();

    TimerQueue(const TimerQueue &) = delete;
    TimerQueue &operator=(const TimerQueue &) = delete;

    void schedule(Clock::time_point at, Callback callback);
    int waiting() const;

private:
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<Clock::time_point, Callback> m_due;
    bool m_stopping = false;
    std::thread m_thread;
};

} // namespace vorna::service
