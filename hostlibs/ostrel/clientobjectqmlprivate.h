#pragma once
// The inner working of ClientObjectQml: the session state, the answers owed, and the workers
// that run the blocking gRPC calls. Everything here runs on the GUI thread except the worker
// tasks, which touch only what they captured and talk back through queued events.

#include "answercheck.h"
#include "clientobjectqml.h"
#include "connection.h"
#include "pendinganswers.h"
#include "picturecache.h"
#include "serialworker.h"

#include <QTimer>

#include <grpcpp/support/sync_stream.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace ostrel {

// One row request: how to open its stream and turn its messages into signal arguments.
template <class Reply, class Item>
struct RowCall
{
    void (ClientObjectQml::*begin)();
    void (ClientObjectQml::*end)();
    // Worker thread: starts the stream.
    std::function<std::unique_ptr<grpc::ClientReaderInterface<Reply>>(vorna::v1::CommService::Stub &,
                                                                       grpc::ClientContext *)> open;
    // Worker thread: appends the rows of one message.
    std::function<void(Reply &, std::vector<Item> &)> convert;
    // GUI thread: emits one row.
    std::function<void(ClientObjectQml *, const Item &)> emitRow;
    // Worker thread, optional: what is wrong with a message, empty when nothing is. A fault
    // ends the answer there.
    std::function<QString(const Reply &)> check;
    // Worker thread, optional: runs when the stream has ended.
    std::function<void(const grpc::Status &)> finished;
};

// A row request whose messages are the rows themselves (lists and histories).
template <class Reply>
RowCall<Reply, Reply> messageRows(void (ClientObjectQml::*begin)(), void (ClientObjectQml::*end)(),
                                  decltype(RowCall<Reply, Reply>::open) open,
                                  decltype(RowCall<Reply, Reply>::emitRow) emitRow)
{
    const auto keep = [](Reply &message, std::vector<Reply> &rows) { rows.push_back(std::move(message)); };
    const auto check = [](const Reply &message) { return answerFault(message); };
    return RowCall<Reply, Reply>{begin, end, std::move(open), keep, std::move(emitRow), check, nullptr};
}

using ChangeCall = std::function<grpc::Status(vorna::v1::CommService::Stub &, grpc::ClientContext *)>;

} // namespace ostrel

class ClientObjectQmlPrivate
{
public:
    explicit ClientObjectQmlPrivate(ClientObjectQml *q);
    ~ClientObjectQmlPrivate();

    void connectToService(const QString &url);
    void disconnectFromService();
    void login(const QString &user, const QString &password);
    void presence(const QString &userName, const QDateTime &dateTime);
    void calendarList();
    void workDayList();
    void calendarHistory(const QString &idEmp, int month, int year);
    void exceptionHistory(const QString &idEmp, int month, int year);
    void setCalendar(int calID, const QString &idEmp, const QDateTime &validFrom);
    void setWorkDay(int workDayID, const QString &idEmp, const QDateTime &day);
    QString disconnectReason() const { return m_endReason; }

private:
    enum class State { Idle, Connecting, Connected, LoggedIn };
    enum class EndKind { Explicit, Replaced, Lost };

    // Runs `f` on the GUI thread from the event loop, after what is already queued.
    template <class F>
    void post(F &&f) const;

    void probeFinished(quint64 attempt, bool reached, const QString &error);
    void loginFinished(const vorna::v1::LoginReply &reply);
    void startSessionWatch(int heartbeatSeconds);
    void checkLiveness();
    void watchEnded(quint64 generation, const QString &reason);
    void announcePresenceChange(quint64 generation);
    void endSession(EndKind kind, const QString &reason);
    void logout(const std::shared_ptr<ostrel::Connection> &connection, const std::string &token);

    template <class Reply, class Item>
    void requestRows(ostrel::SerialWorker &worker, ostrel::RowCall<Reply, Item> call);
    template <class Item>
    void postRows(quint64 id, std::vector<Item> &rows,
                  const std::function<void(ClientObjectQml *, const Item &)> &emitRow);
    void requestChange(ostrel::SerialWorker &worker, void (ClientObjectQml::*response)(bool, QString),
                       const QDateTime &day, ostrel::ChangeCall call);

    ClientObjectQml *const q;
    State m_state = State::Idle;
    std::shared_ptr<ostrel::Connection> m_connection;
    std::string m_token;
    quint64 m_attempt = 0;
    quint64 m_generation = 0;
    QString m_endReason; // for the user: why the last session was lost
    ostrel::PendingAnswers m_answers;
    std::shared_ptr<ostrel::PictureCache> m_pictures;

    // Liveness of the session stream: the watch worker stamps every event; the GUI thread
    // checks the stamp when the timer fires (a late timer then cannot end a live session).
    QTimer m_livenessTimer;
    int m_livenessLimitMs = 0;
    std::shared_ptr<std::atomic<qint64>> m_lastSessionEvent;

    // Last members: destroyed first, so their threads are joined while the rest still stands.
    ostrel::SerialWorker m_sessionWorker{"ostrel-session"};
    ostrel::SerialWorker m_logoutWorker{"ostrel-logout"};
    ostrel::SerialWorker m_watchWorker{"ostrel-watch"};
    ostrel::SerialWorker m_presenceWorker{"ostrel-presence"};
    ostrel::SerialWorker m_calendarWorker{"ostrel-calendars"};
    ostrel::SerialWorker m_workDayWorker{"ostrel-workdays"};
    ostrel::SerialWorker m_calHistWorker{"ostrel-calhist"};
    ostrel::SerialWorker m_excHistWorker{"ostrel-exchist"};
    ostrel::SerialWorker m_changeWorker{"ostrel-change"};
};
