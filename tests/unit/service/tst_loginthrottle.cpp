// Login throttling on a real database (SQLite, and PostgreSQL when VORNA_TEST_PG names a
// server): the delay arithmetic, the bookkeeping per user and per network, the user's known
// networks, concurrent guesses, two service instances on one database, and the cap on sessions
// per user. Time passes by moving the stored times back, as the database's clock moving on
// would.

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
const QString elsewhere = QStringLiteral("ipv4:203.0.113.9");
const QByteArray rightPassword = "correct horse";

ThrottlePolicy policy()
{
    ThrottlePolicy p;
    p.freeFailures = 3;
    p.freeAddressFailures = 3;
    p.firstDelay = 2s;
    p.maxDelay = 60s;
    p.forgetAfter = 600s;
    p.trustFor = 3600s;
    return p;
}

// One service instance's login path, on its own connection to the shared database.
struct Instance
{
    Instance(Database &storage, int maxSessions)
        : sessions(storage.accounts(), SessionPolicy{600s, maxSessions})
        , authenticator(storage.accounts(), sessions, throttle, hasher)
    {
    }

    Authenticator::Outcome login(const QByteArray &password, const QString &from = here)
    {
        return authenticator.login(ana, password, QStringLiteral("test"), from + QStringLiteral(":5000")).outcome;
    }

    PasswordHasher hasher{1};
    LoginThrottle throttle{policy()};
    SessionManager sessions;
    Authenticator authenticator;
};

} // namespace

class TestLoginThrottle : public StorageTestCase
{
    Q_OBJECT

private:
    qint64 m_anaId = 0;

    AccountStore &accounts() { return m_fixture.storage().accounts(); }

    void passTime(std::chrono::milliseconds elapsed)
    {
        QString error;
        QVERIFY2(m_fixture.passTime(elapsed, &error), qPrintable(error));
    }

    // Attempts that are all let in and fail, one second apart.
    void fail(LoginThrottle &throttle, const QString &user, const QString &address, int count)
    {
        for (int i = 0; i < count; ++i) {
            passTime(1s);
            QVERIFY(throttle.reserve(accounts(), user, address).granted());
        }
    }

    // The wait of one more attempt in whole seconds, rounded up as the refusal tells it (the
    // attempt counts when let in); -1 when the database failed.
    qint64 wait(LoginThrottle &throttle, const QString &user, const QString &address)
    {
        const LoginThrottle::Reservation reservation = throttle.reserve(accounts(), user, address);
        return reservation.error.ok() ? (reservation.wait.count() + 999) / 1000 : -1;
    }

    // A login of ana with the right password: let in, and noted as a success.
    bool succeed(LoginThrottle &throttle, const QString &address)
    {
        const LoginThrottle::Reservation reservation = throttle.reserve(accounts(), ana, address);
        return reservation.granted() && throttle.succeeded(accounts(), reservation, m_anaId).ok();
    }

    void seed() override
    {
        User user = managerOfAll(ana);
        user.passwordHash = PasswordHasher(1).hash(rightPassword);
        STORAGE_OK(accounts().addUser(user));
        m_anaId = accounts().findUser(ana)->id;
    }

private slots:
    void initTestCase() { QVERIFY(PasswordHasher::initializeSodium()); }

    void delayGrowsByDoublingUpToTheCap()
    {
        const std::pair<int, qint64> cases[] = {{0, 0}, {3, 0}, {4, 2}, {5, 4}, {6, 8}, {8, 32}, {9, 60}, {500, 60}};
        for (const auto &[failures, seconds] : cases)
            QCOMPARE(LoginThrottle::delayAfter(failures, policy()).count(), seconds);
    }

