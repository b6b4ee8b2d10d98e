#include "sessionhub.h"

namespace vorna::service {

SessionHub::Watch::Watch(SessionHub &hub, const QByteArray &tokenHash)
    : m_hub(hub)
    , m_tokenHash(tokenHash)
{
}

SessionHub::Watch::~Watch()
{
    std::lock_guard<std::mutex> lock(m_hub.m_mutex);
    m_hub.m_watches.remove(m_tokenHash, this);
}

QString SessionHub::Watch::waitForEnd(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_hub.m_mutex);
    m_hub.m_ended.wait_for(lock, timeout, [this] { return !m_reason.isEmpty(); });
    return m_reason;
}

std::unique_ptr<SessionHub::Watch> SessionHub::watch(const QByteArray &tokenHash)
{
    std::unique_ptr<Watch> watch(new Watch(*this, tokenHash));
    std::lock_guard<std::mutex> lock(m_mutex);
    watch->m_reason = m_shutdownReason;
    m_watches.insert(tokenHash, watch.get());
    return watch;
}

void SessionHub::end(const QByteArray &tokenHash, const QString &reason)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_watches.find(tokenHash); it != m_watches.end() && it.key() == tokenHash; ++it)
            (*it)->m_reason = reason;
    }
    m_ended.notify_all();
}

void SessionHub::shutdown(const QString &reason)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shutdownReason = reason;
        for (Watch *watch : qAsConst(m_watches))
            watch->m_reason = reason;
    }
    m_ended.notify_all();
}

int SessionHub::openWatches() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_watches.size();
}

} // namespace vorna::service
