// The real panel against a real vorna-service whose employees have an office's photos
// (900x1200 JPEGs of 100-250 kB; 10,000 employees by default).
//
// The database is made as an operator makes one, `init` and `import` of a photo folder, with a
// manager added, and kept under --cache. Each round then gives the panel a new, empty picture
// cache folder (XDG_CACHE_HOME, which the client library reads at each presence request) and
//   first   builds the real panel, logs in and waits for the list: the first start of a panel;
//   second  builds it anew on the same cache folder, as the next morning's start, logs in,
//           waits for the list, then times one live reload (the figure bench_panel_reload
//           takes, on this database);
// each start ending with the step back to the login page and the panel's teardown.
//
// For each start:
//   login_to_frame  wall clock from the press of Connect to the first frame synchronised after
//                   the presence answer's End was handled;
//   rss             VmRSS of this process once the list is loaded and drawn (the panel runs
//                   in-process), and rss_growth, that minus VmRSS before the panel was built
//                   (freed memory is handed back to the system first, so rounds do not inherit);
//   bytes           what the service counted in vorna_presence_bytes_streamed_total during the
//                   answer (protobuf size of the rows, pictures included), read off its
//                   metrics endpoint; no other panel is connected;
//   rows            the rows the answer brought: an answer cut short (by the client's call
//                   time-out, say) is measured as the user met it, and its rows tell.
// Medians, min and max over the rounds; MB are 2^20 bytes.
//
// Usage: bench_panel_photos [--runs 5] [--employees 10000] [--photos DIR] [--cache DIR]
// Run under a display (xvfb-run -a). --photos names a complete folder made elsewhere (for
// instance by bench_import --photos 10000), saving the hour of encoding a new one takes.

#include "benchfigures.h"
#include "paneldriver.h"
#include "panelsteps.h"
#include "photodatabase.h"
#include "reloadprobe.h"
#include "servicemetrics.h"
#include "support/servicerunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <malloc.h>

#include <cstdio>
#include <tuple>

using namespace vorna::bench;

using Bench::loadAverage;

namespace {

constexpr double Mb = 1024.0 * 1024.0;
const QByteArray BytesCounter = QByteArrayLiteral("vorna_presence_bytes_streamed_total");

// One start of the panel.
struct Start
{
    Reload load;
    double rssMb = 0;
    double rssGrowthMb = 0;
    double streamedMb = 0;
};

struct StartFigures
{
    Figure toFrame;
    Figure rss;
    Figure rssGrowth;
    Figure streamed;
    Figure rows;

