// The service's answers against clients that stall or go away, on the RPC server in-process:
// a client that takes nothing of a presence answer has its call ended within the call timeout
// and its pages freed; clients that cancel at random moments leave nothing behind (run this
// one under AddressSanitizer too: a read ahead must not use what the call freed).

#include "commservice.grpc.pb.h"
#include "rpc/commserviceimpl.h"
#include "rpc/presencestream.h"
#include "sessions/passwordhasher.h"
#include "sessions/tokens.h"
#include "storage/database.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <grpcpp/grpcpp.h>
#include <grpcpp/server_builder.h>

#include <thread>

using namespace vorna::service;
using namespace std::chrono_literals;
namespace v1 = vorna::v1;

namespace {

const QByteArray Password = "vorna-test-pass";
constexpr int Employees = 1500; // a small first page and a few full ones
constexpr int PictureBytes = 4000;

QByteArray pictureOf(int employee)
{
    QByteArray picture(PictureBytes, char('a' + employee % 26));
    picture.replace(0, 4, QByteArray::number(employee).rightJustified(4, '0'));
    return picture;
}

// A channel whose client takes data only as the test reads it, in small steps.
std::shared_ptr<grpc::Channel> narrowChannel(const std::string &address)
{
    grpc::ChannelArguments args;
    args.SetInt(GRPC_ARG_HTTP2_STREAM_LOOKAHEAD_BYTES, 1024);
    args.SetInt(GRPC_ARG_HTTP2_BDP_PROBE, 0);
    args.SetInt("vorna.test.narrow", 1); // a connection of its own
    return grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), args);
}

} // namespace

