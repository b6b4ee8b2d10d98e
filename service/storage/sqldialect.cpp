#include "storage/sqldialect.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

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

// Where a connection string may carry a password, in libpq's own grammar: the user info of a
// URI (up to the first '@' before any '/'), the URI parameter and the keyword. The group
// "secret" is the password as written.
const QVector<QRegularExpression> &passwordPatterns()
{
    static const QVector<QRegularExpression> patterns{
        QRegularExpression(QStringLiteral("postgres(?:ql)?://[^@/:]*:(?<secret>[^@/]*)@")),
        QRegularExpression(QStringLiteral("[?&]password=(?<secret>[^&]*)")),
        QRegularExpression(QStringLiteral("(?:^|\\s)password\\s*=\\s*(?<secret>'(?:[^'\\\\]|\\\\.)*'?|(?:[^\\s\\\\]|\\\\.)*)")),
    };
    return patterns;
}

const QLatin1String passwordMask("***");

// The passwords as written in `text`, each with its place, last first.
QVector<QPair<int, int>> passwordSpans(const QString &text)
{
    QVector<QPair<int, int>> spans;
    for (const QRegularExpression &pattern : passwordPatterns()) {
        QRegularExpressionMatchIterator matches = pattern.globalMatch(text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            if (match.capturedLength(QStringLiteral("secret")) > 0)
                spans.append({match.capturedStart(QStringLiteral("secret")), match.capturedLength(QStringLiteral("secret"))});
        }
    }
    std::sort(spans.begin(), spans.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    return spans;
}

using ConninfoPairs = QVector<QPair<QString, QString>>;

// The keywords given in `text` with their values, read by libpq; nothing with `problem` set when
// it cannot read them. libpq's sentence may quote a piece of the string, a password included,
// so those are masked in it.
std::optional<ConninfoPairs> readConninfo(const QString &text, QString *problem)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.toUtf8().constData(), &error);
    if (!options) {
        QString reason = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        PQfreemem(error);
        for (const auto &[start, length] : passwordSpans(text))
            reason.replace(text.mid(start, length), passwordMask);
        if (problem)
            *problem = reason;
        return std::nullopt;
    }
    ConninfoPairs pairs;
    for (PQconninfoOption *option = options; option->keyword; ++option) {
        if (option->val)
            pairs.append({QString::fromLatin1(option->keyword), QString::fromUtf8(option->val)});
    }
    PQconninfoFree(options);
    return pairs;
}

QString valueOf(const ConninfoPairs &pairs, const QString &key)
{
    for (const auto &[name, value] : pairs) {
        if (name == key)
            return value;
    }
    return {};
}

QString keywordString(const ConninfoPairs &pairs)
{
    QStringList written;
    for (const auto &[key, value] : pairs)
        written << key + QLatin1Char('=') + conninfoValue(value);
    return written.join(QLatin1Char(' '));
}

// How Qt's PostgreSQL driver gets a connection string. The driver builds one conninfo string
// of its own for libpq's PQconnectdb from the host, database, user and password it is given,
// each quoted, then appends the connect options with every ';' turned into a space. So the
// four go through the driver's fields, and every other keyword, the port list included (the
// driver's port is one number), goes into the options. A value of those that holds a ';'
// cannot reach libpq unchanged and is refused. Handing the driver the whole string as its
// database name does not work, as PQconnectdb does not expand it, and the driver cannot be
// given a connection of our own: Qt ships it as a plugin without headers or exported classes.
struct PostgresSettings
{
    QString host;
    QString database;
    QString user;
    QString password;
    QStringList options; // key='value' pairs the driver passes on to libpq
    QString servers;     // host:port, ..., for sentences
};

QString serverList(const ConninfoPairs &pairs)
{
    const QString host = valueOf(pairs, QStringLiteral("host"));
    const QStringList hosts = (host.isEmpty() ? valueOf(pairs, QStringLiteral("hostaddr")) : host).split(QLatin1Char(','));
    const QStringList ports = valueOf(pairs, QStringLiteral("port")).split(QLatin1Char(','));
    QStringList servers;
    for (int i = 0; i < hosts.size(); ++i) {
        // libpq: one port for every host, or one per host.
        const QString port = ports.size() == hosts.size() ? ports.at(i) : ports.constFirst();
        const QString name = hosts.at(i).isEmpty() ? QStringLiteral("the local server") : hosts.at(i);
        const bool bracketed = name.contains(QLatin1Char(':')) && !name.startsWith(QLatin1Char('/'));
        servers << (bracketed ? QLatin1Char('[') + name + QLatin1Char(']') : name)
                       + (port.isEmpty() ? QString() : QLatin1Char(':') + port);
    }
    return servers.join(QLatin1Char(','));
}

