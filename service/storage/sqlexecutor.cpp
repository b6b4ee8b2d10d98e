#include "sqlexecutor.h"

#include <atomic>
#include <chrono>

namespace vorna::service {

namespace {

// The executor whose write transaction is open on this thread, if any: failure() ends it on
// PostgreSQL, and writes of the same executor join it.
thread_local const SqlExecutor *t_writer = nullptr;
thread_local bool t_rolledBack = false;

// One run of a piece of work: whether a statement of it succeeded yet, and whether the
// connection was found dead before one did. Such a run did nothing, so it may run again.
struct Attempt
{
    bool anyStatementDone = false;
    bool lostBeforeAnyStatement = false;
};
thread_local Attempt *t_attempt = nullptr;

std::atomic<void (*)(double)> g_statementObserver{nullptr};
std::atomic<void (*)()> g_failureObserver{nullptr};

// Times one statement for the observer, if there is one.
bool observedExec(const std::function<bool()> &exec)
{
    const auto observer = g_statementObserver.load();
    if (!observer)
        return exec();
    const auto started = std::chrono::steady_clock::now();
    const bool done = exec();
    observer(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    return done;
}

// Marks the current run for the duration of a scope; runs nest (a read inside a read).
class AttemptScope
{
public:
    AttemptScope() : m_outer(t_attempt) { t_attempt = &m_attempt; }
    ~AttemptScope() { t_attempt = m_outer; }
    AttemptScope(const AttemptScope &) = delete;
    AttemptScope &operator=(const AttemptScope &) = delete;

    bool mayRunAgain() const { return m_attempt.lostBeforeAnyStatement; }

private:
    Attempt m_attempt;
    Attempt *m_outer;
};

QString reasonOf(const QSqlError &error)
{
    const QString text = error.databaseText().trimmed();
    return text.isEmpty() ? error.text().trimmed() : text;
}

} // namespace

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

SqlExecutor::SqlExecutor(const SqlDialect &dialect)
    : m_dialect(dialect), m_pool(m_dialect)
{
}

// A server restart leaves every open connection dead, which shows only when the next
// statement fails. Work that met a dead connection before doing anything runs once more, on
// a new connection, so the restart costs no caller an error.
StorageError SqlExecutor::runWithReconnect(const std::function<StorageError()> &run)
{
    {
        AttemptScope first;
        const StorageError result = run();
        if (!first.mayRunAgain())
            return result;
    }
    AttemptScope second;
    return run();
}

StorageError SqlExecutor::read(const Work &work)
{
    return runWithReconnect([&] { return readOnce(work); });
}

StorageError SqlExecutor::write(const QString &doing, const Work &work)
{
    if (t_writer == this)
        return joinWrite(doing, work);
    return runWithReconnect([&] { return writeOnce(doing, work); });
}

// A write inside another one: no transaction of its own, and no retry, since the outer work
// has done statements already.
StorageError SqlExecutor::joinWrite(const QString &doing, const Work &work)
{
    if (t_rolledBack)
        return {StorageError::Internal,
                QStringLiteral("Could not %1 in the %2: the transaction it belongs to failed already.")
                    .arg(doing, m_dialect.label)};
    QSqlDatabase db;
    const StorageError opened = m_pool.connection(&db);
    return opened.ok() ? work(db) : opened;
}

StorageError SqlExecutor::readOnce(const Work &work)
{
    QSqlDatabase db;
    const StorageError opened = m_pool.connection(&db);
    return opened.ok() ? work(db) : opened;
}

StorageError SqlExecutor::writeOnce(const QString &doing, const Work &work)
{
    QSqlDatabase db;
    const StorageError opened = m_pool.connection(&db);
    if (!opened.ok())
        return opened;
    QSqlQuery control(db);
    if (!control.exec(m_dialect.beginWrite))
        return failure(control.lastError(), doing);
    // From here on the work may have written; only a dead connection at BEGIN is retried.
    noteStatementDone();
    t_writer = this;
    t_rolledBack = false;
    StorageError result = work(db);
    // Work that went on after a joined write failed must not commit what is left of it.
    if (result.ok() && t_rolledBack)
        result = {StorageError::Internal,
                  QStringLiteral("Could not %1 in the %2: a part of it failed, so none of it was kept.")
                      .arg(doing, m_dialect.label)};
    if (result.ok() && !control.exec(QStringLiteral("COMMIT")))
        result = failure(control.lastError(), doing);
    if (!result.ok() && !t_rolledBack)
        control.exec(QStringLiteral("ROLLBACK"));
    t_writer = nullptr;
    t_rolledBack = false;
    return result;
}

StorageError SqlExecutor::writeOne(const QString &doing, const QString &sql, const QVariantList &values, int *changed)
{
    return write(doing, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        const StorageError error = exec(query, sql, values, doing);
        if (error.ok() && changed)
            *changed = query.numRowsAffected();
        return error;
    });
}

// After an error PostgreSQL refuses every statement until the transaction ends, even the
// driver's clean-up of its prepared statements when the failed work's queries go away. So
// the transaction ends here, at the first error.
void SqlExecutor::endFailedWrite()
{
    if (t_writer != this || t_rolledBack || m_dialect.engine != SqlDialect::Engine::PostgreSQL)
        return;
    QSqlDatabase db;
    if (m_pool.connection(&db).ok())
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    t_rolledBack = true;
}

StorageError SqlExecutor::exec(QSqlQuery &query, const QString &sql, const QVariantList &values, const QString &doing)
{
    query.setForwardOnly(m_dialect.forwardOnly);
    // PostgreSQL cannot prepare DDL, and a statement without parameters gains nothing from it.
    if (values.isEmpty()) {
        if (!observedExec([&] { return query.exec(sql); }))
            return failure(query.lastError(), doing);
        noteStatementDone();
        return StorageError::none();
    }
    if (!query.prepare(sql))
        return failure(query.lastError(), doing);
    for (const QVariant &value : values)
        query.addBindValue(bindable(value));
    if (!observedExec([&] { return query.exec(); }))
        return failure(query.lastError(), doing);
    noteStatementDone();
    return StorageError::none();
}

void SqlExecutor::noteStatementDone()
{
    if (t_attempt)
        t_attempt->anyStatementDone = true;
}

StorageError SqlExecutor::failure(const QSqlError &error, const QString &doing)
{
    endFailedWrite();
    if (const auto observer = g_failureObserver.load())
        observer();
    const QString what = QStringLiteral("Could not %1 in the %2 (%3).").arg(doing, m_dialect.label, reasonOf(error));
    switch (classifyFailure(m_dialect, error)) {
    case SqlFailure::Duplicate:
        return {StorageError::AlreadyExists, what + QStringLiteral(" A record with that name already exists.")};
    case SqlFailure::Busy:
        return {StorageError::Unavailable, what + QStringLiteral(" The database is busy; try again in a moment.")};
    case SqlFailure::ConnectionLost:
        m_pool.discard();
        if (t_attempt && !t_attempt->anyStatementDone)
            t_attempt->lostBeforeAnyStatement = true;
        return {StorageError::Unavailable,
                what + QStringLiteral(" The database cannot be reached; check that it is running.")};
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
