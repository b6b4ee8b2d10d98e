#include "ops/metrics.h"

#include <cassert>
#include <cmath>

namespace vorna::service {

namespace {

// Label values escape backslash, double quote and line feed, as the format requires.
QByteArray escapedLabel(const QString &value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out;
}

QByteArray labelSet(const QStringList &names, const QStringList &values, const QByteArray &extra = {})
{
    QByteArrayList pairs;
    for (int i = 0; i < names.size(); ++i)
        pairs << names.at(i).toUtf8() + "=\"" + escapedLabel(values.value(i)) + '"';
    if (!extra.isEmpty())
        pairs << extra;
    return pairs.isEmpty() ? QByteArray() : '{' + pairs.join(',') + '}';
}

QByteArray number(double value)
{
    if (std::isinf(value))
        return "+Inf";
    return QByteArray::number(value, 'g', 12);
}

const char *typeName(MetricsRegistry::Kind kind)
{
    switch (kind) {
    case MetricsRegistry::Kind::Counter: return "counter";
    case MetricsRegistry::Kind::Gauge: return "gauge";
    case MetricsRegistry::Kind::Histogram: return "histogram";
    }
    return "untyped";
}

} // namespace

void Histogram::observe(double seconds)
{
    for (std::size_t i = 0; i < Bounds.size(); ++i) {
        if (seconds <= Bounds[i]) {
            m_buckets[i].fetch_add(1, std::memory_order_relaxed);
            break;
        }
    }
    m_count.fetch_add(1, std::memory_order_relaxed);
    m_sumMicros.fetch_add(std::uint64_t(std::llround(std::max(0.0, seconds) * 1e6)), std::memory_order_relaxed);
}

MetricsRegistry &MetricsRegistry::instance()
{
    static MetricsRegistry registry;
    return registry;
}

MetricsRegistry::Series &MetricsRegistry::series(Kind kind, const char *name, const char *help,
                                                  const QStringList &labelNames, const QStringList &labels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Family &family = m_families[QByteArray(name)];
    if (family.help.isEmpty()) {
        family.kind = kind;
        family.help = help;
        family.labelNames = labelNames;
    }
    assert(family.kind == kind && family.labelNames == labelNames);
    std::unique_ptr<Series> &slot = family.series[labels];
    if (!slot)
        slot = std::make_unique<Series>();
    return *slot;
}

Counter &MetricsRegistry::counter(const char *name, const char *help, const QStringList &labelNames,
                                  const QStringList &labels)
{
    return series(Kind::Counter, name, help, labelNames, labels).counter;
}

Gauge &MetricsRegistry::gauge(const char *name, const char *help, const QStringList &labelNames,
                              const QStringList &labels)
{
    return series(Kind::Gauge, name, help, labelNames, labels).gauge;
}

Histogram &MetricsRegistry::histogram(const char *name, const char *help, const QStringList &labelNames,
                                      const QStringList &labels)
{
    return series(Kind::Histogram, name, help, labelNames, labels).histogram;
}

QByteArray MetricsRegistry::render() const
{
    QByteArray out;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &[name, family] : m_families)
        renderFamily(&out, name, family);
    return out;
}

void MetricsRegistry::renderFamily(QByteArray *out, const QByteArray &name, const Family &family)
{
    *out += "# HELP " + name + ' ' + family.help + '\n';
    *out += "# TYPE " + name + ' ' + typeName(family.kind) + '\n';
    for (const auto &[labels, series] : family.series) {
        switch (family.kind) {
        case Kind::Counter:
            *out += name + labelSet(family.labelNames, labels) + ' ' + QByteArray::number(qulonglong(series->counter.value())) + '\n';
            break;
        case Kind::Gauge:
            *out += name + labelSet(family.labelNames, labels) + ' ' + QByteArray::number(qlonglong(series->gauge.value())) + '\n';
            break;
        case Kind::Histogram: {
            const Histogram &histogram = series->histogram;
            std::uint64_t cumulative = 0;
            for (std::size_t i = 0; i < Histogram::Bounds.size(); ++i) {
                cumulative += histogram.bucket(i);
                *out += name + "_bucket" + labelSet(family.labelNames, labels, "le=\"" + number(Histogram::Bounds[i]) + '"')
                      + ' ' + QByteArray::number(qulonglong(cumulative)) + '\n';
            }
            // Read once: observations landing meanwhile must not make +Inf smaller than a bucket.
            const std::uint64_t count = std::max(cumulative, histogram.count());
            *out += name + "_bucket" + labelSet(family.labelNames, labels, "le=\"+Inf\"") + ' '
                  + QByteArray::number(qulonglong(count)) + '\n';
            *out += name + "_sum" + labelSet(family.labelNames, labels) + ' ' + number(histogram.sum()) + '\n';
            *out += name + "_count" + labelSet(family.labelNames, labels) + ' ' + QByteArray::number(qulonglong(count)) + '\n';
            break;
        }
        }
    }
}

} // namespace vorna::service
