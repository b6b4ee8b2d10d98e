// Whether the service keeps answering while `vorna-service import` writes a large photo folder
// into the database it serves. A small organisation (imported from CSV files the benchmark
// writes), a manager per client and a terminal are set up with the built executable's
// commands, and `serve` runs on it. Then a few clients each loop, on a connection of their own: log in and
// out (one login in ten with a wrong password, whose refusal is the expected answer), assign a
// calendar or a working day to an employee, and register an activity as the terminal. Once
// every client has gone round once, they call for --baseline seconds undisturbed, then `import`
// of the photo folder starts on the same database; the calls begun while it runs are timed and
// reported per kind: count, failures with their first messages, p50, p99 and max, next to the
// undisturbed figures, and the import's own wall time.
//
// Only the command line and the wire are used, so any build of the service can be measured
// (--service). SQLite always; PostgreSQL too when --postgres (default: VORNA_TEST_PG) names a
// server where the user may create databases: a scratch database is made there and dropped.
//
//     bench_import_contention [--photos 10000 | --photos-folder DIR] [--clients 4] [--pause 500]
//                             [--baseline 15] [--service PATH] [--postgres CONNINFO]
//
// Target: p99 of every kind at most 2 s, and no failures.

#include "benchfigures.h"
#include "commservice.grpc.pb.h"
#include "scratchpostgres.h"
#include "support/portraitphoto.h"
#include "support/servicerunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <numeric>
#include <thread>
#include <unistd.h>
#include <vector>

namespace v1 = vorna::v1;
using Clock = std::chrono::steady_clock;
using vorna::testing::ServiceRunner;

using Bench::loadAverage;
using Bench::percentile;
using Bench::writeFile;

