// The RPC server in-process on a temporary SQLite database, driven through a raw gRPC stub:
// logins, sessions, presence, histories, assignments, terminals, limits and shutdown.

#include "commservice.grpc.pb.h"
#include "ops/eventlog.h"
#include "ops/metrics.h"
#include "rpc/commserviceimpl.h"
#include "rpc/databasepool.h"
#include "sessions/passwordhasher.h"
#include "rpc/requestbounds.h"
#include "serve/serviceserver.h"
#include "storage/database.h"
#include "sessions/tokens.h"

#include <QCryptographicHash>
#include <QDir>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>
#include <grpcpp/server_builder.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <limits>
#include <mutex>
#include <thread>

using namespace vorna::service;
using namespace std::chrono_literals;
namespace v1 = vorna::v1;

namespace {

const QByteArray Password = "vorna-test-pass";
const QByteArray TerminalToken = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
const std::string SessionExpired = "Your session has expired. Log in again.";
const std::string SessionInvalid = "Your session is not valid. Log in again.";
const std::string DatabaseUnreachable = "The attendance service cannot reach its database. Try again in a moment.";

// The log lines of refused calls of one event and result, as the event log hands them to its
// observer.
std::atomic<int> g_refusedPresenceLines{0};
std::atomic<int> g_refusalSummaries{0};
const char *g_refusedEvent = "presence";
const char *g_refusedResult = "unauthenticated";

void countRefusedPresence(const char *event, std::initializer_list<EventLog::Field> fields)
{
    if (qstrcmp(event, g_refusedEvent) != 0)
        return;
    bool refused = false;
    bool summary = false;
    for (const EventLog::Field &field : fields) {
        refused = refused || (qstrcmp(field.key, "result") == 0 && field.value == QLatin1String(g_refusedResult));
        summary = summary || qstrcmp(field.key, "repeated") == 0;
    }
    if (refused)
        ++(summary ? g_refusalSummaries : g_refusedPresenceLines);
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

std::string bytes(const QByteArray &data)
{
    return data.toStdString();
}

// Every call in these tests gives up after ten seconds, so a fault cannot hang the run.
std::unique_ptr<grpc::ClientContext> context(const std::string &token = std::string(),
                                             const char *key = "vorna-session")
{
    auto ctx = std::make_unique<grpc::ClientContext>();
    ctx->set_deadline(std::chrono::system_clock::now() + 10s);
    if (!token.empty())
        ctx->AddMetadata(key, token);
    return ctx;
}

v1::MonthRequest month(const char *employee, int m, int y)
{
    v1::MonthRequest request;
    request.set_employee_id(employee);
    request.set_month(m);
    request.set_year(y);
    return request;
}

// Reads a whole server stream into a list; returns the final status.
template<typename Message, typename Call>
grpc::Status readAll(Call call, QList<Message> *out)
{
    auto reader = call();
    Message message;
    while (reader->Read(&message))
        out->append(message);
    return reader->Finish();
}

} // namespace

class TestCommService : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_storage;
    std::unique_ptr<ServiceServer> m_server;
    std::unique_ptr<v1::CommService::Stub> m_stub;
    QByteArray m_picture1 = QByteArray(3000, 'a');
    QByteArray m_picture2 = QByteArray(2000, 'b');
    QDateTime m_now;

    void startServer(ServerConfig config = ServerConfig())
    {
        m_stub.reset();
        m_server.reset();
        config.listen = QStringLiteral("127.0.0.1:0");
        if (config.heartbeat == ServerConfig().heartbeat)
            config.heartbeat = 1s;
        m_server = std::make_unique<ServiceServer>(*m_storage, config);
        QString error;
        QVERIFY2(m_server->start(&error), qPrintable(error));
        grpc::ChannelArguments args;
        args.SetMaxSendMessageSize(64 * 1024 * 1024);
        m_stub = v1::CommService::NewStub(grpc::CreateCustomChannel(
            m_server->address().toStdString(), grpc::InsecureChannelCredentials(), args));
    }

    grpc::Status login(const std::string &user, const std::string &password, std::string *token = nullptr,
                       v1::LoginReply *replyOut = nullptr)
    {
        v1::LoginRequest request;
        request.set_user(user);
        request.set_password(password);
        request.set_client("tst_commservice");
        v1::LoginReply reply;
        const grpc::Status status = m_stub->Login(context().get(), request, &reply);
        if (token)
            *token = reply.session_token();
        if (replyOut)
            *replyOut = reply;
        return status;
    }

    std::string loginAs(const std::string &user)
    {
        std::string token;
        const grpc::Status status = login(user, bytes(Password), &token);
        if (!status.ok())
            qWarning("login of %s failed: %s", user.c_str(), status.error_message().c_str());
        return token;
    }

    grpc::Status presence(const std::string &token, const v1::PresenceRequest &request, QList<v1::PresenceRow> *rows)
    {
        QList<v1::PresenceChunk> chunks;
        auto ctx = context(token);
        const grpc::Status status = readAll<v1::PresenceChunk>([&] { return m_stub->Presence(ctx.get(), request); }, &chunks);
        for (const v1::PresenceChunk &chunk : chunks)
            for (const v1::PresenceRow &row : chunk.rows())
                rows->append(row);
        return status;
    }

    grpc::Status calendarHistory(const std::string &token, const v1::MonthRequest &request, QList<v1::CalendarRange> *out)
    {
        auto ctx = context(token);
        return readAll<v1::CalendarRange>([&] { return m_stub->CalendarHistory(ctx.get(), request); }, out);
    }