class TestStreamStalls : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Database> m_storage;
    QVector<QByteArray> m_digests;

    // The service's parts, as `serve` puts them together.
    std::unique_ptr<PasswordHasher> m_hasher;
    std::unique_ptr<LoginThrottle> m_throttle;
    std::unique_ptr<SessionManager> m_sessions;
    std::unique_ptr<Authenticator> m_authenticator;
    std::unique_ptr<SessionHub> m_hub;
    std::unique_ptr<StreamLimiter> m_limiter;
    ServerConfig m_config;
    std::unique_ptr<CommServiceImpl> m_service;
    std::unique_ptr<grpc::Server> m_server;
    std::string m_address;
    std::unique_ptr<v1::CommService::Stub> m_stub;

    void seed()
    {
        QVERIFY(m_storage->migrate().ok());
        Department archive{0, QStringLiteral("Archive")};
        QVERIFY(m_storage->organisation().addDepartment(archive).ok());
        QVector<Employee> staff;
        for (int i = 0; i < Employees; ++i) {
            const QByteArray picture = pictureOf(i);
            const QByteArray digest = QCryptographicHash::hash(picture, QCryptographicHash::Sha256);
            m_digests.append(digest);
            staff.append({QStringLiteral("A%1").arg(i, 5, 10, QLatin1Char('0')), QStringLiteral("Lastname"),
                          QStringLiteral("First"), archive.id, picture, digest, {}});
        }
        QVERIFY(m_storage->organisation().addEmployees(staff).ok());
        const User manager{0, QStringLiteral("manager"), PasswordHasher().hash(Password), Role::Manager, true, {}};
        QVERIFY(m_storage->accounts().addUser(manager).ok());
    }

    void startService()
    {
        m_config.callTimeout = 2s;
        m_hasher = std::make_unique<PasswordHasher>();
        m_throttle = std::make_unique<LoginThrottle>();
        m_sessions = std::make_unique<SessionManager>(m_storage->accounts(), SessionPolicy{});
        m_authenticator = std::make_unique<Authenticator>(m_storage->accounts(), *m_sessions, *m_throttle, *m_hasher);
        m_hub = std::make_unique<SessionHub>();
        // Cancelled streams give their places back a moment after the client has gone.
        m_limiter = std::make_unique<StreamLimiter>(1000);
        m_service = std::make_unique<CommServiceImpl>(
            ServiceParts{m_storage->accounts(), m_storage->organisation(), m_storage->calendars(), m_storage->presence(),
                         *m_sessions, *m_authenticator, *m_hub, *m_limiter, m_config});
        grpc::ServerBuilder builder;
        int port = 0;
        builder.AddListeningPort("127.0.0.1:0", grpc::InsecureServerCredentials(), &port);
        builder.RegisterService(m_service.get());
        m_server = builder.BuildAndStart();
        QVERIFY(m_server && port > 0);
        m_address = "127.0.0.1:" + std::to_string(port);
        m_stub = v1::CommService::NewStub(grpc::CreateChannel(m_address, grpc::InsecureChannelCredentials()));
    }

    std::string login()
    {
        v1::LoginRequest request;
        request.set_user("manager");
        request.set_password(Password.toStdString());
        v1::LoginReply reply;
        grpc::ClientContext ctx;
        ctx.set_deadline(std::chrono::system_clock::now() + 30s);
        const grpc::Status status = m_stub->Login(&ctx, request, &reply);
        if (!status.ok())
            qWarning("login failed: %s", status.error_message().c_str());
        return reply.session_token();
    }

    // A presence request that lists every other picture as known.
    v1::PresenceRequest presenceRequest() const
    {
        v1::PresenceRequest request;
        for (int i = 0; i < m_digests.size(); i += 2)
            request.add_known_picture_digests(m_digests.at(i).toStdString());
        return request;
    }

    int streamsHeldBy(const std::string &token) const
    {
        return m_limiter->open(tokens::digest(QByteArray::fromStdString(token)));
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
        startService();
    }

    void cleanupTestCase()
    {
        m_stub.reset();
        if (m_server)
            m_server->Shutdown(std::chrono::system_clock::now() + 10s);
        m_server.reset();
        m_service.reset();
    }

    // The client's window never opens beyond what it took at first. The answer used to stay
    // open until the client's own deadline, holding its pages and the session's stream place.
    void aClientThatTakesNothingHasItsAnswerEndedWithinTheCallTimeout()
    {
        const std::string token = login();
        QVERIFY(!token.empty());
        const auto stub = v1::CommService::NewStub(narrowChannel(m_address));
        grpc::ClientContext ctx;
        ctx.AddMetadata("vorna-session", token);
        ctx.set_deadline(std::chrono::system_clock::now() + 300s);
        const auto reader = stub->Presence(&ctx, presenceRequest());
        QTRY_COMPARE_WITH_TIMEOUT(streamsHeldBy(token), 1, 20000);

        // The call timeout and a generous margin for a loaded machine.
        const int margin = 20000;
        QTRY_VERIFY2_WITH_TIMEOUT(PresenceStream::alive() == 0, "the stalled answer is still open",
                                  int(std::chrono::milliseconds(m_config.callTimeout).count()) + margin);
        QCOMPARE(streamsHeldBy(token), 0);
        ctx.TryCancel();
        QCOMPARE(reader->Finish().error_code(), grpc::CANCELLED);

        // The session goes on: a client that reads gets the whole answer.
        grpc::ClientContext again;
        again.AddMetadata("vorna-session", token);
        again.set_deadline(std::chrono::system_clock::now() + 60s);
        const auto whole = m_stub->Presence(&again, presenceRequest());
        v1::PresenceChunk chunk;
        int rows = 0;
        while (whole->Read(&chunk))
            rows += chunk.rows_size();
        QVERIFY(whole->Finish().ok());
        QCOMPARE(rows, Employees);
    }

    // Each round cancels after a random number of chunks and a random pause, so that some
    // cancels land while the page after the one being written is still being read.
    void cancelsAtRandomMomentsLeaveNothingBehind()
    {
        const std::string token = login();
        QVERIFY(!token.empty());
        const auto stub = v1::CommService::NewStub(narrowChannel(m_address));
        const v1::PresenceRequest request = presenceRequest();
        QRandomGenerator random(20240305);
        for (int round = 0; round < 150; ++round) {
            grpc::ClientContext ctx;
            ctx.AddMetadata("vorna-session", token);
            ctx.set_deadline(std::chrono::system_clock::now() + 60s);
            const auto reader = stub->Presence(&ctx, request);
            v1::PresenceChunk chunk;
            const int chunks = random.bounded(12);
            for (int i = 0; i < chunks && reader->Read(&chunk); ++i) {
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(3000)));
            ctx.TryCancel();
            while (reader->Read(&chunk)) {
            }
            const grpc::StatusCode code = reader->Finish().error_code();
            QVERIFY2(code == grpc::CANCELLED || code == grpc::OK, qPrintable(QString::number(code)));
        }
        QTRY_COMPARE_WITH_TIMEOUT(PresenceStream::alive(), 0, 30000);
        QCOMPARE(streamsHeldBy(token), 0);
    }
};

QTEST_GUILESS_MAIN(TestStreamStalls)
#include "tst_streamstalls.moc"
