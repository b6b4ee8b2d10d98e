#include "storage/sqldialect.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <libpq-fe.h>

namespace vorna::service {

namespace {

// SQLite result codes (sqlite3.h) that the driver reports as the native error code.
constexpr int sqliteBusy = 5;
constexpr int sqliteLocked = 6;
constexpr int sqliteFull = 13;
constexpr int sqliteCantOpen = 14;
constexpr int sqliteConstraint = 19;
constexpr int sqliteNotADatabase = 26;

// Any constant will do; it only has to be the same in every vorna-service process.
constexpr const char *migrationLockKey = "726173";

SqlFailure classifySqlite(const QSqlError &error)
{
    switch (error.nativeErrorCode().toInt()) {
    case sqliteBusy:
    case sqliteLocked:
        return SqlFailure::Busy;
    case sqliteFull:
        return SqlFailure::DiskFull;
    case sqliteCantOpen:
        return SqlFailure::ConnectionLost;
    case sqliteNotADatabase:
        return SqlFailure::NotADatabase;
    case sqliteConstraint:
        return error.databaseText().startsWith(QLatin1String("UNIQUE")) ? SqlFailure::Duplicate
                                                                         : SqlFailure::Other;
    default:
        return SqlFailure::Other;
    }
}

// PostgreSQL reports SQLSTATE codes; libpq failures below the protocol have none.
SqlFailure classifyPostgres(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    if (state == QLatin1String("23505"))
        return SqlFailure::Duplicate;
    if (state == QLatin1String("40001") || state == QLatin1String("40P01") || state == QLatin1String("55P03"))
        return SqlFailure::Busy;
    if (state == QLatin1String("53100"))
        return SqlFailure::DiskFull;
    if (state.startsWith(QLatin1String("08")) || state.startsWith(QLatin1String("57P")))
        return SqlFailure::ConnectionLost;
    if (state.isEmpty() && error.type() == QSqlError::ConnectionError)
        return SqlFailure::ConnectionLost;
    const QString text = error.databaseText();
    if (state.isEmpty() && (text.contains(QLatin1String("server closed the connection"))
                            || text.contains(QLatin1String("no connection to the server"))))
        return SqlFailure::ConnectionLost;
    return SqlFailure::Other;
}

// Quotes a value for a libpq conninfo string.
QString conninfoValue(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    escaped.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

struct PostgresSettings
{
    QString host;
    int port = -1;
    QString database;
    QString user;
    QString password;
    QStringList options; // key='value' pairs the Qt driver passes on to libpq unchanged
};

// libpq reads both the key=value and the URI form, with all their quoting rules.
std::optional<PostgresSettings> parseConnectionString(const QString &text, QString *problem)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.toUtf8().constData(), &error);
    if (!options) {
        *problem = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        PQfreemem(error);
        return std::nullopt;
    }
    PostgresSettings settings;
    bool hasTimeout = false;
    bool hasApplicationName = false;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (!option->val)
            continue;
        const QString key = QString::fromLatin1(option->keyword);
        const QString value = QString::fromUtf8(option->val);
        if (key == QLatin1String("host"))
            settings.host = value;
        else if (key == QLatin1String("port"))
            settings.port = value.toInt();
        else if (key == QLatin1String("dbname"))
            settings.database = value;
        else if (key == QLatin1String("user"))
            settings.user = value;
        else if (key == QLatin1String("password"))
            settings.password = value;
        else
            settings.options << key + QLatin1Char('=') + conninfoValue(value);
        hasTimeout = hasTimeout || key == QLatin1String("connect_timeout");
        hasApplicationName = hasApplicationName || key == QLatin1String("application_name");
    }
    PQconninfoFree(options);
    // A dead network should fail a call, not hang it.
    if (!hasTimeout)
        settings.options << QStringLiteral("connect_timeout=10");
    if (!hasApplicationName)
        settings.options << QStringLiteral("application_name=vorna-service");
    return settings;
}

