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

// A local date-time that reads the same on the wall clock as the civil seconds.
QDateTime localFromCivilSeconds(qint64 seconds);

// Local midnight of a civil day; invalid when the day does not exist.
QDateTime localMidnight(int year, int month, int day);

// The local calendar day of `dateTime`; invalid for an invalid date-time.
QDate localDate(const QDateTime &dateTime);

} // namespace ostrel
