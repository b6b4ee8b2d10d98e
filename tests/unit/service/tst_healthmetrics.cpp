// What an operator's tools read from the service: the metrics labels clients cannot choose, health
// that turns with what the database workers meet, and the metrics listener that answers only a
// scrape.

#include "ops/eventlog.h"
#include "ops/healthprobe.h"
#include "ops/metricsserver.h"
#include "ops/rpcmetrics.h"
#include "rpc/databasepool.h"
#include "storage/sqlexecutor.h"
#include "support/loopbacksocket.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

using namespace vorna::service;

namespace {

const int WaitMs = 20000;

// The health service's statuses as the status last set them.
class RecordedHealth final : public grpc::HealthCheckServiceInterface
{
public:
    void SetServingStatus(const std::string &service, bool serving) override { statuses[service] = serving; }
    void SetServingStatus(bool serving) override { statuses[""] = serving; }
    std::map<std::string, bool> statuses;

    // Serving (1) or not (0) for both names, or -1 when they differ or were never set.
    int both() const
    {
        const auto all = statuses.find("");
        const auto ours = statuses.find("vorna.v1.CommService");
        if (all == statuses.end() || ours == statuses.end() || all->second != ours->second)
            return -1;
        return all->second ? 1 : 0;
    }
};

// The health lines written while a test runs.
QStringList healthLines;

void recordHealthLine(const char *event, std::initializer_list<EventLog::Field> fields)
{
    if (qstrcmp(event, "health") != 0)
        return;
    QStringList pairs;
    for (const EventLog::Field &field : fields)
        pairs << QLatin1String(field.key) + QLatin1Char('=') + field.value;
    healthLines << pairs.join(QLatin1Char(' '));
}

// A probe of "SELECT 1" on `sql`, as a job of the database workers runs its storage work.
StorageError selectOne(SqlExecutor &sql, const QString &statement = QStringLiteral("SELECT 1"))
{
    return sql.read([&](Transaction &tx) {
        QSqlQuery query(tx.db());
        return tx.exec(query, statement, {}, QStringLiteral("run a test statement"));
    });
}

// The first line of the answer to `head`, sent to 127.0.0.1:port as it stands (no body after
// it, whatever it announces), and whether the listener closed the connection after answering.
struct Answer
{
    QByteArray statusLine;
    bool closed = false;
};

Answer ask(int port, const QByteArray &head)
{
    Answer answer;
    const int fd = connectLoopback(port);
    if (fd < 0 || ::send(fd, head.constData(), size_t(head.size()), MSG_NOSIGNAL) != head.size()) {
        ::close(fd);
        return answer;
    }
    QByteArray received;
    pollfd readable{fd, POLLIN, 0};
    while (::poll(&readable, 1, WaitMs) == 1) {
        char buffer[4096];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            answer.closed = true;
            break;
        }
        received.append(buffer, int(got));
    }
    ::close(fd);
    answer.statusLine = received.left(received.indexOf("\r\n"));
    return answer;
}

} // namespace