namespace {

constexpr auto CallDeadline = std::chrono::seconds(30);
constexpr auto WarmUpLimit = std::chrono::seconds(60);
const char *const Password = "bench-contention-password";
const char *const WrongPassword = "not-the-password";
// The service blocks a client network after 30 failed logins within 15 minutes, and every
// client here comes from 127.0.0.1: the wrong passwords stay below that, so that a refusal
// is always "wrong password", never the throttle.
constexpr int WrongPasswordBudget = 24;
constexpr int WrongPasswordEvery = 10;
constexpr int FirstMessagesShown = 5;

std::atomic<bool> interrupted{false};

void onSignal(int)
{
    interrupted = true;
}

struct Settings
{
    int photos = 10000;
    QString photoFolder;
    int clients = 4;
    int pauseMs = 500;
    int baselineSeconds = 15;
    QString service = ServiceRunner::builtBinary();
    QString postgres;
};

enum Kind { Login, WrongPasswordLogin, Logout, Register, SetCalendar, SetWorkDay, KindCount };
const char *const KindNames[KindCount] = {"login", "wrong_password", "logout", "register", "set_calendar", "set_workday"};

struct Call
{
    Kind kind;
    Clock::time_point begun;
    double ms = 0;
    std::string failure; // empty when the answer was the expected one
};

// What the clients need to know of the served organisation.
struct Organisation
{
    std::string address;
    std::string terminalToken;
    int activityKindId = 0;
    int calendarId = 0;
    int workDayId = 0;
    std::vector<std::string> employees;
};

std::string describe(const grpc::Status &status)
{
    static const char *const codes[] = {"OK", "CANCELLED", "UNKNOWN", "INVALID_ARGUMENT", "DEADLINE_EXCEEDED",
                                        "NOT_FOUND", "ALREADY_EXISTS", "PERMISSION_DENIED", "RESOURCE_EXHAUSTED",
                                        "FAILED_PRECONDITION", "ABORTED", "OUT_OF_RANGE", "UNIMPLEMENTED", "INTERNAL",
                                        "UNAVAILABLE", "DATA_LOSS", "UNAUTHENTICATED"};
    const int code = int(status.error_code());
    return std::string(code >= 0 && code <= 16 ? codes[code] : "CODE " + std::to_string(code)) + " \""
        + status.error_message() + '"';
}

// ---- The organisation ---------------------------------------------------------------------

// A small office apart from the photo folder's: its names do not occur there, so the import
// neither changes nor refers to it.
bool writeOffice(const QString &folder, int employees)
{
    QByteArray staff = "id,last_name,first_name,department,picture\n";
    for (int i = 1; i <= employees; ++i)
        staff += "B" + QByteArray::number(i).rightJustified(4, '0') + ",Bench,Person " + QByteArray::number(i)
            + ",Bench office,\n";
    const QDir dir(folder);
    return writeFile(dir.filePath(QStringLiteral("departments.csv")), "name\nBench office\n")
        && writeFile(dir.filePath(QStringLiteral("statuses.csv")),
                     "name,color,present\nBench in,#2E7D32,yes\nBench out,#9E9E9E,no\n")
        && writeFile(dir.filePath(QStringLiteral("activities.csv")),
                     "name,status\nBench arrival,Bench in\nBench departure,Bench out\n")
        && writeFile(dir.filePath(QStringLiteral("calendars.csv")), "name,color\nBench standard,#1565C0\n")
        && writeFile(dir.filePath(QStringLiteral("workdays.csv")), "name,color\nBench holiday,#C62828\n")
        && writeFile(dir.filePath(QStringLiteral("employees.csv")), staff);
}

QString clientUser(int index)
{
    return QStringLiteral("bench-%1").arg(index + 1);
}

// init, the office, one manager per client and the terminal; false with *error.
bool setUpDatabase(ServiceRunner &service, const QString &workDir, int clients, Organisation *organisation,
                   QString *error)
{
    const QString office = QDir(workDir).filePath(QStringLiteral("office"));
    constexpr int Staff = 8;
    if (!QDir().mkpath(office) || !writeOffice(office, Staff)) {
        *error = QStringLiteral("Cannot write the office's files in %1; is the disk full?").arg(office);
        return false;
    }
    bool ok = service.commandOk({QStringLiteral("init")}) && service.commandOk({QStringLiteral("import"), office});
    for (int i = 0; ok && i < clients; ++i)
        ok = service.commandOk({QStringLiteral("user"), QStringLiteral("add"), clientUser(i), QStringLiteral("--role"),
                                QStringLiteral("manager"), QStringLiteral("--password-stdin")},
                               QByteArray(Password) + '\n');
    if (!ok) {
        *error = service.error();
        return false;
    }
    QString output;
    const int exitCode = service.command({QStringLiteral("terminal"), QStringLiteral("add"), QStringLiteral("bench-gate")}, {}, &output);
    const QRegularExpressionMatch token = QRegularExpression(QStringLiteral("\\b[0-9a-f]{64}\\b")).match(output);
    if (exitCode != 0 || !token.hasMatch()) {
        *error = QStringLiteral("terminal add ended with exit code %1 and printed no token: %2").arg(exitCode).arg(output.trimmed());
        return false;
    }
    organisation->terminalToken = token.captured().toStdString();
    for (int i = 1; i <= Staff; ++i)
        organisation->employees.push_back("B" + QByteArray::number(i).rightJustified(4, '0').toStdString());
    return true;
}

std::unique_ptr<v1::CommService::Stub> connect(const std::string &address)
{
    grpc::ChannelArguments args;
    // A connection of its own for every client, as separate machines would have.
    args.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    return v1::CommService::NewStub(grpc::CreateCustomChannel(address, grpc::InsecureChannelCredentials(), args));
}

void setDeadline(grpc::ClientContext &context)
{
    context.set_deadline(std::chrono::system_clock::now() + CallDeadline);
}

// The id of the named calendar or working-day kind, from one of the list streams; 0 if absent.
template<class Item>
int idOf(std::unique_ptr<grpc::ClientReader<Item>> reader, const std::string &name, std::string *error)
{
    Item item;
    int id = 0;
    while (reader->Read(&item)) {
        if (item.name() == name)
            id = item.id();
    }
    const grpc::Status status = reader->Finish();
    if (!status.ok())
        *error = describe(status);
    else if (id == 0)
        *error = "the list has no \"" + name + '"';
    return status.ok() ? id : 0;
}

// Neither the commands nor the wire name the activity kinds' numbers: in a fresh database they
// are the first few, so the terminal tries them until one is taken.
int findActivityKind(v1::CommService::Stub &stub, const Organisation &organisation, std::string *error)
{
    for (int id = 1; id <= 64; ++id) {
        grpc::ClientContext context;
        setDeadline(context);
        context.AddMetadata("vorna-device", organisation.terminalToken);
        v1::RegisterActivityRequest request;
        request.set_employee_id(organisation.employees.front());
        request.set_activity_kind_id(id);
        v1::RegisterActivityReply reply;
        const grpc::Status status = stub.RegisterActivity(&context, request, &reply);
        if (status.ok())
            return id;
        if (status.error_code() != grpc::StatusCode::NOT_FOUND) {
            *error = "registering an activity failed: " + describe(status);
            return 0;
        }
    }
    *error = "the service took none of the activity kinds 1 to 64";
    return 0;
}

// Asks the running service for the numbers the clients send; false with *error.
bool learnNumbers(Organisation *organisation, std::string *error)
{
    const std::unique_ptr<v1::CommService::Stub> stub = connect(organisation->address);
    grpc::ClientContext loginContext;
    setDeadline(loginContext);
    v1::LoginRequest login;
    login.set_user(clientUser(0).toStdString());
    login.set_password(Password);
    login.set_client("bench_import_contention");
    v1::LoginReply session;
    const grpc::Status status = stub->Login(&loginContext, login, &session);
    if (!status.ok()) {
        *error = "the first login failed: " + describe(status);
        return false;
    }
    grpc::ClientContext calendars, workDays, logout;
    for (grpc::ClientContext *context : {&calendars, &workDays, &logout}) {
        setDeadline(*context);
        context->AddMetadata("vorna-session", session.session_token());
    }
    organisation->calendarId = idOf(stub->CalendarList(&calendars, v1::ListRequest()), "Bench standard", error);
    if (organisation->calendarId != 0)
        organisation->workDayId = idOf(stub->WorkDayList(&workDays, v1::ListRequest()), "Bench holiday", error);
    v1::LogoutReply loggedOut;
    stub->Logout(&logout, v1::LogoutRequest(), &loggedOut);
    if (organisation->workDayId == 0)
        return false;
    organisation->activityKindId = findActivityKind(*stub, *organisation, error);
    return organisation->activityKindId != 0;
}

// ---- The clients ----------------------------------------------------------------------------

class Client
{
public:
    Client(const Organisation &organisation, int index, int pauseMs, std::atomic<int> &wrongPasswordsLeft)
        : m_organisation(organisation)
        , m_index(index)
        , m_pause(pauseMs)
        , m_wrongPasswordsLeft(wrongPasswordsLeft)
        , m_stub(connect(organisation.address))
    {
    }

