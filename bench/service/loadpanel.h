#pragma once
// The panels of the load benchmark: a few threads that start calls when they are due, the
// figures of one run, and one panel's traffic over gRPC's callback API. Completions arrive on
// gRPC's own threads and only record figures and start or schedule the next call.

#include "benchfigures.h"
#include "commservice.grpc.pb.h"

#include <grpcpp/grpcpp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vorna::bench {

namespace v1 = vorna::v1;
using Clock = std::chrono::steady_clock;

using Bench::percentile;

// Runs short tasks at their time on a few threads.
class Scheduler
{
public:
    explicit Scheduler(int threads);
    ~Scheduler();

    void at(Clock::time_point when, std::function<void()> task);
    // Joins the threads; tasks not yet due are dropped.
    void stop();

private:
    struct Task
    {
        Clock::time_point when;
        std::function<void()> run;
    };
    void work();
    static bool dueLater(const Task &a, const Task &b) { return a.when > b.when; }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::vector<Task> m_heap; // earliest first, by std::push_heap with a reversed order
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

// What ended within one round of a run.
struct Round
{
    std::vector<double> loginMs;
    std::vector<double> presenceMs;
    std::vector<double> detailMs;
    int errors = 0;
};

// One run: its clock and rounds, the failures by status code, and what its panels share.
class LoadRun
{
public:
    LoadRun(std::chrono::seconds length, std::chrono::seconds ramp, int rounds);

    void start(Scheduler &scheduler);
    void stop();
    bool stopping() const;
    Scheduler &scheduler() { return *m_scheduler; }
    Clock::time_point startTime() const { return m_start; }
    Clock::time_point endTime() const { return m_start + m_length; }
    std::chrono::milliseconds ramp() const { return m_ramp; }
    // How long a panel's user waits between two refreshes: a random time in this range.
    void setRefreshSeconds(double shortest, double longest) { m_refreshShortest = shortest; m_refreshLongest = longest; }
    double refreshShortest() const { return m_refreshShortest; }
    double refreshLongest() const { return m_refreshLongest; }

    void recordLogin(Clock::time_point begun);
    void recordPresence(Clock::time_point begun);
    void recordDetail(Clock::time_point begun);
    // `kind` names the failure where the status code alone does not (a stream the service ended).
    void recordFailure(const char *call, const grpc::Status &status, const char *kind = nullptr);

    // Calls in flight, so that the run can wait for the last one to end.
    void callStarted();
    void callEnded();
    bool waitUntilIdle(std::chrono::seconds limit);

    // Panels of one organisation hold the same digests; they share one copy.
    std::shared_ptr<const std::vector<std::string>> shareDigests(std::vector<std::string> digests);
    bool knowsEmployees() const;
    void offerEmployeeIds(std::vector<std::string> ids);
    std::string randomEmployee() const;

    const std::vector<Round> &rounds() const { return m_rounds; }
    int totalLogins() const;
    int totalPresence() const;
    int totalDetails() const;
    int totalErrors() const;
    // One line per failure kind (status code and message): how many, from which calls.
    std::vector<std::string> errorSummary() const;

private:
    struct Failures
    {
        int count = 0;
        std::map<std::string, int> byCall;
    };
    void record(std::vector<double> Round::*series, Clock::time_point begun);
    Round &roundAt(Clock::time_point when);

    const std::chrono::milliseconds m_length;
    const std::chrono::milliseconds m_ramp;
    double m_refreshShortest = 20;
    double m_refreshLongest = 40;
    Clock::time_point m_start;
    Scheduler *m_scheduler = nullptr;
    std::atomic<bool> m_stopping{false};

    mutable std::mutex m_mutex;
    std::vector<Round> m_rounds;
    std::map<std::string, Failures> m_failures;
    std::shared_ptr<const std::vector<std::string>> m_digests;
    std::vector<std::string> m_employeeIds;
    std::atomic<bool> m_knowsEmployees{false};

    std::mutex m_callsMutex;
    std::condition_variable m_callsEnded;
    int m_calls = 0;
};

// One panel on its own connection: login, session stream, presence refreshes, detail pages.
class Panel
{
public:
    Panel(LoadRun &run, const std::string &address, int index);

    void start(Clock::time_point at);
    // Cancels the session stream and starts nothing new; calls in flight run to their end.
    void close();

private:
    void tick();
    void later();
    void login();
    void loggedIn(const std::string &token);
    void loggedOut();
    void watchSession(const std::string &token);
    void refresh();
    void openDetail(int step, Clock::time_point begun, const std::string &employee);
    std::string token() const;

    LoadRun &m_run;
    const std::string m_user;
    std::unique_ptr<v1::CommService::Stub> m_stub;

    mutable std::mutex m_mutex;
    std::string m_token; // empty while not logged in
    std::shared_ptr<const std::vector<std::string>> m_digests;
    grpc::ClientContext *m_watch = nullptr;
    bool m_closed = false;
};

} // namespace vorna::bench
