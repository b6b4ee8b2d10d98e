#include "frameprobe.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QQuickWindow>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

FrameProbe::FrameProbe(QQuickWindow *window, const QElapsedTimer &clock)
    : m_window(window), m_clock(clock)
{
    connect(window, &QQuickWindow::beforeSynchronizing, this, &FrameProbe::onSync, Qt::DirectConnection);
    connect(window, &QQuickWindow::frameSwapped, this, &FrameProbe::onSwapped, Qt::DirectConnection);
}

void FrameProbe::arm()
{
    m_swappedAt = -1;
    m_synced = false;
    m_armed = true;
    m_window->update();
}

qint64 FrameProbe::waitArmed()
{
    QEventLoop loop;
    m_loop = &loop;
    QTimer::singleShot(FrameTimeoutMs, &loop, &QEventLoop::quit);
    if (m_swappedAt < 0)
        loop.exec();
    m_loop = nullptr;
    m_armed = false;
    return m_swappedAt;
}

qint64 FrameProbe::nextFrame()
{
    arm();
    return waitArmed();
}

void FrameProbe::settle(int frames)
{
    for (int i = 0; i < frames; ++i)
        nextFrame();
    QCoreApplication::processEvents();
}

void FrameProbe::wake()
{
    // A wake-up left over from an earlier wait finds no frame recorded and is ignored.
    if (m_loop && m_swappedAt >= 0)
        m_loop->quit();
}

void FrameProbe::onSync()
{
    if (m_armed)
        m_synced = true;
}

void FrameProbe::onSwapped()
{
    if (!m_synced || !m_armed.exchange(false))
        return;
    m_swappedAt = m_clock.nsecsElapsed();
    QMetaObject::invokeMethod(this, "wake", Qt::QueuedConnection);
}

qint64 threadCpuNs()
{
    timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double msSince(qint64 startNs, qint64 endNs)
{
    return double(endNs - startNs) / 1e6;
}

double Figure::median() const
{
    QVector<double> v = values;
    std::sort(v.begin(), v.end());
    const int n = v.size();
    if (n == 0)
        return 0;
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Figure::min() const
{
    return values.isEmpty() ? 0 : *std::min_element(values.begin(), values.end());
}

double Figure::max() const
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

void printFigure(const QString &name, const Figure &f, const QString &extra)
{
    std::printf("BENCH %s median=%.1fms min=%.1f max=%.1f%s\n", qPrintable(name), f.median(), f.min(),
                f.max(), qPrintable(extra));
    std::fflush(stdout);
}
