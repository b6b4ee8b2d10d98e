#pragma once
// Login: the user's lookup, a throttle reservation, the password check and a new session, in
// that order. The answer for an unknown user and for a wrong password is the same sentence
// after the same work.

#include "sessions/loginthrottle.h"
#include "sessions/passwordhasher.h"
#include "sessions/sessionmanager.h"
#include "storage/accountstore.h"

namespace vorna::service {

class Authenticator
{
public:
    enum class Outcome {
        LoggedIn,
        Throttled,
        WrongCredentials,
        TooManySessions, // the user already holds as many sessions as one user may
        Unavailable
    };

    struct Result
    {
        Outcome outcome = Outcome::WrongCredentials;
        QString message;   // the sentence for the client when not logged in
        User user;
        QByteArray token;
    };

    Authenticator(AccountStore &storage, SessionManager &sessions, LoginThrottle &throttle,
                  const PasswordHasher &hasher);

    Result login(const QString &userName, const QByteArray &password, const QString &client,
                 const QString &peer);

    // The address part of a gRPC peer ("ipv4:127.0.0.1:53122" -> "ipv4:127.0.0.1"); the key
    // that failures from one machine are counted under.
    static QString peerAddress(const QString &peer);

private:
    AccountStore &m_storage;
    SessionManager &m_sessions;
    LoginThrottle &m_throttle;
    const PasswordHasher &m_hasher;
};

} // namespace vorna::service
