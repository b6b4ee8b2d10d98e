// Sessions on a real SQLite database with a clock the test moves: expiry, touching, logout,
// removal of the user and the sweep of idle sessions.

#include "storage/database.h"
#include "sessions/sessionmanager.h"
#include "sessions/tokens.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sodium.h>

using namespace vorna::service;
using namespace std::chrono_literals;

class TestSessionManager : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_storage;
    QDateTime m_now;
    User m_user;

    std::unique_ptr<SessionManager> manager(std::chrono::seconds idle = 600s, int maxPerUser = 64)
    {
        return std::make_unique<SessionManager>(m_storage->accounts(), SessionPolicy{idle, maxPerUser}, [this] { return m_now; });
    }

    QByteArray openSession(SessionManager &sessions)
    {
        QByteArray token;
        const StorageError error = sessions.open(m_user, QStringLiteral("test"), QStringLiteral("ipv4:127.0.0.1:1"), &token);
        if (!error.ok())
            qWarning("%s", qPrintable(error.message));
        return token;
    }

    QDateTime storedLastSeen(const QByteArray &token)
    {
        const Result<Session> session = m_storage->accounts().findSession(tokens::digest(token));
        return session ? session->lastSeenUtc : QDateTime();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(sodium_init() >= 0);
        Result<std::unique_ptr<Database>> opened = Database::open(m_dir.filePath(QStringLiteral("sessions.db")));
        QVERIFY2(opened, qPrintable(opened.error().message));
        m_storage = opened.take();
        QVERIFY(m_storage->migrate().ok());
    }

    void init()
    {
        m_now = QDateTime(QDate(2024, 5, 6), QTime(9, 0), Qt::UTC);
        m_storage->accounts().removeUser(QStringLiteral("ana"));
        User user;
        user.name = QStringLiteral("ana");
        user.passwordHash = QStringLiteral("$argon2id$not-used-here");
        user.role = Role::Manager;
        user.allDepartments = true;
        QVERIFY(m_storage->accounts().addUser(user).ok());
        m_user = *m_storage->accounts().findUser(QStringLiteral("ana"));
    }

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
        m_now = m_now.addSecs(599);
        QCOMPARE(sessions->recheck(tokens::digest(token)).check, SessionManager::Check::Valid);
        m_now = m_now.addSecs(1);
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Expired);
        // Expiry removed it: the next call finds nothing, even with the clock turned back.
        m_now = m_now.addSecs(-600);
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Unknown);
    }

    void callsKeepASessionAliveButRecheckDoesNot()
    {
        const auto sessions = manager(600s);
        const QByteArray token = openSession(*sessions);
        const QDateTime opened = m_now;
        // Within the touch interval (30 s) nothing is written.
        m_now = m_now.addSecs(20);
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Valid);
        QCOMPARE(storedLastSeen(token), opened);
        // Past it, the call moves lastSeen.
        m_now = m_now.addSecs(20);
        QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Valid);
        QCOMPARE(storedLastSeen(token), m_now);
        // A heartbeat's recheck is no activity.
        const QDateTime touched = m_now;
        m_now = m_now.addSecs(300);
        QCOMPARE(sessions->recheck(tokens::digest(token)).check, SessionManager::Check::Valid);
        QCOMPARE(storedLastSeen(token), touched);
        // Steady calls every five minutes keep it alive far beyond the idle limit.
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(sessions->authenticate(token).check, SessionManager::Check::Valid);
            m_now = m_now.addSecs(300);
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
        QVERIFY(m_storage->accounts().removeUser(QStringLiteral("ana")).ok());
        QCOMPARE(sessions->authenticate(second).check, SessionManager::Check::Unknown);
    }

    // The cap counts the sessions still open: idle ones past expiry make room even before
    // the sweep removes them.
    void theCapCountsOnlyUnexpiredSessions()
    {
        const auto sessions = manager(600s, 2);
        QVERIFY(!openSession(*sessions).isEmpty());
        m_now = m_now.addSecs(300);
        QVERIFY(!openSession(*sessions).isEmpty());
        QByteArray token;
        const StorageError refused = sessions->open(m_user, QStringLiteral("test"), QStringLiteral("peer"), &token);
        QCOMPARE(refused.code, StorageError::PermissionDenied);
        QVERIFY(token.isEmpty());
        m_now = m_now.addSecs(300);
        QVERIFY(!openSession(*sessions).isEmpty());
    }

    void sweepRemovesOnlyIdleSessions()
    {
        const auto sessions = manager(600s);
        const QByteArray old = openSession(*sessions);
        m_now = m_now.addSecs(500);
        const QByteArray young = openSession(*sessions);
        m_now = m_now.addSecs(200);
        QVERIFY(sessions->sweep() >= 1);
        QVERIFY(!m_storage->accounts().findSession(tokens::digest(old)));
        QVERIFY(m_storage->accounts().findSession(tokens::digest(young)));
    }
};

QTEST_GUILESS_MAIN(TestSessionManager)
#include "tst_sessionmanager.moc"
