#include "transfer/monthreport.h"

#include <QSet>

#include <algorithm>
#include <map>

namespace vorna::transfer {

namespace {

constexpr qint64 MsecsPerDay = 86400 * 1000;

// Milliseconds since the epoch of a civil moment read on the zone's clock. A reading in the hour
// skipped when summer time begins is read with the offset in force before the skip, as a clock
// not yet put forward shows it; one in the hour repeated when summer time ends is read as Qt
// reads it.
qint64 realMsecs(const QDate &day, const QTime &time, const QTimeZone &zone)
{
    const QDateTime moment(day, time, zone);
    if (moment.isValid())
        return moment.toMSecsSinceEpoch();
    const qint64 asUtc = QDateTime(day, time, Qt::UTC).toMSecsSinceEpoch();
    // A day earlier lies before any skip, even one of a whole day.
    const int offsetBefore = zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(asUtc - MsecsPerDay, Qt::UTC));
    return asUtc - qint64(offsetBefore) * 1000;
}

qint64 realMsecs(const QDateTime &civil, const QTimeZone &zone)
{
    return realMsecs(civil.date(), civil.time(), zone);
}

qint64 presentMsecs(QVector<MonthRegistration> registrations, qint64 begin, qint64 end, const QTimeZone &zone)
{
    std::stable_sort(registrations.begin(), registrations.end(),
                     [](const MonthRegistration &a, const MonthRegistration &b) { return a.at < b.at; });
    qint64 total = 0;
    for (int i = 0; i < registrations.size(); ++i) {
        if (!registrations.at(i).present)
            continue;
        const qint64 from = std::max(begin, realMsecs(registrations.at(i).at, zone));
        const qint64 until = i + 1 < registrations.size()
            ? std::min(end, realMsecs(registrations.at(i + 1).at, zone))
            : end;
        total += std::max<qint64>(0, until - from);
    }
    return total;
}

int daysWithRegistrations(const QVector<MonthRegistration> &registrations, const Month &month)
{
    QSet<QDate> days;
    for (const MonthRegistration &registration : registrations) {
        const QDate day = registration.at.date();
        if (day >= month.firstDay() && day <= month.lastDay())
            days.insert(day);
    }
    return days.size();
}

QString calendarsInForce(const QVector<CalendarAssignment> &assignments, const Month &month)
{
    // By day; a later assignment on the same day replaces the earlier one.
    std::map<QDate, QString> byDay;
    for (const CalendarAssignment &assignment : assignments)
        byDay[assignment.from] = assignment.calendar;
    auto first = byDay.upper_bound(month.firstDay());
    if (first != byDay.begin())
        --first; // the one in force on the first day
    QStringList texts;
    QString previous;
    for (auto it = first; it != byDay.end() && it->first <= month.lastDay(); ++it) {
        // The same calendar assigned again changes nothing in force.
        if (it->second == previous)
            continue;
        previous = it->second;
        texts.append(QStringLiteral("%1 from %2").arg(it->second, formatDay(it->first)));
    }
    return texts.join(QStringLiteral("; "));
}

QString exceptionsIn(const QVector<DayException> &exceptions, const Month &month)
{
    std::map<QDate, QString> byDay;
    for (const DayException &exception : exceptions) {
        if (exception.day >= month.firstDay() && exception.day <= month.lastDay())
            byDay[exception.day] = exception.name;
    }
    QStringList texts;
    for (const auto &[day, name] : byDay)
        texts.append(QStringLiteral("%1 %2").arg(formatDay(day), name));
    return texts.join(QStringLiteral("; "));
}

} // namespace

QString MonthFigures::presentHours() const
{
    const qint64 hundredths = (presentSeconds * 100 + 1800) / 3600;
    return QStringLiteral("%1.%2").arg(hundredths / 100).arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

MonthFigures computeMonth(const MonthInput &input, const QTimeZone &zone, const QDateTime &now)
{
    const Month &month = input.month;
    const qint64 begin = realMsecs(month.firstDay(), QTime(0, 0), zone);
    qint64 end = realMsecs(month.firstDay().addMonths(1), QTime(0, 0), zone);
    if (now.isValid())
        end = std::max(begin, std::min(end, now.toMSecsSinceEpoch()));
    MonthFigures figures;
    figures.daysPresent = daysWithRegistrations(input.registrations, month);
    figures.presentSeconds = presentMsecs(input.registrations, begin, end, zone) / 1000;
    figures.calendars = calendarsInForce(input.calendars, month);
    figures.exceptions = exceptionsIn(input.exceptions, month);
    return figures;
}

QStringList monthReportRow(const QString &id, const QString &lastName, const QString &firstName,
                           const QString &department, const MonthFigures &figures)
{
    return {id,
            lastName,
            firstName,
            department,
            QString::number(figures.daysPresent),
            figures.presentHours(),
            figures.calendars,
            figures.exceptions};
}

} // namespace vorna::transfer
