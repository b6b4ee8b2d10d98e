#pragma once
// Runs the storage's SQL on the calling thread's connection and turns driver failures into
// StorageError sentences: what could not be done, in which database, why, and what to do.

#include "connectionpool.h"
#include "sqldialect.h"
#include "storage.h"

#include <QSqlQuery>
#include <QVariantList>

#include <functional>

namespace vorna::service {

class SqlExecutor
{
public:
    using Work = std::function<StorageError(QSqlDatabase &db)>;

    explicit SqlExecutor(const SqlDialect &dialect);

    const SqlDialect &dialect() const { return m_dialect; }

    // Runs `work` on this thread's connection, outside a transaction. When the connection
    // turns out dead before the work's first statement succeeds, the work runs once more on
    // a new one; work must therefore keep its results only from statements that succeeded.
    StorageError read(const Work &work);
    // Runs `work` in one write transaction: committed when it succeeds, rolled back when not.
    // `doing` completes "Could not ..." when the transaction itself fails. Retried like read().
    // Called from within another write's work on the same thread, it joins that transaction.
    StorageError write(const QString &doing, const Work &work);

    // Runs one statement in its own write transaction; `changed` gets the rows it changed.
    StorageError writeOne(const QString &doing, const QString &sql, const QVariantList &values, int *changed = nullptr);

    // Runs `sql` with `values` bound in order (prepared only when there are values).
    StorageError exec(QSqlQuery &query, const QString &sql, const QVariantList &values, const QString &doing);
    StorageError failure(const QSqlError &error, const QString &doing);

    int openConnections() const { return m_pool.openCount(); }

private:
    StorageError runWithReconnect(const std::function<StorageError()> &run);
    StorageError readOnce(const Work &work);
    StorageError writeOnce(const QString &doing, const Work &work);
    StorageError joinWrite(const QString &doing, const Work &work);
    static void noteStatementDone();
    void endFailedWrite();

    const SqlDialect m_dialect;
    ConnectionPool m_pool;
};

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

} // namespace vorna::service
