// Lookups tell a miss from a database that fails: a missing row is NotFound, a database that
// went away is Unavailable, and a PostgreSQL restart heals on the next call.

#include "support/storagefixture.h"

#include "storage/sqlexecutor.h"

#include <QCryptographicHash>
#include <QSqlQuery>

#include <thread>

using namespace vorna::service;

namespace {

QByteArray tokenHash(const char *token)
{
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

// One lookup of the stores: whether it found something, and what it reported.
struct Answer
{
    bool found = false;
    StorageError error;
};
using Lookup = std::function<Answer(Database &)>;

template<typename T>
bool holds(const T &) { return true; }
template<typename T>
bool holds(const QVector<T> &list) { return !list.isEmpty(); }
bool holds(bool visible) { return visible; }

template<typename Call>
Lookup lookup(Call call)
{
    return [call](Database &s) {
        const auto result = call(s);
        return Answer{result.ok() && holds(result.value()), result.error()};
    };
}

// Every lookup, asked about what seed() stored (`present`) or about nothing (`absent`).
QList<QPair<QString, Lookup>> lookups(bool present)
{
    const QString user = present ? QStringLiteral("ana") : QStringLiteral("nobody");
    const QByteArray session = tokenHash(present ? "session" : "none");
    const QByteArray terminal = tokenHash(present ? "gate" : "none");
    const QString employee = present ? QStringLiteral("E1") : QStringLiteral("E404");
    return {
        {"findUser", lookup([=](Database &s) { return s.accounts().findUser(user); })},
        {"findSession", lookup([=](Database &s) { return s.accounts().findSession(session); })},
        {"findTerminal", lookup([=](Database &s) { return s.accounts().findTerminal(terminal); })},
        {"findEmployee", lookup([=](Database &s) { return s.organisation().findEmployee(employee); })},
        {"employeeVisibleTo",
         lookup([=](Database &s) { return s.presence().employeeVisibleTo(managerOfAll(), employee); })},
    };
}

QList<QPair<QString, Lookup>> lists()
{
    return {
        {"users", lookup([](Database &s) { return s.accounts().users(); })},
        {"terminals", lookup([](Database &s) { return s.accounts().terminals(); })},
        {"departments", lookup([](Database &s) { return s.organisation().departments(); })},
        {"activityKinds", lookup([](Database &s) { return s.organisation().activityKinds(); })},
        {"calendars", lookup([](Database &s) { return s.organisation().calendars(); })},
        {"workDayKinds", lookup([](Database &s) { return s.organisation().workDayKinds(); })},
        {"auditLog", lookup([](Database &s) { return s.calendars().auditLog(QString()); })},
    };
}

} // namespace

class TestStorageFailure : public StorageTestCase
{
    Q_OBJECT

private slots:
    void aMissIsNotFoundAndAHitIsClean();
    void aDatabaseThatWentAwayIsUnavailable();
    void aRestartedServerHealsOnTheNextCall();
    void aConnectionClosedInsideAWriteIsUnavailable();

private:
    void seed() override;
};

void TestStorageFailure::seed()
{
    Database &s = m_fixture.storage();
    Department department{0, QStringLiteral("Production")};
    STORAGE_OK(s.organisation().addDepartment(department));
    STORAGE_OK(s.accounts().addUser({0, QStringLiteral("ana"), QStringLiteral("hash"), Role::Manager, true, {}}));
    STORAGE_OK(s.accounts().createSession({tokenHash("session"), 0, QStringLiteral("ana"), {}, {}, {}, {}}));
    STORAGE_OK(s.accounts().addTerminal({0, QStringLiteral("gate"), tokenHash("gate"), {}}));
    STORAGE_OK(s.organisation().addEmployees({{QStringLiteral("E1"), QStringLiteral("Ilić"), QStringLiteral("Ana"), department.id, {}, {}, {}}}));
    PresenceStatus present{0, QStringLiteral("Present"), 0x00FF00};
    STORAGE_OK(s.organisation().addPresenceStatus(present));
    ActivityKind arrival{0, QStringLiteral("Arrival"), present.id};
    STORAGE_OK(s.organisation().addActivityKind(arrival));
    Calendar calendar{0, QStringLiteral("Shift A"), 0x112233};
    STORAGE_OK(s.organisation().addCalendar(calendar));
    WorkDayKind holiday{0, QStringLiteral("Holiday"), 0x445566};
    STORAGE_OK(s.organisation().addWorkDayKind(holiday));
    qint64 auditId = 0;
    STORAGE_OK(takeInto(auditId, s.calendars().assignCalendar(managerOfAll(QStringLiteral("ana")), calendar.id, QStringLiteral("E1"),
                                QDate(2024, 3, 1), civilTime(QStringLiteral("2024-03-01T08:00:00")))));
}

void TestStorageFailure::aMissIsNotFoundAndAHitIsClean()
{
    Database &s = m_fixture.storage();
    for (const auto &[name, ask] : lookups(true) + lists()) {
        const Answer answer = ask(s);
        QVERIFY2(answer.found && answer.error.ok(), qPrintable(name + QLatin1String(": ") + answer.error.message));
    }
    for (const auto &[name, ask] : lookups(false)) {
        const Answer answer = ask(s);
        QVERIFY2(!answer.found, qPrintable(name));
        QVERIFY2(answer.error.code == StorageError::NotFound, qPrintable(name + QLatin1String(": ") + answer.error.message));
        QVERIFY2(!answer.error.message.isEmpty(), qPrintable(name));
    }
    // An empty list is an answer, not a failure.
    const Result<QVector<AuditEntry>> none = s.calendars().auditLog(QStringLiteral("E404"));
    QVERIFY2(none.ok(), qPrintable(none.error().message));
    QVERIFY(none->isEmpty());
}

void TestStorageFailure::aDatabaseThatWentAwayIsUnavailable()
{
    Database &s = m_fixture.storage();
    QString problem;
    QVERIFY2(m_fixture.takeDatabaseAway(&problem), qPrintable(problem));
    QList<QPair<QString, Answer>> answers;
    const auto askAll = [&] {
        for (const auto &[name, ask] : lookups(true) + lookups(false) + lists())
            answers.append({name, ask(s)});
        answers.append({QStringLiteral("schemaVersion"), {false, s.schemaVersion().error()}});
    };
    // An open SQLite connection keeps reading the moved file; a new one finds it gone.
    // PostgreSQL's connection is cut by the drop, so this thread's own connection serves.
    if (m_fixture.isPostgres())
        askAll();
    else
        std::thread(askAll).join();
    m_fixture.bringDatabaseBack();

    QCOMPARE(answers.size(), 2 * lookups(true).size() + lists().size() + 1);
    for (const auto &[name, answer] : qAsConst(answers)) {
        QVERIFY2(!answer.found, qPrintable(name));
        QVERIFY2(answer.error.code == StorageError::Unavailable,
                 qPrintable(name + QLatin1String(": ") + answer.error.message));
        QVERIFY2(answer.error.message.contains(QLatin1String("database")), qPrintable(answer.error.message));
    }
}

void TestStorageFailure::aRestartedServerHealsOnTheNextCall()
{
    if (!m_fixture.isPostgres())
        QSKIP("Only a database server can drop the storage's connections.");
    Database &s = m_fixture.storage();
    QVERIFY(s.accounts().findUser(QStringLiteral("ana")));
    const auto cutConnections = [&] {
        return m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity"
                                                  " WHERE datname = current_database() AND pid <> pg_backend_pid()"))
            .toInt();
    };

    QCOMPARE(cutConnections(), 1);
    const Result<User> ana = s.accounts().findUser(QStringLiteral("ana"));
    QVERIFY2(ana.ok(), qPrintable(ana.error().message));
    QCOMPARE(ana->name, QStringLiteral("ana"));

    // A write that meets the cut connection at its start goes through as well.
    QCOMPARE(cutConnections(), 1);
    Department department{0, QStringLiteral("After the restart")};
    STORAGE_OK(s.organisation().addDepartment(department));
    QCOMPARE(s.organisation().departments().value().size(), 2);
}

