// The real client library against the real vorna-service on 127.0.0.1: a temporary SQLite
// database always, and a fresh PostgreSQL database when VORNA_TEST_PG names a server (a libpq
// keyword string such as "host=127.0.0.1 port=5432 user=postgres" whose user may create
// databases).

#include <ostrel/clientobjectqml.h>
#include "commservice.grpc.pb.h"
#include "support/loopbacksocket.h"
#include <pindle/pindle.h>
#include "support/servicerunner.h"
#include "support/signalrecorder.h"
#include "storage/database.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <grpcpp/create_channel.h>
#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/security/credentials.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <limits>
#include <map>
#include <memory>

using namespace vorna::service;
using vorna::testing::ServiceRunner;

namespace {

const QString kManager = QStringLiteral("manager");
const QString kViewer = QStringLiteral("viewer");
const QString kPassword = QStringLiteral("e2e pass word");
const int kEmployees = 300;
const int kPictureBytes = 5000;
// The moment the presence tests ask about, and the registrations around it (civil).
const QDateTime kAt(QDate(2024, 6, 3), QTime(12, 0), Qt::LocalTime);
const QDateTime kArrival(QDate(2024, 6, 3), QTime(8, 15), Qt::UTC);
const QDateTime kOldArrival(QDate(2024, 6, 1), QTime(7, 45), Qt::UTC);

QString employeeId(int index)
{
    return QStringLiteral("E%1").arg(index, 4, 10, QLatin1Char('0'));
}

// One database with its service, per backend.
struct Backend
{
    QString location;
    QString pgName;   // the PostgreSQL database to drop at the end; empty for SQLite
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<Database> storage;
    std::unique_ptr<ServiceRunner> service;
};

QString seed(Database &storage)
{
    StorageError error = storage.migrate();
    if (!error.ok())
        return error.message;
    Department department{0, QStringLiteral("Assembly")};
    PresenceStatus present{0, QStringLiteral("Present"), 0x0000ff00};
    if (!(error = storage.organisation().addDepartment(department)).ok() || !(error = storage.organisation().addPresenceStatus(present)).ok())
        return error.message;
    ActivityKind arrival{0, QStringLiteral("Arrival"), present.id};
    Calendar shiftA{0, QStringLiteral("Shift A"), 0x000000ff};
    Calendar shiftB{0, QStringLiteral("Shift B"), 0x00ff0000};
    WorkDayKind holiday{0, QStringLiteral("Holiday"), 0x0000ffff};
    if (!(error = storage.organisation().addActivityKind(arrival)).ok() || !(error = storage.organisation().addCalendar(shiftA)).ok()
        || !(error = storage.organisation().addCalendar(shiftB)).ok() || !(error = storage.organisation().addWorkDayKind(holiday)).ok())
        return error.message;

    QVector<Employee> employees;
    QVector<Registration> registrations;
    for (int i = 0; i < kEmployees; ++i) {
        Employee employee;
        employee.id = employeeId(i);
        employee.lastName = QStringLiteral("Lastname%1").arg(i, 4, 10, QLatin1Char('0'));
        employee.firstName = QStringLiteral("First");
        employee.departmentId = department.id;
        employee.picture = QByteArray(kPictureBytes, char('A' + i % 26)) + employee.id.toLatin1();
        employee.pictureDigest = QCryptographicHash::hash(employee.picture, QCryptographicHash::Sha256);
        employees.append(employee);
        // Every tenth employee has no registration; every seventh came two days early.
        if (i % 10 != 0)
            registrations.append({employee.id, i % 7 == 0 ? kOldArrival : kArrival, arrival.id, QStringLiteral("e2e")});
    }
    if (!(error = storage.organisation().addEmployees(employees)).ok() || !(error = storage.organisation().addRegistrations(registrations)).ok())
        return error.message;
    return QString();
}

// A fresh PostgreSQL database on the server VORNA_TEST_PG names; returns its name.
QString createPgDatabase(const QByteArray &server, QString *error)
{
    const QString name = QStringLiteral("vorna_e2e_%1_%2").arg(QCoreApplication::applicationPid()).arg(QDateTime::currentMSecsSinceEpoch());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("e2e-admin"));
        db.setDatabaseName(QStringLiteral("postgres"));
        db.setConnectOptions(QString::fromLocal8Bit(server).replace(QLatin1Char(' '), QLatin1Char(';')));
        if (!db.open()) {
            *error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(QStringLiteral("CREATE DATABASE %1").arg(name)))
                *error = query.lastError().text();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-admin"));
    return error->isEmpty() ? name : QString();
}

