#pragma once
// Hears the presence changes that other processes on the database announce, on a thread of
// its own that stops at once when the listener is destroyed:
// - on PostgreSQL, the NOTIFY of every service instance, on a connection of its own that is
//   opened again when it is lost;
// - on SQLite, the rows that another process (an import) adds to presence_changes, read a few
//   times a second.
// A listener tells its owner once when listening fails (`lost`) and once when it listens again
// after that (`resumed`): whatever was announced in between went unheard.

#include "storage/sqlexecutor.h"
#include "storage/storage.h"

#include <QString>

#include <atomic>
#include <functional>
#include <thread>

namespace vorna::service {

// The channel that announcements travel on; the payload is the department's number.
extern const char *const PresenceChangeChannel;

using HeardChange = std::function<void(qint64 departmentId)>;
using LostChanges = std::function<void(const QString &problem)>;
using ResumedChanges = std::function<void()>;

// The waits between attempts to listen again. The first ones are short, so that the end of a
// database's failover or restart (a matter of seconds) is followed within half a second; an
// outage that goes on waits longer and longer, so a database away for long is not pestered.
// Starts over from the short waits once the listener listens again.
class ReconnectDelay
{
public:
    static constexpr int FirstMs = 500;
    // About 20 s of outage at FirstMs, enough for a failover, before the waits grow.
    static constexpr int ShortAttempts = 40;
    static constexpr int LastMs = 30000;

    // The wait before the next attempt of this outage.
    int nextMs();
    // Listening again: the next outage starts with the short waits.
    void reset() { m_attempts = 0; }

private:
    int m_attempts = 0;
};

// A listener's account of its outages: it tells of each outage once as it begins (`lost`) and
// once when listening is back (`resumed`), and picks the waits between the attempts, short again
// after every success.
class ListeningOutages
{
public:
    ListeningOutages(LostChanges lost, ResumedChanges resumed);
    // Listening works, maybe again.
    void listening();
    // An attempt to listen failed; returns how long to wait before the next one.
    int failed(const QString &problem);

private:
    const LostChanges m_lost;
    const ResumedChanges m_resumed;
    ReconnectDelay m_delay;
    bool m_inOutage = false;
};

// The listening thread's stop: a flag, and a pipe that wakes a thread waiting in poll().
class ListenerStop
{
public:
    ListenerStop();
    ~ListenerStop();
    void stop();
    bool stopping() const { return m_stopping; }
    int wakeDescriptor() const { return m_pipe[0]; }
    // Waits up to `ms` or until stopped; false once stopped.
    bool pause(int ms);

private:
    int m_pipe[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
};

class PostgresChangeListener final : public PresenceChangeListener
{
public:
    PostgresChangeListener(const QString &connectionString, HeardChange heard, LostChanges lost,
                           ResumedChanges resumed);
    ~PostgresChangeListener() override;

private:
    void run();
    // Listens on one connection until it fails or the listener stops; false when it failed.
    bool listenOnce(QString *problem);

    const QByteArray m_connectionString;
    const HeardChange m_heard;
    ListeningOutages m_outages; // used by the listening thread only, as is the notice below
    // The server's last notice on the listening connection, such as why it ends the connection.
    QByteArray m_serverNotice;
    ListenerStop m_stop;
    std::thread m_thread;
};

class JournalChangeListener final : public PresenceChangeListener
{
public:
    // Hears the rows added after the newest one at the time of the call.
    JournalChangeListener(SqlExecutor &sql, HeardChange heard, LostChanges lost, ResumedChanges resumed);
    ~JournalChangeListener() override;

private:
    void run();
    // Reads the rows after m_lastSeen and tells of their departments; false when it failed.
    bool readNewRows(QString *problem);

    SqlExecutor &m_sql;
    const HeardChange m_heard;
    ListeningOutages m_outages; // used by the listening thread only
    qint64 m_lastSeen = -1; // -1: the newest row at the start is not known yet
    ListenerStop m_stop;
    std::thread m_thread;
};

// Notes, in the writer's transaction, that presence in these departments changed, for the
// other processes on the database: NOTIFY on PostgreSQL (sent when the transaction commits),
// rows of presence_changes on SQLite (read by JournalChangeListener), pruning the rows older
// than an hour.
StorageError notePresenceChanges(Transaction &tx, const QSet<qint64> &departmentIds);

} // namespace vorna::service