QString postgresLabel(const PostgresSettings &settings)
{
    const QString database = settings.database.isEmpty() ? settings.user : settings.database;
    const QString host = settings.host.isEmpty() ? QStringLiteral("the local server") : settings.host;
    const QString port = settings.port > 0 ? QLatin1Char(':') + QString::number(settings.port) : QString();
    return QStringLiteral("PostgreSQL database \"%1\" on %2%3").arg(database, host, port);
}

} // namespace

SqlFailure classifyFailure(const SqlDialect &dialect, const QSqlError &error)
{
    return dialect.engine == SqlDialect::Engine::SQLite ? classifySqlite(error) : classifyPostgres(error);
}

bool isPostgresLocation(const QString &location)
{
    static const QRegularExpression conninfoKey(QStringLiteral("(^|\\s)(host|dbname)\\s*="));
    return location.startsWith(QLatin1String("postgresql://"))
        || location.startsWith(QLatin1String("postgres://"))
        || conninfoKey.match(location).hasMatch();
}

QString postgresLocationWithDatabase(const QString &connectionString, const QString &database, QString *problem)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(connectionString.toUtf8().constData(), &error);
    if (!options) {
        *problem = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        PQfreemem(error);
        return {};
    }
    QStringList pairs;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        const QString key = QString::fromLatin1(option->keyword);
        if (option->val && key != QLatin1String("dbname"))
            pairs << key + QLatin1Char('=') + conninfoValue(QString::fromUtf8(option->val));
    }
    PQconninfoFree(options);
    pairs << QStringLiteral("dbname=") + conninfoValue(database);
    return pairs.join(QLatin1Char(' '));
}

SqlDialect sqliteDialect(const QString &path, bool mayCreate)
{
    SqlDialect d;
    d.engine = SqlDialect::Engine::SQLite;
    d.driver = QStringLiteral("QSQLITE");
    d.variant = QStringLiteral("sqlite");
    const QString absolute = QFileInfo(path).absoluteFilePath();
    d.label = QStringLiteral("SQLite database %1").arg(QDir::toNativeSeparators(absolute));
    d.openAdvice = QStringLiteral("Check the path and that the service may write to that folder.");
    d.configure = [absolute, mayCreate](QSqlDatabase &db) {
        if (mayCreate) {
            db.setDatabaseName(absolute);
            return;
        }
        // SQLite's URI form with mode=rw opens without creating.
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
        db.setDatabaseName(QUrl::fromLocalFile(absolute).toString(QUrl::FullyEncoded) + QStringLiteral("?mode=rw"));
    };
    // WAL lets readers go on while one writer commits; NORMAL is durable across a process
    // crash in WAL mode. The page cache and memory map make the presence query's index seeks
    // cheap.
    d.connectionSetup = QStringList{
        QStringLiteral("PRAGMA busy_timeout = 5000"),
        QStringLiteral("PRAGMA journal_mode = WAL"),
        QStringLiteral("PRAGMA synchronous = NORMAL"),
        QStringLiteral("PRAGMA foreign_keys = ON"),
        QStringLiteral("PRAGMA cache_size = -32768"),
        QStringLiteral("PRAGMA mmap_size = 1073741824"),
    };
    // IMMEDIATE takes the write lock at once, so a transaction that reads before it writes
    // waits for other writers instead of failing when it upgrades.
    d.beginWrite = QStringLiteral("BEGIN IMMEDIATE");
    d.beginMigration = QStringLiteral("BEGIN EXCLUSIVE");
    d.schemaTokens = {{QStringLiteral("@ID@"), QStringLiteral("INTEGER PRIMARY KEY")},
                      {QStringLiteral("@BYTES@"), QStringLiteral("BLOB")}};
    d.listTables = QStringLiteral(
        "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'");
    d.explain = QStringLiteral("EXPLAIN QUERY PLAN ");
    d.lastRegistrationSeek = QStringLiteral(
        "LEFT JOIN registrations r ON r.id = CASE WHEN %1 THEN"
        " (SELECT x.id FROM registrations x WHERE x.employee_id = e.id AND x.at <= ?"
        "  ORDER BY x.at DESC, x.id DESC LIMIT 1) END");
    d.presenceSeek = d.lastRegistrationSeek;
    return d;
}

