#include "sessions/sessionhub.h"

#include <vector>

namespace vorna::service {

namespace {

void notifyAll(const std::vector<SessionHub::Notify> &notifies, const QString &reason)
{
    for (const SessionHub::Notify &notify : notifies)
        notify(reason);
}

} // namespace

SessionHub::Watch::Watch(SessionHub &hub, const QByteArray &tokenHash, Notify notify)
    : m_hub(hub)
    , m_tokenHash(tokenHash)
    , m_notify(std::move(notify))
{
}

SessionHub::Watch::~Watch()
{
    std::lock_guard<std::mutex> lock(m_hub.m_mutex);
    m_hub.m_watches.remove(m_tokenHash, this);
}

QString SessionHub::Watch::reason() const
{
    std::lock_guard<std::mutex> lock(m_hub.m_mutex);
    return m_reason;
}

void SessionHub::Watch::followPresence(const Scope &scope, PresenceNotify notify)
{
    std::lock_guard<std::mutex> lock(m_hub.m_mutex);
    m_scope = scope;
    m_presence = std::move(notify);
}

QString SessionHub::Watch::waitForEnd(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_hub.m_mutex);
    m_hub.m_ended.wait_for(lock, timeout, [this] { return !m_reason.isEmpty(); });
    return m_reason;
}

SessionHub::Notify SessionHub::endWatch(Watch *watch, const QString &reason)
{
    if (!watch->m_reason.isEmpty())
        return {};
    watch->m_reason = reason;
    return watch->m_notify;
}

std::unique_ptr<SessionHub::Watch> SessionHub::watch(const QByteArray &tokenHash, Notify notify)
{
    std::unique_ptr<Watch> watch(new Watch(*this, tokenHash, std::move(notify)));
    Notify ended;
    QString reason;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_watches.insert(tokenHash, watch.get());
        reason = m_shutdownReason;
        if (!reason.isEmpty())
            ended = endWatch(watch.get(), reason);
    }
    if (ended)
        ended(reason);
    return watch;
}

void SessionHub::end(const QByteArray &tokenHash, const QString &reason)
{
    std::vector<Notify> notifies;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_watches.find(tokenHash); it != m_watches.end() && it.key() == tokenHash; ++it) {
            if (Notify notify = endWatch(*it, reason))
                notifies.push_back(std::move(notify));
        }
    }
    m_ended.notify_all();
    notifyAll(notifies, reason);
}

void SessionHub::shutdown(const QString &reason)
{
    std::vector<Notify> notifies;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdownReason = reason;
        for (Watch *watch : qAsConst(m_watches)) {
            if (Notify notify = endWatch(watch, reason))
                notifies.push_back(std::move(notify));
        }
    }
    m_ended.notify_all();
    notifyAll(notifies, reason);
}

void SessionHub::presenceChanged(qint64 departmentId)
{
    notifyPresence([departmentId](const Scope &scope) { return scope.includes(departmentId); });
}

void SessionHub::presenceMayHaveChangedAnywhere()
{
    notifyPresence([](const Scope &scope) { return scope.allDepartments || !scope.departmentIds.isEmpty(); });
}

void SessionHub::notifyPresence(const std::function<bool(const Scope &)> &concerns)
{
    std::vector<PresenceNotify> notifies;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (Watch *watch : qAsConst(m_watches)) {
            if (watch->m_presence && watch->m_reason.isEmpty() && concerns(watch->m_scope))
                notifies.push_back(watch->m_presence);
        }
    }
    for (const PresenceNotify &notify : notifies)
        notify();
}

int SessionHub::openWatches() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_watches.size();
}

} // namespace vorna::service
