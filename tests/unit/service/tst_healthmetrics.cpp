// What an operator's tools read from the service: the metrics labels clients cannot choose, and
// health that turns with what the database workers meet.

#include "commservice.pb.h"
#include "ops/eventlog.h"
#include "ops/healthprobe.h"
#include "ops/rpcmetrics.h"
#include "rpc/databasepool.h"
#include "storage/sqlexecutor.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <google/protobuf/descriptor.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>

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

    // Clients used to choose the label: 300 made-up paths gave 300 series.
    void madeUpPathsShareOneLabel()
    {
        QSet<QString> labels;
        for (int i = 0; i < 300; ++i)
            labels.insert(methodLabel(QByteArray("/vorna.v1.CommService/Made" + QByteArray::number(i)).constData()));
        labels.insert(methodLabel(nullptr));
        QCOMPARE(labels, QSet<QString>{QStringLiteral("other")});
    }

    void everyMethodOfTheContractHasALabelOfItsOwn()
    {
        const google::protobuf::ServiceDescriptor *service =
            vorna::v1::PresenceChunk::descriptor()->file()->FindServiceByName("CommService");
        QVERIFY(service && service->method_count() >= 10);
        for (int i = 0; i < service->method_count(); ++i) {
            const std::string path = "/vorna.v1.CommService/" + service->method(i)->name();
            QCOMPARE(methodLabel(path.c_str()), QString::fromStdString(service->method(i)->name()));
        }
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
            if (!pool.post([&] {
                    job();
                    std::lock_guard<std::mutex> lock(mutex);
                    ++done;
                    told.notify_all();
                }))
                return false;
            std::unique_lock<std::mutex> lock(mutex);
            return told.wait_for(lock, std::chrono::milliseconds(WaitMs), [&] { return done > before; });
        };
        const bool postgres = QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"));

        SqlExecutor sqlite(sqliteDialect(m_dir.filePath(QStringLiteral("reach.db"))));
        StorageError selected, refusedStatement, unreachable = StorageError::none(), again;
        QVERIFY(runJob([&] { selected = selectOne(sqlite); }));
        QVERIFY(runJob([] {}));
        // A statement the database refuses is no outage.
        QVERIFY(runJob([&] { refusedStatement = selectOne(sqlite, QStringLiteral("SELECT * FROM no_such_table")); }));
        if (postgres) {
            QString problem;
            const std::optional<SqlDialect> nowhere =
                postgresDialect(QStringLiteral("host=127.0.0.1 port=1 dbname=vorna connect_timeout=10"), &problem);
            QVERIFY2(nowhere, qPrintable(problem));
            SqlExecutor refused(*nowhere);
            QVERIFY(runJob([&] { unreachable = selectOne(refused); }));
            QVERIFY(runJob([&] { again = selectOne(sqlite); }));
        }
        QVERIFY(runJob([] {}));

        QVERIFY(selected.ok() && !refusedStatement.ok() && again.ok());
        std::lock_guard<std::mutex> lock(mutex);
        QVector<DatabaseReach::State> states;
        for (const DatabaseReach &reach : qAsConst(reaches))
            states << reach.state;
        if (!postgres) {
            QCOMPARE(states, QVector<DatabaseReach::State>{DatabaseReach::Reached});
            return;
        }
        QCOMPARE(unreachable.code, StorageError::Unavailable);
        QCOMPARE(states, (QVector<DatabaseReach::State>{DatabaseReach::Reached, DatabaseReach::Unreachable,
                                                       DatabaseReach::Reached}));
        QCOMPARE(reaches.at(1).why, unreachable.message);
    }
};

QTEST_GUILESS_MAIN(TestHealthMetrics)
#include "tst_healthmetrics.moc"