    void run(const std::atomic<bool> &stopping)
    {
        for (int round = 0; !stopping && !interrupted; ++round) {
            // Each client errs in another round of ten, so that the wrong passwords spread out.
            const bool wrong = (round + m_index) % WrongPasswordEvery == WrongPasswordEvery - 1
                && m_wrongPasswordsLeft.fetch_sub(1) > 0;
            const std::string token = login(wrong);
            if (!token.empty()) {
                assign(token, round);
                logout(token);
            }
            registerActivity(round);
            if (round == 0)
                m_firstRoundFailure = firstFailure();
            m_rounds = round + 1;
            std::this_thread::sleep_for(m_pause);
        }
    }

    int rounds() const { return m_rounds; }
    // Read once rounds() is above 0: why a call of the first round failed, or empty.
    const std::string &firstRoundFailure() const { return m_firstRoundFailure; }
    const std::vector<Call> &calls() const { return m_calls; }

private:
    std::string firstFailure() const
    {
        for (const Call &call : m_calls) {
            if (!call.failure.empty())
                return std::string(KindNames[call.kind]) + ": " + call.failure;
        }
        return {};
    }

    // Times one call; `expected` is the status code that counts as a good answer.
    template<class Invoke>
    grpc::Status timed(Kind kind, Invoke invoke, grpc::StatusCode expected = grpc::StatusCode::OK)
    {
        Call call{kind, Clock::now(), 0, {}};
        const grpc::Status status = invoke();
        call.ms = std::chrono::duration<double, std::milli>(Clock::now() - call.begun).count();
        if (status.error_code() != expected)
            call.failure = describe(status);
        m_calls.push_back(call);
        return status;
    }

