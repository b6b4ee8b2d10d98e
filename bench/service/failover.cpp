// What a database failover costs the live board: two built service instances on a primary
// PostgreSQL with a synchronous standby, a terminal registering every 50 ms on one and a panel's
// session stream on the other. The primary crashes, a second later the standby is promoted, and
// the program measures the time from the promotion to the first acknowledged registration and
// to the first presence event the panel gets. Each run makes its replicated database anew;
// prints a row per run and the median with min and max as BENCH lines.
//
//   bench_failover [--runs 5]

#include "support/failoverrig.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

using namespace vorna::testing;
using namespace std::chrono_literals;

namespace {

constexpr auto Patience = 60s;

struct Failover
{
    double toWriteSeconds = 0;
    double toEventSeconds = 0;
};

double secondsBetween(FailoverClock::time_point from, FailoverClock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

bool measure(Failover *result, QString *error)
{
    FailoverRig rig;
    if (!rig.start()) {
        *error = rig.error();
        return false;
    }
    const std::string session = rig.logIn(0);
    SessionStreamRecorder panel(rig.instance(1).address(), session);
    if (session.empty() || !panel.waitUntilOpen(Patience)) {
        *error = QStringLiteral("The panel's session did not open: %1 %2").arg(rig.error(), panel.ending());
        return false;
    }
    const std::unique_ptr<TerminalLoop> terminal = rig.startTerminal(0);
    const FailoverClock::time_point started = FailoverClock::now();
    if (!terminal->acknowledgedAfter(started, Patience) || !panel.presenceChangedAfter(started, Patience)) {
        *error = QStringLiteral("Registrations or their events do not arrive before the failover.");
        return false;
    }
    std::this_thread::sleep_for(1s);
    if (!rig.database().crash(ReplicatedPostgres::First)) {
        *error = rig.database().error();
        return false;
    }
    std::this_thread::sleep_for(1s);
    if (!rig.database().promote(ReplicatedPostgres::Second)) {
        *error = rig.database().error();
        return false;
    }
    const FailoverClock::time_point promoted = FailoverClock::now();
    const auto written = terminal->acknowledgedAfter(promoted, Patience);
    const auto heard = panel.presenceChangedAfter(promoted, Patience);
    terminal->stop();
    if (!written || !heard) {
        *error = QStringLiteral("No %1 within %2 s of the promotion.")
                     .arg(written ? QStringLiteral("event") : QStringLiteral("acknowledged registration"))
                     .arg(Patience.count());
        return false;
    }
    result->toWriteSeconds = secondsBetween(promoted, *written);
    result->toEventSeconds = secondsBetween(promoted, *heard);
    return true;
}

void printFigure(const char *name, std::vector<double> values, const char *target)
{
    std::sort(values.begin(), values.end());
    std::printf("BENCH %s median=%.2fs min=%.2fs max=%.2fs target=%s\n", name, values[values.size() / 2], values.front(),
                values.back(), target);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Failover time of the service on a replicated PostgreSQL."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Failovers to measure (1 to 20)."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    parser.addOption(runsOption);
    parser.process(app);
    bool number = false;
    const int runs = parser.value(runsOption).toInt(&number);
    if (!number || runs < 1 || runs > 20) {
        std::fprintf(stderr, "--runs takes a number from 1 to 20.\n");
        return 2;
    }
    if (ReplicatedPostgres::serverPrograms().isEmpty()) {
        std::fprintf(stderr, "PostgreSQL's server programs (initdb, pg_ctl, pg_basebackup) are not installed; "
                             "tools/bootstrap.sh installs them.\n");
        return 1;
    }

    std::vector<double> toWrite, toEvent;
    std::printf("# %-4s %-28s %-28s\n", "run", "promotion to acknowledged", "promotion to live event");
    for (int run = 1; run <= runs; ++run) {
        Failover failover;
        QString error;
        if (!measure(&failover, &error)) {
            std::fprintf(stderr, "Run %d failed: %s\n", run, qPrintable(error));
            return 1;
        }
        toWrite.push_back(failover.toWriteSeconds);
        toEvent.push_back(failover.toEventSeconds);
        std::printf("# %-4d %-28.2f %-28.2f\n", run, failover.toWriteSeconds, failover.toEventSeconds);
        std::fflush(stdout);
    }
    printFigure("failover_promotion_to_acknowledged_write", toWrite, "<=10s");
    printFigure("failover_promotion_to_live_event", toEvent, "<=12s");
    return 0;
}
