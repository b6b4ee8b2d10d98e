#pragma once
// Each employee's calendars and working-day exceptions over time: the assignments, their
// audit log, and the month histories the panel shows.

#include "sqlexecutor.h"
#include "storage.h"

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
    Result<qint64> assign(Transaction &tx, const User &user, const AssignmentKind &kind, const Assignment &assignment,
                          const QDateTime &nowCivil);
    Result<qint64> assignAlone(const User &user, const AssignmentKind &kind, const Assignment &assignment,
                               const QDateTime &nowCivil);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