    std::string login(bool wrong)
    {
        v1::LoginRequest request;
        request.set_user(clientUser(m_index).toStdString());
        request.set_password(wrong ? WrongPassword : Password);
        request.set_client("bench_import_contention");
        v1::LoginReply reply;
        grpc::ClientContext context;
        setDeadline(context);
        const grpc::Status status = timed(wrong ? WrongPasswordLogin : Login,
                                          [&] { return m_stub->Login(&context, request, &reply); },
                                          wrong ? grpc::StatusCode::UNAUTHENTICATED : grpc::StatusCode::OK);
        return status.ok() ? reply.session_token() : std::string();
    }

    void logout(const std::string &token)
    {
        grpc::ClientContext context;
        setDeadline(context);
        context.AddMetadata("vorna-session", token);
        v1::LogoutReply reply;
        timed(Logout, [&] { return m_stub->Logout(&context, v1::LogoutRequest(), &reply); });
    }

    // A calendar from a later day in even rounds, a working day in odd ones, each round another
    // day, so that every assignment changes something.
    void assign(const std::string &token, int round)
    {
        const std::string &employee = m_organisation.employees.at(size_t(m_index) % m_organisation.employees.size());
        const QDate day = QDate(2027, 1, 1).addDays(round);
        v1::CivilDate date;
        date.set_year(day.year());
        date.set_month(day.month());
        date.set_day(day.day());
        grpc::ClientContext context;
        setDeadline(context);
        context.AddMetadata("vorna-session", token);
        v1::SetReply reply;
        if (round % 2 == 0) {
            v1::SetCalendarRequest request;
            request.set_calendar_id(m_organisation.calendarId);
            request.set_employee_id(employee);
            *request.mutable_valid_from() = date;
            timed(SetCalendar, [&] { return m_stub->SetCalendar(&context, request, &reply); });
        } else {
            v1::SetWorkDayRequest request;
            request.set_work_day_id(m_organisation.workDayId);
            request.set_employee_id(employee);
            *request.mutable_day() = date;
            timed(SetWorkDay, [&] { return m_stub->SetWorkDay(&context, request, &reply); });
        }
    }

    void registerActivity(int round)
    {
        v1::RegisterActivityRequest request;
        request.set_employee_id(m_organisation.employees.at(size_t(m_index + round) % m_organisation.employees.size()));
        request.set_activity_kind_id(m_organisation.activityKindId);
        request.set_request_id("contention-" + std::to_string(getpid()) + '-' + std::to_string(m_index) + '-'
                               + std::to_string(round));
        grpc::ClientContext context;
        setDeadline(context);
        context.AddMetadata("vorna-device", m_organisation.terminalToken);
        v1::RegisterActivityReply reply;
        timed(Register, [&] { return m_stub->RegisterActivity(&context, request, &reply); });
    }

