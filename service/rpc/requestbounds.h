#pragma once
// The bounds of every field a client sends, checked before anything else looks at a request:
// ids (of employees, and the request ids of terminals) of at most 64 bytes, names of at most
// 200 characters, moments and days within the years 1900 to 9999. A value out of bounds gets
// INVALID_ARGUMENT with a sentence that quotes at most 64 characters of it, so no client value
// can blow up a log line or a status message.
// Pure functions: no storage, no session, no clock.

#include "commservice.pb.h"
#include "transfer/civiltext.h"

#include <QString>

#include <grpcpp/support/status.h>

namespace vorna::service::bounds {

constexpr int MaxIdBytes = 64;
constexpr int MaxNameChars = 200;
constexpr int MaxQuoted = 64;
// The service's one year range, which imports and exports keep too.
constexpr int MinYear = transfer::FirstYear;
constexpr int MaxYear = transfer::LastYear;
// A password is no name: a passphrase may be long, but not without end.
constexpr int MaxPasswordBytes = 1024;

// OK, or INVALID_ARGUMENT with a sentence quoting at most MaxQuoted characters of what came.
grpc::Status check(const v1::LoginRequest &);
grpc::Status check(const v1::PresenceRequest &);
grpc::Status check(const v1::MonthRequest &);
grpc::Status check(const v1::SetCalendarRequest &);
grpc::Status check(const v1::SetWorkDayRequest &);
grpc::Status check(const v1::RegisterActivityRequest &);

// A client-sent value for a log line or status message: at most MaxQuoted characters,
// with "…" when cut, control characters replaced.
QString quoted(const QString &value);

} // namespace vorna::service::bounds
