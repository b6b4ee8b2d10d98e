#include "sessions/passwordhasher.h"

#include <sodium.h>

namespace vorna::service {

namespace {

QByteArray hashString(const QByteArray &password)
{
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, password.constData(), quint64(password.size()),
                          crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return {};
    return QByteArray(out);
}

QByteArray randomPassword()
{
    QByteArray raw(32, Qt::Uninitialized);
    randombytes_buf(raw.data(), size_t(raw.size()));
    return raw;
}

} // namespace

bool PasswordHasher::initializeSodium()
{
    return sodium_init() >= 0;
}

PasswordHasher::PasswordHasher(int maxConcurrent)
    : m_gate(maxConcurrent > 0 ? maxConcurrent : 1)
{
}

QString PasswordHasher::hash(const QByteArray &password) const
{
    m_gate.enter();
    const QByteArray result = hashString(password);
    m_gate.leave();
    return QString::fromLatin1(result);
}

QString PasswordHasher::hashFailure()
{
    return QStringLiteral("Not enough memory to hash the password (it takes 64 MB). Close other programs and try again.");
}

bool PasswordHasher::verify(const QString &storedHash, const QByteArray &password) const
{
    const bool knownUser = !storedHash.isEmpty();
    const QByteArray hash = knownUser ? storedHash.toLatin1() : dummyHash();
    m_gate.enter();
    const bool match = crypto_pwhash_str_verify(hash.constData(), password.constData(),
                                                quint64(password.size())) == 0;
    m_gate.leave();
    return knownUser && match;
}

const QByteArray &PasswordHasher::dummyHash() const
{
    std::call_once(m_dummyOnce, [this] { m_dummyHash = hashString(randomPassword()); });
    return m_dummyHash;
}

void PasswordHasher::Gate::enter()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [this] { return m_free > 0; });
    --m_free;
}

void PasswordHasher::Gate::leave()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_free;
    }
    m_changed.notify_one();
}

} // namespace vorna::service
