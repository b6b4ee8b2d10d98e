#include "rpc/handlercore.h"

#include "ops/eventlog.h"
#include "rpc/requestbounds.h"
#include "rpc/wireconvert.h"

#include <algorithm>

namespace vorna::service {

namespace sentences {
const QString SessionExpired = QStringLiteral("Your session has expired. Log in again.");
const QString SessionEnded = QStringLiteral("Your session has ended. Log in again.");
} // namespace sentences

using sentences::SessionEnded;
using sentences::SessionExpired;

HandlerCore::HandlerCore(const ServiceParts &parts, DatabasePool &pool, TimerQueue &timers)
    : ServiceParts(parts)
    , timers(timers)
    , m_pool(pool)
{
}

bool HandlerCore::post(const char *event, const QString &peer, DatabasePool::Job job)
{
    if (m_pool.post(std::move(job)))
        return true;
    EventLog::warning(event, {{"peer", peer}, {"result", QStringLiteral("busy")},
                              {"queue", QString::number(m_pool.queueLimit())}});
    return false;
}

grpc::Status HandlerCore::busy()
{
    return wire::status(grpc::RESOURCE_EXHAUSTED, QStringLiteral("The service is busy. Try again in a moment."));
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

grpc::Status HandlerCore::authenticate(const grpc::CallbackServerContext *context, const char *event, Caller *caller)
{
    caller->session = sessions.authenticate(metadata(context, "vorna-session"));
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

grpc::Status HandlerCore::admitStream(const grpc::CallbackServerContext *context, const char *event, Caller *caller)
{
    const grpc::Status refusal = authenticate(context, event, caller);
    if (!refusal.ok())
        return refusal;
    caller->stream = streams.acquire(caller->tokenHash());
    if (caller->stream.held())
        return grpc::Status::OK;
    EventLog::warning(event, {{"user", caller->user().name}, {"result", QStringLiteral("too-many-streams")}});
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
