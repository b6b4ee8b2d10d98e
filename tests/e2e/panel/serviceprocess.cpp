#include "serviceprocess.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

namespace {

constexpr int StopTimeoutMs = 15000;

QString describeRun(const QStringList &arguments)
{
    return QStringLiteral("vorna-service ") + arguments.join(QLatin1Char(' '));
}

} // namespace

ServiceProcess::ServiceProcess(const QString &binary)
    : m_binary(binary)
{
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

bool ServiceProcess::fail(const QString &message)
{
    m_error = message;
    return false;
}

QString ServiceProcess::error() const
{
    return m_error;
}

quint16 ServiceProcess::port() const
{
    return m_port;
}

QString ServiceProcess::log()
{
    m_log += QString::fromUtf8(m_server.readAllStandardError());
    return m_log;
}

bool ServiceProcess::run(const QStringList &arguments, int timeoutMs)
{
    QProcess command;
    command.start(m_binary, arguments);
    if (!command.waitForStarted())
        return fail(QStringLiteral("Cannot start %1: %2").arg(m_binary, command.errorString()));
    if (!command.waitForFinished(timeoutMs)) {
        command.kill();
        command.waitForFinished();
        return fail(QStringLiteral("%1 did not finish within %2 ms.").arg(describeRun(arguments)).arg(timeoutMs));
    }
    if (command.exitStatus() != QProcess::NormalExit || command.exitCode() != 0)
        return fail(QStringLiteral("%1 failed with exit code %2: %3")
                        .arg(describeRun(arguments))
                        .arg(command.exitCode())
                        .arg(QString::fromUtf8(command.readAllStandardError()).trimmed()));
    return true;
}

bool ServiceProcess::serve(const QString &database, int timeoutMs)
{
    const QStringList arguments{QStringLiteral("serve"), QStringLiteral("--database"), database,
                                QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")};
    m_server.start(m_binary, arguments);
    if (!m_server.waitForStarted())
        return fail(QStringLiteral("Cannot start %1: %2").arg(m_binary, m_server.errorString()));
    const QDeadlineTimer deadline(timeoutMs);
    while (!readAddress()) {
        if (m_server.state() != QProcess::Running)
            return fail(QStringLiteral("%1 ended before it listened: %2").arg(describeRun(arguments), log().trimmed()));
        if (deadline.hasExpired())
            return fail(QStringLiteral("%1 did not report its address within %2 ms.").arg(describeRun(arguments)).arg(timeoutMs));
        m_server.waitForReadyRead(100);
    }
    return true;
}

bool ServiceProcess::readAddress()
{
    m_output += QString::fromUtf8(m_server.readAllStandardOutput());
    static const QRegularExpression listening(QStringLiteral("listening on \\S+:(\\d+)"));
    const QRegularExpressionMatch match = listening.match(m_output);
    if (!match.hasMatch())
        return false;
    m_port = quint16(match.captured(1).toUInt());
    return m_port != 0;
}

void ServiceProcess::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(StopTimeoutMs)) {
        m_server.kill();
        m_server.waitForFinished();
    }
    log();
}