std::optional<PostgresSettings> parseConnectionString(const QString &text, QString *problem)
{
    const std::optional<ConninfoPairs> pairs = readConninfo(text, problem);
    if (!pairs)
        return std::nullopt;
    PostgresSettings settings;
    const QHash<QString, QString *> driverFields{{QStringLiteral("host"), &settings.host},
                                                 {QStringLiteral("dbname"), &settings.database},
                                                 {QStringLiteral("user"), &settings.user},
                                                 {QStringLiteral("password"), &settings.password}};
    for (const auto &[key, value] : *pairs) {
        if (QString *field = driverFields.value(key)) {
            *field = value;
            continue;
        }
        if (value.contains(QLatin1Char(';'))) {
            *problem = QStringLiteral("the value of %1 holds a ';', which Qt's PostgreSQL driver cannot pass on: leave it out").arg(key);
            return std::nullopt;
        }
        settings.options << key + QLatin1Char('=') + conninfoValue(value);
    }
    for (const auto &[key, value] : postgresConnectionDefaults()) {
        if (valueOf(*pairs, QLatin1String(key)).isEmpty())
            settings.options << QLatin1String(key) + QLatin1Char('=') + QLatin1String(value);
    }
    settings.servers = serverList(*pairs);
    return settings;
}

QString postgresLabel(const PostgresSettings &settings)
{
    const QString database = settings.database.isEmpty() ? settings.user : settings.database;
    return QStringLiteral("PostgreSQL database \"%1\" on %2").arg(database, settings.servers);
}

} // namespace

SqlFailure classifyFailure(const SqlDialect &dialect, const QSqlError &error)
{
    return dialect.engine == SqlDialect::Engine::SQLite ? classifySqlite(error) : classifyPostgres(error);
}

const QVector<QPair<const char *, const char *>> &postgresConnectionDefaults()
{
    static const QVector<QPair<const char *, const char *>> defaults{
        {"connect_timeout", "10"},  {"keepalives_idle", "10"},           {"keepalives_interval", "5"},
        {"keepalives_count", "3"}, {"application_name", "vorna-service"},
    };
    return defaults;
}

bool isPostgresLocation(const QString &location)
{
    // Every keyword string starts with a keyword and '='; an SQLite path of that shape can
    // be given as ./name.
    static const QRegularExpression leadingKeyword(QStringLiteral("^\\s*[a-z_]+\\s*="));
    return location.startsWith(QLatin1String("postgresql://"))
        || location.startsWith(QLatin1String("postgres://"))
        || leadingKeyword.match(location).hasMatch();
}

QString maskedLocation(const QString &location)
{
    QString masked = location;
    for (const auto &[start, length] : passwordSpans(location))
        masked.replace(start, length, passwordMask);
    // A password written another way (a percent-encoded parameter name, say) still reaches
    // libpq: the string is then shown as the keywords libpq reads, with the password masked.
    std::optional<ConninfoPairs> given = readConninfo(location, nullptr);
    const QString password = given ? valueOf(*given, QStringLiteral("password")) : QString();
    const std::optional<ConninfoPairs> shown = readConninfo(masked, nullptr);
    if (password.isEmpty() || !shown || valueOf(*shown, QStringLiteral("password")) != password)
        return masked;
    for (auto &[key, value] : *given) {
        if (key == QLatin1String("password"))
            value = passwordMask;
    }
    return keywordString(*given);
}

QString postgresLocationWithDatabase(const QString &connectionString, const QString &database, QString *problem)
{
    std::optional<ConninfoPairs> pairs = readConninfo(connectionString, problem);
    if (!pairs)
        return {};
    pairs->erase(std::remove_if(pairs->begin(), pairs->end(),
                                [](const auto &pair) { return pair.first == QLatin1String("dbname"); }),
                 pairs->end());
    pairs->append({QStringLiteral("dbname"), database});
    return keywordString(*pairs);
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
    // See PostgresSettings for how the string reaches the driver.
    d.configure = [s = *settings](QSqlDatabase &db) {
        db.setHostName(s.host);
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
