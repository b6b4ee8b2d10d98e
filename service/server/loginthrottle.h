#pragma once
// Slows down password guessing. Failed logins are counted per user name and per client
// address; after a few free failures each further one blocks that key for a delay that doubles
// up to a cap. A successful login clears both keys. Failures older than `forgetAfter` are
// forgotten. The counts live in this process only.

#include <QHash>
#include <QString>

#include <chrono>
#include <mutex>

namespace vorna::service {

struct ThrottlePolicy
{
    int freeFailures = 3;
    std::chrono::seconds firstDelay{1};
    std::chrono::seconds maxDelay{300};
    std::chrono::seconds forgetAfter{900};
};

class LoginThrottle
{
public:
    using Clock = std::chrono::steady_clock;
    using Policy = ThrottlePolicy;

    explicit LoginThrottle(const Policy &policy = Policy());

    // The block that `failures` consecutive failures earn: zero while they are free, then
    // firstDelay, doubling with each further failure, never above maxDelay.
    static std::chrono::seconds delayAfter(int failures, const Policy &policy);

    // How long the caller must still wait before trying; zero when it may try now.
    std::chrono::seconds retryAfter(const QString &user, const QString &address, Clock::time_point now);
    void recordFailure(const QString &user, const QString &address, Clock::time_point now);
    void recordSuccess(const QString &user, const QString &address);

    // The sentence for a refused attempt, e.g. "Too many failed logins. Try again in 8 seconds."
    static QString refusal(std::chrono::seconds wait);

private:
    struct Entry
    {
        int failures = 0;
        Clock::time_point lastFailure;
        Clock::time_point blockedUntil;
    };

    std::chrono::seconds remaining(const QString &key, Clock::time_point now) const;
    void fail(const QString &key, Clock::time_point now);
    void forgetOld(Clock::time_point now);

    const Policy m_policy;
    std::mutex m_mutex;
    QHash<QString, Entry> m_entries;
};

} // namespace vorna::service
