// Users, sessions, terminals and login failure counts, and the validation of the organisation's
// data: bad input is refused with a sentence and leaves the database as it was.

#include "support/storagefixture.h"

#include <QCryptographicHash>

#include <QThread>

#include <atomic>
#include <limits>
#include <thread>

using namespace vorna::service;

namespace {

QByteArray tokenHash(const char *token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

QDateTime utc(const QString &iso)
{
    return QDateTime::fromString(iso, Qt::ISODate).toUTC();
}

const QString argonLike = QStringLiteral("$argon2id$v=19$m=65536,t=2,p=1$c2FsdHNhbHQ$aGFzaGhhc2hoYXNo");

} // namespace

class TestStorageAccounts : public StorageTestCase
{
    Q_OBJECT

private slots:

    void usersKeepRoleAndDepartments();
    void badUsersAreRefusedWithoutTrace();
    void passwordChangeAndRemoval();
    void aSessionNeedsThePasswordItsLoginChecked();
    void noSessionOfTheOldPasswordOutlivesTheChange();
    void sessionsLiveUntilIdleOrRemoved();
    void endingAUsersSessionsSparesOthers();
    void terminalsByTokenAndName();
    void loginFailuresAreKeptUntilOldAndUnblocked();
    void throttleTimesAreTheDatabasesMilliseconds();
    void loginsAreRememberedPerUserAndNetwork();
    void namedRecordsAreUnique();
    void employeesAreAddedAllOrNothing();
    void employeeKeepsPictureAndDigest();
    void registrationsAreAddedAllOrNothing();

private:
    void seed() override;
    void addViewer(const QString &name);
    int registrationCount(const QDateTime &at);

