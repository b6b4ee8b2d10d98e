#include "sessions/loginthrottle.h"

#include <algorithm>

namespace vorna::service {

namespace {

// Every this many reservations, entries long past forgetAfter are swept; bounds the table an
// attacker with many addresses can make us keep.
constexpr unsigned SweepEvery = 256;

QString userKey(const QString &user) { return QStringLiteral("user:") + user; }
const QString AddressPrefix = QStringLiteral("address:");

QString addressKey(const QString &address) { return AddressPrefix + address; }

} // namespace

LoginThrottle::LoginThrottle(const Policy &policy, UtcClock nowUtc)
    : m_policy(policy)
    , m_nowUtc(nowUtc ? std::move(nowUtc) : [] { return QDateTime::currentDateTimeUtc(); })
{
}

std::chrono::seconds LoginThrottle::delayAfter(int failures, const Policy &policy)
{
    return delayAfter(failures, policy.freeFailures, policy);
}

std::chrono::seconds LoginThrottle::delayAfter(int failures, int freeFailures, const Policy &policy)
{
    const int doublings = failures - freeFailures - 1;
    if (doublings < 0)
        return std::chrono::seconds(0);
    // Past 30 doublings any first delay is beyond the cap anyway; stop before overflow.
    const qint64 delay = doublings >= 30 ? policy.maxDelay.count()
                                         : policy.firstDelay.count() * (qint64(1) << doublings);
    return std::chrono::seconds(std::min<qint64>(delay, policy.maxDelay.count()));
}

LoginThrottle::Reservation LoginThrottle::reserve(AccountStore &storage, const QString &user, const QString &address)
{
    const qint64 now = m_nowUtc().toSecsSinceEpoch();
    forgetOldNowAndThen(storage, now);
    Reservation reservation;
    reservation.error = storage.updateLoginFailures({userKey(user), addressKey(address)},
                                                    [&](QVector<LoginFailures> &entries) {
                                                        reservation.wait = countAttempt(entries, now);
                                                        return reservation.wait.count() == 0;
                                                    });
    if (!reservation.error.ok())
        reservation.wait = std::chrono::seconds(0);
    return reservation;
}

StorageError LoginThrottle::clear(AccountStore &storage, const QString &user, const QString &address)
{
    return storage.clearLoginFailures({userKey(user), addressKey(address)});
}

QString LoginThrottle::refusal(std::chrono::seconds wait)
{
    const qint64 seconds = std::max<qint64>(wait.count(), 1);
    return seconds == 1 ? QStringLiteral("Too many failed logins. Try again in 1 second.")
                        : QStringLiteral("Too many failed logins. Try again in %1 seconds.").arg(seconds);
}

std::chrono::seconds LoginThrottle::countAttempt(QVector<LoginFailures> &entries, qint64 now) const
{
    qint64 blockedUntil = now;
    for (const LoginFailures &entry : qAsConst(entries))
        blockedUntil = std::max(blockedUntil, entry.blockedUntilUtc);
    if (blockedUntil > now)
        return std::chrono::seconds(blockedUntil - now);
    for (LoginFailures &entry : entries) {
        if (entry.failures > 0 && now - entry.lastFailureUtc > m_policy.forgetAfter.count())
            entry.failures = 0;
        ++entry.failures;
        entry.lastFailureUtc = now;
        const int free = entry.key.startsWith(AddressPrefix) ? m_policy.freeAddressFailures
                                                                          : m_policy.freeFailures;
        entry.blockedUntilUtc = now + delayAfter(entry.failures, free, m_policy).count();
    }
    return std::chrono::seconds(0);
}

void LoginThrottle::forgetOldNowAndThen(AccountStore &storage, qint64 now)
{
    if (m_reservations.fetch_add(1, std::memory_order_relaxed) % SweepEvery == 0)
        storage.forgetLoginFailures(now - m_policy.forgetAfter.count(), now);
}

} // namespace vorna::service
