#include "support/failoverrig.h"

#include <QRegularExpression>

#include <functional>

namespace vorna::testing {

namespace v1 = vorna::v1;
using namespace std::chrono_literals;

namespace {

const char *const DemoManager = "manager";
const char *const DemoPassword = "vorna-demo";
constexpr int DemoEmployees = 30;
// Long enough that a call is never cut short by the client while the database fails over.
constexpr auto CallDeadline = 30s;

std::unique_ptr<v1::CommService::Stub> stubFor(const QString &address)
{
    return v1::CommService::NewStub(grpc::CreateChannel(address.toStdString(), grpc::InsecureChannelCredentials()));
}

// Polls `found` until it gives a time or `timeout` passes.
std::optional<FailoverClock::time_point> pollFor(const std::function<std::optional<FailoverClock::time_point>()> &found,
                                                 std::chrono::milliseconds timeout)
{
    const FailoverClock::time_point deadline = FailoverClock::now() + timeout;
    for (;;) {
        if (const auto at = found())
            return at;
        if (FailoverClock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

} // namespace

TerminalLoop::TerminalLoop(const QString &address, const QByteArray &deviceToken, std::vector<std::string> employees,
                           std::vector<int> activityKinds, std::chrono::milliseconds pause)
    : m_stub(stubFor(address))
    , m_deviceToken(deviceToken)
    , m_employees(std::move(employees))
    , m_activityKinds(std::move(activityKinds))
    , m_pause(pause)
{
    m_thread = std::thread([this] { run(); });
}

TerminalLoop::~TerminalLoop()
{
    stop();
}

void TerminalLoop::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<RegistrationCall> TerminalLoop::calls() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::optional<FailoverClock::time_point> TerminalLoop::acknowledgedAfter(FailoverClock::time_point since,
                                                                         std::chrono::milliseconds timeout) const
{
    return pollFor([&]() -> std::optional<FailoverClock::time_point> {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const RegistrationCall &call : m_calls) {
            if (call.code == grpc::StatusCode::OK && call.answered >= since)
                return call.answered;
        }
        return std::nullopt;
    }, timeout);
}

void TerminalLoop::run()
{
    for (size_t i = 0; !m_stopping;) {
        v1::RegisterActivityRequest request;
        request.set_employee_id(m_employees[i % m_employees.size()]);
        request.set_activity_kind_id(m_activityKinds[i % m_activityKinds.size()]);
        request.set_request_id("registration-" + std::to_string(i));
        grpc::ClientContext context;
        context.set_deadline(std::chrono::system_clock::now() + CallDeadline);
        context.AddMetadata("vorna-device", m_deviceToken.toStdString());
        v1::RegisterActivityReply reply;
        RegistrationCall call;
        call.sent = FailoverClock::now();
        const grpc::Status status = m_stub->RegisterActivity(&context, request, &reply);
        call.answered = FailoverClock::now();
        call.code = status.error_code();
        call.message = status.error_message();
        call.registrationId = reply.registration_id();
        call.request = i;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_calls.push_back(call);
        }
        if (status.ok())
            ++i;
        std::this_thread::sleep_for(m_pause);
    }
}

SessionStreamRecorder::SessionStreamRecorder(const QString &address, const std::string &sessionToken)
    : m_stub(stubFor(address))
{
    m_context.AddMetadata("vorna-session", sessionToken);
    m_thread = std::thread([this] { run(); });
}

SessionStreamRecorder::~SessionStreamRecorder()
{
    m_context.TryCancel();
    m_thread.join();
}

bool SessionStreamRecorder::waitUntilOpen(std::chrono::milliseconds timeout) const
{
    const auto opened = pollFor([this]() -> std::optional<FailoverClock::time_point> {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open)
            return FailoverClock::now();
        return std::nullopt;
    }, timeout);
    return opened && ending().isEmpty();
}

std::optional<FailoverClock::time_point> SessionStreamRecorder::presenceChangedAfter(FailoverClock::time_point since,
                                                                                     std::chrono::milliseconds timeout) const
{
    return pollFor([&]() -> std::optional<FailoverClock::time_point> {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (FailoverClock::time_point at : m_presenceChanged) {
            if (at >= since)
                return at;
        }
        return std::nullopt;
    }, timeout);
}

QString SessionStreamRecorder::ending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ending;
}

