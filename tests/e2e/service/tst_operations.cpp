// What an operator relies on, through the built vorna-service: the configuration file, health
// and reflection, the metrics endpoint, log lines and the docs' examples of them, backups and
// restores (and PostgreSQL's own dump and restore when VORNA_TEST_PG names a server).

#include "commservice.grpc.pb.h"
#include "cli/configfile.h"
#include "support/servicerunner.h"
#include "storage/sqlitefiles.h"
#include "storage/database.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>

#include <atomic>
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <thread>

using namespace vorna::service;
using vorna::testing::CommandRun;
using vorna::testing::ServiceRunner;

namespace {

const QString Binary = QStringLiteral(VORNA_SERVICE_BINARY);
const QRegularExpression TimeStamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z "));

using Outcome = CommandRun;

Outcome run(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    return ServiceRunner().run(arguments, input);
}

// `serve` in the background, with the addresses it announces on stdout.
class Serve
{
public:
    explicit Serve(const QStringList &arguments, const QString &program = Binary, bool withMetrics = false)
    {
        m_process.start(program, arguments);
        m_process.waitForStarted(10000);
        QByteArray out;
        const QByteArray awaited = withMetrics ? "/metrics\n" : "\n";
        while (m_process.state() == QProcess::Running && !(out.contains("listening on") && out.endsWith(awaited))) {
            m_process.waitForReadyRead(1000);
            out += m_process.readAllStandardOutput();
        }
        m_address = QString::fromUtf8(out).section(QStringLiteral("listening on "), 1).section(QLatin1Char('\n'), 0, 0);
        m_metrics = QString::fromUtf8(out).section(QStringLiteral("metrics on http://"), 1).section(QLatin1Char('/'), 0, 0);
    }
    ~Serve()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    QString address() const { return m_address; }
    // What it logged so far, for failure messages (QVERIFY2 evaluates those in every case).
    QString log() { return m_log += QString::fromUtf8(m_process.readAllStandardError()); }
    QString metrics() const { return m_metrics; }
    // SIGTERM, then the whole log once it has stopped.
    QString stop()
    {
        // Never kill(0, ...): that would signal the test's own process group.
        if (m_process.processId() > 0) {
            ::kill(pid_t(m_process.processId()), SIGTERM);
            m_process.waitForFinished(60000);
        }
        return log();
    }

private:
    QProcess m_process;
    QString m_address;
    QString m_metrics;
    QString m_log;
};

QByteArray httpGet(const QString &address, const QByteArray &path)
{
    QTcpSocket socket;
    socket.connectToHost(address.section(QLatin1Char(':'), 0, 0), quint16(address.section(QLatin1Char(':'), 1).toUInt()));
    if (!socket.waitForConnected(10000))
        return {};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(10000))
        answer += socket.readAll();
    answer += socket.readAll();
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// name{labels} -> value, from an exposition; false when a line is not valid exposition text.
bool parseExposition(const QByteArray &text, QMap<QString, double> *samples, QString *badLine)
{
    static const QRegularExpression comment(QStringLiteral("^# (HELP|TYPE) [a-zA-Z_:][a-zA-Z0-9_:]* .+$"));
    static const QRegularExpression sample(QStringLiteral(
        "^([a-zA-Z_:][a-zA-Z0-9_:]*(\\{([a-zA-Z_][a-zA-Z0-9_]*=\"([^\"\\\\]|\\\\.)*\",?)*\\})?) (\\S+)$"));
    for (const QString &line : QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = sample.match(line);
        bool number = false;
        const double value = match.hasMatch() ? match.captured(5).replace(QLatin1String("+Inf"), QLatin1String("inf")).toDouble(&number) : 0;
        if (!comment.match(line).hasMatch() && !number) {
            *badLine = line;
            return false;
        }
        if (number)
            samples->insert(match.captured(1), value);
    }
    return true;
}

// The keys of a logfmt line after "vorna-service: ", in order, values left out.
QStringList logKeys(const QString &line)
{
    static const QRegularExpression field(QStringLiteral("([a-z_]+)=(\"([^\"\\\\]|\\\\.)*\"|\\S*)"));
    QStringList keys;
    auto matches = field.globalMatch(line.section(QStringLiteral("vorna-service: "), 1));
    while (matches.hasNext())
        keys << matches.next().captured(1);
    return keys;
}

QString logField(const QString &line, const QString &key)
{
    const QRegularExpression field(QStringLiteral(" %1=(\\S+)").arg(key));
    return field.match(line).captured(1);
}

QStringList tableRows(const QString &path, const QString &sql)
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("dump"));
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(sql, db);
            while (query.next()) {
                QStringList values;
                for (int i = 0; i < query.record().count(); ++i)
                    values << query.value(i).toString();
                rows << values.join(QLatin1Char('|'));
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("dump"));
    return rows;
}

