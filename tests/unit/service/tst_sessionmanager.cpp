// Sessions on a real database (SQLite, and PostgreSQL when VORNA_TEST_PG names a server):
// expiry, touching, logout, removal of the user, the sweep of idle sessions, and two service
// instances on one database. Time passes by moving the stored times back, as
// the database's clock moving on would; margins of a few seconds absorb the real clock's own
// ticks during a test.

#include "sessions/sessionmanager.h"
#include "sessions/tokens.h"
#include "support/storagefixture.h"

#include <QtTest>

#include <sodium.h>

using namespace vorna::service;
using namespace std::chrono_literals;

class TestSessionManager : public StorageTestCase
{
    Q_OBJECT

private:
    User m_user;

    std::unique_ptr<SessionManager> manager(Database &storage, std::chrono::seconds idle = 600s, int maxPerUser = 64)
    {
        return std::make_unique<SessionManager>(storage.accounts(), SessionPolicy{idle, maxPerUser});
    }
    std::unique_ptr<SessionManager> manager(std::chrono::seconds idle = 600s, int maxPerUser = 64)
    {
        return manager(m_fixture.storage(), idle, maxPerUser);
    }

    QByteArray openSession(SessionManager &sessions)
    {
        QByteArray token;
        const StorageError error = sessions.open(m_user, QStringLiteral("test"), QStringLiteral("ipv4:127.0.0.1:1"), &token);
        if (!error.ok())
            qWarning("%s", qPrintable(error.message));
        return token;
    }

    // How long the stored session has been idle; -1 when it is gone.
    qint64 storedIdle(const QByteArray &token)
    {
        const Result<Session> session = m_fixture.storage().accounts().findSession(tokens::digest(token));
        return session ? session->idleFor.count() : -1;
    }

    void passTime(std::chrono::seconds elapsed)
    {
        QString error;
        QVERIFY2(m_fixture.passTime(elapsed, &error), qPrintable(error));
    }

    void seed() override
    {
        User user = managerOfAll(QStringLiteral("ana"));
        user.passwordHash = QStringLiteral("$argon2id$not-used-here");
        STORAGE_OK(m_fixture.storage().accounts().addUser(user));
        m_user = m_fixture.storage().accounts().findUser(QStringLiteral("ana")).value();
    }

private slots:
    void initTestCase() { QVERIFY(sodium_init() >= 0); }

    void aNewSessionAuthenticatesItsUser()
    {
        const auto sessions = manager();
        const QByteArray token = openSession(*sessions);
        QCOMPARE(token.size(), 64);
        const SessionManager::Lookup lookup = sessions->authenticate(token);
        QCOMPARE(lookup.check, SessionManager::Check::Valid);
        QCOMPARE(lookup.user.name, QStringLiteral("ana"));
        QCOMPARE(lookup.user.role, Role::Manager);
        QCOMPARE(lookup.session.client, QStringLiteral("test"));
        QCOMPARE(sessions->authenticate(QByteArray()).check, SessionManager::Check::Missing);
        QCOMPARE(sessions->authenticate(tokens::generate()).check, SessionManager::Check::Unknown);
    }

    void idleSessionsExpireAndAreRemoved()
    {
        const auto sessions = manager(600s);
        const QByteArray token = openSession(*sessions);
        passTime(590s);
        QCOMPARE(sessions->recheck(tokens::digest(token)).check, SessionManager::Check::Valid);
        passTime(10s);
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Expired);
        // Expiry removed it: the next call finds nothing.
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Unknown);
    }

    void callsKeepASessionAliveButRecheckDoesNot()
    {
        const auto sessions = manager(600s);
        const QByteArray token = openSession(*sessions);
        // Within the touch interval (30 s) nothing is written.
        passTime(20s);
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Valid);
        QVERIFY(storedIdle(token) >= 20);
        // Past it, the call moves lastSeen to now.
        passTime(20s);
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Valid);
        QVERIFY(storedIdle(token) <= 2);
        // A heartbeat's recheck is no activity.
        passTime(300s);
        QCOMPARE(sessions->recheck(tokens::digest(token)).check, SessionManager::Check::Valid);
        QVERIFY(storedIdle(token) >= 300);
        // Steady calls every five minutes keep it alive far beyond the idle limit.
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Valid);
            passTime(300s);
        }
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Valid);
    }

    void closedSessionsAndRemovedUsersEndSessions()
    {
        const auto sessions = manager();
        const QByteArray first = openSession(*sessions);
        const QByteArray second = openSession(*sessions);
        QVERIFY(first != second);
        QVERIFY(sessions->close(tokens::digest(first)).ok());
        QCOMPARE(sessions->authenticate(first).check, SessionManager::Check::Unknown);
        QCOMPARE(sessions->authenticate(second).check, SessionManager::Check::Valid);
        QVERIFY(m_fixture.storage().accounts().removeUser(QStringLiteral("ana")).ok());
        QCOMPARE(sessions->authenticate(second).check, SessionManager::Check::Unknown);
    }

    // The cap counts the sessions still open: idle ones past expiry make room even before
    // the sweep removes them.
    void theCapCountsOnlyUnexpiredSessions()
    {
        const auto sessions = manager(600s, 2);
        QVERIFY(!openSession(*sessions).isEmpty());
        passTime(300s);
        QVERIFY(!openSession(*sessions).isEmpty());
        QByteArray token;
        const StorageError refused = sessions->open(m_user, QStringLiteral("test"), QStringLiteral("peer"), &token);
        QCOMPARE(refused.code, StorageError::PermissionDenied);
        QVERIFY(token.isEmpty());
        passTime(310s);
        QVERIFY(!openSession(*sessions).isEmpty());
    }

    void sweepRemovesOnlyIdleSessions()
    {
        const auto sessions = manager(600s);
        const QByteArray old = openSession(*sessions);
        passTime(500s);
        const QByteArray young = openSession(*sessions);
        passTime(200s);
        QVERIFY(sessions->sweep() >= 1);
        QCOMPARE(storedIdle(old), -1);
        QVERIFY(storedIdle(young) >= 200);
    }

    // Two instances on one database measure idleness alike: neither has a clock of its own
    // in it, so a session one of them keeps alive is never expired or swept by the other, and
    // one idle past the limit is expired on both.
    void instancesAgreeOnIdleTime()
    {
        StorageError opened;
        std::unique_ptr<Database> second = openDatabase(m_fixture.location(), &opened);
        QVERIFY2(second, qPrintable(opened.message));
        const auto one = manager(600s);
        const auto two = manager(*second, 600s);

        const QByteArray token = openSession(*one);
        const QByteArray idle = openSession(*two);
        passTime(400s);
        QCOMPARE(two->authenticate(token).check, SessionManager::Check::Valid);
        passTime(400s);
        QVERIFY(one->sweep() >= 1);
        QCOMPARE(storedIdle(idle), -1);
        QCOMPARE(one->recheck(tokens::digest(token)).check, SessionManager::Check::Valid);
        QCOMPARE(two->sweep(), 0);
        passTime(610s);
        QCOMPARE(one->recheck(tokens::digest(token)).check, SessionManager::Check::Expired);
        QCOMPARE(two->authenticate(token).check, SessionManager::Check::Unknown);
    }
};

QTEST_GUILESS_MAIN(TestSessionManager)
#include "tst_sessionmanager.moc"
