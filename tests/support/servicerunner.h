#pragma once
// The built vorna-service for a test or a benchmark: its admin commands run to their end as an
// operator's shell runs them, and `serve` on a free port of 127.0.0.1 until it is stopped.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace vorna::testing {

struct CommandRun
{
    int exitCode = -1; // -1 when it did not start, crashed or ran past its time
    QString out;
    QString err;
};

struct ProcessSample
{
    double rssMb = 0;
    // The private part of the resident memory (heap, stacks). VmRSS also counts the database
    // file that each SQLite connection maps, once per connection.
    double anonMb = 0;
    int threads = 0;
};

class ServiceRunner
{
public:
    static constexpr int CommandTimeoutMs = 120000;
    // Managers "panel-00", "panel-01" ... that addPanelUsers() creates, so that many panels
    // spread over users as an office's do (one user may hold only so many sessions).
    static constexpr int PanelUsers = 40;
    static QString panelUser(int index);
    static QString builtBinary();

    // `database` is what --database gets: an SQLite path or a PostgreSQL connection string.
    explicit ServiceRunner(QString database = QString(), QString binary = builtBinary());
    ~ServiceRunner();
    ServiceRunner(const ServiceRunner &) = delete;
    ServiceRunner &operator=(const ServiceRunner &) = delete;

    void setDatabase(const QString &database) { m_database = database; }
    QString database() const { return m_database; }

    // One command to its end; timeoutMs -1 waits as long as it takes.
    CommandRun run(const QStringList &arguments, const QByteArray &input = QByteArray(),
                   int timeoutMs = CommandTimeoutMs) const;
    // run() on this runner's database; returns the exit code, *output gets both streams.
    int command(const QStringList &arguments, const QByteArray &input = QByteArray(), QString *output = nullptr) const;
    // command() that must exit 0; false with error() otherwise.
    bool commandOk(const QStringList &arguments, const QByteArray &input = QByteArray());
    // `init` and `demo --employees N`, as long as they take.
    bool seed(int employees);
    // PanelUsers managers with the demo password.
    bool addPanelUsers();
    // The text of `serve --help`, to learn which options this build knows.
    QString serveHelp() const;

    // serve's standard error goes to this file instead of log(); set before start().
    void setLogFile(const QString &path) { m_logFile = path; }
    // The environment `serve` starts in; the runner's own by default.
    void setServeEnvironment(const QProcessEnvironment &environment) { m_serve.setProcessEnvironment(environment); }
    // Starts `serve --listen 127.0.0.1:0` with `extra` options and waits for "listening on";
    // false with error() otherwise.
    bool start(const QStringList &extra = QStringList(), int timeoutMs = 30000);
    void kill();
    // SIGTERM, then waits for the exit (SIGKILL after a minute); returns the exit code, -1
    // when it did not exit by itself.
    int terminate();
    bool isRunning() const { return m_serve.state() != QProcess::NotRunning; }

    quint16 port() const { return m_port; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString url() const { return QStringLiteral("tcp://%1/CommService").arg(address()); }
    qint64 pid() const { return m_serve.processId(); }
    // RSS and threads of the serving process now; zeros when it is gone.
    ProcessSample sample() const;
    // What serve wrote to its standard error so far (its event log), for failure messages.
    QString log();
    QString error() const { return m_error; }

private:
    bool fail(const QString &message);
    bool readPort();

    QString m_database;
    QString m_binary;
    QProcess m_serve;
    QString m_output;
    QString m_log;
    QString m_logFile;
    QString m_error;
    quint16 m_port = 0;
};

} // namespace vorna::testing
