#pragma once
// The organisation's own data: departments, employees and their pictures, presence statuses,
// activity kinds, calendars and working-day kinds, and the registrations loaded in bulk.
//
// Writers come in two forms: one that runs in a transaction of its own, and one that joins
// the caller's Transaction, so that many of them are kept or dropped together.

#include "sqlexecutor.h"
#include "storage.h"

#include <QHash>
#include <QSet>

namespace vorna::service {

class OrganisationStore
{
public:
    explicit OrganisationStore(SqlExecutor &sql) : m_sql(sql) {}

    StorageError addDepartment(Department &department);                  // sets id
    StorageError addDepartment(Transaction &tx, Department &department);
    Result<QVector<Department>> departments();

    StorageError addEmployees(const QVector<Employee> &employees, const Progress &progress = {});
    StorageError addEmployees(Transaction &tx, const QVector<Employee> &employees, const Progress &progress = {});
    Result<Employee> findEmployee(const QString &employeeId);

    StorageError addPresenceStatus(PresenceStatus &status);              // sets id
    StorageError addPresenceStatus(Transaction &tx, PresenceStatus &status);
    StorageError addActivityKind(ActivityKind &kind);                    // sets id
    StorageError addActivityKind(Transaction &tx, ActivityKind &kind);
    Result<QVector<ActivityKind>> activityKinds();
    StorageError addCalendar(Calendar &calendar);                        // sets id
    StorageError addCalendar(Transaction &tx, Calendar &calendar);
    Result<QVector<Calendar>> calendars();
    StorageError addWorkDayKind(WorkDayKind &kind);                      // sets id
    StorageError addWorkDayKind(Transaction &tx, WorkDayKind &kind);
    Result<QVector<WorkDayKind>> workDayKinds();

    // Bulk load, for the demo and imports.
    StorageError addRegistrations(const QVector<Registration> &registrations, const Progress &progress = {});
    StorageError addRegistrations(Transaction &tx, const QVector<Registration> &registrations,
                                  const Progress &progress = {});
    // One registration, e.g. from a terminal; the result is its number.
    Result<qint64> addRegistration(const Registration &registration);

    // Seeks the newest registration of each given employee and keeps it as the latest.
    static StorageError refreshLatestRegistrations(Transaction &tx, const QSet<qint64> &employees, const QString &doing);

private:
    // Runs `work` in a transaction of its own.
    StorageError inOwnTransaction(const QString &doing, const std::function<StorageError(Transaction &)> &work);
    StorageError insertNamed(Transaction &tx, const QString &table, const QStringList &columns, const QString &what,
                             const QVariantList &values, qint64 *id);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
