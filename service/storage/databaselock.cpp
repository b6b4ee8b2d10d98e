#include "storage/databaselock.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace vorna::service {

DatabaseLock::~DatabaseLock()
{
    release();
}

bool DatabaseLock::acquire(const QString &database, Mode mode, QString *error)
{
    release();
    const QString path = lockFileOf(database);
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0640);
    if (m_fd < 0) {
        *error = QStringLiteral("Cannot create the lock file %1 (%2). Check that its folder is writable.")
                     .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(m_fd, (mode == Mode::Shared ? LOCK_SH : LOCK_EX) | LOCK_NB) == 0)
        return true;
    const int failure = errno;
    release();
    *error = failure == EWOULDBLOCK
        ? (mode == Mode::Shared
               ? QStringLiteral("The database %1 is being restored right now. Nothing was changed; run the command "
                                "again when the restore is done.").arg(database)
               : QStringLiteral("A running vorna-service uses the database %1: the service, or a command that "
                                "works on it (import, for instance). Stop the service (systemctl stop "
                                "vorna-service) or let the command finish, then restore.").arg(database))
        : QStringLiteral("Cannot lock %1 (%2).").arg(path, QString::fromLocal8Bit(std::strerror(failure)));
    return false;
}

void DatabaseLock::release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

} // namespace vorna::service