void dropPgDatabase(const QByteArray &server, const QString &name)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("e2e-admin"));
        db.setDatabaseName(QStringLiteral("postgres"));
        db.setConnectOptions(QString::fromLocal8Bit(server).replace(QLatin1Char(' '), QLatin1Char(';')));
        if (db.open())
            QSqlQuery(db).exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("e2e-admin"));
}

// A closed port: bound once, then released.
int closedPort()
{
    int port = 0;
    ::close(bindLoopback(&port));
    return port;
}

} // namespace

class TestE2eClient : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data();
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void everyRequestAnswersInOrder();
    void assignmentShowsInHistoryAndAudit();
    void viewerIsRefusedAssignments();
    void wrongPasswordAndThrottling();
    void sessionExpiryDisconnects();
    void killedServiceEndsStreamThenDisconnects();
    void badAddressesFailOnce();
    void oversizedAndMalformedRequestsAreRefused();
    void presenceChangesReachTheWatchingPanels();

private:
    Backend &backend();
    void connectAndLogin(ClientObjectQml &client, SignalRecorder &log, const QString &url, const QString &user);
    std::unique_ptr<ServiceRunner> startOwnService(const QStringList &extra);

    std::map<bool, Backend> m_backends; // by "postgres"
    QTemporaryDir m_settingsDir;
    std::unique_ptr<ClientObjectQml> m_client;
    std::unique_ptr<SignalRecorder> m_log;
};

void TestE2eClient::initTestCase_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::newRow("sqlite") << false;
    QTest::newRow("postgresql") << true;
}

void TestE2eClient::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QVERIFY(SettingsIniOpenAt(m_settingsDir.filePath(QStringLiteral("pindle.ini"))));
}

Backend &TestE2eClient::backend()
{
    QFETCH_GLOBAL(bool, postgres);
    return m_backends[postgres];
}

void TestE2eClient::init()
{
    QFETCH_GLOBAL(bool, postgres);
    const QByteArray server = qgetenv("VORNA_TEST_PG");
    if (postgres && server.isEmpty())
        QSKIP("Set VORNA_TEST_PG to a PostgreSQL server to run the PostgreSQL half.");

    Backend &b = backend();
    if (!b.service) {
        b.dir = std::make_unique<QTemporaryDir>();
        QVERIFY(b.dir->isValid());
        if (postgres) {
            QString error;
            b.pgName = createPgDatabase(server, &error);
            QVERIFY2(!b.pgName.isEmpty(), qPrintable(error));
            // The server string may name a database of its own; ours replaces it.
            QString serverOnly = QString::fromLocal8Bit(server);
            serverOnly.remove(QRegularExpression(QStringLiteral("\\bdbname=\\S*")));
            b.location = serverOnly.simplified() + QStringLiteral(" dbname=") + b.pgName;
        } else {
            b.location = b.dir->filePath(QStringLiteral("vorna.db"));
        }
        auto runner = std::make_unique<ServiceRunner>(b.location);
        QString output;
        QCOMPARE(runner->command({QStringLiteral("init")}, QByteArray(), &output), 0);
        StorageError error;
        Result<std::unique_ptr<Database>> opened = Database::open(b.location);
        error = opened.error();
        b.storage = opened.take();
        QVERIFY2(b.storage, qPrintable(error.message));
        const QString seeded = seed(*b.storage);
        QVERIFY2(seeded.isEmpty(), qPrintable(seeded));
        const QByteArray password = kPassword.toUtf8() + '\n';
        QVERIFY2(runner->command({QStringLiteral("user"), QStringLiteral("add"), kManager, QStringLiteral("--role"),
                                  QStringLiteral("manager"), QStringLiteral("--password-stdin")}, password, &output) == 0,
                 qPrintable(output));
        QVERIFY2(runner->command({QStringLiteral("user"), QStringLiteral("add"), kViewer, QStringLiteral("--role"),
                                  QStringLiteral("viewer"), QStringLiteral("--password-stdin")}, password, &output) == 0,
                 qPrintable(output));
        QVERIFY2(runner->start(), qPrintable(runner->log()));
        b.service = std::move(runner);
    }
    QVERIFY2(b.service->isRunning(), qPrintable(b.service->log()));
    m_client = std::make_unique<ClientObjectQml>();
    m_log = std::make_unique<SignalRecorder>(m_client.get());
}

