#pragma once
// Argon2id password hashes through libsodium (crypto_pwhash_str, INTERACTIVE limits).
//
// Unknown users cost the same as known ones: their attempt is verified against a dummy hash,
// so neither the time nor the answer tells whether a user name exists.

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <mutex>

namespace vorna::service {

class PasswordHasher
{
public:
    // sodium_init; false when libsodium cannot start (no entropy source).
    static bool initializeSodium();

    // Each hash or verification takes about 64 MB; at most `maxConcurrent` run at once.
    explicit PasswordHasher(int maxConcurrent = 2);

    // The crypto_pwhash_str string, or an empty string when there was not enough memory.
    QString hash(const QByteArray &password) const;
    // What to tell the user when hash() came back empty.
    static QString hashFailure();
    // True when `password` matches `storedHash`. An empty `storedHash` stands for an unknown
    // user: the dummy hash is verified instead and the answer is false.
    bool verify(const QString &storedHash, const QByteArray &password) const;
    // Makes the dummy hash now, so that even the first unknown user costs no more than others.
    void warmUp() const { dummyHash(); }

private:
    // Bounds the memory that concurrent logins take.
    class Gate
    {
    public:
        explicit Gate(int slots) : m_free(slots) {}
        void enter();
        void leave();

    private:
        std::mutex m_mutex;
        std::condition_variable m_changed;
        int m_free;
    };

    // Made on the first unknown user, so admin commands that only hash never pay for it.
    const QByteArray &dummyHash() const;

    mutable std::once_flag m_dummyOnce;
    mutable QByteArray m_dummyHash;
    mutable Gate m_gate;
};

} // namespace vorna::service
