#include "servicerunner.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <csignal>

namespace {

const int kCommandTimeoutMs = 120000;
const int kStartTimeoutMs = 20000;

} // namespace

ServiceRunner::ServiceRunner(const QString &database)
    : m_database(database)
{
}

ServiceRunner::~ServiceRunner()
{
    if (isRunning())
        kill();
}

int ServiceRunner::command(const QStringList &arguments, const QByteArray &input, QString *output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(VORNA_SERVICE_BINARY), arguments + QStringList{QStringLiteral("--database"), m_database});
    if (!process.waitForStarted())
        return -1;
    process.write(input);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(kCommandTimeoutMs);
    if (output)
        *output = QString::fromUtf8(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

bool ServiceRunner::start(const QStringList &extra)
{
    m_serve.start(QStringLiteral(VORNA_SERVICE_BINARY),
                  QStringList{QStringLiteral("serve"), QStringLiteral("--database"), m_database,
                              QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}
                      + extra);
    if (!m_serve.waitForStarted())
        return false;
    static const QRegularExpression listening(QStringLiteral("listening on \\S*:(\\d+)"));
    QString out;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kStartTimeoutMs && isRunning()) {
        m_serve.waitForReadyRead(100);
        out += QString::fromUtf8(m_serve.readAllStandardOutput());
        const QRegularExpressionMatch match = listening.match(out);
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return true;
        }
    }
    m_log += QString::fromUtf8(m_serve.readAllStandardError()) + out;
    return false;
}

void ServiceRunner::kill()
{
    ::kill(pid_t(m_serve.processId()), SIGKILL);
    m_serve.waitForFinished(10000);
}

int ServiceRunner::terminate()
{
    m_serve.terminate();
    if (!m_serve.waitForFinished(20000))
        return -1;
    return m_serve.exitCode();
}

QString ServiceRunner::url() const
{
    return QStringLiteral("tcp://127.0.0.1:%1/CommService").arg(m_port);
}

QString ServiceRunner::log()
{
    m_log += QString::fromUtf8(m_serve.readAllStandardError());
    return m_log;
}
