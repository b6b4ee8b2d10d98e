#pragma once
// The service's own metrics registry: counters, gauges and fixed-bucket histograms with labels,
// rendered in the Prometheus text format. A series is created once under a lock and then
// updated with atomics only, so callers keep the reference and the hot path takes no lock.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace vorna::service {

class Counter
{
public:
    void add(std::uint64_t amount = 1) { m_value.fetch_add(amount, std::memory_order_relaxed); }
    std::uint64_t value() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> m_value{0};
};

class Gauge
{
public:
    void add(std::int64_t amount) { m_value.fetch_add(amount, std::memory_order_relaxed); }
    void set(std::int64_t value) { m_value.store(value, std::memory_order_relaxed); }
    std::int64_t value() const { return m_value.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> m_value{0};
};

// Durations in seconds; the sum is kept in microseconds so it stays an atomic integer.
class Histogram
{
public:
    // Upper bounds from 1 ms to 10 s: RPCs and queries of this service fall in it.
    static constexpr std::array<double, 12> Bounds{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                   0.1, 0.25, 0.5, 1, 2.5, 10};
    void observe(double seconds);
    std::uint64_t count() const { return m_count.load(std::memory_order_relaxed); }
    double sum() const { return double(m_sumMicros.load(std::memory_order_relaxed)) / 1e6; }
    // Observations at or below Bounds[index] (not cumulative).
    std::uint64_t bucket(std::size_t index) const { return m_buckets[index].load(std::memory_order_relaxed); }

private:
    std::array<std::atomic<std::uint64_t>, Bounds.size()> m_buckets{};
    std::atomic<std::uint64_t> m_count{0};
    std::atomic<std::uint64_t> m_sumMicros{0};
};

class MetricsRegistry
{
public:
    enum class Kind { Counter, Gauge, Histogram };

    // The process's registry, which the server, the storage hook and the log feed.
    static MetricsRegistry &instance();

    // `labels` are values in the order of the family's label names. Families are declared on
    // first use; asking for a known name with another kind or other labels is a programming error.
    Counter &counter(const char *name, const char *help, const QStringList &labelNames = {},
                     const QStringList &labels = {});
    Gauge &gauge(const char *name, const char *help, const QStringList &labelNames = {},
                 const QStringList &labels = {});
    Histogram &histogram(const char *name, const char *help, const QStringList &labelNames = {},
                         const QStringList &labels = {});

    // Every family in the text exposition format, version 0.0.4.
    QByteArray render() const;

private:
    struct Series
    {
        Counter counter;
        Gauge gauge;
        Histogram histogram;
    };
    struct Family
    {
        Kind kind;
        QByteArray help;
        QStringList labelNames;
        std::map<QStringList, std::unique_ptr<Series>> series;
    };

    Series &series(Kind kind, const char *name, const char *help, const QStringList &labelNames,
                   const QStringList &labels);
    static void renderFamily(QByteArray *out, const QByteArray &name, const Family &family);

    mutable std::mutex m_mutex;
    std::map<QByteArray, Family> m_families;
};

} // namespace vorna::service
