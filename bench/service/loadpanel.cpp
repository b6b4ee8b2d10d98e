#include "loadpanel.h"

#include "support/servicerunner.h"

#include <algorithm>
#include <ctime>
#include <random>

namespace vorna::bench {

namespace {

// What the panel does: its default call time-out.
constexpr auto CallDeadline = std::chrono::seconds(30);
// Share of refreshes after which the user opens an employee's detail page.
constexpr double DetailChance = 0.15;
const char *const Password = "vorna-demo";
const char *const SessionKey = "vorna-session";

double uniform(double low, double high)
{
    thread_local std::mt19937 generator{std::random_device{}()};
    return std::uniform_real_distribution<double>(low, high)(generator);
}

double msSince(Clock::time_point begun)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
}

std::chrono::system_clock::time_point deadline()
{
    return std::chrono::system_clock::now() + CallDeadline;
}

v1::MonthRequest thisMonthOf(const std::string &employee)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    v1::MonthRequest request;
    request.set_employee_id(employee);
    request.set_month(local.tm_mon + 1);
    request.set_year(local.tm_year + 1900);
    return request;
}

// One server-streaming call: hands each message to `onMessage`, the status to `onDone`, then
// deletes itself. Counted by the run while in flight.
template<class Request, class Reply>
class StreamCall final : public grpc::ClientReadReactor<Reply>
{
public:
    using MessageHandler = std::function<void(const Reply &)>;
    using DoneHandler = std::function<void(const grpc::Status &)>;

    StreamCall(LoadRun &run, const std::string &token, Request request, MessageHandler onMessage, DoneHandler onDone)
        : request(std::move(request))
        , m_run(run)
        , m_onMessage(std::move(onMessage))
        , m_onDone(std::move(onDone))
    {
        context.AddMetadata(SessionKey, token);
        m_run.callStarted();
    }

    // After the stub's async method has taken the call.
    void begin()
    {
        this->StartRead(&m_reply);
        this->StartCall();
    }

    void OnReadDone(bool ok) override
    {
        if (!ok)
            return;
        if (m_onMessage)
            m_onMessage(m_reply);
        this->StartRead(&m_reply);
    }

    void OnDone(const grpc::Status &status) override
    {
        m_onDone(status);
        LoadRun &run = m_run;
        delete this;
        run.callEnded();
    }

    Request request;
    grpc::ClientContext context;

private:
    LoadRun &m_run;
    Reply m_reply;
    MessageHandler m_onMessage;
    DoneHandler m_onDone;
};

struct LoginCall
{
    v1::LoginRequest request;
    v1::LoginReply reply;
    grpc::ClientContext context;
    Clock::time_point begun = Clock::now();
};

// What one presence answer brought.
struct PresenceTally
{
    std::vector<std::string> digests;
    std::vector<std::string> employeeIds;
    bool wantIds = false;
};

} // namespace

// ---- Scheduler ----------------------------------------------------------------------------

Scheduler::Scheduler(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_threads.emplace_back([this] { work(); });
}

Scheduler::~Scheduler()
{
    stop();
}

void Scheduler::at(Clock::time_point when, std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_heap.push_back({when, std::move(task)});
        std::push_heap(m_heap.begin(), m_heap.end(), dueLater);
    }
    m_wake.notify_one();
}

void Scheduler::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread &thread : m_threads) {
        if (thread.joinable())
            thread.join();
    }
}

void Scheduler::work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
        if (m_heap.empty()) {
            m_wake.wait(lock);
            continue;
        }
        const Clock::time_point due = m_heap.front().when;
        if (Clock::now() < due) {
            m_wake.wait_until(lock, due);
            continue;
        }
        std::pop_heap(m_heap.begin(), m_heap.end(), dueLater);
        const std::function<void()> task = std::move(m_heap.back().run);
        m_heap.pop_back();
        lock.unlock();
        task();
        lock.lock();
    }
}

