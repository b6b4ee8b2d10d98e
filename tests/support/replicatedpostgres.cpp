#include "support/replicatedpostgres.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>
#include <QVersionNumber>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>

namespace vorna::testing {

namespace {

const char *const ServerUser = "postgres";
const char *const StandbyName = "standby1";

quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

} // namespace

QString ReplicatedPostgres::serverPrograms()
{
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList installed = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(installed.begin(), installed.end(), [](const QString &a, const QString &b) {
        return QVersionNumber::fromString(a) > QVersionNumber::fromString(b);
    });
    for (const QString &version : installed) {
        const QString bin = versions.filePath(version + QStringLiteral("/bin"));
        static const char *const needed[] = {"initdb", "pg_ctl", "pg_basebackup", "psql"};
        const bool complete = std::all_of(std::begin(needed), std::end(needed), [&](const char *program) {
            return QFileInfo(bin + QLatin1Char('/') + QLatin1String(program)).isExecutable();
        });
        if (complete)
            return bin;
    }
    return {};
}

ReplicatedPostgres::ReplicatedPostgres()
    : m_programs(serverPrograms())
    , m_dir(QDir::tempPath() + QStringLiteral("/vorna-replica.XXXXXX"))
    , m_asPostgresUser(::geteuid() == 0)
{
}

ReplicatedPostgres::~ReplicatedPostgres()
{
    for (Node node : {First, Second})
        crash(node);
}

bool ReplicatedPostgres::start()
{
    if (m_programs.isEmpty())
        return fail(QStringLiteral("PostgreSQL's server programs are not installed."));
    if (!m_dir.isValid())
        return fail(QStringLiteral("Cannot make a temporary folder: %1").arg(m_dir.errorString()));
    if (m_asPostgresUser) {
        const passwd *owner = ::getpwnam(ServerUser);
        if (!owner || ::chown(QFile::encodeName(m_dir.path()).constData(), owner->pw_uid, owner->pw_gid) != 0)
            return fail(QStringLiteral("Cannot hand the folder %1 to the user %2.").arg(m_dir.path(), QLatin1String(ServerUser)));
    }
    m_ports[First] = freePort();
    m_ports[Second] = freePort();
    if (!m_ports[First] || !m_ports[Second] || m_ports[First] == m_ports[Second])
        return fail(QStringLiteral("Found no two free ports on 127.0.0.1."));
    if (!runAsOwner(QStringLiteral("initdb"), {QStringLiteral("-D"), dataDir(First), QStringLiteral("-A"), QStringLiteral("trust"),
                                               QStringLiteral("-U"), QLatin1String(ServerUser), QStringLiteral("-E"),
                                               QStringLiteral("UTF8"), QStringLiteral("--no-sync")}))
        return false;
    // The primary confirms a commit only once the standby has it.
    if (!startNode(First, {QStringLiteral("synchronous_standby_names=%1").arg(QLatin1String(StandbyName))}))
        return false;
    if (!runAsOwner(QStringLiteral("pg_basebackup"),
                    {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_ports[First]),
                     QStringLiteral("-U"), QLatin1String(ServerUser), QStringLiteral("-D"), dataDir(Second), QStringLiteral("-R"),
                     QStringLiteral("-X"), QStringLiteral("stream"), QStringLiteral("-c"), QStringLiteral("fast"),
                     QStringLiteral("--no-sync")}))
        return false;
    // The standby's walreceiver names itself by the cluster name.
    if (!startNode(Second, {QStringLiteral("cluster_name=%1").arg(QLatin1String(StandbyName))}))
        return false;
    return waitForSynchronousStandby();
}

QString ReplicatedPostgres::connectionString() const
{
    return QStringLiteral("postgresql://%1@127.0.0.1:%2,127.0.0.1:%3/postgres?target_session_attrs=read-write")
        .arg(QLatin1String(ServerUser))
        .arg(m_ports[First])
        .arg(m_ports[Second]);
}

QString ReplicatedPostgres::nodeConnectionString(Node node) const
{
    return QStringLiteral("host=127.0.0.1 port=%1 user=%2 dbname=postgres").arg(m_ports[node]).arg(QLatin1String(ServerUser));
}

bool ReplicatedPostgres::crash(Node node)
{
    if (!m_running[node])
        return true;
    m_running[node] = false;
    return runAsOwner(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataDir(node), QStringLiteral("-m"), QStringLiteral("immediate"),
                                                 QStringLiteral("-w"), QStringLiteral("stop")});
}

