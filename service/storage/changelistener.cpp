#include "storage/changelistener.h"

#include <libpq-fe.h>

#include <QDateTime>
#include <QSqlQuery>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace vorna::service {

const char *const PresenceChangeChannel = "vorna_presence";

namespace {

using Connection = std::unique_ptr<PGconn, decltype(&PQfinish)>;
using PgResult = std::unique_ptr<PGresult, decltype(&PQclear)>;

// How often the SQLite journal is read, and how long its rows are kept for a late reader.
constexpr int JournalPollMs = 250;
constexpr qint64 JournalKeepSeconds = 3600;

QString problemOf(PGconn *connection)
{
    return QString::fromUtf8(PQerrorMessage(connection)).trimmed();
}

// Keeps a notice for the problem the listener reports, instead of libpq's default of printing
// it to stderr, outside the event log.
void keepNotice(void *kept, const char *message)
{
    *static_cast<QByteArray *>(kept) = QByteArray(message).simplified();
}

} // namespace

ListenerStop::ListenerStop()
{
    if (::pipe(m_pipe) != 0)
        m_pipe[0] = m_pipe[1] = -1;
}

ListenerStop::~ListenerStop()
{
    for (int fd : m_pipe) {
        if (fd >= 0)
            ::close(fd);
    }
}

void ListenerStop::stop()
{
    m_stopping = true;
    if (m_pipe[1] >= 0) {
        const char stop = 's';
        [[maybe_unused]] const ssize_t written = ::write(m_pipe[1], &stop, 1);
    }
}

bool ListenerStop::pause(int ms)
{
    pollfd stop{m_pipe[0], POLLIN, 0};
    ::poll(&stop, 1, ms);
    return !m_stopping;
}

int ReconnectDelay::nextMs()
{
    const int growth = std::min(m_attempts - ShortAttempts + 1, 16);
    ++m_attempts;
    if (growth <= 0)
        return FirstMs;
    return std::min(FirstMs << growth, LastMs);
}

ListeningOutages::ListeningOutages(LostChanges lost, ResumedChanges resumed)
    : m_lost(std::move(lost))
    , m_resumed(std::move(resumed))
{
}

void ListeningOutages::listening()
{
    m_delay.reset();
    if (m_inOutage)
        m_resumed();
    m_inOutage = false;
}

int ListeningOutages::failed(const QString &problem)
{
    if (!m_inOutage)
        m_lost(problem);
    m_inOutage = true;
    return m_delay.nextMs();
}

PostgresChangeListener::PostgresChangeListener(const QString &connectionString, HeardChange heard, LostChanges lost,
                                               ResumedChanges resumed)
    : m_connectionString(connectionString.toUtf8())
    , m_heard(std::move(heard))
    , m_outages(std::move(lost), std::move(resumed))
{
    m_thread = std::thread([this] { run(); });
}

PostgresChangeListener::~PostgresChangeListener()
{
    m_stop.stop();
    m_thread.join();
}

void PostgresChangeListener::run()
{
    while (!m_stop.stopping()) {
        QString problem;
        if (listenOnce(&problem) || m_stop.stopping())
            return;
        if (!m_stop.pause(m_outages.failed(problem)))
            return;
    }
}

