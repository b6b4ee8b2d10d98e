#pragma once
// What every RPC handler and stream reactor shares: the service's parts, the database pool and
// heartbeat timer, and the checks of a caller (session, stream place, employee). The checks
// touch the database, so they run on a database worker, never on a gRPC thread.

#include "sessions/authenticator.h"
#include "rpc/databasepool.h"
#include "rpc/refusallog.h"
#include "ops/serverconfig.h"
#include "sessions/sessionhub.h"
#include "sessions/sessionmanager.h"
#include "storage/database.h"
#include "rpc/streamlimiter.h"
#include "rpc/timerqueue.h"
#include "rpc/writewatchdog.h"

#include "commservice.pb.h"

#include <grpcpp/server_context.h>
#include <grpcpp/support/server_callback.h>

#include <memory>

namespace vorna::service {

// The parts of the service that the handlers are handed.
struct ServiceParts
{
    AccountStore &accounts;
    OrganisationStore &organisation;
    CalendarStore &calendars;
    PresenceStore &presence;
    SessionManager &sessions;
    Authenticator &authenticator;
    SessionHub &hub;
    StreamLimiter &streams;
    const ServerConfig &config;
    // The database workers; the service makes its own (DatabasePool's defaults) when none is
    // given.
    DatabasePool *databasePool = nullptr;
};

// The parts the handlers use, and the checks they share.
class HandlerCore : public ServiceParts
{
public:
    // The session behind a call, and for streams the stream place it holds.
    struct Caller
    {
        SessionManager::Lookup session;
        StreamLimiter::Slot stream;
        const User &user() const { return session.user; }
        const QByteArray &tokenHash() const { return session.session.tokenHash; }
        // Right before the call's status goes out: the client may open its next stream as
        // soon as it has the status, before gRPC is done with this one.
        void releaseStream() { stream = StreamLimiter::Slot(); }
    };

    // `pool` is the one the handlers post to: parts.databasePool, or the service's own.
    HandlerCore(const ServiceParts &parts, DatabasePool &pool, TimerQueue &timers);

    TimerQueue &timers;
    RefusalLog refusals;

    // Runs `job` on a database worker; false, with a log line, when the queue is full. The
    // caller then ends the call with busy().
    bool post(const char *event, const QString &peer, DatabasePool::Job job);
    static grpc::Status busy();
    // What a caller without a valid session or terminal token hears while the database
    // fails: the database's hosts and ports are for the log only.
    static grpc::Status databaseUnreachable();
    // The log line of a refused call, unless the same address had the same refusal within
    // the refusal log's window (then it is counted for the window's summary).
    void refused(EventLog::Level level, const char *event, const QString &peer, const QString &result,
                 std::initializer_list<EventLog::Field> fields);
    // The log line of a stream that its write watchdog ended.
    void stalled(const char *event, const QString &peer, const QString &user);
    // The watchdog of a stream's writes: cancels the call when a write has not gone out within
    // the call timeout, or (with a deadline) is still pending at it.
    std::unique_ptr<WriteWatchdog> watchWrites(grpc::CallbackServerContext *context,
                                               WriteWatchdog::Clock::time_point deadline
                                               = WriteWatchdog::Clock::time_point::max());

    grpc::Status authenticate(const grpc::CallbackServerContext *context, const char *event, Caller *caller);
    grpc::Status admitStream(const grpc::CallbackServerContext *context, const char *event, Caller *caller);
    grpc::Status checkEmployee(const User &user, const QString &employeeId);
    grpc::Status requireEmployee(const QString &employeeId);
    grpc::Status requireActivityKind(qint64 kindId);
    // Why the session behind a stream has ended, or empty while it goes on.
    QString sessionEndReason(const QByteArray &tokenHash);

    static QByteArray metadata(const grpc::CallbackServerContext *context, const char *key);
    static QString peerOf(const grpc::CallbackServerContext *context);
    static grpc::Status clientGone();

private:
    static grpc::Status notFoundEmployee(const QString &employeeId);

    DatabasePool &m_pool;
};

// The sentences the session checks answer with.
namespace sentences {
extern const QString SessionExpired;
extern const QString SessionEnded;
extern const QString SessionInvalid;
extern const QString DatabaseUnreachable;
} // namespace sentences

} // namespace vorna::service
