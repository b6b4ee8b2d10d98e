#pragma once
// Sessions: opened by a successful login, found by the token that every later call carries,
// ended by logout, removal of the user, a password change or idle expiry. They live in the
// database, so any service instance on the same database can check them, and their idle time
// is measured on the database's clock, so instances whose clocks disagree still agree on it.

#include "storage/accountstore.h"

#include <chrono>

namespace vorna::service {

struct SessionPolicy
{
    std::chrono::seconds idle{1800};
    // Open sessions one user may hold at once; 0 = no cap. Bounds what one leaked password or
    // a client that logs in over and over can hold.
    int maxPerUser = 64;

    bool expired(std::chrono::seconds idleFor) const;
    // lastSeen is written at most every ~30 s, and often enough that a short idle limit still
    // counts every call.
    std::chrono::seconds touchInterval() const;
    bool needsTouch(std::chrono::seconds idleFor) const;
};

class SessionManager
{
public:
    enum class Check {
        Valid,
        Missing,       // the call carried no token
        Unknown,       // no such session (logged out, removed, expired and swept)
        Expired,       // idle for too long; the session is removed now
        StorageFailed  // the database did not answer; `error` says why
    };

    struct Lookup
    {
        Check check = Check::Unknown;
        Session session;
        User user;
        StorageError error;
    };

    SessionManager(AccountStore &storage, const SessionPolicy &policy);

    const SessionPolicy &policy() const { return m_policy; }

    // A new session for `user` as the login read it, password hash included; `token` receives
    // the secret that the client sends back. PermissionDenied, with the sentence for the
    // client, when the user holds maxPerUser unexpired sessions already; NotFound when the user
    // was removed or the password changed since.
    StorageError open(const User &user, const QString &client, const QString &peer, QByteArray *token);
    // Checks the token of a call and keeps the session alive.
    Lookup authenticate(const QByteArray &token);
    // Checks a session without counting it as activity (the session stream's heartbeat).
    Lookup recheck(const QByteArray &tokenHash);
    StorageError close(const QByteArray &tokenHash);
    // Removes every session idle for too long; returns how many.
    int sweep();

private:
    Lookup find(const QByteArray &tokenHash);
    // Unknown for a miss, StorageFailed when the database failed.
    static Lookup notFound(const StorageError &error);

    AccountStore &m_storage;
    const SessionPolicy m_policy;
};

} // namespace vorna::service
