#include "rpc/requestbounds.h"

#include <QDate>
#include <QDateTime>

namespace vorna::service::bounds {

namespace {

const QString YearRange = QStringLiteral("the years %1 to %2").arg(MinYear).arg(MaxYear);

grpc::Status refuse(const QString &sentence)
{
    const QByteArray utf8 = sentence.toUtf8();
    return grpc::Status(grpc::INVALID_ARGUMENT, std::string(utf8.constData(), size_t(utf8.size())));
}

QString text(const std::string &utf8)
{
    return QString::fromUtf8(utf8.data(), int(utf8.size()));
}

// Civil seconds of the first and the last second of the years allowed.
qint64 firstSecond()
{
    static const qint64 seconds = QDateTime(QDate(MinYear, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch();
    return seconds;
}

qint64 lastSecond()
{
    static const qint64 seconds = QDateTime(QDate(MaxYear, 12, 31), QTime(23, 59, 59), Qt::UTC).toSecsSinceEpoch();
    return seconds;
}

grpc::Status checkEmployeeId(const std::string &id)
{
    if (id.size() <= size_t(MaxIdBytes))
        return grpc::Status::OK;
    return refuse(QStringLiteral("The employee id \"%1\" is longer than %2 bytes; no employee has such an id.")
                      .arg(quoted(text(id)))
                      .arg(MaxIdBytes));
}

grpc::Status checkMoment(const v1::CivilTime &moment, const QString &what)
{
    if (moment.seconds() >= firstSecond() && moment.seconds() <= lastSecond())
        return grpc::Status::OK;
    return refuse(QStringLiteral("%1 (%2 seconds) lies outside %3. Send a moment within them.")
                      .arg(what)
                      .arg(moment.seconds())
                      .arg(YearRange));
}

// Whether the day is a real one is the handler's question; here only its range.
grpc::Status checkDay(const v1::CivilDate &day, const QString &what)
{
    if (day.year() >= MinYear && day.year() <= MaxYear && day.month() >= 1 && day.month() <= 12
        && day.day() >= 1 && day.day() <= 31)
        return grpc::Status::OK;
    return refuse(QStringLiteral("%1 (year %2, month %3, day %4) is no day within %5.")
                      .arg(what)
                      .arg(day.year())
                      .arg(day.month())
                      .arg(day.day())
                      .arg(YearRange));
}

grpc::Status checkName(const std::string &name, const QString &what)
{
    // A name longer in bytes than four per character allowed is too long in characters too.
    if (name.size() <= size_t(MaxNameChars) || (name.size() <= size_t(4 * MaxNameChars)
                                                 && text(name).toUcs4().size() <= MaxNameChars))
        return grpc::Status::OK;
    return refuse(QStringLiteral("%1 \"%2\" is longer than %3 characters.").arg(what, quoted(text(name))).arg(MaxNameChars));
}

} // namespace

grpc::Status check(const v1::LoginRequest &request)
{
    const bool nameFits = !request.user().empty() && checkName(request.user(), QString()).ok();
    if (!nameFits || request.password().size() > size_t(MaxPasswordBytes))
        return refuse(QStringLiteral("Enter a user name of up to %1 characters and a password of up to %2.")
                          .arg(MaxNameChars)
                          .arg(MaxPasswordBytes));
    return checkName(request.client(), QStringLiteral("The client name"));
}

grpc::Status check(const v1::PresenceRequest &request)
{
    grpc::Status status = checkName(request.user_name(), QStringLiteral("The user name"));
    if (status.ok() && request.has_at())
        status = checkMoment(request.at(), QStringLiteral("The requested moment"));
    return status;
}

grpc::Status check(const v1::MonthRequest &request)
{
    const grpc::Status status = checkEmployeeId(request.employee_id());
    if (!status.ok())
        return status;
    if (request.month() < 1 || request.month() > 12)
        return refuse(QStringLiteral("The month %1 is not a month; use 1 to 12.").arg(request.month()));
    if (request.year() < MinYear || request.year() > MaxYear)
        return refuse(QStringLiteral("The year %1 is out of range; use a four-digit year from %2.")
                          .arg(request.year())
                          .arg(MinYear));
    return grpc::Status::OK;
}

grpc::Status check(const v1::SetCalendarRequest &request)
{
    const grpc::Status status = checkEmployeeId(request.employee_id());
    return status.ok() ? checkDay(request.valid_from(), QStringLiteral("The day from which the calendar applies"))
                       : status;
}

grpc::Status check(const v1::SetWorkDayRequest &request)
{
    const grpc::Status status = checkEmployeeId(request.employee_id());
    return status.ok() ? checkDay(request.day(), QStringLiteral("The working day to assign")) : status;
}

grpc::Status check(const v1::RegisterActivityRequest &request)
{
    grpc::Status status = checkEmployeeId(request.employee_id());
    if (status.ok() && request.has_at())
        status = checkMoment(request.at(), QStringLiteral("The moment of the activity"));
    if (status.ok() && request.request_id().size() > size_t(MaxIdBytes))
        status = refuse(QStringLiteral("The request id \"%1\" is longer than %2 bytes. Send a shorter one.")
                            .arg(quoted(text(request.request_id())))
                            .arg(MaxIdBytes));
    return status;
}

QString quoted(const QString &value)
{
    QString out;
    int i = 0;
    for (int characters = 0; i < value.size() && characters < MaxQuoted; ++characters) {
        const QChar c = value.at(i);
        const bool pair = c.isHighSurrogate() && i + 1 < value.size() && value.at(i + 1).isLowSurrogate();
        // Control and format characters could break a log line or turn text around on screen.
        const bool unsafe = !pair && (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
                                      || c.isSurrogate());
        out += unsafe ? QString(QChar(0xFFFD)) : value.mid(i, pair ? 2 : 1);
        i += pair ? 2 : 1;
    }
    return i < value.size() ? out + QChar(0x2026) : out;
}

} // namespace vorna::service::bounds
