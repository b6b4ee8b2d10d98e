#pragma once
// Answers "who is where at moment T": for every employee the user may see, the last
// registration at or before T. That is the employee's latest registration as kept in
// latest_registrations when it lies at or before T (the usual case: T is about now); for the
// employees who registered after T it is one index seek on registrations(employee_id, at).
// Rows come in the order people read names (Serbian Latin collation, which orders English
// names as expected too), read page by page along employees.sort_key, and pictures (their
// display renditions) are fetched only for those the caller does not hold yet.

#include "storage/sqlexecutor.h"
#include "storage/storage.h"

#include <QStringList>

namespace vorna::service {

class PresenceReader
{
public:
    explicit PresenceReader(SqlExecutor &sql);

    StorageError read(const User &user, const PresenceQuery &query,
                      const std::function<void(const PresenceRow &)> &sink);
    StorageError readPage(const User &user, const PresenceQuery &query, PresenceCursor *cursor,
                          QVector<PresenceRow> *rows);
    // The engine's plan for the query (its first page), one line per plan row.
    StorageError explain(const User &user, const QDateTime &at, QStringList *plan);

    // The bytes employees are ordered by: the collation keys of the last and the first name,
    // then the id. They compare byte by byte, as both SQLite and PostgreSQL compare blobs.
    static QByteArray sortKey(const QString &lastName, const QString &firstName, const QString &employeeId);
    // Writes the sort key of every employee that has none; for writers that add employees
    // without one. Runs inside the caller's write transaction.
    static StorageError fillSortKeys(Transaction &tx);

private:
    struct Entry
    {
        qint64 employeeKey = 0;
        qint64 pictureBytes = 0; // of a picture the caller lacks; 0 when none is to be sent
        QByteArray sortKey;
        PresenceRow row;
    };
    // The statement of one page: `after` is the sort key the page starts after (empty: from
    // the start), `limit` its most rows.
    QString statement(const User &user, qint64 moment, const QByteArray &after, int limit) const;
    QString bytesLiteral(const QByteArray &bytes) const;
    StorageError fillMissingSortKeys();
    StorageError collect(Transaction &tx, const User &user, const PresenceQuery &query, const PresenceCursor &cursor,
                         QVector<Entry> *entries);
    static int rowsWithinPictureBudget(const QVector<Entry> &entries, qint64 budget);
    // The rows whose pictures the caller lacks, by employee key.
    static QHash<qint64, Entry *> lackingPictures(QVector<Entry> *entries);
    StorageError attachPictures(Transaction &tx, QVector<Entry> *entries);
    StorageError attachPicturesBinary(Transaction &tx, const QHash<qint64, Entry *> &byKey);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
