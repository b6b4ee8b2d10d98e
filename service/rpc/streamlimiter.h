#pragma once
// Caps the streams one session may hold open at once, so one client cannot take every worker
// thread of the service.

#include <QByteArray>
#include <QHash>

#include <mutex>

namespace vorna::service {

class StreamLimiter
{
public:
    // Holds one stream place of a session while it lives; an empty slot holds nothing.
    class Slot
    {
    public:
        Slot() = default;
        Slot(Slot &&other) noexcept;
        Slot &operator=(Slot &&other) noexcept;
        ~Slot();

        bool held() const { return m_limiter != nullptr; }

    private:
        friend class StreamLimiter;
        Slot(StreamLimiter *limiter, const QByteArray &key);
        void release();

        StreamLimiter *m_limiter = nullptr;
        QByteArray m_key;
    };

    explicit StreamLimiter(int perSession);

    int perSession() const { return m_perSession; }
    // A held slot, or an empty one when the session already has `perSession` open streams.
    Slot acquire(const QByteArray &sessionKey);
    int open(const QByteArray &sessionKey) const;

private:
    void release(const QByteArray &key);

    const int m_perSession;
    mutable std::mutex m_mutex;
    QHash<QByteArray, int> m_open;
};

} // namespace vorna::service
