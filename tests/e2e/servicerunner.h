#pragma once
// Runs the real vorna-service binary for a test: its admin commands, and `serve` on a free
// port of 127.0.0.1 until the test stops or kills it.

#include <QProcess>
#include <QString>
#include <QStringList>

class ServiceRunner
{
public:
    // `database` is what --database gets: an SQLite path or a PostgreSQL connection string.
    explicit ServiceRunner(const QString &database);
    ~ServiceRunner();

    // Runs one admin command to its end; returns its exit code (-1 when it did not finish).
    int command(const QStringList &arguments, const QByteArray &input = QByteArray(), QString *output = nullptr);

    // Starts `serve --listen 127.0.0.1:0` with `extra` options and waits for "listening on".
    bool start(const QStringList &extra = QStringList());
    void kill();
    // SIGTERM, then waits for the exit; returns the exit code.
    int terminate();
    bool isRunning() const { return m_serve.state() != QProcess::NotRunning; }

    int port() const { return m_port; }
    QString url() const;
    // What serve wrote to stderr so far (its event log), for failure messages.
    QString log();

private:
    QString m_database;
    QProcess m_serve;
    int m_port = 0;
    QString m_log;
};