std::optional<SqlDialect> postgresDialect(const QString &connectionString, QString *problem)
{
    const std::optional<PostgresSettings> settings = parseConnectionString(connectionString, problem);
    if (!settings)
        return std::nullopt;
    SqlDialect d;
    d.engine = SqlDialect::Engine::PostgreSQL;
    d.driver = QStringLiteral("QPSQL");
    d.variant = QStringLiteral("postgresql");
    d.label = postgresLabel(*settings);
    d.connectionString = connectionString;
    d.openAdvice = QStringLiteral("Check that the server is running and that the connection string is right.");
    d.configure = [s = *settings](QSqlDatabase &db) {
        db.setHostName(s.host);
        db.setPort(s.port);
        db.setDatabaseName(s.database);
        db.setUserName(s.user);
        db.setPassword(s.password);
        db.setConnectOptions(s.options.join(QLatin1Char(';')));
    };
    d.connectionSetup = QStringList{QStringLiteral("SET client_min_messages = warning")};
    d.forwardOnly = false;
    d.beginWrite = QStringLiteral("BEGIN");
    d.beginMigration = d.beginWrite;
    d.migrationLock = QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(QLatin1String(migrationLockKey));
    d.forUpdate = QStringLiteral(" FOR UPDATE");
    d.schemaTokens = {{QStringLiteral("@ID@"), QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")},
                      {QStringLiteral("@BYTES@"), QStringLiteral("BYTEA")}};
    d.listTables = QStringLiteral(
        "SELECT table_name FROM information_schema.tables"
        " WHERE table_schema = current_schema() AND table_type = 'BASE TABLE'");
    d.explain = QStringLiteral("EXPLAIN (ANALYZE, BUFFERS) ");
    d.lastRegistrationSeek = QStringLiteral(
        "LEFT JOIN LATERAL (SELECT x.id, x.at, x.activity_kind_id FROM registrations x"
        " WHERE %1 AND x.employee_id = e.id AND x.at <= ?"
        " ORDER BY x.at DESC, x.id DESC LIMIT 1) r ON TRUE");
    // A seek per employee costs PostgreSQL several microseconds, too much for ten thousand of
    // them. When anyone registered after the moment, one range scan over the day before it
    // finds the last registration of everyone who registered in that day; only the others
    // seek. The EXISTS spares the scan when the moment is after everyone's latest.
    d.presenceSeek = QStringLiteral(
        "LEFT JOIN (SELECT DISTINCT ON (y.employee_id) y.employee_id, y.at, y.activity_kind_id"
        "  FROM registrations y"
        "  WHERE y.at <= ? AND y.at > CAST(? AS BIGINT) - 86400 AND EXISTS (SELECT 1 FROM latest_registrations z WHERE z.at > ?)"
        "  ORDER BY y.employee_id, y.at DESC, y.id DESC) w ON w.employee_id = e.id AND %1"
        " LEFT JOIN LATERAL (SELECT x.at, x.activity_kind_id FROM registrations x"
        "  WHERE %1 AND w.employee_id IS NULL AND x.employee_id = e.id AND x.at <= ?"
        "  ORDER BY x.at DESC, x.id DESC LIMIT 1) sought ON TRUE"
        " CROSS JOIN LATERAL (SELECT COALESCE(w.at, sought.at) AS at,"
        "  COALESCE(w.activity_kind_id, sought.activity_kind_id) AS activity_kind_id) r");
    return d;
}

} // namespace vorna::service