// ---- LoadRun -------------------------------------------------------------------------------

LoadRun::LoadRun(std::chrono::seconds length, std::chrono::seconds ramp, int rounds)
    : m_length(length)
    , m_ramp(ramp)
    , m_rounds(size_t(rounds))
{
}

void LoadRun::start(Scheduler &scheduler)
{
    m_scheduler = &scheduler;
    m_start = Clock::now();
}

void LoadRun::stop()
{
    m_stopping = true;
}

bool LoadRun::stopping() const
{
    return m_stopping;
}

Round &LoadRun::roundAt(Clock::time_point when)
{
    const auto roundLength = m_length / m_rounds.size();
    const size_t index = size_t(std::max<Clock::duration::rep>(0, (when - m_start) / roundLength));
    return m_rounds[std::min(index, m_rounds.size() - 1)];
}

void LoadRun::record(std::vector<double> Round::*series, Clock::time_point begun)
{
    const double ms = msSince(begun);
    std::lock_guard<std::mutex> lock(m_mutex);
    (roundAt(Clock::now()).*series).push_back(ms);
}

void LoadRun::recordLogin(Clock::time_point begun)
{
    record(&Round::loginMs, begun);
}

void LoadRun::recordPresence(Clock::time_point begun)
{
    record(&Round::presenceMs, begun);
}

void LoadRun::recordDetail(Clock::time_point begun)
{
    record(&Round::detailMs, begun);
}

void LoadRun::recordFailure(const char *call, const grpc::Status &status, const char *kind)
{
    // The run's own end cancels the session streams; that is no failure.
    if (m_stopping && status.error_code() == grpc::CANCELLED)
        return;
    static const char *const codeNames[] = {"OK", "CANCELLED", "UNKNOWN", "INVALID_ARGUMENT", "DEADLINE_EXCEEDED",
                                            "NOT_FOUND", "ALREADY_EXISTS", "PERMISSION_DENIED", "RESOURCE_EXHAUSTED",
                                            "FAILED_PRECONDITION", "ABORTED", "OUT_OF_RANGE", "UNIMPLEMENTED",
                                            "INTERNAL", "UNAVAILABLE", "DATA_LOSS", "UNAUTHENTICATED"};
    const int code = status.error_code();
    const std::string codeName = kind ? kind : code >= 0 && code <= 16 ? codeNames[code] : std::to_string(code);
    // One code covers several causes (a full thread pool, a throttle, a session cap); the
    // message tells them apart once its numbers are masked.
    std::string cause = status.error_message().substr(0, 80);
    std::replace_if(cause.begin(), cause.end(), [](char c) { return c >= '0' && c <= '9'; }, '#');
    const std::string name = codeName + " \"" + cause + "\"";
    std::lock_guard<std::mutex> lock(m_mutex);
    ++roundAt(Clock::now()).errors;
    Failures &failures = m_failures[name];
    ++failures.count;
    ++failures.byCall[call];
}

void LoadRun::callStarted()
{
    std::lock_guard<std::mutex> lock(m_callsMutex);
    ++m_calls;
}

void LoadRun::callEnded()
{
    std::lock_guard<std::mutex> lock(m_callsMutex);
    if (--m_calls == 0)
        m_callsEnded.notify_all();
}

bool LoadRun::waitUntilIdle(std::chrono::seconds limit)
{
    std::unique_lock<std::mutex> lock(m_callsMutex);
    return m_callsEnded.wait_for(lock, limit, [this] { return m_calls == 0; });
}

std::shared_ptr<const std::vector<std::string>> LoadRun::shareDigests(std::vector<std::string> digests)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_digests || *m_digests != digests)
        m_digests = std::make_shared<const std::vector<std::string>>(std::move(digests));
    return m_digests;
}

bool LoadRun::knowsEmployees() const
{
    return m_knowsEmployees;
}

