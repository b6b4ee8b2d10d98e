#pragma once
// An in-process CommService on 127.0.0.1 whose answers a test sets up beforehand, and which
// records what the client sent. It lets the client be tested for order, errors and lost
// connections without the real service and its database.

#include "commservice.grpc.pb.h"

#include <grpcpp/server.h>

#include <QString>

#include <atomic>
#include <condition_variable>
#include <map>
#include <set>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FakeCommService final : public vorna::v1::CommService::Service
{
public:
    // What the next calls answer. Set before the calls; read under the mutex.
    struct Script
    {
        std::map<std::string, std::string> passwords;    // user -> password
        std::string sessionToken;                        // handed out instead of "token-N" when set
        int heartbeatSeconds = 10;
        int heartbeatIntervalMs = 200;                   // how often heartbeats really go out
        bool silentWatch = false;                        // watch stream sends nothing
        std::vector<vorna::v1::PresenceRow> presenceRows;
        int rowsPerChunk = 200;
        int presenceFailAfterChunks = -1;                // end with an error after this many
        grpc::Status presenceFailure{grpc::StatusCode::INTERNAL, "The presence query failed."};
        int presenceStallAfterChunks = -1;               // block after this many until cancelled
        std::vector<vorna::v1::Calendar> calendars;
        std::vector<vorna::v1::WorkDayKind> workDayKinds;
        std::vector<vorna::v1::CalendarRange> calendarRanges;
        std::vector<vorna::v1::ExceptionDay> exceptionDays;
        grpc::Status setStatus = grpc::Status::OK;
    };

    FakeCommService();
    ~FakeCommService() override;

    // Listens on 127.0.0.1 with a free port. False when the server cannot start.
    bool start();
    // Stops at once: open calls and streams are cancelled.
    void stop();
    int port() const { return m_port; }
    QString url() const;

    Script &script() { return m_script; }
    // Ends every open session stream with ENDING and `reason`.
    void endSessions(const std::string &reason);
    // Every open session stream sends PRESENCE_CHANGED with its next heartbeat.
    void announcePresenceChange();

    // What the client sent.
    int loginCount() const { return m_loginCount; }
    int logoutCount() const { return m_logoutCount; }
    int openWatches() const { return m_openWatches; }
    std::vector<std::string> sessionTokensSeen() { return snapshot(m_tokensSeen); }
    vorna::v1::PresenceRequest lastPresenceRequest() { return snapshot(m_lastPresence); }
    vorna::v1::MonthRequest lastMonthRequest() { return snapshot(m_lastMonth); }
    vorna::v1::SetCalendarRequest lastSetCalendar() { return snapshot(m_lastSetCalendar); }
    vorna::v1::SetWorkDayRequest lastSetWorkDay() { return snapshot(m_lastSetWorkDay); }

    grpc::Status Login(grpc::ServerContext *context, const vorna::v1::LoginRequest *request,
                       vorna::v1::LoginReply *reply) override;
    grpc::Status Logout(grpc::ServerContext *context, const vorna::v1::LogoutRequest *request,
                        vorna::v1::LogoutReply *reply) override;
    grpc::Status WatchSession(grpc::ServerContext *context, const vorna::v1::SessionWatchRequest *request,
                              grpc::ServerWriter<vorna::v1::SessionEvent> *writer) override;
    grpc::Status Presence(grpc::ServerContext *context, const vorna::v1::PresenceRequest *request,
                          grpc::ServerWriter<vorna::v1::PresenceChunk> *writer) override;
    grpc::Status CalendarList(grpc::ServerContext *context, const vorna::v1::ListRequest *request,
                              grpc::ServerWriter<vorna::v1::Calendar> *writer) override;
    grpc::Status WorkDayList(grpc::ServerContext *context, const vorna::v1::ListRequest *request,
                             grpc::ServerWriter<vorna::v1::WorkDayKind> *writer) override;
    grpc::Status CalendarHistory(grpc::ServerContext *context, const vorna::v1::MonthRequest *request,
                                 grpc::ServerWriter<vorna::v1::CalendarRange> *writer) override;
    grpc::Status ExceptionHistory(grpc::ServerContext *context, const vorna::v1::MonthRequest *request,
                                  grpc::ServerWriter<vorna::v1::ExceptionDay> *writer) override;
    grpc::Status SetCalendar(grpc::ServerContext *context, const vorna::v1::SetCalendarRequest *request,
                             vorna::v1::SetReply *reply) override;
    grpc::Status SetWorkDay(grpc::ServerContext *context, const vorna::v1::SetWorkDayRequest *request,
                            vorna::v1::SetReply *reply) override;

private:
    // A copy of `member`, taken under the mutex.
    template <class T>
    T snapshot(const T &member)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return member;
    }
    // UNAUTHENTICATED unless the call carries a token this service handed out.
    grpc::Status checkSession(grpc::ServerContext *context);
    // Waits up to `ms` or until the call is cancelled or the service stops; false then.
    bool pause(grpc::ServerContext *context, int ms);
    template <class Message>
    grpc::Status writeAll(grpc::ServerContext *context, const std::vector<Message> &messages,
                          grpc::ServerWriter<Message> *writer);

    Script m_script;
    std::unique_ptr<grpc::Server> m_server;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::string m_endReason;
    int m_sessionEpoch = 0;
    int m_presenceEpoch = 0;
    std::vector<std::string> m_tokens;
    std::vector<std::string> m_tokensSeen;
    vorna::v1::PresenceRequest m_lastPresence;
    vorna::v1::MonthRequest m_lastMonth;
    vorna::v1::SetCalendarRequest m_lastSetCalendar;
    vorna::v1::SetWorkDayRequest m_lastSetWorkDay;
    std::atomic<int> m_loginCount{0};
    std::atomic<int> m_logoutCount{0};
    std::atomic<int> m_openWatches{0};
};

// A presence row with a picture of `pictureBytes` bytes whose digest is derived from `id`.
vorna::v1::PresenceRow fakePresenceRow(int index, int pictureBytes);
