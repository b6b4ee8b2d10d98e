#pragma once
// A real vorna-service for a test: runs its admin commands to their end and serves on
// 127.0.0.1 at a port the system picks, until stop() or the end of the object.

#include <QProcess>
#include <QString>
#include <QStringList>

class ServiceProcess
{
public:
    explicit ServiceProcess(const QString &binary);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // Runs `vorna-service <arguments>` and waits for it; false with error() when it could not
    // start, ran past `timeoutMs` or ended with an exit code other than 0.
    bool run(const QStringList &arguments, int timeoutMs);
    // Starts `serve` on `database` and waits for its "listening on ADDRESS" line.
    bool serve(const QString &database, int timeoutMs);
    // Asks the service to shut down (SIGTERM) and waits for it.
    void stop();

    quint16 port() const;
    QString error() const;
    // What the serving process wrote to its standard error so far: its event log.
    QString log();

private:
    bool fail(const QString &message);
    bool readAddress();

    QString m_binary;
    QProcess m_server;
    QString m_output;
    QString m_log;
    quint16 m_port = 0;
    QString m_error;
};