    void networksGroupAnIpv6Slash64_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("network");
        QTest::newRow("ipv4") << "ipv4:10.0.0.1" << "ipv4:10.0.0.1";
        QTest::newRow("ipv6") << "ipv6:[2001:db8:1:2:3:4:5:6]" << "ipv6:[2001:db8:1:2::]/64";
        QTest::newRow("same /64") << "ipv6:[2001:db8:1:2:ffff::1]" << "ipv6:[2001:db8:1:2::]/64";
        QTest::newRow("next /64") << "ipv6:[2001:db8:1:3::1]" << "ipv6:[2001:db8:1:3::]/64";
        QTest::newRow("escaped brackets") << "ipv6:%5B2001:db8:1:2::9%5D" << "ipv6:[2001:db8:1:2::]/64";
        QTest::newRow("zone") << "ipv6:[fe80::1%25eth0]" << "ipv6:[fe80::]/64";
        QTest::newRow("loopback") << "ipv6:[::1]" << "ipv6:[::]/64";
        QTest::newRow("ipv4-mapped") << "ipv6:[::ffff:192.0.2.7]" << "ipv4:192.0.2.7";
        QTest::newRow("unix socket") << "unix:/run/vorna.sock" << "unix:/run/vorna.sock";
        QTest::newRow("not an address") << "ipv6:[no]" << "ipv6:[no]";
    }

    void networksGroupAnIpv6Slash64()
    {
        QFETCH(QString, address);
        QFETCH(QString, network);
        QCOMPARE(LoginThrottle::network(address), network);
    }

    void blocksAUserAfterTheFreeFailuresFromAnyAddress()
    {
        LoginThrottle t(policy());
        fail(t, ana, here, 4);
        // Another address, same user: blocked for the first paid delay, and nothing counted.
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.9")), 2);
        passTime(1s);
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.9")), 1);
        passTime(1s);
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.9")), 0);
        // That attempt was the fifth failure of ana: the second paid delay.
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.8")), 4);
        // A different user from a clean address is not affected.
        QCOMPARE(wait(t, QStringLiteral("bob"), QStringLiteral("ipv4:10.0.0.7")), 0);
    }

    void blocksAnAddressThatTriesManyUsers()
    {
        LoginThrottle t(policy());
        // Two seconds apart, so that the first paid delay has passed when the fifth comes.
        for (const char *user : {"a", "b", "c", "d", "e"}) {
            passTime(1s);
            fail(t, QString::fromLatin1(user), QStringLiteral("ipv6:[2001:db8::1]"), 1);
        }
        // Five failures from one address: the second paid delay, even for a fresh user name,
        // and for any address of the same /64.
        QCOMPARE(wait(t, QStringLiteral("fresh"), QStringLiteral("ipv6:[2001:db8::ab:cd]")), 4);
        QCOMPARE(wait(t, QStringLiteral("fresh"), QStringLiteral("ipv6:[2001:db8:0:1::1]")), 0);
        QCOMPARE(wait(t, QStringLiteral("fresh"), QStringLiteral("ipv4:10.0.0.1")), 0);

        // An address may be a whole office: by default it has more free failures than a user.
        ThrottlePolicy office = policy();
        office.freeAddressFailures = 10;
        LoginThrottle shared(office);
        for (int i = 0; i < 10; ++i)
            fail(shared, QStringLiteral("user%1").arg(i), QStringLiteral("ipv4:192.0.2.7"), 1);
        QCOMPARE(wait(shared, QStringLiteral("fresh"), QStringLiteral("ipv4:192.0.2.7")), 0);
        QCOMPARE(wait(shared, QStringLiteral("other"), QStringLiteral("ipv4:192.0.2.7")), 2);
    }

    void successClearsTheUserAndOldFailuresAreForgotten()
    {
        ThrottlePolicy roomy = policy();
        roomy.freeAddressFailures = 100;
        LoginThrottle t(roomy);
        fail(t, ana, here, 4);
        QCOMPARE(wait(t, ana, elsewhere), 2);
        passTime(2s);
        QVERIFY(succeed(t, elsewhere));
        // The count starts over: three free failures, and the fourth attempt is let in.
        fail(t, ana, QStringLiteral("ipv4:10.0.0.9"), 4);
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.8")), 2);

        // Long after: the next failure is the first of a new series.
        passTime(601s);
        fail(t, ana, QStringLiteral("ipv4:10.0.0.9"), 4);
        QCOMPARE(wait(t, ana, QStringLiteral("ipv4:10.0.0.8")), 2);
    }

    // 29 failures with made-up names and one good login, over and over: the login must not
    // wipe the address's count, or the address is never blocked.
    void aSuccessLeavesTheAddressCountedButTakesBackItsOwnAttempt()
    {
        ThrottlePolicy p = policy();
        p.freeAddressFailures = 30;
        LoginThrottle t(p);
        int attempts = 0;
        int firstRefused = 0;
        for (int round = 0; round < 4 && firstRefused == 0; ++round) {
            for (int i = 0; i < 29 && firstRefused == 0; ++i) {
                ++attempts;
                if (!t.reserve(accounts(), QStringLiteral("guess-%1-%2").arg(round).arg(i), here).granted())
                    firstRefused = attempts;
            }
            if (firstRefused == 0) {
                ++attempts;
                QVERIFY(succeed(t, here));
            }
        }
        // The good login took back only its own attempt and left 29 counted: one more failure
        // is free, the next earns a block, and the attempt after that is refused.
        QCOMPARE(firstRefused, 30 + 3);

        // Logins alone never block an address: each takes back its own attempt.
        ThrottlePolicy tight = policy();
        tight.freeFailures = 1;
        tight.freeAddressFailures = 1;
        LoginThrottle quiet(tight);
        for (int i = 0; i < 10; ++i)
            QVERIFY2(succeed(quiet, elsewhere), qPrintable(QString::number(i)));
    }

    // Someone elsewhere guesses ana's password once a second, each time just after the block
    // ends. Ana, from where she logged in before, must still get in every time she tries.
    void theOwnerPassesABlockThatGuessesElsewhereEarned()
    {
        ThrottlePolicy p = policy();
        p.freeAddressFailures = 1000;
        LoginThrottle t(p);
        QVERIFY(succeed(t, here));

        int guesses = 0;
        int guessesRefused = 0;
        int ownerLogins = 0;
        for (int second = 1; second <= 40; ++second) {
            passTime(1s);
            const LoginThrottle::Reservation guess = t.reserve(accounts(), ana, elsewhere);
            QVERIFY(guess.error.ok());
            ++(guess.granted() ? guesses : guessesRefused);
            if (second % 5 == 0) {
                QVERIFY2(succeed(t, here), qPrintable(QStringLiteral("refused at second %1").arg(second)));
                ++ownerLogins;
            }
        }
        QCOMPARE(ownerLogins, 8);
        // The guesses did block the name for everyone else.
        QVERIFY2(guessesRefused > 20, qPrintable(QString::number(guessesRefused)));
        QVERIFY(wait(t, ana, QStringLiteral("ipv4:10.0.0.77")) > 0);
    }

    // What the known network passes is the user name's block, nothing else.
    void aKnownNetworkStillPaysForItsOwnFailuresAndBlocks()
    {
        LoginThrottle t(policy());
        QVERIFY(succeed(t, here));
        // Ana's own wrong passwords from there are slowed like anyone's.
        fail(t, ana, here, 4);
        QCOMPARE(wait(t, ana, here), 2);

        // The network's block holds for her too: four other names guessed from there.
        const QString office = QStringLiteral("ipv4:10.0.0.2");
        QVERIFY(succeed(t, office));
        for (const char *name : {"w", "x", "y", "z"})
            fail(t, QString::fromLatin1(name), office, 1);
        QCOMPARE(wait(t, ana, office), 2);

        // The known network is forgotten after trustFor: then the user name's block holds.
        passTime(policy().trustFor + 1s);
        fail(t, ana, elsewhere, 4);
        QCOMPARE(wait(t, ana, here), 2);
    }

    void concurrentGuessesAreCountedOneByOne()
    {
        // Two instances on one database, fifteen guesses at once on each, at the same moment.
        StorageError opened;
        std::unique_ptr<Database> second = openDatabase(m_fixture.location(), &opened);
        QVERIFY(second);
        LoginThrottle first(policy());
        LoginThrottle other(policy());
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
        Instance one(m_fixture.storage(), 2);
        Instance two(*second, 2);

        // 3 wrong guesses on one instance and 2 on the other, 3 s apart: the right password
        // is refused, as a single instance would refuse it.
        for (int i = 0; i < 5; ++i) {
            QCOMPARE((i < 3 ? one : two).login("wrong"), Authenticator::Outcome::WrongCredentials);
            passTime(3s);
        }
        QCOMPARE(two.login(rightPassword), Authenticator::Outcome::Throttled);

        // Once the block ends the right password clears the count on every instance, and the
        // sweep that a fresh instance starts with leaves the other's fresh counts alone.
        passTime(60s);
        QCOMPARE(two.login(rightPassword), Authenticator::Outcome::LoggedIn);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(one.login("wrong", elsewhere), Authenticator::Outcome::WrongCredentials);
        Instance three(*second, 2);
        QCOMPARE(three.login(rightPassword, QStringLiteral("ipv4:10.0.0.9")), Authenticator::Outcome::Throttled);

        // Two sessions are the cap here, counted across both instances.
        passTime(60s);
        const Authenticator::Result held = one.authenticator.login(ana, rightPassword, QStringLiteral("test"), here);
        QCOMPARE(held.outcome, Authenticator::Outcome::LoggedIn);
        const Authenticator::Result third = two.authenticator.login(ana, rightPassword, QStringLiteral("test"), here);
        QCOMPARE(third.outcome, Authenticator::Outcome::TooManySessions);
        QVERIFY2(third.message.contains(QStringLiteral("already has 2 open sessions")), qPrintable(third.message));
        STORAGE_OK(one.sessions.close(tokens::digest(held.token)));
        QCOMPARE(two.login(rightPassword), Authenticator::Outcome::LoggedIn);
    }

    void refusalSaysWhenToTryAgain_data()
    {
        QTest::addColumn<qint64>("waitMs");
        QTest::addColumn<QString>("sentence");
        QTest::newRow("1 ms") << qint64(1) << "Too many failed logins. Try again in 1 second.";
        QTest::newRow("1 s") << qint64(1000) << "Too many failed logins. Try again in 1 second.";
        QTest::newRow("a bit over 1 s") << qint64(1001) << "Too many failed logins. Try again in 2 seconds.";
        QTest::newRow("16 s") << qint64(16000) << "Too many failed logins. Try again in 16 seconds.";
    }

    void refusalSaysWhenToTryAgain()
    {
        QFETCH(qint64, waitMs);
        QFETCH(QString, sentence);
        QCOMPARE(LoginThrottle::refusal(std::chrono::milliseconds(waitMs)), sentence);
    }
};

QTEST_GUILESS_MAIN(TestLoginThrottle)
#include "tst_loginthrottle.moc"
