#include "rpc/streamlimiter.h"

#include <utility>

namespace vorna::service {

StreamLimiter::Slot::Slot(StreamLimiter *limiter, const QByteArray &key)
    : m_limiter(limiter)
    , m_key(key)
{
}

StreamLimiter::Slot::Slot(Slot &&other) noexcept
    : m_limiter(std::exchange(other.m_limiter, nullptr))
    , m_key(std::move(other.m_key))
{
}

StreamLimiter::Slot &StreamLimiter::Slot::operator=(Slot &&other) noexcept
{
    if (this != &other) {
        release();
        m_limiter = std::exchange(other.m_limiter, nullptr);
        m_key = std::move(other.m_key);
    }
    return *this;
}

StreamLimiter::Slot::~Slot()
{
    release();
}

void StreamLimiter::Slot::release()
{
    if (m_limiter)
        std::exchange(m_limiter, nullptr)->release(m_key);
}

StreamLimiter::StreamLimiter(int perSession)
    : m_perSession(perSession)
{
}

StreamLimiter::Slot StreamLimiter::acquire(const QByteArray &sessionKey)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int &count = m_open[sessionKey];
    if (count >= m_perSession)
        return Slot();
    ++count;
    return Slot(this, sessionKey);
}

int StreamLimiter::open(const QByteArray &sessionKey) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open.value(sessionKey);
}

void StreamLimiter::release(const QByteArray &key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_open.find(key);
    if (it != m_open.end() && --*it <= 0)
        m_open.erase(it);
}

} // namespace vorna::service
