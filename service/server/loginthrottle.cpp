#include "loginthrottle.h"

#include <algorithm>

namespace vorna::service {

namespace {

// Beyond this many keys, stale ones are swept on the next failure; bounds the memory an
// attacker with many addresses can make us hold.
constexpr int SweepThreshold = 10000;

QString userKey(const QString &user) { return QStringLiteral("user:") + user; }
QString addressKey(const QString &address) { return QStringLiteral("address:") + address; }

} // namespace

LoginThrottle::LoginThrottle(const Policy &policy)
    : m_policy(policy)
{
}

std::chrono::seconds LoginThrottle::delayAfter(int failures, const Policy &policy)
{
    const int doublings = failures - policy.freeFailures - 1;
    if (doublings < 0)
        return std::chrono::seconds(0);
    // Past 30 doublings any first delay is beyond the cap anyway; stop before overflow.
    const qint64 delay = doublings >= 30 ? policy.maxDelay.count()
                                         : policy.firstDelay.count() * (qint64(1) << doublings);
    return std::chrono::seconds(std::min<qint64>(delay, policy.maxDelay.count()));
}

std::chrono::seconds LoginThrottle::retryAfter(const QString &user, const QString &address,
                                               Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::max(remaining(userKey(user), now), remaining(addressKey(address), now));
}

void LoginThrottle::recordFailure(const QString &user, const QString &address, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_entries.size() > SweepThreshold)
        forgetOld(now);
    fail(userKey(user), now);
    fail(addressKey(address), now);
}

void LoginThrottle::recordSuccess(const QString &user, const QString &address)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.remove(userKey(user));
    m_entries.remove(addressKey(address));
}

QString LoginThrottle::refusal(std::chrono::seconds wait)
{
    const qint64 seconds = std::max<qint64>(wait.count(), 1);
    return seconds == 1 ? QStringLiteral("Too many failed logins. Try again in 1 second.")
                        : QStringLiteral("Too many failed logins. Try again in %1 seconds.").arg(seconds);
}

std::chrono::seconds LoginThrottle::remaining(const QString &key, Clock::time_point now) const
{
    const auto it = m_entries.constFind(key);
    if (it == m_entries.constEnd() || it->blockedUntil <= now)
        return std::chrono::seconds(0);
    // Round up, so "try again in N seconds" is never too early.
    return std::chrono::ceil<std::chrono::seconds>(it->blockedUntil - now);
}

void LoginThrottle::fail(const QString &key, Clock::time_point now)
{
    Entry &entry = m_entries[key];
    if (entry.failures > 0 && now - entry.lastFailure > m_policy.forgetAfter)
        entry = Entry();
    ++entry.failures;
    entry.lastFailure = now;
    entry.blockedUntil = now + delayAfter(entry.failures, m_policy);
}

void LoginThrottle::forgetOld(Clock::time_point now)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const bool stale = it->blockedUntil <= now && now - it->lastFailure > m_policy.forgetAfter;
        it = stale ? m_entries.erase(it) : std::next(it);
    }
}

} // namespace vorna::service
