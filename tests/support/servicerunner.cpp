#include "support/servicerunner.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QRegularExpression>

#include <csignal>

namespace vorna::testing {

namespace {

QString describe(const QStringList &arguments)
{
    return QStringLiteral("vorna-service ") + arguments.join(QLatin1Char(' '));
}

} // namespace

QString ServiceRunner::builtBinary()
{
    return QStringLiteral(VORNA_SERVICE_BINARY);
}

QString ServiceRunner::panelUser(int index)
{
    return QStringLiteral("panel-%1").arg(index % PanelUsers, 2, 10, QLatin1Char('0'));
}

ServiceRunner::ServiceRunner(QString database, QString binary)
    : m_database(std::move(database))
    , m_binary(std::move(binary))
{
}

ServiceRunner::~ServiceRunner()
{
    if (isRunning())
        kill();
}

CommandRun ServiceRunner::run(const QStringList &arguments, const QByteArray &input, int timeoutMs) const
{
    QProcess process;
    process.start(m_binary, arguments);
    if (!process.waitForStarted(10000))
        return {};
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

int ServiceRunner::command(const QStringList &arguments, const QByteArray &input, QString *output) const
{
    const CommandRun r = run(arguments + QStringList{QStringLiteral("--database"), m_database}, input);
    if (output)
        *output = r.out + r.err;
    return r.exitCode;
}

bool ServiceRunner::commandOk(const QStringList &arguments, const QByteArray &input)
{
    QString output;
    const int exitCode = command(arguments, input, &output);
    if (exitCode == 0)
        return true;
    return fail(QStringLiteral("%1 ended with exit code %2: %3").arg(describe(arguments)).arg(exitCode).arg(output.trimmed().right(2000)));
}

bool ServiceRunner::seed(int employees)
{
    // Seeding 100,000 employees takes minutes; there is no sensible time-out.
    for (const QStringList &arguments : {QStringList{QStringLiteral("init")},
                                         QStringList{QStringLiteral("demo"), QStringLiteral("--employees"),
                                                     QString::number(employees)}}) {
        const CommandRun r = run(arguments + QStringList{QStringLiteral("--database"), m_database}, {}, -1);
        if (r.exitCode != 0)
            return fail(QStringLiteral("%1 ended with exit code %2: %3").arg(describe(arguments)).arg(r.exitCode).arg(r.err.right(2000)));
    }
    return true;
}

bool ServiceRunner::addPanelUsers()
{
    for (int i = 0; i < PanelUsers; ++i) {
        if (!commandOk({QStringLiteral("user"), QStringLiteral("add"), panelUser(i), QStringLiteral("--role"),
                        QStringLiteral("manager"), QStringLiteral("--password-stdin")},
                       "vorna-demo\n"))
            return false;
    }
    return true;
}

QString ServiceRunner::serveHelp() const
{
    const CommandRun r = run({QStringLiteral("serve"), QStringLiteral("--help")}, {}, 30000);
    return r.out + r.err;
}

bool ServiceRunner::start(const QStringList &extra, int timeoutMs)
{
    const QStringList arguments = QStringList{QStringLiteral("serve"), QStringLiteral("--database"), m_database,
                                              QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}
                                  + extra;
    m_output.clear();
    m_port = 0;
    if (!m_logFile.isEmpty())
        m_serve.setStandardErrorFile(m_logFile, QIODevice::Truncate);
    m_serve.start(m_binary, arguments);
    if (!m_serve.waitForStarted(timeoutMs))
        return fail(QStringLiteral("Cannot start %1 (%2).").arg(m_binary, m_serve.errorString()));
    const QDeadlineTimer deadline(timeoutMs);
    while (!readPort()) {
        if (!isRunning())
            return fail(QStringLiteral("%1 ended before it listened: %2").arg(describe(arguments), log().trimmed()));
        if (deadline.hasExpired())
            return fail(QStringLiteral("%1 did not say where it listens within %2 ms.").arg(describe(arguments)).arg(timeoutMs));
        m_serve.waitForReadyRead(100);
    }
    return true;
}

bool ServiceRunner::readPort()
{
    m_output += QString::fromUtf8(m_serve.readAllStandardOutput());
    static const QRegularExpression listening(QStringLiteral("listening on \\S*:(\\d+)"));
    const QRegularExpressionMatch match = listening.match(m_output);
    if (match.hasMatch())
        m_port = quint16(match.captured(1).toUInt());
    return m_port != 0;
}

void ServiceRunner::kill()
{
    ::kill(pid_t(m_serve.processId()), SIGKILL);
    m_serve.waitForFinished(10000);
}

int ServiceRunner::terminate()
{
    if (!isRunning())
        return m_serve.exitStatus() == QProcess::NormalExit ? m_serve.exitCode() : -1;
    m_serve.terminate();
    if (!m_serve.waitForFinished(60000)) {
        kill();
        return -1;
    }
    return m_serve.exitStatus() == QProcess::NormalExit ? m_serve.exitCode() : -1;
}

ProcessSample ServiceRunner::sample() const
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

QString ServiceRunner::log()
{
    if (!m_logFile.isEmpty()) {
        QFile file(m_logFile);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    m_log += QString::fromUtf8(m_serve.readAllStandardError());
    return m_log;
}

bool ServiceRunner::fail(const QString &message)
{
    m_error = message;
    return false;
}

} // namespace vorna::testing
