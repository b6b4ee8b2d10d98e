#pragma once
// Shared by the fuzz targets: a check that aborts (which libFuzzer reports as a finding and
// the corpus replay as a failure) and a reader that takes fixed-size values off the input.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace fuzz {

// Not Q_ASSERT: release builds drop that, and the replay runs in release builds.
inline void require(bool holds, const char *property, const QString &input = QString())
{
    if (holds)
        return;
    std::fprintf(stderr, "Property broken: %s\nInput: %s\n", property, input.toUtf8().constData());
    std::abort();
}

class InputReader
{
public:
    InputReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}

    // The next sizeof(T) bytes as a T; missing bytes read as zero.
    template<typename T>
    T take()
    {
        static_assert(std::is_trivially_copyable_v<T>);
        unsigned char bytes[sizeof(T)] = {};
        const size_t count = m_size - m_offset < sizeof(T) ? m_size - m_offset : sizeof(T);
        if (count > 0)
            std::memcpy(bytes, m_data + m_offset, count);
        m_offset += count;
        T value;
        std::memcpy(&value, bytes, sizeof(T));
        return value;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_offset = 0;
};

inline QString utf8Text(const uint8_t *data, size_t size)
{
    return QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
}

// The civil range both sides accept: the years 1900 to 9999, as seconds and as days.
inline bool inCivilRange(qint64 seconds)
{
    static const qint64 first = QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    static const qint64 last = QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch() - 1;
    return seconds >= first && seconds <= last;
}

inline bool inCivilRange(const QDate &day)
{
    return day.isValid() && day.year() >= 1900 && day.year() <= 9999;
}

inline QString describe(qint64 seconds)
{
    return QString::number(seconds);
}

inline QString describe(int year, int month, int day)
{
    return QStringLiteral("%1-%2-%3").arg(year).arg(month).arg(day);
}

} // namespace fuzz
