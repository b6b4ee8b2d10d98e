#include "rpc/sessionwatch.h"

#include "ops/eventlog.h"
#include "rpc/wireconvert.h"

namespace vorna::service {

namespace {

// At most one presence announcement a second on one session stream.
constexpr std::chrono::seconds PresenceGap{1};

SessionHub::Scope scopeOf(const User &user)
{
    return {user.allDepartments, user.departmentIds};
}

} // namespace

grpc::ServerWriteReactor<v1::SessionEvent> *SessionWatch::start(HandlerCore &core, grpc::CallbackServerContext *context)
{
    auto watch = std::make_shared<SessionWatch>(core, context);
    watch->m_self = watch;
    if (!core.post("watch", watch->m_peer, [watch] { watch->admit(); }))
        watch->finish(HandlerCore::busy());
    return watch.get();
}

SessionWatch::SessionWatch(HandlerCore &core, grpc::CallbackServerContext *context)
    : m_core(core)
    , m_context(context)
    , m_peer(HandlerCore::peerOf(context))
    , m_watchdog(core.watchWrites(context))
{
}

// On a database worker.
void SessionWatch::admit()
{
    const grpc::Status refusal = m_core.admitStream(m_context, "watch", &m_caller);
    if (!refusal.ok()) {
        finish(refusal);
        return;
    }
    const std::weak_ptr<SessionWatch> weak = weak_from_this();
    m_watch = m_core.hub.watch(m_caller.tokenHash(), [weak](const QString &reason) {
        if (const auto watch = weak.lock())
            watch->ended(reason);
    });
    m_watch->followPresence(scopeOf(m_caller.user()), [weak] {
        if (const auto watch = weak.lock())
            watch->presenceChanged();
    });
    // The first heartbeat goes out at once: it tells the client the stream stands.
    beat();
}

// On a database worker.
void SessionWatch::beat()
{
    proceed(m_core.sessionEndReason(m_caller.tokenHash()));
}

void SessionWatch::proceed(const QString &recheckReason)
{
    QString reason;
    bool cancelled = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        cancelled = m_cancelled;
        reason = m_endReason.isEmpty() ? recheckReason : m_endReason;
        m_endingSent = !cancelled && !reason.isEmpty();
    }
    if (cancelled) {
        finish(HandlerCore::clientGone());
    } else if (!reason.isEmpty()) {
        write(v1::SessionEvent::ENDING, reason);
    } else {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_nextBeat = TimerQueue::Clock::now() + m_core.config.heartbeat;
        }
        write(v1::SessionEvent::HEARTBEAT);
    }
}

bool SessionWatch::takePresenceOrPlanWake(TimerQueue::Clock::time_point now, TimerQueue::Clock::time_point *wakeAt)
{
    *wakeAt = m_nextBeat;
    if (!m_presencePending)
        return false;
    const TimerQueue::Clock::time_point allowed = m_lastPresenceSent + PresenceGap;
    if (now < allowed) {
        *wakeAt = std::min(allowed, m_nextBeat);
        return false;
    }
    m_presencePending = false;
    m_lastPresenceSent = now;
    m_step = Step::Working;
    return true;
}

void SessionWatch::scheduleWake(quint64 round, TimerQueue::Clock::time_point at)
{
    const std::weak_ptr<SessionWatch> weak = weak_from_this();
    m_core.timers.schedule(at, [weak, round] {
        if (const auto watch = weak.lock())
            watch->wake(round);
    });
}

// From the hub, on the thread that stored the change or heard of it.
void SessionWatch::presenceChanged()
{
    TimerQueue::Clock::time_point wakeAt;
    quint64 round = 0;
    bool announce = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_step == Step::Finished || m_cancelled || !m_endReason.isEmpty())
            return;
        m_presencePending = true;
        if (m_step != Step::Waiting)
            return; // the step under way takes it up when it completes
        announce = takePresenceOrPlanWake(TimerQueue::Clock::now(), &wakeAt);
        round = ++m_round;
    }
    if (announce)
        write(v1::SessionEvent::PRESENCE_CHANGED);
    else
        scheduleWake(round, wakeAt);
}

void SessionWatch::OnWriteDone(bool ok)
{
    m_watchdog->writeDone();
    if (!ok && m_watchdog->fired())
        m_core.stalled("watch", m_peer, m_caller.user().name);
    enum { Ended, Gone, Ending, Announce, Wait } next = Wait;
    QString reason;
    quint64 round = 0;
    TimerQueue::Clock::time_point wakeAt;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_endingSent) {
            next = Ended;
        } else if (!ok || m_cancelled) {
            next = Gone;
        } else if (!m_endReason.isEmpty()) {
            next = Ending;
            reason = m_endReason;
            m_endingSent = true;
        } else {
            m_step = Step::Waiting;
            round = ++m_round;
            if (takePresenceOrPlanWake(TimerQueue::Clock::now(), &wakeAt))
                next = Announce;
        }
    }
    switch (next) {
    case Ended:
        EventLog::info("session-end", {{"user", m_caller.user().name}, {"peer", m_peer},
                                       {"reason", wire::text(m_event.reason())}});
        finish(grpc::Status::OK);
        break;
    case Gone:
        finish(HandlerCore::clientGone());
        break;
    case Ending:
        write(v1::SessionEvent::ENDING, reason);
        break;
    case Announce:
        write(v1::SessionEvent::PRESENCE_CHANGED);
        break;
    case Wait:
        scheduleWake(round, wakeAt);
        break;
    }
}

// On the timer's thread: the heartbeat or a presence announcement is due.
void SessionWatch::wake(quint64 round)
{
    bool announce = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_step != Step::Waiting || round != m_round)
            return;
        const TimerQueue::Clock::time_point now = TimerQueue::Clock::now();
        TimerQueue::Clock::time_point wakeAt;
        if (now < m_nextBeat && takePresenceOrPlanWake(now, &wakeAt)) {
            ++m_round;
            announce = true;
        }
        m_step = Step::Working;
    }
    if (announce) {
        write(v1::SessionEvent::PRESENCE_CHANGED);
        return;
    }
    const std::shared_ptr<SessionWatch> self = shared_from_this();
    // With every worker busy the session goes unchecked this once; the client still hears
    // that the stream stands.
    if (!m_core.post("watch", m_peer, [self] { self->beat(); }))
        proceed(QString());
}

// From the hub, on the thread that ended the session.
void SessionWatch::ended(const QString &reason)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_step == Step::Finished || !m_endReason.isEmpty())
            return;
        m_endReason = reason;
        if (m_step != Step::Waiting)
            return; // the step under way takes it up
        m_step = Step::Working;
        ++m_round;
        m_endingSent = true;
    }
    write(v1::SessionEvent::ENDING, reason);
}

void SessionWatch::OnCancel()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cancelled = true;
        if (m_step != Step::Waiting)
            return; // the step under way finishes the stream
        m_step = Step::Finished;
    }
    finish(HandlerCore::clientGone());
}

void SessionWatch::OnDone()
{
    m_watchdog->disarm();
    m_watch.reset();
    m_self.reset(); // may destroy this reactor
}

void SessionWatch::write(v1::SessionEvent::Kind kind, const QString &reason)
{
    m_event.set_kind(kind);
    wire::toWire(wire::civilNow(), m_event.mutable_service_time());
    m_event.set_reason(wire::utf8(reason));
    m_watchdog->writeStarted();
    StartWrite(&m_event);
}

void SessionWatch::finish(const grpc::Status &status)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_step = Step::Finished;
    }
    m_caller.releaseStream();
    Finish(status);
}

} // namespace vorna::service
