#pragma once
// What the rendering benchmarks share: a probe for the first frame after a moment, the GUI
// thread's CPU clock, and figures over several rounds printed as BENCH lines for bench/run.sh.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>

class QEventLoop;
class QQuickWindow;

// Tells when the window has swapped a frame that was synchronised after the probe was armed.
// With the threaded render loop a frame synchronised earlier may still be swapped after a long
// burst; only a frame whose sync comes after the arming counts. Both signals come from the
// render thread, so the time is taken there and the waiting loop is woken by a queued call.
class FrameProbe : public QObject
{
    Q_OBJECT

public:
    static constexpr int FrameTimeoutMs = 10000;

    FrameProbe(QQuickWindow *window, const QElapsedTimer &clock);

    // Asks for a frame; the next one synchronised from now on counts. Safe inside a handler.
    void arm();
    // Waits for the frame arm() asked for; the clock reading at its swap, -1 on time-out.
    qint64 waitArmed();
    qint64 nextFrame();
    // Lets pending work (transitions, image loads) finish, frame by frame.
    void settle(int frames);

private slots:
    void wake();

private:
    void onSync();
    void onSwapped();

    QQuickWindow *m_window;
    const QElapsedTimer &m_clock;
    std::atomic<bool> m_armed { false };
    std::atomic<bool> m_synced { false };
    std::atomic<qint64> m_swappedAt { -1 };
    QEventLoop *m_loop = nullptr;
};

// CPU time of the calling thread. Other programs on a busy machine stretch the wall clock but
// not this, so shares are taken from it.
qint64 threadCpuNs();
double msSince(qint64 startNs, qint64 endNs);

struct Figure
{
    QVector<double> values;

    double median() const;
    double min() const;
    double max() const;
};

// "BENCH <name> median=..ms min=.. max=..<extra>", the line bench/run.sh tabulates.
void printFigure(const QString &name, const Figure &f, const QString &extra);
