// Load on vorna-service: N panels open at once, each on its own connection, doing what the
// panel does. A panel logs in, holds its session stream open for the whole run, refreshes the
// presence list every 20 to 40 s (--refresh; the first time cold, later listing the picture
// digests it holds) and now and then opens an employee's detail page, which asks in turn for the
// calendars, the working-day kinds and that employee's calendar and exception history.
//
// For each employee count it seeds a temporary SQLite database with the demo data; for each
// panel count it starts the built vorna-service on a fresh copy of it, as its own process, and
// drives all panels from a few threads with gRPC's callback API (no thread per panel, so a
// thousand panels fit). Logins are spread over a ramp at the start, as an office coming in.
//
// The run is cut into rounds; per round it takes the p50/p99 of logins, presence answers and
// detail pages and counts failed calls, and prints the median, min and max over the rounds.
// Failures are also listed by status code and message. The service's RSS and thread count are sampled
// every second during the run and once after the panels have closed; a run stops early when
// the service's private memory (RssAnon: the database file it maps counts in VmRSS once per
// connection) grows past --rss-limit, so that a runaway service cannot take the machine down.
//
// With --photos N the organisation is instead N employees with an office's photos (900x1200
// JPEGs of 100-250 kB), imported by the built executable from a photo folder and kept under
// --cache (bench_panel_photos shares both), and the run is by default an office's morning:
// 200 panels with empty picture caches (their first presence request lists no digests)
// logging in over 150 s of a 300 s run.
// All panels come from 127.0.0.1 as the two demo users: options that raise the service's caps
// per address and per user are passed when `serve --help` lists them.

#include "loadpanel.h"
#include "photodatabase.h"
#include "support/servicerunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <thread>

using namespace vorna::bench;
using vorna::testing::ProcessSample;
using vorna::testing::ServiceRunner;

namespace {

struct Settings
{
    std::vector<int> panels{50, 200, 1000};
    std::vector<int> employees{1000, 10000};
    int seconds = 60;
    int rounds = 5;
    int rampSeconds = 20;
    double refreshShortest = 20;
    double refreshLongest = 40;
    int threads = 2;
    // The machine is shared: a run stops early when the service grows past this.
    int rssLimitMb = 4096;
    QString serviceBinary = QStringLiteral(VORNA_SERVICE_BINARY);
    // The organisation has photos: imported from photoFolder (empty: one of the build's own).
    bool photos = false;
    QString photoFolder;
    QString cacheDir;
};

// The service's figures over one run.
struct ServiceFigures
{
    ProcessSample idle;
    std::vector<ProcessSample> during;
    ProcessSample after;
};

struct Figures
{
    double median = 0;
    double min = 0;
    double max = 0;
};

Figures summarise(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    return {values.at(values.size() / 2), values.front(), values.back()};
}

// Prints the median, min and max of `values`. When there are none (no such call ended well),
// nothing, or "none" for a figure held to a target, so that the table shows it missed.
void printBench(const std::string &name, const std::vector<double> &values, const char *unit,
                const std::string &target = {})
{
    if (values.empty()) {
        if (!target.empty())
            std::printf("BENCH %s median=none min=none max=none target=%s\n", name.c_str(), target.c_str());
        return;
    }
    const Figures f = summarise(values);
    std::printf("BENCH %s median=%.1f%s min=%.1f max=%.1f", name.c_str(), f.median, unit, f.min, f.max);
    if (!target.empty())
        std::printf(" target=%s", target.c_str());
    std::printf("\n");
    std::fflush(stdout);
}

// The chosen percentile of each round that has values.
std::vector<double> perRound(const std::vector<Round> &rounds, std::vector<double> Round::*values, double p)
{
    std::vector<double> out;
    for (const Round &round : rounds) {
        if (!(round.*values).empty())
            out.push_back(percentile(round.*values, p));
    }
    return out;
}

// All panels share 127.0.0.1 and two demo users; each opens one connection.
void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

ServiceFigures drive(const Settings &settings, int panels, const std::string &address, ServiceRunner &service,
                     LoadRun &run)
{
    ServiceFigures figures;
    figures.idle = service.sample();
    {
        Scheduler scheduler(settings.threads);
        run.start(scheduler);
        std::vector<std::unique_ptr<Panel>> all;
        for (int i = 0; i < panels; ++i) {
            all.push_back(std::make_unique<Panel>(run, address, i));
            all.back()->start(run.startTime() + run.ramp() * i / panels);
        }
        while (Clock::now() < run.endTime()) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            figures.during.push_back(service.sample());
            if (figures.during.back().anonMb > settings.rssLimitMb) {
                const std::string why = "The service's RssAnon passed " + std::to_string(settings.rssLimitMb)
                    + " MB; the run was stopped early (--rss-limit).";
                std::fprintf(stderr, "%s\n", why.c_str());
                run.recordFailure("service", grpc::Status(grpc::RESOURCE_EXHAUSTED, why), "SERVICE_RSS_LIMIT");
                break;
            }
        }
        // No new tick after this; then the session streams go, and the calls in flight end.
        run.stop();
        scheduler.stop();
        for (const auto &panel : all)
            panel->close();
        if (!run.waitUntilIdle(std::chrono::seconds(60)))
            std::fprintf(stderr, "Some calls did not end within 60 s of the run's end; the figures miss them.\n");
        all.clear();
    }
    // Give the service a moment to see the connections go.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    figures.after = service.sample();
    return figures;
}