void TestE2eClient::cleanup()
{
    m_log.reset();
    m_client.reset();
}

void TestE2eClient::cleanupTestCase()
{
    for (auto &entry : m_backends) {
        Backend &b = entry.second;
        if (b.service)
            QCOMPARE(b.service->terminate(), 0); // a graceful stop exits 0
        b.service.reset();
        b.storage.reset();
        if (!b.pgName.isEmpty())
            dropPgDatabase(qgetenv("VORNA_TEST_PG"), b.pgName);
    }
}

void TestE2eClient::connectAndLogin(ClientObjectQml &client, SignalRecorder &log, const QString &url,
                                    const QString &user)
{
    client.connectToServiceAsync(url);
    QVERIFY(log.waitFor("connected"));
    QCOMPARE(log.of("connected").last().args.value(0).toBool(), true);
    client.dbLoginRequest(user, kPassword);
    QVERIFY(log.waitFor("dbLoginResponse"));
    QCOMPARE(log.of("dbLoginResponse").last().args.value(0).toBool(), true);
    log.clear();
}

std::unique_ptr<ServiceRunner> TestE2eClient::startOwnService(const QStringList &extra)
{
    auto runner = std::make_unique<ServiceRunner>(backend().location);
    if (!runner->start(extra))
        qWarning().noquote() << runner->log();
    return runner;
}

