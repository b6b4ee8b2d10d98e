#include "storage/database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace vorna::service {

namespace {

using Error = StorageError;

StorageError noLocation()
{
    return {StorageError::InvalidArgument,
            QStringLiteral("No database was given. Give the path of an SQLite file or a PostgreSQL connection string.")};
}

StorageError prepareSqliteFolder(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QDir().mkpath(folder))
        return StorageError::none();
    return {StorageError::Unavailable,
            QStringLiteral("Cannot create the folder %1 for the SQLite database. Check that the service may write "
                           "there, or give another path.")
                .arg(QDir::toNativeSeparators(folder))};
}

// An empty file is an empty SQLite database. Made here, with O_EXCL and mode 0600, rather than
// by SQLite under the process umask: the database holds password hashes. SQLite gives its
// -wal and -shm files the mode of the database file.
StorageError createPrivateFile(const QString &path)
{
    const QByteArray native = QFile::encodeName(QFileInfo(path).absoluteFilePath());
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return StorageError::none();
    }
    if (errno == EEXIST)
        return StorageError::none();
    return {StorageError::Unavailable,
            QStringLiteral("Cannot create the SQLite database %1 (%2). Check that the service may write to that "
                           "folder, or give another path.")
                .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(std::strerror(errno)))};
}

StorageError prepareSqliteFile(const QString &path, OpenMode mode)
{
    if (path.trimmed().isEmpty())
        return noLocation();
    const QFileInfo file(path);
    if (file.exists())
        return StorageError::none();
    if (mode == OpenMode::MustExist)
        return {StorageError::NotFound,
                QStringLiteral("The database file %1 does not exist. Run 'vorna-service init --database %1' first.")
                    .arg(maskedLocation(path))};
    const StorageError folder = prepareSqliteFolder(path);
    return folder.ok() ? createPrivateFile(path) : folder;
}

Result<SqlDialect> dialectFor(const QString &location, OpenMode mode)
{
    if (isPostgresLocation(location)) {
        QString problem;
        std::optional<SqlDialect> dialect = postgresDialect(location, &problem);
        if (!dialect)
            return StorageError{StorageError::InvalidArgument,
                                QStringLiteral("The PostgreSQL connection string cannot be read (%1). Write it as "
                                               "\"postgresql://user@host:port/database\" or \"host=... dbname=...\".")
                                    .arg(problem)};
        return *dialect;
    }
    const StorageError error = prepareSqliteFile(location, mode);
    if (!error.ok())
        return error;
    return sqliteDialect(location, mode == OpenMode::CreateIfMissing);
}

const QString schemaTable = QStringLiteral("schema_migrations");

Result<QVector<QString>> tables(Transaction &tx)
{
    return tx.rows<QString>(tx.dialect().listTables, {}, [](const QSqlQuery &q) { return q.value(0).toString(); },
                            QStringLiteral("list the tables"));
}

} // namespace

Result<std::unique_ptr<Database>> Database::open(const QString &location, OpenMode mode)
{
    const Result<SqlDialect> dialect = dialectFor(location, mode);
    if (!dialect)
        return dialect.error();
    auto database = std::make_unique<Database>(*dialect);
    const StorageError error = database->check();
    if (!error.ok())
        return error;
    return Result<std::unique_ptr<Database>>(std::move(database));
}

Database::Database(const SqlDialect &dialect)
    : m_sql(dialect), m_accounts(m_sql), m_organisation(m_sql), m_calendars(m_sql), m_presence(m_sql)
{
}

int Database::knownSchemaVersion()
{
    QString problem;
    return MigrationCatalog::load(QStringLiteral("sqlite"), {}, &problem).size();
}

StorageError Database::check()
{
    const int known = knownSchemaVersion();
    return m_sql.read([&](Transaction &tx) {
        const Result<QVector<QString>> names = tables(tx);
        if (!names || names->isEmpty())
            return names.error();
        if (!names->contains(schemaTable))
            return invalid(QStringLiteral("The %1 holds tables that are not vorna-service's (it has no "
                                          "schema_migrations table). Give vorna-service an empty database "
                                          "or one of its own.")
                               .arg(describe()));
        const Result<int> version = schemaVersion(tx);
        if (version && *version > known)
            return invalid(QStringLiteral("The %1 has schema version %2, but this vorna-service knows only "
                                          "versions up to %3. Run a newer vorna-service on it.")
                               .arg(describe())
                               .arg(*version)
                               .arg(known));
        return version.error();
    });
}

StorageError Database::migrate(const Progress &progress)
{
    QString problem;
    const QVector<Migration> migrations =
        MigrationCatalog::load(m_sql.dialect().variant, m_sql.dialect().schemaTokens, &problem);
    if (migrations.isEmpty())
        return {Error::Internal, QStringLiteral("This vorna-service carries broken schema migrations (%1). "
                                                "Reinstall it.")
                                     .arg(problem)};
    // Applied ones are skipped without taking the write lock, so starting up stays cheap.
    const Result<int> current = schemaVersion();
    if (!current)
        return current.error();
    QVector<Migration> pending;
    std::copy_if(migrations.cbegin(), migrations.cend(), std::back_inserter(pending),
                 [current = *current](const Migration &migration) { return migration.version > current; });
    const QString phase = QStringLiteral("migrations");
    for (int i = 0; i < pending.size(); ++i) {
        if (progress)
            progress(phase, i, pending.size());
        const Error error = applyMigration(pending.at(i));
        if (!error.ok())
            return error;
    }
    if (!pending.isEmpty() && progress)
        progress(phase, pending.size(), pending.size());
    return Error::none();
}

