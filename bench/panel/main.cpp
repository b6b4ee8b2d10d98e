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

#include "frameprobe.h"
#include "paneldriver.h"
#include "panelsteps.h"
#include "support/servicerunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <QFile>

#include <atomic>
#include <cstdio>
#include <memory>

// Qt's hooks around every signal emission (qobject_p.h, exported by QtCore but not in its public
// headers). The signal callbacks get the signal's index among the class's signals.
struct QSignalSpyCallbackSet
{
    typedef void (*BeginCallback)(QObject *caller, int signal_or_method_index, void **argv);
    typedef void (*EndCallback)(QObject *caller, int signal_or_method_index);
    BeginCallback signal_begin_callback, slot_begin_callback;
    EndCallback signal_end_callback, slot_end_callback;
};
Q_CORE_EXPORT void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet *callback_set);

namespace {

constexpr int LoadTimeoutMs = 300000;
// The page reloads live at most once per this gap.
constexpr int LiveGapMs = 2000;
// Time for the list to lay out after a scroll, before its scroll bar is asked whether it is idle.
constexpr int ScrollSettleMs = 300;
// One row in this many has its handler timed.
constexpr int ScriptSampleEvery = 8;

// The signal's index among all signals of its class and its bases, as the spy callbacks get it.
int signalIndex(const QMetaObject *meta, const char *signature)
{
    const int method = meta->indexOfSignal(QMetaObject::normalizedSignature(signature).constData());
    int index = 0;
    for (int i = 0; i < method; ++i)
        index += meta->method(i).methodType() == QMetaMethod::Signal ? 1 : 0;
    return method < 0 ? -1 : index;
}

// CPU time of all threads of a process so far (the scheduler's own account, in ns), or 0
// when the process is gone. With `renderOnly`, of the scene graph's render thread and Mesa's
// software rasteriser threads only.
qint64 processCpuNs(qint64 pid, bool renderOnly = false)
{
    qint64 total = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (renderOnly) {
            QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
            const QByteArray name = comm.open(QIODevice::ReadOnly) ? comm.readLine().trimmed() : QByteArray();
            if (!name.startsWith("QSGRenderThread") && !name.startsWith("llvmpipe"))
                continue;
        }
        QFile schedstat(tasks.filePath(task + QStringLiteral("/schedstat")));
        if (schedstat.open(QIODevice::ReadOnly))
            total += schedstat.readLine().split(' ').value(0).toLongLong();
    }
    return total;
}

struct Reload
{
    double handledMs = 0;
    double frameMs = -1;
    double guiCpuMs = 0;
    double panelCpuMs = 0;
    double serviceCpuMs = 0;
    double renderCpuMs = 0;
    double scriptCpuMs = 0;
    int frames = 0;
    int rows = 0;
};

// Times one presence answer on the GUI thread. One probe per process: the spy hooks are global.
class ReloadProbe : public QObject
{
    Q_OBJECT

public:
    ReloadProbe(QQuickWindow *window, QObject *client, qint64 servicePid)
        : m_client(client), m_servicePid(servicePid), m_frames(window, m_clock)
    {
        const QMetaObject *meta = client->metaObject();
        m_beginIndex = signalIndex(meta, "dbPresenceResponseBegin()");
        m_rowIndex = signalIndex(meta, "dbPresenceResponse(QString,QString,QString,QDateTime,bool,QString,QString,QByteArray,QString,int)");
        m_endIndex = signalIndex(meta, "dbPresenceResponseEnd()");
        m_clock.start();
        s_probe = this;
        static QSignalSpyCallbackSet hooks{&ReloadProbe::signalBegins, nullptr, &ReloadProbe::signalEnds, nullptr};
        qt_register_signal_spy_callbacks(&hooks);
        // Every batch of rows, and Begin and End, reach the client as a queued call.
        client->installEventFilter(this);
        connect(window, &QQuickWindow::frameSwapped, this, [this] { ++m_framesSwapped; }, Qt::DirectConnection);
    }

    ~ReloadProbe() override
    {
        qt_register_signal_spy_callbacks(nullptr);
        s_probe = nullptr;
    }

    // The next answer is timed.
    void arm()
    {
        m_run = Reload();
        m_sampledScriptMs = 0;
        m_sampledRows = 0;
        m_state = State::Armed;
    }

    // A live reload puts the new rows in place after End is over: the first frame that counts is
    // the one after `page` has done so.
    void followLiveReload(QObject *page)
    {
        connect(page, SIGNAL(liveLoadingChanged()), this, SLOT(rowsInPlace()), Qt::UniqueConnection);
    }

    // Waits for the armed answer's first frame; false when none came within the time-out.
    bool wait(Reload *result)
    {
        // Sleeps between events: a polling loop would take the cores the service and the
        // client library's worker need, and count in the GUI thread's time.
        QTimer timeout;
        timeout.setSingleShot(true);
        timeout.start(LoadTimeoutMs);
        while (m_state != State::Ended && timeout.isActive())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (m_state != State::Ended)
            return false;
        const qint64 swapped = m_frames.waitArmed();
        m_state = State::Idle;
        if (swapped < 0)
            return false;
        m_run.frameMs = msSince(m_beginNs, swapped);
        m_run.guiCpuMs = msSince(m_beginCpu, threadCpuNs());
        m_run.panelCpuMs = msSince(m_beginPanelCpu, processCpuNs(QCoreApplication::applicationPid()));
        m_run.serviceCpuMs = msSince(m_beginServiceCpu, processCpuNs(m_servicePid));
        m_run.renderCpuMs = msSince(m_beginRenderCpu, processCpuNs(QCoreApplication::applicationPid(), true));
        m_run.frames = m_framesSwapped - m_beginFrames;
        *result = m_run;
        return true;
    }

private slots:
    void rowsInPlace()
    {
        if (m_state == State::Ended && !sender()->property("liveLoading").toBool())
            m_frames.arm();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_client && event->type() == QEvent::MetaCall && m_state != State::Idle) {
            m_eventNs = m_clock.nsecsElapsed();
            m_eventCpu = threadCpuNs();
            m_lastRowEndCpu = 0;
        }
        return false;
    }

