#include "storage/calendarstore.h"

#include "storage/civiltime.h"
#include "storage/employeekey.h"

#include <QHash>

#include <algorithm>

namespace vorna::service {

using Error = StorageError;

// The two kinds of assignment differ only in their tables, so one code path serves both.
struct CalendarStore::AssignmentKind
{
    QString action;      // as the audit log records it
    QString valueKind;   // for sentences
    QString valueTable;  // where the assigned value's name lives
    QString replacedSql; // the value in force on (employee, day) before the change
    QString upsertSql;   // (employee, day, value)
};

const CalendarStore::AssignmentKind CalendarStore::calendarAssignment{
    QStringLiteral("calendar"), QStringLiteral("calendar"), QStringLiteral("calendars"),
    QStringLiteral("SELECT c.name FROM calendar_assignments a JOIN calendars c ON c.id = a.calendar_id"
                   " WHERE a.employee_id = ? AND a.valid_from <= ? ORDER BY a.valid_from DESC LIMIT 1"),
    QStringLiteral("INSERT INTO calendar_assignments (employee_id, valid_from, calendar_id) VALUES (?, ?, ?)"
                   " ON CONFLICT (employee_id, valid_from) DO UPDATE SET calendar_id = excluded.calendar_id")};

const CalendarStore::AssignmentKind CalendarStore::workDayAssignment{
    QStringLiteral("workday"), QStringLiteral("working-day kind"), QStringLiteral("work_day_kinds"),
    QStringLiteral("SELECT k.name FROM work_day_exceptions x JOIN work_day_kinds k ON k.id = x.work_day_kind_id"
                   " WHERE x.employee_id = ? AND x.day = ?"),
    QStringLiteral("INSERT INTO work_day_exceptions (employee_id, day, work_day_kind_id) VALUES (?, ?, ?)"
                   " ON CONFLICT (employee_id, day) DO UPDATE SET work_day_kind_id = excluded.work_day_kind_id")};

namespace {

Error checkMayChange(const User &user, const EmployeeKey &employee, const QString &employeeId)
{
    if (user.allDepartments || user.departmentIds.contains(employee.departmentId))
        return Error::none();
    return {Error::PermissionDenied, QStringLiteral("The user %1 may not change the employee %2, who works in a "
                                                    "department outside that user's departments. Ask an "
                                                    "administrator for access to that department.")
                                         .arg(quoted(user.name), quoted(employeeId))};
}

} // namespace

namespace {

// The month's first and last day numbers; InvalidArgument for a month that does not exist.
Result<QPair<qint64, qint64>> monthDays(int year, int month)
{
    const QDate first(year, month, 1);
    if (!first.isValid())
        return invalid(QStringLiteral("There is no month %1 of the year %2; months run from 1 to 12.").arg(month).arg(year));
    const qint64 firstDay = civil::dayNumber(first);
    return qMakePair(firstDay, firstDay + first.daysInMonth() - 1);
}

} // namespace

// For every employee that `filter` (a condition on `e`, binding `values`) keeps: the
// assignment in force on the 1st (the latest one that starts by then) and every one that
// starts later in the month, each range ending where the next begins; and the month's
// working-day exceptions. Ordered by employee id.
Result<QVector<EmployeeMonth>> CalendarStore::monthOf(Transaction &tx, int year, int month, const QString &filter,
                                                      const QVariantList &values)
{
    const Result<QPair<qint64, qint64>> days = monthDays(year, month);
    if (!days)
        return days.error();
    const auto [firstDay, lastDay] = *days;
    QVector<EmployeeMonth> months;
    QHash<QString, int> index;
    const auto monthFor = [&](const QString &employeeId) -> EmployeeMonth & {
        if (!index.contains(employeeId)) {
            index.insert(employeeId, months.size());
            months.append({employeeId, {}, {}});
        }
        return months[index.value(employeeId)];
    };
    QSqlQuery query(tx.db());
    Error error = tx.exec(
        query,
        QStringLiteral("SELECT e.code, a.valid_from, c.name, c.color FROM calendar_assignments a"
                       " JOIN employees e ON e.id = a.employee_id JOIN calendars c ON c.id = a.calendar_id"
                       " WHERE a.valid_from <= ? AND a.valid_from >= COALESCE((SELECT MAX(b.valid_from)"
                       "   FROM calendar_assignments b WHERE b.employee_id = a.employee_id AND b.valid_from <= ?), ?)%1"
                       " ORDER BY e.code, a.valid_from")
            .arg(filter),
        QVariantList{lastDay, firstDay, firstDay} + values, QStringLiteral("read the month's calendars"));
    while (error.ok() && query.next()) {
        QVector<CalendarRange> &ranges = monthFor(query.value(0).toString()).calendars;
        const QDateTime begin = civil::startOfDay(civil::dayFromNumber(std::max(query.value(1).toLongLong(), firstDay)));
        if (!ranges.isEmpty())
            ranges.last().validEnd = begin;
        ranges.append({query.value(2).toString(), query.value(3).toInt(), begin,
                       civil::startOfDay(civil::dayFromNumber(lastDay))});
    }
    if (error.ok())
        error = tx.exec(query,
                        QStringLiteral("SELECT e.code, x.day, k.name, k.color FROM work_day_exceptions x"
                                       " JOIN employees e ON e.id = x.employee_id"
                                       " JOIN work_day_kinds k ON k.id = x.work_day_kind_id"
                                       " WHERE x.day BETWEEN ? AND ?%1 ORDER BY e.code, x.day")
                            .arg(filter),
                        QVariantList{firstDay, lastDay} + values, QStringLiteral("read the month's working-day exceptions"));
    while (error.ok() && query.next())
        monthFor(query.value(0).toString())
            .exceptions.append({query.value(2).toString(), query.value(3).toInt(),
                                civil::dayFromNumber(query.value(1).toLongLong())});
    if (!error.ok())
        return error;
    std::sort(months.begin(), months.end(),
              [](const EmployeeMonth &a, const EmployeeMonth &b) { return a.employeeId < b.employeeId; });
    return months;
}

Result<EmployeeMonth> CalendarStore::monthOfEmployee(const QString &employeeId, int year, int month)
{
    return m_sql.fetch<EmployeeMonth>([&](Transaction &tx) -> Result<EmployeeMonth> {
        const Result<EmployeeKey> employee = lookUpEmployee(tx, employeeId);
        if (!employee)
            return employee.error();
        const Result<QVector<EmployeeMonth>> months = monthOf(tx, year, month, QStringLiteral(" AND e.id = ?"), {employee->id});
        if (!months)
            return months.error();
        return months->isEmpty() ? EmployeeMonth{employeeId, {}, {}} : months->first();
    });
}

Result<QVector<CalendarRange>> CalendarStore::calendarHistory(const QString &employeeId, int year, int month)
{
    const Result<EmployeeMonth> found = monthOfEmployee(employeeId, year, month);
    return found ? Result<QVector<CalendarRange>>(found->calendars) : found.error();
}

Result<QVector<ExceptionDay>> CalendarStore::exceptionHistory(const QString &employeeId, int year, int month)
{
    const Result<EmployeeMonth> found = monthOfEmployee(employeeId, year, month);
    return found ? Result<QVector<ExceptionDay>>(found->exceptions) : found.error();
}

Result<QVector<EmployeeMonth>> CalendarStore::month(int year, int month, qint64 departmentId)
{
    const QString filter = departmentId ? QStringLiteral(" AND e.department_id = ?") : QString();
    const QVariantList values = departmentId ? QVariantList{departmentId} : QVariantList();
    return m_sql.fetch<QVector<EmployeeMonth>>(
        [&](Transaction &tx) { return monthOf(tx, year, month, filter, values); });
}

Result<qint64> CalendarStore::assignCalendar(const User &user, int calendarId, const QString &employeeId,
                                             const QDate &from, const QDateTime &nowCivil)
{
    return assignAlone(user, calendarAssignment, {employeeId, from, calendarId}, nowCivil);
}

Result<qint64> CalendarStore::assignCalendar(Transaction &tx, const User &user, int calendarId,
                                             const QString &employeeId, const QDate &from, const QDateTime &nowCivil)
{
    return assign(tx, user, calendarAssignment, {employeeId, from, calendarId}, nowCivil);
}

Result<qint64> CalendarStore::assignWorkDay(const User &user, int workDayKindId, const QString &employeeId,
                                            const QDate &day, const QDateTime &nowCivil)
{
    return assignAlone(user, workDayAssignment, {employeeId, day, workDayKindId}, nowCivil);
}

Result<qint64> CalendarStore::assignWorkDay(Transaction &tx, const User &user, int workDayKindId,
                                            const QString &employeeId, const QDate &day, const QDateTime &nowCivil)
{
    return assign(tx, user, workDayAssignment, {employeeId, day, workDayKindId}, nowCivil);
}

Result<qint64> CalendarStore::assignAlone(const User &user, const AssignmentKind &kind, const Assignment &assignment,
                                          const QDateTime &nowCivil)
{
    Result<qint64> auditId = qint64(0);
    const QString doing = QStringLiteral("assign a %1 to the employee %2").arg(kind.valueKind, quoted(assignment.employeeId));
    const Error error = m_sql.write(doing, [&](Transaction &tx) {
        auditId = assign(tx, user, kind, assignment, nowCivil);
        return auditId.error();
    });
    if (!error.ok())
        return error;
    return auditId;
}

Result<qint64> CalendarStore::assign(Transaction &tx, const User &user, const AssignmentKind &kind,
                                     const Assignment &assignment, const QDateTime &nowCivil)
{
    if (user.role != Role::Manager)
        return Error{Error::PermissionDenied,
                     QStringLiteral("The user %1 may only view attendance; assigning calendars and working days needs "
                                    "the manager role. Ask an administrator.")
                         .arg(quoted(user.name))};
    if (user.name.isEmpty())
        return invalid(QStringLiteral("A change needs the name of the user who makes it, for the audit log."));
    if (!assignment.day.isValid())
        return invalid(QStringLiteral("The day of the %1 assignment is not a valid date.").arg(kind.valueKind));
    const QDateTime when = nowCivil.isValid() ? nowCivil : QDateTime::currentDateTime();
    const QString doing = QStringLiteral("assign a %1 to the employee %2").arg(kind.valueKind, quoted(assignment.employeeId));
    const Result<EmployeeKey> employee = lookUpEmployee(tx, assignment.employeeId);
    if (!employee)
        return employee.error();
    Error error = checkMayChange(user, *employee, assignment.employeeId);
    if (!error.ok())
        return error;
    const Result<QString> newValue = tx.row<QString>(
        QStringLiteral("SELECT name FROM %1 WHERE id = ?").arg(kind.valueTable), {assignment.valueId},
        [](const QSqlQuery &q) { return q.value(0).toString(); }, doing,
        {Error::NotFound, QStringLiteral("There is no %1 with the number %2.").arg(kind.valueKind).arg(assignment.valueId)});
    if (!newValue)
        return newValue.error();
    QSqlQuery query(tx.db());
    // Serialises changes of one employee, so the replaced value in the audit is exact.
    error = tx.exec(query, QStringLiteral("SELECT id FROM employees WHERE id = ?") + tx.dialect().forUpdate,
                    {employee->id}, doing);
    const qint64 day = civil::dayNumber(assignment.day);
    if (error.ok())
        error = tx.exec(query, kind.replacedSql, {employee->id, day}, doing);
    if (!error.ok())
        return error;
    const QString replaced = query.next() ? query.value(0).toString() : QString();
    error = tx.exec(query, kind.upsertSql, {employee->id, day, assignment.valueId}, doing);
    if (error.ok())
        error = tx.exec(query,
                        QStringLiteral("INSERT INTO audit_log (user_name, at, action, employee_id, day, new_value,"
                                       " replaced_value) VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id"),
                        {user.name, civil::seconds(when), kind.action, employee->id, day, *newValue, replaced}, doing);
    if (!error.ok())
        return error;
    return query.next() ? query.value(0).toLongLong() : qint64(0);
}

Result<QVector<AuditEntry>> CalendarStore::auditLog(const QString &employeeId)
{
    const QString filter = employeeId.isEmpty() ? QString() : QStringLiteral(" WHERE e.code = ?");
    const QVariantList values = employeeId.isEmpty() ? QVariantList() : QVariantList{employeeId};
    return m_sql.fetch<QVector<AuditEntry>>([&](Transaction &tx) {
        return tx.rows<AuditEntry>(
            QStringLiteral("SELECT a.id, a.user_name, a.at, a.action, e.code, a.day, a.new_value, a.replaced_value"
                           " FROM audit_log a JOIN employees e ON e.id = a.employee_id%1 ORDER BY a.id")
                .arg(filter),
            values,
            [](const QSqlQuery &q) {
                return AuditEntry{q.value(0).toLongLong(), q.value(1).toString(),
                                  civil::momentFromSeconds(q.value(2).toLongLong()), q.value(3).toString(),
                                  q.value(4).toString(), civil::dayFromNumber(q.value(5).toLongLong()),
                                  q.value(6).toString(), q.value(7).toString()};
            },
            QStringLiteral("read the audit log"));
    });
}

} // namespace vorna::service