void SessionStreamRecorder::run()
{
    const auto reader = m_stub->WatchSession(&m_context, v1::SessionWatchRequest());
    v1::SessionEvent event;
    while (reader->Read(&event)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (event.kind() == v1::SessionEvent::HEARTBEAT)
            m_open = true;
        else if (event.kind() == v1::SessionEvent::PRESENCE_CHANGED)
            m_presenceChanged.push_back(FailoverClock::now());
        else if (event.kind() == v1::SessionEvent::ENDING)
            m_ending = QStringLiteral("ENDING: %1").arg(QString::fromStdString(event.reason()));
    }
    const grpc::Status status = reader->Finish();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ending.isEmpty())
        m_ending = QStringLiteral("the stream ended with status %1: %2")
                       .arg(int(status.error_code()))
                       .arg(QString::fromStdString(status.error_message()));
}

bool FailoverRig::start()
{
    if (!m_database.start())
        return fail(m_database.error());
    const QString connection = m_database.connectionString();
    for (int i = 0; i < Instances; ++i) {
        m_instances[i] = std::make_unique<ServiceRunner>(connection);
        m_instances[i]->setLogFile(m_logs.filePath(QStringLiteral("instance-%1.log").arg(i)));
    }
    ServiceRunner &admin = *m_instances[0];
    if (!admin.seed(DemoEmployees))
        return fail(admin.error());
    QString added;
    if (admin.command({QStringLiteral("terminal"), QStringLiteral("add"), QStringLiteral("failover-gate")}, {}, &added) != 0)
        return fail(QStringLiteral("Cannot add the terminal: %1").arg(added));
    static const QRegularExpression token(QStringLiteral("^[0-9a-f]{64}$"), QRegularExpression::MultilineOption);
    m_terminalToken = token.match(added).captured(0).toLatin1();
    if (m_terminalToken.isEmpty())
        return fail(QStringLiteral("terminal add printed no token: %1").arg(added));
    if (!readOrganisation())
        return false;
    for (auto &instance : m_instances) {
        if (!instance->start())
            return fail(instance->error());
    }
    return true;
}

std::string FailoverRig::logIn(int instance)
{
    const auto stub = stubFor(m_instances[instance]->address());
    v1::LoginRequest request;
    request.set_user(DemoManager);
    request.set_password(DemoPassword);
    v1::LoginReply reply;
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + CallDeadline);
    const grpc::Status status = stub->Login(&context, request, &reply);
    if (!status.ok()) {
        fail(QStringLiteral("The login failed: %1").arg(QString::fromStdString(status.error_message())));
        return {};
    }
    return reply.session_token();
}

grpc::Status FailoverRig::useSession(int instance, const std::string &sessionToken)
{
    const auto stub = stubFor(m_instances[instance]->address());
    grpc::ClientContext context;
    context.set_deadline(std::chrono::system_clock::now() + CallDeadline);
    context.AddMetadata("vorna-session", sessionToken);
    const auto reader = stub->CalendarList(&context, v1::ListRequest());
    v1::Calendar calendar;
    while (reader->Read(&calendar)) {
    }
    return reader->Finish();
}

std::unique_ptr<TerminalLoop> FailoverRig::startTerminal(int instance) const
{
    return std::make_unique<TerminalLoop>(m_instances[instance]->address(), m_terminalToken, m_employees, m_activityKinds);
}

bool FailoverRig::readOrganisation()
{
    for (const QString &code : m_database.column(ReplicatedPostgres::First, QStringLiteral("SELECT code FROM employees ORDER BY id")))
        m_employees.push_back(code.toStdString());
    for (const QString &kind : m_database.column(ReplicatedPostgres::First, QStringLiteral("SELECT id FROM activity_kinds ORDER BY id")))
        m_activityKinds.push_back(kind.toInt());
    if (m_employees.empty() || m_activityKinds.empty())
        return fail(QStringLiteral("The demo organisation has no employees or activity kinds: %1").arg(m_database.error()));
    return true;
}

bool FailoverRig::fail(const QString &message)
{
    m_error = message;
    return false;
}

} // namespace vorna::testing
