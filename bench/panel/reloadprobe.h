#pragma once
// What the real panel's benchmarks share: the probe that times one presence answer on the GUI
// thread, from dbPresenceResponseBegin (or from a press of Connect) to the first frame after
// End, with the CPU the panel, its render threads and the service spent meanwhile; and the live
// reload that a panel on the list page goes through.

#include "frameprobe.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>

class PanelDriver;
class QQuickWindow;

// CPU time of all threads of a process so far (the scheduler's own account, in ns), or 0
// when the process is gone. With `renderOnly`, of the scene graph's render thread and Mesa's
// software rasteriser threads only.
qint64 processCpuNs(qint64 pid, bool renderOnly = false);

struct Reload
{
    double pressedMs = -1; // from the press of Connect to the frame, when a press was marked
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
    ReloadProbe(QQuickWindow *window, QObject *client, qint64 servicePid);
    ~ReloadProbe() override;

    // The next answer is timed.
    void arm();
    // After arm(): the user pressed a button that leads to the answer (Connect); its time to
    // the frame is Reload::pressedMs.
    void markPressed();
    // A live reload puts the new rows in place after End is over: the first frame that counts is
    // the one after `page` has done so.
    void followLiveReload(QObject *page);
    // Waits for the armed answer's first frame; false when none came within the time-out.
    bool wait(Reload *result);

private slots:
    void rowsInPlace();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class State { Idle, Armed, Streaming, Ended };

    static bool ours(QObject *caller);
    static void signalBegins(QObject *caller, int index, void **);
    static void signalEnds(QObject *caller, int index);
    void begins(int index);
    void ends(int index);

    static ReloadProbe *s_probe;
    QObject *m_client;
    qint64 m_servicePid;
    QElapsedTimer m_clock;
    FrameProbe m_frames;
    int m_beginIndex = -1;
    int m_rowIndex = -1;
    int m_endIndex = -1;
    State m_state = State::Idle;
    qint64 m_pressedNs = -1;
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

// False (with the driver's lastError()) unless the answer had `employees` rows and the list
// shows them all.
bool checkRows(PanelDriver &driver, const Reload &reload, int employees);

// On the list page, loaded: scrolls half-way down as a reader would, waits until the page may
// reload live again, has the client announce a presence change and times the reload that
// follows. False with the driver's lastError() when no frame came; the rows are the caller's
// to check.
bool timeLiveReload(PanelDriver &driver, ReloadProbe &probe, int employees, Reload *live);
