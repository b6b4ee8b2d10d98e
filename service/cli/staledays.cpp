#include "cli/staledays.h"

namespace vorna::service {

QString readStaleDays(const QString &value, int *days)
{
    constexpr int MostDays = 365;
    bool number = false;
    const int read = value.toInt(&number);
    if (!number || read < 1 || read > MostDays)
        return QStringLiteral("--stale-days takes a whole number of days from 1 to 365.");
    *days = read;
    return {};
}

} // namespace vorna::service
