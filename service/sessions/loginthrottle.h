#pragma once
// Slows down password guessing. Failed logins are counted per user name and per client
// network (an IPv4 address, an IPv6 /64); after a few free failures each further one blocks
// that key for a delay that doubles up to a cap. Failures older than `forgetAfter` are
// forgotten.
//
// A user name's block must not lock its owner out: whoever guesses it from elsewhere could
// keep it blocked for good. So a network that logged in as the user with the right password
// within `trustFor` passes the user name's block; its attempts count under a key of that user
// and network instead, so guesses from there are slowed just the same, while the network's own
// block still applies.
//
// A success clears the count it was made under (the user name's, or the user and network's),
// and takes back its own attempt from the network's count, but never clears the network's:
// otherwise one good login among many guesses at other names would wipe the guesses.
//
// The counts live in the database, so every service instance on it sees the same guesses, and
// an attempt is counted as a failure before its password is checked: N concurrent guesses
// count as N. Every time is the database's, so clocks that differ between instances or step
// change nothing.

#include "storage/accountstore.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>

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
    // How long a network that logged in as a user stays that user's known place.
    std::chrono::seconds trustFor{30 * 24 * 3600};
};

class LoginThrottle
{
public:
    using Policy = ThrottlePolicy;

    explicit LoginThrottle(const Policy &policy = Policy());

    // The block that `failures` consecutive failures earn: zero while they are free, then
    // firstDelay, doubling with each further failure, never above maxDelay.
    static std::chrono::seconds delayAfter(int failures, const Policy &policy);
    // The same for `freeFailures` free failures instead of the policy's.
    static std::chrono::seconds delayAfter(int failures, int freeFailures, const Policy &policy);

    // The network a client address is counted under: "ipv6:[2001:db8:1:2::]/64" for any address
    // of that /64 (one machine or home usually holds a whole /64), an IPv4-mapped IPv6 address
    // as its IPv4 address, anything else as it is.
    static QString network(const QString &address);

    struct Reservation
    {
        StorageError error;                // the database failed; nothing was counted
        std::chrono::milliseconds wait{0}; // blocked: try again after this long; nothing was counted
        QString network;                   // the client's, see network()
        bool trusted = false;              // the network logged in as the user recently
        QString userKey;                   // the user name's key, or the user and network's when trusted
        QString networkKey;
        qint64 countedAtMs = 0;            // when the attempt was counted, by the database's clock
        bool granted() const { return error.ok() && wait.count() == 0; }
    };

    // Counts this attempt as a failure of the user's key and of the network's in one
    // transaction, unless either is blocked now. A granted attempt may check its password.
    Reservation reserve(AccountStore &storage, const QString &user, const QString &address);
    // After a correct password: clears the user's key, takes the attempt back from the
    // network's count and remembers the network as the user's.
    StorageError succeeded(AccountStore &storage, const Reservation &reservation, qint64 userId);

    // The sentence for a refused attempt, e.g. "Too many failed logins. Try again in 8 seconds."
    static QString refusal(std::chrono::milliseconds wait);

private:
    // Counts one more failure at `nowMs` into `entries`, or leaves them as they are and returns
    // the wait when one of them is blocked.
    std::chrono::milliseconds countAttempt(QVector<LoginFailures> &entries, qint64 nowMs) const;
    // Undoes the failure that a reservation counted at `countedAtMs` into a network's entry,
    // with the block it earned when no later failure was counted on top of it.
    static void takeBack(LoginFailures &entry, qint64 countedAtMs);
    int freeFailuresOf(const LoginFailures &entry) const;
    void forgetOldNowAndThen(AccountStore &storage, qint64 nowMs);

    const Policy m_policy;
    std::atomic<unsigned> m_reservations{0};
};

} // namespace vorna::service
