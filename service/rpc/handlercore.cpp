#include "rpc/handlercore.h"

#include "ops/eventlog.h"
#include "rpc/requestbounds.h"
#include "rpc/wireconvert.h"

#include <algorithm>

namespace vorna::service {

namespace sentences {
const QString SessionExpired = QStringLiteral("Your session has expired. Log in again.");
const QString SessionEnded = QStringLiteral("Your session has ended. Log in again.");
const QString SessionInvalid = QStringLiteral("Your session is not valid. Log in again.");
const QString DatabaseUnreachable =
    QStringLiteral("The attendance service cannot reach its database. Try again in a moment.");
} // namespace sentences

using sentences::SessionEnded;
using sentences::SessionExpired;
using sentences::SessionInvalid;

HandlerCore::HandlerCore(const ServiceParts &parts, DatabasePool &pool, TimerQueue &timers)
    : ServiceParts(parts)
    , timers(timers)
    , refusals(&timers)
    , m_pool(pool)
{
}

bool HandlerCore::post(const char *event, const QString &peer, DatabasePool::Job job)
{
    if (m_pool.post(std::move(job)))
        return true;
    const QString result = QStringLiteral("busy");
    refused(EventLog::Level::Warning, event, peer, result,
            {{"peer", peer}, {"result", result}, {"queue", QString::number(m_pool.queueLimit())}});
    return false;
}

grpc::Status HandlerCore::busy()
{
    return wire::status(grpc::RESOURCE_EXHAUSTED, QStringLiteral("The service is busy. Try again in a moment."));
}

grpc::Status HandlerCore::databaseUnreachable()
{
    return wire::status(grpc::UNAVAILABLE, sentences::DatabaseUnreachable);
}

void HandlerCore::refused(EventLog::Level level, const char *event, const QString &peer, const QString &result,
                          std::initializer_list<EventLog::Field> fields)
{
    if (refusals.admit(level, event, peer, result))
        EventLog::write(level, event, fields);
}

QByteArray HandlerCore::metadata(const grpc::CallbackServerContext *context, const char *key)
{
    const auto &entries = context->client_metadata();
    const auto it = entries.find(key);
    if (it == entries.end())
        return {};
    return QByteArray(it->second.data(), int(it->second.size()));
}

QString HandlerCore::peerOf(const grpc::CallbackServerContext *context)
{
    return QString::fromStdString(context->peer());
}

grpc::Status HandlerCore::clientGone()
{
    return wire::status(grpc::CANCELLED, QStringLiteral("The client closed the stream."));
}

void HandlerCore::stalled(const char *event, const QString &peer, const QString &user)
{
    const QString result = QStringLiteral("stalled");
    refused(EventLog::Level::Warning, event, peer, result,
            {{"user", user}, {"peer", peer}, {"result", result},
             {"msg", QStringLiteral("The client took nothing of the answer for %1 seconds; the answer was ended.")
                         .arg(config.callTimeout.count())}});
}

std::unique_ptr<WriteWatchdog> HandlerCore::watchWrites(grpc::CallbackServerContext *context,
                                                        WriteWatchdog::Clock::time_point deadline)
{
    return std::make_unique<WriteWatchdog>(timers, [context] { context->TryCancel(); }, config.callTimeout, deadline);
}

grpc::Status HandlerCore::authenticate(const grpc::CallbackServerContext *context, const char *event, Caller *caller)
{
    caller->session = sessions.authenticate(metadata(context, "vorna-session"));
    const QString peer = peerOf(context);
    QString sentence = SessionInvalid;
    switch (caller->session.check) {
    case SessionManager::Check::Valid:
        return grpc::Status::OK;
    case SessionManager::Check::StorageFailed: {
        const QString result = QStringLiteral("unavailable");
        refused(EventLog::Level::Error, event, peer, result,
                {{"peer", peer}, {"result", result}, {"msg", caller->session.error.message}});
        return databaseUnreachable();
    }
    case SessionManager::Check::Expired:
        sentence = SessionExpired;
        break;
    case SessionManager::Check::Missing:
    case SessionManager::Check::Unknown:
        // Never issued, or no longer known: a junk token is no expired session.
        break;
    }
    const QString result = QStringLiteral("unauthenticated");
    refused(EventLog::Level::Info, event, peer, result, {{"peer", peer}, {"result", result}});
    return wire::status(grpc::UNAUTHENTICATED, sentence);
}

grpc::Status HandlerCore::admitStream(const grpc::CallbackServerContext *context, const char *event, Caller *caller)
{
    const grpc::Status refusal = authenticate(context, event, caller);
    if (!refusal.ok())
        return refusal;
    caller->stream = streams.acquire(caller->tokenHash());
    if (caller->stream.held())
        return grpc::Status::OK;
    const QString peer = peerOf(context);
    const QString result = QStringLiteral("too-many-streams");
    refused(EventLog::Level::Warning, event, peer, result,
            {{"user", caller->user().name}, {"result", result}, {"peer", peer}});
    return wire::status(grpc::RESOURCE_EXHAUSTED,
                        QStringLiteral("This session already has %1 requests in progress. Wait for one "
                                       "to finish and try again.").arg(streams.perSession()));
}

grpc::Status HandlerCore::checkEmployee(const User &user, const QString &employeeId)
{
    if (employeeId.isEmpty())
        return wire::status(grpc::INVALID_ARGUMENT, QStringLiteral("The request names no employee."));
    const Result<bool> visible = presence.employeeVisibleTo(user, employeeId);
    if (visible.error().code == StorageError::NotFound)
        return notFoundEmployee(employeeId);
    if (!visible)
        return wire::toStatus(visible.error());
    if (*visible)
        return grpc::Status::OK;
    return wire::status(grpc::PERMISSION_DENIED,
                        QStringLiteral("Employee \"%1\" works in a department you may not see. Ask an "
                                       "administrator for access.").arg(bounds::quoted(employeeId)));
}

grpc::Status HandlerCore::requireEmployee(const QString &employeeId)
{
    const Result<Employee> employee = organisation.findEmployee(employeeId);
    if (employee)
        return grpc::Status::OK;
    return employee.error().code == StorageError::NotFound ? notFoundEmployee(employeeId)
                                                           : wire::toStatus(employee.error());
}

grpc::Status HandlerCore::notFoundEmployee(const QString &employeeId)
{
    return wire::status(grpc::NOT_FOUND,
                        QStringLiteral("There is no employee with the id \"%1\".").arg(bounds::quoted(employeeId)));
}

grpc::Status HandlerCore::requireActivityKind(qint64 kindId)
{
    const Result<QVector<ActivityKind>> found = organisation.activityKinds();
    if (!found)
        return wire::toStatus(found.error());
    const QVector<ActivityKind> &kinds = *found;
    const bool known = std::any_of(kinds.begin(), kinds.end(), [&](const ActivityKind &kind) { return kind.id == kindId; });
    if (known)
        return grpc::Status::OK;
    return wire::status(grpc::NOT_FOUND, QStringLiteral("There is no activity kind with the id %1.").arg(kindId));
}

QString HandlerCore::sessionEndReason(const QByteArray &tokenHash)
{
    switch (sessions.recheck(tokenHash).check) {
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
