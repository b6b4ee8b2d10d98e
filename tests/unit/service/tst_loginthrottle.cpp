// Login throttling on a real database (SQLite, and PostgreSQL when VORNA_TEST_PG names a
// server): the delay arithmetic, the bookkeeping per user and per address, concurrent guesses,
// two service instances on one database, and the cap on sessions per user.

#include "sessions/authenticator.h"
#include "sessions/loginthrottle.h"
#include "support/storagefixture.h"
#include "sessions/tokens.h"

#include <QtTest>

#include <atomic>
#include <thread>

using namespace vorna::service;
using namespace std::chrono_literals;

namespace {

const QString ana = QStringLiteral("ana");
const QString here = QStringLiteral("ipv4:10.0.0.1");
const QByteArray rightPassword = "correct horse";

ThrottlePolicy policy()
{
    ThrottlePolicy p;
    p.freeFailures = 3;
    p.freeAddressFailures = 3;
    p.firstDelay = 2s;
    p.maxDelay = 60s;
    p.forgetAfter = 600s;
    return p;
}

// One service instance's login path, on its own connection to the shared database.
struct Instance
{
    Instance(Database &storage, const LoginThrottle::UtcClock &clock, int maxSessions)
        : throttle(policy(), clock)
        , sessions(storage.accounts(), SessionPolicy{600s, maxSessions}, clock)
        , authenticator(storage.accounts(), sessions, throttle, hasher)
    {
    }

    Authenticator::Outcome login(const QByteArray &password)
    {
        return authenticator.login(ana, password, QStringLiteral("test"), here + QStringLiteral(":5000")).outcome;
    }

    PasswordHasher hasher{1};
    LoginThrottle throttle;
    SessionManager sessions;
    Authenticator authenticator;
};

} // namespace

class TestLoginThrottle : public StorageTestCase
{
    Q_OBJECT

private:
    QDateTime m_now;

    LoginThrottle throttle() { return LoginThrottle(policy(), [this] { return m_now; }); }
    LoginThrottle::UtcClock clock() { return [this] { return m_now; }; }

    // Attempts that are all let in and fail, one second apart.
    void fail(LoginThrottle &throttle, const QString &user, const QString &address, int count)
    {
        for (int i = 0; i < count; ++i) {
            m_now = m_now.addSecs(1);
            QVERIFY(throttle.reserve(m_fixture.storage().accounts(), user, address).granted());
        }
    }

    // The wait of one more attempt (which counts when let in); -1 when the database failed.
    qint64 wait(LoginThrottle &throttle, const QString &user, const QString &address)
    {
        const LoginThrottle::Reservation reservation = throttle.reserve(m_fixture.storage().accounts(), user, address);
        return reservation.error.ok() ? reservation.wait.count() : -1;
    }

    void seed() override
    {
        m_now = QDateTime(QDate(2024, 5, 6), QTime(9, 0), Qt::UTC);
        User user = managerOfAll(ana);
        user.passwordHash = PasswordHasher(1).hash(rightPassword);
        STORAGE_OK(m_fixture.storage().accounts().addUser(user));
    }

private slots:
    void initTestCase() { QVERIFY(PasswordHasher::initializeSodium()); }

    void delayGrowsByDoublingUpToTheCap()
    {
        const std::pair<int, qint64> cases[] = {{0, 0}, {3, 0}, {4, 2}, {5, 4}, {6, 8}, {8, 32}, {9, 60}, {500, 60}};
        for (const auto &[failures, seconds] : cases)
            QCOMPARE(LoginThrottle::delayAfter(failures, policy()).count(), seconds);
    }

    void blocksAUserAfterTheFreeFailuresFromAnyAddress()
    {
        LoginThrottle t = throttle();
        fail(t, ana, here, 4);
        // Another address, same user: blocked for the first paid delay, and nothing counted.
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.9")), 2);
        m_now = m_now.addSecs(1);
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.9")), 1);
        m_now = m_now.addSecs(1);
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.9")), 0);
        // That attempt was the fifth failure of ana: the second paid delay.
        QCOMPARE(wait(t, ana, here), 4);
        // A different user from a clean address is not affected.
        QCOMPARE(wait(t, QStringLiteral("bob"), QStringLiteral("ipv4:10.0.0.8")), 0);
    }

