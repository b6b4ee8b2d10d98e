#include "rpc/commserviceimpl.h"

#include "ops/eventlog.h"
#include "ops/rpcmetrics.h"
#include "rpc/liststream.h"
#include "rpc/presencestream.h"
#include "rpc/requestbounds.h"
#include "rpc/sessionwatch.h"
#include "sessions/tokens.h"
#include "rpc/wireconvert.h"

#include <thread>

namespace vorna::service {

namespace {

const QString LoggedOut = QStringLiteral("You logged out.");

v1::LoginReply::Role roleOnWire(Role role)
{
    return role == Role::Manager ? v1::LoginReply::MANAGER : v1::LoginReply::VIEWER;
}

template<typename Message, typename Item>
std::vector<Message> onWire(const QVector<Item> &items)
{
    std::vector<Message> messages(size_t(items.size()));
    for (int i = 0; i < items.size(); ++i)
        wire::toWire(items.at(i), &messages[size_t(i)]);
    return messages;
}

// Logins waiting for a worker: at a few dozen password checks a second, the last one still
// finishes well within a call's time-out.
constexpr int LoginQueueLimit = 256;

int loginWorkers()
{
    return int(std::max(2u, std::thread::hardware_concurrency()));
}

} // namespace

CommServiceImpl::CommServiceImpl(const ServiceParts &parts)
    : m_ownPool(parts.databasePool ? nullptr : std::make_unique<DatabasePool>())
    , m_core(parts, parts.databasePool ? *parts.databasePool : *m_ownPool, m_timers)
    , m_loginPool(loginWorkers(), LoginQueueLimit)
    , m_presenceEvents(parts.presence, parts.hub)
{
    m_presenceEvents.start();
}

void CommServiceImpl::announcePresenceChange(const QString &employeeId)
{
    if (const Result<Employee> employee = m_core.organisation.findEmployee(employeeId))
        m_presenceEvents.changed(employee->departmentId);
}

CommServiceImpl::~CommServiceImpl() = default;

grpc::ServerUnaryReactor *CommServiceImpl::unary(grpc::CallbackServerContext *context, const char *event,
                                                 std::function<grpc::Status()> work)
{
    grpc::ServerUnaryReactor *reactor = context->DefaultReactor();
    if (!m_core.post(event, HandlerCore::peerOf(context), [reactor, work = std::move(work)] { reactor->Finish(work()); }))
        reactor->Finish(HandlerCore::busy());
    return reactor;
}

// ---- Sessions ---------------------------------------------------------------------------

grpc::ServerUnaryReactor *CommServiceImpl::Login(grpc::CallbackServerContext *context, const v1::LoginRequest *request,
                                                 v1::LoginReply *reply)
{
    // Malformed logins cost no database work and no hashing.
    const grpc::Status bounded = bounds::check(*request);
    if (!bounded.ok()) {
        grpc::ServerUnaryReactor *reactor = context->DefaultReactor();
        reactor->Finish(bounded);
        return reactor;
    }
    grpc::ServerUnaryReactor *reactor = context->DefaultReactor();
    if (!m_loginPool.post([=] { reactor->Finish(login(context, *request, reply)); })) {
        const QString peer = HandlerCore::peerOf(context);
        refuseLogin(EventLog::Level::Warning, peer, QStringLiteral("busy"),
                    {{"peer", peer}, {"result", QStringLiteral("busy")}, {"queue", QString::number(m_loginPool.queueLimit())}});
        reactor->Finish(HandlerCore::busy());
    }
    return reactor;
}

grpc::Status CommServiceImpl::login(grpc::CallbackServerContext *context, const v1::LoginRequest &request,
                                    v1::LoginReply *reply)
{
    const QString userName = wire::text(request.user());
    const QString shownName = bounds::quoted(userName);
    const QString peer = HandlerCore::peerOf(context);
    const QByteArray password = QByteArray::fromStdString(request.password());
    const Authenticator::Result result =
        m_core.authenticator.login(userName, password, wire::text(request.client()), peer);

    // A successful login keeps its own line; refusals from one address for one reason share
    // a line per window, so a guessing flood cannot bury the audit trail.
    switch (result.outcome) {
    case Authenticator::Outcome::LoggedIn:
        break;
    case Authenticator::Outcome::Throttled:
        refuseLogin(EventLog::Level::Warning, peer, QStringLiteral("throttled"),
                    {{"user", shownName}, {"peer", peer}, {"result", QStringLiteral("throttled")}});
        return wire::status(grpc::RESOURCE_EXHAUSTED, result.message);
    case Authenticator::Outcome::WrongCredentials:
        refuseLogin(EventLog::Level::Info, peer, QStringLiteral("denied"),
                    {{"user", shownName}, {"peer", peer}, {"result", QStringLiteral("denied")}});
        return wire::status(grpc::UNAUTHENTICATED, result.message);
    case Authenticator::Outcome::TooManySessions:
        refuseLogin(EventLog::Level::Warning, peer, QStringLiteral("too-many-sessions"),
                    {{"user", shownName}, {"peer", peer}, {"result", QStringLiteral("too-many-sessions")}});
        return wire::status(grpc::RESOURCE_EXHAUSTED, result.message);
    case Authenticator::Outcome::Unavailable:
        // The caller is nobody yet: the database's whereabouts are for the log only.
        refuseLogin(EventLog::Level::Error, peer, QStringLiteral("unavailable"),
                    {{"user", shownName}, {"peer", peer}, {"result", QStringLiteral("unavailable")}, {"msg", result.message}});
        return HandlerCore::databaseUnreachable();
    }

    reply->set_session_token(result.token.toStdString());
    reply->set_user(wire::utf8(result.user.name));
    reply->set_role(roleOnWire(result.user.role));
    reply->set_idle_timeout_seconds(int(m_core.config.sessionIdle.count()));
    reply->set_heartbeat_seconds(int(m_core.config.heartbeat.count()));
    countLoginAttempt(QStringLiteral("ok"));
    EventLog::info("login", {{"user", result.user.name}, {"peer", peer}, {"result", QStringLiteral("ok")}});
    return grpc::Status::OK;
}

void CommServiceImpl::refuseLogin(EventLog::Level level, const QString &peer, const QString &result,
                                  std::initializer_list<EventLog::Field> fields)
{
    countLoginAttempt(result);
    m_core.refused(level, "login", peer, result, fields);
}

grpc::ServerUnaryReactor *CommServiceImpl::Logout(grpc::CallbackServerContext *context, const v1::LogoutRequest *,
                                                  v1::LogoutReply *)
{
    return unary(context, "logout", [=] { return logout(context); });
}

grpc::Status CommServiceImpl::logout(grpc::CallbackServerContext *context)
{
    Caller caller;
    const grpc::Status refusal = m_core.authenticate(context, "logout", &caller);
    if (!refusal.ok())
        return refusal;
    const QByteArray tokenHash = caller.tokenHash();
    const StorageError error = m_core.sessions.close(tokenHash);
    if (!error.ok())
        return wire::toStatus(error);
    m_core.hub.end(tokenHash, LoggedOut);
    EventLog::info("logout", {{"user", caller.user().name}, {"peer", HandlerCore::peerOf(context)}});
    return grpc::Status::OK;
}

grpc::ServerWriteReactor<v1::SessionEvent> *CommServiceImpl::WatchSession(grpc::CallbackServerContext *context,
                                                                          const v1::SessionWatchRequest *)
{
    return SessionWatch::start(m_core, context);
}

// ---- Presence and lists ------------------------------------------------------------------

grpc::ServerWriteReactor<v1::PresenceChunk> *CommServiceImpl::Presence(grpc::CallbackServerContext *context,
                                                                       const v1::PresenceRequest *request)
{
    return PresenceStream::start(m_core, context, request);
}

grpc::ServerWriteReactor<v1::Calendar> *CommServiceImpl::CalendarList(grpc::CallbackServerContext *context,
                                                                      const v1::ListRequest *)
{
    return streamList<v1::Calendar>(context, "calendars", &OrganisationStore::calendars);
}

grpc::ServerWriteReactor<v1::WorkDayKind> *CommServiceImpl::WorkDayList(grpc::CallbackServerContext *context,
                                                                        const v1::ListRequest *)
{
    return streamList<v1::WorkDayKind>(context, "workdays", &OrganisationStore::workDayKinds);
}

grpc::ServerWriteReactor<v1::CalendarRange> *CommServiceImpl::CalendarHistory(grpc::CallbackServerContext *context,
                                                                              const v1::MonthRequest *request)
{
    return streamMonth<v1::CalendarRange>(context, "calendar-history", request, &CalendarStore::calendarHistory);
}

grpc::ServerWriteReactor<v1::ExceptionDay> *CommServiceImpl::ExceptionHistory(grpc::CallbackServerContext *context,
                                                                              const v1::MonthRequest *request)
{
    return streamMonth<v1::ExceptionDay>(context, "exception-history", request, &CalendarStore::exceptionHistory);
}

template<typename Message, typename Item>
grpc::ServerWriteReactor<Message> *CommServiceImpl::streamList(grpc::CallbackServerContext *context, const char *event,
                                                               Result<QVector<Item>> (OrganisationStore::*list)())
{
    return ListStream<Message>::start(m_core, context, event, [this, list](Caller *, std::vector<Message> *out) {
        const Result<QVector<Item>> items = (m_core.organisation.*list)();
        if (!items)
            return wire::toStatus(items.error());
        *out = onWire<Message>(*items);
        return grpc::Status::OK;
    });
}

template<typename Message, typename Item>
grpc::ServerWriteReactor<Message> *CommServiceImpl::streamMonth(
    grpc::CallbackServerContext *context, const char *event, const v1::MonthRequest *request,
    Result<QVector<Item>> (CalendarStore::*read)(const QString &, int, int))
{
    return ListStream<Message>::start(m_core, context, event, [this, request, read](Caller *caller, std::vector<Message> *out) {
        grpc::Status refusal = bounds::check(*request);
        const QString employeeId = wire::text(request->employee_id());
        if (refusal.ok())
            refusal = m_core.checkEmployee(caller->user(), employeeId);
        if (!refusal.ok())
            return refusal;
        const Result<QVector<Item>> items = (m_core.calendars.*read)(employeeId, request->year(), request->month());
        if (!items)
            return wire::toStatus(items.error());
        *out = onWire<Message>(*items);
        return grpc::Status::OK;
    });
}

// ---- Changes -----------------------------------------------------------------------------

grpc::ServerUnaryReactor *CommServiceImpl::SetCalendar(grpc::CallbackServerContext *context,
                                                       const v1::SetCalendarRequest *request, v1::SetReply *reply)
{
    return unary(context, "set-calendar", [=] {
        const Assignment assignment{"set-calendar", "calendar", request->calendar_id(),
                                    wire::text(request->employee_id()), wire::fromWire(request->valid_from()),
                                    QStringLiteral("The day from which the calendar applies is not a valid date.")};
        return assign(context, bounds::check(*request), assignment, &CalendarStore::assignCalendar, reply);
    });
}

grpc::ServerUnaryReactor *CommServiceImpl::SetWorkDay(grpc::CallbackServerContext *context,
                                                      const v1::SetWorkDayRequest *request, v1::SetReply *reply)
{
    return unary(context, "set-workday", [=] {
        const Assignment assignment{"set-workday", "workday", request->work_day_id(),
                                    wire::text(request->employee_id()), wire::fromWire(request->day()),
                                    QStringLiteral("The working day to assign is not a valid date.")};
        return assign(context, bounds::check(*request), assignment, &CalendarStore::assignWorkDay, reply);
    });
}

grpc::Status CommServiceImpl::assign(grpc::CallbackServerContext *context, const grpc::Status &bounded,
                                     const Assignment &assignment, AssignFunction write, v1::SetReply *reply)
{
    Caller caller;
    const grpc::Status refusal = m_core.authenticate(context, assignment.event, &caller);
    if (!refusal.ok())
        return refusal;
    if (!bounded.ok())
        return bounded;
    if (!assignment.day.isValid())
        return wire::status(grpc::INVALID_ARGUMENT, assignment.invalidDay);
    const Result<qint64> auditId = (m_core.calendars.*write)(caller.user(), assignment.id, assignment.employeeId,
                                                             assignment.day, wire::civilNow());
    const StorageError &error = auditId.error();
    EventLog::info(assignment.event, {{"user", caller.user().name}, {"employee", bounds::quoted(assignment.employeeId)},
                                      {assignment.idKey, QString::number(assignment.id)},
                                      {"day", assignment.day.toString(Qt::ISODate)},
                                      {"result", error.ok() ? QStringLiteral("ok") : error.message}});
    if (!error.ok())
        return wire::toStatus(error);
    announcePresenceChange(assignment.employeeId);
    reply->set_audit_id(*auditId);
    return grpc::Status::OK;
}

// ---- Terminals ---------------------------------------------------------------------------

grpc::ServerUnaryReactor *CommServiceImpl::RegisterActivity(grpc::CallbackServerContext *context,
                                                            const v1::RegisterActivityRequest *request,
                                                            v1::RegisterActivityReply *reply)
{
    return unary(context, "activity", [=] { return registerActivity(context, *request, reply); });
}

grpc::Status CommServiceImpl::identifyTerminal(grpc::CallbackServerContext *context, Terminal *terminal)
{
    const QString peer = HandlerCore::peerOf(context);
    const QByteArray deviceToken = HandlerCore::metadata(context, "vorna-device");
    Result<Terminal> found = deviceToken.isEmpty() ? Result<Terminal>(StorageError{StorageError::NotFound, QString()})
                                                   : m_core.accounts.findTerminal(tokens::digest(deviceToken));
    if (found) {
        *terminal = found.take();
        return grpc::Status::OK;
    }
    if (found.error().code != StorageError::NotFound) {
        const QString result = QStringLiteral("unavailable");
        m_core.refused(EventLog::Level::Error, "activity", peer, result,
                       {{"peer", peer}, {"result", result}, {"msg", found.error().message}});
        return HandlerCore::databaseUnreachable();
    }
    const QString result = QStringLiteral("unknown-terminal");
    m_core.refused(EventLog::Level::Warning, "activity", peer, result, {{"peer", peer}, {"result", result}});
    return wire::status(grpc::UNAUTHENTICATED,
                        QStringLiteral("This terminal is not registered. Register it with "
                                       "'vorna-service terminal add NAME' and send the token it prints."));
}

grpc::Status CommServiceImpl::registerActivity(grpc::CallbackServerContext *context,
                                               const v1::RegisterActivityRequest &request,
                                               v1::RegisterActivityReply *reply)
{
    Terminal terminal;
    grpc::Status refusal = identifyTerminal(context, &terminal);
    if (refusal.ok())
        refusal = bounds::check(request);
    if (!refusal.ok())
        return refusal;
    Registration registration;
    registration.employeeId = wire::text(request.employee_id());
    registration.activityKindId = request.activity_kind_id();
    registration.at = request.has_at() ? wire::fromWire(request.at()) : wire::civilNow();
    registration.source = QStringLiteral("terminal:") + terminal.name;
    if (!registration.at.isValid())
        return wire::status(grpc::INVALID_ARGUMENT, QStringLiteral("The moment of the activity is not a valid date and time."));
    refusal = m_core.requireEmployee(registration.employeeId);
    if (refusal.ok())
        refusal = m_core.requireActivityKind(registration.activityKindId);
    if (!refusal.ok())
        return refusal;

    const QString requestId = wire::text(request.request_id());
    const Result<PresenceStore::TerminalRegistration> stored =
        m_core.presence.registerFromTerminal(terminal.id, requestId, registration);
    const StorageError &error = stored.error();
    const QString result = !error.ok() ? error.message : stored->repeated ? QStringLiteral("repeat") : QStringLiteral("ok");
    EventLog::info("activity", {{"terminal", terminal.name}, {"employee", bounds::quoted(registration.employeeId)},
                                {"kind", QString::number(registration.activityKindId)}, {"result", result},
                                {"request", bounds::quoted(requestId)},
                                {"registration", QString::number(stored->registrationId)}});
    if (!error.ok())
        return wire::toStatus(error);
    if (!stored->repeated)
        announcePresenceChange(registration.employeeId);
    reply->set_registration_id(stored->registrationId);
    return grpc::Status::OK;
}

} // namespace vorna::service
