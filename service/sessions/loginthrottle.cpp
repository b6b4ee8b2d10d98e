#include "sessions/loginthrottle.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>

namespace vorna::service {

namespace {

using std::chrono::milliseconds;

// Every this many reservations, entries long past forgetAfter are swept; bounds the table an
// attacker with many addresses can make us keep.
constexpr unsigned SweepEvery = 256;

const QString NetworkPrefix = QStringLiteral("address:");

QString userKey(const QString &user) { return QStringLiteral("user:") + user; }
QString networkKey(const QString &network) { return NetworkPrefix + network; }
// The network's length keeps "a" + "bc" apart from "ab" + "c".
QString trustedKey(const QString &user, const QString &network)
{
    return QStringLiteral("known:%1:%2%3").arg(network.size()).arg(network, user);
}

qint64 toMs(std::chrono::seconds seconds) { return milliseconds(seconds).count(); }

// "ipv6:[::1]" or "ipv6:%5B::1%5D" -> "::1"; empty when `address` is no IPv6 peer.
QString ipv6Text(const QString &address)
{
    if (!address.startsWith(QLatin1String("ipv6:")))
        return {};
    QString text = address.mid(5);
    text.replace(QLatin1String("%5B"), QLatin1String("["), Qt::CaseInsensitive);
    text.replace(QLatin1String("%5D"), QLatin1String("]"), Qt::CaseInsensitive);
    text.replace(QLatin1String("%25"), QLatin1String("%"));
    if (text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        text = text.mid(1, text.size() - 2);
    const int zone = text.indexOf(QLatin1Char('%'));
    return zone < 0 ? text : text.left(zone);
}

} // namespace

LoginThrottle::LoginThrottle(const Policy &policy)
    : m_policy(policy)
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

QString LoginThrottle::network(const QString &address)
{
    const QString text = ipv6Text(address);
    unsigned char bytes[16];
    if (text.isEmpty() || inet_pton(AF_INET6, text.toLatin1().constData(), bytes) != 1)
        return address;
    static const unsigned char mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    char out[INET6_ADDRSTRLEN];
    if (std::memcmp(bytes, mappedPrefix, sizeof mappedPrefix) == 0) {
        inet_ntop(AF_INET, bytes + 12, out, sizeof out);
        return QStringLiteral("ipv4:") + QString::fromLatin1(out);
    }
    std::fill(bytes + 8, bytes + 16, 0);
    inet_ntop(AF_INET6, bytes, out, sizeof out);
    return QStringLiteral("ipv6:[%1]/64").arg(QString::fromLatin1(out));
}

LoginThrottle::Reservation LoginThrottle::reserve(AccountStore &storage, const QString &user, const QString &address)
{
    Reservation reservation;
    reservation.network = network(address);
    const Result<bool> known = storage.loggedInRecently(user, reservation.network, m_policy.trustFor);
    if (!known) {
        reservation.error = known.error();
        return reservation;
    }
    reservation.trusted = *known;
    reservation.userKey = reservation.trusted ? trustedKey(user, reservation.network) : userKey(user);
    reservation.networkKey = networkKey(reservation.network);
    reservation.error = storage.updateLoginFailures({reservation.userKey, reservation.networkKey},
                                                    [&](QVector<LoginFailures> &entries, qint64 nowMs) {
                                                        reservation.countedAtMs = nowMs;
                                                        reservation.wait = countAttempt(entries, nowMs);
                                                        return reservation.wait.count() == 0;
                                                    });
    if (!reservation.error.ok()) {
        reservation.wait = milliseconds(0);
        return reservation;
    }
    forgetOldNowAndThen(storage, reservation.countedAtMs);
    return reservation;
}

StorageError LoginThrottle::succeeded(AccountStore &storage, const Reservation &reservation, qint64 userId)
{
    const StorageError counted = storage.updateLoginFailures(
        {reservation.userKey, reservation.networkKey}, [&](QVector<LoginFailures> &entries, qint64) {
            for (LoginFailures &entry : entries) {
                if (entry.key == reservation.networkKey)
                    takeBack(entry, reservation.countedAtMs);
                else
                    entry = {entry.key, 0, entry.lastFailureMs, 0};
            }
            return true;
        });
    const StorageError remembered = storage.rememberLogin(userId, reservation.network);
    return counted.ok() ? remembered : counted;
}

QString LoginThrottle::refusal(milliseconds wait)
{
    // Rounded up: trying again after the time told always finds the block ended.
    const qint64 seconds = std::max<qint64>((wait.count() + 999) / 1000, 1);
    return seconds == 1 ? QStringLiteral("Too many failed logins. Try again in 1 second.")
                        : QStringLiteral("Too many failed logins. Try again in %1 seconds.").arg(seconds);
}

milliseconds LoginThrottle::countAttempt(QVector<LoginFailures> &entries, qint64 nowMs) const
{
    qint64 blockedUntil = nowMs;
    for (const LoginFailures &entry : qAsConst(entries))
        blockedUntil = std::max(blockedUntil, entry.blockedUntilMs);
    if (blockedUntil > nowMs)
        return milliseconds(blockedUntil - nowMs);
    for (LoginFailures &entry : entries) {
        if (entry.failures > 0 && nowMs - entry.lastFailureMs > toMs(m_policy.forgetAfter))
            entry.failures = 0;
        ++entry.failures;
        entry.lastFailureMs = nowMs;
        entry.blockedUntilMs = nowMs + toMs(delayAfter(entry.failures, freeFailuresOf(entry), m_policy));
    }
    return milliseconds(0);
}

void LoginThrottle::takeBack(LoginFailures &entry, qint64 countedAtMs)
{
    entry.failures = std::max(entry.failures - 1, 0);
    // The attempt was let in, so any block before it had ended by then.
    if (entry.lastFailureMs == countedAtMs)
        entry.blockedUntilMs = std::min(entry.blockedUntilMs, countedAtMs);
}

int LoginThrottle::freeFailuresOf(const LoginFailures &entry) const
{
    return entry.key.startsWith(NetworkPrefix) ? m_policy.freeAddressFailures : m_policy.freeFailures;
}

void LoginThrottle::forgetOldNowAndThen(AccountStore &storage, qint64 nowMs)
{
    if (m_reservations.fetch_add(1, std::memory_order_relaxed) % SweepEvery != 0)
        return;
    storage.forgetLoginFailures(nowMs - toMs(m_policy.forgetAfter), nowMs);
    storage.forgetLogins(nowMs - toMs(m_policy.trustFor));
}

} // namespace vorna::service
