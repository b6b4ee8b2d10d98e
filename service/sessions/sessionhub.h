#pragma once
// Tells the session streams of this process when their session ends here (logout) or the
// service shuts down, so they can send ENDING at once instead of at the next heartbeat, and
// when someone's presence changes in a department they may see. A stream is told through the
// functions it registers; nobody waits on the hub.

#include <QByteArray>
#include <QList>
#include <QMultiHash>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace vorna::service {

class SessionHub
{
public:
    // Called once, with the reason, when the stream's session ends; on the thread that ends
    // it and outside the hub's lock, so it may call back into the hub.
    using Notify = std::function<void(const QString &reason)>;
    // Called, outside the hub's lock, when someone's presence changed within the stream's scope.
    using PresenceNotify = std::function<void()>;

    // The departments whose presence a session may see.
    struct Scope
    {
        bool allDepartments = false;
        QList<qint64> departmentIds;
        bool includes(qint64 departmentId) const { return allDepartments || departmentIds.contains(departmentId); }
    };

    // One open session stream; unregisters itself when destroyed.
    class Watch
    {
    public:
        ~Watch();
        Watch(const Watch &) = delete;
        Watch &operator=(const Watch &) = delete;

        // The reason the session ended, empty while it goes on.
        QString reason() const;
        // From now on `notify` hears of presence changes within `scope`.
        void followPresence(const Scope &scope, PresenceNotify notify);
        // Waits until the session is ended or `timeout` passes; returns the reason for the
        // end, or an empty string on time-out. For callers that have a thread to spare.
        QString waitForEnd(std::chrono::milliseconds timeout);

    private:
        friend class SessionHub;
        Watch(SessionHub &hub, const QByteArray &tokenHash, Notify notify);

        SessionHub &m_hub;
        const QByteArray m_tokenHash;
        const Notify m_notify;
        QString m_reason; // guarded by the hub's mutex, as are the two below
        Scope m_scope;
        PresenceNotify m_presence;
    };

    // When the hub is shut down already, `notify` hears so before this returns.
    std::unique_ptr<Watch> watch(const QByteArray &tokenHash, Notify notify = {});
    // Ends every stream of that session.
    void end(const QByteArray &tokenHash, const QString &reason);
    // Ends every stream, and every stream opened from now on at once.
    void shutdown(const QString &reason);
    // Tells every stream that follows presence in `departmentId`.
    void presenceChanged(qint64 departmentId);
    // Tells every stream that follows presence in any department, once: changes may have
    // gone unheard.
    void presenceMayHaveChangedAnywhere();
    int openWatches() const;

private:
    // Marks the watch ended; its notification, if it has one and was not ended before.
    static Notify endWatch(Watch *watch, const QString &reason);
    // Tells the streams that follow presence in a scope that `concerns` picks.
    void notifyPresence(const std::function<bool(const Scope &)> &concerns);

    mutable std::mutex m_mutex;
    std::condition_variable m_ended;
    QMultiHash<QByteArray, Watch *> m_watches;
    QString m_shutdownReason;
};

} // namespace vorna::service