    void seed()
    {
        const auto check = [](const StorageError &error) {
            if (!error.ok())
                qFatal("seeding failed: %s", qPrintable(error.message));
        };
        check(m_storage->migrate());
        Department sales{0, QStringLiteral("Sales")};
        Department warehouse{0, QStringLiteral("Warehouse")};
        check(m_storage->organisation().addDepartment(sales));
        check(m_storage->organisation().addDepartment(warehouse));
        PresenceStatus present{0, QStringLiteral("Present"), 0x0000ff00};
        PresenceStatus absent{0, QStringLiteral("Absent"), 0x000000ff};
        check(m_storage->organisation().addPresenceStatus(present));
        check(m_storage->organisation().addPresenceStatus(absent));
        ActivityKind arrival{0, QStringLiteral("Arrival"), present.id};
        ActivityKind departure{0, QStringLiteral("Departure"), absent.id};
        check(m_storage->organisation().addActivityKind(arrival));
        check(m_storage->organisation().addActivityKind(departure));
        check(m_storage->organisation().addEmployees({
            {QStringLiteral("E1"), QStringLiteral("Petrović"), QStringLiteral("Ana"), sales.id, m_picture1, sha256(m_picture1), {}},
            {QStringLiteral("E2"), QStringLiteral("Đorđević"), QStringLiteral("Marko"), warehouse.id, m_picture2, sha256(m_picture2), {}},
            {QStringLiteral("E3"), QStringLiteral("Adams"), QStringLiteral("Zoe"), sales.id, QByteArray(), QByteArray(), {}},
        }));
        m_now = QDateTime(QDate::currentDate(), QTime(12, 0), Qt::UTC);
        check(m_storage->organisation().addRegistrations({
            {QStringLiteral("E1"), m_now.addSecs(-4 * 3600), arrival.id, QStringLiteral("test")},
            {QStringLiteral("E2"), m_now.addDays(-3), departure.id, QStringLiteral("test")},
        }));
        Calendar standard{0, QStringLiteral("Standard 8-16"), 0x00aaaaaa};
        check(m_storage->organisation().addCalendar(standard));
        WorkDayKind holiday{0, QStringLiteral("Holiday"), 0x0000aaff};
        check(m_storage->organisation().addWorkDayKind(holiday));

        PasswordHasher hasher;
        const QString hash = hasher.hash(Password);
        User manager;
        manager.name = QStringLiteral("manager");
        manager.passwordHash = hash;
        manager.role = Role::Manager;
        manager.allDepartments = true;
        check(m_storage->accounts().addUser(manager));
        User viewer;
        viewer.name = QStringLiteral("viewer");
        viewer.passwordHash = hash;
        viewer.role = Role::Viewer;
        viewer.departmentIds = {sales.id};
        check(m_storage->accounts().addUser(viewer));
        check(m_storage->accounts().addTerminal({0, QStringLiteral("gate-1"), tokens::digest(TerminalToken), QDateTime::currentDateTimeUtc()}));
    }

    v1::PresenceRequest presenceAt(const QDateTime &at)
    {
        v1::PresenceRequest request;
        request.mutable_at()->set_seconds(at.toSecsSinceEpoch());
        return request;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(PasswordHasher::initializeSodium());
        QVERIFY(m_dir.isValid());
        Result<std::unique_ptr<Database>> opened = Database::open(m_dir.filePath(QStringLiteral("vorna.db")));
        QVERIFY2(opened, qPrintable(opened.error().message));
        m_storage = opened.take();
        seed();
    }

    void init()
    {
        // Failed logins are counted in the database, which every test here shares.
        m_storage->accounts().forgetLoginFailures(std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::max()).value();
        startServer();
    }

    void cleanup()
    {
        m_stub.reset();
        m_server.reset();
    }

    void loginGivesASessionWithTheUsersRole()
    {
        std::string token;
        v1::LoginReply reply;
        QVERIFY(login("manager", bytes(Password), &token, &reply).ok());
        QCOMPARE(token.size(), size_t(64));
        QCOMPARE(reply.role(), v1::LoginReply::MANAGER);
        QCOMPARE(reply.idle_timeout_seconds(), 1800);
        QCOMPARE(reply.heartbeat_seconds(), 1);
        QVERIFY(login("viewer", bytes(Password), nullptr, &reply).ok());
        QCOMPARE(reply.role(), v1::LoginReply::VIEWER);
        // Only the token's digest is stored.
        QVERIFY(m_storage->accounts().findSession(tokens::digest(QByteArray::fromStdString(token))));
        QVERIFY(!m_storage->accounts().findSession(QByteArray::fromStdString(token)));
    }

    void wrongPasswordAndUnknownUserLookAlike()
    {
        const grpc::Status wrong = login("manager", "not-the-password");
        const grpc::Status unknown = login("nobody", "not-the-password");
        QCOMPARE(wrong.error_code(), grpc::UNAUTHENTICATED);
        QCOMPARE(unknown.error_code(), grpc::UNAUTHENTICATED);
        QCOMPARE(wrong.error_message(), std::string("Wrong user name or password."));
        QCOMPARE(unknown.error_message(), wrong.error_message());
    }

    void malformedLoginIsRefused()
    {
        QCOMPARE(login("", "x").error_code(), grpc::INVALID_ARGUMENT);
        QCOMPARE(login("manager", std::string(5000, 'x')).error_code(), grpc::INVALID_ARGUMENT);
    }

    void repeatedFailuresAreThrottled()
    {
        for (int i = 0; i < 3; ++i)
            QCOMPARE(login("manager", "guess").error_code(), grpc::UNAUTHENTICATED);
        // The fourth guess earns a block as soon as it is counted, before its password is
        // checked: the right password, tried while that check runs, waits too. (After the
        // check the block could already have run out on a slow machine.) Blocks end on whole
        // seconds, so both go early in one second, or the first block may end at once.
        QTest::qWait(1020 - QTime::currentTime().msec());
        auto fourth = std::async(std::launch::async, [this] { return login("manager", "guess"); });
        QTest::qWait(100);
        const grpc::Status blocked = login("manager", bytes(Password));
        QCOMPARE(fourth.get().error_code(), grpc::UNAUTHENTICATED);
        QCOMPARE(blocked.error_code(), grpc::RESOURCE_EXHAUSTED);
        QVERIFY2(QString::fromStdString(blocked.error_message()).startsWith(QStringLiteral("Too many failed logins. Try again in")),
                 blocked.error_message().c_str());
        // The address may be a whole office: one user's guesses do not lock its colleagues out.
        QVERIFY(login("viewer", bytes(Password)).ok());
    }

    void aFailingDatabaseIsUnavailableNotAWrongPassword()
    {
        // A storage of its own, in a folder that moves away: the server's threads then find
        // no database file to open.
        const QString folder = m_dir.filePath(QStringLiteral("failing"));
        const QString away = folder + QStringLiteral("-away");
        QVERIFY(QDir().mkpath(folder));
        Result<std::unique_ptr<Database>> opened = Database::open(folder + QStringLiteral("/vorna.db"));
        QVERIFY2(opened, qPrintable(opened.error().message));
        std::unique_ptr<Database> failing = opened.take();
        QVERIFY(failing->migrate().ok());
        User manager;
        manager.name = QStringLiteral("manager");
        manager.passwordHash = PasswordHasher().hash(Password);
        manager.allDepartments = true;
        QVERIFY(failing->accounts().addUser(manager).ok());
        std::swap(m_storage, failing);
        startServer();

        QVERIFY(QDir().rename(folder, away));
        // More failures than the throttle allows: none of them may count. Callers the service
        // has not identified hear nothing of the database's whereabouts.
        for (int i = 0; i < 6; ++i) {
            const grpc::Status status = login("manager", i % 2 ? "guess" : bytes(Password));
            QCOMPARE(status.error_code(), grpc::UNAVAILABLE);
            QCOMPARE(status.error_message(), DatabaseUnreachable);
        }
        v1::RegisterActivityRequest activity;
        activity.set_employee_id("E1");
        v1::RegisterActivityReply activityReply;
        grpc::Status status = m_stub->RegisterActivity(context(bytes(TerminalToken), "vorna-device").get(), activity,
                                                       &activityReply);
        QCOMPARE(status.error_code(), grpc::UNAVAILABLE);
        QCOMPARE(status.error_message(), DatabaseUnreachable);
        QList<v1::PresenceRow> rows;
        status = presence(std::string(64, 'f'), presenceAt(m_now), &rows);
        QCOMPARE(status.error_code(), grpc::UNAVAILABLE);
        QCOMPARE(status.error_message(), DatabaseUnreachable);
        QVERIFY(QDir().rename(away, folder));
        const grpc::Status healed = login("manager", bytes(Password));

        m_stub.reset();
        m_server.reset();
        std::swap(m_storage, failing);
        QVERIFY2(healed.ok(), healed.error_message().c_str());
    }

