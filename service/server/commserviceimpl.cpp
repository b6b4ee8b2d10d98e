#include "commserviceimpl.h"

#include "eventlog.h"
#include "presencechunker.h"
#include "tokens.h"
#include "wireconvert.h"

#include <QElapsedTimer>

#include <algorithm>

namespace vorna::service {

namespace {

using Clock = std::chrono::steady_clock;

const QString SessionExpired = QStringLiteral("Your session has expired. Log in again.");
const QString SessionEnded = QStringLiteral("Your session has ended. Log in again.");
const QString LoggedOut = QStringLiteral("You logged out.");

// How often an idle session stream looks whether its client went away.
constexpr std::chrono::milliseconds PollSlice{500};
constexpr int MaxNameLength = 256;
constexpr int MaxPasswordLength = 1024;
constexpr int DigestBytes = 32;

QByteArray metadata(const grpc::ServerContext *context, const char *key)
{
    const auto &entries = context->client_metadata();
    const auto it = entries.find(key);
    if (it == entries.end())
        return {};
    return QByteArray(it->second.data(), int(it->second.size()));
}

QString peerOf(const grpc::ServerContext *context)
{
    return QString::fromStdString(context->peer());
}

// The server's own limit on one call, on top of whatever deadline the client set.
class CallBudget
{
public:
    CallBudget(grpc::ServerContext *context, std::chrono::seconds limit)
        : m_context(context)
        , m_limit(limit)
        , m_end(Clock::now() + limit)
    {
    }

    bool exhausted() const { return m_context->IsCancelled() || Clock::now() > m_end; }

