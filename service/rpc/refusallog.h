#pragma once
// Keeps a flood of refused calls from flooding the log. The first refusal of a client address
// for a reason (an event and its result) is written at once; the ones that follow within the
// window are only counted, and a line at the window's end says how many there were
// (`repeated=N`). A flood that goes on is summed up once a window until it stops. So 5,000
// calls with a junk token cost two lines instead of 5,000, the audit trail stays readable, and
// journald's rate limit is not met. Successful logins and writes are no refusals: they keep a
// line each.
//
// The reasons tracked at once are capped; refusals for a new key beyond the cap are counted
// together under the address "*".

#include "ops/eventlog.h"
#include "rpc/timerqueue.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

namespace vorna::service {

class RefusalLog
{
public:
    using Clock = std::chrono::steady_clock;

    struct Policy
    {
        Clock::duration window = std::chrono::seconds(10);
        int maxKeys = 4096;
    };

    // What a window's end reports: how many refusals followed the first one.
    struct Summary
    {
        EventLog::Level level;
        const char *event;
        QString address;
        QString result;
        qint64 repeated;
    };
    using SummaryWriter = std::function<void(const Summary &)>;

    // With `timers`, a window's summary is written when it ends; without, only by flush().
    // Summaries go to the event log unless `writer` takes them.
    explicit RefusalLog(TimerQueue *timers);
    RefusalLog(TimerQueue *timers, Policy policy, SummaryWriter writer = SummaryWriter());
    // Writes the summaries still owed.
    ~RefusalLog();

    RefusalLog(const RefusalLog &) = delete;
    RefusalLog &operator=(const RefusalLog &) = delete;

    // True when the caller writes its line for this refusal now; false when it was counted
    // for the summary instead. `event` must be a string literal.
    bool admit(EventLog::Level level, const char *event, const QString &peer, const QString &result,
               Clock::time_point now = Clock::now());
    // Writes the summaries of the windows that ended by `now`.
    void flush(Clock::time_point now = Clock::now());
    // Keys tracked now, the overflow key included.
    int tracked() const;

    // The client's address without its port: "ipv4:10.0.0.5:53122" -> "ipv4:10.0.0.5".
    static QString addressOf(const QString &peer);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

} // namespace vorna::service
