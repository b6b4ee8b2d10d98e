#pragma once
// What `serve` is told on its command line, with the defaults docs/service.md lists, and the
// parsing of the values that are not plain numbers.

#include "ops/eventlog.h"

#include <QString>

#include <chrono>

namespace vorna::service {

struct ServerConfig
{
    QString listen = QStringLiteral("127.0.0.1:50051");
    std::chrono::seconds sessionIdle{1800};
    std::chrono::seconds heartbeat{10};
    std::chrono::seconds callTimeout{30};
    int staleDays = 1;
    QString tlsCertFile;
    QString tlsKeyFile;
    int maxStreamsPerSession = 4;
    // A presence request for 100,000 employees lists up to 100,000 digests of 32 bytes.
    int maxReceiveBytes = 16 * 1024 * 1024;
    int maxSendBytes = 64 * 1024 * 1024;
    int maxKnownDigests = 200000;
    // Connections at once, in total (0: from the descriptor limit at start-up) and from one
    // client address (offices sit behind one NAT address).
    int maxConnections = 0;
    int maxConnectionsPerAddress = 512;
    // gRPC's memory quota for all connections and calls together.
    qint64 memoryQuotaBytes = 256LL * 1024 * 1024;
    // HTTP/2 stream resets one client address may send per 10 s on a plaintext listener (0: not
    // counted); a fronting proxy on the same address cancels for all its clients.
    int maxResetsPerAddress = 500;
    // Open sessions of one user; a login beyond it is refused.
    int maxSessionsPerUser = 64;
    EventLog::Level logLevel = EventLog::Level::Info;
    // HOST:PORT of the /metrics HTTP listener; empty: no metrics served.
    QString metricsListen;
    // How often the health probe asks the database.
    std::chrono::seconds healthInterval{5};
};

// "90", "90s", "15m", "2h" -> seconds; false for anything else or a value below 1 s.
bool parseDuration(const QString &text, std::chrono::seconds *out);

// "256M", "1G", "65536K" or plain bytes -> bytes (K, M, G: powers of 1024); false for anything else.
bool parseByteSize(const QString &text, qint64 *out);

// A whole number from `min` to `max`; false for anything else.
bool parseBoundedInt(const QString &text, int min, int max, int *out);

// True for 127.0.0.0/8, ::1 and "localhost": the traffic never leaves the machine.
bool isLoopbackListen(const QString &address);

// Checks "HOST:PORT" with a port 0..65535 (0: any free port) and IPv6 hosts in brackets.
// Returns an empty string when it is fine, otherwise the sentence saying what is wrong.
QString checkListenAddress(const QString &address);

} // namespace vorna::service
