// Civil date-times in the service: the storage's integer seconds and days and the wire
// conversions. Any int64 seconds and any year-month-day triple converts without a crash or
// undefined behaviour; in the range the service accepts (years 1900 to 9999) every conversion
// round-trips and the storage and the wire read a moment alike.
//
// Input: int64 seconds, then int32 year, month and day (little-endian, missing bytes zero).
// fuzz_civiltime_client reads the same inputs.

#include "storage/civiltime.h"
#include "fuzzsupport.h"
#include "rpc/wireconvert.h"

namespace civil = vorna::service::civil;
namespace wire = vorna::service::wire;

namespace {

void checkServiceSeconds(qint64 seconds)
{
    const QDateTime stored = civil::momentFromSeconds(seconds);
    vorna::v1::CivilTime onWire;
    onWire.set_seconds(seconds);
    const QDateTime received = wire::fromWire(onWire);
    if (!fuzz::inCivilRange(seconds))
        return;
    fuzz::require(stored.isValid() && civil::seconds(stored) == seconds,
                  "storage seconds round-trip", fuzz::describe(seconds));
    fuzz::require(received == stored, "the wire and the storage read seconds alike", fuzz::describe(seconds));
    vorna::v1::CivilTime back;
    wire::toWire(received, &back);
    fuzz::require(back.seconds() == seconds, "wire seconds round-trip", fuzz::describe(seconds));
}

void checkServiceDay(int year, int month, int day)
{
    vorna::v1::CivilDate onWire;
    onWire.set_year(year);
    onWire.set_month(month);
    onWire.set_day(day);
    const QDate received = wire::fromWire(onWire);
    fuzz::require(received.isValid() == QDate::isValid(year, month, day),
                  "a wire date is valid exactly when it names a real day", fuzz::describe(year, month, day));
    if (!fuzz::inCivilRange(received))
        return;
    vorna::v1::CivilDate back;
    wire::toWire(received, &back);
    fuzz::require(back.year() == year && back.month() == month && back.day() == day,
                  "wire dates round-trip", fuzz::describe(year, month, day));
    const qint64 number = civil::dayNumber(received);
    fuzz::require(civil::dayFromNumber(number) == received, "storage day numbers round-trip",
                  fuzz::describe(year, month, day));
    fuzz::require(civil::seconds(civil::startOfDay(received)) == number * civil::secondsPerDay,
                  "a day starts at its number times 86400 seconds", fuzz::describe(year, month, day));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const fuzz::CivilInput input = fuzz::takeCivilInput(data, size);
    checkServiceSeconds(input.seconds);
    checkServiceDay(input.year, input.month, input.day);
    return 0;
}
