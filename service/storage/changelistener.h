#pragma once
// Hears the presence changes that other processes on the database announce, on a thread of
// its own that stops at once when the listener is destroyed:
// - on PostgreSQL, the NOTIFY of every service instance, on a connection of its own that is
//   opened again when it is lost;
// - on SQLite, the rows that another process (an import) adds to presence_changes, read a few
//   times a second.

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
    PostgresChangeListener(const QString &connectionString, HeardChange heard, LostChanges lost);
    ~PostgresChangeListener() override;

private:
    void run();
    // Listens on one connection until it fails or the listener stops; false when it failed.
    bool listenOnce(QString *problem);

    const QByteArray m_connectionString;
    const HeardChange m_heard;
    const LostChanges m_lost;
    ListenerStop m_stop;
    std::thread m_thread;
};

class JournalChangeListener final : public PresenceChangeListener
{
public:
    // Hears the rows added after the newest one at the time of the call.
    JournalChangeListener(SqlExecutor &sql, HeardChange heard, LostChanges lost);
    ~JournalChangeListener() override;

private:
    void run();
    // Reads the rows after m_lastSeen and tells of their departments; false when it failed.
    bool readNewRows(QString *problem);

    SqlExecutor &m_sql;
    const HeardChange m_heard;
    const LostChanges m_lost;
    qint64 m_lastSeen = -1; // -1: the newest row at the start is not known yet
    ListenerStop m_stop;
    std::thread m_thread;
};

// Notes, in the writer's transaction, that presence in these departments changed, for the
// other processes on the database: NOTIFY on PostgreSQL (sent when the transaction commits),
// rows of presence_changes on SQLite (read by JournalChangeListener).
StorageError notePresenceChanges(Transaction &tx, const QSet<qint64> &departmentIds);

} // namespace vorna::service