    void endingAUsersSessionsEndsTheirStream()
    {
        const std::string token = loginAs("viewer");
        auto ctx = context(token);
        auto reader = m_stub->WatchSession(ctx.get(), v1::SessionWatchRequest());
        v1::SessionEvent event;
        QVERIFY(reader->Read(&event));
        QCOMPARE(event.kind(), v1::SessionEvent::HEARTBEAT);

        // What 'user passwd' and 'user remove' do; the next heartbeat notices.
        const Result<int> ended = m_storage->accounts().removeSessionsOf(QStringLiteral("viewer"));
        QVERIFY(ended.ok());
        QVERIFY2(*ended >= 1, "earlier tests' sessions of the viewer may end too");
        do {
            QVERIFY(reader->Read(&event));
        } while (event.kind() == v1::SessionEvent::HEARTBEAT);
        QCOMPARE(event.kind(), v1::SessionEvent::ENDING);
        QCOMPARE(event.reason(), std::string("Your session has ended. Log in again."));
        QVERIFY(reader->Finish().ok());
        QList<v1::PresenceRow> rows;
        QCOMPARE(presence(token, v1::PresenceRequest(), &rows).error_code(), grpc::UNAUTHENTICATED);
    }

    // A token the service never issued is no expired session, and says so.
    void callsWithoutAValidSessionAreRefused()
    {
        QList<v1::PresenceRow> rows;
        for (const std::string &token : {std::string(), std::string(64, 'f'), std::string("bogus")}) {
            const grpc::Status status = presence(token, v1::PresenceRequest(), &rows);
            QCOMPARE(status.error_code(), grpc::UNAUTHENTICATED);
            QCOMPARE(status.error_message(), SessionInvalid);
        }
        QVERIFY(rows.isEmpty());
        v1::SetReply reply;
        v1::SetCalendarRequest set;
        const grpc::Status status = m_stub->SetCalendar(context("bogus").get(), set, &reply);
        QCOMPARE(status.error_code(), grpc::UNAUTHENTICATED);
        QCOMPARE(status.error_message(), SessionInvalid);
    }

    // 5,000 junk-token calls used to write 5,000 log lines.
    void aFloodOfRefusedCallsWritesOneLine_data()
    {
        QTest::addColumn<bool>("logins");
        QTest::newRow("junk tokens") << false;
        // Names no account has: the address's free failures cover them all, so every one is
        // refused for the same reason, and the metrics still count each.
        QTest::newRow("wrong passwords") << true;
    }

    void aFloodOfRefusedCallsWritesOneLine()
    {
        QFETCH(bool, logins);
        g_refusedPresenceLines = 0;
        g_refusalSummaries = 0;
        g_refusedEvent = logins ? "login" : "presence";
        g_refusedResult = logins ? "denied" : "unauthenticated";
        EventLog::setObserver(countRefusedPresence);
        const auto restore = qScopeGuard([] { EventLog::setObserver(nullptr); });
        Counter &denied = MetricsRegistry::instance().counter("vorna_login_attempts_total", "Login attempts, by result.",
                                                              {QStringLiteral("result")}, {QStringLiteral("denied")});
        const std::uint64_t deniedBefore = denied.value();
        const int calls = logins ? 20 : 200;
        QList<v1::PresenceRow> rows;
        for (int i = 0; i < calls; ++i) {
            const grpc::Status status = logins ? login("nobody-" + std::to_string(i), "wrong-password")
                                               : presence(std::string(64, 'a' + i % 6), v1::PresenceRequest(), &rows);
            QCOMPARE(status.error_code(), grpc::UNAUTHENTICATED);
        }
        QCOMPARE(g_refusedPresenceLines.load(), 1);
        QCOMPARE(denied.value() - deniedBefore, std::uint64_t(logins ? calls : 0));
        // The count is written when the window ends, here when the service stops.
        cleanup();
        QCOMPARE(g_refusalSummaries.load(), 1);
    }

    void presenceListsRowsInStorageOrderWithPictures()
    {
        const std::string token = loginAs("manager");
        QList<v1::PresenceRow> rows;
        QVERIFY(presence(token, presenceAt(m_now), &rows).ok());
        QCOMPARE(rows.size(), 3);
        // Last name, first name, id: Adams, Đorđević, Petrović.
        QCOMPARE(rows.at(0).employee_id(), std::string("E3"));
        QCOMPARE(rows.at(1).employee_id(), std::string("E2"));
        QCOMPARE(rows.at(2).employee_id(), std::string("E1"));

        const v1::PresenceRow &ana = rows.at(2);
        QCOMPARE(ana.last_name(), std::string("Petrović"));
        QCOMPARE(ana.presence_status(), std::string("Present"));
        QCOMPARE(ana.status_color(), 0x0000ff00);
        QCOMPARE(ana.activity_description(), std::string("Arrival"));
        QCOMPARE(ana.department(), std::string("Sales"));
        QVERIFY(ana.has_last_activity());
        QCOMPARE(ana.last_activity().seconds(), m_now.addSecs(-4 * 3600).toSecsSinceEpoch());
        QVERIFY(!ana.stale());
        QCOMPARE(ana.picture(), bytes(m_picture1));
        QCOMPARE(ana.picture_digest(), bytes(sha256(m_picture1)));

        QVERIFY(rows.at(1).stale());
        QVERIFY(!rows.at(0).has_last_activity());
        QVERIFY(rows.at(0).picture_digest().empty());
    }