    const Organisation &m_organisation;
    const int m_index;
    const std::chrono::milliseconds m_pause;
    std::atomic<int> &m_wrongPasswordsLeft;
    std::unique_ptr<v1::CommService::Stub> m_stub;
    std::string m_firstRoundFailure;
    std::atomic<int> m_rounds{0};
    std::vector<Call> m_calls;
};

// ---- One run --------------------------------------------------------------------------------

struct ImportRun
{
    Clock::time_point begun;
    Clock::time_point ended;
    int exitCode = -1; // -1: did not start, crashed or was stopped
    QString report;    // its stdout: a line per file
    QString errors;    // its stderr: progress, and the reason when it failed
    double seconds() const { return std::chrono::duration<double>(ended - begun).count(); }
};

// Runs `import` of the photo folder to its end (or until the benchmark is interrupted).
ImportRun runImport(const Settings &settings, const QString &database, const QString &folder)
{
    QProcess process;
    ImportRun run;
    run.begun = Clock::now();
    process.start(settings.service, {QStringLiteral("import"), QStringLiteral("--database"), database, folder});
    if (!process.waitForStarted(30000)) {
        run.ended = Clock::now();
        run.errors = QStringLiteral("Cannot start %1: %2").arg(settings.service, process.errorString());
        return run;
    }
    while (!process.waitForFinished(250)) {
        if (interrupted) {
            process.kill();
            process.waitForFinished(10000);
            break;
        }
    }
    run.ended = Clock::now();
    if (process.exitStatus() == QProcess::NormalExit && !interrupted)
        run.exitCode = process.exitCode();
    run.report = QString::fromUtf8(process.readAllStandardOutput());
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The calls begun within a span of time, by kind, with the failures' messages counted.
struct Tally
{
    struct Message
    {
        std::string text;
        int count = 0;
    };
    std::vector<double> ms[KindCount];
    int failed[KindCount] = {};
    std::vector<Message> messages; // in the order they first came

    Tally(const std::vector<Call> &calls, Clock::time_point from, Clock::time_point to)
    {
        for (const Call &call : calls) {
            if (call.begun < from || call.begun >= to)
                continue;
            ms[call.kind].push_back(call.ms);
            if (!call.failure.empty()) {
                ++failed[call.kind];
                count(std::string(KindNames[call.kind]) + ": " + call.failure);
            }
        }
    }
    void count(const std::string &text)
    {
        const auto known = std::find_if(messages.begin(), messages.end(), [&](const Message &m) { return m.text == text; });
        if (known != messages.end())
            ++known->count;
        else
            messages.push_back({text, 1});
    }
    int failures() const { return std::accumulate(std::begin(failed), std::end(failed), 0); }
    double longest(int kind) const { return ms[kind].empty() ? 0 : *std::max_element(ms[kind].begin(), ms[kind].end()); }
};

// The figures of the calls made while nothing else wrote, to tell the import's effect apart.
void printBaseline(const Tally &before, double seconds)
{
    for (int kind = 0; kind < KindCount; ++kind)
        std::printf("#   before the import (%.0f s): %s %zu calls, p50 %.0f ms, p99 %.0f ms, max %.0f ms\n", seconds,
                    KindNames[kind], before.ms[kind].size(), percentile(before.ms[kind], 0.50),
                    percentile(before.ms[kind], 0.99), before.longest(kind));
    if (before.failures() > 0)
        std::printf("#   %d calls failed before the import, the first: %s\n", before.failures(),
                    before.messages.front().text.c_str());
}

void printDuring(const std::string &prefix, const Tally &during)
{
    for (int kind = 0; kind < KindCount; ++kind) {
        const std::vector<double> &ms = during.ms[kind];
        if (ms.empty()) {
            std::printf("BENCH %s_%s_p99 median=none count=0 target=<=2000ms\n", prefix.c_str(), KindNames[kind]);
            continue;
        }
        std::printf("BENCH %s_%s_p99 median=%.1fms p50=%.1f max=%.1f count=%zu errors=%d target=<=2000ms\n",
                    prefix.c_str(), KindNames[kind], percentile(ms, 0.99), percentile(ms, 0.50), during.longest(kind),
                    ms.size(), during.failed[kind]);
    }
    std::printf("BENCH %s_errors median=%d target=0\n", prefix.c_str(), during.failures());
    int shown = 0;
    for (const Tally::Message &message : during.messages) {
        if (shown++ == FirstMessagesShown) {
            std::printf("#   ... and %zu other messages\n", during.messages.size() - FirstMessagesShown);
            break;
        }
        std::printf("#   %dx %s\n", message.count, message.text.c_str());
    }
}

// The last lines of a program's output, for a failure message.
QString tail(const QString &text, int lines)
{
    const QStringList all = text.trimmed().split(QLatin1Char('\n'));
    return all.mid(std::max(0, int(all.size()) - lines)).join(QLatin1Char('\n'));
}

// The clients, each on a thread of its own, from the constructor until stop().
class ClientPool
{
public:
    ClientPool(const Organisation &organisation, const Settings &settings)
    {
        for (int i = 0; i < settings.clients; ++i) {
            m_clients.push_back(std::make_unique<Client>(organisation, i, settings.pauseMs, m_wrongPasswordsLeft));
            m_threads.emplace_back([&client = *m_clients.back(), this] { client.run(m_stopping); });
        }
    }
    ~ClientPool() { stop(); }

    // Every client once round, so that a fault of the set-up is not taken for contention;
    // false with *error when a call of that round failed or a minute passed.
    bool warmUp(std::string *error)
    {
        const Clock::time_point end = Clock::now() + WarmUpLimit;
        const auto waiting = [this] {
            return std::any_of(m_clients.begin(), m_clients.end(), [](const auto &client) { return client->rounds() == 0; });
        };
        while (!interrupted && Clock::now() < end && waiting())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (interrupted || waiting()) {
            *error = interrupted ? "interrupted" : "the clients did not get round once within a minute";
            return false;
        }
        for (const auto &client : m_clients) {
            if (!client->firstRoundFailure().empty()) {
                *error = "a call failed before the import began: " + client->firstRoundFailure();
                return false;
            }
        }
        return true;
    }

    void stop()
    {
        m_stopping = true;
        for (std::thread &thread : m_threads) {
            if (thread.joinable())
                thread.join();
        }
    }

    // After stop(): every client's calls in the order they began.
    std::vector<Call> calls() const
    {
        std::vector<Call> all;
        for (const auto &client : m_clients)
            all.insert(all.end(), client->calls().begin(), client->calls().end());
        std::sort(all.begin(), all.end(), [](const Call &a, const Call &b) { return a.begun < b.begun; });
        return all;
    }

private:
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_wrongPasswordsLeft{WrongPasswordBudget};
    std::vector<std::unique_ptr<Client>> m_clients;
    std::vector<std::thread> m_threads;
};

// Sets up the database and serves it; false with *error.
bool serve(ServiceRunner &service, const Settings &settings, const QString &workDir, const char *engine,
           Organisation *organisation, QString *error)
{
    if (!setUpDatabase(service, workDir, settings.clients, organisation, error))
        return false;
    service.setLogFile(QDir(workDir).filePath(QStringLiteral("service-%1.log").arg(QLatin1String(engine))));
    if (!service.start({QStringLiteral("--log-level"), QStringLiteral("warning")})) {
        *error = QStringLiteral("The service did not start: %1").arg(service.error());
        return false;
    }
    organisation->address = service.address().toStdString();
    std::string problem;
    if (learnNumbers(organisation, &problem))
        return true;
    *error = QStringLiteral("The service's organisation is not as it was set up: %1.").arg(QString::fromStdString(problem));
    return false;
}

void sleepUnlessInterrupted(std::chrono::seconds length)
{
    for (const Clock::time_point end = Clock::now() + length; !interrupted && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void printServiceLog(ServiceRunner &service)
{
    const QStringList lines = service.log().trimmed().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int i = 0; i < std::min(int(lines.size()), FirstMessagesShown); ++i)
        std::printf("#   service: %s\n", qPrintable(lines.at(i)));
    if (lines.size() > FirstMessagesShown)
        std::printf("#   service: ... %d warning and error lines in all\n", int(lines.size()));
}

// Sets up, serves and measures one database; false when anything failed.
bool measure(const Settings &settings, const char *engine, const QString &database, const QString &folder,
             const QString &workDir)
{
    std::fprintf(stderr, "== %s: setting up %s\n", engine, qPrintable(database));
    ServiceRunner service(database, settings.service);
    Organisation organisation;
    QString error;
    if (!serve(service, settings, workDir, engine, &organisation, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    ClientPool clients(organisation, settings);
    std::string problem;
    if (!clients.warmUp(&problem)) {
        std::fprintf(stderr, "Stopped before the import: %s.\n", problem.c_str());
        return false;
    }
    const Clock::time_point baselineBegun = Clock::now();
    sleepUnlessInterrupted(std::chrono::seconds(settings.baselineSeconds));
    if (interrupted) {
        std::fprintf(stderr, "Interrupted before the import; the service is stopped.\n");
        return false;
    }
    std::fprintf(stderr, "== %s: importing %s while %d clients call\n", engine, qPrintable(folder), settings.clients);
    const QString loadBefore = loadAverage();
    const ImportRun import = runImport(settings, database, folder);
    const QString loadAfter = loadAverage();
    clients.stop();
    const bool serviceSurvived = service.isRunning();
    service.terminate();
    if (interrupted) {
        std::fprintf(stderr, "Interrupted; the import and the service are stopped.\n");
        return false;
    }

    const std::vector<Call> calls = clients.calls();
    const std::string prefix = std::string("import_contention_") + engine;
    std::printf("# %s: import of %s while %d clients called (a pause of %d ms after each round)\n", engine,
                qPrintable(folder), settings.clients, settings.pauseMs);
    for (const QString &line : import.report.trimmed().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        std::printf("#   import: %s\n", qPrintable(line));
    std::printf("BENCH %s_import_wall median=%.1fs exit=%d load=%s..%s\n", prefix.c_str(), import.seconds(),
                import.exitCode, qPrintable(loadBefore), qPrintable(loadAfter));
    printBaseline(Tally(calls, baselineBegun, import.begun), settings.baselineSeconds);
    const Tally during(calls, import.begun, import.ended);
    printDuring(prefix, during);
    printServiceLog(service);
    std::fflush(stdout);
    if (import.exitCode != 0)
        std::fprintf(stderr, "The import ended with exit code %d:\n%s\n", import.exitCode, qPrintable(tail(import.errors, 10)));
    if (!serviceSurvived)
        std::fprintf(stderr, "The service ended during the import:\n%s\n", qPrintable(tail(service.log(), 10)));
    return import.exitCode == 0 && serviceSurvived && during.failures() == 0;
}

// ---- Start ----------------------------------------------------------------------------------

bool parseSettings(const QCoreApplication &app, Settings *settings)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Logins, terminal registrations and assignments against vorna-service while an import of photos writes."));
    parser.addHelpOption();
    const QCommandLineOption photos(QStringLiteral("photos"),
        QStringLiteral("Employees with photos to import: the folder bench_import --photos N keeps (written when "
                       "missing). Default: 10000."),
        QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption photoFolder(QStringLiteral("photos-folder"),
        QStringLiteral("Instead: a complete photo folder to import, as bench_import --photos writes."), QStringLiteral("DIR"));
    const QCommandLineOption clients(QStringLiteral("clients"), QStringLiteral("Clients calling at once (1 to 32). Default: 4."),
                                     QStringLiteral("n"), QStringLiteral("4"));
    const QCommandLineOption pause(QStringLiteral("pause"),
        QStringLiteral("Milliseconds a client waits after each round of calls. Default: 500."), QStringLiteral("ms"),
        QStringLiteral("500"));
    const QCommandLineOption baseline(QStringLiteral("baseline"),
        QStringLiteral("Seconds the clients call before the import starts, for figures to compare with. Default: 15."),
        QStringLiteral("seconds"), QStringLiteral("15"));
    const QCommandLineOption service(QStringLiteral("service"),
        QStringLiteral("The vorna-service program to measure. Default: the one of this build."), QStringLiteral("path"),
        ServiceRunner::builtBinary());
    const QCommandLineOption postgres(QStringLiteral("postgres"),
        QStringLiteral("Also measure on this PostgreSQL server (a libpq connection string whose user may create "
                       "databases). Default: VORNA_TEST_PG."),
        QStringLiteral("conninfo"), qEnvironmentVariable("VORNA_TEST_PG"));
    parser.addOptions({photos, photoFolder, clients, pause, baseline, service, postgres});
    parser.process(app);
    bool photosOk = false, clientsOk = false, pauseOk = false, baselineOk = false;
    settings->photos = parser.value(photos).toInt(&photosOk);
    settings->photoFolder = parser.value(photoFolder);
    settings->clients = parser.value(clients).toInt(&clientsOk);
    settings->pauseMs = parser.value(pause).toInt(&pauseOk);
    settings->baselineSeconds = parser.value(baseline).toInt(&baselineOk);
    settings->service = parser.value(service);
    settings->postgres = parser.value(postgres);
    if (!photosOk || settings->photos < 1 || !clientsOk || settings->clients < 1 || settings->clients > 32 || !pauseOk
        || settings->pauseMs < 0 || !baselineOk || settings->baselineSeconds < 0) {
        std::fprintf(stderr, "--photos takes a number of at least 1, --clients 1 to 32, --pause a number of milliseconds, "
                             "--baseline a number of seconds.\n");
        return false;
    }
    return true;
}

// The folder to import: the given one, which must be complete, or this build's own.
QString photoFolder(const Settings &settings)
{
    if (!settings.photoFolder.isEmpty()) {
        if (vorna::testing::isCompletePhotoFolder(settings.photoFolder))
            return settings.photoFolder;
        std::fprintf(stderr, "%s is not a complete photo folder (it lacks .complete); make one with bench_import --photos N.\n",
                     qPrintable(settings.photoFolder));
        return {};
    }
    const QString folder = QStringLiteral(BENCH_DATA_DIR "/photos-%1").arg(settings.photos);
    if (!vorna::testing::isCompletePhotoFolder(folder))
        std::fprintf(stderr, "Generating %d employees with photos in %s ...\n", settings.photos, qPrintable(folder));
    if (vorna::testing::writePhotoFolder(folder, settings.photos))
        return folder;
    std::fprintf(stderr, "Could not write the photo folder %s; is the disk full?\n", qPrintable(folder));
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Settings settings;
    if (!parseSettings(app, &settings))
        return 2;
    const QString folder = photoFolder(settings);
    if (folder.isEmpty())
        return 1;
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    QTemporaryDir sqliteDir(QStringLiteral(BENCH_DATA_DIR "/contention-XXXXXX"));
    if (!sqliteDir.isValid()) {
        std::fprintf(stderr, "Cannot make a folder under %s: %s\n", BENCH_DATA_DIR, qPrintable(sqliteDir.errorString()));
        return 1;
    }
    bool ok = measure(settings, "sqlite", sqliteDir.filePath(QStringLiteral("vorna.db")), folder, sqliteDir.path());
    if (settings.postgres.isEmpty() || interrupted)
        return ok ? 0 : 1;
    ScratchPostgres scratch(settings.postgres, QStringLiteral("vorna_bench_contention"));
    QString error;
    const QString location = scratch.create(&error);
    if (location.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir postgresDir(QStringLiteral(BENCH_DATA_DIR "/contention-XXXXXX"));
    ok = measure(settings, "postgresql", location, folder, postgresDir.path()) && ok;
    return ok ? 0 : 1;
}
