// serve: runs the attendance service until SIGTERM or SIGINT.

#include "cli/command.h"
#include "cli/staledays.h"
#include "serve/descriptorlimit.h"
#include "ops/eventlog.h"
#include "ops/metricsserver.h"
#include "ops/readiness.h"
#include "ops/rpcmetrics.h"
#include "ops/serverconfig.h"
#include "serve/serviceserver.h"
#include "serve/shutdownsignal.h"

#include <QCoreApplication>

namespace vorna::service {

namespace {

class Serve final : public Command
{
public:
    QStringList words() const override { return {QStringLiteral("serve")}; }
    QString summary() const override { return QStringLiteral("Runs the attendance service until SIGTERM or SIGINT."); }

    QList<QCommandLineOption> options() const override
    {
        return {m_listen, m_sessionIdle, m_heartbeat, m_callTimeout, m_staleDays, m_tlsCert, m_tlsKey, m_logLevel,
                m_maxConnections, m_maxConnectionsPerAddress, m_maxResetsPerAddress, m_maxSessionsPerUser, m_memoryQuota,
                m_metricsListen, m_healthInterval};
    }

    QString checkUsage(const QCommandLineParser &parser, const QStringList &) const override
    {
        ServerConfig config;
        return readConfig(parser, &config);
    }

    int run(const QCommandLineParser &parser, const QStringList &, Database &storage,
            CommandContext &context) override
    {
        // Before the server starts its threads, so they all inherit the mask.
        ShutdownSignal::blockInAllThreads();
        ServerConfig config;
        readConfig(parser, &config);
        EventLog::setThreshold(config.logLevel);
        fitConnectionsToDescriptors(&config);

        // The context holds the database locked against `restore` for as long as the process lives.
        QString error;
        collectServiceMetrics();
        ServiceServer server(storage, config);
        if (!server.start(&error))
            return context.fail(error, ExitListen);
        MetricsServer metrics;
        if (!config.metricsListen.isEmpty()) {
            if (!metrics.start(config.metricsListen, &error)) {
                server.shutdown();
                return context.fail(error, ExitListen);
            }
            EventLog::info("metrics", {{"address", metrics.address()}});
        }
        EventLog::info("listening", {{"address", server.address()},
                                     {"database", storage.describe()},
                                     {"schema", QString::number(storage.schemaVersion().value())},
                                     {"tls", config.tlsCertFile.isEmpty() ? QStringLiteral("off") : QStringLiteral("on")},
                                     {"version", QCoreApplication::applicationVersion()}});
        // Scripts and tests wait for this line to learn the address, the port chosen for ":0" included.
        context.out() << "listening on " << server.address() << Qt::endl;
        if (!config.metricsListen.isEmpty())
            context.out() << "metrics on http://" << metrics.address() << "/metrics" << Qt::endl;
        readiness::ready();

        ShutdownSignal signal([&server](const char *name) {
            EventLog::info("signal", {{"signal", QString::fromLatin1(name)}});
            readiness::stopping();
            server.shutdown();
        });
        server.wait();
        metrics.stop();
        EventLog::info("stopped");
        return ExitOk;
    }

private:
    // Raises the descriptor limit as far as allowed, and sizes the total connection cap by it
    // unless --max-connections set one.
    static void fitConnectionsToDescriptors(ServerConfig *config)
    {
        const long descriptors = raiseDescriptorLimit();
        const int fitting = connectionsWithin(descriptors);
        if (config->maxConnections == 0)
            config->maxConnections = fitting;
        EventLog::info("limits", {{"descriptors", QString::number(descriptors)},
                                  {"max_connections", QString::number(config->maxConnections)},
                                  {"max_connections_per_address", QString::number(config->maxConnectionsPerAddress)},
                                  {"max_resets_per_address", QString::number(config->maxResetsPerAddress)},
                                  {"memory_quota_mb", QString::number(config->memoryQuotaBytes >> 20)}});
        if (config->maxConnections > fitting)
            EventLog::warning("limits", {{"msg", QStringLiteral("--max-connections %1 is more than the descriptor limit "
                                                                "of %2 leaves room for; when descriptors run out, waiting "
                                                                "connections are closed. Raise LimitNOFILE=.")
                                                     .arg(config->maxConnections).arg(descriptors)}});
    }

