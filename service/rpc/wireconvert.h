#pragma once
// Translation between the wire messages and the storage's values: civil date-times, days,
// presence rows and error statuses.

#include "commservice.pb.h"
#include "storage/storage.h"

#include <grpcpp/support/status.h>

namespace vorna::service::wire {

// The organisation's wall clock now, as a civil date-time (marked Qt::UTC, no zone arithmetic).
QDateTime civilNow();
QDateTime fromWire(const v1::CivilTime &time);
void toWire(const QDateTime &civil, v1::CivilTime *time);
// Invalid when the fields do not name a real day.
QDate fromWire(const v1::CivilDate &date);
void toWire(const QDate &day, v1::CivilDate *date);

void toWire(const PresenceRow &row, v1::PresenceRow *out);
void toWire(const Calendar &calendar, v1::Calendar *out);
void toWire(const WorkDayKind &kind, v1::WorkDayKind *out);
void toWire(const CalendarRange &range, v1::CalendarRange *out);
void toWire(const ExceptionDay &day, v1::ExceptionDay *out);

// The status a storage failure travels as; OK for no failure.
grpc::Status toStatus(const StorageError &error);
grpc::Status status(grpc::StatusCode code, const QString &message);

// Text fields arrive as UTF-8 bytes.
QString text(const std::string &utf8);
std::string utf8(const QString &text);

} // namespace vorna::service::wire
