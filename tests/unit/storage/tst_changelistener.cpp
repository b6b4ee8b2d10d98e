// The listeners that carry presence changes between the processes on one database: what they
// hear after the SQLite journal was pruned, how they notice a lost connection, report it and
// listen again, and the waits between their attempts.

#include "support/storagefixture.h"

#include "storage/changelistener.h"

#include <QFile>

#include <condition_variable>
#include <mutex>
#include <optional>

#include <unistd.h>

using namespace vorna::service;
using namespace std::chrono_literals;

namespace {

// What one listener told, from its own thread.
class Told
{
public:
    std::unique_ptr<PresenceChangeListener> listenOn(PresenceStore &presence)
    {
        return presence.listenForPresenceChanges(
            [this](qint64 department) { note([&] { m_heard << department; }); },
            [this](const QString &problem) { note([&] { m_lost << problem; }); },
            [this] { note([&] { ++m_resumed; }); });
    }

    // Waits, up to a deadline generous for a loaded machine, until `done` holds.
    bool waitFor(const std::function<bool(const Told &)> &done, std::chrono::milliseconds timeout = 20s)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return done(*this); });
    }

    int lost() const { return m_lost.size(); }
    QString lastProblem() const { return m_lost.value(m_lost.size() - 1); }
    int resumed() const { return m_resumed; }
    bool heard(qint64 department) const { return m_heard.contains(department); }
    void forgetHeard()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_heard.clear();
    }

private:
    void note(const std::function<void()> &change)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            change();
        }
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    QVector<qint64> m_heard;
    QStringList m_lost;
    int m_resumed = 0;
};

StorageError announce(Database &storage, qint64 department)
{
    return storage.write(QStringLiteral("import"), [&](Transaction &tx) {
        return PresenceStore::announcePresenceChanges(tx, {department});
    });
}

// A listener starts listening on its own thread a moment after it is made; announces until it
// hears, so that the test goes on only once it listens.
bool announceUntilHeard(Database &storage, Told &told, qint64 department)
{
    for (int attempt = 0; attempt < 60; ++attempt) {
        if (!announce(storage, department).ok())
            return false;
        if (told.waitFor([&](const Told &t) { return t.heard(department); }, 500ms))
            return true;
    }
    return false;
}

// Seconds until the kernel's next keepalive probe on the local TCP port `port`, from
// /proc/net/tcp and tcp6; none when the socket has no keepalive timer running.
std::optional<double> keepaliveDueSeconds(int port)
{
    for (const char *path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile table(QString::fromLatin1(path));
        if (!table.open(QIODevice::ReadOnly))
            continue;
        table.readLine(); // the heading
        while (!table.atEnd()) {
            // sl local_address rem_address st tx:rx tr:when ...
            const QList<QByteArray> fields = table.readLine().simplified().split(' ');
            if (fields.size() < 6 || fields.at(1).split(':').value(1).toInt(nullptr, 16) != port)
                continue;
            const QList<QByteArray> timer = fields.at(5).split(':');
            if (timer.value(0).toInt(nullptr, 16) != 2) // 2: the keepalive timer
                return std::nullopt;
            return timer.value(1).toLongLong(nullptr, 16) / double(sysconf(_SC_CLK_TCK));
        }
    }
    return std::nullopt;
}

} // namespace

class TestChangeListener : public StorageTestCase
{
    Q_OBJECT

private slots:
    void reconnectWaits_data();
    void reconnectWaits();
    void outagesAreToldOnceAndStartWithShortWaits();
    void changeAfterThePruneIsHeard();
    void lostConnectionIsNoticedReportedOnceAndListenedAgain();
};

void TestChangeListener::reconnectWaits_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<int>("waitMs");

    QTest::newRow("first") << 0 << 500;
    QTest::newRow("last short") << ReconnectDelay::ShortAttempts - 1 << 500;
    QTest::newRow("first longer") << ReconnectDelay::ShortAttempts << 1000;
    QTest::newRow("doubling") << ReconnectDelay::ShortAttempts + 3 << 8000;
    QTest::newRow("capped") << ReconnectDelay::ShortAttempts + 6 << 30000;
    QTest::newRow("long outage") << ReconnectDelay::ShortAttempts + 500 << 30000;
}

void TestChangeListener::reconnectWaits()
{
    QFETCH(int, attempt);
    QFETCH(int, waitMs);
    ReconnectDelay delay;
    for (int i = 0; i < attempt; ++i)
        delay.nextMs();
    QCOMPARE(delay.nextMs(), waitMs);
}

