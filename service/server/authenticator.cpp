#include "authenticator.h"

namespace vorna::service {

namespace {

Authenticator::Result refused(Authenticator::Outcome outcome, const QString &message)
{
    Authenticator::Result result;
    result.outcome = outcome;
    result.message = message;
    return result;
}

} // namespace

Authenticator::Authenticator(Storage &storage, SessionManager &sessions, LoginThrottle &throttle,
                             const PasswordHasher &hasher)
    : m_storage(storage)
    , m_sessions(sessions)
    , m_throttle(throttle)
    , m_hasher(hasher)
{
}

Authenticator::Result Authenticator::login(const QString &userName, const QByteArray &password,
                                           const QString &client, const QString &peer)
{
    const QString address = peerAddress(peer);
    const std::chrono::seconds wait =
        m_throttle.retryAfter(userName, address, LoginThrottle::Clock::now());
    if (wait.count() > 0)
        return refused(Outcome::Throttled, LoginThrottle::refusal(wait));

    // A database that fails is no wrong password: the caller is neither refused nor counted.
    StorageError lookup;
    const std::optional<User> user = m_storage.findUser(userName, &lookup);
    if (!user && lookup.code != StorageError::NotFound)
        return refused(Outcome::Unavailable, lookup.message);

    if (!m_hasher.verify(user ? user->passwordHash : QString(), password)) {
        m_throttle.recordFailure(userName, address, LoginThrottle::Clock::now());
        return refused(Outcome::WrongCredentials, QStringLiteral("Wrong user name or password."));
    }
    m_throttle.recordSuccess(userName, address);

    m_sessions.sweep();
    Result result;
    const StorageError error = m_sessions.open(*user, client, peer, &result.token);
    if (!error.ok())
        return refused(Outcome::Unavailable, error.message);
    result.outcome = Outcome::LoggedIn;
    result.user = *user;
    return result;
}

QString Authenticator::peerAddress(const QString &peer)
{
    // "ipv6:[::1]:53122" and "ipv4:10.0.0.5:53122" end in ":port"; "unix:/path" has none.
    if (peer.startsWith(QLatin1String("ipv4:")) || peer.startsWith(QLatin1String("ipv6:"))) {
        const int colon = peer.lastIndexOf(QLatin1Char(':'));
        if (colon > 4)
            return peer.left(colon);
    }
    return peer;
}

} // namespace vorna::service