    grpc::Status status() const
    {
        if (m_context->IsCancelled())
            return wire::status(grpc::CANCELLED, QStringLiteral("The request was cancelled or ran past its deadline."));
        return wire::status(grpc::DEADLINE_EXCEEDED,
                            QStringLiteral("The service gave up on this request after %1 seconds. "
                                           "Try again, or report on a smaller group of employees.")
                                .arg(m_limit.count()));
    }

private:
    grpc::ServerContext *m_context;
    std::chrono::seconds m_limit;
    Clock::time_point m_end;
};

// Writes every item of a list to a stream; false when the client went away.
template<typename Message, typename Item>
bool writeAll(grpc::ServerWriter<Message> *writer, const QVector<Item> &items)
{
    for (const Item &item : items) {
        Message message;
        wire::toWire(item, &message);
        if (!writer->Write(message))
            return false;
    }
    return true;
}

grpc::Status clientGone()
{
    return wire::status(grpc::CANCELLED, QStringLiteral("The client closed the stream."));
}

v1::SessionEvent sessionEvent(v1::SessionEvent::Kind kind, const QString &reason = QString())
{
    v1::SessionEvent event;
    event.set_kind(kind);
    wire::toWire(wire::civilNow(), event.mutable_service_time());
    event.set_reason(wire::utf8(reason));
    return event;
}

v1::LoginReply::Role roleOnWire(Role role)
{
    return role == Role::Manager ? v1::LoginReply::MANAGER : v1::LoginReply::VIEWER;
}

grpc::Status presenceQuery(const v1::PresenceRequest &request, const ServerConfig &config,
                           PresenceQuery *query)
{
    if (request.known_picture_digests_size() > config.maxKnownDigests)
        return wire::status(grpc::INVALID_ARGUMENT,
                            QStringLiteral("The request lists %1 known pictures; at most %2 are accepted.")
                                .arg(request.known_picture_digests_size()).arg(config.maxKnownDigests));
    query->at = request.has_at() ? wire::fromWire(request.at()) : wire::civilNow();
    if (!query->at.isValid())
        return wire::status(grpc::INVALID_ARGUMENT, QStringLiteral("The requested moment is not a valid date and time."));
    query->staleAfterDays = config.staleDays;
    query->knownPictureDigests.reserve(request.known_picture_digests_size());
    for (const std::string &digest : request.known_picture_digests()) {
        if (digest.size() != DigestBytes)
            return wire::status(grpc::INVALID_ARGUMENT,
                                QStringLiteral("A known picture digest has %1 bytes; a SHA-256 digest has 32.")
                                    .arg(digest.size()));
        query->knownPictureDigests.insert(QByteArray(digest.data(), int(digest.size())));
    }
    return grpc::Status::OK;
}

} // namespace

CommServiceImpl::CommServiceImpl(const ServiceParts &parts)
    : m_storage(parts.storage)
    , m_sessions(parts.sessions)
    , m_authenticator(parts.authenticator)
    , m_hub(parts.hub)
    , m_streams(parts.streams)
    , m_config(parts.config)
{
}

// ---- Sessions ---------------------------------------------------------------------------

grpc::Status CommServiceImpl::Login(grpc::ServerContext *context, const v1::LoginRequest *request,
                                    v1::LoginReply *reply)
{
    const QString userName = wire::text(request->user());
    const QString peer = peerOf(context);
    if (userName.isEmpty() || userName.size() > MaxNameLength
        || request->password().size() > size_t(MaxPasswordLength))
        return wire::status(grpc::INVALID_ARGUMENT,
                            QStringLiteral("Enter a user name of up to %1 characters and a password of up to %2.")
                                .arg(MaxNameLength).arg(MaxPasswordLength));

    const QByteArray password = QByteArray::fromStdString(request->password());
    const Authenticator::Result result =
        m_authenticator.login(userName, password, wire::text(request->client()), peer);

    switch (result.outcome) {
    case Authenticator::Outcome::LoggedIn:
        break;
    case Authenticator::Outcome::Throttled:
        EventLog::warning("login", {{"user", userName}, {"peer", peer}, {"result", QStringLiteral("throttled")}});
        return wire::status(grpc::RESOURCE_EXHAUSTED, result.message);
    case Authenticator::Outcome::WrongCredentials:
        EventLog::info("login", {{"user", userName}, {"peer", peer}, {"result", QStringLiteral("denied")}});
        return wire::status(grpc::UNAUTHENTICATED, result.message);
    case Authenticator::Outcome::TooManySessions:
        EventLog::warning("login", {{"user", userName}, {"peer", peer}, {"result", QStringLiteral("too-many-sessions")}});
        return wire::status(grpc::RESOURCE_EXHAUSTED, result.message);
    case Authenticator::Outcome::Unavailable:
        EventLog::error("login", {{"user", userName}, {"peer", peer}, {"result", QStringLiteral("unavailable")},
                                  {"msg", result.message}});
        return wire::status(grpc::UNAVAILABLE, result.message);
    }

    reply->set_session_token(result.token.toStdString());
    reply->set_user(wire::utf8(result.user.name));
    reply->set_role(roleOnWire(result.user.role));
    reply->set_idle_timeout_seconds(int(m_config.sessionIdle.count()));
    reply->set_heartbeat_seconds(int(m_config.heartbeat.count()));
    EventLog::info("login", {{"user", result.user.name}, {"peer", peer}, {"result", QStringLiteral("ok")}});
    return grpc::Status::OK;
}

grpc::Status CommServiceImpl::Logout(grpc::ServerContext *context, const v1::LogoutRequest *,
                                     v1::LogoutReply *)
{
    Caller caller;
    const grpc::Status refusal = authenticate(context, "logout", &caller);
    if (!refusal.ok())
        return refusal;
    const QByteArray tokenHash = caller.session.session.tokenHash;
    const StorageError error = m_sessions.close(tokenHash);
    if (!error.ok())
        return wire::toStatus(error);
    m_hub.end(tokenHash, LoggedOut);
    EventLog::info("logout", {{"user", caller.user().name}, {"peer", peerOf(context)}});
    return grpc::Status::OK;
}

grpc::Status CommServiceImpl::WatchSession(grpc::ServerContext *context, const v1::SessionWatchRequest *,
                                           grpc::ServerWriter<v1::SessionEvent> *writer)
{
    Caller caller;
    const grpc::Status refusal = admitStream(context, "watch", &caller);
    if (!refusal.ok())
        return refusal;
    const QByteArray tokenHash = caller.session.session.tokenHash;
    const QString peer = peerOf(context); // gRPC forgets the peer once the call is cancelled
    const std::unique_ptr<SessionHub::Watch> watch = m_hub.watch(tokenHash);

    // The first heartbeat goes out at once: it tells the client the stream stands.
    Clock::time_point nextBeat = Clock::now();
    QString reason;
    while (reason.isEmpty()) {
        if (context->IsCancelled())
            return clientGone();
        if (Clock::now() >= nextBeat) {
            reason = sessionEndReason(tokenHash);
            if (!reason.isEmpty())
                break;
            if (!writer->Write(sessionEvent(v1::SessionEvent::HEARTBEAT)))
                return clientGone();
            nextBeat = Clock::now() + m_config.heartbeat;
        }
        const auto untilBeat = std::chrono::duration_cast<std::chrono::milliseconds>(nextBeat - Clock::now());
        reason = watch->waitForEnd(std::clamp(untilBeat, std::chrono::milliseconds(0), PollSlice));
    }
    writer->Write(sessionEvent(v1::SessionEvent::ENDING, reason));
    EventLog::info("session-end", {{"user", caller.user().name}, {"peer", peer}, {"reason", reason}});
    return grpc::Status::OK;
}

// ---- Presence and lists ------------------------------------------------------------------

grpc::Status CommServiceImpl::Presence(grpc::ServerContext *context, const v1::PresenceRequest *request,
                                       grpc::ServerWriter<v1::PresenceChunk> *writer)
{
    Caller caller;
    grpc::Status refusal = admitStream(context, "presence", &caller);
    if (!refusal.ok())
        return refusal;
    PresenceQuery query;
    refusal = presenceQuery(*request, m_config, &query);
    if (!refusal.ok())
        return refusal;

    QElapsedTimer timer;
    timer.start();
    const CallBudget budget(context, m_config.callTimeout);
    PresenceChunker chunker([&](const v1::PresenceChunk &chunk) {
        return !budget.exhausted() && writer->Write(chunk);
    });
    // Once a write fails the chunker refuses further rows; the query still runs to its end.
    const StorageError error = m_storage.presence(caller.user(), query,
                                                  [&](const PresenceRow &row) { chunker.add(row); });
    if (!error.ok()) {
        EventLog::error("presence", {{"user", caller.user().name}, {"result", QStringLiteral("failed")}, {"msg", error.message}});
        return wire::toStatus(error);
    }
    if (!chunker.finish())
        return budget.status();
    EventLog::debug("presence", {{"user", caller.user().name},
                                 {"rows", QString::number(chunker.rowsSent())},
                                 {"chunks", QString::number(chunker.chunksSent())},
                                 {"known", QString::number(query.knownPictureDigests.size())},
                                 {"ms", QString::number(timer.elapsed())}});
    return grpc::Status::OK;
}

grpc::Status CommServiceImpl::CalendarList(grpc::ServerContext *context, const v1::ListRequest *,
                                           grpc::ServerWriter<v1::Calendar> *writer)
{
    return streamList(context, "calendars", writer, &Storage::calendars);
}

grpc::Status CommServiceImpl::WorkDayList(grpc::ServerContext *context, const v1::ListRequest *,
                                          grpc::ServerWriter<v1::WorkDayKind> *writer)
{
    return streamList(context, "workdays", writer, &Storage::workDayKinds);
}

grpc::Status CommServiceImpl::CalendarHistory(grpc::ServerContext *context, const v1::MonthRequest *request,
                                              grpc::ServerWriter<v1::CalendarRange> *writer)
{
    return streamMonth(context, "calendar-history", *request, writer, &Storage::calendarHistory);
}

grpc::Status CommServiceImpl::ExceptionHistory(grpc::ServerContext *context, const v1::MonthRequest *request,
                                               grpc::ServerWriter<v1::ExceptionDay> *writer)
{
    return streamMonth(context, "exception-history", *request, writer, &Storage::exceptionHistory);
}

template<typename Message, typename Item>
grpc::Status CommServiceImpl::streamList(grpc::ServerContext *context, const char *event,
                                         grpc::ServerWriter<Message> *writer,
                                         QVector<Item> (Storage::*list)(StorageError *))
{
    Caller caller;
    const grpc::Status refusal = admitStream(context, event, &caller);
    if (!refusal.ok())
        return refusal;
    StorageError error;
    const QVector<Item> items = (m_storage.*list)(&error);
    if (!error.ok())
        return wire::toStatus(error);
    return writeAll(writer, items) ? grpc::Status::OK : clientGone();
}

template<typename Message, typename Item>
grpc::Status CommServiceImpl::streamMonth(grpc::ServerContext *context, const char *event,
                                          const v1::MonthRequest &request, grpc::ServerWriter<Message> *writer,
                                          StorageError (Storage::*read)(const QString &, int, int, QVector<Item> *))
{
    Caller caller;
    const QString employeeId = wire::text(request.employee_id());
    grpc::Status refusal = admitStream(context, event, &caller);
    if (refusal.ok())
        refusal = checkMonth(request);
    if (refusal.ok())
        refusal = checkEmployee(caller.user(), employeeId);
    if (!refusal.ok())
        return refusal;
    QVector<Item> items;
    const StorageError error = (m_storage.*read)(employeeId, request.year(), request.month(), &items);
    if (!error.ok())
        return wire::toStatus(error);
    return writeAll(writer, items) ? grpc::Status::OK : clientGone();
}

// ---- Changes -----------------------------------------------------------------------------

grpc::Status CommServiceImpl::SetCalendar(grpc::ServerContext *context, const v1::SetCalendarRequest *request,
                                          v1::SetReply *reply)
{
    const Assignment assignment{"set-calendar", "calendar", request->calendar_id(),
                                wire::text(request->employee_id()), wire::fromWire(request->valid_from()),
                                QStringLiteral("The day from which the calendar applies is not a valid date.")};
    return assign(context, assignment, &Storage::assignCalendar, reply);
}

grpc::Status CommServiceImpl::SetWorkDay(grpc::ServerContext *context, const v1::SetWorkDayRequest *request,
                                         v1::SetReply *reply)
{
    const Assignment assignment{"set-workday", "workday", request->work_day_id(),
                                wire::text(request->employee_id()), wire::fromWire(request->day()),
                                QStringLiteral("The working day to assign is not a valid date.")};
    return assign(context, assignment, &Storage::assignWorkDay, reply);
}

grpc::Status CommServiceImpl::assign(grpc::ServerContext *context, const Assignment &assignment,
                                     AssignFunction write, v1::SetReply *reply)
{
    Caller caller;
    const grpc::Status refusal = authenticate(context, assignment.event, &caller);
    if (!refusal.ok())
        return refusal;
    if (!assignment.day.isValid())
        return wire::status(grpc::INVALID_ARGUMENT, assignment.invalidDay);
    qint64 auditId = 0;
    const StorageError error = (m_storage.*write)(caller.user(), assignment.id, assignment.employeeId,
                                                  assignment.day, wire::civilNow(), &auditId);
    EventLog::info(assignment.event, {{"user", caller.user().name}, {"employee", assignment.employeeId},
                                      {assignment.idKey, QString::number(assignment.id)},
                                      {"day", assignment.day.toString(Qt::ISODate)},
                                      {"result", error.ok() ? QStringLiteral("ok") : error.message}});
    if (!error.ok())
        return wire::toStatus(error);
    reply->set_audit_id(auditId);
    return grpc::Status::OK;
}

// ---- Terminals ---------------------------------------------------------------------------

grpc::Status CommServiceImpl::RegisterActivity(grpc::ServerContext *context,
                                               const v1::RegisterActivityRequest *request,
                                               v1::RegisterActivityReply *reply)
{
    const QByteArray deviceToken = metadata(context, "vorna-device");
    StorageError lookup{StorageError::NotFound, QString()};
    const std::optional<Terminal> terminal = deviceToken.isEmpty()
        ? std::nullopt
        : m_storage.findTerminal(tokens::digest(deviceToken), &lookup);
    if (!terminal && lookup.code != StorageError::NotFound)
        return wire::toStatus(lookup);
    if (!terminal) {
        EventLog::warning("activity", {{"peer", peerOf(context)}, {"result", QStringLiteral("unknown-terminal")}});
        return wire::status(grpc::UNAUTHENTICATED,
                            QStringLiteral("This terminal is not registered. Register it with "
                                           "'vorna-service terminal add NAME' and send the token it prints."));
    }
    Registration registration;
    registration.employeeId = wire::text(request->employee_id());
    registration.activityKindId = request->activity_kind_id();
    registration.at = request->has_at() ? wire::fromWire(request->at()) : wire::civilNow();
    registration.source = QStringLiteral("terminal:") + terminal->name;
    if (!registration.at.isValid())
        return wire::status(grpc::INVALID_ARGUMENT, QStringLiteral("The moment of the activity is not a valid date and time."));
    grpc::Status refusal = requireEmployee(registration.employeeId);
    if (refusal.ok())
        refusal = requireActivityKind(registration.activityKindId);
    if (!refusal.ok())
        return refusal;

    qint64 registrationId = 0;
    const StorageError error = m_storage.addRegistration(registration, &registrationId);
    EventLog::info("activity", {{"terminal", terminal->name}, {"employee", registration.employeeId},
                                {"kind", QString::number(registration.activityKindId)},
                                {"result", error.ok() ? QStringLiteral("ok") : error.message}});
    if (!error.ok())
        return wire::toStatus(error);
    reply->set_registration_id(registrationId);
    return grpc::Status::OK;
}

// ---- Shared checks -----------------------------------------------------------------------

grpc::Status CommServiceImpl::authenticate(grpc::ServerContext *context, const char *event, Caller *caller)
{
    caller->session = m_sessions.authenticate(metadata(context, "vorna-session"));
    switch (caller->session.check) {
    case SessionManager::Check::Valid:
        return grpc::Status::OK;
    case SessionManager::Check::StorageFailed:
        EventLog::error(event, {{"peer", peerOf(context)}, {"result", QStringLiteral("unavailable")},
                                {"msg", caller->session.error.message}});
        return wire::toStatus(caller->session.error);
    case SessionManager::Check::Missing:
    case SessionManager::Check::Unknown:
    case SessionManager::Check::Expired:
        break;
    }
    EventLog::info(event, {{"peer", peerOf(context)}, {"result", QStringLiteral("unauthenticated")}});
    return wire::status(grpc::UNAUTHENTICATED, SessionExpired);
}

grpc::Status CommServiceImpl::admitStream(grpc::ServerContext *context, const char *event, Caller *caller)
{
    const grpc::Status refusal = authenticate(context, event, caller);
    if (!refusal.ok())
        return refusal;
    caller->stream = m_streams.acquire(caller->session.session.tokenHash);
    if (caller->stream.held())
        return grpc::Status::OK;
    EventLog::warning(event, {{"user", caller->user().name}, {"result", QStringLiteral("too-many-streams")}});
    return wire::status(grpc::RESOURCE_EXHAUSTED,
                        QStringLiteral("This session already has %1 requests in progress. Wait for one "
                                       "to finish and try again.").arg(m_streams.perSession()));
}

grpc::Status CommServiceImpl::checkEmployee(const User &user, const QString &employeeId)
{
    if (employeeId.isEmpty())
        return wire::status(grpc::INVALID_ARGUMENT, QStringLiteral("The request names no employee."));
    StorageError error;
    if (m_storage.employeeVisibleTo(user, employeeId, &error))
        return grpc::Status::OK;
    if (error.code == StorageError::NotFound)
        return notFoundEmployee(employeeId);
    if (!error.ok())
        return wire::toStatus(error);
    return wire::status(grpc::PERMISSION_DENIED,
                        QStringLiteral("Employee \"%1\" works in a department you may not see. Ask an "
                                       "administrator for access.").arg(employeeId));
}

grpc::Status CommServiceImpl::requireEmployee(const QString &employeeId)
{
    StorageError error;
    if (m_storage.findEmployee(employeeId, &error))
        return grpc::Status::OK;
    return error.code == StorageError::NotFound ? notFoundEmployee(employeeId) : wire::toStatus(error);
}

grpc::Status CommServiceImpl::notFoundEmployee(const QString &employeeId)
{
    return wire::status(grpc::NOT_FOUND, QStringLiteral("There is no employee with the id \"%1\".").arg(employeeId));
}

grpc::Status CommServiceImpl::requireActivityKind(qint64 kindId)
{
    StorageError error;
    const QVector<ActivityKind> kinds = m_storage.activityKinds(&error);
    if (!error.ok())
        return wire::toStatus(error);
    const bool known = std::any_of(kinds.begin(), kinds.end(), [&](const ActivityKind &kind) { return kind.id == kindId; });
    if (known)
        return grpc::Status::OK;
    return wire::status(grpc::NOT_FOUND, QStringLiteral("There is no activity kind with the id %1.").arg(kindId));
}

grpc::Status CommServiceImpl::checkMonth(const v1::MonthRequest &request)
{
    if (request.month() < 1 || request.month() > 12)
        return wire::status(grpc::INVALID_ARGUMENT,
                            QStringLiteral("The month %1 is not a month; use 1 to 12.").arg(request.month()));
    if (request.year() < 1900 || request.year() > 9999)
        return wire::status(grpc::INVALID_ARGUMENT,
                            QStringLiteral("The year %1 is out of range; use a four-digit year from 1900.").arg(request.year()));
    return grpc::Status::OK;
}

QString CommServiceImpl::sessionEndReason(const QByteArray &tokenHash)
{
    switch (m_sessions.recheck(tokenHash).check) {
    case SessionManager::Check::Expired:
        return SessionExpired;
    case SessionManager::Check::Missing:
    case SessionManager::Check::Unknown:
        return SessionEnded;
    case SessionManager::Check::Valid:
    case SessionManager::Check::StorageFailed:
        // A database hiccup is no reason to drop the client; the next heartbeat looks again.
        break;
    }
    return {};
}

} // namespace vorna::service