    void blocksAnAddressThatTriesManyUsers()
    {
        LoginThrottle t = throttle();
        // Two seconds apart, so that the first paid delay has passed when the fifth comes.
        for (const char *user : {"a", "b", "c", "d", "e"}) {
            m_now = m_now.addSecs(1);
            fail(t, QString::fromLatin1(user), QStringLiteral("ipv6:[::1]"), 1);
        }
        // Five failures from one address: the second paid delay, even for a fresh user name.
        QCOMPARE(wait(t, QStringLiteral("fresh"), QStringLiteral("ipv6:[::1]")), 4);
        QCOMPARE(wait(t, QStringLiteral("fresh"), QStringLiteral("ipv4:10.0.0.1")), 0);

        // An address may be a whole office: by default it has more free failures than a user.
        ThrottlePolicy office = policy();
        office.freeAddressFailures = 10;
        LoginThrottle shared(office, [this] { return m_now; });
        for (int i = 0; i < 10; ++i)
            fail(shared, QStringLiteral("user%1").arg(i), QStringLiteral("ipv4:192.0.2.7"), 1);
        QCOMPARE(wait(shared, QStringLiteral("fresh"), QStringLiteral("ipv4:192.0.2.7")), 0);
        QCOMPARE(wait(shared, QStringLiteral("other"), QStringLiteral("ipv4:192.0.2.7")), 2);
    }

    void successClearsAndOldFailuresAreForgotten()
    {
        LoginThrottle t = throttle();
        fail(t, ana, here, 4);
        QCOMPARE(wait(t, ana, here), 2);
        STORAGE_OK(t.clear(m_fixture.storage().accounts(), ana, here));
        // The count starts over: three free failures, and the fourth attempt is let in.
        fail(t, ana, here, 4);
        QCOMPARE(wait(t, ana, here), 2);

        // Long after: the next failure is the first of a new series.
        m_now = m_now.addSecs(601);
        fail(t, ana, here, 4);
        QCOMPARE(wait(t, ana, here), 2);
    }

    void concurrentGuessesAreCountedOneByOne()
    {
        // Two instances on one database, fifteen guesses at once on each, at the same moment.
        StorageError opened;
        std::unique_ptr<Database> second = openDatabase(m_fixture.location(), &opened);
        QVERIFY(second);
        LoginThrottle first = throttle();
        LoginThrottle other = throttle();
        std::atomic<int> granted{0};
        std::atomic<int> refused{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < 30; ++i) {
            threads.emplace_back([&, i] {
                Database &storage = i % 2 ? *second : m_fixture.storage();
                const LoginThrottle::Reservation r = (i % 2 ? other : first).reserve(storage.accounts(), ana, here);
                if (!r.error.ok())
                    qWarning("%s", qPrintable(r.error.message));
                else
                    ++(r.granted() ? granted : refused);
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        // The free failures and the one that earns the first block; every other was refused.
        QCOMPARE(granted.load(), policy().freeFailures + 1);
        QCOMPARE(refused.load(), 30 - granted.load());
    }

    void instancesShareTheCountAndTheSessionCap()
    {
        StorageError opened;
        std::unique_ptr<Database> second = openDatabase(m_fixture.location(), &opened);
        QVERIFY(second);
        Instance one(m_fixture.storage(), clock(), 2);
        Instance two(*second, clock(), 2);

        // 3 wrong guesses on one instance and 2 on the other, 3 s apart: the right password
        // is refused, as a single instance would refuse it.
        for (int i = 0; i < 5; ++i) {
            QCOMPARE((i < 3 ? one : two).login("wrong"), Authenticator::Outcome::WrongCredentials);
            m_now = m_now.addSecs(3);
        }
        QCOMPARE(two.login(rightPassword), Authenticator::Outcome::Throttled);

        // Once the block ends the right password clears the count on every instance.
        m_now = m_now.addSecs(60);
        QCOMPARE(two.login(rightPassword), Authenticator::Outcome::LoggedIn);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(one.login("wrong"), Authenticator::Outcome::WrongCredentials);

        // Two sessions are the cap here, counted across both instances.
        const Authenticator::Result held = one.authenticator.login(ana, rightPassword, QStringLiteral("test"), here);
        QCOMPARE(held.outcome, Authenticator::Outcome::LoggedIn);
        const Authenticator::Result third = two.authenticator.login(ana, rightPassword, QStringLiteral("test"), here);
        QCOMPARE(third.outcome, Authenticator::Outcome::TooManySessions);
        QVERIFY2(third.message.contains(QStringLiteral("already has 2 open sessions")), qPrintable(third.message));
        STORAGE_OK(one.sessions.close(tokens::digest(held.token)));
        QCOMPARE(two.login(rightPassword), Authenticator::Outcome::LoggedIn);
    }

    void refusalSaysWhenToTryAgain()
    {
        QCOMPARE(LoginThrottle::refusal(1s), QStringLiteral("Too many failed logins. Try again in 1 second."));
        QCOMPARE(LoginThrottle::refusal(16s), QStringLiteral("Too many failed logins. Try again in 16 seconds."));
    }
};

QTEST_GUILESS_MAIN(TestLoginThrottle)
#include "tst_loginthrottle.moc"