    // The duration options and their ranges. Beyond them a value is surely a slip, and the
    // timers that take it in milliseconds or nanoseconds would overflow: a heartbeat of
    // 3000000h fired thousands of times a second.
    QString readDurations(const QCommandLineParser &parser, ServerConfig *config) const
    {
        using std::chrono::hours;
        using std::chrono::minutes;
        using std::chrono::seconds;
        const struct
        {
            const QCommandLineOption *option;
            seconds min;
            seconds max;
            seconds *target;
        } durations[] = {{&m_sessionIdle, minutes(1), hours(30 * 24), &config->sessionIdle},
                         {&m_heartbeat, seconds(1), hours(1), &config->heartbeat},
                         {&m_callTimeout, seconds(1), hours(1), &config->callTimeout},
                         {&m_healthInterval, seconds(1), minutes(10), &config->healthInterval}};
        for (const auto &duration : durations) {
            const QString value = parser.value(*duration.option);
            const QString name = duration.option->names().constFirst();
            if (!parseDuration(value, duration.target))
                return QStringLiteral("--%1 takes a duration such as 90s, 15m or 2h, not \"%2\".").arg(name, value);
            if (*duration.target < duration.min || *duration.target > duration.max)
                return QStringLiteral("--%1 takes a duration from %2 to %3, not \"%4\".")
                    .arg(name, durationText(duration.min), durationText(duration.max), value);
        }
        return {};
    }

    // In the largest whole unit the options take: 30s, 15m, 720h.
    static QString durationText(std::chrono::seconds duration)
    {
        const qint64 s = duration.count();
        if (s % 3600 == 0)
            return QStringLiteral("%1h").arg(s / 3600);
        return s % 60 == 0 ? QStringLiteral("%1m").arg(s / 60) : QStringLiteral("%1s").arg(s);
    }

    // The whole-number options and their ranges.
    QString readCounts(const QCommandLineParser &parser, ServerConfig *config) const
    {
        const struct
        {
            const QCommandLineOption *option;
            int min;
            int max;
            int *target;
        } counts[] = {{&m_maxConnectionsPerAddress, 1, MaxCount, &config->maxConnectionsPerAddress},
                      {&m_maxResetsPerAddress, 0, MaxCount, &config->maxResetsPerAddress},
                      {&m_maxSessionsPerUser, 1, MaxSessionsPerUser, &config->maxSessionsPerUser}};
        for (const auto &count : counts) {
            if (!parseBoundedInt(parser.value(*count.option), count.min, count.max, count.target))
                return QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\".")
                    .arg(count.option->names().constFirst()).arg(count.min).arg(count.max)
                    .arg(parser.value(*count.option));
        }
        // Unset, it follows the descriptor limit found at start-up.
        if (parser.isSet(m_maxConnections)
            && !parseBoundedInt(parser.value(m_maxConnections), 1, MaxCount, &config->maxConnections))
            return QStringLiteral("--max-connections takes a whole number from 1 to %1, not \"%2\".")
                .arg(MaxCount).arg(parser.value(m_maxConnections));
        if (!parseByteSize(parser.value(m_memoryQuota), &config->memoryQuotaBytes)
            || config->memoryQuotaBytes < MinMemoryQuota)
            return QStringLiteral("--memory-quota takes a size of at least 16M, such as 256M or 1G, not \"%1\".")
                .arg(parser.value(m_memoryQuota));
        return {};
    }

    static constexpr int MaxCount = 1000000;
    static constexpr int MaxSessionsPerUser = 10000;
    static constexpr qint64 MinMemoryQuota = 16LL * 1024 * 1024;

    // Fills `config` from the options; a sentence when one is unusable.
    QString readConfig(const QCommandLineParser &parser, ServerConfig *config) const
    {
        config->listen = parser.value(m_listen);
        const QString badAddress = checkListenAddress(config->listen);
        if (!badAddress.isEmpty())
            return badAddress;
        const QString badDuration = readDurations(parser, config);
        if (!badDuration.isEmpty())
            return badDuration;
        const QString badStaleDays = readStaleDays(parser.value(m_staleDays), &config->staleDays);
        if (!badStaleDays.isEmpty())
            return badStaleDays;
        config->tlsCertFile = parser.value(m_tlsCert);
        config->tlsKeyFile = parser.value(m_tlsKey);
        if (config->tlsCertFile.isEmpty() != config->tlsKeyFile.isEmpty())
            return QStringLiteral("Give both --tls-cert and --tls-key for TLS, or neither.");
        if (!EventLog::parseLevel(parser.value(m_logLevel), &config->logLevel))
            return QStringLiteral("--log-level takes debug, info, warning or error.");
        config->metricsListen = parser.value(m_metricsListen);
        if (!config->metricsListen.isEmpty()) {
            const QString badMetrics = checkListenAddress(config->metricsListen);
            if (!badMetrics.isEmpty())
                return QStringLiteral("--metrics-listen: ") + badMetrics;
        }
        return readCounts(parser, config);
    }

