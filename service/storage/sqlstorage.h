#pragma once
// The storage on an SQL database through Qt's SQL drivers: SQLite or PostgreSQL, told apart
// only by the SqlDialect it is given.

#include "migrationcatalog.h"
#include "presencereader.h"
#include "sqlexecutor.h"
#include "storage.h"

#include <QHash>
#include <QSet>

namespace vorna::service {

class SqlStorage final : public Storage
{
public:
    explicit SqlStorage(const SqlDialect &dialect);

    // Opens the calling thread's connection and checks that the database is empty or one of
    // ours at a schema version this build knows.
    StorageError check();
    // Threads that hold an open connection now.
    int openConnections() const;
    // The plan the engine picks for the presence query, one line per row of the plan.
    StorageError explainPresence(const User &user, const QDateTime &at, QStringList *plan);

    StorageError migrate(const Progress &progress = {}) override;
    int schemaVersion(StorageError *error = nullptr) override;
    QString describe() const override;
    StorageError inOneTransaction(const QString &doing, const std::function<StorageError()> &work) override;

    StorageError addUser(const User &user) override;
    StorageError setPasswordHash(const QString &userName, const QString &hash) override;
    StorageError removeUser(const QString &userName) override;
    std::optional<User> findUser(const QString &userName, StorageError *error = nullptr) override;
    QVector<User> users(StorageError *error = nullptr) override;

    StorageError createSession(const Session &session, const SessionCap &cap = {}) override;
    std::optional<Session> findSession(const QByteArray &tokenHash, StorageError *error = nullptr) override;
    StorageError touchSession(const QByteArray &tokenHash, const QDateTime &nowUtc) override;
    StorageError removeSession(const QByteArray &tokenHash) override;
    StorageError removeSessionsOf(const QString &userName, int *removed = nullptr) override;
    int expireSessions(const QDateTime &idleBeforeUtc) override;

    StorageError addTerminal(const Terminal &terminal) override;
    StorageError removeTerminal(const QString &name) override;
    std::optional<Terminal> findTerminal(const QByteArray &tokenHash, StorageError *error = nullptr) override;
    QVector<Terminal> terminals(StorageError *error = nullptr) override;

    StorageError updateLoginFailures(const QStringList &keys,
                                     const std::function<bool(QVector<LoginFailures> &)> &change) override;
    StorageError clearLoginFailures(const QStringList &keys) override;
    int forgetLoginFailures(qint64 lastFailureBeforeUtc, qint64 nowUtc) override;

    StorageError addDepartment(Department &department) override;
    QVector<Department> departments(StorageError *error = nullptr) override;
    StorageError addEmployees(const QVector<Employee> &employees, const Progress &progress = {}) override;
    std::optional<Employee> findEmployee(const QString &employeeId, StorageError *error = nullptr) override;
    StorageError addPresenceStatus(PresenceStatus &status) override;
    StorageError addActivityKind(ActivityKind &kind) override;
    QVector<ActivityKind> activityKinds(StorageError *error = nullptr) override;
    StorageError addCalendar(Calendar &calendar) override;
    StorageError addWorkDayKind(WorkDayKind &kind) override;
    StorageError addRegistrations(const QVector<Registration> &registrations, const Progress &progress = {}) override;
    StorageError addRegistration(const Registration &registration, qint64 *newId) override;

    StorageError presence(const User &user, const PresenceQuery &query,
                          const std::function<void(const PresenceRow &)> &sink) override;
    StorageError presencePage(const User &user, const PresenceQuery &query, PresenceCursor *cursor,
                              QVector<PresenceRow> *rows) override;
    QVector<Calendar> calendars(StorageError *error = nullptr) override;
    QVector<WorkDayKind> workDayKinds(StorageError *error = nullptr) override;
    StorageError calendarHistory(const QString &employeeId, int year, int month,
                                 QVector<CalendarRange> *out) override;
    StorageError exceptionHistory(const QString &employeeId, int year, int month,
                                  QVector<ExceptionDay> *out) override;
    bool employeeVisibleTo(const User &user, const QString &employeeId, StorageError *error = nullptr) override;

    StorageError assignCalendar(const User &user, int calendarId, const QString &employeeId,
                                const QDate &from, const QDateTime &nowCivil, qint64 *auditId) override;
    StorageError assignWorkDay(const User &user, int workDayKindId, const QString &employeeId,
                               const QDate &day, const QDateTime &nowCivil, qint64 *auditId) override;
    QVector<AuditEntry> auditLog(const QString &employeeId = QString(), StorageError *error = nullptr) override;

    bool sharesChanges() const override;
    StorageError announcePresenceChange(qint64 departmentId) override;
    std::unique_ptr<PresenceChangeListener> listenForPresenceChanges(
        std::function<void(qint64 departmentId)> heard, std::function<void(const QString &problem)> lost) override;

private:
    struct EmployeeKey
    {
        qint64 id = 0;
        qint64 departmentId = 0;
    };
    // The tables and statements of one kind of assignment (calendar or working day).
    struct AssignmentKind;
    static const AssignmentKind calendarAssignment;
    static const AssignmentKind workDayAssignment;
    struct Assignment
    {
        QString employeeId;
        QDate day;
        qint64 valueId = 0; // the calendar or working-day kind
    };

    StorageError applyMigration(const Migration &migration);
    StorageError checkSessionCap(QSqlQuery &query, qint64 userId, const Session &session, const SessionCap &cap,
                                 const QString &doing);
    StorageError insertNamed(const QString &table, const QStringList &columns, const QString &what,
                             const QVariantList &values, qint64 *id);
    template<typename T>
    QVector<T> readAll(const QString &sql, const QVariantList &values, const std::function<T(const QSqlQuery &)> &make,
                       StorageError *error);
    // `missing` is the error for no row.
    template<typename T>
    std::optional<T> readOne(const QString &sql, const QVariantList &values,
                             const std::function<T(const QSqlQuery &)> &make, const StorageError &missing,
                             StorageError *error);

    StorageError loadEmployeeKeys(QSqlDatabase &db, const QString &doing, QHash<QString, qint64> *keys);
    StorageError loadIds(QSqlDatabase &db, const QString &table, const QString &doing, QSet<qint64> *ids);
    StorageError lookUpEmployee(QSqlDatabase &db, const QString &code, EmployeeKey *key);
    StorageError refreshLatestRegistrations(QSqlDatabase &db, const QSet<qint64> &employees, const QString &doing);
    static StorageError checkEmployee(const Employee &employee, int position, const QSet<qint64> &departmentIds);
    static StorageError checkRegistration(const Registration &registration, const QHash<QString, qint64> &employees,
                                          const QSet<qint64> &kinds);

    // A question about one employee's month: its statement, the values it binds for the
    // employee and the month's first and last day numbers, and what to do with each row.
    struct MonthQuestion
    {
        QString doing;
        QString sql;
        std::function<QVariantList(qint64 employee, qint64 firstDay, qint64 lastDay)> values;
        std::function<void(const QSqlQuery &row, qint64 firstDay, qint64 lastDay)> row;
    };
    StorageError readMonth(const QString &employeeId, int year, int month, const MonthQuestion &question);
    static StorageError checkMayChange(const User &user, const EmployeeKey &employee, const QString &employeeId);
    StorageError assign(const User &user, const AssignmentKind &kind, const Assignment &assignment,
                        const QDateTime &nowCivil, qint64 *auditId);

    SqlExecutor m_sql;
};

} // namespace vorna::service
