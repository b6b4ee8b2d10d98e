#pragma once
// --stale-days, as serve and the presence export read it: a last activity is stale when it
// lies that many days or more before the day asked about.

#include <QString>

namespace vorna::service {

// Reads `value` into *days; empty when it is a whole number of days from 1 to 365, otherwise
// the sentence that says so.
QString readStaleDays(const QString &value, int *days);

} // namespace vorna::service
