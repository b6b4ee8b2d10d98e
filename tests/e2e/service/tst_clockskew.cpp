// Two built service instances on one PostgreSQL database whose clocks disagree by 20 minutes:
// the second runs under libfaketime. Session idle time and login throttle windows are measured
// on the database's clock, so neither instance's clock ends or keeps what the other made.

#include "support/servicerunner.h"
#include "support/storagefixture.h"

#include "commservice.grpc.pb.h"

#include <QFile>
#include <QtTest>

#include <grpcpp/grpcpp.h>

using vorna::testing::ServiceRunner;
namespace v1 = vorna::v1;

namespace {

const QString FakeTimeLibrary = QStringLiteral("/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1");
const char *const Password = "a-long-password";

class Client
{
public:
    explicit Client(const ServiceRunner &instance)
        : m_stub(v1::CommService::NewStub(
              grpc::CreateChannel(instance.address().toStdString(), grpc::InsecureChannelCredentials())))
    {
    }

    grpc::Status login(const std::string &user, const std::string &password, std::string *token = nullptr)
    {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
        v1::LoginRequest request;
        request.set_user(user);
        request.set_password(password);
        v1::LoginReply reply;
        const grpc::Status status = m_stub->Login(&context, request, &reply);
        if (token)
            *token = reply.session_token();
        return status;
    }

    grpc::Status useSession(const std::string &token)
    {
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + std::chrono::seconds(30));
        context.AddMetadata("vorna-session", token);
        const auto reader = m_stub->CalendarList(&context, v1::ListRequest());
        v1::Calendar calendar;
        while (reader->Read(&calendar)) {
        }
        return reader->Finish();
    }

private:
    std::unique_ptr<v1::CommService::Stub> m_stub;
};

QString describe(const grpc::Status &status)
{
    return QStringLiteral("code %1: %2").arg(int(status.error_code())).arg(QString::fromStdString(status.error_message()));
}

} // namespace

class TestClockSkew : public QObject
{
    Q_OBJECT

    StorageFixture m_fixture;
    std::unique_ptr<ServiceRunner> m_ontime;
    std::unique_ptr<ServiceRunner> m_ahead;

private slots:
    void initTestCase()
    {
        if (!QFile::exists(FakeTimeLibrary))
            QSKIP("libfaketime is not installed (tools/bootstrap.sh installs it): no instance can be set ahead.");
        QString reason;
        const StorageFixture::Outcome outcome = m_fixture.setUp(QStringLiteral("postgresql"), true, &reason);
        if (outcome == StorageFixture::Skip)
            QSKIP(qPrintable(reason));
        QVERIFY2(outcome == StorageFixture::Ready, qPrintable(reason));
        const QString database = m_fixture.location();
        m_fixture.tearDown();

        m_ontime = std::make_unique<ServiceRunner>(database);
        m_ahead = std::make_unique<ServiceRunner>(database);
        for (const char *user : {"ana", "bob"})
            QVERIFY2(m_ontime->commandOk({"user", "add", user, "--role", "manager", "--password-stdin"},
                                         QByteArray(Password) + '\n'),
                     qPrintable(m_ontime->error()));
        QProcessEnvironment twentyMinutesAhead = QProcessEnvironment::systemEnvironment();
        twentyMinutesAhead.insert(QStringLiteral("LD_PRELOAD"), FakeTimeLibrary);
        twentyMinutesAhead.insert(QStringLiteral("FAKETIME"), QStringLiteral("+20m"));
        // Timers and timeouts keep the real pace; only the time of day is 20 minutes ahead.
        twentyMinutesAhead.insert(QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC"), QStringLiteral("1"));
        m_ahead->setServeEnvironment(twentyMinutesAhead);
        const QStringList idle{QStringLiteral("--session-idle"), QStringLiteral("15m")};
        QVERIFY2(m_ontime->start(idle), qPrintable(m_ontime->error()));
        QVERIFY2(m_ahead->start(idle), qPrintable(m_ahead->error()));
    }

    // The instance ahead would see a fresh session as idle for 20 minutes; its logins sweep
    // sessions it takes as expired.
    void aSessionLivesOnBothInstances()
    {
        Client ontime(*m_ontime);
        Client ahead(*m_ahead);
        std::string token;
        QVERIFY2(ontime.login("ana", Password, &token).ok(), "The login on the instance on time failed.");
        QVERIFY2(ahead.login("bob", Password).ok(), "The login on the instance ahead failed.");
        const grpc::Status onAhead = ahead.useSession(token);
        QVERIFY2(onAhead.ok(), qPrintable(describe(onAhead) + QLatin1Char('\n') + m_ahead->log().right(2000)));
        const grpc::Status onTime = ontime.useSession(token);
        QVERIFY2(onTime.ok(), qPrintable(describe(onTime) + QLatin1Char('\n') + m_ontime->log().right(2000)));
    }

    // Failures counted on one instance block the user name on the other, and the clean-up of
    // the instance ahead keeps them: the block holds wherever the next guess comes.
    void aBlockHoldsOnBothInstances()
    {
        Client ontime(*m_ontime);
        Client ahead(*m_ahead);
        grpc::Status guess;
        for (int i = 0; i < 10 && guess.error_code() != grpc::StatusCode::RESOURCE_EXHAUSTED; ++i)
            guess = ontime.login("bob", "wrong-password");
        QVERIFY2(guess.error_code() == grpc::StatusCode::RESOURCE_EXHAUSTED, qPrintable(describe(guess)));
        QVERIFY(ahead.login("ana", Password).ok()); // a login on the instance ahead cleans up
        guess = ahead.login("bob", "wrong-password-again");
        QVERIFY2(guess.error_code() == grpc::StatusCode::RESOURCE_EXHAUSTED, qPrintable(describe(guess)));
    }

    void cleanupTestCase()
    {
        m_ontime.reset();
        m_ahead.reset();
        m_fixture.dropDatabase();
    }
};

QTEST_GUILESS_MAIN(TestClockSkew)
#include "tst_clockskew.moc"
