// The transaction's way past Qt's PostgreSQL driver for bytes: libpq on the driver's own
// connection, inside the same transaction.

#include "storage/sqlexecutor.h"

#include <QSqlDriver>
#include <QSqlError>

#include <libpq-fe.h>

namespace vorna::service {

namespace {

PGconn *postgresConnection(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    return handle.isValid() && qstrcmp(handle.typeName(), "PGconn*") == 0 ? *static_cast<PGconn *const *>(handle.data())
                                                                          : nullptr;
}

// Qt's `?` placeholders as libpq numbers them. The storage's statements hold no `?` elsewhere.
QByteArray numberedPlaceholders(const QString &sql)
{
    QByteArray numbered;
    int next = 0;
    for (const char c : sql.toUtf8()) {
        if (c == '?')
            numbered += '$' + QByteArray::number(++next);
        else
            numbered += c;
    }
    return numbered;
}

// The values in libpq's form: a byte array binary, as it is; SQL NULL for a null value; the
// rest as the text Qt's driver would send.
class Parameters
{
public:
    explicit Parameters(const QVariantList &values)
    {
        for (const QVariant &given : values) {
            const QVariant value = bindable(given);
            const bool bytes = value.type() == QVariant::ByteArray;
            m_data.append(bytes ? value.toByteArray() : value.toString().toUtf8());
            m_null.append(value.isNull());
            m_formats.append(bytes ? 1 : 0);
        }
        for (int i = 0; i < m_data.size(); ++i) {
            m_values.append(m_null.at(i) ? nullptr : m_data.at(i).constData());
            m_lengths.append(m_data.at(i).size());
        }
    }
    int count() const { return m_values.size(); }
    const char *const *values() const { return m_values.constData(); }
    const int *lengths() const { return m_lengths.constData(); }
    const int *formats() const { return m_formats.constData(); }

private:
    QVector<QByteArray> m_data;
    QVector<bool> m_null;
    QVector<const char *> m_values;
    QVector<int> m_lengths;
    QVector<int> m_formats;
};

// A failed libpq call as Qt's driver reports one, for the executor's classification.
QSqlError errorOf(PGconn *connection, const PGresult *result)
{
    const QString reason = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(connection));
    const QString state = QString::fromLatin1(result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr);
    const QSqlError::ErrorType type =
        PQstatus(connection) == CONNECTION_OK ? QSqlError::StatementError : QSqlError::ConnectionError;
    return QSqlError(QString(), reason.trimmed(), type, state);
}

} // namespace

Result<std::shared_ptr<PGresult>> Transaction::execBinary(const QString &sql, const QVariantList &values,
                                                          bool binaryResults, const QString &doing)
{
    if (m_rolledBack)
        return alreadyFailed(doing);
    PGconn *connection = postgresConnection(m_db);
    if (!connection)
        return StorageError{StorageError::Internal,
                            QStringLiteral("Could not %1: the PostgreSQL driver gave no connection.").arg(doing)};
    const Parameters parameters(values);
    std::shared_ptr<PGresult> result;
    timed([&] {
        result.reset(PQexecParams(connection, numberedPlaceholders(sql).constData(), parameters.count(), nullptr,
                                  parameters.values(), parameters.lengths(), parameters.formats(), binaryResults ? 1 : 0),
                     &PQclear);
        return true;
    });
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        return failure(errorOf(connection, result.get()), doing);
    noteStatementDone();
    return result;
}

Result<int> Transaction::changeWithBytes(const QString &sql, const QVariantList &values, const QString &doing)
{
    if (dialect().engine != SqlDialect::Engine::PostgreSQL)
        return change(sql, values, doing);
    const Result<std::shared_ptr<PGresult>> result = execBinary(sql, values, false, doing);
    if (!result)
        return result.error();
    return QByteArray(PQcmdTuples(result->get())).toInt();
}

} // namespace vorna::service