// Each outage used to wait as long as the one before had come to, however long ago it ended.
void TestChangeListener::outagesAreToldOnceAndStartWithShortWaits()
{
    QStringList lost;
    int resumed = 0;
    ListeningOutages outages([&](const QString &problem) { lost << problem; }, [&] { ++resumed; });
    outages.listening();
    QCOMPARE(resumed, 0); // listening from the start is no return
    int wait = 0;
    for (int attempt = 0; attempt < ReconnectDelay::ShortAttempts + 10; ++attempt)
        wait = outages.failed(QStringLiteral("refused %1").arg(attempt));
    QCOMPARE(wait, ReconnectDelay::LastMs);
    QCOMPARE(lost, QStringList{QStringLiteral("refused 0")});
    outages.listening();
    outages.listening();
    QCOMPARE(resumed, 1);
    QCOMPARE(outages.failed(QStringLiteral("closed")), ReconnectDelay::FirstMs);
    QCOMPARE(lost.size(), 2);
}

// Once the journal's rows aged and were pruned, SQLite numbered the next row 1 again, below the
// newest one the running service had read, and it never heard another import.
void TestChangeListener::changeAfterThePruneIsHeard()
{
    Database &storage = m_fixture.storage();
    Told told;
    const auto listener = told.listenOn(storage.presence());
    QVERIFY(announceUntilHeard(storage, told, 7));

    QString problem;
    QVERIFY2(m_fixture.execRaw(QStringLiteral("UPDATE presence_changes SET noted_utc = noted_utc - 7200"), &problem),
             qPrintable(problem));
    STORAGE_OK(announce(storage, 8));
    QVERIFY(told.waitFor([](const Told &t) { return t.heard(8); }));
    if (!m_fixture.isPostgres())
        QCOMPARE(m_fixture.scalarRaw(QStringLiteral("SELECT COUNT(*) FROM presence_changes WHERE noted_utc < "
                                                    "(SELECT MAX(noted_utc) FROM presence_changes)"))
                     .toInt(),
                 1); // the aged rows went, but for the one that keeps the numbering going
}

void TestChangeListener::lostConnectionIsNoticedReportedOnceAndListenedAgain()
{
    if (!m_fixture.isPostgres())
        QSKIP("Only PostgreSQL listens on a connection of its own.");
    Database &storage = m_fixture.storage();
    Told told;
    const auto listener = told.listenOn(storage.presence());
    QVERIFY(announceUntilHeard(storage, told, 1));
    // A server gone silent is probed: on every idle connection of the storage, the listener's
    // and the one that announced, the next keepalive probe is due within 10 s, not the
    // system's 2 hours. A local socket has no keepalive and no port.
    const QStringList ports = m_fixture
                                  .scalarRaw(QStringLiteral("SELECT string_agg(client_port::text, ',') FROM pg_stat_activity"
                                                            " WHERE datname = current_database()"
                                                            " AND application_name = 'vorna-service' AND client_port > 0"))
                                  .toString()
                                  .split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &port : ports) {
        const std::optional<double> due = keepaliveDueSeconds(port.toInt());
        QVERIFY2(due, qPrintable(QStringLiteral("The connection from port %1 has no keepalive timer.").arg(port)));
        QVERIFY2(*due <= 10.5, qPrintable(QStringLiteral("The next keepalive probe is %1 s away.").arg(*due)));
    }
    // A cut connection: outage after outage, each reported once and followed by listening again.
    for (int outage = 1; outage <= 3; ++outage) {
        QString problem;
        QVERIFY2(m_fixture.execRaw(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                                  " WHERE datname = current_database() AND query LIKE 'LISTEN %'"),
                                   &problem),
                 qPrintable(problem));
        QVERIFY2(told.waitFor([&](const Told &t) { return t.resumed() == outage; }),
                 qPrintable(QStringLiteral("outage %1: lost %2, resumed %3").arg(outage).arg(told.lost()).arg(told.resumed())));
        QCOMPARE(told.lost(), outage);
        // The server's reason, not only libpq's "server closed the connection".
        QVERIFY2(told.lastProblem().contains(QLatin1String("terminating connection")), qPrintable(told.lastProblem()));
        told.forgetHeard();
        QVERIFY(announceUntilHeard(storage, told, 1));
    }
}

QTEST_GUILESS_MAIN(TestChangeListener)
#include "tst_changelistener.moc"
