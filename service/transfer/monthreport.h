#pragma once
// The figures of one employee's row in the monthly attendance report.
//
// - days present: the days of the month with at least one registration, whatever its activity;
// - present time: a registration's status lasts until the employee's next registration; the
//   time spent in statuses that count as present is added up, cut at the month's first and
//   last midnight (and at "now" for a month still running). It is real elapsed time: civil
//   moments go through the organisation's time zone, so the night summer time ends holds one
//   hour more and the night it begins one hour less (a reading in the skipped hour counts as
//   winter time);
// - calendars: those in force during the month, "NAME from YYYY-MM-DD", joined by "; ", the
//   one in force on the month's first day with the day it was assigned from;
// - exceptions: the month's one-day exceptions, "YYYY-MM-DD NAME", joined by "; ".

#include "transfer/civiltext.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QVector>

namespace vorna::transfer {

struct MonthRegistration
{
    QDateTime at;          // civil moment (wall clock, Qt::UTC spec as the storage keeps it)
    bool present = false;  // whether its activity's status counts as present
};

struct CalendarAssignment
{
    QString calendar;
    QDate from;            // in force from this day until the next assignment's day
};

struct DayException
{
    QDate day;
    QString name;          // the working-day kind
};

struct MonthInput
{
    Month month;
    // In time order, from the last registration before the month (its status carries into the
    // month) to the last one in it; earlier and later ones do no harm.
    QVector<MonthRegistration> registrations;
    // Every assignment of the employee, in the order made: a later one on the same day wins.
    QVector<CalendarAssignment> calendars;
    QVector<DayException> exceptions;   // any days; those outside the month are left out
};

struct MonthFigures
{
    int daysPresent = 0;
    qint64 presentSeconds = 0;
    QString calendars;
    QString exceptions;

    // Hours with two decimals, rounded half up: "7.50".
    QString presentHours() const;
};

// `zone` turns civil moments into real ones. `now` (a real moment, any spec) cuts a month that
// is still running; an invalid one cuts nothing.
MonthFigures computeMonth(const MonthInput &input, const QTimeZone &zone = QTimeZone::systemTimeZone(),
                          const QDateTime &now = QDateTime());

// One report row in the order of monthReportColumns().
QStringList monthReportRow(const QString &id, const QString &lastName, const QString &firstName,
                           const QString &department, const MonthFigures &figures);

} // namespace vorna::transfer
