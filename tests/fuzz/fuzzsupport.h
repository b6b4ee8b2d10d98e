#pragma once
// Shared by the fuzz targets: a check that aborts (which libFuzzer reports as a finding and
// the corpus replay as a failure), a reader that takes fixed-size values off the input, and
// the request types a client sends the service.

#include "commservice.pb.h"

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

// Every byte a printable ASCII character other than the space.
inline bool isPrintableAscii(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f)
            return false;
    }
    return true;
}

// A moment in seconds and a day by its parts, as the civil-time targets read them.
struct CivilInput
{
    qint64 seconds;
    int32_t year;
    int32_t month;
    int32_t day;
};

inline CivilInput takeCivilInput(const uint8_t *data, size_t size)
{
    InputReader input(data, size);
    const auto seconds = input.take<qint64>();
    const auto year = input.take<int32_t>();
    const auto month = input.take<int32_t>();
    const auto day = input.take<int32_t>();
    return {seconds, year, month, day};
}

template<typename T>
struct Type
{
    using type = T;
};

// Calls `visit` with a Type<R> for each request type R a client sends the service.
template<typename Visit>
void forEachRequestType(Visit visit)
{
    visit(Type<vorna::v1::LoginRequest>());
    visit(Type<vorna::v1::PresenceRequest>());
    visit(Type<vorna::v1::MonthRequest>());
    visit(Type<vorna::v1::SetCalendarRequest>());
    visit(Type<vorna::v1::SetWorkDayRequest>());
    visit(Type<vorna::v1::RegisterActivityRequest>());
}

// Protobuf logs every string that is not UTF-8; the fuzzer makes millions of them.
inline int quietProtobuf()
{
    google::protobuf::SetLogHandler(nullptr);
    return 0;
}

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
