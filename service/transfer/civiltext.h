#pragma once
// The texts of single values in import files and exports: civil moments and days, months,
// colours, yes/no. A civil moment is the organisation's wall-clock reading, held (as the
// storage holds it) in a QDateTime with Qt::UTC spec that no zone arithmetic ever shifts.

#include <QDate>
#include <QDateTime>
#include <QString>

#include <optional>

namespace vorna::transfer {

// The years the service accepts anywhere: in requests, imports and exports.
inline constexpr int FirstYear = 1900;
inline constexpr int LastYear = 9999;

// "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS", a real moment in the years 1900 to 9999.
std::optional<QDateTime> parseCivilMoment(const QString &text);
// "YYYY-MM-DD HH:MM:SS"; an empty text for an invalid moment.
QString formatCivilMoment(const QDateTime &moment);

// "YYYY-MM-DD", a real day in the years 1900 to 9999.
std::optional<QDate> parseDay(const QString &text);
QString formatDay(const QDate &day);

struct Month
{
    int year = 0;
    int month = 0;
    QDate firstDay() const { return QDate(year, month, 1); }
    QDate lastDay() const { return firstDay().addMonths(1).addDays(-1); }
};
// "YYYY-MM" in the years 1900 to 9999.
std::optional<Month> parseMonth(const QString &text);

// "#RRGGBB" (either case) as 0xRRGGBB.
std::optional<int> parseColor(const QString &text);
// 0xRRGGBB as "#RRGGBB" (upper case).
QString formatColor(int rgb);
// The storage keeps colours as 0x00BBGGRR; these swap the byte order both ways.
int storedColorFromRgb(int rgb);
int rgbFromStoredColor(int stored);

// "yes" or "no", either case.
std::optional<bool> parseYesNo(const QString &text);
QString formatYesNo(bool value);

} // namespace vorna::transfer
