#pragma once
// Ends a call whose answer the client does not take. A write that has not gone out within the
// time limit (the client never opens its HTTP/2 flow-control window, or stopped reading while
// its connection stays up) would hold the call open, and with it the answer's memory and the
// session's stream place, for as long as the connection stands. The watchdog then cancels the
// call: the pending write completes with ok == false, and the reactor finishes as it does for
// a client that went away.
//
// One timer per call at a time, however many writes the call makes.

#include "rpc/timerqueue.h"

#include <chrono>
#include <functional>
#include <memory>

namespace vorna::service {

class WriteWatchdog
{
public:
    using Clock = TimerQueue::Clock;

    // `cancel` ends the call (the context's TryCancel); it runs on the timer's thread. A write
    // still pending at `deadline` (the call's own time limit, if it has one) is cancelled too.
    WriteWatchdog(TimerQueue &timers, std::function<void()> cancel, Clock::duration limit,
                  Clock::time_point deadline = Clock::time_point::max());
    ~WriteWatchdog();

    WriteWatchdog(const WriteWatchdog &) = delete;
    WriteWatchdog &operator=(const WriteWatchdog &) = delete;

    // Right before StartWrite.
    void writeStarted();
    // First thing in OnWriteDone.
    void writeDone();
    // Whether the watchdog cancelled the call.
    bool fired() const;
    // In OnDone, before gRPC frees the call: no cancel runs after this returns.
    void disarm();

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace vorna::service
