#pragma once
// The RPC handlers. They stay thin: they check the caller and the request, ask the storage,
// and translate its answers into messages. Sessions, throttling and limits live in their own
// classes, handed in as references.

#include "authenticator.h"
#include "commservice.grpc.pb.h"
#include "serverconfig.h"
#include "sessionhub.h"
#include "sessionmanager.h"
#include "storage.h"
#include "streamlimiter.h"

namespace vorna::service {

struct ServiceParts
{
    Storage &storage;
    SessionManager &sessions;
    Authenticator &authenticator;
    SessionHub &hub;
    StreamLimiter &streams;
    const ServerConfig &config;
};

class CommServiceImpl final : public v1::CommService::Service
{
public:
    explicit CommServiceImpl(const ServiceParts &parts);

    grpc::Status Login(grpc::ServerContext *context, const v1::LoginRequest *request,
                       v1::LoginReply *reply) override;
    grpc::Status Logout(grpc::ServerContext *context, const v1::LogoutRequest *request,
                        v1::LogoutReply *reply) override;
    grpc::Status WatchSession(grpc::ServerContext *context, const v1::SessionWatchRequest *request,
                              grpc::ServerWriter<v1::SessionEvent> *writer) override;
    grpc::Status Presence(grpc::ServerContext *context, const v1::PresenceRequest *request,
                          grpc::ServerWriter<v1::PresenceChunk> *writer) override;
    grpc::Status CalendarList(grpc::ServerContext *context, const v1::ListRequest *request,
                              grpc::ServerWriter<v1::Calendar> *writer) override;
    grpc::Status WorkDayList(grpc::ServerContext *context, const v1::ListRequest *request,
                             grpc::ServerWriter<v1::WorkDayKind> *writer) override;
    grpc::Status CalendarHistory(grpc::ServerContext *context, const v1::MonthRequest *request,
                                 grpc::ServerWriter<v1::CalendarRange> *writer) override;
    grpc::Status ExceptionHistory(grpc::ServerContext *context, const v1::MonthRequest *request,
                                  grpc::ServerWriter<v1::ExceptionDay> *writer) override;
    grpc::Status SetCalendar(grpc::ServerContext *context, const v1::SetCalendarRequest *request,
                             v1::SetReply *reply) override;
    grpc::Status SetWorkDay(grpc::ServerContext *context, const v1::SetWorkDayRequest *request,
                            v1::SetReply *reply) override;
    grpc::Status RegisterActivity(grpc::ServerContext *context, const v1::RegisterActivityRequest *request,
                                  v1::RegisterActivityReply *reply) override;

private:
    // The session behind a call, and for streams the stream place it holds.
    struct Caller
    {
        SessionManager::Lookup session;
        StreamLimiter::Slot stream;
        const User &user() const { return session.user; }
    };

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
    using AssignFunction = StorageError (Storage::*)(const User &, int, const QString &, const QDate &,
                                                     const QDateTime &, qint64 *);

    template<typename Message, typename Item>
    grpc::Status streamList(grpc::ServerContext *context, const char *event, grpc::ServerWriter<Message> *writer,
                            QVector<Item> (Storage::*list)(StorageError *));
    template<typename Message, typename Item>
    grpc::Status streamMonth(grpc::ServerContext *context, const char *event, const v1::MonthRequest &request,
                             grpc::ServerWriter<Message> *writer,
                             StorageError (Storage::*read)(const QString &, int, int, QVector<Item> *));
    grpc::Status assign(grpc::ServerContext *context, const Assignment &assignment, AssignFunction write,
                        v1::SetReply *reply);

    grpc::Status authenticate(grpc::ServerContext *context, const char *event, Caller *caller);
    grpc::Status admitStream(grpc::ServerContext *context, const char *event, Caller *caller);
    grpc::Status checkEmployee(const User &user, const QString &employeeId);
    grpc::Status requireEmployee(const QString &employeeId);
    static grpc::Status notFoundEmployee(const QString &employeeId);
    grpc::Status requireActivityKind(qint64 kindId);
    grpc::Status checkMonth(const v1::MonthRequest &request);
    QString sessionEndReason(const QByteArray &tokenHash);

    Storage &m_storage;
    SessionManager &m_sessions;
    Authenticator &m_authenticator;
    SessionHub &m_hub;
    StreamLimiter &m_streams;
    const ServerConfig &m_config;
};

} // namespace vorna::service