class TestHealthMetrics : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void init()
    {
        healthLines.clear();
        EventLog::setObserver(recordHealthLine);
    }

    void cleanup() { EventLog::setObserver(nullptr); }

    void methodLabels_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("label");
        QTest::newRow("a method of ours") << QByteArray("/vorna.v1.CommService/Login") << QStringLiteral("Login");
        QTest::newRow("health check") << QByteArray("/grpc.health.v1.Health/Check") << QStringLiteral("Check");
        QTest::newRow("reflection") << QByteArray("/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo")
                                    << QStringLiteral("ServerReflectionInfo");
        QTest::newRow("made-up method of our service") << QByteArray("/vorna.v1.CommService/Login2") << QStringLiteral("other");
        QTest::newRow("our method name under another service") << QByteArray("/evil.Service/Login") << QStringLiteral("other");
        QTest::newRow("method name without a service") << QByteArray("Login") << QStringLiteral("other");
        QTest::newRow("trailing segment") << QByteArray("/vorna.v1.CommService/Login/x") << QStringLiteral("other");
        QTest::newRow("empty") << QByteArray("") << QStringLiteral("other");
        QTest::newRow("2,000 characters") << QByteArray("/x/" + QByteArray(2000, 'a')) << QStringLiteral("other");
    }

    void methodLabels()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, label);
        QCOMPARE(methodLabel(path.constData()), label);
    }

    void healthTurnsAtTheFirstFailureAndTheNextSuccess()
    {
        qint64 now = 0;
        RecordedHealth health;
        HealthStatus status([&] { return now; });
        status.attach(&health);
        status.report(true);
        QCOMPARE(health.both(), 1);
        QVERIFY2(healthLines.isEmpty(), qPrintable(healthLines.join(QLatin1Char('\n'))));

        for (int i = 0; i < 100; ++i)
            status.report(false, QStringLiteral("Cannot open the database."));
        QCOMPARE(health.both(), 0);
        now += 5000;
        for (int i = 0; i < 100; ++i)
            status.report(true);
        QCOMPARE(health.both(), 1);
        // A burst of failures is one line, the way back another.
        QCOMPARE(healthLines, (QStringList{QStringLiteral("status=NOT_SERVING msg=Cannot open the database. changes=1"),
                                           QStringLiteral("status=SERVING changes=1")}));
    }

    void aDatabaseComingAndGoingIsSummedUp()
    {
        qint64 now = 0;
        RecordedHealth health;
        HealthStatus status([&] { return now; });
        status.attach(&health);
        status.report(false, QStringLiteral("first"));
        for (int i = 0; i < 50; ++i) {
            now += 5;
            status.report(true);
            QCOMPARE(health.both(), 1);
            status.report(false, QStringLiteral("again"));
            QCOMPARE(health.both(), 0);
        }
        now += 5;
        status.report(true);
        QCOMPARE(healthLines.size(), 1);
        // After the quiet time the next report, whatever it says, writes what the log missed.
        now += HealthStatus::QuietMs;
        status.report(true);
        QCOMPARE(healthLines.size(), 2);
        QCOMPARE(healthLines.last(), QStringLiteral("status=SERVING changes=101"));
    }

    void afterShutdownReportsChangeNothing()
    {
        qint64 now = 0;
        RecordedHealth health;
        HealthStatus status([&] { return now; });
        status.report(false, QStringLiteral("before the server runs"));
        QVERIFY(health.statuses.empty());
        status.attach(&health);
        status.report(false, QStringLiteral("down"));
        status.report(true);
        status.freeze();
        // The change the quiet time held back is written at the freeze.
        QCOMPARE(healthLines.size(), 2);
        QCOMPARE(healthLines.last(), QStringLiteral("status=SERVING changes=1"));
        health.statuses.clear();
        status.report(false, QStringLiteral("during the shutdown"));
        status.report(true);
        QVERIFY(health.statuses.empty());
        QCOMPARE(healthLines.size(), 2);
    }

    // A refused connection turns health; a statement the database refuses, or a job that does
    // not touch the database, does not.
    void databaseWorkersReportWhatEachJobMet()
    {
        std::mutex mutex;
        std::condition_variable told;
        QVector<DatabaseReach> reaches;
        int done = 0;
        DatabasePool pool(1, 16, [&](const DatabaseReach &reach) {
            std::lock_guard<std::mutex> lock(mutex);
            reaches << reach;
        });
        // One worker: a job starts only after the report of the one before it.
        const auto runJob = [&](const std::function<void()> &job) {
            const int before = done;
            const bool posted = pool.post([&] {
                job();
                std::lock_guard<std::mutex> lock(mutex);
                ++done;
                told.notify_all();
            });
            std::unique_lock<std::mutex> lock(mutex);
            return posted && told.wait_for(lock, std::chrono::milliseconds(WaitMs), [&] { return done > before; });
        };
        SqlExecutor sqlite(sqliteDialect(m_dir.filePath(QStringLiteral("reach.db"))));
        QString problem;
        const std::optional<SqlDialect> nowhere =
            postgresDialect(QStringLiteral("host=127.0.0.1 port=1 dbname=vorna connect_timeout=10"), &problem);
        QVERIFY2(nowhere, qPrintable(problem));
        SqlExecutor refused(*nowhere);

        StorageError selected, refusedStatement, unreachable, again;
        QVERIFY(runJob([&] { selected = selectOne(sqlite); }));
        QVERIFY(runJob([] {}));
        QVERIFY(runJob([&] { refusedStatement = selectOne(sqlite, QStringLiteral("SELECT * FROM no_such_table")); }));
        QVERIFY(runJob([&] { unreachable = selectOne(refused); }));
        QVERIFY(runJob([&] { again = selectOne(sqlite); }));
        QVERIFY(runJob([] {}));

        QVERIFY(selected.ok() && !refusedStatement.ok() && again.ok());
        QCOMPARE(unreachable.code, StorageError::Unavailable);
        std::lock_guard<std::mutex> lock(mutex);
        QVector<DatabaseReach::State> states;
        for (const DatabaseReach &reach : qAsConst(reaches))
            states << reach.state;
        QCOMPARE(states, (QVector<DatabaseReach::State>{DatabaseReach::Reached, DatabaseReach::Unreachable,
                                                       DatabaseReach::Reached}));
        QCOMPARE(reaches.at(1).why, unreachable.message);
    }

    void metricsListenerAnswersOnlyAScrape_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("status");
        QTest::newRow("scrape") << QByteArray("GET /metrics HTTP/1.1\r\nHost: t\r\n\r\n") << QByteArray("HTTP/1.1 200 OK");
        // The body is announced and never sent: the answer must not wait for it.
        QTest::newRow("POST of 200 MB") << QByteArray("POST /metrics HTTP/1.1\r\nHost: t\r\nContent-Length: 209715200\r\n\r\n")
                                        << QByteArray("HTTP/1.1 405 Method Not Allowed");
        QTest::newRow("chunked PUT") << QByteArray("PUT /metrics HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n")
                                     << QByteArray("HTTP/1.1 405 Method Not Allowed");
        QTest::newRow("POST elsewhere") << QByteArray("POST /upload HTTP/1.1\r\nHost: t\r\nContent-Length: 209715200\r\n\r\n")
                                        << QByteArray("HTTP/1.1 404 Not Found");
        QTest::newRow("GET with a body") << QByteArray("GET /metrics HTTP/1.1\r\nHost: t\r\nContent-Length: 1000000\r\n\r\n")
                                         << QByteArray("HTTP/1.1 413 Payload Too Large");
    }

    void metricsListenerAnswersOnlyAScrape()
    {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, status);
        MetricsServer server;
        QString error;
        QVERIFY2(server.start(QStringLiteral("127.0.0.1:0"), &error), qPrintable(error));
        const Answer answer = ask(server.address().section(QLatin1Char(':'), 1).toInt(), head);
        QCOMPARE(answer.statusLine, status);
        // One request per connection: nothing sent after it is read.
        QVERIFY(answer.closed);
    }

    // httplib's default socket options let a second listener bind the same port and take a
    // share of the scrapes.
    void aSecondMetricsListenerOnThePortIsRefused()
    {
        MetricsServer first, second;
        QString error;
        QVERIFY2(first.start(QStringLiteral("127.0.0.1:0"), &error), qPrintable(error));
        QVERIFY(!second.start(first.address(), &error));
        QCOMPARE(error, QStringLiteral("Cannot serve metrics on %1: the address is in use or not available here. "
                                       "Choose another --metrics-listen address.").arg(first.address()));
        const Answer answer = ask(first.address().section(QLatin1Char(':'), 1).toInt(),
                                  "GET /metrics HTTP/1.1\r\nHost: t\r\n\r\n");
        QCOMPARE(answer.statusLine, QByteArray("HTTP/1.1 200 OK"));
    }

    // httplib's stop() did nothing before its loop ran, and the join then waited for ever.
    void metricsListenerStopsRightAfterItStarts()
    {
        std::thread startsAndStops([] {
            for (int i = 0; i < 20; ++i) {
                MetricsServer server;
                QString error;
                if (server.start(QStringLiteral("127.0.0.1:0"), &error))
                    server.stop();
            }
        });
        std::promise<void> ended;
        std::future<void> joined = ended.get_future();
        std::thread joiner([&] {
            startsAndStops.join();
            ended.set_value();
        });
        const bool stopped = joined.wait_for(std::chrono::milliseconds(WaitMs)) == std::future_status::ready;
        if (!stopped)
            qFatal("A metrics listener did not stop within %d ms of its start.", WaitMs);
        joiner.join();
    }
};

QTEST_GUILESS_MAIN(TestHealthMetrics)
#include "tst_healthmetrics.moc"