    void add(const Start &start)
    {
        toFrame.values.append(start.load.pressedMs);
        rss.values.append(start.rssMb);
        rssGrowth.values.append(start.rssGrowthMb);
        streamed.values.append(start.streamedMb);
        rows.values.append(start.load.rows);
    }
};

// The service the panels log in to, and where its byte counter is read.
struct Service
{
    vorna::testing::ServiceRunner &runner;
    quint16 metricsPort = 0;
    int employees = 0;
};

// Pictures the client library keeps under `cacheHome` (in its "pictures" folder; Qt keeps other
// caches there too), and their size in MB.
QString cacheContents(const QString &cacheHome)
{
    int files = 0;
    qint64 bytes = 0;
    for (QDirIterator it(cacheHome, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        it.next();
        if (it.fileInfo().dir().dirName() != QLatin1String("pictures"))
            continue;
        ++files;
        bytes += it.fileInfo().size();
    }
    return QStringLiteral("%1 files, %2 MB").arg(files).arg(bytes / Mb, 0, 'f', 1);
}

class PanelStart
{
public:
    explicit PanelStart(const Service &service) : m_service(service) {}

    // Builds the panel, logs in and measures the list's load, then the live reload when `live`
    // is given. False with error().
    bool run(Start *start, Reload *live)
    {
        // What the last panel freed goes back to the system, so that the growth is this one's.
        malloc_trim(0);
        const double before = residentMb(QCoreApplication::applicationPid());
        if (!m_driver.start({{QStringLiteral("sLang"), 0}, {QStringLiteral("sTheme"), 1}}))
            return false;
        ReloadProbe probe(m_driver.window(), m_driver.serviceClient(), m_service.runner.pid());
        const LoginValues login{QStringLiteral("127.0.0.1"), QString::number(m_service.runner.port()), PhotoManager,
                                PhotoManagerPassword};
        if (!m_steps.fillLogin(login))
            return false;
        const std::optional<double> streamedBefore = scrapeMetric(m_service.metricsPort, BytesCounter);
        probe.arm();
        probe.markPressed();
        if (!m_driver.click(m_driver.pageItem(QStringLiteral("buttonConnect"))))
            return false;
        if (!probe.wait(&start->load))
            return m_driver.fail(QStringLiteral("The list's load after the login showed no frame in time."));
        const std::optional<double> streamedAfter = scrapeMetric(m_service.metricsPort, BytesCounter);
        if (!streamedBefore || !streamedAfter)
            return m_driver.fail(QStringLiteral("The service's metrics on port %1 have no %2.")
                                     .arg(m_service.metricsPort).arg(QString::fromLatin1(BytesCounter)));
        start->streamedMb = (*streamedAfter - *streamedBefore) / Mb;
        if (!m_steps.waitForPage(QStringLiteral("PageList")) || !m_steps.waitForPresence() || !m_driver.settle())
            return false;
        start->rssMb = residentMb(QCoreApplication::applicationPid());
        start->rssGrowthMb = start->rssMb - before;
        if (live && !timeLiveReload(m_driver, probe, m_service.employees, live))
            return false;
        return m_steps.goBack() && m_steps.waitForPage(QStringLiteral("PageLogin"));
    }

    QString error() const { return m_driver.lastError(); }

private:
    const Service &m_service;
    PanelDriver m_driver;
    PanelSteps m_steps{m_driver};
};

void printStart(const QString &prefix, const StartFigures &figures, const QString &frameTarget, const QString &bytesTarget,
                int employees)
{
    printFigure(prefix + QStringLiteral("login_to_frame"), figures.toFrame, QStringLiteral(" target=") + frameTarget);
    for (const auto &[name, figure, unit, target] :
         {std::tuple<const char *, const Figure &, const char *, QString>{"rss", figures.rss, "MB", QStringLiteral("<=300MB")},
          {"rss_growth", figures.rssGrowth, "MB", QString()},
          {"bytes", figures.streamed, "MB", bytesTarget},
          {"rows", figures.rows, "", QString::number(employees)}}) {
        std::printf("BENCH %s%s median=%.2f%s min=%.2f max=%.2f%s\n", qPrintable(prefix), name, figure.median(), unit,
                    figure.min(), figure.max(), target.isEmpty() ? "" : qPrintable(QStringLiteral(" target=") + target));
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    PanelDriver::prepareProcess(home.path());
    QGuiApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("The real panel's first and second start, and its live reload, "
                                                    "against a service whose employees have photos."));
    parser.addHelpOption();
    const QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Rounds (at least 3). Default: 5."),
                                        QStringLiteral("N"), QStringLiteral("5"));
    const QCommandLineOption employeesOption(QStringLiteral("employees"), QStringLiteral("Employees. Default: 10000."),
                                             QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption photosOption(QStringLiteral("photos"),
                                          QStringLiteral("A complete photo folder to import (it must list N employees). "
                                                         "Default: one of this build's own, written on first use."),
                                          QStringLiteral("DIR"));
    const QCommandLineOption cacheOption(QStringLiteral("cache"),
                                         QStringLiteral("Folder that keeps the photo folder and the imported database."),
                                         QStringLiteral("DIR"),
                                         defaultPhotoCache());
    parser.addOptions({runsOption, employeesOption, photosOption, cacheOption});
    parser.process(app);
    const int runs = std::max(3, parser.value(runsOption).toInt());
    const int employees = parser.value(employeesOption).toInt();
    if (employees < 1 || employees > 100000) {
        std::fprintf(stderr, "--employees takes a number from 1 to 100000.\n");
        return 2;
    }

    QString error;
    const QString cache = parser.value(cacheOption);
    const QString folder = photoFolder(parser.value(photosOption), cache, employees, &error);
    const QString database = folder.isEmpty() ? QString() : photoDatabase(cache, folder, employees, &error);
    if (database.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    vorna::testing::ServiceRunner runner(database);
    runner.setLogFile(home.filePath(QStringLiteral("service.log")));
    const Service service{runner, freeLoopbackPort(), employees};
    if (!runner.start({QStringLiteral("--log-level"), QStringLiteral("warning"), QStringLiteral("--metrics-listen"),
                       QStringLiteral("127.0.0.1:%1").arg(service.metricsPort)})) {
        std::fprintf(stderr, "%s\n", qPrintable(runner.error()));
        return 1;
    }

    std::printf("# %d employees with photos from %s; load average before: %s\n", employees, qPrintable(folder),
                qPrintable(loadAverage()));
    StartFigures first;
    StartFigures second;
    Figure live;
    Figure liveRows;
    for (int i = 0; i < runs; ++i) {
        // A new, empty picture cache folder for each round's first start.
        const QString cacheHome = home.filePath(QStringLiteral("cache-%1").arg(i + 1));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome));
        Start firstStart;
        Start secondStart;
        Reload liveReload;
        for (const auto &[start, reload, name] : {std::tuple<Start *, Reload *, const char *>{&firstStart, nullptr, "first"},
                                                  {&secondStart, &liveReload, "second"}}) {
            PanelStart panel(service);
            if (!panel.run(start, reload)) {
                std::fprintf(stderr, "Round %d, %s start, failed: %s\n", i + 1, name, qPrintable(panel.error()));
                return 1;
            }
        }
        std::printf("# round %d: first %.0f ms, %d rows, %.2f MB streamed, RSS %.0f MB (+%.0f); second %.0f ms, %d rows, "
                    "%.2f MB, RSS %.0f MB (+%.0f); live %.0f ms, %d rows; picture cache %s\n",
                    i + 1, firstStart.load.pressedMs, firstStart.load.rows, firstStart.streamedMb, firstStart.rssMb,
                    firstStart.rssGrowthMb, secondStart.load.pressedMs, secondStart.load.rows, secondStart.streamedMb,
                    secondStart.rssMb, secondStart.rssGrowthMb, liveReload.frameMs, liveReload.rows,
                    qPrintable(cacheContents(cacheHome)));
        for (const auto &[name, reload] : {std::pair<const char *, const Reload &>{"first", firstStart.load},
                                           {"second", secondStart.load}, {"live", liveReload}}) {
            std::printf("#   %s: Begin to frame %.0f ms (End handled at %.0f); CPU ms: gui %.0f, panel %.0f (render %.0f), "
                        "service %.0f\n",
                        name, reload.frameMs, reload.handledMs, reload.guiCpuMs, reload.panelCpuMs, reload.renderCpuMs,
                        reload.serviceCpuMs);
        }
        std::fflush(stdout);
        first.add(firstStart);
        second.add(secondStart);
        live.values.append(liveReload.frameMs);
        liveRows.values.append(liveReload.rows);
    }
    const QString size = employees % 1000 == 0 ? QStringLiteral("%1k").arg(employees / 1000) : QString::number(employees);
    const QString prefix = QStringLiteral("panel_photos_%1_").arg(size);
    printStart(prefix + QStringLiteral("first_"), first, QStringLiteral("<=1500ms"), QStringLiteral("<=150MB"), employees);
    printStart(prefix + QStringLiteral("second_"), second, QStringLiteral("<=600ms"), QStringLiteral("<=2MB"), employees);
    printFigure(prefix + QStringLiteral("live_to_frame"), live, QStringLiteral(" target=<=150ms"));
    std::printf("BENCH %slive_rows median=%.0f min=%.0f max=%.0f target=%d\n", qPrintable(prefix), liveRows.median(),
                liveRows.min(), liveRows.max(), employees);
    std::printf("# load average after: %s\n", qPrintable(loadAverage()));
    return 0;
}