    const QCommandLineOption m_listen{QStringLiteral("listen"),
        QStringLiteral("The address to serve on, HOST:PORT; [IPv6]:PORT; port 0 picks a free one. Default: 127.0.0.1:50051."),
        QStringLiteral("address"), QStringLiteral("127.0.0.1:50051")};
    const QCommandLineOption m_sessionIdle{QStringLiteral("session-idle"),
        QStringLiteral("A session ends after this long without a request (90s, 15m, 2h; a bare number is seconds). Default: 30m."),
        QStringLiteral("duration"), QStringLiteral("30m")};
    const QCommandLineOption m_heartbeat{QStringLiteral("heartbeat"),
        QStringLiteral("Interval of the session stream's heartbeat. Default: 10s."),
        QStringLiteral("duration"), QStringLiteral("10s")};
    const QCommandLineOption m_callTimeout{QStringLiteral("call-timeout"),
        QStringLiteral("The service gives up on a request that takes longer. Default: 30s."),
        QStringLiteral("duration"), QStringLiteral("30s")};
    const QCommandLineOption m_staleDays{QStringLiteral("stale-days"),
        QStringLiteral("A last activity is stale when it lies before the reported day (1), before the day "
                       "before it (2), and so on. Default: 1."),
        QStringLiteral("days"), QStringLiteral("1")};
    const QCommandLineOption m_tlsCert{QStringLiteral("tls-cert"),
        QStringLiteral("PEM certificate chain; with --tls-key the service speaks TLS only."), QStringLiteral("file")};
    const QCommandLineOption m_tlsKey{QStringLiteral("tls-key"),
        QStringLiteral("PEM private key of the certificate."), QStringLiteral("file")};
    const QCommandLineOption m_logLevel{QStringLiteral("log-level"),
        QStringLiteral("debug (adds a line per presence answer), info, warning or error. Default: info."),
        QStringLiteral("level"), QStringLiteral("info")};
    const QCommandLineOption m_maxConnections{QStringLiteral("max-connections"),
        QStringLiteral("Connections at once; more are closed as they arrive. Default: what the descriptor limit "
                       "leaves, at most 65536."),
        QStringLiteral("count")};
    const QCommandLineOption m_maxConnectionsPerAddress{QStringLiteral("max-connections-per-address"),
        QStringLiteral("Connections at once from one client address. Default: 512."),
        QStringLiteral("count"), QStringLiteral("512")};
    const QCommandLineOption m_maxResetsPerAddress{QStringLiteral("max-resets-per-address"),
        QStringLiteral("HTTP/2 stream resets one client address may send per 10 s without TLS; beyond them its "
                       "connections are cut off for a while. 0 turns the count off (behind a proxy). Default: 500."),
        QStringLiteral("count"), QStringLiteral("500")};
    const QCommandLineOption m_maxSessionsPerUser{QStringLiteral("max-sessions-per-user"),
        QStringLiteral("Open sessions of one user; a login beyond them is refused. Default: 64."),
        QStringLiteral("count"), QStringLiteral("64")};
    const QCommandLineOption m_metricsListen{QStringLiteral("metrics-listen"),
        QStringLiteral("Serves Prometheus metrics over HTTP at http://ADDRESS/metrics, e.g. 127.0.0.1:9464. "
                       "Default: off."),
        QStringLiteral("address")};
    const QCommandLineOption m_healthInterval{QStringLiteral("health-interval"),
        QStringLiteral("How often the health status is checked against the database. Default: 5s."),
        QStringLiteral("duration"), QStringLiteral("5s")};
    const QCommandLineOption m_memoryQuota{QStringLiteral("memory-quota"),
        QStringLiteral("Memory for all connections and calls together (K, M, G). Default: 256M."),
        QStringLiteral("size"), QStringLiteral("256M")};
};

} // namespace

void addServeCommand(CommandList &commands)
{
    commands.push_back(std::make_unique<Serve>());
}

} // namespace vorna::service