grpc::Status login(vorna::v1::CommService::Stub &stub, const char *password, std::string *token)
{
    grpc::ClientContext context;
    vorna::v1::LoginRequest request;
    request.set_user("manager");
    request.set_password(password);
    vorna::v1::LoginReply reply;
    const grpc::Status status = stub.Login(&context, request, &reply);
    *token = reply.session_token();
    return status;
}

// The services that server reflection lists, through a raw call: list_services is field 7.
QByteArray reflectedServices(const std::shared_ptr<grpc::Channel> &channel)
{
    grpc::GenericStub stub(channel);
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
    grpc::CompletionQueue queue;
    auto call = stub.PrepareCall(&context, "/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo", &queue);
    grpc::Slice request(std::string("\x3a\x00", 2));
    grpc::ByteBuffer out(&request, 1);
    grpc::ByteBuffer in;
    void *tag = nullptr;
    bool ok = false;
    // One operation at a time, each awaited.
    const auto await = [&](void *expected) { return queue.Next(&tag, &ok) && tag == expected && ok; };
    call->StartCall(reinterpret_cast<void *>(1));
    if (await(reinterpret_cast<void *>(1))) {
        call->Write(out, reinterpret_cast<void *>(2));
        if (await(reinterpret_cast<void *>(2))) {
            call->Read(&in, reinterpret_cast<void *>(3));
            await(reinterpret_cast<void *>(3));
        }
    }
    std::vector<grpc::Slice> slices;
    in.Dump(&slices);
    QByteArray bytes;
    for (const grpc::Slice &slice : slices)
        bytes += QByteArray(reinterpret_cast<const char *>(slice.begin()), int(slice.size()));
    context.TryCancel();
    grpc::Status status;
    call->Finish(&status, reinterpret_cast<void *>(4));
    while (queue.Next(&tag, &ok) && tag != reinterpret_cast<void *>(4)) {
    }
    queue.Shutdown();
    while (queue.Next(&tag, &ok)) {
    }
    return bytes;
}

// A unary call with an empty message to any path, as a client that makes paths up sends it.
grpc::StatusCode callPath(const std::shared_ptr<grpc::Channel> &channel, const std::string &path)
{
    grpc::GenericStub stub(channel);
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(10));
    grpc::CompletionQueue queue;
    grpc::Slice empty{std::string()};
    auto call = stub.PrepareUnaryCall(&context, path, grpc::ByteBuffer(&empty, 1), &queue);
    call->StartCall();
    grpc::ByteBuffer reply;
    grpc::Status status;
    call->Finish(&reply, &status, reinterpret_cast<void *>(1));
    void *tag = nullptr;
    bool ok = false;
    queue.Next(&tag, &ok);
    queue.Shutdown();
    while (queue.Next(&tag, &ok)) {
    }
    return status.error_code();
}

// The values of `label` among the samples of `metric`.
QSet<QString> labelValues(const QMap<QString, double> &samples, const QString &metric, const QString &label)
{
    const QRegularExpression value(QStringLiteral("[{,]%1=\"([^\"]*)\"").arg(label));
    QSet<QString> values;
    for (auto it = samples.cbegin(); it != samples.cend(); ++it) {
        if (it.key().startsWith(metric + QLatin1Char('{')))
            values.insert(value.match(it.key()).captured(1));
    }
    return values;
}