private:
    enum class State { Idle, Armed, Streaming, Ended };

    static bool ours(QObject *caller)
    {
        return s_probe && caller == s_probe->m_client && QThread::currentThread() == s_probe->thread();
    }

    static void signalBegins(QObject *caller, int index, void **)
    {
        if (ours(caller))
            s_probe->begins(index);
    }

    static void signalEnds(QObject *caller, int index)
    {
        if (ours(caller))
            s_probe->ends(index);
    }

    void begins(int index)
    {
        if (index == m_beginIndex && m_state == State::Armed) {
            m_beginNs = m_eventNs;
            m_beginCpu = m_eventCpu;
            m_beginPanelCpu = processCpuNs(QCoreApplication::applicationPid());
            m_beginServiceCpu = processCpuNs(m_servicePid);
            m_beginRenderCpu = processCpuNs(QCoreApplication::applicationPid(), true);
            m_beginFrames = m_framesSwapped;
            m_state = State::Streaming;
        } else if (index == m_rowIndex && m_state == State::Streaming) {
            if (m_run.rows % ScriptSampleEvery == 0) {
                m_sampledScriptMs += msSince(std::max(m_lastRowEndCpu, m_eventCpu), threadCpuNs());
                ++m_sampledRows;
            }
            ++m_run.rows;
        }
    }

    void ends(int index)
    {
        if (index == m_rowIndex && m_state == State::Streaming) {
            // Only the row before a timed one needs its end.
            if (m_run.rows % ScriptSampleEvery == 0)
                m_lastRowEndCpu = threadCpuNs();
        } else if (index == m_endIndex && m_state == State::Streaming) {
            m_run.handledMs = msSince(m_beginNs, m_clock.nsecsElapsed());
            m_run.scriptCpuMs = m_sampledRows > 0 ? m_sampledScriptMs * m_run.rows / m_sampledRows : 0;
            m_frames.arm();
            m_state = State::Ended;
        }
    }

    static ReloadProbe *s_probe;
    QObject *m_client;
    qint64 m_servicePid;
    QElapsedTimer m_clock;
    FrameProbe m_frames;
    int m_beginIndex = -1;
    int m_rowIndex = -1;
    int m_endIndex = -1;
    State m_state = State::Idle;
    qint64 m_eventNs = 0;
    qint64 m_eventCpu = 0;
    qint64 m_lastRowEndCpu = 0;
    qint64 m_beginNs = 0;
    qint64 m_beginCpu = 0;
    qint64 m_beginPanelCpu = 0;
    qint64 m_beginServiceCpu = 0;
    qint64 m_beginRenderCpu = 0;
    std::atomic<int> m_framesSwapped{0};
    int m_beginFrames = 0;
    double m_sampledScriptMs = 0;
    int m_sampledRows = 0;
    Reload m_run;
};

ReloadProbe *ReloadProbe::s_probe = nullptr;

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
        if (!m_steps.waitForPage(QStringLiteral("PageList")) || !m_steps.waitForPresence() || !checkRows(*first))
            return false;

        // A reader part-way down the list; a live reload leaves the view where it was.
        m_driver.evaluateInPage(QStringLiteral("listView.positionViewAtIndex(%1, ListView.Beginning)").arg(m_employees / 2));
        const double contentY = m_driver.evaluateInPage(QStringLiteral("listView.contentY")).toDouble();
        // The scroll above shows the scroll bar once the view has laid out, and the bar then fades
        // out over 0.65 s at full frame rate: a reload timed meanwhile would count the fade's
        // frames (a dozen, 70 ms of render CPU on a software rasteriser) as its own.
        QTest::qWait(ScrollSettleMs);
        if (!m_driver.waitForTrue(m_driver.currentPage(),
                                  QStringLiteral("live && !liveGap.running && !liveLoading && !sb1.active"
                                                 " && sb1.contentItem.opacity === 0"),
                                  LiveGapMs * 3))
            return false;
        probe.followLiveReload(m_driver.currentPage());
        probe.arm();
        QMetaObject::invokeMethod(m_driver.serviceClient(), "presenceChanged");
        if (!probe.wait(live))
            return m_driver.fail(QStringLiteral("The live reload showed no frame in time."));
        if (!checkRows(*live))
            return false;
        const double after = m_driver.evaluateInPage(QStringLiteral("listView.contentY")).toDouble();
        if (qAbs(after - contentY) > 1)
            std::fprintf(stderr, "note: the live reload moved the list from y=%.0f to y=%.0f\n", contentY, after);
        return m_steps.goBack() && m_steps.waitForPage(QStringLiteral("PageLogin"));
    }

    QString error() const { return m_driver.lastError(); }

private:
    bool checkRows(const Reload &reload)
    {
        const int shown = m_driver.evaluateInPage(QStringLiteral("listView.count")).toInt();
        if (reload.rows != m_employees || shown != m_employees)
            return m_driver.fail(QStringLiteral("The answer had %1 rows and the list shows %2; the demo has %3 employees.")
                                     .arg(reload.rows).arg(shown).arg(m_employees));
        return true;
    }

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

#include "main.moc"
