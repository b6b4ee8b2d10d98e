// The live board's latency: N panels watch their session streams while a clocking terminal
// registers activities. For each registration and each panel it measures the time from the
// terminal's request to the moment the panel, told by PRESENCE_CHANGED, has reloaded the list
// and sees the new activity in the employee's row; and it counts the events each panel gets
// in any one second. Runs the built vorna-service as its own process on a demo database.

#include "benchfigures.h"
#include "commservice.grpc.pb.h"
#include "support/servicerunner.h"
#include "storage/database.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QTemporaryDir>

#include <grpcpp/grpcpp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace v1 = vorna::v1;
using Clock = std::chrono::steady_clock;

using Bench::percentile;

namespace {

constexpr int Panels = 50;
constexpr int Employees = 1000;
constexpr int Registrations = 40;
// Apart by more than the one-second coalescing, so that each registration has an event of its own.
constexpr auto RegistrationGap = std::chrono::milliseconds(1500);
const char *const TerminalToken = "bench-live-terminal-token";

struct Shared
{
    std::mutex mutex;
    // Per registration: when the terminal asked, which employee and activity it was.
    std::vector<Clock::time_point> registeredAt;
    std::vector<std::pair<std::string, std::string>> registered;
    std::vector<double> latenciesMs;
    std::vector<int> eventsPerSecond; // the most events one panel got within one second
    std::atomic<bool> stopping{false};
    std::atomic<int> ready{0};
};

// One panel: logs in, loads the list, then reloads on every PRESENCE_CHANGED and notes which
// registrations it now sees.
void watch(const std::string &address, int index, Shared *shared)
{
    auto stub = v1::CommService::NewStub(grpc::CreateChannel(address, grpc::InsecureChannelCredentials()));
    v1::LoginRequest login;
    login.set_user(vorna::testing::ServiceRunner::panelUser(index).toStdString());
    login.set_password("vorna-demo");
    v1::LoginReply session;
    grpc::ClientContext loginContext;
    if (!stub->Login(&loginContext, login, &session).ok()) {
        std::fprintf(stderr, "panel %d could not log in\n", index);
        return;
    }
    std::vector<std::string> digests;
    const auto reload = [&](std::vector<std::pair<std::string, std::string>> *rows) {
        grpc::ClientContext context;
        context.AddMetadata("vorna-session", session.session_token());
        v1::PresenceRequest request;
        for (const std::string &digest : digests)
            request.add_known_picture_digests(digest);
        auto reader = stub->Presence(&context, request);
        v1::PresenceChunk chunk;
        std::vector<std::string> seen;
        while (reader->Read(&chunk)) {
            for (const v1::PresenceRow &row : chunk.rows()) {
                rows->emplace_back(row.employee_id(), row.activity_description());
                if (!row.picture_digest().empty())
                    seen.push_back(row.picture_digest());
            }
        }
        digests = std::move(seen);
        return reader->Finish().ok();
    };
    std::vector<std::pair<std::string, std::string>> rows;
    reload(&rows);

    grpc::ClientContext watchContext;
    watchContext.AddMetadata("vorna-session", session.session_token());
    auto events = stub->WatchSession(&watchContext, v1::SessionWatchRequest());
    ++shared->ready;
    std::vector<Clock::time_point> eventTimes;
    size_t answered = 0; // registrations this panel has seen in its list
    v1::SessionEvent event;
    while (!shared->stopping && events->Read(&event)) {
        if (event.kind() != v1::SessionEvent::PRESENCE_CHANGED)
            continue;
        eventTimes.push_back(Clock::now());
        rows.clear();
        if (!reload(&rows))
            continue;
        const Clock::time_point shown = Clock::now();
        std::lock_guard<std::mutex> lock(shared->mutex);
        for (; answered < shared->registered.size(); ++answered) {
            const auto &wanted = shared->registered[answered];
            if (std::find(rows.begin(), rows.end(), wanted) == rows.end())
                break;
            shared->latenciesMs.push_back(
                std::chrono::duration<double, std::milli>(shown - shared->registeredAt[answered]).count());
        }
    }
    int most = 0;
    for (size_t i = 0; i < eventTimes.size(); ++i) {
        const auto within = std::count_if(eventTimes.begin() + long(i), eventTimes.end(), [&](Clock::time_point t) {
            return t - eventTimes[i] < std::chrono::seconds(1);
        });
        most = std::max(most, int(within));
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->eventsPerSecond.push_back(most);
    watchContext.TryCancel();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("live.db"));
    vorna::testing::ServiceRunner service(database);
    if (!service.seed(Employees) || !service.addPanelUsers()) {
        std::fprintf(stderr, "%s\n", qPrintable(service.error()));
        return 1;
    }
    std::vector<std::string> employees;
    std::vector<std::pair<qint64, std::string>> kinds;
    {
        vorna::service::StorageError storageError;
        vorna::service::Result<std::unique_ptr<vorna::service::Database>> opened = vorna::service::Database::open(database);
        storageError = opened.error();
        auto storage = opened.take();
        if (!storage
            || !storage->accounts().addTerminal({0, QStringLiteral("bench-live"),
                                      QCryptographicHash::hash(TerminalToken, QCryptographicHash::Sha256),
                                      QDateTime::currentDateTimeUtc()}).ok()) {
            std::fprintf(stderr, "Cannot add the terminal: %s\n", qPrintable(storageError.message));
            return 1;
        }
        for (const vorna::service::ActivityKind &kind : storage->organisation().activityKinds().value())
            kinds.emplace_back(kind.id, kind.name.toStdString());
        vorna::service::User everyone;
        everyone.allDepartments = true;
        vorna::service::PresenceQuery query;
        query.at = QDateTime::currentDateTimeUtc();
        storage->presence().presence(everyone, query, [&](const vorna::service::PresenceRow &row) {
            employees.push_back(row.employeeId.toStdString());
        });
    }
    if (employees.empty() || kinds.size() < 2) {
        std::fprintf(stderr, "The demo has no employees or too few activity kinds.\n");
        return 1;
    }
    service.setLogFile(dir.filePath(QStringLiteral("service.log")));
    if (!service.start({QStringLiteral("--max-resets-per-address"), QStringLiteral("0"), QStringLiteral("--log-level"),
                        QStringLiteral("warning")})) {
        std::fprintf(stderr, "%s\n", qPrintable(service.error()));
        return 1;
    }
    const QString address = service.address();

    Shared shared;
    std::vector<std::thread> panels;
    for (int i = 0; i < Panels; ++i)
        panels.emplace_back(watch, address.toStdString(), i, &shared);
    while (shared.ready < Panels)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));

    auto terminal = v1::CommService::NewStub(grpc::CreateChannel(address.toStdString(), grpc::InsecureChannelCredentials()));
    for (int i = 0; i < Registrations; ++i) {
        const std::string &employee = employees[size_t(i * 7) % employees.size()];
        const auto &kind = kinds[size_t(i) % kinds.size()];
        v1::RegisterActivityRequest request;
        request.set_employee_id(employee);
        request.set_activity_kind_id(kind.first);
        {
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.registeredAt.push_back(Clock::now());
            shared.registered.emplace_back(employee, kind.second);
        }
        grpc::ClientContext context;
        context.AddMetadata("vorna-device", TerminalToken);
        v1::RegisterActivityReply reply;
        if (!terminal->RegisterActivity(&context, request, &reply).ok())
            std::fprintf(stderr, "registration %d failed\n", i);
        std::this_thread::sleep_for(RegistrationGap);
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    shared.stopping = true;
    service.terminate(); // ends the session streams, so the panels' reads return
    for (std::thread &panel : panels)
        panel.join();

    const size_t expected = size_t(Panels) * Registrations;
    std::printf("# %d panels watching, %d registrations %lld ms apart: %zu of %zu seen\n", Panels, Registrations,
                static_cast<long long>(RegistrationGap.count()), shared.latenciesMs.size(), expected);
    std::printf("BENCH live_registration_to_panel_p50 median=%.1fms\n", percentile(shared.latenciesMs, 0.50));
    std::printf("BENCH live_registration_to_panel_p99 median=%.1fms target=<=1000ms\n", percentile(shared.latenciesMs, 0.99));
    std::printf("BENCH live_events_per_panel_second max=%d target=<=1\n",
                shared.eventsPerSecond.empty() ? 0 : *std::max_element(shared.eventsPerSecond.begin(), shared.eventsPerSecond.end()));
    return shared.latenciesMs.size() == expected ? 0 : 1;
}