bool psql(const QString &server, const QString &sql, QString *output = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("psql"), {QStringLiteral("-X"), QStringLiteral("-qtA"), QStringLiteral("-v"),
                                           QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), server,
                                           QStringLiteral("-c"), sql});
    const bool done = process.waitForFinished(60000) && process.exitCode() == 0;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (!done)
        qWarning("psql: %s", process.readAllStandardError().constData());
    return done;
}

bool tool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool done = process.waitForFinished(120000) && process.exitCode() == 0;
    if (!done)
        qWarning("%s: %s", qPrintable(program), process.readAllStandardError().constData());
    return done;
}

} // namespace

class TestOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_database;

    QString path(const QString &name) const { return m_dir.filePath(name); }

    QString writeFile(const QString &name, const QByteArray &text) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        return file.fileName();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_database = path(QStringLiteral("vorna.db"));
        QVERIFY2(run({QStringLiteral("init"), QStringLiteral("--database"), m_database}).exitCode == 0, "init failed");
        const Outcome demo = run({QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("40"),
                                 QStringLiteral("--database"), m_database});
        QVERIFY2(demo.exitCode == 0, qPrintable(demo.err));
    }

    void configFileGivesValuesTheCommandLineOverrides()
    {
        const QStringList keys{QStringLiteral("database"), QStringLiteral("listen")};
        QVector<ConfigEntry> entries;
        QString error;
        QVERIFY(ConfigFile::parse(QStringLiteral("a.conf"), "# c\n; c\n\n database = \" /x y \" \nlisten=1:2\n", keys,
                                  &entries, &error));
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.at(0).value, QStringLiteral(" /x y "));
        QCOMPARE(entries.at(1).line, 5);
        QVERIFY(!ConfigFile::parse(QStringLiteral("a.conf"), "listen = 1:2\nlisten = 1:3\n", keys, &entries, &error));
        QVERIFY2(error.startsWith(QStringLiteral("a.conf, line 2:")) && error.contains(QStringLiteral("line 1")), qPrintable(error));
        QVERIFY(!ConfigFile::parse(QStringLiteral("a.conf"), "listen 1:2\n", keys, &entries, &error));

        // The database comes from the file, and the command line's wins over it.
        const QString good = writeFile(QStringLiteral("good.conf"), "database = " + m_database.toUtf8() + "\n");
        const QString wrong = writeFile(QStringLiteral("wrong.conf"), "database = /nonexistent/vorna.db\n");
        Outcome r = run({QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--config"), good});
        QVERIFY2(r.exitCode == 0 && r.out.contains(QStringLiteral("manager")), qPrintable(r.err));
        r = run({QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--config"), wrong});
        QCOMPARE(r.exitCode, 3);
        r = run({QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--config"), wrong, QStringLiteral("--database"), m_database});
        QVERIFY2(r.exitCode == 0 && r.out.contains(QStringLiteral("manager")), qPrintable(r.err));

        // Unknown keys stop every command, naming the file, the line and the key.
        const QString unknown = writeFile(QStringLiteral("unknown.conf"), "listen = 127.0.0.1:0\n\nlisten-port = 5\n");
        r = run({QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--config"), unknown});
        QCOMPARE(r.exitCode, 2);
        QVERIFY2(r.err.contains(unknown + QStringLiteral(", line 3: unknown key \"listen-port\"")), qPrintable(r.err));

        // The shipped file holds only keys the service knows (health reads it and then finds no service).
        r = run({QStringLiteral("health"), QStringLiteral("--config"), QStringLiteral(VORNA_SOURCE_DIR "/packaging/service/service.conf"),
                 QStringLiteral("--address"), QStringLiteral("127.0.0.1:1"), QStringLiteral("--timeout"), QStringLiteral("1s")});
        QVERIFY2(r.exitCode == 1 && r.err.contains(QStringLiteral("did not answer")), qPrintable(r.err));
    }

    // One running service: health, reflection, metrics, the lock against restore, the log and
    // the docs' examples of it.
    void runningServiceAnswersOperators()
    {
        const QString config = writeFile(QStringLiteral("serve.conf"),
            "database = " + m_database.toUtf8() + "\nlisten = 127.0.0.1:0\nmetrics-listen = 127.0.0.1:0\nlog-level = info\n");
        Serve serve({QStringLiteral("serve"), QStringLiteral("--config"), config, QStringLiteral("--log-level"),
                     QStringLiteral("debug")}, Binary, true);
        QVERIFY2(!serve.address().isEmpty() && !serve.metrics().isEmpty(), qPrintable(serve.log()));

        Outcome r = run({QStringLiteral("health"), QStringLiteral("--address"), serve.address()});
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));
        const auto channel = grpc::CreateChannel(serve.address().toStdString(), grpc::InsecureChannelCredentials());
        const QByteArray services = reflectedServices(channel);
        QVERIFY2(services.contains("vorna.v1.CommService") && services.contains("grpc.health.v1.Health"), services.constData());

        QMap<QString, double> before;
        QString bad;
        QVERIFY2(parseExposition(httpGet(serve.metrics(), "/metrics"), &before, &bad), qPrintable(bad));

        auto stub = vorna::v1::CommService::NewStub(channel);
        std::string token;
        QCOMPARE(login(*stub, "wrong", &token).error_code(), grpc::UNAUTHENTICATED);
        QVERIFY(login(*stub, "vorna-demo", &token).ok());
        int rows = 0;
        std::string employee;
        {
            grpc::ClientContext context;
            context.AddMetadata("vorna-session", token);
            auto reader = stub->Presence(&context, vorna::v1::PresenceRequest());
            vorna::v1::PresenceChunk chunk;
            while (reader->Read(&chunk)) {
                rows += chunk.rows_size();
                if (employee.empty() && chunk.rows_size() > 0)
                    employee = chunk.rows(0).employee_id();
            }
            QVERIFY(reader->Finish().ok());
        }
        {
            grpc::ClientContext context;
            context.AddMetadata("vorna-session", token);
            vorna::v1::SetCalendarRequest request;
            request.set_calendar_id(1);
            request.set_employee_id(employee);
            request.mutable_valid_from()->set_year(2026);
            request.mutable_valid_from()->set_month(3);
            request.mutable_valid_from()->set_day(10);
            vorna::v1::SetReply reply;
            const grpc::Status status = stub->SetCalendar(&context, request, &reply);
            QVERIFY2(status.ok(), status.error_message().c_str());
            grpc::ClientContext logout;
            logout.AddMetadata("vorna-session", token);
            vorna::v1::LogoutReply done;
            QVERIFY(stub->Logout(&logout, vorna::v1::LogoutRequest(), &done).ok());
        }

        // Paths the service does not serve add no label values of their own.
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(callPath(channel, "/vorna.v1.CommService/MadeUp" + std::to_string(i)), grpc::StatusCode::UNIMPLEMENTED);
            QCOMPARE(callPath(channel, "/made.up.Service" + std::to_string(i) + "/Login"), grpc::StatusCode::UNIMPLEMENTED);
        }

        // A call is counted when the service has finished it, which may be just after its
        // caller read the answer: the last refusal may still be on its way into the counters.
        QMap<QString, double> after;
        const auto moved = [&](const char *series) { return after.value(QLatin1String(series)) - before.value(QLatin1String(series)); };
        QTRY_VERIFY_WITH_TIMEOUT(parseExposition(httpGet(serve.metrics(), "/metrics"), &after, &bad)
                                     && moved("vorna_rpc_total{method=\"other\",code=\"UNIMPLEMENTED\"}") >= 40.0,
                                 10000);
        QCOMPARE(moved("vorna_login_attempts_total{result=\"denied\"}"), 1.0);
        QCOMPARE(moved("vorna_login_attempts_total{result=\"ok\"}"), 1.0);
        QCOMPARE(moved("vorna_rpc_total{method=\"Login\",code=\"UNAUTHENTICATED\"}"), 1.0);
        QCOMPARE(moved("vorna_rpc_total{method=\"SetCalendar\",code=\"OK\"}"), 1.0);
        QCOMPARE(moved("vorna_rpc_duration_seconds_count{method=\"Presence\"}"), 1.0);
        QCOMPARE(moved("vorna_presence_rows_streamed_total"), double(rows));
        QVERIFY(rows > 0 && moved("vorna_presence_bytes_streamed_total") > rows);
        QVERIFY(moved("vorna_db_query_duration_seconds_count") > 0);
        QCOMPARE(moved("vorna_rpc_total{method=\"other\",code=\"UNIMPLEMENTED\"}"), 40.0);
        QCOMPARE(labelValues(after, QStringLiteral("vorna_rpc_total"), QStringLiteral("method")),
                 (QSet<QString>{QStringLiteral("Check"), QStringLiteral("ServerReflectionInfo"), QStringLiteral("Login"),
                                QStringLiteral("Presence"), QStringLiteral("SetCalendar"), QStringLiteral("Logout"),
                                QStringLiteral("other")}));

        // The running service holds the database: restore leaves it alone.
        const QString backup = path(QStringLiteral("while-serving.db"));
        QCOMPARE(run({QStringLiteral("backup"), backup, QStringLiteral("--database"), m_database}).exitCode, 0);
        r = run({QStringLiteral("restore"), backup, QStringLiteral("--database"), m_database});
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QStringLiteral("A running vorna-service uses the database")), qPrintable(r.err));
        QVERIFY(!QFile::exists(m_database + QStringLiteral(".before-restore")));

        const QStringList log = serve.stop().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : log)
            QVERIFY2(TimeStamp.match(line).hasMatch(), qPrintable(line));
        checkDocsExamples(log);
    }

    // Under systemd: lines without a time of their own, and readiness and stopping told.
    void underSystemdTheJournalStampsAndReadinessIsTold()
    {
        const QString socketPath = path(QStringLiteral("notify.sock"));
        const int notify = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(socketPath).constData(), sizeof(address.sun_path));
        QVERIFY(::bind(notify, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0);
        const auto received = [notify] {
            char buffer[256];
            const ssize_t size = ::recv(notify, buffer, sizeof(buffer), MSG_DONTWAIT);
            return size > 0 ? QByteArray(buffer, int(size)) : QByteArray();
        };

        // systemd names the stream in JOURNAL_STREAM as DEVICE:INODE; the shell passes the
        // pipe that QProcess gives the service.
        Serve serve({QStringLiteral("-c"),
                     QStringLiteral("JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) NOTIFY_SOCKET=\"$2\" exec \"$0\" "
                                    "serve --listen 127.0.0.1:0 --database \"$1\""),
                     Binary, m_database, socketPath},
                    QStringLiteral("/bin/sh"));
        QVERIFY(!serve.address().isEmpty());
        QByteArray told;
        QTRY_VERIFY_WITH_TIMEOUT((told += received()).contains("READY=1"), 30000);
        const QStringList log = serve.stop().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QTRY_VERIFY_WITH_TIMEOUT((told += received()).contains("STOPPING=1"), 30000);
        ::close(notify);
        QVERIFY(log.size() > 3);
        for (const QString &line : log)
            QVERIFY2(line.startsWith(QStringLiteral("vorna-service: level=")), qPrintable(line));
    }

    void backupWhileWritingRestoresThatMoment()
    {
        const QString source = path(QStringLiteral("busy.db"));
        QVERIFY(QFile::copy(m_database, source));
        Result<std::unique_ptr<Database>> opened = Database::open(source);
        QVERIFY2(opened.ok(), qPrintable(opened.error().message));
        const std::unique_ptr<Database> storage = opened.take();
        const QVector<ActivityKind> kinds = storage->organisation().activityKinds().value();
        const QString employee = tableRows(source, QStringLiteral("SELECT code FROM employees LIMIT 1")).value(0);
        QVERIFY(!kinds.isEmpty() && !employee.isEmpty());

        // Pairs of registrations, each pair one transaction: a torn copy would hold an odd count.
        std::atomic<bool> stop{false};
        std::atomic<int> pairs{0};
        std::thread writer([&] {
            QDateTime at(QDate(2026, 1, 5), QTime(8, 0), Qt::UTC);
            while (!stop) {
                at = at.addSecs(60);
                const Registration registration{employee, at, kinds.constFirst().id, QStringLiteral("writer")};
                if (storage->organisation().addRegistrations({registration, registration}).ok())
                    ++pairs;
            }
        });
        while (pairs < 20)
            QThread::yieldCurrentThread();
        const QString backup = path(QStringLiteral("busy-backup.db"));
        const Outcome r = run({QStringLiteral("backup"), backup, QStringLiteral("--database"), source});
        const int pairsAtEnd = (stop = true, writer.join(), pairs.load());
        QVERIFY2(r.exitCode == 0, qPrintable(r.err));

        const QString dump = QStringLiteral("SELECT id, employee_id, at, activity_kind_id, source FROM registrations "
                                            "WHERE source = 'writer' ORDER BY id");
        const QStringList copied = tableRows(backup, dump);
        const QStringList all = tableRows(source, dump);
        QVERIFY(copied.size() % 2 == 0 && copied.size() >= 40 && all.size() == 2 * pairsAtEnd);
        QCOMPARE(copied, all.mid(0, copied.size()));

        // Restored, it is intact and holds exactly the copy.
        const QString restored = path(QStringLiteral("restored.db"));
        QCOMPARE(run({QStringLiteral("restore"), backup, QStringLiteral("--database"), restored}).exitCode, 0);
        int version = 0;
        QString problem;
        QVERIFY2(sqlitefiles::checkVornaDatabase(restored, &version, &problem), qPrintable(problem));
        QCOMPARE(tableRows(restored, dump), copied);
        QVERIFY(run({QStringLiteral("backup"), backup, QStringLiteral("--database"), source}).err.contains(QStringLiteral("exists already")));
        QVERIFY(run({QStringLiteral("restore"), path(QStringLiteral("good.conf")), QStringLiteral("--database"), restored}).exitCode == 1);
        QCOMPARE(tableRows(restored, dump), copied);
    }

    // Health turns with the calls themselves: the probe's interval is ten minutes here, so only the
    // database workers' reports can turn it (it used to lag a whole interval).
    void healthFollowsThePostgresDatabase()
    {
        const QString server = qEnvironmentVariable("VORNA_TEST_PG");
        if (server.isEmpty())
            QSKIP("VORNA_TEST_PG names no PostgreSQL server.");
        QVERIFY(psql(server, QStringLiteral("DROP DATABASE IF EXISTS vorna_ops_health")));
        QVERIFY(psql(server, QStringLiteral("CREATE DATABASE vorna_ops_health")));
        const QString database = server + QStringLiteral(" dbname=vorna_ops_health");
        QCOMPARE(run({QStringLiteral("init"), QStringLiteral("--database"), database}).exitCode, 0);
        Serve serve({QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                     QStringLiteral("--database"), database, QStringLiteral("--health-interval"), QStringLiteral("10m")});
        QVERIFY(!serve.address().isEmpty());
        const QStringList health{QStringLiteral("health"), QStringLiteral("--address"), serve.address()};
        QCOMPARE(run(health).exitCode, 0);
        // A call whose session the database has to look up.
        auto stub = vorna::v1::CommService::NewStub(grpc::CreateChannel(serve.address().toStdString(),
                                                                        grpc::InsecureChannelCredentials()));
        const auto logoutWithUnknownSession = [&stub] {
            grpc::ClientContext context;
            context.AddMetadata("vorna-session", std::string(64, 'a'));
            vorna::v1::LogoutReply reply;
            return stub->Logout(&context, vorna::v1::LogoutRequest(), &reply).error_code();
        };

        // The database refuses connections, and those open are cut.
        QVERIFY(psql(server, QStringLiteral("ALTER DATABASE vorna_ops_health WITH ALLOW_CONNECTIONS false")));
        QVERIFY(psql(server, QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = 'vorna_ops_health'")));
        QCOMPARE(logoutWithUnknownSession(), grpc::StatusCode::UNAVAILABLE);
        QTRY_COMPARE_WITH_TIMEOUT(run(health).exitCode, 1, 30000);
        QVERIFY(run(health).err.contains(QStringLiteral("is not serving")));

        QVERIFY(psql(server, QStringLiteral("ALTER DATABASE vorna_ops_health WITH ALLOW_CONNECTIONS true")));
        QCOMPARE(logoutWithUnknownSession(), grpc::StatusCode::UNAUTHENTICATED);
        QTRY_COMPARE_WITH_TIMEOUT(run(health).exitCode, 0, 30000);
        const QString log = serve.stop();
        QVERIFY2(log.contains(QStringLiteral("event=health status=NOT_SERVING")) && log.contains(QStringLiteral("event=health status=SERVING")),
                 qPrintable(log));
        QCOMPARE(log.count(QStringLiteral("event=health ")), 2);
    }

    // docs/service.md's way for PostgreSQL: pg_dump -Fc, pg_restore into a new database.
    void postgresDumpRestoresTheSameData()
    {
        const QString server = qEnvironmentVariable("VORNA_TEST_PG");
        if (server.isEmpty())
            QSKIP("VORNA_TEST_PG names no PostgreSQL server.");
        for (const char *name : {"vorna_ops_dump", "vorna_ops_restored"}) {
            QVERIFY(psql(server, QStringLiteral("DROP DATABASE IF EXISTS %1").arg(QLatin1String(name))));
            QVERIFY(psql(server, QStringLiteral("CREATE DATABASE %1").arg(QLatin1String(name))));
        }
        const QString source = server + QStringLiteral(" dbname=vorna_ops_dump");
        const QString target = server + QStringLiteral(" dbname=vorna_ops_restored");
        QCOMPARE(run({QStringLiteral("init"), QStringLiteral("--database"), source}).exitCode, 0);
        QCOMPARE(run({QStringLiteral("demo"), QStringLiteral("--employees"), QStringLiteral("30"), QStringLiteral("--database"), source}).exitCode, 0);
        const QString dump = path(QStringLiteral("vorna.pgdump"));
        QVERIFY(tool(QStringLiteral("pg_dump"), {QStringLiteral("-Fc"), QStringLiteral("-f"), dump, QStringLiteral("-d"), source}));
        QVERIFY(tool(QStringLiteral("pg_restore"), {QStringLiteral("--no-owner"), QStringLiteral("-d"), target, dump}));

        const QString counts = QStringLiteral("SELECT (SELECT count(*) FROM employees) || '/' || (SELECT count(*) FROM registrations)"
                                              " || '/' || (SELECT max(version) FROM schema_migrations)");
        QString before, after;
        QVERIFY(psql(source, counts, &before));
        QVERIFY(psql(target, counts, &after));
        QCOMPARE(after, before);
        const Outcome users = run({QStringLiteral("user"), QStringLiteral("list"), QStringLiteral("--database"), target});
        QVERIFY2(users.exitCode == 0 && users.out.contains(QStringLiteral("manager")), qPrintable(users.err));
        QVERIFY(run({QStringLiteral("backup"), path(QStringLiteral("pg.db")), QStringLiteral("--database"), source})
                    .err.contains(QStringLiteral("pg_dump -Fc")));
    }

private:
    // Every example line in the docs' log section has a real line of the same level, event and
    // keys (values vary), and the same fixed result where the example shows one.
    void checkDocsExamples(const QStringList &log)
    {
        QFile docs(QStringLiteral(VORNA_SOURCE_DIR "/docs/service.md"));
        QVERIFY(docs.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(docs.readAll());
        const QString section = text.section(QStringLiteral("## Log format"), 1).section(QStringLiteral("\n## "), 0, 0);
        const QString block = section.section(QStringLiteral("```"), 1, 1);
        const QStringList examples = block.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(examples.size() >= 5);
        for (const QString &example : examples) {
            QVERIFY2(TimeStamp.match(example).hasMatch(), qPrintable(example));
            const auto same = [&](const QString &line) {
                return logKeys(line) == logKeys(example) && logField(line, QStringLiteral("level")) == logField(example, QStringLiteral("level"))
                    && logField(line, QStringLiteral("event")) == logField(example, QStringLiteral("event"))
                    && (!example.contains(QStringLiteral(" result=ok")) || line.contains(QStringLiteral(" result=ok")));
            };
            QVERIFY2(std::any_of(log.cbegin(), log.cend(), same),
                     qPrintable(QStringLiteral("No real line like: %1\nReal lines:\n%2").arg(example, log.join(QLatin1Char('\n')))));
        }
    }
};

QTEST_GUILESS_MAIN(TestOperations)
#include "tst_operations.moc"
