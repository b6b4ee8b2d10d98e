#pragma once
// Everything that differs between SQLite and PostgreSQL, in one place. All other SQL of the
// storage is shared and runs on both engines as written (both know ON CONFLICT, RETURNING and
// positional ? parameters).

#include <QHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vorna::service {

struct SqlDialect
{
    enum class Engine { SQLite, PostgreSQL };

    Engine engine = Engine::SQLite;
    QString driver;              // Qt SQL driver
    QString variant;             // "sqlite" / "postgresql": suffix of per-engine migration files
    QString label;               // names the database in log lines and error sentences
    QString openAdvice;          // what to check when the database cannot be opened
    // PostgreSQL: the connection string as given, multi-host lists and target_session_attrs
    // included, for the storage's own libpq connections (the listener of other instances'
    // changes). Empty for SQLite.
    QString connectionString;
    // Puts the file name or the server, user and options on a fresh connection.
    std::function<void(QSqlDatabase &)> configure;
    QStringList connectionSetup; // run once on every new connection
    // Whether results are read forward only. Qt's PostgreSQL driver then fetches row by row,
    // which costs more than taking the whole result at once.
    bool forwardOnly = true;
    QString beginWrite;          // opens a write transaction
    // Opens a migration's transaction; with migrationLock run right after it, two processes
    // migrating at once take turns. SQLite's EXCLUSIVE also keeps readers out meanwhile.
    QString beginMigration;
    QString migrationLock;
    // Appended to a SELECT whose rows must stay locked until commit; SQLite's BEGIN IMMEDIATE
    // already locks the whole database for writers.
    QString forUpdate;
    // Stand-ins in the migration files: @ID@ (an integer surrogate key), @BYTES@ (a blob).
    QHash<QString, QString> schemaTokens;
    QString listTables;          // one row per table of the current schema: its name
    QString explain;             // prefix that asks for a query's plan
    // Joins each employee `e` to its last registration at or before the moment ? as `r`
    // (columns id, at, activity_kind_id; NULL when there is none), newest first and ties by
    // id. %1 is a condition on the employee's row that must hold for the seek to run at all.
    // SQLite seeks with a correlated subquery, PostgreSQL with LATERAL.
    QString lastRegistrationSeek;
    // The same join for the presence query, which asks it for every employee at once: as `r`
    // with at least the columns at and activity_kind_id. Every ? is the moment.
    QString presenceSeek;
};

// What kind of failure a driver error is, as far as the storage cares.
enum class SqlFailure {
    Other,
    Duplicate,      // a unique key is taken
    Busy,           // locked or in conflict for longer than the wait allows
    ConnectionLost, // the server is gone; the connection must be opened anew
    DiskFull,
    NotADatabase    // the file is something else
};

SqlFailure classifyFailure(const SqlDialect &dialect, const QSqlError &error);

// A PostgreSQL connection string: "postgresql://" or "postgres://", or a libpq keyword string
// (it starts with "keyword="). Anything else names an SQLite file.
bool isPostgresLocation(const QString &location);

// `location` fit to show in a sentence or a log line: every password a connection string can
// carry (a URI's "user:password@", its "password=" parameter, the keyword "password=", quoted
// or not) reads "***". Everything else, an SQLite path included, stays as given.
QString maskedLocation(const QString &location);

// The same PostgreSQL connection string pointed at another database, written as key=value
// pairs; empty with `problem` set when the string cannot be read. For tools and tests that
// create databases next to the one they are given.
QString postgresLocationWithDatabase(const QString &connectionString, const QString &database, QString *problem);

// What every PostgreSQL connection of the service gets unless its connection string says
// otherwise, as libpq keywords and values: a dead network fails a call instead of hanging it,
// keepalive probes find a server that vanished without closing the connection (a failed
// machine, a split network) in about 25 s instead of the system's two hours, and the service's
// name shows in pg_stat_activity.
const QVector<QPair<const char *, const char *>> &postgresConnectionDefaults();

// Without `mayCreate` a connection opens only an existing file: a file deleted meanwhile is
// not made anew.
SqlDialect sqliteDialect(const QString &path, bool mayCreate = true);
// Empty with `problem` set when the connection string cannot be read.
std::optional<SqlDialect> postgresDialect(const QString &connectionString, QString *problem);

} // namespace vorna::service
