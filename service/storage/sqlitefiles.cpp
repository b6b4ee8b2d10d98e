#include "storage/sqlitefiles.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace vorna::service::sqlitefiles {

namespace {

// A database handle that closes itself.
class Handle
{
public:
    Handle(const QString &path, int flags) { m_rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db, flags, nullptr); }
    ~Handle() { sqlite3_close_v2(m_db); }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    bool ok() const { return m_rc == SQLITE_OK; }
    sqlite3 *db() const { return m_db; }
    QString message() const { return QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(m_rc)); }

private:
    sqlite3 *m_db = nullptr;
    int m_rc = SQLITE_ERROR;
};

// The first column of the first row of `sql`, or an empty string with `error` set.
QString firstValue(sqlite3 *db, const char *sql, QString *error)
{
    sqlite3_stmt *statement = nullptr;
    QString value;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        return {};
    }
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW)
        value = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
    else if (rc != SQLITE_DONE)
        *error = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    return value;
}

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

// An empty file is an empty SQLite database. Made here rather than by SQLite, which would
// give it the umask's mode.
bool createPrivateFile(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        *error = QStringLiteral("Cannot create %1 (%2). Check that its folder is writable.").arg(path, systemError(errno));
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

bool copy(const QString &from, const QString &to, QString *error)
{
    Handle source(from, SQLITE_OPEN_READONLY);
    if (!source.ok()) {
        *error = QStringLiteral("Cannot open the database %1 (%2).").arg(from, source.message());
        return false;
    }
    // A writer holding the database for a moment is waited for, not failed on.
    sqlite3_busy_timeout(source.db(), 10000);
    if (!createPrivateFile(to, error))
        return false;
    Handle target(to, SQLITE_OPEN_READWRITE);
    if (!target.ok()) {
        *error = QStringLiteral("Cannot create %1 (%2). Check that its folder is writable.").arg(to, target.message());
        return false;
    }
    sqlite3_backup *backup = sqlite3_backup_init(target.db(), "main", source.db(), "main");
    if (!backup) {
        *error = QStringLiteral("Cannot copy %1 to %2 (%3).").arg(from, to, target.message());
        return false;
    }
    // All pages in one step: one read transaction, so one moment of the database.
    int rc = sqlite3_backup_step(backup, -1);
    for (int retry = 0; (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && retry < 50; ++retry) {
        sqlite3_sleep(200);
        rc = sqlite3_backup_step(backup, -1);
    }
    sqlite3_backup_finish(backup);
    // The copy takes the source's WAL mark; a rollback-journal file is complete on its own, and
    // the service turns WAL on again when it opens it.
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(target.db(), "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) == SQLITE_OK ? SQLITE_DONE
                                                                                                           : sqlite3_errcode(target.db());
    if (rc != SQLITE_DONE) {
        *error = QStringLiteral("Cannot copy %1 to %2 (%3).")
                     .arg(from, to, QString::fromUtf8(rc == SQLITE_FULL ? "the disk is full" : sqlite3_errstr(rc)));
        return false;
    }
    return true;
}

bool checkVornaDatabase(const QString &path, int *schemaVersion, QString *error)
{
    Handle db(path, SQLITE_OPEN_READONLY);
    if (!db.ok()) {
        *error = QStringLiteral("Cannot open %1 as an SQLite database (%2).").arg(path, db.message());
        return false;
    }
    QString problem;
    const QString integrity = firstValue(db.db(), "PRAGMA integrity_check", &problem);
    if (integrity != QLatin1String("ok")) {
        *error = QStringLiteral("%1 is not an intact SQLite database (%2).")
                     .arg(path, problem.isEmpty() ? integrity : problem);
        return false;
    }
    const QString version = firstValue(db.db(), "SELECT MAX(version) FROM schema_migrations", &problem);
    *schemaVersion = version.toInt();
    if (!problem.isEmpty() || *schemaVersion <= 0) {
        *error = QStringLiteral("%1 is an SQLite database, but not one of vorna-service (it has no schema version).")
                     .arg(path);
        return false;
    }
    return true;
}

bool readSchemaVersion(const QString &path, int *schemaVersion, QString *error)
{
    *schemaVersion = 0;
    Handle db(path, SQLITE_OPEN_READONLY);
    if (!db.ok()) {
        *error = QStringLiteral("Cannot open %1 as an SQLite database (%2).").arg(path, db.message());
        return false;
    }
    QString problem;
    const int ours = firstValue(db.db(), "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = "
                                         "'schema_migrations'", &problem).toInt();
    const int tables = firstValue(db.db(), "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name "
                                           "NOT LIKE 'sqlite!_%' ESCAPE '!'", &problem).toInt();
    if (ours > 0)
        *schemaVersion = firstValue(db.db(), "SELECT COALESCE(MAX(version), 0) FROM schema_migrations", &problem).toInt();
    if (!problem.isEmpty()) {
        *error = QStringLiteral("%1 cannot be read as an SQLite database (%2). Check --database.").arg(path, problem);
        return false;
    }
    if (ours == 0 && tables > 0) {
        *error = QStringLiteral("%1 holds tables that are not vorna-service's (it has no schema_migrations table). "
                                "Check --database; it was left as it was.").arg(path);
        return false;
    }
    return true;
}

bool foldWriteAheadLog(const QString &path, QString *error)
{
    if (!QFile::exists(path))
        return true;
    {
        Handle db(path, SQLITE_OPEN_READWRITE);
        if (!db.ok()) {
            *error = QStringLiteral("Cannot open %1 to fold its write-ahead log into it (%2).").arg(path, db.message());
            return false;
        }
        // One row: whether the checkpoint was blocked, then the log's frames and those folded.
        QString problem;
        const QString blocked = firstValue(db.db(), "PRAGMA wal_checkpoint(TRUNCATE)", &problem);
        if (!problem.isEmpty() || blocked != QLatin1String("0")) {
            *error = QStringLiteral("The write-ahead log of %1 could not be folded into it (%2). Close every "
                                    "program that has the database open (an sqlite3 shell, for instance), then "
                                    "try again.")
                         .arg(path, problem.isEmpty() ? QStringLiteral("another program is reading the database")
                                                      : problem);
            return false;
        }
    }
    // Closing the last connection removes the log; one that is left over holds transactions.
    if (QFileInfo(path + QStringLiteral("-wal")).size() > 0) {
        *error = QStringLiteral("The write-ahead log of %1 still holds transactions after folding it. Close every "
                                "program that has the database open, then try again.").arg(path);
        return false;
    }
    return true;
}

bool sync(const QString &path, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    const bool done = fd >= 0 && ::fsync(fd) == 0;
    const int failure = errno;
    if (fd >= 0)
        ::close(fd);
    if (!done)
        *error = QStringLiteral("Cannot write %1 to disk (%2).").arg(path, systemError(failure));
    return done;
}

} // namespace vorna::service::sqlitefiles
