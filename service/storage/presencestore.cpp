#include "storage/presencestore.h"

#include "storage/changelistener.h"
#include "storage/employeekey.h"
#include "storage/presencereader.h"

namespace vorna::service {

StorageError PresenceStore::presence(const User &user, const PresenceQuery &query,
                                     const std::function<void(const PresenceRow &)> &sink)
{
    return PresenceReader(m_sql).read(user, query, sink);
}

Result<QVector<PresenceRow>> PresenceStore::presencePage(const User &user, const PresenceQuery &query,
                                                         PresenceCursor &cursor)
{
    QVector<PresenceRow> rows;
    const StorageError error = PresenceReader(m_sql).readPage(user, query, &cursor, &rows);
    if (!error.ok())
        return error;
    return rows;
}

Result<QStringList> PresenceStore::explainPresence(const User &user, const QDateTime &at)
{
    QStringList plan;
    const StorageError error = PresenceReader(m_sql).explain(user, at, &plan);
    if (!error.ok())
        return error;
    return plan;
}

Result<bool> PresenceStore::employeeVisibleTo(const User &user, const QString &employeeId)
{
    return m_sql.fetch<bool>([&](Transaction &tx) -> Result<bool> {
        const Result<EmployeeKey> key = lookUpEmployee(tx, employeeId);
        if (!key)
            return key.error();
        return user.allDepartments || user.departmentIds.contains(key->departmentId);
    });
}

bool PresenceStore::sharesChanges() const
{
    return m_sql.dialect().engine == SqlDialect::Engine::PostgreSQL;
}

StorageError PresenceStore::announcePresenceChange(qint64 departmentId)
{
    if (!sharesChanges())
        return StorageError::none();
    return m_sql.read([&](Transaction &tx) {
        QSqlQuery query(tx.db());
        return tx.exec(query, QStringLiteral("SELECT pg_notify('%1', ?)").arg(QLatin1String(PresenceChangeChannel)),
                       {QString::number(departmentId)}, QStringLiteral("announce a presence change"));
    });
}

std::unique_ptr<PresenceChangeListener> PresenceStore::listenForPresenceChanges(
    std::function<void(qint64 departmentId)> heard, std::function<void(const QString &problem)> lost,
    std::function<void()> resumed)
{
    if (!sharesChanges())
        return std::make_unique<JournalChangeListener>(m_sql, std::move(heard), std::move(lost), std::move(resumed));
    return std::make_unique<PostgresChangeListener>(m_sql.dialect().connectionString, std::move(heard), std::move(lost),
                                                    std::move(resumed));
}

StorageError PresenceStore::announcePresenceChanges(Transaction &tx, const QSet<qint64> &departmentIds)
{
    return notePresenceChanges(tx, departmentIds);
}

} // namespace vorna::service
