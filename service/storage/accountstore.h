#pragma once
// Who may use the service: users and their department scopes, sessions, clocking terminals,
// the counters of failed logins and the places users logged in from.
//
// Session and throttle times are taken from the database's clock, inside the statements that
// use them, never from the calling instance's: instances whose clocks disagree, or a clock
// that steps, still agree on how old a session or a failure is.

#include "storage/sqlexecutor.h"
#include "storage/storage.h"

namespace vorna::service {

class AccountStore
{
public:
    explicit AccountStore(SqlExecutor &sql) : m_sql(sql) {}

    StorageError addUser(const User &user);
    StorageError addUser(Transaction &tx, const User &user);
    // Sets a new password hash and ends the user's sessions in the same transaction; the result
    // is how many ended. A login that checked the old hash cannot open a session afterwards,
    // since createSession compares the hash it checked with the stored one.
    Result<int> setPasswordHash(const QString &userName, const QString &hash);
    // Also ends the user's sessions.
    StorageError removeUser(const QString &userName);
    Result<User> findUser(const QString &userName);
    Result<QVector<User>> users();
    // Gives the user another role and department scope; the password stays.
    StorageError changeUser(const User &user);

    // Refused with PermissionDenied (and nothing written) when the user already holds as many
    // sessions as `rules` allow, and with NotFound when the user is gone or the password hash
    // is no longer the one the login checked. Checked in the inserting transaction with the
    // user's row locked, so concurrent logins of one user on any instance cannot pass the cap
    // together, nor a login slip in beside a password change. A time the session leaves
    // invalid becomes the database's now.
    StorageError createSession(const Session &session, const SessionRules &rules = {});
    Result<Session> findSession(const QByteArray &tokenHash);
    // Notes the session's activity at the database's now.
    StorageError touchSession(const QByteArray &tokenHash);
    StorageError removeSession(const QByteArray &tokenHash);
    // Ends every session of the user; the result is how many.
    Result<int> removeSessionsOf(const QString &userName);
    // Removes sessions idle for `idle` or longer; the result is how many.
    Result<int> expireSessions(std::chrono::seconds idle);

    StorageError addTerminal(const Terminal &terminal);
    StorageError removeTerminal(const QString &name);
    Result<Terminal> findTerminal(const QByteArray &tokenHash);
    Result<QVector<Terminal>> terminals();

    // Login throttling. In one write transaction that holds the entries of `keys` against every
    // other caller on any instance: reads them (a key without one comes with no failures),
    // lets `change` decide with the database's now in milliseconds, and writes back what it
    // left when it returns true. So concurrent attempts on one key are counted one after the
    // other.
    using LoginFailuresChange = std::function<bool(QVector<LoginFailures> &entries, qint64 nowMs)>;
    StorageError updateLoginFailures(const QStringList &keys, const LoginFailuresChange &change);
    // Removes the entries whose last failure is before `lastFailureBeforeMs` and whose block
    // has ended at `nowMs`; the result is how many.
    Result<int> forgetLoginFailures(qint64 lastFailureBeforeMs, qint64 nowMs);

    // Whether the user logged in from `network` with the right password within `within`.
    Result<bool> loggedInRecently(const QString &userName, const QString &network, std::chrono::seconds within);
    // Notes a login of the user from `network` at the database's now.
    StorageError rememberLogin(qint64 userId, const QString &network);
    // Forgets the logins noted before `loggedInBeforeMs`; the result is how many.
    Result<int> forgetLogins(qint64 loggedInBeforeMs);

private:
    // Locks the session's user's row; the user's id, or NotFound when the user is gone or the
    // password hash is no longer `verifiedPasswordHash` (unless that is empty).
    Result<qint64> lockUserWithPassword(Transaction &tx, QSqlQuery &query, const Session &session,
                                        const QString &verifiedPasswordHash, const QString &doing);
    StorageError checkSessionCap(Transaction &tx, QSqlQuery &query, qint64 userId, const Session &session,
                                 const SessionRules &rules, qint64 nowSeconds, const QString &doing);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