void TestE2eClient::everyRequestAnswersInOrder()
{
    connectAndLogin(*m_client, *m_log, backend().service->url(), kManager);

    m_client->dbPresenceRequest(kManager, kAt);
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd", 1, 30000));
    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", QStringLiteral("dbPresenceResponse*%1").arg(kEmployees),
                                          "dbPresenceResponseEnd"}));
    const auto rows = m_log->of("dbPresenceResponse");
    for (int i = 0; i < rows.size(); ++i) {
        const QVariantList row = rows.at(i).args;
        QCOMPARE(row.value(0).toString(), employeeId(i)); // ordered by last name
        QCOMPARE(row.value(7).toByteArray().size(), kPictureBytes + 5);
        QVERIFY(rows.at(i).onRecorderThread);
    }
    // Civil 08:15 is 08:15 on the local wall clock; no registration is an invalid date-time.
    QCOMPARE(rows.at(1).args.value(3).toDateTime(), QDateTime(QDate(2024, 6, 3), QTime(8, 15), Qt::LocalTime));
    QCOMPARE(rows.at(1).args.value(4).toBool(), false);
    QCOMPARE(rows.at(1).args.value(5).toString(), QStringLiteral("Arrival"));
    QCOMPARE(rows.at(1).args.value(8).toString(), QStringLiteral("Present"));
    QCOMPARE(rows.at(1).args.value(9).toInt(), 0x0000ff00);
    QCOMPARE(rows.at(7).args.value(4).toBool(), true); // two days old: stale
    QVERIFY(!rows.at(10).args.value(3).toDateTime().isValid());
    QVERIFY(rows.at(10).args.value(8).toString() != QStringLiteral("Present"));

    // Warm: the pictures come from the cache and are the same bytes.
    const QByteArray picture = rows.at(3).args.value(7).toByteArray();
    m_log->clear();
    m_client->dbPresenceRequest(kManager, kAt);
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd", 1, 30000));
    QCOMPARE(m_log->count("dbPresenceResponse"), kEmployees);
    QCOMPARE(m_log->of("dbPresenceResponse").at(3).args.value(7).toByteArray(), picture);

    m_log->clear();
    m_client->dbCalendarListRequest();
    m_client->dbWorkDayListRequest();
    QVERIFY(m_log->waitFor("dbCalendarListResponseEnd"));
    QVERIFY(m_log->waitFor("dbWorkDayListResponseEnd"));
    QStringList calendars;
    for (const auto &entry : m_log->of("dbCalendarListResponse"))
        calendars.append(entry.args.value(1).toString());
    QCOMPARE(calendars, (QStringList{"Shift A", "Shift B"}));
    QCOMPARE(m_log->of("dbWorkDayListResponse").first().args.value(1).toString(), QStringLiteral("Holiday"));
    // The two lists are answered independently; each answer begins with its own Begin.
    QByteArrayList calendarAnswer;
    for (const QByteArray &name : m_log->names()) {
        if (name.startsWith("dbCalendarList"))
            calendarAnswer.append(name);
    }
    QCOMPARE(calendarAnswer.first(), QByteArray("dbCalendarListResponseBegin"));
    QCOMPARE(calendarAnswer.last(), QByteArray("dbCalendarListResponseEnd"));

    m_log->clear();
    m_client->dbCalEmpHistRequest(employeeId(2), 6, 2024);
    QVERIFY(m_log->waitFor("dbCalEmpHistResponseEnd"));
    m_client->dbExceptionEmpHistRequest(employeeId(2), 6, 2024);
    QVERIFY(m_log->waitFor("dbExceptionEmpHistResponseEnd"));
    QCOMPARE(m_log->names().first(), QByteArray("dbCalEmpHistResponseBegin"));
    QCOMPARE(m_log->names().last(), QByteArray("dbExceptionEmpHistResponseEnd"));

    // Unknown employee: the service refuses, the answer still ends.
    m_log->clear();
    m_client->dbCalEmpHistRequest(QStringLiteral("nobody"), 6, 2024);
    QVERIFY(m_log->waitFor("dbCalEmpHistResponseEnd"));
    QCOMPARE(m_log->shape(), (QStringList{"dbCalEmpHistResponseBegin", "dbCalEmpHistResponseEnd"}));

    m_client->disconnectFromService();
    QVERIFY(m_log->waitFor("disconnected"));
}

