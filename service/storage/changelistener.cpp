#include "changelistener.h"

#include <libpq-fe.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace vorna::service {

const char *const PresenceChangeChannel = "vorna_presence";

namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

const char *const ConnectSeconds = "10";
constexpr int FirstRetryMs = 500;
constexpr int LastRetryMs = 30000;

QString problemOf(PGconn *connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).trimmed();
}

} // namespace

PostgresChangeListener::PostgresChangeListener(const QString &connectionString, Heard heard, Lost lost)
    : m_connectionString(connectionString.toUtf8())
    , m_heard(std::move(heard))
    , m_lost(std::move(lost))
{
    if (::pipe(m_stopPipe) != 0)
        m_stopPipe[0] = m_stopPipe[1] = -1;
    m_thread = std::thread([this] { run(); });
}

PostgresChangeListener::~PostgresChangeListener()
{
    m_stopping = true;
    if (m_stopPipe[1] >= 0) {
        const char stop = 's';
        [[maybe_unused]] const ssize_t written = ::write(m_stopPipe[1], &stop, 1);
    }
    m_thread.join();
    for (int fd : m_stopPipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

void PostgresChangeListener::run()
{
    int retryMs = FirstRetryMs;
    while (!m_stopping) {
        QString problem;
        if (listenOnce(&problem) || m_stopping)
            return;
        m_lost(problem);
        if (!pause(retryMs))
            return;
        retryMs = std::min(retryMs * 2, LastRetryMs);
    }
}

bool PostgresChangeListener::listenOnce(QString *problem)
{
    // A time limit of our own, which the connection string may override: a server that does
    // not answer must not hold the listener (and with it the service's shutdown) for minutes.
    const char *const keywords[] = {"connect_timeout", "dbname", nullptr};
    const char *const values[] = {ConnectSeconds, m_connectionString.constData(), nullptr};
    const Connection connection(PQconnectdbParams(keywords, values, 1), &PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK) {
        *problem = problemOf(connection.get());
        return false;
    }
    const QByteArray listen = QByteArray("LISTEN ") + PresenceChangeChannel;
    const PgResult listening(PQexec(connection.get(), listen.constData()), &PQclear);
    if (PQresultStatus(listening.get()) != PGRES_COMMAND_OK) {
        *problem = problemOf(connection.get());
        return false;
    }
    while (!m_stopping) {
        pollfd watched[2] = {{PQsocket(connection.get()), POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR) {
            *problem = QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        if (m_stopping)
            return true;
        if (!PQconsumeInput(connection.get())) {
            *problem = problemOf(connection.get());
            return false;
        }
        while (PGnotify *notice = PQnotifies(connection.get())) {
            bool number = false;
            const qint64 department = QByteArray(notice->extra).toLongLong(&number);
            PQfreemem(notice);
            if (number)
                m_heard(department);
        }
    }
    return true;
}

bool PostgresChangeListener::pause(int ms)
{
    pollfd stop{m_stopPipe[0], POLLIN, 0};
    ::poll(&stop, 1, ms);
    return !m_stopping;
}

} // namespace vorna::service
