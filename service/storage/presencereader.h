#pragma once
// Answers "who is where at moment T": for every employee the user may see, the last
// registration at or before T. That is the employee's latest registration as kept in
// latest_registrations when it lies at or before T (the usual case: T is about now); for the
// employees who registered after T it is one index seek on registrations(employee_id, at).
// Rows come sorted by name as people read names (Serbian Latin collation, which orders English
// names as expected too), and picture bytes are fetched only for the pictures the caller does
// not hold yet.

#include "sqlexecutor.h"
#include "storage.h"

#include <QStringList>

namespace vorna::service {

class PresenceReader
{
public:
    explicit PresenceReader(SqlExecutor &sql);

    StorageError read(const User &user, const PresenceQuery &query,
                      const std::function<void(const PresenceRow &)> &sink);
    // The engine's plan for the query, one line per plan row.
    StorageError explain(const User &user, const QDateTime &at, QStringList *plan);

private:
    struct Entry
    {
        qint64 employeeKey = 0;
        PresenceRow row;
    };
    struct NoRegistration
    {
        QString name;
        int color = 0;
    };

    // `moment` is the SQL that stands for T: a placeholder or a literal.
    QString statement(const User &user, const QString &moment) const;
    StorageError readNoRegistrationStatus(QSqlDatabase &db, NoRegistration *status);
    StorageError collect(QSqlDatabase &db, const User &user, const PresenceQuery &query, QVector<Entry> *entries);
    StorageError attachPictures(QSqlDatabase &db, const QVector<Entry *> &missing);
    static void sortByName(QVector<Entry> *entries);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
