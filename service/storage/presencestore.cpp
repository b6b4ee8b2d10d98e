#include "storage/presencestore.h"

#include "storage/changelistener.h"
#include "storage/civiltime.h"
#include "storage/employeekey.h"
#include "storage/organisationstore.h"
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

namespace {

// Claims the request id for this transaction; false when the terminal sent it before. On
// PostgreSQL a concurrent claim of the same id waits here until the first one commits (and
// then finds it taken) or rolls back (and then takes it).
Result<bool> claimRequest(Transaction &tx, qint64 terminalId, const QString &requestId, qint64 nowUtc,
                          const QString &doing)
{
    const Result<int> claimed =
        tx.change(QStringLiteral("INSERT INTO terminal_requests (terminal_id, request_id, received_utc) VALUES (?, ?, ?)"
                                 " ON CONFLICT (terminal_id, request_id) DO NOTHING"),
                  {terminalId, requestId, nowUtc}, doing);
    if (!claimed)
        return claimed.error();
    return *claimed == 1;
}

Result<qint64> firstRegistrationOf(Transaction &tx, qint64 terminalId, const QString &requestId, const QString &doing)
{
    return tx.row<qint64>(QStringLiteral("SELECT registration_id FROM terminal_requests"
                                         " WHERE terminal_id = ? AND request_id = ?"),
                          {terminalId, requestId}, [](const QSqlQuery &q) { return q.value(0).toLongLong(); }, doing,
                          {StorageError::Internal,
                           QStringLiteral("The registration with the request id %1 vanished while it was read.")
                               .arg(quoted(requestId))});
}

Result<qint64> insertRegistration(Transaction &tx, const Registration &registration, const QString &doing)
{
    const Result<EmployeeKey> employee = lookUpEmployee(tx, registration.employeeId);
    if (!employee)
        return employee.error();
    const Result<qint64> id = tx.row<qint64>(
        QStringLiteral("INSERT INTO registrations (employee_id, at, activity_kind_id, source) VALUES (?, ?, ?, ?)"
                       " RETURNING id"),
        {employee->id, civil::seconds(registration.at), registration.activityKindId, registration.source},
        [](const QSqlQuery &q) { return q.value(0).toLongLong(); }, doing,
        {StorageError::Internal, QStringLiteral("The database gave no number for the new registration.")});
    if (!id)
        return id;
    const StorageError latest = OrganisationStore::refreshLatestRegistrations(tx, {employee->id}, doing);
    if (!latest.ok())
        return latest;
    return id;
}

} // namespace

Result<PresenceStore::TerminalRegistration> PresenceStore::registerFromTerminal(qint64 terminalId,
                                                                                const QString &requestId,
                                                                                const Registration &registration,
                                                                                const QDateTime &nowUtc)
{
    if (!registration.at.isValid())
        return invalid(QStringLiteral("A registration of the employee %1 has no valid date and time.")
                           .arg(quoted(registration.employeeId)));
    const QString doing = QStringLiteral("add a registration of the employee %1").arg(quoted(registration.employeeId));
    const qint64 now = nowUtc.toSecsSinceEpoch();
    TerminalRegistration stored;
    const StorageError error = m_sql.write(doing, [&](Transaction &tx) -> StorageError {
        stored = TerminalRegistration();
        if (!requestId.isEmpty()) {
            const Result<int> pruned = tx.change(
                QStringLiteral("DELETE FROM terminal_requests WHERE terminal_id = ? AND received_utc < ?"),
                {terminalId, now - RequestIdKeptSeconds}, doing);
            if (!pruned)
                return pruned.error();
            const Result<bool> claimed = claimRequest(tx, terminalId, requestId, now, doing);
            if (!claimed)
                return claimed.error();
            if (!*claimed) {
                const Result<qint64> first = firstRegistrationOf(tx, terminalId, requestId, doing);
                stored = {first.value(), true};
                return first.error();
            }
        }
        const Result<qint64> id = insertRegistration(tx, registration, doing);
        if (!id)
            return id.error();
        stored.registrationId = *id;
        if (requestId.isEmpty())
            return StorageError::none();
        return tx.change(QStringLiteral("UPDATE terminal_requests SET registration_id = ?"
                                        " WHERE terminal_id = ? AND request_id = ?"),
                         {*id, terminalId, requestId}, doing)
            .error();
    });
    if (!error.ok())
        return error;
    return stored;
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
