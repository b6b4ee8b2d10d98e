#include "answercheck.h"

#include "commservice.pb.h"

namespace ostrel {

namespace {

constexpr std::size_t kMaxMetadataValueBytes = 512;
// Far above what the service sends (ids of at most 64 bytes, names of 200 characters,
// 200 rows a chunk), so that only a broken answer trips them.
constexpr std::size_t kMaxIdBytes = 256;
constexpr std::size_t kMaxTextBytes = 4096;
constexpr std::size_t kDigestBytes = 32;
constexpr int kMaxRowsPerChunk = 10000;

QString tooLong(const char *field, std::size_t size)
{
    return QStringLiteral("%1 of %2 bytes").arg(QLatin1String(field)).arg(size);
}

// The first text field over the limit, or empty.
QString textFault(std::initializer_list<std::pair<const char *, const std::string *>> fields)
{
    for (const auto &field : fields) {
        if (field.second->size() > kMaxTextBytes)
            return tooLong(field.first, field.second->size());
    }
    return QString();
}

QString rowFault(const vorna::v1::PresenceRow &row)
{
    if (row.employee_id().empty())
        return QStringLiteral("a row without an employee id");
    if (row.employee_id().size() > kMaxIdBytes)
        return tooLong("an employee id", row.employee_id().size());
    if (!row.picture_digest().empty() && row.picture_digest().size() != kDigestBytes)
        return tooLong("a picture digest", row.picture_digest().size());
    if (row.picture().size() > kMaxPictureBytes)
        return tooLong("a picture", row.picture().size());
    return textFault({{"a last name", &row.last_name()},
                      {"a first name", &row.first_name()},
                      {"an activity description", &row.activity_description()},
                      {"a department", &row.department()},
                      {"a presence status", &row.presence_status()}});
}

} // namespace

bool isUsableMetadataValue(const std::string &value)
{
    if (value.empty() || value.size() > kMaxMetadataValueBytes)
        return false;
    for (const unsigned char c : value) {
        if (c < 0x21 || c > 0x7E)
            return false;
    }
    return true;
}

QString answerFault(const vorna::v1::PresenceChunk &chunk)
{
    if (chunk.rows_size() > kMaxRowsPerChunk)
        return QStringLiteral("a chunk of %1 rows").arg(chunk.rows_size());
    for (const vorna::v1::PresenceRow &row : chunk.rows()) {
        const QString fault = rowFault(row);
        if (!fault.isEmpty())
            return fault;
    }
    return QString();
}

QString answerFault(const vorna::v1::Calendar &calendar)
{
    return textFault({{"a calendar name", &calendar.name()}});
}

QString answerFault(const vorna::v1::WorkDayKind &kind)
{
    return textFault({{"a working-day kind name", &kind.name()}});
}

QString answerFault(const vorna::v1::CalendarRange &range)
{
    return textFault({{"a calendar name", &range.calendar_name()}});
}

QString answerFault(const vorna::v1::ExceptionDay &day)
{
    return textFault({{"a day name", &day.day_name()}});
}

} // namespace ostrel
