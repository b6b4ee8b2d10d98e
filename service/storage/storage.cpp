#include "storage.h"

#include "sqlstorage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vorna::service {

namespace {

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
                    .arg(path)};
    const StorageError folder = prepareSqliteFolder(path);
    return folder.ok() ? createPrivateFile(path) : folder;
}

std::optional<SqlDialect> dialectFor(const QString &location, OpenMode mode, StorageError *error)
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
    *error = prepareSqliteFile(location, mode);
    if (!error->ok())
        return std::nullopt;
    return sqliteDialect(location, mode == OpenMode::CreateIfMissing);
}

} // namespace

std::unique_ptr<Storage> openStorage(const QString &location, StorageError *error, OpenMode mode)
{
    StorageError failure;
    StorageError *result = error ? error : &failure;
    const std::optional<SqlDialect> dialect = dialectFor(location, mode, result);
    if (!dialect)
        return nullptr;
    auto storage = std::make_unique<SqlStorage>(*dialect);
    *result = storage->check();
    if (!result->ok())
        return nullptr;
    return storage;
}

} // namespace vorna::service
