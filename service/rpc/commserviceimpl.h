#pragma once
// The RPC handlers on gRPC's callback API. They stay thin: they check the caller and the
// request, ask the storage, and translate its answers into messages. No gRPC thread waits on
// the database or a password hash: that work goes to a bounded pool of database workers, and
// an open stream holds no thread at all between its messages. Sessions, throttling and limits
// live in their own classes, handed in as references.

#include "sessions/authenticator.h"
#include "commservice.grpc.pb.h"
#include "rpc/databasepool.h"
#include "rpc/handlercore.h"
#include "rpc/presenceevents.h"
#include "ops/serverconfig.h"
#include "sessions/sessionhub.h"
#include "sessions/sessionmanager.h"
#include "storage/storage.h"
#include "rpc/streamlimiter.h"
#include "rpc/timerqueue.h"

#include <memory>

namespace vorna::service {


class CommServiceImpl final : public v1::CommService::CallbackService
{
public:
    explicit CommServiceImpl(const ServiceParts &parts);
    // Only after the server has stopped: runs the database work still queued, then stops.
    ~CommServiceImpl() override;

    grpc::ServerUnaryReactor *Login(grpc::CallbackServerContext *context, const v1::LoginRequest *request,
                                    v1::LoginReply *reply) override;
    grpc::ServerUnaryReactor *Logout(grpc::CallbackServerContext *context, const v1::LogoutRequest *request,
                                     v1::LogoutReply *reply) override;
    grpc::ServerWriteReactor<v1::SessionEvent> *WatchSession(grpc::CallbackServerContext *context,
                                                             const v1::SessionWatchRequest *request) override;
    grpc::ServerWriteReactor<v1::PresenceChunk> *Presence(grpc::CallbackServerContext *context,
                                                          const v1::PresenceRequest *request) override;
    grpc::ServerWriteReactor<v1::Calendar> *CalendarList(grpc::CallbackServerContext *context,
                                                         const v1::ListRequest *request) override;
    grpc::ServerWriteReactor<v1::WorkDayKind> *WorkDayList(grpc::CallbackServerContext *context,
                                                           const v1::ListRequest *request) override;
    grpc::ServerWriteReactor<v1::CalendarRange> *CalendarHistory(grpc::CallbackServerContext *context,
                                                                 const v1::MonthRequest *request) override;
    grpc::ServerWriteReactor<v1::ExceptionDay> *ExceptionHistory(grpc::CallbackServerContext *context,
                                                                 const v1::MonthRequest *request) override;
    grpc::ServerUnaryReactor *SetCalendar(grpc::CallbackServerContext *context, const v1::SetCalendarRequest *request,
                                          v1::SetReply *reply) override;
    grpc::ServerUnaryReactor *SetWorkDay(grpc::CallbackServerContext *context, const v1::SetWorkDayRequest *request,
                                         v1::SetReply *reply) override;
    grpc::ServerUnaryReactor *RegisterActivity(grpc::CallbackServerContext *context,
                                               const v1::RegisterActivityRequest *request,
                                               v1::RegisterActivityReply *reply) override;

private:
    // After a change to the employee's presence was stored: tells the streams that see it.
    void announcePresenceChange(const QString &employeeId);
    using Caller = HandlerCore::Caller;

    // One assignment request, whichever kind.
    struct Assignment
    {
        const char *event;
        const char *idKey;
        int id;
        QString employeeId;
        QDate day;
        QString invalidDay; // the refusal when `day` is no real day
    };
    using AssignFunction = Result<qint64> (CalendarStore::*)(const User &, int, const QString &, const QDate &,
                                                              const QDateTime &);

    // Runs `work` on a database worker and ends the call with its status.
    grpc::ServerUnaryReactor *unary(grpc::CallbackServerContext *context, const char *event,
                                    std::function<grpc::Status()> work);
    template<typename Message, typename Item>
    grpc::ServerWriteReactor<Message> *streamList(grpc::CallbackServerContext *context, const char *event,
                                                  Result<QVector<Item>> (OrganisationStore::*list)());
    template<typename Message, typename Item>
    grpc::ServerWriteReactor<Message> *streamMonth(grpc::CallbackServerContext *context, const char *event,
                                                   const v1::MonthRequest *request,
                                                   Result<QVector<Item>> (CalendarStore::*read)(const QString &, int, int));

    grpc::Status login(grpc::CallbackServerContext *context, const v1::LoginRequest &request, v1::LoginReply *reply);
    // Counts a refused login and logs it, once per address and reason in each window.
    void refuseLogin(EventLog::Level level, const QString &peer, const QString &result,
                     std::initializer_list<EventLog::Field> fields);
    grpc::Status logout(grpc::CallbackServerContext *context);
    grpc::Status assign(grpc::CallbackServerContext *context, const grpc::Status &bounded, const Assignment &assignment,
                        AssignFunction write, v1::SetReply *reply);
    // The terminal whose device token the call carries, or the refusal for a caller who has none.
    grpc::Status identifyTerminal(grpc::CallbackServerContext *context, Terminal *terminal);
    grpc::Status registerActivity(grpc::CallbackServerContext *context, const v1::RegisterActivityRequest &request,
                                  v1::RegisterActivityReply *reply);

    std::unique_ptr<DatabasePool> m_ownPool;
    TimerQueue m_timers;
    HandlerCore m_core;
    // Logins wait for a password check, which takes a core and 64 MB for a while; they get
    // workers of their own, one per core, so a wave of logins never starves the panels that
    // are already logged in.
    DatabasePool m_loginPool;
    // Last: destroyed first, so no change heard from the database reaches a stream later.
    PresenceEvents m_presenceEvents;
};

} // namespace vorna::service
