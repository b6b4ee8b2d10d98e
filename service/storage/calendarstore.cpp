#include "calendarstore.h"

#include "civiltime.h"
#include "employeekey.h"

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

StorageError CalendarStore::readMonth(const QString &employeeId, int year, int month, const MonthQuestion &question)
{
    const QDate first(year, month, 1);
    if (!first.isValid())
        return invalid(QStringLiteral("There is no month %1 of the year %2; months run from 1 to 12.").arg(month).arg(year));
    const qint64 firstDay = civil::dayNumber(first);
    const qint64 lastDay = firstDay + first.daysInMonth() - 1;
    return m_sql.read([&](Transaction &tx) {
        const Result<EmployeeKey> employee = lookUpEmployee(tx, employeeId);
        if (!employee)
            return employee.error();
        QSqlQuery query(tx.db());
        const Error error = tx.exec(query, question.sql, question.values(employee->id, firstDay, lastDay), question.doing);
        while (error.ok() && query.next())
            question.row(query, firstDay, lastDay);
        return error;
    });
}

Result<QVector<CalendarRange>> CalendarStore::calendarHistory(const QString &employeeId, int year, int month)
{
    QVector<CalendarRange> ranges;
    // The assignment in force on the 1st (the latest one that starts by then), and every one
    // that starts later in the month; each range ends where the next begins.
    const MonthQuestion question{
        QStringLiteral("read the calendars of the employee %1").arg(quoted(employeeId)),
        QStringLiteral("SELECT a.valid_from, c.name, c.color FROM calendar_assignments a"
                       " JOIN calendars c ON c.id = a.calendar_id"
                       " WHERE a.employee_id = ? AND a.valid_from <= ? AND a.valid_from >= COALESCE("
                       "   (SELECT MAX(b.valid_from) FROM calendar_assignments b"
                       "    WHERE b.employee_id = ? AND b.valid_from <= ?), ?)"
                       " ORDER BY a.valid_from"),
        [](qint64 employee, qint64 firstDay, qint64 lastDay) {
            return QVariantList{employee, lastDay, employee, firstDay, firstDay};
        },
        [&](const QSqlQuery &q, qint64 firstDay, qint64 lastDay) {
            const QDateTime begin = civil::startOfDay(civil::dayFromNumber(std::max(q.value(0).toLongLong(), firstDay)));
            if (!ranges.isEmpty())
                ranges.last().validEnd = begin;
            ranges.append({q.value(1).toString(), q.value(2).toInt(), begin,
                           civil::startOfDay(civil::dayFromNumber(lastDay))});
        }};
    const Error error = readMonth(employeeId, year, month, question);
    if (!error.ok())
        return error;
    return ranges;
}

Result<QVector<ExceptionDay>> CalendarStore::exceptionHistory(const QString &employeeId, int year, int month)
{
    QVector<ExceptionDay> days;
    const MonthQuestion question{
        QStringLiteral("read the working-day exceptions of the employee %1").arg(quoted(employeeId)),
        QStringLiteral("SELECT x.day, k.name, k.color FROM work_day_exceptions x"
                       " JOIN work_day_kinds k ON k.id = x.work_day_kind_id"
                       " WHERE x.employee_id = ? AND x.day BETWEEN ? AND ? ORDER BY x.day"),
        [](qint64 employee, qint64 firstDay, qint64 lastDay) { return QVariantList{employee, firstDay, lastDay}; },
        [&](const QSqlQuery &q, qint64, qint64) {
            days.append({q.value(1).toString(), q.value(2).toInt(), civil::dayFromNumber(q.value(0).toLongLong())});
        }};
    const Error error = readMonth(employeeId, year, month, question);
    if (!error.ok())
        return error;
    return days;
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