bool PostgresChangeListener::listenOnce(QString *problem)
{
    // The storage's connection defaults: a server that does not answer must not hold the
    // listener (and with it the service's shutdown) for minutes, and one that vanished without
    // closing the connection sends nothing, so panels would miss every change for hours. The
    // whole string, multi-host lists included, is expanded from dbname and wins over them.
    std::vector<const char *> keywords;
    std::vector<const char *> values;
    for (const auto &[key, value] : postgresConnectionDefaults()) {
        keywords.push_back(key);
        values.push_back(value);
    }
    keywords.insert(keywords.end(), {"dbname", nullptr});
    values.insert(values.end(), {m_connectionString.constData(), nullptr});
    const Connection connection(PQconnectdbParams(keywords.data(), values.data(), 1), &PQfinish);
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
    m_serverNotice.clear();
    PQsetNoticeProcessor(connection.get(), &keepNotice, &m_serverNotice);
    m_outages.listening();
    while (!m_stop.stopping()) {
        pollfd watched[2] = {{PQsocket(connection.get()), POLLIN, 0}, {m_stop.wakeDescriptor(), POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR) {
            *problem = QString::fromLocal8Bit(strerror(errno));
            return false;
        }
        if (m_stop.stopping())
            return true;
        // A server that shuts down sends its reason before it closes the connection, so the
        // input may be read and the connection be dead all the same.
        if (!PQconsumeInput(connection.get()) || PQstatus(connection.get()) != CONNECTION_OK) {
            *problem = m_serverNotice.isEmpty() ? problemOf(connection.get())
                                                : QStringLiteral("%1 (%2)").arg(QString::fromUtf8(m_serverNotice),
                                                                                problemOf(connection.get()));
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

JournalChangeListener::JournalChangeListener(SqlExecutor &sql, HeardChange heard, LostChanges lost,
                                             ResumedChanges resumed)
    : m_sql(sql)
    , m_heard(std::move(heard))
    , m_outages(std::move(lost), std::move(resumed))
{
    m_thread = std::thread([this] { run(); });
}

JournalChangeListener::~JournalChangeListener()
{
    m_stop.stop();
    m_thread.join();
}

void JournalChangeListener::run()
{
    // The journal is read at its own pace in an outage too, not at the outage's waits.
    do {
        QString problem;
        if (readNewRows(&problem))
            m_outages.listening();
        else
            m_outages.failed(problem);
    } while (m_stop.pause(JournalPollMs));
}

bool JournalChangeListener::readNewRows(QString *problem)
{
    QVector<qint64> departments;
    const StorageError error = m_sql.read([&](Transaction &tx) -> StorageError {
        departments.clear();
        QSqlQuery query(tx.db());
        if (m_lastSeen < 0) {
            const StorageError start = tx.exec(query, QStringLiteral("SELECT COALESCE(MAX(id), 0) FROM presence_changes"),
                                               {}, QStringLiteral("read the newest presence change"));
            if (start.ok() && query.next())
                m_lastSeen = query.value(0).toLongLong();
            return start;
        }
        const StorageError rows = tx.exec(query,
                                          QStringLiteral("SELECT id, department_id FROM presence_changes WHERE id > ? ORDER BY id"),
                                          {m_lastSeen}, QStringLiteral("read the presence changes"));
        while (rows.ok() && query.next()) {
            m_lastSeen = query.value(0).toLongLong();
            departments << query.value(1).toLongLong();
        }
        return rows;
    });
    if (!error.ok()) {
        *problem = error.message;
        return false;
    }
    for (qint64 department : departments)
        m_heard(department);
    return true;
}

StorageError notePresenceChanges(Transaction &tx, const QSet<qint64> &departmentIds)
{
    const QString doing = QStringLiteral("note the presence changes");
    QSqlQuery query(tx.db());
    if (tx.dialect().engine == SqlDialect::Engine::PostgreSQL) {
        const QString notify = QStringLiteral("SELECT pg_notify('%1', ?)").arg(QLatin1String(PresenceChangeChannel));
        for (qint64 department : departmentIds) {
            const StorageError error = tx.exec(query, notify, {QString::number(department)}, doing);
            if (!error.ok())
                return error;
        }
        return StorageError::none();
    }
    const qint64 nowUtc = QDateTime::currentSecsSinceEpoch();
    // The newest row stays, however old: SQLite numbers a new row one past the highest number
    // in the table, so an emptied journal would start again at 1, below what the readers saw.
    StorageError error = tx.exec(query,
                                 QStringLiteral("DELETE FROM presence_changes WHERE noted_utc < ?"
                                                " AND id < (SELECT MAX(id) FROM presence_changes)"),
                                 {nowUtc - JournalKeepSeconds}, doing);
    for (auto department = departmentIds.begin(); error.ok() && department != departmentIds.end(); ++department)
        error = tx.exec(query, QStringLiteral("INSERT INTO presence_changes (department_id, noted_utc) VALUES (?, ?)"),
                        {*department, nowUtc}, doing);
    return error;
}

} // namespace vorna::service
