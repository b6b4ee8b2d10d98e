// The presence list's reload on the real panel against a real vorna-service.
//
// For each organisation size (10,000 and 100,000 employees by default) it serves a demo
// database (seeded once and kept under the build folder, since seeding 100,000 takes minutes)
// and runs rounds. Each round builds the real panel (qrc:/main.qml, the real ClientObjectQml),
// logs in as the demo's manager and times
//   first  the list page's load after the login: a new page, pictures the client has not seen;
//   live   a live reload of the same page after a presence change, pictures already held,
//          with the list scrolled away from its top;
// then steps back to the login page and ends the panel.
//
// Each timing runs from dbPresenceResponseBegin (the start of the event that emits it) until
// the first frame synchronised after the last handler of dbPresenceResponseEnd returned:
//   to_frame    wall clock, as the user waits;
//   handled     wall clock, up to the return of End's handlers;
//   gui_cpu     the GUI thread's CPU time over to_frame (handlers, polish, scene sync);
//   panel_cpu   the panel process's CPU time over to_frame, all threads (the client library's
//               worker, the render threads and the GUI thread);
//   service_cpu the service process's CPU time over to_frame;
//   render_cpu  the part of panel_cpu spent by the render thread and Mesa's rasteriser threads
//               (with the number of frames swapped over to_frame);
//   script_cpu  the GUI thread's CPU time in the page's own per-row handler. QML handlers run
//               before the C++ ones and before Qt's signal-spy callbacks, so the time from the
//               previous row's end (or the start of the batch's event) to a row signal's begin
//               callback is that handler's. Its ratio is its share of gui_cpu. Every eighth row
//               is timed and the sum scaled: reading the thread's CPU clock is a system call,
//               and two per row would add a tenth to the GUI thread's own time.
// Medians, min and max over the rounds; growth is the 100k median over the 10k median.
//
// The presence change is the client's presenceChanged() emitted by the bench: what follows is
// the panel's own path to the real service. How fast a terminal's registration becomes that
// event is bench_live's figure.
//
// Usage: bench_panel_reload [--runs N] [--employees 10000,100000] [--cache DIR]
// Run under a display (xvfb-run -a).

#include "paneldriver.h"
#include "panelsteps.h"
#include "reloadprobe.h"
#include "support/servicerunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>

namespace {

struct Figures
{
    Figure toFrame;
    Figure handled;
    Figure guiCpu;
    Figure panelCpu;
    Figure serviceCpu;
    Figure renderCpu;
    Figure frames;
    Figure scriptCpu;

    void add(const Reload &r)
    {
        toFrame.values.append(r.frameMs);
        handled.values.append(r.handledMs);
        guiCpu.values.append(r.guiCpuMs);
        panelCpu.values.append(r.panelCpuMs);
        serviceCpu.values.append(r.serviceCpuMs);
        renderCpu.values.append(r.renderCpuMs);
        frames.values.append(r.frames);
        scriptCpu.values.append(r.scriptCpuMs);
    }
};

struct SizeFigures
{
    int employees = 0;
    Figures first;
    Figures live;
};

// A demo database of `employees`, seeded on first use and kept in `cacheDir`.
QString cachedDatabase(const QString &cacheDir, int employees, QString *error)
{
    QDir().mkpath(cacheDir);
    const QString database = QDir(cacheDir).filePath(QStringLiteral("presence-%1.db").arg(employees));
    if (QFileInfo::exists(database))
        return database;
    std::printf("# seeding %d employees into %s (once; it is kept for the next runs)\n", employees,
                qPrintable(database));
    std::fflush(stdout);
    // Seeded under another name, so that an interrupted seeding leaves no half database behind.
    const QString partial = database + QStringLiteral(".seeding");
    QFile::remove(partial);
    vorna::testing::ServiceRunner seeder(partial);
    if (!seeder.seed(employees)) {
        *error = seeder.error();
        return {};
    }
    if (!QFile::rename(partial, database)) {
        *error = QStringLiteral("Cannot rename %1 to %2.").arg(partial, database);
        return {};
    }
    return database;
}

class Round
{
public:
    Round(const LoginValues &login, int employees, qint64 servicePid)
        : m_login(login), m_employees(employees), m_servicePid(servicePid)
    {
    }

    // One panel: the load after its login, then one live reload. False with error().
    bool run(Reload *first, Reload *live)
    {
        if (!m_driver.start({{QStringLiteral("sLang"), 0}, {QStringLiteral("sTheme"), 1}}))
            return false;
        ReloadProbe probe(m_driver.window(), m_driver.serviceClient(), m_servicePid);
        if (!m_steps.fillLogin(m_login))
            return false;
        probe.arm();
        if (!m_driver.click(m_driver.pageItem(QStringLiteral("buttonConnect"))))
            return false;
        if (!probe.wait(first))
            return m_driver.fail(QStringLiteral("The first load showed no frame in time."));
        if (!m_steps.waitForPage(QStringLiteral("PageList")) || !m_steps.waitForPresence()
            || !checkRows(m_driver, *first, m_employees) || !timeLiveReload(m_driver, probe, m_employees, live)
            || !checkRows(m_driver, *live, m_employees))
            return false;
        return m_steps.goBack() && m_steps.waitForPage(QStringLiteral("PageLogin"));
    }