    qint64 m_production = 0;
    qint64 m_sales = 0;
    qint64 m_arrival = 0;
};

void TestStorageAccounts::seed()
{
    Department production{0, QStringLiteral("Production")};
    Department sales{0, QStringLiteral("Sales")};
    STORAGE_OK(m_fixture.storage().organisation().addDepartment(production));
    STORAGE_OK(m_fixture.storage().organisation().addDepartment(sales));
    m_production = production.id;
    m_sales = sales.id;
    PresenceStatus present{0, QStringLiteral("Present"), 0x00FF00};
    STORAGE_OK(m_fixture.storage().organisation().addPresenceStatus(present));
    ActivityKind arrival{0, QStringLiteral("Arrival"), present.id};
    STORAGE_OK(m_fixture.storage().organisation().addActivityKind(arrival));
    m_arrival = arrival.id;
}

void TestStorageAccounts::usersKeepRoleAndDepartments()
{
    Database &s = m_fixture.storage();
    User viewer;
    viewer.name = QStringLiteral("viewer");
    viewer.passwordHash = argonLike;
    viewer.departmentIds = {m_sales, m_production, m_sales};
    User manager;
    manager.name = QStringLiteral("manager");
    manager.passwordHash = argonLike + QStringLiteral("2");
    manager.role = Role::Manager;
    manager.allDepartments = true;
    STORAGE_OK(s.accounts().addUser(viewer));
    STORAGE_OK(s.accounts().addUser(manager));

    const Result<User> found = s.accounts().findUser(QStringLiteral("viewer"));
    QVERIFY(found);
    QVERIFY(found->id > 0);
    QCOMPARE(found->passwordHash, argonLike);
    QCOMPARE(found->role, Role::Viewer);
    QVERIFY(!found->allDepartments);
    QCOMPARE(found->departmentIds, QList<qint64>({m_production, m_sales}));
    QVERIFY(!s.accounts().findUser(QStringLiteral("Viewer")));

    const QVector<User> all = s.accounts().users().value();
    QCOMPARE(all.size(), 2);
    QCOMPARE(all.at(0).name, QStringLiteral("manager"));
    QCOMPARE(all.at(0).role, Role::Manager);
    QVERIFY(all.at(0).allDepartments);
    QVERIFY(all.at(0).departmentIds.isEmpty());
    QCOMPARE(all.at(1).departmentIds, QList<qint64>({m_production, m_sales}));
}

void TestStorageAccounts::badUsersAreRefusedWithoutTrace()
{
    Database &s = m_fixture.storage();
    User user;
    user.name = QStringLiteral("ana");
    user.passwordHash = argonLike;
    user.departmentIds = {m_sales, 999};
    StorageError error = s.accounts().addUser(user);
    QCOMPARE(error.code, StorageError::NotFound);
    QVERIFY2(error.message.contains(QLatin1String("999")), qPrintable(error.message));
    QVERIFY(!s.accounts().findUser(QStringLiteral("ana")));

    user.departmentIds = {m_sales};
    user.passwordHash.clear();
    QCOMPARE(s.accounts().addUser(user).code, StorageError::InvalidArgument);
    user.passwordHash = argonLike;
    user.name = QStringLiteral("  ");
    QCOMPARE(s.accounts().addUser(user).code, StorageError::InvalidArgument);
    QVERIFY(s.accounts().users().value().isEmpty());

    user.name = QStringLiteral("ana");
    STORAGE_OK(s.accounts().addUser(user));
    user.passwordHash = QStringLiteral("other");
    error = s.accounts().addUser(user);
    QCOMPARE(error.code, StorageError::AlreadyExists);
    QVERIFY2(error.message.contains(QLatin1String("'ana' already exists")), qPrintable(error.message));
    QCOMPARE(s.accounts().findUser(QStringLiteral("ana"))->passwordHash, argonLike);
}

void TestStorageAccounts::addViewer(const QString &name)
{
    User user;
    user.name = name;
    user.passwordHash = argonLike;
    STORAGE_OK(m_fixture.storage().accounts().addUser(user));
}

void TestStorageAccounts::passwordChangeAndRemoval()
{
    Database &s = m_fixture.storage();
    addViewer(QStringLiteral("marko"));
    addViewer(QStringLiteral("ivan"));
    for (const char *token : {"m-1", "m-2"})
        STORAGE_OK(s.accounts().createSession({tokenHash(token), 0, QStringLiteral("marko"), {}, {}, {}, {}}));
    STORAGE_OK(s.accounts().createSession({tokenHash("i-1"), 0, QStringLiteral("ivan"), {}, {}, {}, {}}));
    int ended = -1;
    STORAGE_OK(takeInto(ended, s.accounts().setPasswordHash(QStringLiteral("marko"), QStringLiteral("new-hash"))));
    QCOMPARE(s.accounts().findUser(QStringLiteral("marko"))->passwordHash, QStringLiteral("new-hash"));
    // The change ends the user's sessions with it, and no one else's.
    QCOMPARE(ended, 2);
    QVERIFY(!s.accounts().findSession(tokenHash("m-1")));
    QVERIFY(s.accounts().findSession(tokenHash("i-1")));
    QCOMPARE(s.accounts().setPasswordHash(QStringLiteral("nobody"), QStringLiteral("x")).error().code, StorageError::NotFound);
    QCOMPARE(s.accounts().setPasswordHash(QStringLiteral("marko"), QString()).error().code, StorageError::InvalidArgument);
    QCOMPARE(s.accounts().findUser(QStringLiteral("marko"))->passwordHash, QStringLiteral("new-hash"));

    STORAGE_OK(s.accounts().createSession({tokenHash("t"), 0, QStringLiteral("marko"), QStringLiteral("panel"),
                                QStringLiteral("ipv4:127.0.0.1:1"), {}, {}}));
    STORAGE_OK(s.accounts().removeUser(QStringLiteral("marko")));
    QVERIFY(!s.accounts().findUser(QStringLiteral("marko")));
    QVERIFY2(!s.accounts().findSession(tokenHash("t")), "a removed user's sessions end with the user");
    const StorageError error = s.accounts().removeUser(QStringLiteral("marko"));
    QCOMPARE(error.code, StorageError::NotFound);
    QVERIFY(error.message.contains(QLatin1String("'marko'")));
}

// A login reads the user, checks the password (slowly), then opens the session. A password
// change that lands in between must leave no session behind.
void TestStorageAccounts::aSessionNeedsThePasswordItsLoginChecked()
{
    Database &s = m_fixture.storage();
    addViewer(QStringLiteral("ana"));
    const User checked = s.accounts().findUser(QStringLiteral("ana")).value();
    const SessionRules rules{0, std::chrono::seconds(0), checked.passwordHash};

    // The change comes between the check and the session: refused, nothing written.
    STORAGE_OK(s.accounts().setPasswordHash(QStringLiteral("ana"), QStringLiteral("changed-hash")));
    const StorageError refused = s.accounts().createSession({tokenHash("late"), checked.id, checked.name, {}, {}, {}, {}},
                                                            rules);
    QCOMPARE(refused.code, StorageError::NotFound);
    QVERIFY2(refused.message.contains(QLatin1String("changed during the login")), qPrintable(refused.message));
    QVERIFY(!s.accounts().findSession(tokenHash("late")));
    // With the hash as it is now, the session opens (passwordChangeAndRemoval: a change ends it).
    STORAGE_OK(s.accounts().createSession({tokenHash("now"), checked.id, checked.name, {}, {}, {}, {}},
                                          SessionRules{0, std::chrono::seconds(0), QStringLiteral("changed-hash")}));
}

// Logins that checked the old password keep opening sessions, on another instance's
// connections, while the password changes: none of their sessions outlives the change.
void TestStorageAccounts::noSessionOfTheOldPasswordOutlivesTheChange()
{
    addViewer(QStringLiteral("ana"));
    const User checked = m_fixture.storage().accounts().findUser(QStringLiteral("ana")).value();
    StorageError opened;
    const std::unique_ptr<Database> other = openDatabase(m_fixture.location(), &opened);
    QVERIFY2(other, qPrintable(opened.message));
    std::atomic<bool> changed{false};
    std::atomic<int> made{0};
    std::vector<std::thread> logins;
    for (int t = 0; t < 4; ++t) {
        logins.emplace_back([&, t] {
            // Until the change is done, and a few more after it.
            for (int i = 0, after = 0; after < 5; ++i) {
                after += changed ? 1 : 0;
                const QByteArray token = QByteArray::number(t) + '-' + QByteArray::number(i);
                const Session session{tokenHash(token.constData()), checked.id, checked.name, {}, {}, {}, {}};
                if (other->accounts().createSession(session, {0, std::chrono::seconds(0), checked.passwordHash}).ok())
                    ++made;
            }
        });
    }
    QDeadlineTimer deadline(60000);
    while (made == 0 && !deadline.hasExpired())
        QThread::msleep(1);
    const Result<int> change = m_fixture.storage().accounts().setPasswordHash(QStringLiteral("ana"),
                                                                              QStringLiteral("changed-hash"));
    changed = true;
    for (std::thread &login : logins)
        login.join();
    STORAGE_OK(change);
    QVERIFY(made > 0);
    QCOMPARE(m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM sessions")).toInt(), 0);
}

void TestStorageAccounts::sessionsLiveUntilIdleOrRemoved()
{
    Database &s = m_fixture.storage();
    addViewer(QStringLiteral("jelena"));
    const qint64 userId = s.accounts().findUser(QStringLiteral("jelena"))->id;
    const QDateTime nine = utc(QStringLiteral("2024-03-05T09:00:00Z"));

    STORAGE_OK(s.accounts().createSession({tokenHash("a"), userId, QString(), QStringLiteral("VornaPanel 3.0.0"),
                                QStringLiteral("ipv4:127.0.0.1:5000"), nine, nine}));
    STORAGE_OK(s.accounts().createSession({tokenHash("b"), userId, QString(), QString(), QString(), nine, nine.addSecs(600)}));
    QCOMPARE(s.accounts().createSession({tokenHash("c"), 424242, QStringLiteral("ghost"), {}, {}, nine, nine}).code,
             StorageError::NotFound);
    QCOMPARE(s.accounts().createSession({tokenHash("a"), userId, QString(), {}, {}, nine, nine}).code, StorageError::AlreadyExists);

    Result<Session> a = s.accounts().findSession(tokenHash("a"));
    QVERIFY(a);
    QCOMPARE(a->userId, userId);
    QCOMPARE(a->userName, QStringLiteral("jelena"));
    QCOMPARE(a->client, QStringLiteral("VornaPanel 3.0.0"));
    QCOMPARE(a->peer, QStringLiteral("ipv4:127.0.0.1:5000"));
    QCOMPARE(a->createdUtc, nine);
    QCOMPARE(a->lastSeenUtc, nine);
    QVERIFY(!s.accounts().findSession(tokenHash("c")));

    // Idleness is measured on the database's clock; b was last seen ten minutes after a.
    const qint64 idleOfA = a->idleFor.count();
    QVERIFY2(idleOfA > 0, "a session last seen in 2024 has been idle a long time");
    const qint64 idleOfB = s.accounts().findSession(tokenHash("b"))->idleFor.count();
    QVERIFY2(idleOfB >= idleOfA - 600 && idleOfB <= idleOfA - 599, qPrintable(QString::number(idleOfB)));

    STORAGE_OK(s.accounts().touchSession(tokenHash("a")));
    Result<Session> touched = s.accounts().findSession(tokenHash("a"));
    QVERIFY2(touched->idleFor.count() <= 1, qPrintable(QString::number(touched->idleFor.count())));
    QCOMPARE(s.accounts().touchSession(tokenHash("zz")).code, StorageError::NotFound);

    // Idle for at least as long as b: only b goes, whatever the idle limit's exact second.
    QCOMPARE(s.accounts().expireSessions(std::chrono::seconds(idleOfA - 600)).value(), 1);
    QVERIFY(!s.accounts().findSession(tokenHash("b")));
    QVERIFY(s.accounts().findSession(tokenHash("a")));
    QCOMPARE(s.accounts().expireSessions(std::chrono::seconds(60)).value(), 0);

    STORAGE_OK(s.accounts().removeSession(tokenHash("a")));
    QVERIFY(!s.accounts().findSession(tokenHash("a")));
    QCOMPARE(s.accounts().removeSession(tokenHash("a")).code, StorageError::NotFound);
}

void TestStorageAccounts::endingAUsersSessionsSparesOthers()
{
    Database &s = m_fixture.storage();
    addViewer(QStringLiteral("ana"));
    addViewer(QStringLiteral("ivan"));
    for (const char *token : {"ana-1", "ana-2"})
        STORAGE_OK(s.accounts().createSession({tokenHash(token), 0, QStringLiteral("ana"), {}, {}, {}, {}}));
    STORAGE_OK(s.accounts().createSession({tokenHash("ivan-1"), 0, QStringLiteral("ivan"), {}, {}, {}, {}}));

    int removed = -1;
    STORAGE_OK(takeInto(removed, s.accounts().removeSessionsOf(QStringLiteral("ana"))));
    QCOMPARE(removed, 2);
    QCOMPARE(s.accounts().findSession(tokenHash("ana-1")).error().code, StorageError::NotFound);
    QVERIFY(!s.accounts().findSession(tokenHash("ana-2")));
    QVERIFY(s.accounts().findSession(tokenHash("ivan-1")));
    StorageError error;
    QVERIFY2(s.accounts().findUser(QStringLiteral("ana")), "the user stays; only the sessions end");

    STORAGE_OK(takeInto(removed, s.accounts().removeSessionsOf(QStringLiteral("ana"))));
    QCOMPARE(removed, 0);
    error = takeInto(removed, s.accounts().removeSessionsOf(QStringLiteral("nobody")));
    QCOMPARE(error.code, StorageError::NotFound);
    QVERIFY(error.message.contains(QLatin1String("'nobody'")));
}

void TestStorageAccounts::terminalsByTokenAndName()
{
    Database &s = m_fixture.storage();
    const QDateTime created = utc(QStringLiteral("2024-01-02T03:04:05Z"));
    STORAGE_OK(s.accounts().addTerminal({0, QStringLiteral("gate-2"), tokenHash("g2"), created}));
    STORAGE_OK(s.accounts().addTerminal({0, QStringLiteral("gate-1"), tokenHash("g1"), created}));
    QCOMPARE(s.accounts().addTerminal({0, QStringLiteral("gate-1"), tokenHash("other"), created}).code, StorageError::AlreadyExists);
    QCOMPARE(s.accounts().addTerminal({0, QStringLiteral("gate-3"), tokenHash("g1"), created}).code, StorageError::AlreadyExists);
    QCOMPARE(s.accounts().addTerminal({0, QStringLiteral("gate-4"), QByteArray(), created}).code, StorageError::InvalidArgument);

    const Result<Terminal> found = s.accounts().findTerminal(tokenHash("g1"));
    QVERIFY(found);
    QCOMPARE(found->name, QStringLiteral("gate-1"));
    QCOMPARE(found->createdUtc, created);
    QVERIFY(!s.accounts().findTerminal(tokenHash("nope")));

    const QVector<Terminal> all = s.accounts().terminals().value();
    QCOMPARE(all.size(), 2);
    QCOMPARE(all.at(0).name, QStringLiteral("gate-1"));
    QCOMPARE(all.at(1).tokenHash, tokenHash("g2"));

    STORAGE_OK(s.accounts().removeTerminal(QStringLiteral("gate-1")));
    QVERIFY(!s.accounts().findTerminal(tokenHash("g1")));
    QCOMPARE(s.accounts().removeTerminal(QStringLiteral("gate-1")).code, StorageError::NotFound);
}

void TestStorageAccounts::loginFailuresAreKeptUntilOldAndUnblocked()
{
    Database &s = m_fixture.storage();
    const QStringList keys{QStringLiteral("old"), QStringLiteral("old-blocked"), QStringLiteral("recent")};
    STORAGE_OK(s.accounts().updateLoginFailures(keys, [](QVector<LoginFailures> &entries, qint64) {
        for (LoginFailures &entry : entries) {
            entry.failures = 5;
            entry.lastFailureMs = entry.key == QLatin1String("recent") ? 900 : 100;
            entry.blockedUntilMs = entry.key == QLatin1String("old-blocked") ? 2000 : 200;
        }
        return true;
    }));
    QCOMPARE(s.accounts().forgetLoginFailures(500, 1000).value(), 1);

    QStringList kept;
    STORAGE_OK(s.accounts().updateLoginFailures(keys, [&](QVector<LoginFailures> &entries, qint64) {
        for (const LoginFailures &entry : entries) {
            if (entry.failures > 0)
                kept << entry.key;
        }
        return false;
    }));
    QCOMPARE(kept, (QStringList{QStringLiteral("old-blocked"), QStringLiteral("recent")}));
    QCOMPARE(s.accounts().forgetLoginFailures(std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()).value(), 3);
}

// The throttle's now is the database's, in milliseconds: here the database runs on this
// machine, so it is this machine's time give or take the test's own run.
void TestStorageAccounts::throttleTimesAreTheDatabasesMilliseconds()
{
    Database &s = m_fixture.storage();
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    qint64 told = 0;
    STORAGE_OK(s.accounts().updateLoginFailures({QStringLiteral("k")}, [&](QVector<LoginFailures> &, qint64 nowMs) {
        told = nowMs;
        return false;
    }));
    const qint64 after = QDateTime::currentMSecsSinceEpoch();
    QVERIFY2(told >= before - 1000 && told <= after + 1000,
             qPrintable(QStringLiteral("%1 is not within %2..%3").arg(told).arg(before).arg(after)));
}

void TestStorageAccounts::loginsAreRememberedPerUserAndNetwork()
{
    Database &s = m_fixture.storage();
    addViewer(QStringLiteral("ana"));
    addViewer(QStringLiteral("ivan"));
    const qint64 ana = s.accounts().findUser(QStringLiteral("ana"))->id;
    const QString office = QStringLiteral("ipv4:192.0.2.7");
    const QString home = QStringLiteral("ipv6:[2001:db8:1:2::]/64");
    const std::chrono::seconds day(86400);
    STORAGE_OK(s.accounts().rememberLogin(ana, office));
    STORAGE_OK(s.accounts().rememberLogin(ana, office)); // again: one place, its time renewed

    QVERIFY(s.accounts().loggedInRecently(QStringLiteral("ana"), office, day).value());
    QVERIFY(!s.accounts().loggedInRecently(QStringLiteral("ana"), home, day).value());
    QVERIFY(!s.accounts().loggedInRecently(QStringLiteral("ivan"), office, day).value());
    QVERIFY(!s.accounts().loggedInRecently(QStringLiteral("nobody"), office, day).value());

    // Two days later: outside a day's window, inside a week's.
    QString error;
    QVERIFY2(m_fixture.passTime(2 * day, &error), qPrintable(error));
    STORAGE_OK(s.accounts().rememberLogin(ana, home));
    QVERIFY(!s.accounts().loggedInRecently(QStringLiteral("ana"), office, day).value());
    QVERIFY(s.accounts().loggedInRecently(QStringLiteral("ana"), office, 7 * day).value());

    const qint64 dayAgoMs = QDateTime::currentMSecsSinceEpoch() - 86400 * 1000;
    QCOMPARE(s.accounts().forgetLogins(dayAgoMs).value(), 1);
    QVERIFY(!s.accounts().loggedInRecently(QStringLiteral("ana"), office, 7 * day).value());
    // A removed user takes the places along; a new user of that name starts without them.
    STORAGE_OK(s.accounts().removeUser(QStringLiteral("ana")));
    addViewer(QStringLiteral("ana"));
    QVERIFY(!s.accounts().loggedInRecently(QStringLiteral("ana"), home, day).value());
}

void TestStorageAccounts::namedRecordsAreUnique()
{
    Database &s = m_fixture.storage();
    Department again{0, QStringLiteral("Sales")};
    StorageError error = s.organisation().addDepartment(again);
    QCOMPARE(error.code, StorageError::AlreadyExists);
    QCOMPARE(error.message, QStringLiteral("A department named 'Sales' already exists. Choose another name."));
    QCOMPARE(s.organisation().departments().value().size(), 2);

    Calendar calendar{0, QStringLiteral("Shift A"), 1};
    STORAGE_OK(s.organisation().addCalendar(calendar));
    QVERIFY(calendar.id > 0);
    Calendar twin = calendar;
    QCOMPARE(s.organisation().addCalendar(twin).code, StorageError::AlreadyExists);
    WorkDayKind kind{0, QString(), 1};
    QCOMPARE(s.organisation().addWorkDayKind(kind).code, StorageError::InvalidArgument);
    ActivityKind orphan{0, QStringLiteral("Lunch"), 777};
    error = s.organisation().addActivityKind(orphan);
    QCOMPARE(error.code, StorageError::NotFound);
    QCOMPARE(s.organisation().activityKinds().value().size(), 1);
    QCOMPARE(s.organisation().calendars().value().size(), 1);
    QCOMPARE(s.organisation().calendars().value().first().name, QStringLiteral("Shift A"));
}

void TestStorageAccounts::employeesAreAddedAllOrNothing()
{
    Database &s = m_fixture.storage();
    const Employee ok{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales, {}, {}, {}};
    const Employee twin{QStringLiteral("E1"), QStringLiteral("Kostić"), QStringLiteral("Luka"), m_sales, {}, {}, {}};
    const Employee nameless{QStringLiteral("E2"), QString(), QStringLiteral("Luka"), m_sales, {}, {}, {}};
    const Employee homeless{QStringLiteral("E3"), QStringLiteral("Lazić"), QStringLiteral("Mina"), 4242, {}, {}, {}};

    StorageError error = s.organisation().addEmployees({ok, twin});
    QCOMPARE(error.code, StorageError::AlreadyExists);
    QVERIFY(error.message.contains(QLatin1String("no employees were added")));
    QCOMPARE(s.organisation().addEmployees({ok, nameless}).code, StorageError::InvalidArgument);
    error = s.organisation().addEmployees({ok, homeless});
    QCOMPARE(error.code, StorageError::NotFound);
    QVERIFY(error.message.contains(QLatin1String("4242")));
    QVERIFY(!s.organisation().findEmployee(QStringLiteral("E1")));

    STORAGE_OK(s.organisation().addEmployees({ok}));
    QCOMPARE(s.organisation().addEmployees({twin}).code, StorageError::AlreadyExists);
    QCOMPARE(s.organisation().findEmployee(QStringLiteral("E1"))->lastName, QStringLiteral("Ilić"));
}

void TestStorageAccounts::employeeKeepsPictureAndDigest()
{
    Database &s = m_fixture.storage();
    QByteArray picture(5000, '\0');
    for (int i = 0; i < picture.size(); ++i)
        picture[i] = char(i * 7);
    STORAGE_OK(s.organisation().addEmployees({{QStringLiteral("P"), QStringLiteral("Perić"), QStringLiteral("Teodora"), m_production,
                                picture, {}, {}},
                               {QStringLiteral("N"), QStringLiteral("Nikolić"), QStringLiteral("Vuk"), m_sales, {}, {}, {}}}));
    const Result<Employee> p = s.organisation().findEmployee(QStringLiteral("P"));
    QVERIFY(p);
    QCOMPARE(p->picture, picture);
    QCOMPARE(p->pictureDigest, QCryptographicHash::hash(picture, QCryptographicHash::Sha256));
    QCOMPARE(p->departmentId, m_production);
    const Result<Employee> n = s.organisation().findEmployee(QStringLiteral("N"));
    QVERIFY(n);
    QVERIFY(n->picture.isEmpty());
    QVERIFY(n->pictureDigest.isEmpty());
}

int TestStorageAccounts::registrationCount(const QDateTime &at)
{
    User everyone;
    everyone.allDepartments = true;
    int registered = 0;
    m_fixture.storage().presence().presence(everyone, {at, 1, {}}, [&](const PresenceRow &row) {
        registered += row.lastActivity.isValid() ? 1 : 0;
    });
    return registered;
}

void TestStorageAccounts::registrationsAreAddedAllOrNothing()
{
    Database &s = m_fixture.storage();
    STORAGE_OK(s.organisation().addEmployees({{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), m_sales, {}, {}, {}},
                               {QStringLiteral("E2"), QStringLiteral("Perić"), QStringLiteral("Uroš"), m_sales, {}, {}, {}}}));
    const QDateTime eight(QDate(2024, 3, 5), QTime(8, 0), Qt::UTC);
    const QDateTime noon(QDate(2024, 3, 5), QTime(12, 0), Qt::UTC);
    const Registration good{QStringLiteral("E1"), eight, m_arrival, QStringLiteral("terminal:gate-1")};

    StorageError error = s.organisation().addRegistrations({good, {QStringLiteral("E9"), eight, m_arrival, QString()}});
    QCOMPARE(error.code, StorageError::NotFound);
    QVERIFY2(error.message.contains(QLatin1String("'E9'")) && error.message.contains(QLatin1String("No registrations")),
             qPrintable(error.message));
    QCOMPARE(s.organisation().addRegistrations({good, {QStringLiteral("E2"), eight, 999, QString()}}).code, StorageError::NotFound);
    QCOMPARE(s.organisation().addRegistrations({good, {QStringLiteral("E2"), QDateTime(), m_arrival, QString()}}).code,
             StorageError::InvalidArgument);
    QCOMPARE(registrationCount(noon), 0);

    // More rows than one statement takes, all for E2, plus the good one.
    QVector<Registration> many{good};
    for (int i = 0; i < 1234; ++i)
        many.append({QStringLiteral("E2"), eight.addSecs(-60 * i), m_arrival, QString()});
    QVector<qint64> progress;
    STORAGE_OK(s.organisation().addRegistrations(many, [&](const QString &phase, qint64 done, qint64 total) {
        QCOMPARE(phase, QStringLiteral("registrations"));
        QCOMPARE(total, qint64(many.size()));
        progress << done;
    }));
    QCOMPARE(progress.last(), qint64(many.size()));
    QCOMPARE(registrationCount(noon), 2);
    // The earliest of E2's registrations is the only one at or before this moment.
    QCOMPARE(registrationCount(eight.addSecs(-60 * 1233)), 1);

    qint64 id = 0;
    QCOMPARE(takeInto(id, s.organisation().addRegistration({QStringLiteral("E404"), eight, m_arrival, QString()})).code, StorageError::NotFound);
    QCOMPARE(id, qint64(0));
    STORAGE_OK(takeInto(id, s.organisation().addRegistration({QStringLiteral("E1"), noon, m_arrival, QStringLiteral("admin")})));
    QVERIFY(id > 0);
}

QTEST_GUILESS_MAIN(TestStorageAccounts)
#include "tst_storageaccounts.moc"