void TestStorageFailure::aConnectionClosedInsideAWriteIsUnavailable()
{
    if (!m_fixture.isPostgres())
        QSKIP("Only a database server can cut a connection in the middle of a transaction.");
    QString problem;
    const std::optional<SqlDialect> dialect = postgresDialect(m_fixture.location(), &problem);
    QVERIFY2(dialect, qPrintable(problem));
    SqlExecutor sql(*dialect);
    const StorageError error = sql.write(QStringLiteral("rename a department"), [&](Transaction &tx) -> StorageError {
        {
            QSqlQuery prepared(tx.db());
            const StorageError first = tx.exec(prepared, QStringLiteral("SELECT id FROM departments WHERE name = ?"),
                                               {QStringLiteral("Production")}, QStringLiteral("find a department"));
            if (!first.ok())
                return first;
            m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(pg_terminate_backend(pid)) FROM pg_stat_activity"
                                               " WHERE datname = current_database() AND pid <> pg_backend_pid()"));
            // Freeing the prepared statement meets the cut and closes the driver's connection,
            // so the next statement is refused without a word from the server.
        }
        return tx.change(QStringLiteral("UPDATE departments SET name = ?"), {QStringLiteral("Assembly")},
                         QStringLiteral("rename a department"))
            .error();
    });
    QVERIFY2(error.code == StorageError::Unavailable, qPrintable(error.message));
    QVERIFY2(error.message.contains(QLatin1String("cannot be reached")), qPrintable(error.message));
    QVERIFY2(!error.message.contains(QLatin1String("()")), qPrintable(error.message));
}

QTEST_GUILESS_MAIN(TestStorageFailure)
#include "tst_storagefailure.moc"
