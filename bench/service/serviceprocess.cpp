#include "serviceprocess.h"

#include <QFile>
#include <QRegularExpression>

namespace vorna::bench {

namespace {

QString cannotStart(const QProcess &process)
{
    return QStringLiteral("Cannot start %1 (%2). Build vorna-service, or name the program with --service.")
        .arg(process.program(), process.errorString());
}

} // namespace

ServiceProcess::ServiceProcess(QString binary)
    : m_binary(std::move(binary))
{
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

bool ServiceProcess::runToEnd(const QStringList &arguments, QString *error, const QByteArray &input) const
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(m_binary, arguments);
    process.write(input);
    process.closeWriteChannel();
    // Seeding 100,000 employees takes minutes; there is no sensible time-out.
    process.waitForFinished(-1);
    if (process.error() == QProcess::FailedToStart) {
        *error = cannotStart(process);
        return false;
    }
    if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    const QByteArray output = process.readAll().right(2000);
    *error = QStringLiteral("vorna-service %1 failed (exit code %2):\n%3")
                 .arg(arguments.join(QLatin1Char(' '))).arg(process.exitCode()).arg(QString::fromUtf8(output));
    return false;
}

bool ServiceProcess::seed(const QString &database, int employees, QString *error) const
{
    return runToEnd({QStringLiteral("init"), QStringLiteral("--database"), database}, error)
        && runToEnd({QStringLiteral("demo"), QStringLiteral("--database"), database, QStringLiteral("--employees"),
                     QString::number(employees)}, error);
}

bool ServiceProcess::seedDemo(const QString &database, int employees, QString *error) const
{
    if (!seed(database, employees, error))
        return false;
    for (int i = 0; i < BenchUsers; ++i) {
        if (!runToEnd({QStringLiteral("user"), QStringLiteral("add"), benchUser(i), QStringLiteral("--role"),
                       QStringLiteral("manager"), QStringLiteral("--password-stdin"), QStringLiteral("--database"),
                       database},
                      error, "vorna-demo\n"))
            return false;
    }
    return true;
}

QString ServiceProcess::benchUser(int index)
{
    return QStringLiteral("panel-%1").arg(index % BenchUsers, 2, 10, QLatin1Char('0'));
}

QString ServiceProcess::serveHelp() const
{
    if (m_serveHelp.isEmpty()) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(m_binary, {QStringLiteral("serve"), QStringLiteral("--help")});
        process.waitForFinished(30000);
        m_serveHelp = QString::fromUtf8(process.readAll());
    }
    return m_serveHelp;
}

QString ServiceProcess::start(const QString &database, const QStringList &extraOptions, const QString &logFile,
                              QString *error)
{
    m_logFile = logFile;
    m_process.setStandardErrorFile(logFile, QIODevice::Truncate);
    m_process.start(m_binary, QStringList{QStringLiteral("serve"), QStringLiteral("--database"), database,
                                          QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                          QStringLiteral("--log-level"), QStringLiteral("warning")}
                                  + extraOptions);
    if (!m_process.waitForStarted(30000)) {
        *error = cannotStart(m_process);
        return {};
    }
    const QRegularExpression announcement(QStringLiteral("listening on (\\S+)"));
    while (m_process.waitForReadyRead(60000)) {
        while (m_process.canReadLine()) {
            const QRegularExpressionMatch match = announcement.match(QString::fromUtf8(m_process.readLine()));
            if (match.hasMatch())
                return match.captured(1);
        }
    }
    *error = QStringLiteral("vorna-service serve did not say where it listens within 60 s; its log is %1.").arg(logFile);
    stop();
    return {};
}

ProcessSample ServiceProcess::sample() const
{
    ProcessSample sample;
    QFile status(QStringLiteral("/proc/%1/status").arg(pid()));
    if (pid() <= 0 || !status.open(QIODevice::ReadOnly))
        return sample;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 2)
            continue;
        if (fields[0] == "VmRSS:")
            sample.rssMb = fields[1].toDouble() / 1024.0;
        else if (fields[0] == "RssAnon:")
            sample.anonMb = fields[1].toDouble() / 1024.0;
        else if (fields[0] == "Threads:")
            sample.threads = fields[1].toInt();
    }
    return sample;
}

int ServiceProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return 0;
    m_process.terminate();
    if (!m_process.waitForFinished(60000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
    QFile log(m_logFile);
    return log.open(QIODevice::ReadOnly) ? log.readAll().count('\n') : 0;
}

} // namespace vorna::bench
