#include "storage.h"

#include "sqlstorage.h"

#include <QDir>
#include <QFileInfo>

namespace vorna::service {

namespace {

StorageError prepareSqliteFolder(const QString &path)
{
    if (path.trimmed().isEmpty())
        return {StorageError::InvalidArgument,
                QStringLiteral("No database was given. Give the path of an SQLite file or a PostgreSQL connection string.")};
    const QString folder = QFileInfo(path).absolutePath();
    if (QDir().mkpath(folder))
        return StorageError::none();
    return {StorageError::Unavailable,
            QStringLiteral("Cannot create the folder %1 for the SQLite database. Check that the service may write "
                           "there, or give another path.")
                .arg(QDir::toNativeSeparators(folder))};
}

std::optional<SqlDialect> dialectFor(const QString &location, StorageError *error)
{
    if (isPostgresLocation(location)) {
        QString problem;
        std::optional<SqlDialect> dialect = postgresDialect(location, &problem);
        if (!dialect)
            *error = {StorageError::InvalidArgument,
                      QStringLiteral("The PostgreSQL connection string cannot be read (%1). Write it as "
                                     "\"postgresql://user@host:port/database\" or \"host=... dbname=...\".")
                          .arg(problem)};
        return dialect;
    }
    *error = prepareSqliteFolder(location);
    if (!error->ok())
        return std::nullopt;
    return sqliteDialect(location);
}

} // namespace

std::unique_ptr<Storage> openStorage(const QString &location, StorageError *error)
{
    StorageError failure;
    StorageError *result = error ? error : &failure;
    const std::optional<SqlDialect> dialect = dialectFor(location, result);
    if (!dialect)
        return nullptr;
    auto storage = std::make_unique<SqlStorage>(*dialect);
    *result = storage->check();
    if (!result->ok())
        return nullptr;
    return storage;
}

} // namespace vorna::service
