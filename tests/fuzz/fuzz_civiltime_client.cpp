// Civil date-times in the client library: the service's seconds shown as local date-times
// and back, and local midnights of days. Any int64 seconds and any year-month-day triple
// converts without a crash or undefined behaviour; in the range the service accepts (years
// 1900 to 9999) the conversions round-trip, also across daylight saving time changes.
//
// Input: the same as fuzz_civiltime_service's: int64 seconds, then int32 year, month, day.

#include <ostrel/civiltime.h>
#include "fuzzsupport.h"

#include <cstdlib>
#include <ctime>

namespace {

void checkClientSeconds(qint64 seconds)
{
    const QDateTime local = ostrel::localFromCivilSeconds(seconds);
    const std::optional<qint64> back = ostrel::civilSecondsFromLocal(local);
    if (!fuzz::inCivilRange(seconds))
        return;
    fuzz::require(local.isValid() && back.has_value(), "the client shows every moment in range",
                  fuzz::describe(seconds));
    const QDateTime reading = QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
    const bool readsTheSame = local.date() == reading.date() && local.time() == reading.time();
    // A reading that the local clock skips (the spring-forward hour) moves forward by the gap.
    fuzz::require(readsTheSame ? *back == seconds : *back > seconds && *back - seconds <= 3600,
                  "the client's civil seconds round-trip", fuzz::describe(seconds));
}

void checkClientDay(int year, int month, int day)
{
    const QDateTime midnight = ostrel::localMidnight(year, month, day);
    const QDate date(year, month, day);
    fuzz::require(midnight.isValid() || !fuzz::inCivilRange(date), "every day in range has a local midnight",
                  fuzz::describe(year, month, day));
    if (fuzz::inCivilRange(date))
        fuzz::require(ostrel::localDate(midnight) == date, "local midnight falls on its own day",
                      fuzz::describe(year, month, day));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A zone with daylight saving time, the same on every machine, so that the conversions
    // meet skipped and repeated hours.
    setenv("TZ", "Europe/Belgrade", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzz::CivilInput input = fuzz::takeCivilInput(data, size);
    checkClientSeconds(input.seconds);
    checkClientDay(input.year, input.month, input.day);
    return 0;
}
