#pragma once
// A replicated PostgreSQL on 127.0.0.1 for a test or a benchmark: a primary and a synchronous
// standby made with the server's own programs (initdb, pg_basebackup -R, pg_ctl), run as the
// postgres user when we are root, as initdb demands. Both stop, and their files go, with the
// object.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace vorna::testing {

class ReplicatedPostgres
{
public:
    enum Node { First = 0, Second = 1 }; // First starts as the primary, Second as its standby

    // The folder of the newest installed server programs; empty when initdb, pg_ctl or
    // pg_basebackup is missing.
    static QString serverPrograms();

    ReplicatedPostgres();
    ~ReplicatedPostgres();
    ReplicatedPostgres(const ReplicatedPostgres &) = delete;
    ReplicatedPostgres &operator=(const ReplicatedPostgres &) = delete;

    // Makes and starts the primary and its standby, and waits until the standby confirms
    // every commit (synchronous); false with error() otherwise.
    bool start();
    // The service's connection string: both nodes, whichever takes writes.
    QString connectionString() const;
    // A connection string for one node alone.
    QString nodeConnectionString(Node node) const;
    quint16 port(Node node) const { return m_ports[node]; }

    // Stops a node at once, as a crash would (pg_ctl -m immediate).
    bool crash(Node node);
    // Makes a standby the primary and waits until it takes writes.
    bool promote(Node node);
    // Stops a node, ending its connections, and starts it again.
    bool restart(Node node);

    // The single value of `sql` on `node`, through psql; empty with error() on failure.
    QString value(Node node, const QString &sql);
    // The values of `sql`'s first column, one per row.
    QStringList column(Node node, const QString &sql);

    QString error() const { return m_error; }
    // The end of a node's server log, for failure messages.
    QString logTail(Node node) const;

private:
    bool runAsOwner(const QString &program, const QStringList &arguments, int timeoutMs = 120000);
    bool startNode(Node node, const QStringList &settings);
    bool waitForSynchronousStandby();
    QString dataDir(Node node) const;
    QString logFile(Node node) const;
    bool fail(const QString &message);

    QString m_programs;
    QTemporaryDir m_dir;
    quint16 m_ports[2] = {0, 0};
    bool m_running[2] = {false, false};
    QStringList m_settings[2]; // each node's own server settings, for a restart
    bool m_asPostgresUser = false;
    QString m_error;
};

} // namespace vorna::testing
