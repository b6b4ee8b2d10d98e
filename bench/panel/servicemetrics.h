#pragma once
// What the panel benchmarks read off the service and the process: a counter of the service's
// Prometheus endpoint (`serve --metrics-listen`) and resident memory.

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace vorna::bench {

// A port of 127.0.0.1 that was free a moment ago, for a listener the service opens itself.
quint16 freeLoopbackPort();

// The value of the sample `name` in a Prometheus text exposition, summed over its labels;
// nothing when the exposition has no such sample (a counter of another name that begins with
// `name` does not count).
std::optional<double> metricValue(const QByteArray &exposition, const QByteArray &name);

// metricValue() of GET /metrics on 127.0.0.1:`port`; nothing when the endpoint does not answer
// 200 or lacks the sample.
std::optional<double> scrapeMetric(quint16 port, const QByteArray &name);

// VmRSS of the process in MB, from /proc; -1 when it is gone.
double residentMb(qint64 pid);

} // namespace vorna::bench
