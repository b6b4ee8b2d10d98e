#pragma once
// Civil date-times: the organisation's wall clock, with no zone attached. The wire counts them
// in seconds from 1970-01-01 00:00:00 of that same wall clock, so day D starts at D * 86400 on
// both sides. The panel shows them as local QDateTime with the same wall-clock reading.

#include <QDate>
#include <QDateTime>

#include <optional>

namespace ostrel {

// The wall-clock reading of `dateTime` in local time, as civil seconds. Milliseconds are
// dropped. No value for an invalid date-time.
std::optional<qint64> civilSecondsFromLocal(const QDateTime &dateTime);

// Moments and days are accepted in the years 1900 to 9999 only, as the service does. Outside
// that, Qt's conversions overflow (INT64_MAX seconds would read as 1969-12-31).
constexpr int kFirstCivilYear = 1900;
constexpr int kLastCivilYear = 9999;
bool civilSecondsInRange(qint64 seconds);

// A local date-time that reads the same on the wall clock as the civil seconds; invalid when
// they fall outside the accepted years.
QDateTime localFromCivilSeconds(qint64 seconds);

// Local midnight of a civil day; invalid when the day does not exist or lies outside the
// accepted years.
QDateTime localMidnight(int year, int month, int day);

// The local calendar day of `dateTime`; invalid for an invalid date-time.
QDate localDate(const QDateTime &dateTime);

} // namespace ostrel