void TestE2eClient::assignmentShowsInHistoryAndAudit()
{
    connectAndLogin(*m_client, *m_log, backend().service->url(), kManager);
    const int year = QDate::currentDate().year() + 1;
    const QString employee = employeeId(4);
    int shiftB = 0;
    int holiday = 0;
    m_client->dbCalendarListRequest();
    m_client->dbWorkDayListRequest();
    QVERIFY(m_log->waitFor("dbWorkDayListResponseEnd"));
    QVERIFY(m_log->waitFor("dbCalendarListResponseEnd"));
    for (const auto &entry : m_log->of("dbCalendarListResponse")) {
        if (entry.args.value(1).toString() == QStringLiteral("Shift B"))
            shiftB = entry.args.value(0).toInt();
    }
    holiday = m_log->of("dbWorkDayListResponse").first().args.value(0).toInt();
    QVERIFY(shiftB > 0 && holiday > 0);

    // The page passes the chosen day as a local date-time with its time of day.
    m_log->clear();
    m_client->dbCalendarSetRequest(shiftB, employee, QDateTime(QDate(year, 5, 15), QTime(16, 40), Qt::LocalTime));
    m_client->dbWorkDaySetRequest(holiday, employee, QDateTime(QDate(year, 5, 20), QTime(0, 0), Qt::LocalTime));
    QVERIFY(m_log->waitFor("dbCalendarSetResponse"));
    QVERIFY(m_log->waitFor("dbWorkDaySetResponse"));
    QCOMPARE(m_log->of("dbCalendarSetResponse").first().args, (QVariantList{true, QString()}));
    QCOMPARE(m_log->of("dbWorkDaySetResponse").first().args, (QVariantList{true, QString()}));

    m_log->clear();
    m_client->dbCalEmpHistRequest(employee, 5, year);
    QVERIFY(m_log->waitFor("dbCalEmpHistResponseEnd"));
    m_client->dbCalEmpHistRequest(employee, 6, year);
    QVERIFY(m_log->waitFor("dbCalEmpHistResponseEnd", 2));
    m_client->dbExceptionEmpHistRequest(employee, 5, year);
    QVERIFY(m_log->waitFor("dbExceptionEmpHistResponseEnd"));
    const auto ranges = m_log->of("dbCalEmpHistResponse");
    QVERIFY(ranges.size() >= 2);
    // May: the assignment starts at local midnight of the 15th; June: it still applies.
    const QVariantList may = ranges.at(ranges.size() - 2).args;
    QCOMPARE(may.value(0).toString(), QStringLiteral("Shift B"));
    QCOMPARE(may.value(1).toInt(), 0x00ff0000);
    QCOMPARE(may.value(2).toDateTime(), QDateTime(QDate(year, 5, 15), QTime(0, 0), Qt::LocalTime));
    const QVariantList june = ranges.last().args;
    QCOMPARE(june.value(0).toString(), QStringLiteral("Shift B"));
    QVERIFY(june.value(2).toDateTime() <= QDateTime(QDate(year, 6, 1), QTime(0, 0), Qt::LocalTime));
    const auto days = m_log->of("dbExceptionEmpHistResponse");
    QCOMPARE(days.size(), 1);
    QCOMPARE(days.first().args, (QVariantList{QStringLiteral("Holiday"), 0x0000ffff,
                                              QDateTime(QDate(year, 5, 20), QTime(0, 0), Qt::LocalTime)}));

    const QVector<AuditEntry> audit = backend().storage->calendars().auditLog(employee).value();
    QStringList described;
    for (const AuditEntry &entry : audit)
        described.append(QStringLiteral("%1 %2 %3 %4 %5").arg(entry.id).arg(entry.userName, entry.action, entry.employeeId, entry.newValue));
    QVERIFY2(audit.size() == 2, qPrintable(described.join(QStringLiteral("; ")) + QLatin1Char('\n') + backend().service->log()));
    QCOMPARE(audit.at(0).userName, kManager);
    QCOMPARE(audit.at(0).action, QStringLiteral("calendar"));
    QCOMPARE(audit.at(0).day, QDate(year, 5, 15));
    QCOMPARE(audit.at(0).newValue, QStringLiteral("Shift B"));
    QCOMPARE(audit.at(1).action, QStringLiteral("workday"));
    QCOMPARE(audit.at(1).day, QDate(year, 5, 20));
    QCOMPARE(audit.at(1).newValue, QStringLiteral("Holiday"));
}

void TestE2eClient::viewerIsRefusedAssignments()
{
    connectAndLogin(*m_client, *m_log, backend().service->url(), kViewer);
    m_client->dbCalendarSetRequest(1, employeeId(5), QDateTime(QDate(2024, 6, 3), QTime(0, 0)));
    m_client->dbWorkDaySetRequest(1, employeeId(5), QDateTime(QDate(2024, 6, 3), QTime(0, 0)));
    QVERIFY(m_log->waitFor("dbCalendarSetResponse"));
    QVERIFY(m_log->waitFor("dbWorkDaySetResponse"));
    for (const QByteArray &name : {QByteArray("dbCalendarSetResponse"), QByteArray("dbWorkDaySetResponse")}) {
        const QVariantList args = m_log->of(name).first().args;
        QCOMPARE(args.value(0).toBool(), false);
        QVERIFY2(args.value(1).toString().endsWith(QLatin1Char('.')), qPrintable(args.value(1).toString()));
    }
    QVERIFY(backend().storage->calendars().auditLog(employeeId(5)).value().isEmpty());
    // A viewer still reads.
    m_log->clear();
    m_client->dbPresenceRequest(kViewer, kAt);
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd", 1, 30000));
    QCOMPARE(m_log->count("dbPresenceResponse"), kEmployees);
}

