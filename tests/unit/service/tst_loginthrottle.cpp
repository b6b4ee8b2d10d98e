// Login throttling: the delay arithmetic and the bookkeeping per user and per address.

#include "loginthrottle.h"

#include <QtTest>

using namespace vorna::service;
using namespace std::chrono_literals;

class TestLoginThrottle : public QObject
{
    Q_OBJECT

private:
    static ThrottlePolicy policy()
    {
        ThrottlePolicy p;
        p.freeFailures = 3;
        p.firstDelay = 2s;
        p.maxDelay = 60s;
        p.forgetAfter = 600s;
        return p;
    }

    // Fails `count` times, one second apart, starting at `start`; returns the last moment.
    static LoginThrottle::Clock::time_point failTimes(LoginThrottle &throttle, const QString &user,
                                                      const QString &address, int count,
                                                      LoginThrottle::Clock::time_point start)
    {
        auto now = start;
        for (int i = 0; i < count; ++i) {
            now += 1s;
            throttle.recordFailure(user, address, now);
        }
        return now;
    }

private slots:
    void delayGrowsByDoublingUpToTheCap_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("none") << 0 << qint64(0);
        QTest::newRow("last free") << 3 << qint64(0);
        QTest::newRow("first paid") << 4 << qint64(2);
        QTest::newRow("second paid") << 5 << qint64(4);
        QTest::newRow("third paid") << 6 << qint64(8);
        QTest::newRow("just below cap") << 8 << qint64(32);
        QTest::newRow("capped") << 9 << qint64(60);
        QTest::newRow("far past cap, no overflow") << 500 << qint64(60);
    }

    void delayGrowsByDoublingUpToTheCap()
    {
        QFETCH(int, failures);
        QFETCH(qint64, seconds);
        QCOMPARE(LoginThrottle::delayAfter(failures, policy()).count(), seconds);
    }

    void blocksAUserAfterTheFreeFailuresFromAnyAddress()
    {
        LoginThrottle throttle(policy());
        const auto t0 = LoginThrottle::Clock::time_point();
        auto now = failTimes(throttle, QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), 3, t0);
        QCOMPARE(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.9"), now).count(), 0);

        throttle.recordFailure(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.2"), now);
        // Another address, same user: still blocked for the first paid delay.
        QCOMPARE(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.9"), now).count(), 2);
        QCOMPARE(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.9"), now + 1500ms).count(), 1);
        QCOMPARE(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.9"), now + 2s).count(), 0);
        // A different user from a clean address is not affected.
        QCOMPARE(throttle.retryAfter(QStringLiteral("bob"), QStringLiteral("ipv4:10.0.0.9"), now).count(), 0);
    }

    void blocksAnAddressThatTriesManyUsers()
    {
        LoginThrottle throttle(policy());
        auto now = LoginThrottle::Clock::time_point();
        for (const char *user : {"a", "b", "c", "d", "e"}) {
            now += 1s;
            throttle.recordFailure(QString::fromLatin1(user), QStringLiteral("ipv6:[::1]"), now);
        }
        // Five failures from one address: the second paid delay, even for a fresh user name.
        QCOMPARE(throttle.retryAfter(QStringLiteral("fresh"), QStringLiteral("ipv6:[::1]"), now).count(), 4);
        QCOMPARE(throttle.retryAfter(QStringLiteral("fresh"), QStringLiteral("ipv4:10.0.0.1"), now).count(), 0);
    }

    void successClearsBothUserAndAddress()
    {
        LoginThrottle throttle(policy());
        auto now = failTimes(throttle, QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), 5,
                             LoginThrottle::Clock::time_point());
        QVERIFY(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), now).count() > 0);
        throttle.recordSuccess(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"));
        QCOMPARE(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), now).count(), 0);
        // The count starts over: the next three failures are free again.
        now = failTimes(throttle, QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), 3, now);
        QCOMPARE(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), now).count(), 0);
    }

    void oldFailuresAreForgotten()
    {
        LoginThrottle throttle(policy());
        auto now = failTimes(throttle, QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), 3,
                             LoginThrottle::Clock::time_point());
        // Long after: this failure is the first of a new series, so it is free.
        now += 601s;
        throttle.recordFailure(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), now);
        QCOMPARE(throttle.retryAfter(QStringLiteral("ana"), QStringLiteral("ipv4:10.0.0.1"), now).count(), 0);
    }

    void refusalSaysWhenToTryAgain()
    {
        QCOMPARE(LoginThrottle::refusal(1s), QStringLiteral("Too many failed logins. Try again in 1 second."));
        QCOMPARE(LoginThrottle::refusal(16s), QStringLiteral("Too many failed logins. Try again in 16 seconds."));
    }
};

QTEST_GUILESS_MAIN(TestLoginThrottle)
#include "tst_loginthrottle.moc"
