#include "cli/progressprinter.h"

#include <unistd.h>

namespace vorna::service {

namespace {

// Tenths on a pipe, hundredths on a terminal: enough to see it move, not a flood.
int stepOf(qint64 done, qint64 total, int steps)
{
    if (total <= 0)
        return steps;
    return int(std::min<qint64>(done, total) * steps / total);
}

} // namespace

ProgressPrinter::ProgressPrinter(FILE *stream)
    : ProgressPrinter(stream, isatty(fileno(stream)) == 1)
{
}

ProgressPrinter::ProgressPrinter(FILE *stream, bool terminal)
    : m_stream(stream)
    , m_terminal(terminal)
{
}

void ProgressPrinter::report(const QString &phase, qint64 done, qint64 total)
{
    if (phase != m_phase) {
        finish();
        m_phase = phase;
        m_lastStep = -1;
    }
    const int steps = m_terminal ? 100 : 10;
    const int step = stepOf(done, total, steps);
    if (step == m_lastStep)
        return;
    m_lastStep = step;
    const QString line = total > 0
        ? QStringLiteral("%1: %2 of %3 (%4%)").arg(phase).arg(done).arg(total).arg(step * 100 / steps)
        : QStringLiteral("%1: done").arg(phase);
    print(line);
}

void ProgressPrinter::finish()
{
    if (m_lineOpen) {
        std::fputs("\n", m_stream);
        std::fflush(m_stream);
        m_lineOpen = false;
    }
}

Progress ProgressPrinter::callback()
{
    return [this](const QString &phase, qint64 done, qint64 total) { report(phase, done, total); };
}

void ProgressPrinter::print(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (m_terminal) {
        // Back to the line start, write, clear what a longer earlier line left behind.
        std::fprintf(m_stream, "\r%s\x1b[K", bytes.constData());
        m_lineOpen = true;
    } else {
        std::fprintf(m_stream, "%s\n", bytes.constData());
    }
    std::fflush(m_stream);
}

} // namespace vorna::service
