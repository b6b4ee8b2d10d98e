#include "civiltime.h"

namespace ostrel {

namespace {

constexpr qint64 kFirstCivilSecond = -2208988800;  // 1900-01-01 00:00:00
constexpr qint64 kEndCivilSecond = 253402300800;   // 10000-01-01 00:00:00

} // namespace

bool civilSecondsInRange(qint64 seconds)
{
    return seconds >= kFirstCivilSecond && seconds < kEndCivilSecond;
}

std::optional<qint64> civilSecondsFromLocal(const QDateTime &dateTime)
{
    if (!dateTime.isValid())
        return std::nullopt;
    const QDateTime local = dateTime.toLocalTime();
    const QTime wallClock(local.time().hour(), local.time().minute(), local.time().second());
    // Reading the local wall clock as if it were UTC is what strips the zone off.
    return QDateTime(local.date(), wallClock, Qt::UTC).toSecsSinceEpoch();
}

QDateTime localFromCivilSeconds(qint64 seconds)
{
    if (!civilSecondsInRange(seconds))
        return QDateTime();
    const QDateTime wallClock = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    const QDateTime local(wallClock.date(), wallClock.time(), Qt::LocalTime);
    if (local.isValid())
        return local;
    // A reading inside the local clock's spring-forward gap names no local moment; the clock
    // shows it an hour later, as the service's side of the organisation saw it move.
    const QDateTime later = wallClock.addSecs(3600);
    return QDateTime(later.date(), later.time(), Qt::LocalTime);
}

QDateTime localMidnight(int year, int month, int day)
{
    const QDate date(year, month, day);
    if (!date.isValid() || year < kFirstCivilYear || year > kLastCivilYear)
        return QDateTime();
    return QDateTime(date, QTime(0, 0), Qt::LocalTime);
}

QDate localDate(const QDateTime &dateTime)
{
    return dateTime.isValid() ? dateTime.toLocalTime().date() : QDate();
}

} // namespace ostrel
