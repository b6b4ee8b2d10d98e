#include "sessions/sessionmanager.h"

#include "sessions/tokens.h"

#include <algorithm>

namespace vorna::service {

bool SessionPolicy::expired(std::chrono::seconds idleFor) const
{
    return idleFor >= idle;
}

std::chrono::seconds SessionPolicy::touchInterval() const
{
    return std::clamp(idle / 4, std::chrono::seconds(0), std::chrono::seconds(30));
}

bool SessionPolicy::needsTouch(std::chrono::seconds idleFor) const
{
    return idleFor >= touchInterval();
}

SessionManager::SessionManager(AccountStore &storage, const SessionPolicy &policy)
    : m_storage(storage)
    , m_policy(policy)
{
}

StorageError SessionManager::open(const User &user, const QString &client, const QString &peer,
                                  QByteArray *token)
{
    const QByteArray secret = tokens::generate();
    Session session;
    session.tokenHash = tokens::digest(secret);
    session.userId = user.id;
    session.userName = user.name;
    session.client = client;
    session.peer = peer;
    const StorageError error =
        m_storage.createSession(session, SessionRules{m_policy.maxPerUser, m_policy.idle, user.passwordHash});
    if (error.ok())
        *token = secret;
    return error;
}

SessionManager::Lookup SessionManager::authenticate(const QByteArray &token)
{
    if (token.isEmpty()) {
        Lookup lookup;
        lookup.check = Check::Missing;
        return lookup;
    }
    Lookup lookup = find(tokens::digest(token));
    if (lookup.check == Check::Valid && m_policy.needsTouch(lookup.session.idleFor)) {
        // A failed touch only shortens the session; the call itself may go on.
        m_storage.touchSession(lookup.session.tokenHash);
    }
    return lookup;
}

SessionManager::Lookup SessionManager::recheck(const QByteArray &tokenHash)
{
    return find(tokenHash);
}

StorageError SessionManager::close(const QByteArray &tokenHash)
{
    return m_storage.removeSession(tokenHash);
}

int SessionManager::sweep()
{
    const vorna::service::Result<int> removed = m_storage.expireSessions(m_policy.idle);
    return removed ? *removed : -1;
}

SessionManager::Lookup SessionManager::find(const QByteArray &tokenHash)
{
    const vorna::service::Result<Session> session = m_storage.findSession(tokenHash);
    if (!session)
        return notFound(session.error());
    Lookup lookup;
    lookup.session = *session;
    if (m_policy.expired(session->idleFor)) {
        m_storage.removeSession(tokenHash);
        lookup.check = Check::Expired;
        return lookup;
    }
    const vorna::service::Result<User> user = m_storage.findUser(session->userName);
    if (!user)
        return notFound(user.error());
    lookup.user = *user;
    lookup.check = Check::Valid;
    return lookup;
}

SessionManager::Lookup SessionManager::notFound(const StorageError &error)
{
    Lookup lookup;
    lookup.check = error.code == StorageError::NotFound ? Check::Unknown : Check::StorageFailed;
    if (lookup.check == Check::StorageFailed)
        lookup.error = error;
    return lookup;
}

} // namespace vorna::service
