#include "sessions/authenticator.h"

namespace vorna::service {

namespace {

Authenticator::Result refused(Authenticator::Outcome outcome, const QString &message)
{
    Authenticator::Result result;
    result.outcome = outcome;
    result.message = message;
    return result;
}

Authenticator::Result wrongCredentials()
{
    return refused(Authenticator::Outcome::WrongCredentials, QStringLiteral("Wrong user name or password."));
}

} // namespace

Authenticator::Authenticator(AccountStore &storage, SessionManager &sessions, LoginThrottle &throttle,
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
    // A database that fails is no wrong password: the caller is neither refused nor counted.
    const vorna::service::Result<User> user = m_storage.findUser(userName);
    if (!user && user.error().code != StorageError::NotFound)
        return refused(Outcome::Unavailable, user.error().message);

    // The attempt counts as a failure before the hash is checked, so concurrent guesses
    // cannot all slip in before the first of them is counted.
    const QString address = peerAddress(peer);
    const LoginThrottle::Reservation reservation = m_throttle.reserve(m_storage, userName, address);
    if (!reservation.error.ok())
        return refused(Outcome::Unavailable, reservation.error.message);
    if (!reservation.granted())
        return refused(Outcome::Throttled, LoginThrottle::refusal(reservation.wait));

    if (!m_hasher.verify(user ? user->passwordHash : QString(), password))
        return wrongCredentials();

    m_sessions.sweep();
    Result result;
    const StorageError error = m_sessions.open(*user, client, peer, &result.token);
    // Removed, or given a new password, since the lookup: the password checked is no longer one.
    if (error.code == StorageError::NotFound)
        return wrongCredentials();
    if (!error.ok() && error.code != StorageError::PermissionDenied)
        return refused(Outcome::Unavailable, error.message);
    // The password was right even when the session cap refuses. Should noting that fail, the
    // login still goes on; the counts left behind age out after the throttle's forgetAfter.
    m_throttle.succeeded(m_storage, reservation, user->id);
    if (!error.ok())
        return refused(Outcome::TooManySessions, error.message);
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
