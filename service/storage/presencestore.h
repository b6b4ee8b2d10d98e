#pragma once
// The questions about who is where: presence at a moment, whole or page by page, who may see
// whom, and the announcements of presence changes between service instances.

#include "storage/sqlexecutor.h"
#include "storage/storage.h"

#include <QSet>

#include <memory>

namespace vorna::service {

class PresenceStore
{
public:
    explicit PresenceStore(SqlExecutor &sql) : m_sql(sql) {}

    // Presence at moment T for the employees `user` may see, in the order last name, first
    // name, id. One call of `sink` per employee; employees without a registration at or before
    // T come with an invalid lastActivity and the "no registration" status.
    StorageError presence(const User &user, const PresenceQuery &query,
                          const std::function<void(const PresenceRow &)> &sink);
    // The same answer in pages: the rows after `cursor`, in that order, bounded by the query's
    // page limits (at least one row unless none follow); `cursor` moves on past them. Each
    // call is one short database visit.
    Result<QVector<PresenceRow>> presencePage(const User &user, const PresenceQuery &query, PresenceCursor &cursor);
    // The plan the engine picks for the presence query, one line per row of the plan.
    Result<QStringList> explainPresence(const User &user, const QDateTime &at);
    // May `user` see (and, as a manager, change) this employee? NotFound for an unknown one.
    Result<bool> employeeVisibleTo(const User &user, const QString &employeeId);

    // Whether several service instances may share this database (PostgreSQL), so that changes
    // must be announced through it; on SQLite one process writes and hears every change.
    bool sharesChanges() const;
    // Tells every instance that listens that someone's presence in `departmentId` changed.
    // Carries the department's number only, no personal data.
    StorageError announcePresenceChange(qint64 departmentId);
    // Calls `heard` with the department of every change announced from now on, on a thread of
    // its own, until the listener is destroyed: where sharesChanges(), by any instance (this
    // one included); on SQLite, by other processes through announcePresenceChanges(). A lost
    // connection is opened again; `lost` is called once when listening fails, with what
    // happened, and `resumed` once it listens again, so the caller knows that what was
    // announced in the gap went unheard.
    std::unique_ptr<PresenceChangeListener> listenForPresenceChanges(
        std::function<void(qint64 departmentId)> heard, std::function<void(const QString &problem)> lost,
        std::function<void()> resumed);
    // For a process other than the service (an import): announces, when `tx` commits, that
    // presence in these departments changed, to every service on the database.
    static StorageError announcePresenceChanges(Transaction &tx, const QSet<qint64> &departmentIds);

private:
    SqlExecutor &m_sql;
};

} // namespace vorna::service