void LoadRun::offerEmployeeIds(std::vector<std::string> ids)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_employeeIds.empty() && !ids.empty()) {
        m_employeeIds = std::move(ids);
        m_knowsEmployees = true;
    }
}

std::string LoadRun::randomEmployee() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_employeeIds.empty())
        return {};
    return m_employeeIds[size_t(uniform(0, double(m_employeeIds.size()))) % m_employeeIds.size()];
}

int LoadRun::totalLogins() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int total = 0;
    for (const Round &round : m_rounds)
        total += int(round.loginMs.size());
    return total;
}

int LoadRun::totalPresence() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int total = 0;
    for (const Round &round : m_rounds)
        total += int(round.presenceMs.size());
    return total;
}

int LoadRun::totalDetails() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int total = 0;
    for (const Round &round : m_rounds)
        total += int(round.detailMs.size());
    return total;
}

int LoadRun::totalErrors() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    int total = 0;
    for (const Round &round : m_rounds)
        total += round.errors;
    return total;
}

std::vector<std::string> LoadRun::errorSummary() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> lines;
    for (const auto &[name, failures] : m_failures) {
        std::string calls;
        for (const auto &[call, count] : failures.byCall)
            calls += (calls.empty() ? "" : ", ") + call + " " + std::to_string(count);
        lines.push_back(name + ": " + std::to_string(failures.count) + " (" + calls + ")");
    }
    return lines;
}

// ---- Panel ---------------------------------------------------------------------------------

Panel::Panel(LoadRun &run, const std::string &address, int index)
    : m_run(run)
    , m_user(vorna::testing::ServiceRunner::panelUser(index).toStdString())
{
    grpc::ChannelArguments args;
    // A channel of its own pool opens a connection of its own, as a separate panel does.
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    args.SetMaxReceiveMessageSize(64 * 1024 * 1024);
    m_stub = v1::CommService::NewStub(grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), args));
}

void Panel::start(Clock::time_point at)
{
    m_run.scheduler().at(at, [this] { tick(); });
}

void Panel::close()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    if (m_watch)
        m_watch->TryCancel();
}

std::string Panel::token() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_token;
}

void Panel::tick()
{
    if (m_run.stopping())
        return;
    if (token().empty())
        login();
    else
        refresh();
}

void Panel::later()
{
    if (!m_run.stopping())
        m_run.scheduler().at(Clock::now() + std::chrono::milliseconds(int(1000 * uniform(m_run.refreshShortest(), m_run.refreshLongest()))),
                             [this] { tick(); });
}

void Panel::login()
{
    auto *call = new LoginCall;
    call->request.set_user(m_user);
    call->request.set_password(Password);
    call->request.set_client("bench_load");
    call->context.set_deadline(deadline());
    m_run.callStarted();
    m_stub->async()->Login(&call->context, &call->request, &call->reply, [this, call](grpc::Status status) {
        if (status.ok()) {
            m_run.recordLogin(call->begun);
            loggedIn(call->reply.session_token());
        } else {
            m_run.recordFailure("login", status);
            later();
        }
        delete call;
        m_run.callEnded();
    });
}

void Panel::loggedIn(const std::string &token)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_token = token;
        m_digests.reset();
    }
    watchSession(token);
    refresh();
}

void Panel::loggedOut()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_token.clear();
}

void Panel::watchSession(const std::string &token)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed || m_run.stopping())
        return;
    auto *call = new StreamCall<v1::SessionWatchRequest, v1::SessionEvent>(
        m_run, token, {}, nullptr, [this](const grpc::Status &status) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_watch = nullptr;
            }
            // The stream lasts the whole run: any end before is a panel that shows "disconnected".
            if (!m_run.stopping()) {
                m_run.recordFailure("session stream", status, status.ok() ? "SESSION_ENDED" : nullptr);
                loggedOut();
            }
        });
    m_watch = &call->context;
    m_stub->async()->WatchSession(&call->context, &call->request, call);
    call->begin();
}

