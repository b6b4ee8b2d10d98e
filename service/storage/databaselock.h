#pragma once
// The lock that tells `restore` a service or a command is using an SQLite database: every
// command that opens it through the storage (`serve` included) holds a shared flock() on
// DATABASE.lock for its whole run, `restore` needs it exclusively. Otherwise a restore could
// replace the file under a running import and remove the write-ahead log that held its rows.
// SQLite's own locks cannot tell this: in WAL mode an idle service holds none, so BEGIN
// EXCLUSIVE would succeed under a running service. The kernel drops the lock when its holder
// exits, even when killed, so a crash leaves no stale lock behind. A separate file, because closing any descriptor of the
// database file itself would drop SQLite's POSIX locks of this process.

#include <QString>

namespace vorna::service {

class DatabaseLock
{
public:
    enum class Mode { Shared, Exclusive };

    DatabaseLock() = default;
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock &) = delete;
    DatabaseLock &operator=(const DatabaseLock &) = delete;

    // Takes the lock of `database` without waiting. False with a sentence in `error` when
    // another process holds it in a conflicting mode or the lock file cannot be made.
    bool acquire(const QString &database, Mode mode, QString *error);
    void release();

    static QString lockFileOf(const QString &database) { return database + QStringLiteral(".lock"); }

private:
    int m_fd = -1;
};

} // namespace vorna::service
