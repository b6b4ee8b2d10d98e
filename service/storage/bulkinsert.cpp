#include "storage/bulkinsert.h"

#include "storage/sqlexecutor.h"

namespace vorna::service {

BulkInsert::BulkInsert(const QSqlDatabase &db, const QString &table, const QStringList &columns, int rowsPerStatement)
    : m_db(db), m_table(table), m_columns(columns), m_rowsPerStatement(rowsPerStatement), m_fullBatch(db),
      m_lastBatch(db)
{
    m_pending.reserve(columns.size() * rowsPerStatement);
}

bool BulkInsert::add(const QVariantList &row)
{
    m_pending.append(row);
    if (m_pending.size() < m_columns.size() * m_rowsPerStatement)
        return true;
    if (!m_fullBatchPrepared) {
        if (!m_fullBatch.prepare(statement(m_rowsPerStatement))) {
            m_error = m_fullBatch.lastError();
            return false;
        }
        m_fullBatchPrepared = true;
    }
    return write(m_fullBatch, m_rowsPerStatement);
}

bool BulkInsert::finish()
{
    if (m_pending.isEmpty())
        return true;
    const int rows = m_pending.size() / m_columns.size();
    m_lastBatch = QSqlQuery(m_db);
    if (!m_lastBatch.prepare(statement(rows))) {
        m_error = m_lastBatch.lastError();
        return false;
    }
    return write(m_lastBatch, rows);
}

QString BulkInsert::statement(int rows) const
{
    const QString row = QLatin1Char('(') + placeholders(m_columns.size()) + QLatin1Char(')');
    QStringList values;
    values.reserve(rows);
    for (int i = 0; i < rows; ++i)
        values << row;
    return QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
        .arg(m_table, m_columns.join(QLatin1Char(',')), values.join(QLatin1Char(',')));
}

bool BulkInsert::write(QSqlQuery &query, int rows)
{
    Q_ASSERT(m_pending.size() == rows * m_columns.size());
    for (int i = 0; i < m_pending.size(); ++i)
        query.bindValue(i, bindable(m_pending.at(i)));
    m_pending.clear();
    if (query.exec())
        return true;
    m_error = query.lastError();
    return false;
}

} // namespace vorna::service
