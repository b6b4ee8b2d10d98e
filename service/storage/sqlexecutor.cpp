#include "storage/sqlexecutor.h"

#include <atomic>
#include <chrono>
#include <utility>

namespace vorna::service {

namespace {

std::atomic<void (*)(double)> g_statementObserver{nullptr};
std::atomic<void (*)()> g_failureObserver{nullptr};
thread_local DatabaseReach t_reach;

void noteReach(DatabaseReach::State state, const QString &why = QString())
{
    t_reach.state = state;
    t_reach.why = why;
}

QString reasonOf(const QSqlError &error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

} // namespace

DatabaseReach takeDatabaseReach()
{
    return std::exchange(t_reach, DatabaseReach());
}

void setSqlObserver(const SqlObserver &observer)
{
    g_statementObserver = observer.statement;
    g_failureObserver = observer.failure;
}

QVariant bindable(const QVariant &value)
{
    if (value.type() == QVariant::String && value.isNull())
        return QVariant(QString(QLatin1String("")));
    return value;
}

QString placeholders(int count)
{
    QStringList marks;
    marks.reserve(count);
    for (int i = 0; i < count; ++i)
        marks << QStringLiteral("?");
    return marks.join(QLatin1Char(','));
}

QString quoted(const QString &name)
{
    return QLatin1Char('\'') + name + QLatin1Char('\'');
}

StorageError invalid(const QString &sentence)
{
    return {StorageError::InvalidArgument, sentence};
}

StorageError changedOrNotFound(const Result<int> &changed, const StorageError &notFound)
{
    if (!changed.ok())
        return changed.error();
    return *changed > 0 ? StorageError::none() : notFound;
}

// ---- Transaction ------------------------------------------------------------------------------

Transaction::Transaction(SqlExecutor &sql, QSqlDatabase db, bool writes)
    : m_sql(sql), m_db(std::move(db)), m_writes(writes)
{
}

const SqlDialect &Transaction::dialect() const
{
    return m_sql.dialect();
}

StorageError Transaction::exec(QSqlQuery &query, const QString &sql, const QVariantList &values, const QString &doing)
{
    if (m_rolledBack)
        return alreadyFailed(doing);
    query.setForwardOnly(dialect().forwardOnly);
    // PostgreSQL cannot prepare DDL, and a statement without parameters gains nothing from it.
    if (values.isEmpty()) {
        if (!timed([&] { return query.exec(sql); }))
            return failure(query.lastError(), doing);
        noteStatementDone();
        return StorageError::none();
    }
    if (!query.prepare(sql))
        return failure(query.lastError(), doing);
    for (const QVariant &value : values)
        query.addBindValue(bindable(value));
    if (!timed([&] { return query.exec(); }))
        return failure(query.lastError(), doing);
    noteStatementDone();
    return StorageError::none();
}

StorageError Transaction::alreadyFailed(const QString &doing) const
{
    return {StorageError::Internal, QStringLiteral("Could not %1 in the %2: the transaction it belongs to failed already.")
                                        .arg(doing, dialect().label)};
}

// Times one statement for the observer, if there is one.
bool Transaction::timed(const std::function<bool()> &exec)
{
    const auto observer = g_statementObserver.load();
    if (!observer)
        return exec();
    const auto started = std::chrono::steady_clock::now();
    const bool done = exec();
    observer(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return done;
}

void Transaction::noteStatementDone()
{
    m_anyStatementDone = true;
    noteReach(DatabaseReach::Reached);
}

Result<int> Transaction::change(const QString &sql, const QVariantList &values, const QString &doing)
{
    QSqlQuery query(m_db);
    const StorageError error = exec(query, sql, values, doing);
    if (!error.ok())
        return error;
    return query.numRowsAffected();
}

StorageError Transaction::failure(const QSqlError &error, const QString &doing)
{
    return m_sql.failure(this, error, doing);
}

// ---- SqlExecutor ------------------------------------------------------------------------------

SqlExecutor::SqlExecutor(const SqlDialect &dialect)
    : m_dialect(dialect), m_pool(m_dialect)
{
}

// A server restart leaves every open connection dead, which shows only when the next
// statement fails. Work that met a dead connection before doing anything runs once more, on
// a new connection, so the restart costs no caller an error.
StorageError SqlExecutor::runWithReconnect(bool writes, const std::function<StorageError(Transaction &)> &run)
{
    StorageError result;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QSqlDatabase db;
        result = m_pool.connection(&db);
        if (result.code == StorageError::Unavailable)
            noteReach(DatabaseReach::Unreachable, result.message);
        if (!result.ok())
            return result;
        Transaction tx(*this, db, writes);
        result = run(tx);
        if (!tx.m_lostBeforeAnyStatement)
            return result;
    }
    return result;
}

StorageError SqlExecutor::read(const Work &work)
{
    return runWithReconnect(false, work);
}

StorageError SqlExecutor::write(const QString &doing, const Work &work, const QString &begin)
{
    return runWithReconnect(true, [&](Transaction &tx) {
        QSqlQuery control(tx.db());
        if (!control.exec(begin.isEmpty() ? m_dialect.beginWrite : begin))
            return failure(&tx, control.lastError(), doing);
        // From here on the work may have written; only a dead connection at BEGIN is retried.
        tx.noteStatementDone();
        return commitOrRollBack(tx, control, work(tx), doing);
    });
}

StorageError SqlExecutor::commitOrRollBack(Transaction &tx, QSqlQuery &control, StorageError result,
                                           const QString &doing)
{
    // Work that went on after a statement failed must not commit what is left of it.
    if (result.ok() && tx.m_rolledBack)
        result = {StorageError::Internal,
                  QStringLiteral("Could not %1 in the %2: a part of it failed, so none of it was kept.")
                      .arg(doing, m_dialect.label)};
    if (result.ok() && !control.exec(QStringLiteral("COMMIT")))
        result = failure(&tx, control.lastError(), doing);
    if (!result.ok() && !tx.m_rolledBack)
        control.exec(QStringLiteral("ROLLBACK"));
    return result;
}

Result<int> SqlExecutor::writeOne(const QString &doing, const QString &sql, const QVariantList &values)
{
    int changed = 0;
    const StorageError error = write(doing, [&](Transaction &tx) {
        const Result<int> rows = tx.change(sql, values, doing);
        changed = rows.value();
        return rows.error();
    });
    if (!error.ok())
        return error;
    return changed;
}

StorageError SqlExecutor::failure(Transaction *tx, const QSqlError &error, const QString &doing)
{
    // After an error PostgreSQL refuses every statement until the transaction ends, even the
    // driver's clean-up of its prepared statements when the failed work's queries go away. So
    // the transaction ends here, at the first error.
    if (tx && tx->m_writes && !tx->m_rolledBack && m_dialect.engine == SqlDialect::Engine::PostgreSQL) {
        QSqlQuery(tx->m_db).exec(QStringLiteral("ROLLBACK"));
        tx->m_rolledBack = true;
    }
    if (const auto observer = g_failureObserver.load())
        observer();
    // The driver may find the server gone outside a statement (freeing a prepared statement as
    // its query goes away); from then on Qt refuses every statement with an empty error.
    const bool closedUnderUs = tx && !tx->m_db.isOpen() && error.type() == QSqlError::NoError;
    const QString reason = closedUnderUs ? QStringLiteral("the connection was closed") : reasonOf(error);
    const QString what = QStringLiteral("Could not %1 in the %2 (%3).").arg(doing, m_dialect.label, reason);
    switch (closedUnderUs ? SqlFailure::ConnectionLost : classifyFailure(m_dialect, error)) {
    case SqlFailure::Duplicate:
        return {StorageError::AlreadyExists, what + QStringLiteral(" A record with that name already exists.")};
    case SqlFailure::Busy:
        return {StorageError::Unavailable, what + QStringLiteral(" The database is busy; try again in a moment.")};
    case SqlFailure::ConnectionLost: {
        m_pool.discard();
        if (tx && !tx->m_anyStatementDone)
            tx->m_lostBeforeAnyStatement = true;
        const QString lost = what + QStringLiteral(" The database cannot be reached; check that it is running.");
        noteReach(DatabaseReach::Unreachable, lost);
        return {StorageError::Unavailable, lost};
    }
    case SqlFailure::DiskFull:
        return {StorageError::Unavailable,
                what + QStringLiteral(" The disk that holds the database is full; free some space and try again.")};
    case SqlFailure::NotADatabase:
    case SqlFailure::Other:
        break;
    }
    return {StorageError::Internal, what + QStringLiteral(" Check the database and the service log.")};
}

} // namespace vorna::service
