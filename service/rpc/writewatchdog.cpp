#include "rpc/writewatchdog.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

namespace vorna::service {

struct WriteWatchdog::State : std::enable_shared_from_this<State>
{
    State(TimerQueue &timers, std::function<void()> cancel, Clock::duration limit, Clock::time_point deadline)
        : timers(timers)
        , cancel(std::move(cancel))
        , limit(limit)
        , deadline(deadline)
    {
    }

    // With the lock held.
    Clock::time_point dueOf(Clock::time_point since) const
    {
        return since + limit < deadline ? since + limit : deadline;
    }

    // With the lock held; one timer is outstanding at a time.
    void scheduleLocked(Clock::time_point at)
    {
        timerOutstanding = true;
        const std::weak_ptr<State> weak = weak_from_this();
        timers.schedule(at, [weak] {
            if (const std::shared_ptr<State> state = weak.lock())
                state->check();
        });
    }

    // On the timer's thread.
    void check()
    {
        std::unique_lock<std::mutex> lock(mutex);
        timerOutstanding = false;
        if (!armed || !pendingSince)
            return; // the next write schedules anew
        const Clock::time_point due = dueOf(*pendingSince);
        if (Clock::now() < due) {
            scheduleLocked(due);
            return;
        }
        fired = true;
        armed = false;
        // The cancel runs outside the lock: gRPC may complete the pending write on this very
        // thread, and the reactor then asks the watchdog again.
        cancelling = std::this_thread::get_id();
        lock.unlock();
        cancel();
        lock.lock();
        cancelling = std::thread::id();
        cancelled.notify_all();
    }

    TimerQueue &timers;
    const std::function<void()> cancel;
    const Clock::duration limit;
    const Clock::time_point deadline;

    std::mutex mutex;
    std::condition_variable cancelled;
    bool armed = true;
    bool fired = false;
    bool timerOutstanding = false;
    std::optional<Clock::time_point> pendingSince;
    std::thread::id cancelling; // the thread running `cancel`, if one is
};

WriteWatchdog::WriteWatchdog(TimerQueue &timers, std::function<void()> cancel, Clock::duration limit,
                             Clock::time_point deadline)
    : m_state(std::make_shared<State>(timers, std::move(cancel), limit, deadline))
{
}

WriteWatchdog::~WriteWatchdog()
{
    disarm();
}

void WriteWatchdog::writeStarted()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    const Clock::time_point now = Clock::now();
    m_state->pendingSince = now;
    if (m_state->armed && !m_state->timerOutstanding)
        m_state->scheduleLocked(m_state->dueOf(now));
}

void WriteWatchdog::writeDone()
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->pendingSince.reset();
}

bool WriteWatchdog::fired() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->fired;
}

void WriteWatchdog::disarm()
{
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->armed = false;
    // A cancel under way on another thread must end before the call it names goes away.
    const std::thread::id self = std::this_thread::get_id();
    m_state->cancelled.wait(lock, [&] {
        return m_state->cancelling == std::thread::id() || m_state->cancelling == self;
    });
}

} // namespace vorna::service
