#pragma once
// Civil date-times and days as the database keeps them: integers. A moment is the count of
// wall-clock seconds since 1970-01-01 00:00 of the organisation's own clock, a day the count of
// days since that date, so day D starts at D * 86400. Integers compare and index fastest in
// both engines and carry no zone that could shift them.

#include <QDate>
#include <QDateTime>

namespace vorna::service::civil {

inline constexpr qint64 secondsPerDay = 86400;

inline qint64 dayNumber(const QDate &day)
{
    return QDate(1970, 1, 1).daysTo(day);
}

inline QDate dayFromNumber(qint64 number)
{
    return QDate(1970, 1, 1).addDays(number);
}

// Reads the wall clock of `moment` whatever its time spec says, so a caller that passes local
// time by mistake still gets the reading it sees, not a zone-shifted one.
inline qint64 seconds(const QDateTime &moment)
{
    return dayNumber(moment.date()) * secondsPerDay + moment.time().msecsSinceStartOfDay() / 1000;
}

// An invalid QDateTime for seconds beyond any day Qt can hold (far past the years the service
// accepts), instead of overflowing on the way.
inline QDateTime momentFromSeconds(qint64 seconds)
{
    constexpr qint64 Limit = qint64(1) << 52;
    if (seconds < -Limit || seconds > Limit)
        return {};
    const qint64 day = seconds >= 0 ? seconds / secondsPerDay : -((-seconds + secondsPerDay - 1) / secondsPerDay);
    return QDateTime(dayFromNumber(day), QTime(0, 0).addSecs(int(seconds - day * secondsPerDay)), Qt::UTC);
}

inline QDateTime startOfDay(const QDate &day)
{
    return QDateTime(day, QTime(0, 0), Qt::UTC);
}

} // namespace vorna::service::civil
