#include "reloadprobe.h"

#include "paneldriver.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QMetaMethod>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>

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

} // namespace

qint64 processCpuNs(qint64 pid, bool renderOnly)
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

ReloadProbe *ReloadProbe::s_probe = nullptr;

ReloadProbe::ReloadProbe(QQuickWindow *window, QObject *client, qint64 servicePid)
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

ReloadProbe::~ReloadProbe()
{
    qt_register_signal_spy_callbacks(nullptr);
    s_probe = nullptr;
}

void ReloadProbe::arm()
{
    m_run = Reload();
    m_sampledScriptMs = 0;
    m_sampledRows = 0;
    m_pressedNs = -1;
    m_state = State::Armed;
}

void ReloadProbe::markPressed()
{
    m_pressedNs = m_clock.nsecsElapsed();
}

void ReloadProbe::followLiveReload(QObject *page)
{
    connect(page, SIGNAL(liveLoadingChanged()), this, SLOT(rowsInPlace()), Qt::UniqueConnection);
}

bool ReloadProbe::wait(Reload *result)
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
    if (m_pressedNs >= 0)
        m_run.pressedMs = msSince(m_pressedNs, swapped);
    m_run.guiCpuMs = msSince(m_beginCpu, threadCpuNs());
    m_run.panelCpuMs = msSince(m_beginPanelCpu, processCpuNs(QCoreApplication::applicationPid()));
    m_run.serviceCpuMs = msSince(m_beginServiceCpu, processCpuNs(m_servicePid));
    m_run.renderCpuMs = msSince(m_beginRenderCpu, processCpuNs(QCoreApplication::applicationPid(), true));
    m_run.frames = m_framesSwapped - m_beginFrames;
    *result = m_run;
    return true;
}

void ReloadProbe::rowsInPlace()
{
    if (m_state == State::Ended && !sender()->property("liveLoading").toBool())
        m_frames.arm();
}

bool ReloadProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_client && event->type() == QEvent::MetaCall && m_state != State::Idle) {
        m_eventNs = m_clock.nsecsElapsed();
        m_eventCpu = threadCpuNs();
        m_lastRowEndCpu = 0;
    }
    return false;
}

bool ReloadProbe::ours(QObject *caller)
{
    return s_probe && caller == s_probe->m_client && QThread::currentThread() == s_probe->thread();
}

void ReloadProbe::signalBegins(QObject *caller, int index, void **)
{
    if (ours(caller))
        s_probe->begins(index);
}

void ReloadProbe::signalEnds(QObject *caller, int index)
{
    if (ours(caller))
        s_probe->ends(index);
}

void ReloadProbe::begins(int index)
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

void ReloadProbe::ends(int index)
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

bool checkRows(PanelDriver &driver, const Reload &reload, int employees)
{
    const int shown = driver.evaluateInPage(QStringLiteral("listView.count")).toInt();
    if (reload.rows != employees || shown != employees)
        return driver.fail(QStringLiteral("The answer had %1 rows and the list shows %2; the organisation has %3 employees.")
                               .arg(reload.rows).arg(shown).arg(employees));
    return true;
}

bool timeLiveReload(PanelDriver &driver, ReloadProbe &probe, int employees, Reload *live)
{
    // A reader part-way down the list; a live reload leaves the view where it was.
    driver.evaluateInPage(QStringLiteral("listView.positionViewAtIndex(%1, ListView.Beginning)").arg(employees / 2));
    const double contentY = driver.evaluateInPage(QStringLiteral("listView.contentY")).toDouble();
    // The scroll above shows the scroll bar once the view has laid out, and the bar then fades
    // out over 0.65 s at full frame rate: a reload timed meanwhile would count the fade's
    // frames (a dozen, 70 ms of render CPU on a software rasteriser) as its own.
    QTest::qWait(ScrollSettleMs);
    if (!driver.waitForTrue(driver.currentPage(),
                            QStringLiteral("live && !liveGap.running && !liveLoading && !sb1.active"
                                           " && sb1.contentItem.opacity === 0"),
                            LiveGapMs * 3))
        return false;
    probe.followLiveReload(driver.currentPage());
    probe.arm();
    QMetaObject::invokeMethod(driver.serviceClient(), "presenceChanged");
    if (!probe.wait(live))
        return driver.fail(QStringLiteral("The live reload showed no frame in time."));
    const double after = driver.evaluateInPage(QStringLiteral("listView.contentY")).toDouble();
    if (qAbs(after - contentY) > 1)
        std::fprintf(stderr, "note: the live reload moved the list from y=%.0f to y=%.0f\n", contentY, after);
    return true;
}
