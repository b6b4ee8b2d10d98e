#pragma once
// Hears the presence changes that the service instances on one PostgreSQL database announce
// with NOTIFY: a connection of its own, LISTENing on a thread of its own, opened again when it
// is lost. Destroying the listener stops the thread at once.

#include "storage.h"

#include <QString>

#include <atomic>
#include <functional>
#include <thread>

namespace vorna::service {

// The channel that announcements travel on; the payload is the department's number.
extern const char *const PresenceChangeChannel;

class PostgresChangeListener final : public PresenceChangeListener
{
public:
    using Heard = std::function<void(qint64 departmentId)>;
    using Lost = std::function<void(const QString &problem)>;

    PostgresChangeListener(const QString &connectionString, Heard heard, Lost lost);
    ~PostgresChangeListener() override;

private:
    void run();
    // Listens on one connection until it fails or the listener stops; false when it failed.
    bool listenOnce(QString *problem);
    // Waits up to `ms` or until the listener stops; false once it stops.
    bool pause(int ms);

    const QByteArray m_connectionString;
    const Heard m_heard;
    const Lost m_lost;
    int m_stopPipe[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace vorna::service