void Panel::refresh()
{
    v1::PresenceRequest request;
    request.set_user_name(m_user);
    std::string session;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        session = m_token;
        if (m_digests) {
            for (const std::string &digest : *m_digests)
                request.add_known_picture_digests(digest);
        }
    }
    // The session stream broke since the last tick: the next one logs in again.
    if (session.empty()) {
        later();
        return;
    }
    auto tally = std::make_shared<PresenceTally>();
    tally->wantIds = !m_run.knowsEmployees();
    const Clock::time_point begun = Clock::now();
    auto *call = new StreamCall<v1::PresenceRequest, v1::PresenceChunk>(
        m_run, session, std::move(request),
        [tally](const v1::PresenceChunk &chunk) {
            for (const v1::PresenceRow &row : chunk.rows()) {
                if (!row.picture_digest().empty())
                    tally->digests.push_back(row.picture_digest());
                if (tally->wantIds)
                    tally->employeeIds.push_back(row.employee_id());
            }
        },
        [this, tally, begun](const grpc::Status &status) {
            if (!status.ok()) {
                m_run.recordFailure("presence", status);
                if (status.error_code() == grpc::UNAUTHENTICATED)
                    loggedOut();
                later();
                return;
            }
            m_run.recordPresence(begun);
            m_run.offerEmployeeIds(std::move(tally->employeeIds));
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_digests = m_run.shareDigests(std::move(tally->digests));
            }
            const std::string employee = m_run.randomEmployee();
            if (uniform(0, 1) < DetailChance && !employee.empty() && !m_run.stopping())
                openDetail(0, Clock::now(), employee);
            else
                later();
        });
    call->context.set_deadline(deadline());
    m_stub->async()->Presence(&call->context, &call->request, call);
    call->begin();
}

// The detail page asks for the calendars, then the working-day kinds, then the month's
// calendar history, then its exception history, each after the one before has ended.
void Panel::openDetail(int step, Clock::time_point begun, const std::string &employee)
{
    static const char *const calls[] = {"calendar list", "working-day list", "calendar history", "exception history"};
    if (step == 4 || m_run.stopping()) {
        if (step == 4)
            m_run.recordDetail(begun);
        later();
        return;
    }
    auto next = [this, step, begun, employee](const grpc::Status &status) {
        if (status.ok()) {
            openDetail(step + 1, begun, employee);
            return;
        }
        m_run.recordFailure(calls[step], status);
        later();
    };
    // A panel whose session stream broke shows the login page: the detail page is gone.
    const std::string session = token();
    if (session.empty()) {
        later();
        return;
    }
    // `begin` takes the call to the stub's matching method.
    auto start = [this](auto *call, auto begin) {
        call->context.set_deadline(deadline());
        begin(m_stub->async(), call);
        call->begin();
    };
    switch (step) {
    case 0:
        start(new StreamCall<v1::ListRequest, v1::Calendar>(m_run, session, {}, nullptr, next),
              [](auto *async, auto *call) { async->CalendarList(&call->context, &call->request, call); });
        break;
    case 1:
        start(new StreamCall<v1::ListRequest, v1::WorkDayKind>(m_run, session, {}, nullptr, next),
              [](auto *async, auto *call) { async->WorkDayList(&call->context, &call->request, call); });
        break;
    case 2:
        start(new StreamCall<v1::MonthRequest, v1::CalendarRange>(m_run, session, thisMonthOf(employee), nullptr, next),
              [](auto *async, auto *call) { async->CalendarHistory(&call->context, &call->request, call); });
        break;
    default:
        start(new StreamCall<v1::MonthRequest, v1::ExceptionDay>(m_run, session, thisMonthOf(employee), nullptr, next),
              [](auto *async, auto *call) { async->ExceptionHistory(&call->context, &call->request, call); });
        break;
    }
}

} // namespace vorna::bench
