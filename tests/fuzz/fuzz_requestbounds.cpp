// The bounds every request must keep before a handler acts on it. The bytes are parsed as
// each request type and checked: a refusal is INVALID_ARGUMENT with a short message, however
// long the value sent; an acceptance means every id, name, moment and date is within the
// documented bounds (ids 64 bytes, names 200 characters, years 1900 to 9999), so the
// conversions after it are exact.

#include "fuzzsupport.h"
#include "rpc/requestbounds.h"
#include "rpc/wireconvert.h"

#include <google/protobuf/stubs/logging.h>

namespace bounds = vorna::service::bounds;
namespace wire = vorna::service::wire;
namespace v1 = vorna::v1;

namespace {

constexpr size_t MaxIdBytes = bounds::MaxIdBytes;
constexpr int MaxNameCharacters = bounds::MaxNameChars;
// A sentence and at most the quoted characters of the value (4 bytes each in UTF-8).
constexpr size_t MaxMessageBytes = 1024;
// The quoted characters, the quotes and a mark that the value was cut.
constexpr int MaxQuotedCharacters = bounds::MaxQuoted + 4;

QString shown(const std::string &field)
{
    return QString::fromStdString(field.substr(0, 80));
}

void requireId(const std::string &id)
{
    fuzz::require(id.size() <= MaxIdBytes, "an accepted id has at most 64 bytes", shown(id));
    fuzz::require(bounds::quoted(wire::text(id)).size() <= MaxQuotedCharacters,
                  "a quoted value is cut to 64 characters", shown(id));
}

void requireMoment(bool present, const v1::CivilTime &moment)
{
    if (!present)
        return;
    const QDateTime converted = wire::fromWire(moment);
    const QString seconds = QString::number(moment.seconds());
    fuzz::require(converted.isValid() && converted.date().year() >= 1900 &&
                      converted.date().year() <= 9999,
                  "an accepted moment lies in the years 1900 to 9999", seconds);
    v1::CivilTime back;
    wire::toWire(converted, &back);
    fuzz::require(back.seconds() == moment.seconds(), "an accepted moment round-trips", seconds);
}

// The bounds keep a date's fields in range; whether it is a real day (no 30 February) is the
// handler's check, which refuses it with a sentence of its own.
void requireDay(const v1::CivilDate &day)
{
    fuzz::require(day.year() >= bounds::MinYear && day.year() <= bounds::MaxYear && day.month() >= 1
                      && day.month() <= 12 && day.day() >= 1 && day.day() <= 31,
                  "an accepted date has its year, month and day in range",
                  QStringLiteral("%1-%2-%3").arg(day.year()).arg(day.month()).arg(day.day()));
}

void requireAccepted(const v1::LoginRequest &request)
{
    fuzz::require(wire::text(request.user()).size() <= MaxNameCharacters,
                  "an accepted user name has at most 200 characters", shown(request.user()));
}

void requireAccepted(const v1::PresenceRequest &request)
{
    requireMoment(request.has_at(), request.at());
}

void requireAccepted(const v1::MonthRequest &request)
{
    requireId(request.employee_id());
    fuzz::require(request.month() >= 1 && request.month() <= 12 && request.year() >= 1900 &&
                      request.year() <= 9999,
                  "an accepted month is 1 to 12 of a year from 1900 to 9999",
                  QStringLiteral("%1-%2").arg(request.year()).arg(request.month()));
}

void requireAccepted(const v1::SetCalendarRequest &request)
{
    requireId(request.employee_id());
    requireDay(request.valid_from());
}

void requireAccepted(const v1::SetWorkDayRequest &request)
{
    requireId(request.employee_id());
    requireDay(request.day());
}

void requireAccepted(const v1::RegisterActivityRequest &request)
{
    requireId(request.employee_id());
    requireMoment(request.has_at(), request.at());
}

template<typename Request>
void parseAndCheck(const uint8_t *data, size_t size)
{
    Request request;
    if (!request.ParseFromArray(data, int(size)))
        return;
    const grpc::Status status = bounds::check(request);
    if (status.ok()) {
        requireAccepted(request);
        return;
    }
    fuzz::require(status.error_code() == grpc::StatusCode::INVALID_ARGUMENT,
                  "a request out of bounds is refused with INVALID_ARGUMENT");
    fuzz::require(status.error_message().size() <= MaxMessageBytes,
                  "a refusal's message stays short whatever was sent",
                  QString::fromStdString(status.error_message().substr(0, 200)));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return fuzz::quietProtobuf();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::forEachRequestType([&](auto type) { parseAndCheck<typename decltype(type)::type>(data, size); });
    return 0;
}