void TestE2eClient::wrongPasswordAndThrottling()
{
    // Its own service: the throttle counts per address, and every test comes from 127.0.0.1.
    const std::unique_ptr<ServiceRunner> service = startOwnService({});
    QVERIFY(service->isRunning());
    m_client->connectToServiceAsync(service->url());
    QVERIFY(m_log->waitFor("connected"));
    for (int attempt = 0; attempt < 5; ++attempt)
        m_client->dbLoginRequest(kManager, QStringLiteral("wrong"));
    m_client->dbLoginRequest(kManager, kPassword); // right, but too soon after the failures
    QVERIFY(m_log->waitFor("dbLoginResponse", 6, 60000));
    for (const auto &entry : m_log->of("dbLoginResponse"))
        QCOMPARE(entry.args.value(0).toBool(), false);
    // The login page disconnects after a refusal.
    m_client->disconnectFromService();
    QVERIFY(m_log->waitFor("disconnected"));
    SignalRecorder::settle(200);
    QCOMPARE(m_log->shape(), (QStringList{"connected", "dbLoginResponse*6", "disconnected"}));
    // The failures are counted in the database, which the next tests log in to from here too.
    QVERIFY(backend().storage->accounts().forgetLoginFailures(std::numeric_limits<qint64>::max(),
                                                   std::numeric_limits<qint64>::max()).ok());
}

void TestE2eClient::sessionExpiryDisconnects()
{
    const std::unique_ptr<ServiceRunner> service =
        startOwnService({QStringLiteral("--session-idle"), QStringLiteral("1m"), QStringLiteral("--heartbeat"), QStringLiteral("1s")});
    QVERIFY(service->isRunning());
    connectAndLogin(*m_client, *m_log, service->url(), kManager);
    // A minute is the shortest idle time serve takes: the session is made older than that
    // instead of waiting it out. The next heartbeat finds it expired.
    const QString doing = QStringLiteral("age the sessions");
    const StorageError aged = backend().storage->write(doing, [&](Transaction &tx) {
        QSqlQuery query(tx.db());
        return tx.exec(query, QStringLiteral("UPDATE sessions SET last_seen_utc = last_seen_utc - 120"), {}, doing);
    });
    QVERIFY2(aged.ok(), qPrintable(aged.message));
    QVERIFY2(m_log->waitFor("disconnected", 1, 20000), qPrintable(service->log()));
    m_client->dbCalendarListRequest();
    QVERIFY(m_log->waitFor("dbCalendarListResponseEnd"));
    QCOMPARE(m_log->shape(), (QStringList{"disconnected", "dbCalendarListResponseBegin", "dbCalendarListResponseEnd"}));
}

void TestE2eClient::killedServiceEndsStreamThenDisconnects()
{
    std::unique_ptr<ServiceRunner> service = startOwnService({});
    QVERIFY(service->isRunning());
    connectAndLogin(*m_client, *m_log, service->url(), kManager);
    ServiceRunner *victim = service.get();
    // Killed as soon as the first row arrives, while the rest is still on its way.
    QMetaObject::Connection once;
    once = connect(m_client.get(), &ClientObjectQml::dbPresenceResponse, this, [&once, victim] {
        QObject::disconnect(once);
        victim->kill();
    });
    m_client->dbPresenceRequest(kManager, kAt);
    QVERIFY(m_log->waitFor("disconnected", 1, 30000));
    SignalRecorder::settle(300);
    const QStringList shape = m_log->shape();
    QCOMPARE(shape.size(), 4);
    QCOMPARE(shape.at(0), QStringLiteral("dbPresenceResponseBegin"));
    QVERIFY(shape.at(1).startsWith(QStringLiteral("dbPresenceResponse")));
    QVERIFY(m_log->count("dbPresenceResponse") <= kEmployees);
    QCOMPARE(shape.at(2), QStringLiteral("dbPresenceResponseEnd"));
    QCOMPARE(shape.at(3), QStringLiteral("disconnected"));

    m_log->clear();
    m_client->dbPresenceRequest(kManager, kAt);
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd"));
    QCOMPARE(m_log->shape(), (QStringList{"dbPresenceResponseBegin", "dbPresenceResponseEnd"}));
}

