#pragma once
// Slows down password guessing. Failed logins are counted per user name and per client
// address; after a few free failures each further one blocks that key for a delay that doubles
// up to a cap. A successful login clears both keys. Failures older than `forgetAfter` are
// forgotten.
//
// The counts live in the database, so every service instance on it sees the same guesses, and
// an attempt is counted as a failure before its password is checked: N concurrent guesses
// count as N, and a correct password clears the count afterwards.

#include "storage/accountstore.h"

#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>

namespace vorna::service {

struct ThrottlePolicy
{
    int freeFailures = 3;
    // An address may stand for a whole office behind NAT or a fronting proxy, whose people log
    // in at the same moments: it gets more free failures than one user name.
    int freeAddressFailures = 30;
    std::chrono::seconds firstDelay{1};
    std::chrono::seconds maxDelay{300};
    std::chrono::seconds forgetAfter{900};
};

class LoginThrottle
{
public:
    using Policy = ThrottlePolicy;
    using UtcClock = std::function<QDateTime()>;

    explicit LoginThrottle(const Policy &policy = Policy(), UtcClock nowUtc = {});

    // The block that `failures` consecutive failures earn: zero while they are free, then
    // firstDelay, doubling with each further failure, never above maxDelay.
    static std::chrono::seconds delayAfter(int failures, const Policy &policy);
    // The same for `freeFailures` free failures instead of the policy's.
    static std::chrono::seconds delayAfter(int failures, int freeFailures, const Policy &policy);

    struct Reservation
    {
        StorageError error;           // the database failed; nothing was counted
        std::chrono::seconds wait{0}; // blocked: try again after this long; nothing was counted
        bool granted() const { return error.ok() && wait.count() == 0; }
    };

    // Counts this attempt as a failure of `user` and of `address` in one transaction, unless
    // either is blocked now. A granted attempt may check its password.
    Reservation reserve(AccountStore &storage, const QString &user, const QString &address);
    // After a correct password: forgets the failures of both keys.
    StorageError clear(AccountStore &storage, const QString &user, const QString &address);

    // The sentence for a refused attempt, e.g. "Too many failed logins. Try again in 8 seconds."
    static QString refusal(std::chrono::seconds wait);

private:
    // Counts one more failure at `now` into `entries`, or leaves them as they are and returns
    // the wait when one of them is blocked.
    std::chrono::seconds countAttempt(QVector<LoginFailures> &entries, qint64 now) const;
    void forgetOldNowAndThen(AccountStore &storage, qint64 now);

    const Policy m_policy;
    const UtcClock m_nowUtc;
    std::atomic<unsigned> m_reservations{0};
};

} // namespace vorna::service
