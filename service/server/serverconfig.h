#pragma once
// What `serve` is told on its command line, with the defaults docs/service.md lists, and the
// parsing of the values that are not plain numbers.

#include "eventlog.h"

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
    EventLog::Level logLevel = EventLog::Level::Info;
};

// "90", "90s", "15m", "2h" -> seconds; false for anything else or a value below 1 s.
bool parseDuration(const QString &text, std::chrono::seconds *out);

// Checks "HOST:PORT" with a port 0..65535 (0: any free port) and IPv6 hosts in brackets.
// Returns an empty string when it is fine, otherwise the sentence saying what is wrong.
QString checkListenAddress(const QString &address);

} // namespace vorna::service
