#pragma once
// Shared by every benchmark program: the figures of repeated runs, the BENCH lines that
// bench/run.sh reads, and the machine's load beside them.

#include <QByteArray>
#include <QString>
#include <QVector>

#include <vector>

namespace Bench {

struct Stats
{
    double median = 0;
    double min = 0;
    double max = 0;
};

Stats stats(QVector<double> samples);

// Prints "BENCH <name> median=<v><unit> min=<v> max=<v> [ratio=<v>] [target=<text>]".
// A negative ratio leaves the ratio out.
void print(const QString &name, const Stats &s, const QString &unit, double ratio = -1,
           const QString &target = QString());

// The value below which a share `p` (0 to 1) of `values` lie; 0 for none.
double percentile(std::vector<double> values, double p);

// The load averages of the last 1, 5 and 15 minutes, as "0.52/0.61/0.70".
QString loadAverage();

// Writes `bytes` to a new file at `path`; false when not all of them were written.
bool writeFile(const QString &path, const QByteArray &bytes);

} // namespace Bench
