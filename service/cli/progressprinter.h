#pragma once
// Progress of long admin work on stderr. On a terminal one line is rewritten in place; to a
// pipe or a file, plain lines at each phase's start, every tenth of the way, and its end.

#include "storage/storage.h"

#include <QString>

#include <cstdio>

namespace vorna::service {

class ProgressPrinter
{
public:
    explicit ProgressPrinter(FILE *stream = stderr);
    // For tests: choose the form instead of asking the stream.
    ProgressPrinter(FILE *stream, bool terminal);

    void report(const QString &phase, qint64 done, qint64 total);
    // Ends a rewritten line so later output starts on a fresh one.
    void finish();
    Progress callback();

private:
    void print(const QString &text);

    FILE *m_stream;
    bool m_terminal;
    QString m_phase;
    int m_lastStep = -1;
    bool m_lineOpen = false;
};

} // namespace vorna::service