void TestE2eClient::badAddressesFailOnce()
{
    const int port = backend().service->port();
    const int closed = closedPort();
    const QStringList urls{
        QStringLiteral("tcp://127.0.0.1:port/CommService"),
        QStringLiteral("tcp://127.0.0.1:%1/OtherService").arg(port),
        QStringLiteral("tcp://127.0.0.1:%1/CommService").arg(closed)};
    for (const QString &url : urls) {
        m_log->clear();
        m_client->connectToServiceAsync(url);
        QVERIFY(m_log->waitFor("connected"));
        SignalRecorder::settle(200);
        QCOMPARE(m_log->names(), (QList<QByteArray>{"connected"}));
        const QString err = m_log->entries().first().args.value(1).toString();
        QVERIFY(!m_log->entries().first().args.value(0).toBool());
        QVERIFY2(err.contains(QStringLiteral("127.0.0.1")), qPrintable(err));
    }
    QCOMPARE(m_log->entries().first().args.value(1).toString(),
             QStringLiteral("Cannot reach the attendance service at 127.0.0.1:%1 (connection refused). Is the service running?").arg(closed));
}

void TestE2eClient::oversizedAndMalformedRequestsAreRefused()
{
    const int port = backend().service->port();
    const std::string target = "127.0.0.1:" + std::to_string(port);
    auto channel = grpc::CreateChannel(target, grpc::InsecureChannelCredentials());
    auto stub = vorna::v1::CommService::NewStub(channel);

    // Oversized: a 17 MB login request.
    {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(20));
        vorna::v1::LoginRequest request;
        request.set_user("manager");
        request.set_password(std::string(17 * 1024 * 1024, 'x'));
        vorna::v1::LoginReply reply;
        const grpc::Status status = stub->Login(&context, request, &reply);
        QCOMPARE(int(status.error_code()), int(grpc::StatusCode::RESOURCE_EXHAUSTED));
    }
    // Malformed: bytes that are no LoginRequest.
    {
        grpc::GenericStub generic(channel);
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(20));
        const char garbage[] = "\xff\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01\x02";
        grpc::Slice slice(garbage, sizeof garbage - 1);
        grpc::ByteBuffer request(&slice, 1);
        grpc::ByteBuffer reply;
        std::promise<grpc::Status> done;
        generic.UnaryCall(&context, "/vorna.v1.CommService/Login", grpc::StubOptions(), &request, &reply,
                          [&done](grpc::Status status) { done.set_value(status); });
        const grpc::Status status = done.get_future().get();
        QVERIFY2(!status.ok(), "a request that does not parse must be refused");
    }
    // Not even HTTP/2: raw bytes on the port; the service drops the connection.
    {
        const int fd = connectLoopback(port);
        QVERIFY(fd >= 0);
        const QByteArray junk = QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") + QByteArray(65536, '\x07');
        ::send(fd, junk.constData(), size_t(junk.size()), MSG_NOSIGNAL);
        bool closed = false;
        char buffer[4096];
        for (int round = 0; round < 100 && !closed; ++round) { // at most 10 s
            pollfd waiting{fd, POLLIN, 0};
            if (::poll(&waiting, 1, 100) > 0)
                closed = ::recv(fd, buffer, sizeof buffer, 0) <= 0;
        }
        ::close(fd);
        QVERIFY2(closed, "the service must drop a connection that does not speak HTTP/2");
    }
    // And it goes on serving others.
    QVERIFY(backend().service->isRunning());
    connectAndLogin(*m_client, *m_log, backend().service->url(), kManager);
    m_client->dbPresenceRequest(kManager, kAt);
    QVERIFY(m_log->waitFor("dbPresenceResponseEnd", 1, 30000));
    QCOMPARE(m_log->count("dbPresenceResponse"), kEmployees);
}

