#pragma once
// A database made on a PostgreSQL server for one benchmark run, dropped again when done. The
// server is named by a libpq connection string whose user may create databases.

#include <QString>

class ScratchPostgres
{
public:
    // `prefix` and the process id name the database, so that parallel runs do not meet.
    ScratchPostgres(const QString &server, const QString &prefix);
    ~ScratchPostgres();
    ScratchPostgres(const ScratchPostgres &) = delete;
    ScratchPostgres &operator=(const ScratchPostgres &) = delete;

    // Makes the database anew, empty, and gives its connection string; empty with *error when
    // it cannot be made.
    QString create(QString *error);

private:
    bool execute(const QString &sql, QString *error = nullptr);
    // The server's own connection string, as keywords, naming the new database instead.
    QString location(QString *error) const;

    const QString m_server;
    const QString m_name;
    bool m_made = false;
};
