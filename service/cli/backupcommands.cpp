// backup and restore: consistent copies of an SQLite database while the service runs, and
// putting one back while it does not. PostgreSQL has pg_dump and pg_restore for this.

#include "cli/command.h"
#include "storage/databaselock.h"
#include "storage/sqldialect.h"
#include "storage/sqlitefiles.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace vorna::service {

namespace {

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

// Moves the finished `temporary` to `path` in one rename and makes both durable.
bool putInPlace(const QString &temporary, const QString &path, QString *error)
{
    if (!sqlitefiles::sync(temporary, error))
        return false;
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0) {
        *error = QStringLiteral("Cannot move %1 to %2 (%3).").arg(temporary, path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return sqlitefiles::sync(folderOf(path), error);
}

class Backup final : public StandaloneCommand
{
public:
    QStringList words() const override { return {QStringLiteral("backup")}; }
    QString summary() const override
    {
        return QStringLiteral("Copies the SQLite database to FILE, consistently, also while the service runs.");
    }
    QList<Argument> arguments() const override
    {
        return {{QStringLiteral("FILE"), QStringLiteral("The backup to write; it must not exist yet.")}};
    }

    int runAlone(const QCommandLineParser &, const QStringList &arguments, CommandContext &context) override
    {
        const QString database = context.database();
        const QString file = arguments.constFirst();
        if (isPostgresLocation(database))
            return context.fail(QStringLiteral("backup copies SQLite databases only. For PostgreSQL use its own tool: "
                                               "pg_dump -Fc -f FILE DBNAME (docs/service.md, Backups)."));
        if (!QFile::exists(database))
            return context.fail(QStringLiteral("There is no database at %1. Check --database or --config.").arg(maskedLocation(database)),
                                ExitDatabase);
        if (QFile::exists(file))
            return context.fail(QStringLiteral("%1 exists already. Choose a new name, or remove it first.").arg(file));

        const QString temporary = file + QStringLiteral(".partial");
        QFile::remove(temporary);
        QString error;
        int version = 0;
        // A copy is only kept once it is complete, checked and on disk.
        if (!sqlitefiles::copy(database, temporary, &error) || !sqlitefiles::checkVornaDatabase(temporary, &version, &error)
            || !putInPlace(temporary, file, &error)) {
            QFile::remove(temporary);
            return context.fail(QStringLiteral("The backup failed and nothing was written: %1").arg(error));
        }
        context.out() << QStringLiteral("Backed up %1 to %2 (schema version %3, %4 bytes).\n")
                             .arg(database, file).arg(version).arg(QFileInfo(file).size());
        return ExitOk;
    }
};

class Restore final : public StandaloneCommand
{
public:
    QStringList words() const override { return {QStringLiteral("restore")}; }
    QString summary() const override
    {
        return QStringLiteral("Replaces the SQLite database with the backup FILE; the service must be stopped.");
    }
    QList<Argument> arguments() const override
    {
        return {{QStringLiteral("FILE"), QStringLiteral("A backup made by 'vorna-service backup'.")}};
    }

    int runAlone(const QCommandLineParser &, const QStringList &arguments, CommandContext &context) override
    {
        const QString database = context.database();
        const QString file = arguments.constFirst();
        if (isPostgresLocation(database))
            return context.fail(QStringLiteral("restore writes SQLite databases only. For PostgreSQL use its own tool: "
                                               "pg_restore -d DBNAME FILE (docs/service.md, Backups)."));
        QString error;
        int version = 0;
        if (!sqlitefiles::checkVornaDatabase(file, &version, &error))
            return context.fail(error + QStringLiteral(" Nothing was changed."));
        DatabaseLock lock;
        if (!lock.acquire(database, DatabaseLock::Mode::Exclusive, &error))
            return context.fail(error + QStringLiteral(" Nothing was changed."));

        const QString temporary = database + QStringLiteral(".restoring");
        const QString previous = database + QStringLiteral(".before-restore");
        QFile::remove(temporary);
        if (!sqlitefiles::copy(file, temporary, &error) || !keepPrevious(database, previous, &error)
            || !putInPlace(temporary, database, &error)) {
            QFile::remove(temporary);
            return context.fail(QStringLiteral("The restore failed and the database was left as it was: %1").arg(error));
        }
        // The old database's log must not be replayed onto the new one.
        QFile::remove(database + QStringLiteral("-wal"));
        QFile::remove(database + QStringLiteral("-shm"));
        context.out() << QStringLiteral("Restored %1 from %2 (schema version %3).%4\n")
                             .arg(database, file).arg(version)
                             .arg(QFile::exists(previous) ? QStringLiteral(" The database it replaced is kept as %1.").arg(previous)
                                                          : QString());
        return ExitOk;
    }

private:
    // The replaced database stays as `previous` (a hard link, so the rename over it stays
    // atomic), its write-ahead log folded in first so that the file alone is complete: the
    // log is removed afterwards, and with it whatever it still held.
    static bool keepPrevious(const QString &database, const QString &previous, QString *error)
    {
        if (!QFile::exists(database))
            return true;
        if (!sqlitefiles::foldWriteAheadLog(database, error))
            return false;
        QFile::remove(previous);
        if (::link(QFile::encodeName(database).constData(), QFile::encodeName(previous).constData()) != 0) {
            *error = QStringLiteral("Cannot keep the current database as %1 (%2).")
                         .arg(previous, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        return true;
    }
};

} // namespace

void addBackupCommands(CommandList &commands)
{
    commands.push_back(std::make_unique<Backup>());
    commands.push_back(std::make_unique<Restore>());
}

} // namespace vorna::service