std::string runName(int panels, int employees, bool photos)
{
    const std::string staff = employees % 1000 == 0 ? std::to_string(employees / 1000) + "k" : std::to_string(employees);
    return "load_" + std::to_string(panels) + "p_" + staff + (photos ? "_photos" : "");
}

// The presence p99 the run is held to, if any.
std::string presenceTarget(const Settings &settings, int panels, int employees)
{
    if (settings.photos)
        return "<=5000ms";
    return panels >= 1000 && employees <= 1000 ? "<=1000ms" : "";
}

void report(const Settings &settings, int panels, int employees, const LoadRun &run, const ServiceFigures &service)
{
    const std::string name = runName(panels, employees, settings.photos);
    std::printf("# %d panels, %d employees%s, %d s (logins spread over %d s, a refresh every %g-%g s): %d logins, "
                "%d presence answers, %d detail pages, %d failed calls\n",
                panels, employees, settings.photos ? " with photos" : "", settings.seconds, int(run.ramp().count() / 1000), settings.refreshShortest,
                settings.refreshLongest, run.totalLogins(),
                run.totalPresence(), run.totalDetails(), run.totalErrors());
    for (const std::string &line : run.errorSummary())
        std::printf("#   %s\n", line.c_str());
    std::printf("# service RSS %.0f MB idle, %.0f MB peak, %.0f MB after; threads %d idle, %d peak, %d after\n",
                service.idle.rssMb,
                std::max_element(service.during.begin(), service.during.end(), [](auto &a, auto &b) { return a.rssMb < b.rssMb; })->rssMb,
                service.after.rssMb, service.idle.threads,
                std::max_element(service.during.begin(), service.during.end(), [](auto &a, auto &b) { return a.threads < b.threads; })->threads,
                service.after.threads);

    const std::vector<Round> &rounds = run.rounds();
    for (size_t i = 0; i < rounds.size(); ++i) {
        const Round &round = rounds[i];
        std::printf("#   round %zu: %zu logins, %zu presence answers (p50 %.0f ms, p99 %.0f ms), %d failed\n", i + 1,
                    round.loginMs.size(), round.presenceMs.size(),
                    round.presenceMs.empty() ? 0.0 : percentile(round.presenceMs, 0.50),
                    round.presenceMs.empty() ? 0.0 : percentile(round.presenceMs, 0.99), round.errors);
    }
    printBench(name + "_login_p50", perRound(rounds, &Round::loginMs, 0.50), "ms");
    printBench(name + "_login_p99", perRound(rounds, &Round::loginMs, 0.99), "ms");
    printBench(name + "_presence_p50", perRound(rounds, &Round::presenceMs, 0.50), "ms");
    printBench(name + "_presence_p99", perRound(rounds, &Round::presenceMs, 0.99), "ms",
               presenceTarget(settings, panels, employees));
    printBench(name + "_detail_p99", perRound(rounds, &Round::detailMs, 0.99), "ms");
    std::vector<double> errors, rss, anon, threads;
    for (const Round &round : rounds)
        errors.push_back(round.errors);
    for (const ProcessSample &sample : service.during) {
        rss.push_back(sample.rssMb);
        anon.push_back(sample.anonMb);
        threads.push_back(sample.threads);
    }
    printBench(name + "_errors", errors, "", "0");
    printBench(name + "_service_rss", rss, "MB");
    printBench(name + "_service_threads", threads, "", "independent of panels");
    printBench(name + "_service_rss_after", {service.after.rssMb}, "MB");
    printBench(name + "_service_anon", anon, "MB");
    printBench(name + "_service_anon_peak", {*std::max_element(anon.begin(), anon.end())}, "MB");
    printBench(name + "_service_anon_after", {service.after.anonMb}, "MB",
               "within 50 MB of idle (" + std::to_string(int(service.idle.anonMb)) + " MB)");
}

