#pragma once
// The session stream as a reactor: a heartbeat now and then every `heartbeat` seconds, and
// ENDING with the reason when the session ends (logout here, shutdown, expiry or removal
// found by the recheck before each heartbeat). Between heartbeats it holds no thread: the
// shared timer wakes it, and the recheck runs on a database worker. When someone's presence
// changes within the session's departments it sends PRESENCE_CHANGED, at most one a second:
// a change that comes sooner is announced by the next one, sent after the change was stored.
//
// One step runs at a time (a recheck, a write, or the wait for the timer). Whoever moves the
// stream out of the wait owns the next step; events that come while a step runs (the hub's
// end, a cancel) are noted and taken up when it completes. So a client that takes no data
// leaves one event waiting to go out, never a pile of them, and a write that has not gone out
// within the call timeout cancels the call.

#include "rpc/handlercore.h"

#include <memory>

namespace vorna::service {

class SessionWatch final : public grpc::ServerWriteReactor<v1::SessionEvent>,
                           public std::enable_shared_from_this<SessionWatch>
{
public:
    static grpc::ServerWriteReactor<v1::SessionEvent> *start(HandlerCore &core, grpc::CallbackServerContext *context);

    SessionWatch(HandlerCore &core, grpc::CallbackServerContext *context);

    void OnWriteDone(bool ok) override;
    void OnCancel() override;
    void OnDone() override;

private:
    enum class Step { Working, Waiting, Finished };

    void admit();
    void beat();
    void proceed(const QString &recheckReason);
    void wake(quint64 round);
    void ended(const QString &reason);
    void presenceChanged();
    // With the lock held, in the Waiting step: the presence event if one may go now (the
    // stream then works on it), else when the timer should wake the stream next.
    bool takePresenceOrPlanWake(TimerQueue::Clock::time_point now, TimerQueue::Clock::time_point *wakeAt);
    void scheduleWake(quint64 round, TimerQueue::Clock::time_point at);
    void write(v1::SessionEvent::Kind kind, const QString &reason = QString());
    void finish(const grpc::Status &status);

    HandlerCore &m_core;
    grpc::CallbackServerContext *const m_context;
    const QString m_peer; // gRPC forgets the peer once the call is cancelled
    const std::unique_ptr<WriteWatchdog> m_watchdog;
    std::shared_ptr<SessionWatch> m_self; // keeps the reactor alive until OnDone
    HandlerCore::Caller m_caller;
    std::unique_ptr<SessionHub::Watch> m_watch;
    v1::SessionEvent m_event;

    std::mutex m_mutex;
    Step m_step = Step::Working;
    quint64 m_round = 0;      // tells a stale timer from the current one
    QString m_endReason;      // set by the hub
    bool m_cancelled = false;
    bool m_endingSent = false;
    TimerQueue::Clock::time_point m_nextBeat;          // when the next heartbeat is due
    bool m_presencePending = false;                    // a change waits to be announced
    TimerQueue::Clock::time_point m_lastPresenceSent;  // for the gap between two announcements
};

} // namespace vorna::service
