#pragma once
// Runs the storage's SQL on the calling thread's connection and turns driver failures into
// StorageError sentences: what could not be done, in which database, why, and what to do.
//
// Work is handed a Transaction: the connection it runs on and the state of this one run of
// it. A write commits when its work succeeds and rolls back when not; work that must share
// one transaction takes the same Transaction object, so joining is visible in every signature.

#include "storage/connectionpool.h"
#include "storage/sqldialect.h"
#include "storage/storage.h"

#include <QSqlQuery>
#include <QVariantList>

#include <functional>
#include <memory>

struct pg_result; // libpq's PGresult

namespace vorna::service {

class SqlExecutor;

class Transaction
{
public:
    const SqlDialect &dialect() const;
    QSqlDatabase &db() { return m_db; }
    // Whether this is a write transaction (reads run without one).
    bool writes() const { return m_writes; }

    // Runs `sql` with `values` bound in order (prepared only when there are values).
    StorageError exec(QSqlQuery &query, const QString &sql, const QVariantList &values, const QString &doing);
    // The sentence for a driver failure; on PostgreSQL a failed write is rolled back here,
    // since the server refuses every further statement in it.
    StorageError failure(const QSqlError &error, const QString &doing);
    // Notes a statement run past exec() (bulk inserts, libpq) that succeeded.
    void noteStatementDone();

    // Rows of `sql`, one `make` per row.
    template<typename T>
    Result<QVector<T>> rows(const QString &sql, const QVariantList &values,
                            const std::function<T(const QSqlQuery &)> &make, const QString &doing)
    {
        QVector<T> out;
        QSqlQuery query(m_db);
        const StorageError error = exec(query, sql, values, doing);
        while (error.ok() && query.next())
            out.append(make(query));
        if (!error.ok())
            return error;
        return out;
    }
    // The first row of `sql`; `missing` when there is none.
    template<typename T>
    Result<T> row(const QString &sql, const QVariantList &values, const std::function<T(const QSqlQuery &)> &make,
                  const QString &doing, const StorageError &missing)
    {
        Result<QVector<T>> all = rows<T>(sql, values, make, doing);
        if (!all.ok())
            return all.error();
        if (all->isEmpty())
            return missing;
        return all->first();
    }
    // The rows changed by one statement.
    Result<int> change(const QString &sql, const QVariantList &values, const QString &doing);

    // Runs `sql` through libpq on this transaction's PostgreSQL connection: byte arrays among
    // `values` go as they are, the rest as text, and the result comes in binary when
    // `binaryResults`. Qt's driver sends and reads every value as text, so a picture would
    // cross the wire as hex, twice its size, escaped on one side and parsed on the other.
    Result<std::shared_ptr<pg_result>> execBinary(const QString &sql, const QVariantList &values, bool binaryResults,
                                                  const QString &doing);
    // The rows changed by one statement whose values include large byte arrays: through
    // execBinary() on PostgreSQL, change() elsewhere.
    Result<int> changeWithBytes(const QString &sql, const QVariantList &values, const QString &doing);

private:
    friend class SqlExecutor;
    Transaction(SqlExecutor &sql, QSqlDatabase db, bool writes);
    // The refusal of a statement after one of this transaction failed.
    StorageError alreadyFailed(const QString &doing) const;
    // Runs one statement, timed for the statement observer if there is one.
    static bool timed(const std::function<bool()> &exec);

    SqlExecutor &m_sql;
    QSqlDatabase m_db;
    bool m_writes;
    bool m_rolledBack = false;
    // Whether a statement of this run succeeded yet, and whether the connection was found dead
    // before one did: such a run did nothing, so it may run again on a new connection.
    bool m_anyStatementDone = false;
    bool m_lostBeforeAnyStatement = false;
};

class SqlExecutor
{
public:
    using Work = std::function<StorageError(Transaction &tx)>;

    explicit SqlExecutor(const SqlDialect &dialect);

    const SqlDialect &dialect() const { return m_dialect; }

    // Runs `work` on this thread's connection, outside a transaction. When the connection
    // turns out dead before the work's first statement succeeds, the work runs once more on
    // a new one; work must therefore keep its results only from statements that succeeded.
    StorageError read(const Work &work);
    // Runs `work` in one write transaction opened with `begin` (the dialect's beginWrite by
    // default): committed when it succeeds, rolled back when not. `doing` completes
    // "Could not ..." when the transaction itself fails. Retried like read().
    StorageError write(const QString &doing, const Work &work, const QString &begin = QString());

    // A lookup run like read(): the result `work` gives, or why the database gave none.
    template<typename T>
    Result<T> fetch(const std::function<Result<T>(Transaction &tx)> &work)
    {
        Result<T> out = T();
        const StorageError error = read([&](Transaction &tx) {
            out = work(tx);
            return out.error();
        });
        if (!error.ok())
            return error;
        return out;
    }

    // Runs one statement in its own write transaction; the result is the rows it changed.
    Result<int> writeOne(const QString &doing, const QString &sql, const QVariantList &values);

    int openConnections() const { return m_pool.openCount(); }

private:
    friend class Transaction;
    StorageError runWithReconnect(bool writes, const std::function<StorageError(Transaction &)> &run);
    StorageError commitOrRollBack(Transaction &tx, QSqlQuery &control, StorageError result, const QString &doing);
    StorageError failure(Transaction *tx, const QSqlError &error, const QString &doing);

    const SqlDialect m_dialect;
    ConnectionPool m_pool;
};

// Whether the database answered the calling thread's work since the last take: Reached once a
// statement succeeded, Unreachable once a connection would not open or was lost, whichever
// came last; Untouched when neither happened. The service's database workers take it after
// each job, so its health follows the calls themselves.
struct DatabaseReach
{
    enum State { Untouched, Reached, Unreachable };
    State state = Untouched;
    QString why; // the storage's sentence, for Unreachable
};
DatabaseReach takeDatabaseReach();

// Told of each statement's time and of each failure, for the service's metrics; none by default.
struct SqlObserver
{
    void (*statement)(double seconds) = nullptr;
    void (*failure)() = nullptr;
};
void setSqlObserver(const SqlObserver &observer);

// Qt binds a null QString as SQL NULL; every text column here is NOT NULL and an absent
// text means an empty one.
QVariant bindable(const QVariant &value);

// "?,?,?" with `count` marks, for VALUES and IN lists.
QString placeholders(int count);

// A name in single quotes, for sentences.
QString quoted(const QString &name);

// An InvalidArgument error with `sentence`.
StorageError invalid(const QString &sentence);

// Turns "no rows changed" into the NotFound sentence of the caller.
StorageError changedOrNotFound(const Result<int> &changed, const StorageError &notFound);

} // namespace vorna::service