bool ReplicatedPostgres::promote(Node node)
{
    return runAsOwner(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataDir(node), QStringLiteral("-w"), QStringLiteral("promote")});
}

bool ReplicatedPostgres::restart(Node node)
{
    if (!runAsOwner(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataDir(node), QStringLiteral("-m"), QStringLiteral("fast"),
                                               QStringLiteral("-w"), QStringLiteral("stop")}))
        return false;
    m_running[node] = false;
    return startNode(node, m_settings[node]);
}

QString ReplicatedPostgres::value(Node node, const QString &sql)
{
    const QStringList rows = column(node, sql);
    return rows.isEmpty() ? QString() : rows.first();
}

QStringList ReplicatedPostgres::column(Node node, const QString &sql)
{
    QProcess psql;
    psql.start(m_programs + QStringLiteral("/psql"),
               {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"), QStringLiteral("-t"), QStringLiteral("-v"),
                QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), nodeConnectionString(node), QStringLiteral("-c"), sql});
    if (!psql.waitForFinished(60000) || psql.exitStatus() != QProcess::NormalExit || psql.exitCode() != 0) {
        psql.kill();
        fail(QStringLiteral("psql could not run \"%1\" on port %2: %3")
                 .arg(sql)
                 .arg(m_ports[node])
                 .arg(QString::fromUtf8(psql.readAllStandardError()).trimmed()));
        return {};
    }
    return QString::fromUtf8(psql.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString ReplicatedPostgres::logTail(Node node) const
{
    QFile log(logFile(node));
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll().right(4000));
}

bool ReplicatedPostgres::runAsOwner(const QString &program, const QStringList &arguments, int timeoutMs)
{
    const QString path = m_programs + QLatin1Char('/') + program;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    // The caller's libpq settings (PGPORT and the like) are not the servers' to read.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : environment.keys()) {
        if (name.startsWith(QLatin1String("PG")))
            environment.remove(name);
    }
    process.setProcessEnvironment(environment);
    if (m_asPostgresUser)
        process.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QLatin1String(ServerUser), QStringLiteral("--"), path} + arguments);
    else
        process.start(path, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        process.kill();
        process.waitForFinished(5000);
        return fail(QStringLiteral("%1 %2 failed: %3").arg(program, arguments.join(QLatin1Char(' ')),
                                                           QString::fromLocal8Bit(process.readAll()).trimmed()));
    }
    return true;
}

bool ReplicatedPostgres::startNode(Node node, const QStringList &settings)
{
    // fsync off: the test stops servers, never the machine, so what they wrote stays in the page cache.
    QStringList options{QStringLiteral("-p %1").arg(m_ports[node]), QStringLiteral("-k %1").arg(m_dir.path()),
                        QStringLiteral("-c listen_addresses=127.0.0.1"), QStringLiteral("-c fsync=off")};
    for (const QString &setting : settings)
        options << QStringLiteral("-c ") + setting;
    m_settings[node] = settings;
    if (!runAsOwner(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), dataDir(node), QStringLiteral("-l"), logFile(node),
                                               QStringLiteral("-w"), QStringLiteral("-o"), options.join(QLatin1Char(' ')),
                                               QStringLiteral("start")}))
        return fail(m_error + QLatin1Char('\n') + logTail(node));
    m_running[node] = true;
    return true;
}

bool ReplicatedPostgres::waitForSynchronousStandby()
{
    const QString state = QStringLiteral("SELECT sync_state FROM pg_stat_replication WHERE application_name = '%1'")
                              .arg(QLatin1String(StandbyName));
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (value(First, state) == QLatin1String("sync"))
            return true;
        QThread::msleep(200);
    }
    return fail(QStringLiteral("The standby did not become synchronous within a minute.\n%1").arg(logTail(Second)));
}

QString ReplicatedPostgres::dataDir(Node node) const
{
    return m_dir.filePath(node == First ? QStringLiteral("first") : QStringLiteral("second"));
}

QString ReplicatedPostgres::logFile(Node node) const
{
    return dataDir(node) + QStringLiteral(".log");
}

bool ReplicatedPostgres::fail(const QString &message)
{
    m_error = message;
    return false;
}

} // namespace vorna::testing
