#include "benchfigures.h"

#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace Bench {

Stats stats(QVector<double> samples)
{
    Stats s;
    if (samples.isEmpty())
        return s;
    std::sort(samples.begin(), samples.end());
    const int n = samples.size();
    s.median = n % 2 ? samples.at(n / 2) : (samples.at(n / 2 - 1) + samples.at(n / 2)) / 2;
    s.min = samples.first();
    s.max = samples.last();
    return s;
}

void print(const QString &name, const Stats &s, const QString &unit, double ratio, const QString &target)
{
    QString line;
    QTextStream out(&line);
    out.setRealNumberNotation(QTextStream::FixedNotation);
    out.setRealNumberPrecision(3);
    out << "BENCH " << name << " median=" << s.median << unit << " min=" << s.min << " max=" << s.max;
    if (ratio >= 0)
        out << " ratio=" << ratio;
    if (!target.isEmpty())
        out << " target=" << target;
    out.flush();
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, size_t(p * double(values.size()))));
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().split(' ').mid(0, 3).join('/'))
                                          : QStringLiteral("?");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace Bench