void TestE2eClient::presenceChangesReachTheWatchingPanels()
{
    QFETCH_GLOBAL(bool, postgres);
    Backend &b = backend();
    // A panel whose user sees only a department where nothing happens here.
    Department dispatch{0, QStringLiteral("Dispatch")};
    QVERIFY(b.storage->organisation().addDepartment(dispatch).ok());
    QString output;
    QVERIFY2(b.service->command({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("dispatcher"),
                                 QStringLiteral("--departments"), dispatch.name, QStringLiteral("--password-stdin")},
                                kPassword.toUtf8() + '\n', &output) == 0,
             qPrintable(output));
    const QByteArray terminalToken = "e2e-gate-token";
    QVERIFY(b.storage->accounts().addTerminal({0, QStringLiteral("e2e-gate"),
                                    QCryptographicHash::hash(terminalToken, QCryptographicHash::Sha256),
                                    QDateTime::currentDateTimeUtc()}).ok());

    connectAndLogin(*m_client, *m_log, b.service->url(), kManager);
    ClientObjectQml dispatcher;
    SignalRecorder dispatcherLog(&dispatcher);
    connectAndLogin(dispatcher, dispatcherLog, b.service->url(), QStringLiteral("dispatcher"));

    // On PostgreSQL the terminal talks to a second instance: the news crosses through the database.
    std::unique_ptr<ServiceRunner> second = postgres ? startOwnService({}) : nullptr;
    QVERIFY(!postgres || (second && second->isRunning()));
    const int terminalPort = second ? second->port() : b.service->port();
    auto terminal = vorna::v1::CommService::NewStub(grpc::CreateChannel(
        QStringLiteral("127.0.0.1:%1").arg(terminalPort).toStdString(), grpc::InsecureChannelCredentials()));
    vorna::v1::RegisterActivityRequest arrival;
    arrival.set_employee_id(employeeId(1).toStdString());
    arrival.set_activity_kind_id(b.storage->organisation().activityKinds().value().value(0).id);
    vorna::v1::RegisterActivityReply reply;
    grpc::ClientContext context;
    context.AddMetadata("vorna-device", terminalToken.toStdString());
    const grpc::Status registered = terminal->RegisterActivity(&context, arrival, &reply);
    QVERIFY2(registered.ok(), registered.error_message().c_str());

    QVERIFY2(m_log->waitFor("presenceChanged", 1, 2000), "the manager's panel hears of the arrival");
    SignalRecorder::settle(1500);
    QCOMPARE(dispatcherLog.of("presenceChanged").size(), 0);
    QCOMPARE(m_log->of("presenceChanged").size(), 1);

    // An import, a process of its own, reaches the running service through the database.
    QTemporaryDir folder;
    QFile file(folder.filePath(QStringLiteral("registrations.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("employee,at,activity\n%1,%2,%3\n")
                   .arg(employeeId(1), QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                        b.storage->organisation().activityKinds().value().value(0).name)
                   .toUtf8());
    file.close();
    QVERIFY2(b.service->command({QStringLiteral("import"), folder.path()}, QByteArray(), &output) == 0, qPrintable(output));
    QVERIFY2(m_log->waitFor("presenceChanged", 2, 3000), "the manager's panel hears of the import");
    SignalRecorder::settle(500);
    QCOMPARE(dispatcherLog.of("presenceChanged").size(), 0);
}

QTEST_GUILESS_MAIN(TestE2eClient)
#include "tst_e2eclient.moc"
