// Every request message as the service receives it: the bytes are parsed as each request
// type, and what parses goes through the conversions the handlers apply to it. Nothing that
// a client sends may crash them, and text fields reach the storage exactly as they were sent.

#include "fuzzsupport.h"
#include "rpc/wireconvert.h"

#include <google/protobuf/stubs/logging.h>

namespace wire = vorna::service::wire;
namespace v1 = vorna::v1;

namespace {

// The handlers turn every text field into a QString; it must come back byte for byte, or an
// employee id would name someone else in the storage.
void convertText(const std::string &field)
{
    fuzz::require(wire::utf8(wire::text(field)) == field, "text fields survive the conversion",
                  QString::fromStdString(field));
}

void convertMoment(bool present, const v1::CivilTime &moment)
{
    if (present)
        (void)wire::fromWire(moment);
}

void convert(const v1::LoginRequest &request)
{
    convertText(request.user());
    convertText(request.password());
    convertText(request.client());
}

void convert(const v1::PresenceRequest &request)
{
    convertText(request.user_name());
    convertMoment(request.has_at(), request.at());
}

void convert(const v1::MonthRequest &request)
{
    convertText(request.employee_id());
}

void convert(const v1::SetCalendarRequest &request)
{
    convertText(request.employee_id());
    (void)wire::fromWire(request.valid_from());
}

void convert(const v1::SetWorkDayRequest &request)
{
    convertText(request.employee_id());
    (void)wire::fromWire(request.day());
}

void convert(const v1::RegisterActivityRequest &request)
{
    convertText(request.employee_id());
    convertMoment(request.has_at(), request.at());
}

template<typename Request>
void parseAndConvert(const uint8_t *data, size_t size)
{
    Request request;
    if (request.ParseFromArray(data, int(size)))
        convert(request);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    return fuzz::quietProtobuf();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::forEachRequestType([&](auto type) { parseAndConvert<typename decltype(type)::type>(data, size); });
    return 0;
}