    QString error() const { return m_driver.lastError(); }

private:
    LoginValues m_login;
    int m_employees;
    qint64 m_servicePid;
    PanelDriver m_driver;
    PanelSteps m_steps{m_driver};
};

QString sizeName(int employees)
{
    return employees % 1000 == 0 ? QStringLiteral("%1k").arg(employees / 1000) : QString::number(employees);
}

QString share(const Figure &part, const Figure &whole)
{
    return QStringLiteral(" ratio=%1 target=share of gui_cpu").arg(part.median() / whole.median(), 0, 'f', 3);
}

void printSize(const SizeFigures &size)
{
    const QString prefix = QStringLiteral("panel_reload_%1_").arg(sizeName(size.employees));
    const QString target = size.employees <= 10000 ? QStringLiteral(" target=<=150ms") : QStringLiteral(" target=<=1500ms");
    for (const auto &[kind, figures] : {std::pair<QString, const Figures &>{QStringLiteral("live"), size.live},
                                        std::pair<QString, const Figures &>{QStringLiteral("first"), size.first}}) {
        printFigure(prefix + kind + QStringLiteral("_to_frame"), figures.toFrame, kind == QLatin1String("live") ? target : QString());
        printFigure(prefix + kind + QStringLiteral("_handled"), figures.handled, QString());
        printFigure(prefix + kind + QStringLiteral("_gui_cpu"), figures.guiCpu, QString());
        printFigure(prefix + kind + QStringLiteral("_panel_cpu"), figures.panelCpu, QString());
        printFigure(prefix + kind + QStringLiteral("_service_cpu"), figures.serviceCpu, QString());
        printFigure(prefix + kind + QStringLiteral("_render_cpu"), figures.renderCpu, QString());
        std::printf("# %s%s_frames median=%.0f min=%.0f max=%.0f\n", qPrintable(prefix), qPrintable(kind),
                    figures.frames.median(), figures.frames.min(), figures.frames.max());
        printFigure(prefix + kind + QStringLiteral("_script_cpu"), figures.scriptCpu, share(figures.scriptCpu, figures.guiCpu));
    }
}

void printGrowth(const SizeFigures &small, const SizeFigures &large)
{
    const QString name = QStringLiteral("panel_reload_growth_%1_%2_").arg(sizeName(small.employees), sizeName(large.employees));
    for (const auto &[kind, a, b] : {std::tuple<QString, const Figure &, const Figure &>{QStringLiteral("live"), small.live.toFrame, large.live.toFrame},
                                     std::tuple<QString, const Figure &, const Figure &>{QStringLiteral("first"), small.first.toFrame, large.first.toFrame}}) {
        std::printf("BENCH %s%s ratio=%.1f%s\n", qPrintable(name), qPrintable(kind), b.median() / a.median(),
                    kind == QLatin1String("live") ? " target=<=12" : "");
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
    parser.setApplicationDescription(QStringLiteral("Times the presence list's reload on the real panel against a real service."));
    parser.addHelpOption();
    QCommandLineOption runsOption(QStringLiteral("runs"), QStringLiteral("Rounds per size (at least 3)."),
                                  QStringLiteral("N"), QStringLiteral("5"));
    QCommandLineOption sizesOption(QStringLiteral("employees"), QStringLiteral("Organisation sizes, comma-separated."),
                                   QStringLiteral("LIST"), QStringLiteral("10000,100000"));
    QCommandLineOption cacheOption(QStringLiteral("cache"), QStringLiteral("Folder that keeps the seeded databases."),
                                   QStringLiteral("DIR"),
                                   QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("databases")));
    parser.addOptions({runsOption, sizesOption, cacheOption});
    parser.process(app);
    const int runs = std::max(3, parser.value(runsOption).toInt());

    QVector<SizeFigures> sizes;
    for (const QString &size : parser.value(sizesOption).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int employees = size.toInt();
        if (employees < 1 || employees > 100000) {
            std::fprintf(stderr, "--employees takes sizes from 1 to 100000, not \"%s\".\n", qPrintable(size));
            return 2;
        }
        sizes.append(SizeFigures{employees, {}, {}});
    }

    for (SizeFigures &size : sizes) {
        QString error;
        vorna::testing::ServiceRunner service(cachedDatabase(parser.value(cacheOption), size.employees, &error));
        service.setLogFile(home.filePath(QStringLiteral("service-%1.log").arg(size.employees)));
        if (service.database().isEmpty() || !service.start({QStringLiteral("--log-level"), QStringLiteral("warning")})) {
            std::fprintf(stderr, "%s\n", qPrintable(error.isEmpty() ? service.error() : error));
            return 1;
        }
        const LoginValues login{QStringLiteral("127.0.0.1"), QString::number(service.port()),
                                QStringLiteral("manager"), QStringLiteral("vorna-demo")};
        for (int i = 0; i < runs; ++i) {
            Reload first;
            Reload live;
            Round round(login, size.employees, service.pid());
            if (!round.run(&first, &live)) {
                std::fprintf(stderr, "Round %d with %d employees failed: %s\n", i + 1, size.employees,
                             qPrintable(round.error()));
                return 1;
            }
            std::printf("# %s round %d: first %.0f ms (script %.0f of %.0f ms GUI CPU; panel %.0f, service %.0f ms CPU), "
                        "live %.0f ms (script %.0f of %.0f ms GUI CPU; panel %.0f, render %.0f, service %.0f ms CPU; %d frames)\n",
                        qPrintable(sizeName(size.employees)), i + 1, first.frameMs, first.scriptCpuMs, first.guiCpuMs,
                        first.panelCpuMs, first.serviceCpuMs, live.frameMs, live.scriptCpuMs, live.guiCpuMs,
                        live.panelCpuMs, live.renderCpuMs, live.serviceCpuMs, live.frames);
            std::fflush(stdout);
            size.first.add(first);
            size.live.add(live);
        }
        printSize(size);
    }
    if (sizes.size() >= 2)
        printGrowth(sizes.first(), sizes.last());
    return 0;
}

