#include "rpc/wireconvert.h"

namespace vorna::service::wire {

QDateTime civilNow()
{
    const QDateTime local = QDateTime::currentDateTime();
    return QDateTime(local.date(), local.time(), Qt::UTC);
}

QDateTime fromWire(const v1::CivilTime &time)
{
    return QDateTime::fromSecsSinceEpoch(time.seconds(), Qt::UTC);
}

void toWire(const QDateTime &civil, v1::CivilTime *time)
{
    time->set_seconds(civil.toSecsSinceEpoch());
}

QDate fromWire(const v1::CivilDate &date)
{
    return QDate(date.year(), date.month(), date.day());
}

void toWire(const QDate &day, v1::CivilDate *date)
{
    date->set_year(day.year());
    date->set_month(day.month());
    date->set_day(day.day());
}

void toWire(const PresenceRow &row, v1::PresenceRow *out)
{
    out->set_employee_id(utf8(row.employeeId));
    out->set_last_name(utf8(row.lastName));
    out->set_first_name(utf8(row.firstName));
    if (row.lastActivity.isValid())
        toWire(row.lastActivity, out->mutable_last_activity());
    out->set_stale(row.stale);
    out->set_activity_description(utf8(row.activityDescription));
    out->set_department(utf8(row.department));
    out->set_picture_digest(row.pictureDigest.constData(), size_t(row.pictureDigest.size()));
    out->set_picture(row.picture.constData(), size_t(row.picture.size()));
    out->set_presence_status(utf8(row.status));
    out->set_status_color(row.statusColor);
}

void toWire(const Calendar &calendar, v1::Calendar *out)
{
    out->set_id(calendar.id);
    out->set_name(utf8(calendar.name));
    out->set_color(calendar.color);
}

void toWire(const WorkDayKind &kind, v1::WorkDayKind *out)
{
    out->set_id(kind.id);
    out->set_name(utf8(kind.name));
    out->set_color(kind.color);
}

void toWire(const CalendarRange &range, v1::CalendarRange *out)
{
    out->set_calendar_name(utf8(range.calendarName));
    out->set_calendar_color(range.calendarColor);
    toWire(range.validBegin, out->mutable_valid_begin());
    toWire(range.validEnd, out->mutable_valid_end());
}

void toWire(const ExceptionDay &day, v1::ExceptionDay *out)
{
    out->set_day_name(utf8(day.dayName));
    out->set_day_color(day.dayColor);
    toWire(day.day, out->mutable_day());
}

grpc::Status toStatus(const StorageError &error)
{
    switch (error.code) {
    case StorageError::None: return grpc::Status::OK;
    case StorageError::NotFound: return status(grpc::NOT_FOUND, error.message);
    case StorageError::AlreadyExists: return status(grpc::ALREADY_EXISTS, error.message);
    case StorageError::PermissionDenied: return status(grpc::PERMISSION_DENIED, error.message);
    case StorageError::InvalidArgument: return status(grpc::INVALID_ARGUMENT, error.message);
    case StorageError::Unavailable: return status(grpc::UNAVAILABLE, error.message);
    case StorageError::Internal: return status(grpc::INTERNAL, error.message);
    }
    return status(grpc::INTERNAL, error.message);
}

grpc::Status status(grpc::StatusCode code, const QString &message)
{
    return grpc::Status(code, utf8(message));
}

QString text(const std::string &utf8)
{
    return QString::fromUtf8(utf8.data(), int(utf8.size()));
}

std::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

} // namespace vorna::service::wire
