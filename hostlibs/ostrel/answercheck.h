#pragma once
// Checks on what the service sends, made before any of it is used. A service that is broken,
// or not ours, must not crash the panel or slip absurd values into it: a value that would go
// back into call metadata is refused unless it is plain printable ASCII, and a row with absurd
// field sizes ends its answer (the rows before it stand).

#include <QString>

#include <cstddef>
#include <string>

namespace vorna::v1 {
class PresenceChunk;
class Calendar;
class WorkDayKind;
class CalendarRange;
class ExceptionDay;
} // namespace vorna::v1

namespace ostrel {

// The largest picture a presence row may carry.
constexpr std::size_t kMaxPictureBytes = 16 * 1024 * 1024;

// Whether `value` may travel as a metadata value: 1 to 512 bytes, each printable ASCII
// without blanks (0x21 to 0x7E). gRPC aborts the process on some other bytes.
bool isUsableMetadataValue(const std::string &value);

// Empty when the message is plausible; otherwise what is wrong with it, in a few words
// ("an employee id of 1048576 bytes").
QString answerFault(const vorna::v1::PresenceChunk &chunk);
QString answerFault(const vorna::v1::Calendar &calendar);
QString answerFault(const vorna::v1::WorkDayKind &kind);
QString answerFault(const vorna::v1::CalendarRange &range);
QString answerFault(const vorna::v1::ExceptionDay &day);

} // namespace ostrel