    void knownPicturesTravelAsDigestsOnly()
    {
        const std::string token = loginAs("manager");
        v1::PresenceRequest request = presenceAt(m_now);
        request.add_known_picture_digests(bytes(sha256(m_picture1)));
        QList<v1::PresenceRow> rows;
        QVERIFY(presence(token, request, &rows).ok());
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(2).picture_digest(), bytes(sha256(m_picture1)));
        QVERIFY(rows.at(2).picture().empty());
        QCOMPARE(rows.at(1).picture(), bytes(m_picture2));
    }

    // An answer of many pages is read one page ahead of the writing: every row comes once and in
    // order, and a caller that goes away mid-answer leaves the service serving.
    void largePresenceAnswerComesWholeInOrderAndCanBeCancelled()
    {
        constexpr int Employees = 2345; // a small first page, two full pages and a partial one
        QTemporaryDir dir;
        Result<std::unique_ptr<Database>> opened = Database::open(dir.filePath(QStringLiteral("large.db")));
        QVERIFY2(opened, qPrintable(opened.error().message));
        std::unique_ptr<Database> large = opened.take();
        QVERIFY(large->migrate().ok());
        Department archive{0, QStringLiteral("Archive")};
        QVERIFY(large->organisation().addDepartment(archive).ok());
        QVector<Employee> staff;
        for (int i = 0; i < Employees; ++i)
            staff.append({QStringLiteral("A%1").arg(i, 5, 10, QLatin1Char('0')), QStringLiteral("Lastname"),
                          QStringLiteral("First"), archive.id, QByteArray(), QByteArray(), {}});
        QVERIFY(large->organisation().addEmployees(staff).ok());
        User manager;
        manager.name = QStringLiteral("manager");
        manager.passwordHash = PasswordHasher().hash(Password);
        manager.role = Role::Manager;
        manager.allDepartments = true;
        QVERIFY(large->accounts().addUser(manager).ok());

        std::swap(m_storage, large);
        const auto restore = qScopeGuard([&] {
            cleanup();
            std::swap(m_storage, large);
        });
        startServer();
        const std::string token = loginAs("manager");
        for (int round = 0; round < 2; ++round) {
            auto ctx = context(token);
            auto reader = m_stub->Presence(ctx.get(), presenceAt(m_now));
            v1::PresenceChunk chunk;
            QVERIFY(reader->Read(&chunk));
            ctx->TryCancel();
            while (reader->Read(&chunk)) {
            }
            // The whole answer may already be on its way when the cancel goes out.
            const grpc::StatusCode code = reader->Finish().error_code();
            QVERIFY(code == grpc::CANCELLED || code == grpc::OK);
        }
        QList<v1::PresenceRow> rows;
        QVERIFY(presence(token, presenceAt(m_now), &rows).ok());
        QCOMPARE(rows.size(), Employees);
        for (int i = 0; i < Employees; ++i)
            QCOMPARE(rows.at(i).employee_id(), staff.at(i).id.toStdString());
    }

    void presenceAnswersForTheSessionUserNotTheNamedOne()
    {
        const std::string token = loginAs("viewer");
        v1::PresenceRequest request = presenceAt(m_now);
        request.set_user_name("manager");
        QList<v1::PresenceRow> rows;
        QVERIFY(presence(token, request, &rows).ok());
        // The viewer sees Sales only, whatever name the request carries.
        QCOMPARE(rows.size(), 2);
        for (const v1::PresenceRow &row : rows)
            QCOMPARE(row.department(), std::string("Sales"));
    }

    void malformedPresenceRequestIsRefusedAndServiceGoesOn()
    {
        const std::string token = loginAs("manager");
        v1::PresenceRequest bad = presenceAt(m_now);
        bad.add_known_picture_digests("short");
        QList<v1::PresenceRow> rows;
        const grpc::Status status = presence(token, bad, &rows);
        QCOMPARE(status.error_code(), grpc::INVALID_ARGUMENT);
        QVERIFY2(status.error_message().find("32") != std::string::npos, status.error_message().c_str());
        QVERIFY(rows.isEmpty());
        QVERIFY(presence(token, presenceAt(m_now), &rows).ok());
        QCOMPARE(rows.size(), 3);
    }

    void oversizedRequestIsRefusedAndServiceGoesOn()
    {
        const std::string token = loginAs("manager");
        v1::PresenceRequest huge = presenceAt(m_now);
        // 600,000 digests of 32 bytes: about 20 MB, past the 16 MB limit.
        const std::string digest(32, 'x');
        for (int i = 0; i < 600000; ++i)
            huge.add_known_picture_digests(digest);
        QList<v1::PresenceRow> rows;
        QCOMPARE(presence(token, huge, &rows).error_code(), grpc::RESOURCE_EXHAUSTED);
        QVERIFY(presence(token, presenceAt(m_now), &rows).ok());
        QCOMPARE(rows.size(), 3);
    }

    void garbageIsRefusedAndServiceGoesOn()
    {
        // Bytes that are no HTTP/2 at all.
        QTcpSocket socket;
        const QStringList hostPort = m_server->address().split(QLatin1Char(':'));
        socket.connectToHost(hostPort.at(0), quint16(hostPort.at(1).toUInt()));
        QVERIFY(socket.waitForConnected(10000));
        socket.write(QByteArray(4096, '\xff'));
        QVERIFY(socket.waitForBytesWritten(10000));
        // The service answers with a GOAWAY or just closes; either way the connection ends.
        QVERIFY(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(10000));

        // A well-framed call whose message is no LoginRequest.
        grpc::GenericStub generic(grpc::CreateChannel(m_server->address().toStdString(), grpc::InsecureChannelCredentials()));
        const char junk[] = {'\x0a', '\x7f', 'x'}; // field 1 claims 127 bytes, three follow
        grpc::Slice slice(junk, sizeof junk);
        grpc::ByteBuffer request(&slice, 1);
        grpc::ByteBuffer reply;
        grpc::ClientContext ctx;
        ctx.set_deadline(std::chrono::system_clock::now() + 10s);
        grpc::Status status;
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        generic.UnaryCall(&ctx, "/vorna.v1.CommService/Login", grpc::StubOptions(), &request, &reply,
                          [&](grpc::Status s) {
                              std::lock_guard<std::mutex> lock(mutex);
                              status = s;
                              finished = true;
                              done.notify_all();
                          });
        {
            std::unique_lock<std::mutex> lock(mutex);
            QVERIFY(done.wait_for(lock, 20s, [&] { return finished; }));
        }
        // gRPC's callback server answers a message it cannot decode with UNIMPLEMENTED.
        QVERIFY2(status.error_code() == grpc::INTERNAL || status.error_code() == grpc::INVALID_ARGUMENT
                     || status.error_code() == grpc::UNIMPLEMENTED,
                 status.error_message().c_str());

        QVERIFY(login("manager", bytes(Password)).ok());
    }

    void listsAndHistories()
    {
        const std::string token = loginAs("manager");
        QList<v1::Calendar> calendars;
        auto ctx = context(token);
        QVERIFY(readAll<v1::Calendar>([&] { return m_stub->CalendarList(ctx.get(), v1::ListRequest()); }, &calendars).ok());
        QCOMPARE(calendars.size(), 1);
        QCOMPARE(calendars.at(0).name(), std::string("Standard 8-16"));
        QList<v1::WorkDayKind> kinds;
        ctx = context(token);
        QVERIFY(readAll<v1::WorkDayKind>([&] { return m_stub->WorkDayList(ctx.get(), v1::ListRequest()); }, &kinds).ok());
        QCOMPARE(kinds.size(), 1);
        QCOMPARE(kinds.at(0).name(), std::string("Holiday"));

        QList<v1::CalendarRange> ranges;
        QCOMPARE(calendarHistory(token, month("E404", 3, 2024), &ranges).error_code(), grpc::NOT_FOUND);
        QCOMPARE(calendarHistory(token, month("E1", 13, 2024), &ranges).error_code(), grpc::INVALID_ARGUMENT);
        QCOMPARE(calendarHistory(token, month("", 3, 2024), &ranges).error_code(), grpc::INVALID_ARGUMENT);
        QVERIFY(calendarHistory(token, month("E1", 3, 2024), &ranges).ok());
        QVERIFY(ranges.isEmpty());
        QList<v1::ExceptionDay> days;
        ctx = context(token);
        const v1::MonthRequest unknown = month("E404", 3, 2024);
        QCOMPARE((readAll<v1::ExceptionDay>([&] { return m_stub->ExceptionHistory(ctx.get(), unknown); }, &days).error_code()),
                 grpc::NOT_FOUND);
    }

    void viewerIsKeptToTheirDepartmentsAndCannotAssign()
    {
        const std::string token = loginAs("viewer");
        QList<v1::CalendarRange> ranges;
        // E2 works in the Warehouse, outside the viewer's Sales.
        QCOMPARE(calendarHistory(token, month("E2", 3, 2024), &ranges).error_code(), grpc::PERMISSION_DENIED);
        QVERIFY(calendarHistory(token, month("E1", 3, 2024), &ranges).ok());

        v1::SetCalendarRequest set;
        set.set_calendar_id(m_storage->organisation().calendars().value().at(0).id);
        set.set_employee_id("E1");
        set.mutable_valid_from()->set_year(2024);
        set.mutable_valid_from()->set_month(3);
        set.mutable_valid_from()->set_day(10);
        v1::SetReply reply;
        QCOMPARE(m_stub->SetCalendar(context(token).get(), set, &reply).error_code(), grpc::PERMISSION_DENIED);
    }

    void managerAssignmentShowsInHistoryAndAudit()
    {
        const std::string token = loginAs("manager");
        const int auditBefore = m_storage->calendars().auditLog(QStringLiteral("E3")).value().size();
        v1::SetCalendarRequest set;
        set.set_calendar_id(m_storage->organisation().calendars().value().at(0).id);
        set.set_employee_id("E3");
        set.mutable_valid_from()->set_year(2024);
        set.mutable_valid_from()->set_month(2);
        set.mutable_valid_from()->set_day(30);
        v1::SetReply reply;
        QCOMPARE(m_stub->SetCalendar(context(token).get(), set, &reply).error_code(), grpc::INVALID_ARGUMENT);
        set.mutable_valid_from()->set_day(10);
        const grpc::Status status = m_stub->SetCalendar(context(token).get(), set, &reply);
        QVERIFY2(status.ok(), status.error_message().c_str());
        QVERIFY(reply.audit_id() > 0);
        QCOMPARE(m_storage->calendars().auditLog(QStringLiteral("E3")).value().size(), auditBefore + 1);

        QList<v1::CalendarRange> ranges;
        QVERIFY(calendarHistory(token, month("E3", 3, 2024), &ranges).ok());
        QCOMPARE(ranges.size(), 1);
        QCOMPARE(ranges.at(0).calendar_name(), std::string("Standard 8-16"));
        // Assigned from February 10th: in March it applies from the month's first day.
        QCOMPARE(ranges.at(0).valid_begin().seconds(), QDateTime(QDate(2024, 3, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());

        v1::SetWorkDayRequest workDay;
        workDay.set_work_day_id(m_storage->organisation().workDayKinds().value().at(0).id);
        workDay.set_employee_id("E3");
        workDay.mutable_day()->set_year(2024);
        workDay.mutable_day()->set_month(3);
        workDay.mutable_day()->set_day(15);
        QVERIFY(m_stub->SetWorkDay(context(token).get(), workDay, &reply).ok());
        QList<v1::ExceptionDay> days;
        auto ctx = context(token);
        const v1::MonthRequest march = month("E3", 3, 2024);
        QVERIFY((readAll<v1::ExceptionDay>([&] { return m_stub->ExceptionHistory(ctx.get(), march); }, &days).ok()));
        QCOMPARE(days.size(), 1);
        QCOMPARE(days.at(0).day().day(), 15);
        QCOMPARE(days.at(0).day_name(), std::string("Holiday"));
    }

    void terminalsRegisterActivitiesWithTheirToken()
    {
        v1::RegisterActivityRequest request;
        request.set_employee_id("E3");
        request.set_activity_kind_id(m_storage->organisation().activityKinds().value().at(0).id);
        request.mutable_at()->set_seconds(m_now.addSecs(-60).toSecsSinceEpoch());
        v1::RegisterActivityReply reply;
        QCOMPARE(m_stub->RegisterActivity(context().get(), request, &reply).error_code(), grpc::UNAUTHENTICATED);
        QCOMPARE(m_stub->RegisterActivity(context("wrong", "vorna-device").get(), request, &reply).error_code(),
                 grpc::UNAUTHENTICATED);
        // A session token is no device token.
        QCOMPARE(m_stub->RegisterActivity(context(loginAs("manager")).get(), request, &reply).error_code(),
                 grpc::UNAUTHENTICATED);

        v1::RegisterActivityRequest unknown = request;
        unknown.set_employee_id("E404");
        QCOMPARE(m_stub->RegisterActivity(context(bytes(TerminalToken), "vorna-device").get(), unknown, &reply).error_code(),
                 grpc::NOT_FOUND);
        unknown = request;
        unknown.set_activity_kind_id(9999);
        QCOMPARE(m_stub->RegisterActivity(context(bytes(TerminalToken), "vorna-device").get(), unknown, &reply).error_code(),
                 grpc::NOT_FOUND);

        const grpc::Status status = m_stub->RegisterActivity(context(bytes(TerminalToken), "vorna-device").get(), request, &reply);
        QVERIFY2(status.ok(), status.error_message().c_str());
        QVERIFY(reply.registration_id() > 0);
        QList<v1::PresenceRow> rows;
        QVERIFY(presence(loginAs("manager"), presenceAt(m_now), &rows).ok());
        QCOMPARE(rows.at(0).employee_id(), std::string("E3"));
        QCOMPARE(rows.at(0).presence_status(), std::string("Present"));
    }

    // A terminal that did not hear the answer sends the same request again.
    void terminalRetriesWithARequestIdStoreOnce()
    {
        v1::RegisterActivityRequest request;
        request.set_employee_id("E3");
        request.set_activity_kind_id(m_storage->organisation().activityKinds().value().at(0).id);
        request.mutable_at()->set_seconds(m_now.addSecs(-30).toSecsSinceEpoch());
        request.set_request_id("gate-1/000123");
        const auto registrationsOfE3 = [this] {
            const RegistrationRange range{m_now.date().addDays(-1), m_now.date(), 0, false};
            const QVector<RegistrationRow> rows = m_storage->organisation().registrations(range).value();
            return std::count_if(rows.begin(), rows.end(), [](const RegistrationRow &r) { return r.employeeId == QLatin1String("E3"); });
        };
        const auto before = registrationsOfE3();
        v1::RegisterActivityReply first;
        v1::RegisterActivityReply repeat;
        QVERIFY(m_stub->RegisterActivity(context(bytes(TerminalToken), "vorna-device").get(), request, &first).ok());
        QVERIFY(m_stub->RegisterActivity(context(bytes(TerminalToken), "vorna-device").get(), request, &repeat).ok());
        QVERIFY(first.registration_id() > 0);
        QCOMPARE(repeat.registration_id(), first.registration_id());
        QCOMPARE(registrationsOfE3(), before + 1);
    }

    void sessionStreamBeatsAndEndsOnLogout()
    {
        const std::string token = loginAs("manager");
        auto ctx = context(token);
        auto reader = m_stub->WatchSession(ctx.get(), v1::SessionWatchRequest());
        v1::SessionEvent event;
        QVERIFY(reader->Read(&event));
        QCOMPARE(event.kind(), v1::SessionEvent::HEARTBEAT);
        QVERIFY(reader->Read(&event));
        QCOMPARE(event.kind(), v1::SessionEvent::HEARTBEAT);

        v1::LogoutReply reply;
        QVERIFY(m_stub->Logout(context(token).get(), v1::LogoutRequest(), &reply).ok());
        do {
            QVERIFY(reader->Read(&event));
        } while (event.kind() == v1::SessionEvent::HEARTBEAT);
        QCOMPARE(event.kind(), v1::SessionEvent::ENDING);
        QCOMPARE(event.reason(), std::string("You logged out."));
        QVERIFY(!reader->Read(&event));
        QVERIFY(reader->Finish().ok());

        QList<v1::PresenceRow> rows;
        QCOMPARE(presence(token, v1::PresenceRequest(), &rows).error_code(), grpc::UNAUTHENTICATED);
    }

private:
    // The events a session stream sends within `window`, each with when it came.
    struct Heard
    {
        v1::SessionEvent::Kind kind;
        std::chrono::steady_clock::time_point at;
    };
    std::future<std::vector<Heard>> listen(const std::string &token, std::chrono::milliseconds window)
    {
        return std::async(std::launch::async, [this, token, window] {
            grpc::ClientContext ctx;
            ctx.AddMetadata("vorna-session", token);
            ctx.set_deadline(std::chrono::system_clock::now() + window);
            auto reader = m_stub->WatchSession(&ctx, v1::SessionWatchRequest());
            std::vector<Heard> heard;
            v1::SessionEvent event;
            while (reader->Read(&event))
                heard.push_back({event.kind(), std::chrono::steady_clock::now()});
            return heard;
        });
    }

    grpc::Status registerArrival(const char *employee)
    {
        v1::RegisterActivityRequest request;
        request.set_employee_id(employee);
        request.set_activity_kind_id(m_storage->organisation().activityKinds().value().at(0).id);
        v1::RegisterActivityReply reply;
        return m_stub->RegisterActivity(context(bytes(TerminalToken), "vorna-device").get(), request, &reply);
    }

    static std::vector<std::chrono::steady_clock::time_point> presenceEvents(const std::vector<Heard> &heard)
    {
        std::vector<std::chrono::steady_clock::time_point> at;
        for (const Heard &h : heard) {
            if (h.kind == v1::SessionEvent::PRESENCE_CHANGED)
                at.push_back(h.at);
        }
        return at;
    }

private slots:
    void presenceChangesReachTheSessionsThatSeeThemAtMostOnceASecond()
    {
        auto manager = listen(loginAs("manager"), 3500ms);
        auto salesViewer = listen(loginAs("viewer"), 3500ms);
        QTest::qWait(300); // both streams stand

        // E2 works in the Warehouse, which the viewer does not see; E1 and E3 in Sales.
        QVERIFY(registerArrival("E2").ok());
        QTest::qWait(1200);
        std::chrono::steady_clock::time_point lastStored;
        for (int i = 0; i < 5; ++i) {
            QVERIFY(registerArrival(i % 2 ? "E1" : "E3").ok());
            lastStored = std::chrono::steady_clock::now();
        }

        const std::vector<std::chrono::steady_clock::time_point> toManager = presenceEvents(manager.get());
        const std::vector<std::chrono::steady_clock::time_point> toViewer = presenceEvents(salesViewer.get());
        QVERIFY2(toManager.size() >= 2 && toManager.size() <= 3, qPrintable(QString::number(toManager.size())));
        for (size_t i = 1; i < toManager.size(); ++i)
            QVERIFY(toManager[i] - toManager[i - 1] >= 900ms); // the client's clock reads a little late or early
        QVERIFY2(!toViewer.empty() && toViewer.size() <= 2, qPrintable(QString::number(toViewer.size())));
        // The burst's last change is announced by an event sent after it was stored.
        QVERIFY(toManager.back() > lastStored);
        QVERIFY(toViewer.back() > lastStored);
    }

    // An import runs in a process of its own; what it writes reaches the service's sessions
    // through the database, and only those that see the department.
    void changesFromAnotherProcessReachTheSessions()
    {
        auto manager = listen(loginAs("manager"), 2500ms);
        auto salesViewer = listen(loginAs("viewer"), 2500ms);
        QTest::qWait(300);

        Result<std::unique_ptr<Database>> opened = Database::open(m_dir.filePath(QStringLiteral("vorna.db")));
        QVERIFY2(opened.ok(), qPrintable(opened.error().message));
        const std::unique_ptr<Database> importer = opened.take();
        const qint64 warehouse = importer->organisation().idOf(OrganisationStore::Kind::Department,
                                                               QStringLiteral("Warehouse")).value();
        const StorageError written = importer->write(QStringLiteral("import"), [&](Transaction &tx) {
            return PresenceStore::announcePresenceChanges(tx, {warehouse});
        });
        QVERIFY2(written.ok(), qPrintable(written.message));

        QCOMPARE(presenceEvents(manager.get()).size(), size_t(1));
        QVERIFY(presenceEvents(salesViewer.get()).empty());
    }

    void streamsPerSessionAreCapped()
    {
        const std::string token = loginAs("manager");
        std::vector<std::unique_ptr<grpc::ClientContext>> contexts;
        std::vector<std::unique_ptr<grpc::ClientReader<v1::SessionEvent>>> readers;
        v1::SessionEvent event;
        for (int i = 0; i < 4; ++i) {
            contexts.push_back(context(token));
            readers.push_back(m_stub->WatchSession(contexts.back().get(), v1::SessionWatchRequest()));
            QVERIFY(readers.back()->Read(&event));
        }
        QList<v1::PresenceRow> rows;
        const grpc::Status refused = presence(token, presenceAt(m_now), &rows);
        QCOMPARE(refused.error_code(), grpc::RESOURCE_EXHAUSTED);
        // Another session is not affected.
        QVERIFY(presence(loginAs("viewer"), presenceAt(m_now), &rows).ok());
        for (auto &ctx : contexts)
            ctx->TryCancel();
        for (auto &reader : readers)
            reader->Finish();
    }

    void shutdownEndsSessionStreamsWithAReason()
    {
        const std::string token = loginAs("manager");
        auto ctx = context(token);
        auto reader = m_stub->WatchSession(ctx.get(), v1::SessionWatchRequest());
        v1::SessionEvent event;
        QVERIFY(reader->Read(&event));
        std::thread stopper([this] { m_server->shutdown(); });
        do {
            QVERIFY(reader->Read(&event));
        } while (event.kind() == v1::SessionEvent::HEARTBEAT);
        QCOMPARE(event.kind(), v1::SessionEvent::ENDING);
        QCOMPARE(event.reason(), std::string("The attendance service is shutting down."));
        QVERIFY(reader->Finish().ok());
        stopper.join();
        m_server->wait();
        QList<v1::PresenceRow> rows;
        QCOMPARE(presence(token, v1::PresenceRequest(), &rows).error_code(), grpc::UNAVAILABLE);
    }

    void idleSessionsExpire()
    {
        ServerConfig config;
        config.sessionIdle = 2s;
        startServer(config);
        const std::string token = loginAs("manager");
        auto ctx = context(token);
        auto reader = m_stub->WatchSession(ctx.get(), v1::SessionWatchRequest());
        v1::SessionEvent event;
        // Heartbeats do not keep a session alive; within the ten-second deadline it ends.
        do {
            QVERIFY(reader->Read(&event));
        } while (event.kind() == v1::SessionEvent::HEARTBEAT);
        QCOMPARE(event.kind(), v1::SessionEvent::ENDING);
        QCOMPARE(event.reason(), SessionExpired);
        QVERIFY(reader->Finish().ok());
        // The stream's check removed the expired session; it is unknown from now on.
        QList<v1::PresenceRow> rows;
        const grpc::Status status = presence(token, v1::PresenceRequest(), &rows);
        QCOMPARE(status.error_code(), grpc::UNAUTHENTICATED);
        QCOMPARE(status.error_message(), SessionInvalid);
        // A call is the first to find a session expired: it says so.
        const std::string idle = loginAs("manager");
        QTest::qWait(3000);
        QCOMPARE(presence(idle, v1::PresenceRequest(), &rows).error_message(), SessionExpired);
    }

    void tlsServesOnlyTlsClients()
    {
        const QString cert = m_dir.filePath(QStringLiteral("cert.pem"));
        const QString key = m_dir.filePath(QStringLiteral("key.pem"));
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("rsa:2048"),
                       QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=localhost"), QStringLiteral("-addext"),
                       QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost"), QStringLiteral("-keyout"), key,
                       QStringLiteral("-out"), cert});
        QVERIFY2(openssl.waitForFinished(60000) && openssl.exitCode() == 0,
                 "openssl makes the test certificate; tools/bootstrap.sh installs it");

        ServerConfig config;
        config.tlsCertFile = cert;
        config.tlsKeyFile = key;
        startServer(config);
        // startServer's plain channel is refused by a TLS-only service.
        QCOMPARE(login("manager", bytes(Password)).error_code(), grpc::UNAVAILABLE);

        QFile pem(cert);
        QVERIFY(pem.open(QIODevice::ReadOnly));
        grpc::SslCredentialsOptions options;
        options.pem_root_certs = pem.readAll().toStdString();
        m_stub = v1::CommService::NewStub(grpc::CreateChannel(m_server->address().toStdString(),
                                                              grpc::SslCredentials(options)));
        QVERIFY(login("manager", bytes(Password)).ok());
    }

    // Each session stream used to hold a server thread, 256 at most; now 300 hold none, a login
    // still gets through, and a logout ends all of them without waiting for a heartbeat.
    void manyOpenStreamsHoldNoThreadAndLogoutEndsThemAtOnce()
    {
        ServerConfig config;
        config.maxStreamsPerSession = 400;
        config.heartbeat = 3600s;
        startServer(config);
        const std::string token = loginAs("manager");
        struct Stream
        {
            std::unique_ptr<grpc::ClientContext> context;
            std::unique_ptr<grpc::ClientReader<v1::SessionEvent>> reader;
        };
        // Several connections, so no connection's own cap on concurrent streams is met.
        std::vector<std::unique_ptr<v1::CommService::Stub>> stubs;
        for (int i = 0; i < 20; ++i) {
            grpc::ChannelArguments args;
            args.SetInt("vorna.test.connection", i);
            stubs.push_back(v1::CommService::NewStub(grpc::CreateCustomChannel(
                m_server->address().toStdString(), grpc::InsecureChannelCredentials(), args)));
        }
        std::vector<Stream> streams;
        v1::SessionEvent event;
        for (int i = 0; i < 300; ++i) {
            Stream stream{context(token), nullptr};
            stream.reader = stubs.at(size_t(i % 20))->WatchSession(stream.context.get(), v1::SessionWatchRequest());
            QVERIFY(stream.reader->Read(&event));
            QCOMPARE(event.kind(), v1::SessionEvent::HEARTBEAT);
            streams.push_back(std::move(stream));
        }
        const grpc::Status other = login("viewer", bytes(Password));
        QVERIFY2(other.ok(), other.error_message().c_str());

        v1::LogoutReply reply;
        QVERIFY(m_stub->Logout(context(token).get(), v1::LogoutRequest(), &reply).ok());
        for (Stream &stream : streams) {
            QVERIFY(stream.reader->Read(&event));
            QCOMPARE(event.kind(), v1::SessionEvent::ENDING);
            QCOMPARE(event.reason(), std::string("You logged out."));
            QVERIFY(stream.reader->Finish().ok());
        }
    }

    // The service's handlers on a pool of one database worker and one queued job: with both
    // taken, calls are refused at once instead of waiting.
    void aFullDatabaseQueueRefusesCallsAtOnce()
    {
        PasswordHasher hasher;
        LoginThrottle throttle;
        SessionManager sessions(m_storage->accounts(), SessionPolicy{});
        Authenticator authenticator(m_storage->accounts(), sessions, throttle, hasher);
        SessionHub hub;
        StreamLimiter limiter(4);
        const ServerConfig config;
        DatabasePool pool(1, 1);
        CommServiceImpl service(ServiceParts{m_storage->accounts(), m_storage->organisation(), m_storage->calendars(),
                                             m_storage->presence(), sessions, authenticator, hub, limiter, config, &pool});
        grpc::ServerBuilder builder;
        int port = 0;
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        builder.RegisterService(&service);
        const std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
        QVERIFY(server && port > 0);
        const auto stub = v1::CommService::NewStub(
            grpc::CreateChannel("127.0.0.1:" + std::to_string(port), grpc::InsecureChannelCredentials()));

        std::promise<void> taken;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        QVERIFY(pool.post([&taken, released] {
            taken.set_value();
            released.wait();
        }));
        taken.get_future().wait();
        QVERIFY(pool.post([] {}));
        QVERIFY(!pool.post([] {}));

        v1::LoginRequest request;
        request.set_user("manager");
        request.set_password(bytes(Password));
        v1::LoginReply reply;
        // Logins have workers of their own: a full queue of other work does not hold them up.
        grpc::Status status = stub->Login(context().get(), request, &reply);
        QVERIFY2(status.ok(), status.error_message().c_str());
        v1::LogoutReply loggedOut;
        status = stub->Logout(context(reply.session_token()).get(), v1::LogoutRequest(), &loggedOut);
        QCOMPARE(status.error_code(), grpc::RESOURCE_EXHAUSTED);
        QCOMPARE(status.error_message(), std::string("The service is busy. Try again in a moment."));
        auto ctx = context();
        auto reader = stub->WatchSession(ctx.get(), v1::SessionWatchRequest());
        v1::SessionEvent event;
        QVERIFY(!reader->Read(&event));
        QCOMPARE(reader->Finish().error_code(), grpc::RESOURCE_EXHAUSTED);

        // Once the worker is free and the queue has room again, calls are served as before.
        release.set_value();
        std::promise<void> drained;
        while (!pool.post([&drained] { drained.set_value(); }))
            std::this_thread::yield();
        drained.get_future().wait();
        status = stub->Login(context().get(), request, &reply);
        QVERIFY2(status.ok(), status.error_message().c_str());
        server->Shutdown();
    }

    // Values no calendar holds are refused before they reach the storage, and the refusal
    // quotes no more than a short piece of what came.
    void outOfRangeValuesAreRefused()
    {
        const std::string token = loginAs("manager");
        const std::string device = bytes(TerminalToken);
        const std::string hugeId(1024 * 1024, 'x');
        const int auditBefore = m_storage->calendars().auditLog(QStringLiteral("E3")).value().size();
        const auto checkRefused = [](const grpc::Status &status, const char *what) {
            QVERIFY2(status.error_code() == grpc::INVALID_ARGUMENT, what);
            QVERIFY2(status.error_message().size() <= 300, status.error_message().c_str());
        };
        v1::RegisterActivityRequest activity;
        activity.set_employee_id("E3");
        activity.set_activity_kind_id(m_storage->organisation().activityKinds().value().at(0).id);
        v1::RegisterActivityReply activityReply;
        for (const qint64 seconds : {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min(),
                                     qint64(-2208988801), qint64(253402300800)}) {
            activity.mutable_at()->set_seconds(seconds);
            checkRefused(m_stub->RegisterActivity(context(device, "vorna-device").get(), activity, &activityReply),
                         "activity moment");
            v1::PresenceRequest request = presenceAt(m_now);
            request.mutable_at()->set_seconds(seconds);
            QList<v1::PresenceRow> rows;
            checkRefused(presence(token, request, &rows), "presence moment");
        }
        activity.mutable_at()->set_seconds(m_now.toSecsSinceEpoch());
        activity.set_employee_id(hugeId);
        const grpc::Status huge = m_stub->RegisterActivity(context(device, "vorna-device").get(), activity, &activityReply);
        checkRefused(huge, "huge id");
        QVERIFY2(huge.error_message().find(std::string(bounds::MaxQuoted + 1, 'x')) == std::string::npos,
                 huge.error_message().c_str());

        v1::SetCalendarRequest calendar;
        calendar.set_calendar_id(m_storage->organisation().calendars().value().at(0).id);
        calendar.set_employee_id("E3");
        v1::SetWorkDayRequest workDay;
        workDay.set_work_day_id(m_storage->organisation().workDayKinds().value().at(0).id);
        workDay.set_employee_id("E3");
        v1::SetReply reply;
        for (const int year : {0, 1899, 10000, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}) {
            for (v1::CivilDate *day : {calendar.mutable_valid_from(), workDay.mutable_day()}) {
                day->set_year(year);
                day->set_month(3);
                day->set_day(10);
            }
            checkRefused(m_stub->SetCalendar(context(token).get(), calendar, &reply), "calendar year");
            checkRefused(m_stub->SetWorkDay(context(token).get(), workDay, &reply), "workday year");
        }
        QList<v1::CalendarRange> ranges;
        checkRefused(calendarHistory(token, month(hugeId.c_str(), 3, 2024), &ranges), "history id");
        checkRefused(calendarHistory(token, month("E1", 3, 10000), &ranges), "history year");
        // Nothing of the above was stored.
        QCOMPARE(m_storage->calendars().auditLog(QStringLiteral("E3")).value().size(), auditBefore);
        QCOMPARE(login(std::string(201, 'u'), bytes(Password)).error_code(), grpc::INVALID_ARGUMENT);
    }

    void aListenAddressInUseIsReported()
    {
        ServerConfig config;
        config.listen = m_server->address();
        ServiceServer second(*m_storage, config);
        QString error;
        QVERIFY(!second.start(&error));
        QVERIFY2(error.contains(QStringLiteral("Cannot listen on %1").arg(config.listen)), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestCommService)
#include "tst_commservice.moc"
