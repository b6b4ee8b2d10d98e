#include "transfer/civiltext.h"

namespace vorna::transfer {

namespace {

// The number written in `digits` characters at `from`, or -1 when one of them is not a digit.
int number(const QString &text, int from, int digits)
{
    int value = 0;
    for (int i = from; i < from + digits; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool yearInRange(int year)
{
    return year >= FirstYear && year <= LastYear;
}

} // namespace

std::optional<QDate> parseDay(const QString &text)
{
    if (text.size() != 10 || text.at(4) != u'-' || text.at(7) != u'-')
        return std::nullopt;
    const int year = number(text, 0, 4);
    const int month = number(text, 5, 2);
    const int day = number(text, 8, 2);
    if (!yearInRange(year) || !QDate::isValid(year, month, day))
        return std::nullopt;
    return QDate(year, month, day);
}

std::optional<QDateTime> parseCivilMoment(const QString &text)
{
    if ((text.size() != 16 && text.size() != 19) || text.at(10) != u' ' || text.at(13) != u':')
        return std::nullopt;
    const std::optional<QDate> day = parseDay(text.left(10));
    const int hour = number(text, 11, 2);
    const int minute = number(text, 14, 2);
    int second = 0;
    if (text.size() == 19) {
        if (text.at(16) != u':')
            return std::nullopt;
        second = number(text, 17, 2);
    }
    if (!day || !QTime::isValid(hour, minute, second))
        return std::nullopt;
    return QDateTime(*day, QTime(hour, minute, second), Qt::UTC);
}

QString formatCivilMoment(const QDateTime &moment)
{
    return moment.isValid() ? moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

QString formatDay(const QDate &day)
{
    return day.toString(Qt::ISODate);
}

std::optional<Month> parseMonth(const QString &text)
{
    if (text.size() != 7 || text.at(4) != u'-')
        return std::nullopt;
    const Month month{number(text, 0, 4), number(text, 5, 2)};
    if (!yearInRange(month.year) || month.month < 1 || month.month > 12)
        return std::nullopt;
    return month;
}

std::optional<int> parseColor(const QString &text)
{
    static const QString HexDigits = QStringLiteral("0123456789abcdef");
    if (text.size() != 7 || text.at(0) != u'#')
        return std::nullopt;
    int rgb = 0;
    for (int i = 1; i < 7; ++i) {
        const int digit = HexDigits.indexOf(text.at(i).toLower());
        if (digit < 0)
            return std::nullopt;
        rgb = rgb * 16 + digit;
    }
    return rgb;
}

QString formatColor(int rgb)
{
    return QStringLiteral("#%1").arg(rgb & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper();
}

int storedColorFromRgb(int rgb)
{
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

int rgbFromStoredColor(int stored)
{
    return storedColorFromRgb(stored);
}

std::optional<bool> parseYesNo(const QString &text)
{
    if (text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0)
        return false;
    return std::nullopt;
}

QString formatYesNo(bool value)
{
    return value ? QStringLiteral("yes") : QStringLiteral("no");
}

} // namespace vorna::transfer