// Each migration runs under the migration lock and checks the version again inside its
// transaction, so two processes migrating at once take turns and apply it once.
StorageError Database::applyMigration(const Migration &migration)
{
    const QString doing = QStringLiteral("apply the schema migration %1").arg(migration.name);
    const SqlDialect &dialect = m_sql.dialect();
    return m_sql.write(
        doing,
        [&](Transaction &tx) {
            QSqlQuery query(tx.db());
            QStringList preamble = {QStringLiteral("CREATE TABLE IF NOT EXISTS schema_migrations ("
                                                   "version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)"),
                                    QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_migrations")};
            if (!dialect.migrationLock.isEmpty())
                preamble.prepend(dialect.migrationLock);
            for (const QString &statement : qAsConst(preamble)) {
                const Error error = tx.exec(query, statement, {}, doing);
                if (!error.ok())
                    return error;
            }
            if (query.next() && query.value(0).toInt() >= migration.version)
                return Error::none();
            for (const QString &statement : migration.statements) {
                const Error error = tx.exec(query, statement, {}, doing);
                if (!error.ok())
                    return error;
            }
            return tx.exec(query, QStringLiteral("INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)"),
                           {migration.version, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}, doing);
        },
        dialect.beginMigration);
}

Result<int> Database::schemaVersion()
{
    return m_sql.fetch<int>([](Transaction &tx) { return schemaVersion(tx); });
}

Result<int> Database::schemaVersion(Transaction &tx)
{
    const Result<QVector<QString>> names = tables(tx);
    if (!names)
        return names.error();
    if (!names->contains(schemaTable))
        return 0;
    return tx.row<int>(QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_migrations"), {},
                       [](const QSqlQuery &q) { return q.value(0).toInt(); }, QStringLiteral("read the schema version"),
                       StorageError::none());
}

namespace {

// Every kind of record an organisation or an administrator adds, with the condition that
// leaves out what the migrations put there.
const QVector<QPair<QString, QString>> &countedTables()
{
    static const QVector<QPair<QString, QString>> tables{
        {QStringLiteral("departments"), QStringLiteral("departments")},
        {QStringLiteral("employees"), QStringLiteral("employees")},
        {QStringLiteral("presence statuses"), QStringLiteral("presence_statuses WHERE system_key IS NULL")},
        {QStringLiteral("activity kinds"), QStringLiteral("activity_kinds")},
        {QStringLiteral("calendars"), QStringLiteral("calendars")},
        {QStringLiteral("working-day kinds"), QStringLiteral("work_day_kinds")},
        {QStringLiteral("registrations"), QStringLiteral("registrations")},
        {QStringLiteral("users"), QStringLiteral("users")},
        {QStringLiteral("open sessions"), QStringLiteral("sessions")},
        {QStringLiteral("terminals"), QStringLiteral("terminals")},
    };
    return tables;
}

Result<qint64> countOf(Transaction &tx, const QString &from)
{
    return tx.row<qint64>(QStringLiteral("SELECT COUNT(*) FROM %1").arg(from), {},
                          [](const QSqlQuery &q) { return q.value(0).toLongLong(); },
                          QStringLiteral("count the records"), StorageError::none());
}

} // namespace

Result<QVector<QPair<QString, qint64>>> Database::counts()
{
    return m_sql.fetch<QVector<QPair<QString, qint64>>>([](Transaction &tx) -> Result<QVector<QPair<QString, qint64>>> {
        QVector<QPair<QString, qint64>> all;
        for (const auto &[kind, from] : countedTables()) {
            const Result<qint64> n = countOf(tx, from);
            if (!n)
                return n.error();
            all.append({kind, *n});
        }
        return all;
    });
}

Result<bool> Database::holdsData(Transaction &tx)
{
    for (const auto &[kind, from] : countedTables()) {
        const Result<qint64> n = countOf(tx, from);
        if (!n || *n > 0)
            return n ? Result<bool>(true) : Result<bool>(n.error());
    }
    return false;
}

Result<QString> Database::fact(Transaction &tx, const QString &name)
{
    return tx.row<QString>(QStringLiteral("SELECT value FROM service_facts WHERE name = ?"), {name},
                           [](const QSqlQuery &q) { return q.value(0).toString(); },
                           QStringLiteral("read what the service knows of its database"), StorageError::none());
}

StorageError Database::setFact(Transaction &tx, const QString &name, const QString &value)
{
    return tx.change(QStringLiteral("INSERT INTO service_facts (name, value) VALUES (?, ?)"
                                    " ON CONFLICT (name) DO UPDATE SET value = excluded.value"),
                     {name, value}, QStringLiteral("note what the service knows of its database"))
        .error();
}

} // namespace vorna::service
