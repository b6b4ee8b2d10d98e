#pragma once
// Wakes the session streams of this process when their session ends here (logout) or the
// service shuts down, so they can send ENDING at once instead of at the next heartbeat.

#include <QByteArray>
#include <QMultiHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace vorna::service {

class SessionHub
{
public:
    // One open session stream; unregisters itself when destroyed.
    class Watch
    {
    public:
        ~Watch();
        Watch(const Watch &) = delete;
        Watch &operator=(const Watch &) = delete;

        // Waits until the session is ended or `timeout` passes; returns the reason for the
        // end, or an empty string on time-out.
        QString waitForEnd(std::chrono::milliseconds timeout);

    private:
        friend class SessionHub;
        Watch(SessionHub &hub, const QByteArray &tokenHash);

        SessionHub &m_hub;
        const QByteArray m_tokenHash;
        QString m_reason; // guarded by the hub's mutex
    };

    std::unique_ptr<Watch> watch(const QByteArray &tokenHash);
    // Ends every stream of that session.
    void end(const QByteArray &tokenHash, const QString &reason);
    // Ends every stream, and every stream opened from now on at once.
    void shutdown(const QString &reason);
    int openWatches() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    QMultiHash<QByteArray, Watch *> m_watches;
    QString m_shutdownReason;
};

} // namespace vorna::service
