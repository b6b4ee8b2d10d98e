#pragma once
// Who may use the service: users and their department scopes, sessions, clocking terminals,
// and the counters of failed logins.

#include "storage/sqlexecutor.h"
#include "storage/storage.h"

namespace vorna::service {

class AccountStore
{
public:
    explicit AccountStore(SqlExecutor &sql) : m_sql(sql) {}

    StorageError addUser(const User &user);
    StorageError addUser(Transaction &tx, const User &user);
    StorageError setPasswordHash(const QString &userName, const QString &hash);
    // Also ends the user's sessions.
    StorageError removeUser(const QString &userName);
    Result<User> findUser(const QString &userName);
    Result<QVector<User>> users();
    // Gives the user another role and department scope; the password stays.
    StorageError changeUser(const User &user);

    // Refused with PermissionDenied (and nothing written) when the user already holds as many
    // sessions as `cap` allows; counted in the same transaction, so concurrent logins of one
    // user on any instance cannot pass the cap together.
    StorageError createSession(const Session &session, const SessionCap &cap = {});
    Result<Session> findSession(const QByteArray &tokenHash);
    StorageError touchSession(const QByteArray &tokenHash, const QDateTime &nowUtc);
    StorageError removeSession(const QByteArray &tokenHash);
    // Ends every session of the user, e.g. after a password change; the result is how many.
    Result<int> removeSessionsOf(const QString &userName);
    // Removes sessions whose lastSeenUtc is before `idleBeforeUtc`; the result is how many.
    Result<int> expireSessions(const QDateTime &idleBeforeUtc);

    StorageError addTerminal(const Terminal &terminal);
    StorageError removeTerminal(const QString &name);
    Result<Terminal> findTerminal(const QByteArray &tokenHash);
    Result<QVector<Terminal>> terminals();

    // Login throttling. In one write transaction that holds the entries of `keys` against every
    // other caller on any instance: reads them (a key without one comes with no failures),
    // lets `change` decide, and writes back what it left when it returns true. So concurrent
    // attempts on one key are counted one after the other.
    StorageError updateLoginFailures(const QStringList &keys,
                                     const std::function<bool(QVector<LoginFailures> &)> &change);
    StorageError clearLoginFailures(const QStringList &keys);
    // Removes the entries whose last failure is before `lastFailureBeforeUtc` and whose block
    // has ended at `nowUtc`; the result is how many.
    Result<int> forgetLoginFailures(qint64 lastFailureBeforeUtc, qint64 nowUtc);

private:
    StorageError checkSessionCap(Transaction &tx, QSqlQuery &query, qint64 userId, const Session &session,
                                 const SessionCap &cap, const QString &doing);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
