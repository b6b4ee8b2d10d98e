#pragma once
// The built vorna-service as a child process of a benchmark: seeds a demo database, serves it on
// a free loopback port and reads its memory and thread count from /proc.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace vorna::bench {

struct ProcessSample
{
    double rssMb = 0;
    // The private part of the resident memory (heap, stacks). VmRSS also counts the database
    // file that each SQLite connection maps, once per connection.
    double anonMb = 0;
    int threads = 0;
};

class ServiceProcess
{
public:
    explicit ServiceProcess(QString binary);
    ~ServiceProcess();

    // `init` and `demo --employees N` into `database`; false with a sentence in `error`.
    bool seed(const QString &database, int employees, QString *error) const;
    // seed(), plus BenchUsers managers "panel-00", "panel-01" ... with the demo
    // password, so that many panels spread over users as an office's do (one user may hold
    // only so many sessions, and the login throttle counts per user).
    bool seedDemo(const QString &database, int employees, QString *error) const;
    static constexpr int BenchUsers = 40;
    static QString benchUser(int index);
    // The text of `serve --help`, to learn which options this build knows.
    QString serveHelp() const;

    // Starts `serve` on 127.0.0.1 with a free port, its log going to `logFile`. Returns the
    // address it listens on, or an empty string with a sentence in `error`.
    QString start(const QString &database, const QStringList &extraOptions, const QString &logFile, QString *error);
    qint64 pid() const { return m_process.processId(); }
    // RSS and threads now; zeros when the process is gone.
    ProcessSample sample() const;
    // Stops the service with SIGTERM (SIGKILL after 60 s); returns how many lines it logged.
    int stop();

private:
    bool runToEnd(const QStringList &arguments, QString *error, const QByteArray &input = {}) const;

    const QString m_binary;
    QProcess m_process;
    QString m_logFile;
    mutable QString m_serveHelp;
};

} // namespace vorna::bench