std::vector<int> numberList(const QString &text, int smallest)
{
    std::vector<int> numbers;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int n = part.trimmed().toInt(&ok);
        if (!ok || n < smallest)
            return {};
        numbers.push_back(n);
    }
    return numbers;
}

bool parseSettings(const QCoreApplication &app, Settings *settings)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Load benchmark of vorna-service: many panels at once."));
    parser.addHelpOption();
    const QCommandLineOption panels(QStringLiteral("panels"), QStringLiteral("Panel counts, one run each. Default: 50,200,1000."),
                                    QStringLiteral("n,..."), QStringLiteral("50,200,1000"));
    const QCommandLineOption employees(QStringLiteral("employees"),
                                       QStringLiteral("Employee counts of the demo, one set of runs each. Default: 1000,10000."),
                                       QStringLiteral("n,..."), QStringLiteral("1000,10000"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("Length of one run. Default: 60."),
                                     QStringLiteral("seconds"), QStringLiteral("60"));
    const QCommandLineOption rounds(QStringLiteral("rounds"), QStringLiteral("Rounds a run is cut into (>= 5). Default: 5."),
                                    QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption ramp(QStringLiteral("ramp"),
                                  QStringLiteral("Seconds over which the panels log in (at most half the run). Default: 20."),
                                  QStringLiteral("seconds"), QStringLiteral("20"));
    const QCommandLineOption refresh(QStringLiteral("refresh"),
                                     QStringLiteral("Seconds between a panel's refreshes, a random time from MIN to MAX: a "
                                                    "user pressing Refresh now and then. Default: 20-40."),
                                     QStringLiteral("min-max"), QStringLiteral("20-40"));
    const QCommandLineOption threads(QStringLiteral("threads"), QStringLiteral("Threads that start the panels' calls. Default: 2."),
                                     QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption rssLimit(QStringLiteral("rss-limit"),
                                      QStringLiteral("Stop a run when the service's RssAnon passes this many MB. Default: 4096."),
                                      QStringLiteral("MB"), QStringLiteral("4096"));
    const QCommandLineOption service(QStringLiteral("service"),
                                     QStringLiteral("The vorna-service program to measure. Default: the one of this build."),
                                     QStringLiteral("path"), QStringLiteral(VORNA_SERVICE_BINARY));
    const QCommandLineOption photos(QStringLiteral("photos"),
                                    QStringLiteral("Instead of the demo: this many employees with photo-sized pictures "
                                                   "(10000 in the targets). Then the defaults are 200 panels, 300 s and "
                                                   "a ramp of 150 s."),
                                    QStringLiteral("n"));
    const QCommandLineOption photoFolderOption(QStringLiteral("photo-folder"),
                                               QStringLiteral("With --photos: a complete photo folder to import (as "
                                                              "bench_import --photos writes). Default: one of this "
                                                              "build's own, written on first use."),
                                               QStringLiteral("DIR"));
    const QCommandLineOption cache(QStringLiteral("cache"),
                                   QStringLiteral("With --photos: the folder that keeps the photo folder and database."),
                                   QStringLiteral("DIR"), defaultPhotoCache());
    parser.addOptions({panels, employees, seconds, rounds, ramp, refresh, threads, rssLimit, service, photos, photoFolderOption, cache});
    parser.process(app);
    settings->photos = parser.isSet(photos);
    settings->photoFolder = parser.value(photoFolderOption);
    settings->cacheDir = parser.value(cache);
    // An office's morning with photos unless the options say otherwise.
    const auto value = [&](const QCommandLineOption &option, const char *photoDefault) {
        return settings->photos && !parser.isSet(option) ? QString::fromLatin1(photoDefault) : parser.value(option);
    };
    settings->panels = numberList(value(panels, "200"), 1);
    settings->employees = numberList(settings->photos ? parser.value(photos) : parser.value(employees), 1);
    settings->seconds = std::max(5, value(seconds, "300").toInt());
    settings->rounds = std::max(5, parser.value(rounds).toInt());
    settings->rampSeconds = std::clamp(value(ramp, "150").toInt(), 0, settings->seconds / 2);
    settings->threads = std::clamp(parser.value(threads).toInt(), 1, 16);
    const QStringList range = parser.value(refresh).split(QLatin1Char('-'));
    settings->refreshShortest = range.value(0).toDouble();
    settings->refreshLongest = range.value(1).toDouble();
    if (range.size() != 2 || settings->refreshShortest < 1 || settings->refreshLongest < settings->refreshShortest) {
        std::fprintf(stderr, "--refresh takes two numbers of seconds, MIN-MAX, with 1 <= MIN <= MAX.\n");
        return false;
    }
    settings->rssLimitMb = std::max(64, parser.value(rssLimit).toInt());
    settings->serviceBinary = parser.value(service);
    if (settings->panels.empty() || settings->employees.empty()) {
        std::fprintf(stderr, "--panels, --employees and --photos take whole numbers separated by commas, such as 50,200.\n");
        return false;
    }
    return true;
}

// Every panel here comes from 127.0.0.1, as an office's do from behind one proxy: options that
// let them all in from one address (no per-address reset budget, as behind a proxy), passed
// only when this build of the service knows them.
QStringList serveOptionsFor(const ServiceRunner &service, int panels)
{
    const QString help = service.serveHelp();
    const std::pair<const char *, int> wanted[] = {
        {"--max-sessions-per-user", 2 * panels + 16},
        {"--max-connections-per-address", panels + 64},
        {"--max-resets-per-address", 0},
    };
    QStringList options;
    for (const auto &[option, value] : wanted) {
        if (help.contains(QRegularExpression(QStringLiteral("%1\\b(?!-)").arg(QRegularExpression::escape(QLatin1String(option))))))
            options << QLatin1String(option) << QString::number(value);
    }
    return options;
}

// The imported photo organisation (made once and kept) copied to `copy`; false with *error.
bool copyPhotoDatabase(const Settings &settings, int employees, const QString &copy, QString *error)
{
    const QString folder = photoFolder(settings.photoFolder, settings.cacheDir, employees, error);
    const QString database = folder.isEmpty() ? QString() : photoDatabase(settings.cacheDir, folder, employees, error);
    if (database.isEmpty())
        return false;
    if (QFile::copy(database, copy))
        return true;
    *error = QStringLiteral("Cannot copy %1 to %2; is the disk full?").arg(database, copy);
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Settings settings;
    if (!parseSettings(app, &settings))
        return 2;
    raiseOpenFileLimit();

    QTemporaryDir dir;
    ServiceRunner service(QString(), settings.serviceBinary);
    service.setLogFile(dir.filePath(QStringLiteral("service.log")));
    bool anyErrors = false;
    for (const int employees : settings.employees) {
        const QString seeded = dir.filePath(QStringLiteral("organisation-%1.db").arg(employees));
        service.setDatabase(seeded);
        QString error;
        if (!(settings.photos ? copyPhotoDatabase(settings, employees, seeded, &error) : service.seed(employees))
            || !service.addPanelUsers()) {
            std::fprintf(stderr, "%s\n", qPrintable(error.isEmpty() ? service.error() : error));
            return 3;
        }
        for (const int panels : settings.panels) {
            const QString database = dir.filePath(QStringLiteral("run.db"));
            QFile::remove(database);
            if (!QFile::copy(seeded, database)) {
                std::fprintf(stderr, "Cannot copy the demo database in %s; is the disk full?\n", qPrintable(dir.path()));
                return 3;
            }
            std::fprintf(stderr, "== %d panels, %d employees\n", panels, employees);
            service.setDatabase(database);
            if (!service.start(serveOptionsFor(service, panels) << QStringLiteral("--log-level") << QStringLiteral("warning"))) {
                std::fprintf(stderr, "%s\n", qPrintable(service.error()));
                return 3;
            }
            LoadRun run(std::chrono::seconds(settings.seconds), std::chrono::seconds(settings.rampSeconds), settings.rounds);
            run.setRefreshSeconds(settings.refreshShortest, settings.refreshLongest);
            const ServiceFigures figures = drive(settings, panels, service.address().toStdString(), service, run);
            service.terminate();
            const int logLines = int(service.log().count(QLatin1Char('\n')));
            report(settings, panels, employees, run, figures);
            if (logLines > 0)
                std::printf("#   the service logged %d warnings or errors\n", logLines);
            anyErrors = anyErrors || run.totalErrors() > 0;
        }
    }
    return anyErrors ? 1 : 0;
}
