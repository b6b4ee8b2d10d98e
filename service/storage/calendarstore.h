#pragma once
// Each employee's calendars and working-day exceptions over time: the assignments, their
// audit log, and the month histories the panel shows.

#include "storage/sqlexecutor.h"
#include "storage/storage.h"

namespace vorna::service {

struct EmployeeKey;

class CalendarStore
{
public:
    explicit CalendarStore(SqlExecutor &sql) : m_sql(sql) {}

    // The employee's calendar assignments clipped to the month, in time order; the last one
    // ends at 00:00 of the month's last day. NotFound for an unknown employee.
    Result<QVector<CalendarRange>> calendarHistory(const QString &employeeId, int year, int month);
    Result<QVector<ExceptionDay>> exceptionHistory(const QString &employeeId, int year, int month);

    // The calendars and exceptions of the month for every employee who has any (of one
    // department when it is not 0), ordered by employee id; each as calendarHistory() and
    // exceptionHistory() give them.
    Result<QVector<EmployeeMonth>> month(int year, int month, qint64 departmentId = 0);

    // Both write the assignment and its audit entry in one transaction, and give the audit
    // entry's number. They check that the user is a manager and may see the employee, and
    // refuse with PermissionDenied otherwise.
    Result<qint64> assignCalendar(const User &user, int calendarId, const QString &employeeId, const QDate &from,
                                  const QDateTime &nowCivil);
    Result<qint64> assignCalendar(Transaction &tx, const User &user, int calendarId, const QString &employeeId,
                                  const QDate &from, const QDateTime &nowCivil);
    Result<qint64> assignWorkDay(const User &user, int workDayKindId, const QString &employeeId, const QDate &day,
                                 const QDateTime &nowCivil);
    Result<qint64> assignWorkDay(Transaction &tx, const User &user, int workDayKindId, const QString &employeeId,
                                 const QDate &day, const QDateTime &nowCivil);
    // Every entry, or one employee's, oldest first.
    Result<QVector<AuditEntry>> auditLog(const QString &employeeId = QString());

private:
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
    Result<QVector<EmployeeMonth>> monthOf(Transaction &tx, int year, int month, const QString &filter,
                                           const QVariantList &values);
    Result<EmployeeMonth> monthOfEmployee(const QString &employeeId, int year, int month);
    Result<qint64> assign(Transaction &tx, const User &user, const AssignmentKind &kind, const Assignment &assignment,
                          const QDateTime &nowCivil);
    Result<qint64> assignAlone(const User &user, const AssignmentKind &kind, const Assignment &assignment,
                               const QDateTime &nowCivil);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
