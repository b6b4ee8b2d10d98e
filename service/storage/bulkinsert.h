#pragma once
// Inserts many rows through multi-row VALUES statements, so that a batch of rows costs one
// statement instead of one per row. Runs inside the caller's transaction.

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariantList>

namespace vorna::service {

class BulkInsert
{
public:
    BulkInsert(const QSqlDatabase &db, const QString &table, const QStringList &columns, int rowsPerStatement = 250);

    // Queues a row (one value per column) and writes the batch once it is full.
    // False when writing failed; lastError() says why.
    bool add(const QVariantList &row);
    // Writes the rows still queued.
    bool finish();
    QSqlError lastError() const { return m_error; }

private:
    QString statement(int rows) const;
    bool write(QSqlQuery &query, int rows);

    QSqlDatabase m_db;
    QString m_table;
    QStringList m_columns;
    int m_rowsPerStatement;
    QSqlQuery m_fullBatch; // prepared once, on the first full batch
    bool m_fullBatchPrepared = false;
    // Kept until the inserter goes, after the caller has ended a failed transaction:
    // PostgreSQL refuses to free a statement inside a failed one.
    QSqlQuery m_lastBatch;
    QVariantList m_pending;
    QSqlError m_error;
};

} // namespace vorna::service
