#include "storage/accountstore.h"

#include <QHash>
#include <QSet>

#include <limits>

namespace vorna::service {

namespace {

using Error = StorageError;

Error noUser(const QString &name)
{
    return {Error::NotFound, QStringLiteral("There is no user named %1.").arg(quoted(name))};
}

Error sessionEnded()
{
    return {Error::NotFound, QStringLiteral("The session has ended. Log in again.")};
}

QDateTime utcFromSeconds(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

// The database's clock in milliseconds since the epoch, as of the start of the statement.
QString nowMsSql(const SqlDialect &dialect)
{
    return dialect.engine == SqlDialect::Engine::PostgreSQL
        ? QStringLiteral("CAST(FLOOR(EXTRACT(EPOCH FROM statement_timestamp()) * 1000) AS BIGINT)")
        : QStringLiteral("CAST(ROUND((julianday('now') - 2440587.5) * 86400000.0) AS INTEGER)");
}

QString nowSecondsSql(const SqlDialect &dialect)
{
    return QStringLiteral("(%1 / 1000)").arg(nowMsSql(dialect));
}

Result<qint64> readNowMs(Transaction &tx, const QString &doing)
{
    return tx.row<qint64>(QStringLiteral("SELECT ") + nowMsSql(tx.dialect()), {},
                          [](const QSqlQuery &q) { return q.value(0).toLongLong(); }, doing,
                          Error{Error::Internal, QStringLiteral("Could not %1: the %2 told no time.")
                                                     .arg(doing, tx.dialect().label)});
}

Session sessionFrom(const QSqlQuery &q)
{
    Session session{q.value(0).toByteArray(), q.value(1).toLongLong(), q.value(2).toString(), q.value(3).toString(),
                    q.value(4).toString(), utcFromSeconds(q.value(5).toLongLong()), utcFromSeconds(q.value(6).toLongLong())};
    session.idleFor = std::chrono::seconds(q.value(7).toLongLong());
    return session;
}

Terminal terminalFrom(const QSqlQuery &q)
{
    return {q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toByteArray(),
            utcFromSeconds(q.value(3).toLongLong())};
}

User userFrom(const QSqlQuery &q)
{
    User user;
    user.id = q.value(0).toLongLong();
    user.name = q.value(1).toString();
    user.passwordHash = q.value(2).toString();
    user.role = q.value(3).toInt() == int(Role::Manager) ? Role::Manager : Role::Viewer;
    user.allDepartments = q.value(4).toInt() != 0;
    return user;
}

const QString userColumns = QStringLiteral("SELECT id, name, password_hash, role, all_departments FROM users");
// %1 is the database's now in seconds.
const QString sessionColumns = QStringLiteral(
    "SELECT s.token_hash, s.user_id, u.name, s.client, s.peer, s.created_utc, s.last_seen_utc,"
    " %1 - s.last_seen_utc FROM sessions s JOIN users u ON u.id = s.user_id");
const QString terminalColumns = QStringLiteral("SELECT id, name, token_hash, created_utc FROM terminals");

} // namespace

// ---- Users ------------------------------------------------------------------------------------

StorageError AccountStore::addUser(const User &user)
{
    return m_sql.write(QStringLiteral("add the user %1").arg(quoted(user.name)),
                       [&](Transaction &tx) { return addUser(tx, user); });
}

StorageError AccountStore::addUser(Transaction &tx, const User &user)
{
    if (user.name.trimmed().isEmpty())
        return invalid(QStringLiteral("A user needs a name."));
    if (user.passwordHash.isEmpty())
        return invalid(QStringLiteral("The user %1 needs a password.").arg(quoted(user.name)));
    const QString doing = QStringLiteral("add the user %1").arg(quoted(user.name));
    Error result = [&] {
        QSqlQuery query(tx.db());
        Error error = tx.exec(query,
                              QStringLiteral("INSERT INTO users (name, password_hash, role, all_departments)"
                                             " VALUES (?, ?, ?, ?) RETURNING id"),
                              {user.name, user.passwordHash, int(user.role), user.allDepartments ? 1 : 0}, doing);
        if (!error.ok() || !query.next())
            return error;
        const qint64 userId = query.value(0).toLongLong();
        const QSet<qint64> departmentIds(user.departmentIds.cbegin(), user.departmentIds.cend());
        for (qint64 departmentId : departmentIds) {
            error = tx.exec(query, QStringLiteral("SELECT 1 FROM departments WHERE id = ?"), {departmentId}, doing);
            if (!error.ok())
                return error;
            if (!query.next())
                return Error{Error::NotFound, QStringLiteral("There is no department with the number %1; the user %2 "
                                                             "was not added.")
                                                  .arg(departmentId)
                                                  .arg(quoted(user.name))};
            error = tx.exec(query, QStringLiteral("INSERT INTO user_departments (user_id, department_id) VALUES (?, ?)"),
                            {userId, departmentId}, doing);
            if (!error.ok())
                return error;
        }
        return Error::none();
    }();
    if (result.code == Error::AlreadyExists)
        result.message = QStringLiteral("A user named %1 already exists. Choose another name, or change that "
                                        "user's password instead.")
                             .arg(quoted(user.name));
    return result;
}

Result<int> AccountStore::setPasswordHash(const QString &userName, const QString &hash)
{
    if (hash.isEmpty())
        return invalid(QStringLiteral("The new password of %1 is empty.").arg(quoted(userName)));
    const QString doing = QStringLiteral("change the password of %1").arg(quoted(userName));
    int ended = 0;
    const Error error = m_sql.write(doing, [&](Transaction &tx) {
        const Error changed = changedOrNotFound(
            tx.change(QStringLiteral("UPDATE users SET password_hash = ? WHERE name = ?"), {hash, userName}, doing),
            noUser(userName));
        if (!changed.ok())
            return changed;
        const Result<int> removed = tx.change(
            QStringLiteral("DELETE FROM sessions WHERE user_id = (SELECT id FROM users WHERE name = ?)"), {userName},
            doing);
        ended = removed.value();
        return removed.error();
    });
    if (!error.ok())
        return error;
    return ended;
}

StorageError AccountStore::removeUser(const QString &userName)
{
    return changedOrNotFound(m_sql.writeOne(QStringLiteral("remove the user %1").arg(quoted(userName)),
                                            QStringLiteral("DELETE FROM users WHERE name = ?"), {userName}),
                             noUser(userName));
}

Result<User> AccountStore::findUser(const QString &userName)
{
    Result<User> found = noUser(userName);
    const Error error = m_sql.read([&](Transaction &tx) {
        const QString doing = QStringLiteral("read the user %1").arg(quoted(userName));
        found = tx.row<User>(userColumns + QStringLiteral(" WHERE name = ?"), {userName}, userFrom, doing,
                             noUser(userName));
        if (!found)
            return found.error().code == Error::NotFound ? Error::none() : found.error();
        const Result<QVector<qint64>> departments = tx.rows<qint64>(
            QStringLiteral("SELECT department_id FROM user_departments WHERE user_id = ? ORDER BY department_id"),
            {found->id}, [](const QSqlQuery &q) { return q.value(0).toLongLong(); }, doing);
        found->departmentIds = QList<qint64>(departments->cbegin(), departments->cend());
        return departments.error();
    });
    if (!error.ok())
        return error;
    return found;
}

Result<QVector<User>> AccountStore::users()
{
    Result<QVector<User>> all = QVector<User>();
    const Error error = m_sql.read([&](Transaction &tx) {
        const QString doing = QStringLiteral("read the users");
        all = tx.rows<User>(userColumns + QStringLiteral(" ORDER BY name"), {}, userFrom, doing);
        if (!all)
            return all.error();
        QHash<qint64, User *> byId;
        for (User &user : *all)
            byId.insert(user.id, &user);
        // Users without their departments would look like users who see less than they may.
        return tx.rows<bool>(QStringLiteral("SELECT user_id, department_id FROM user_departments ORDER BY department_id"),
                             {},
                             [&](const QSqlQuery &q) {
                                 if (User *user = byId.value(q.value(0).toLongLong()))
                                     user->departmentIds << q.value(1).toLongLong();
                                 return true;
                             },
                             doing)
            .error();
    });
    if (!error.ok())
        return error;
    return all;
}

StorageError AccountStore::changeUser(const User &user)
{
    const QString doing = QStringLiteral("change the user %1").arg(quoted(user.name));
    return m_sql.write(doing, [&](Transaction &tx) {
        const Result<qint64> id = tx.row<qint64>(QStringLiteral("SELECT id FROM users WHERE name = ?"), {user.name},
                                                 [](const QSqlQuery &q) { return q.value(0).toLongLong(); }, doing,
                                                 noUser(user.name));
        if (!id)
            return id.error();
        Error error = tx.change(QStringLiteral("UPDATE users SET role = ?, all_departments = ? WHERE id = ?"),
                                {int(user.role), user.allDepartments ? 1 : 0, *id}, doing)
                          .error();
        if (error.ok())
            error = tx.change(QStringLiteral("DELETE FROM user_departments WHERE user_id = ?"), {*id}, doing).error();
        const QSet<qint64> departmentIds(user.departmentIds.cbegin(), user.departmentIds.cend());
        for (auto it = departmentIds.cbegin(); error.ok() && it != departmentIds.cend(); ++it)
            error = tx.change(QStringLiteral("INSERT INTO user_departments (user_id, department_id) VALUES (?, ?)"),
                              {*id, *it}, doing)
                        .error();
        return error;
    });
}

// ---- Sessions ---------------------------------------------------------------------------------

StorageError AccountStore::createSession(const Session &session, const SessionRules &rules)
{
    if (session.tokenHash.isEmpty())
        return invalid(QStringLiteral("A session needs a token."));
    const QString doing = QStringLiteral("open a session for %1").arg(quoted(session.userName));
    return m_sql.write(doing, [&](Transaction &tx) {
        QSqlQuery query(tx.db());
        const Result<qint64> userId = lockUserWithPassword(tx, query, session, rules.verifiedPasswordHash, doing);
        if (!userId)
            return userId.error();
        const Result<qint64> nowMs = readNowMs(tx, doing);
        if (!nowMs)
            return nowMs.error();
        const qint64 now = *nowMs / 1000;
        const Error error = checkSessionCap(tx, query, *userId, session, rules, now, doing);
        if (!error.ok())
            return error;
        const qint64 created = session.createdUtc.isValid() ? session.createdUtc.toSecsSinceEpoch() : now;
        const qint64 lastSeen = session.lastSeenUtc.isValid() ? session.lastSeenUtc.toSecsSinceEpoch() : created;
        return tx.exec(query,
                       QStringLiteral("INSERT INTO sessions (token_hash, user_id, client, peer, created_utc, last_seen_utc)"
                                      " VALUES (?, ?, ?, ?, ?, ?)"),
                       {session.tokenHash, *userId, session.client, session.peer, created, lastSeen}, doing);
    });
}

Result<qint64> AccountStore::lockUserWithPassword(Transaction &tx, QSqlQuery &query, const Session &session,
                                                  const QString &verifiedPasswordHash, const QString &doing)
{
    // The user id wins; the name serves callers that have only the name. The user's row stays
    // locked until commit, so that two logins cannot both take the last free place, and a
    // password change either waits for this session (and then ends it) or comes first (and is
    // seen here).
    const bool byId = session.userId != 0;
    const QString select = QStringLiteral("SELECT id, password_hash FROM users WHERE %1 = ?%2")
                               .arg(QLatin1String(byId ? "id" : "name"), tx.dialect().forUpdate);
    const Error error = tx.exec(query, select, {byId ? QVariant(session.userId) : QVariant(session.userName)}, doing);
    if (!error.ok())
        return error;
    if (!query.next())
        return noUser(session.userName);
    if (!verifiedPasswordHash.isEmpty() && query.value(1).toString() != verifiedPasswordHash)
        return Error{Error::NotFound, QStringLiteral("The password of %1 was changed during the login. Log in with the "
                                                     "new password.")
                                          .arg(quoted(session.userName))};
    return query.value(0).toLongLong();
}

StorageError AccountStore::checkSessionCap(Transaction &tx, QSqlQuery &query, qint64 userId, const Session &session,
                                           const SessionRules &rules, qint64 nowSeconds, const QString &doing)
{
    if (rules.maxPerUser <= 0)
        return Error::none();
    const qint64 seenAfter = rules.idle.count() > 0 ? nowSeconds - rules.idle.count()
                                                    : std::numeric_limits<qint64>::min();
    const Error error = tx.exec(
        query, QStringLiteral("SELECT COUNT(*) FROM sessions WHERE user_id = ? AND last_seen_utc > ?"),
        {userId, seenAfter}, doing);
    if (!error.ok() || !query.next() || query.value(0).toLongLong() < rules.maxPerUser)
        return error;
    return {Error::PermissionDenied,
            QStringLiteral("User %1 already has %2 open sessions, the most one user may hold. Log out elsewhere or "
                           "wait until idle sessions expire.")
                .arg(quoted(session.userName))
                .arg(rules.maxPerUser)};
}

Result<Session> AccountStore::findSession(const QByteArray &tokenHash)
{
    Result<Session> found = sessionEnded();
    const Error error = m_sql.read([&](Transaction &tx) {
        found = tx.row<Session>(sessionColumns.arg(nowSecondsSql(tx.dialect())) +
                                    QStringLiteral(" WHERE s.token_hash = ?"),
                                {tokenHash}, sessionFrom, QStringLiteral("read the session"), sessionEnded());
        return found.error().code == Error::NotFound ? Error::none() : found.error();
    });
    if (!error.ok())
        return error;
    return found;
}

StorageError AccountStore::touchSession(const QByteArray &tokenHash)
{
    return changedOrNotFound(
        m_sql.writeOne(QStringLiteral("note the session's activity"),
                       QStringLiteral("UPDATE sessions SET last_seen_utc = %1 WHERE token_hash = ?")
                           .arg(nowSecondsSql(m_sql.dialect())),
                       {tokenHash}),
        sessionEnded());
}

StorageError AccountStore::removeSession(const QByteArray &tokenHash)
{
    return changedOrNotFound(m_sql.writeOne(QStringLiteral("end the session"),
                                            QStringLiteral("DELETE FROM sessions WHERE token_hash = ?"), {tokenHash}),
                             {Error::NotFound, QStringLiteral("The session has already ended.")});
}

Result<int> AccountStore::removeSessionsOf(const QString &userName)
{
    int removed = 0;
    const QString doing = QStringLiteral("end the sessions of %1").arg(quoted(userName));
    const Error error = m_sql.write(doing, [&](Transaction &tx) {
        const Result<qint64> userId = tx.row<qint64>(QStringLiteral("SELECT id FROM users WHERE name = ?"), {userName},
                                                     [](const QSqlQuery &q) { return q.value(0).toLongLong(); },
                                                     doing, noUser(userName));
        if (!userId)
            return userId.error();
        const Result<int> changed = tx.change(QStringLiteral("DELETE FROM sessions WHERE user_id = ?"), {*userId}, doing);
        removed = changed.value();
        return changed.error();
    });
    if (!error.ok())
        return error;
    return removed;
}

Result<int> AccountStore::expireSessions(std::chrono::seconds idle)
{
    return m_sql.writeOne(QStringLiteral("remove idle sessions"),
                          QStringLiteral("DELETE FROM sessions WHERE last_seen_utc <= %1 - ?")
                              .arg(nowSecondsSql(m_sql.dialect())),
                          {qint64(idle.count())});
}

// ---- Terminals --------------------------------------------------------------------------------

StorageError AccountStore::addTerminal(const Terminal &terminal)
{
    if (terminal.name.trimmed().isEmpty())
        return invalid(QStringLiteral("A terminal needs a name."));
    if (terminal.tokenHash.isEmpty())
        return invalid(QStringLiteral("The terminal %1 needs a token.").arg(quoted(terminal.name)));
    const QDateTime created = terminal.createdUtc.isValid() ? terminal.createdUtc : QDateTime::currentDateTimeUtc();
    Error result = m_sql.writeOne(QStringLiteral("add the terminal %1").arg(quoted(terminal.name)),
                                  QStringLiteral("INSERT INTO terminals (name, token_hash, created_utc) VALUES (?, ?, ?)"),
                                  {terminal.name, terminal.tokenHash, created.toSecsSinceEpoch()})
                       .error();
    if (result.code == Error::AlreadyExists)
        result.message = QStringLiteral("A terminal named %1 already exists. Choose another name, or remove the "
                                        "old terminal first.")
                             .arg(quoted(terminal.name));
    return result;
}

StorageError AccountStore::removeTerminal(const QString &name)
{
    return changedOrNotFound(m_sql.writeOne(QStringLiteral("remove the terminal %1").arg(quoted(name)),
                                            QStringLiteral("DELETE FROM terminals WHERE name = ?"), {name}),
                             {Error::NotFound, QStringLiteral("There is no terminal named %1.").arg(quoted(name))});
}

Result<Terminal> AccountStore::findTerminal(const QByteArray &tokenHash)
{
    const Error missing{Error::NotFound, QStringLiteral("No terminal is registered with this token.")};
    Result<Terminal> found = missing;
    const Error error = m_sql.read([&](Transaction &tx) {
        found = tx.row<Terminal>(terminalColumns + QStringLiteral(" WHERE token_hash = ?"), {tokenHash}, terminalFrom,
                                 QStringLiteral("read the terminal"), missing);
        return found.error().code == Error::NotFound ? Error::none() : found.error();
    });
    if (!error.ok())
        return error;
    return found;
}

Result<QVector<Terminal>> AccountStore::terminals()
{
    Result<QVector<Terminal>> all = QVector<Terminal>();
    const Error error = m_sql.read([&](Transaction &tx) {
        all = tx.rows<Terminal>(terminalColumns + QStringLiteral(" ORDER BY name"), {}, terminalFrom,
                                QStringLiteral("read the terminals"));
        return all.error();
    });
    if (!error.ok())
        return error;
    return all;
}

// ---- Login throttling -------------------------------------------------------------------------

StorageError AccountStore::updateLoginFailures(const QStringList &keys, const LoginFailuresChange &change)
{
    // One order for every caller, so two attempts that share keys cannot wait on each other.
    QStringList ordered = keys;
    ordered.sort();
    ordered.removeDuplicates();
    const QString doing = QStringLiteral("count the failed login");
    return m_sql.write(doing, [&](Transaction &tx) {
        QSqlQuery query(tx.db());
        QVector<LoginFailures> entries;
        // The no-op update locks an existing row (and the insert a new one) until commit, on
        // PostgreSQL; SQLite's write transaction holds the whole database anyway.
        for (const QString &key : qAsConst(ordered)) {
            const Error error = tx.exec(
                query,
                QStringLiteral("INSERT INTO login_attempts (throttle_key, failures, last_failure_ms, blocked_until_ms)"
                               " VALUES (?, 0, 0, 0) ON CONFLICT (throttle_key) DO UPDATE"
                               " SET failures = login_attempts.failures"
                               " RETURNING failures, last_failure_ms, blocked_until_ms"),
                {key}, doing);
            if (!error.ok())
                return error;
            if (!query.next())
                return Error{Error::Internal, QStringLiteral("Could not %1 in the %2 (no entry came back).")
                                                  .arg(doing, tx.dialect().label)};
            entries.append({key, query.value(0).toInt(), query.value(1).toLongLong(), query.value(2).toLongLong()});
        }
        // Taken after the rows are locked: a wait for another login's lock is no time gone by.
        const Result<qint64> nowMs = readNowMs(tx, doing);
        if (!nowMs)
            return nowMs.error();
        if (!change(entries, *nowMs))
            return Error::none();
        for (const LoginFailures &entry : qAsConst(entries)) {
            const Error error = tx.exec(
                query,
                QStringLiteral("UPDATE login_attempts SET failures = ?, last_failure_ms = ?, blocked_until_ms = ?"
                               " WHERE throttle_key = ?"),
                {entry.failures, entry.lastFailureMs, entry.blockedUntilMs, entry.key}, doing);
            if (!error.ok())
                return error;
        }
        return Error::none();
    });
}

Result<int> AccountStore::forgetLoginFailures(qint64 lastFailureBeforeMs, qint64 nowMs)
{
    // Entries that a login holds right now are skipped rather than waited for: the sweep must
    // never deadlock with a login that locks them in another order.
    const QString &forUpdate = m_sql.dialect().forUpdate;
    const QString skipLocked = forUpdate.isEmpty() ? QString() : forUpdate + QStringLiteral(" SKIP LOCKED");
    return m_sql.writeOne(
        QStringLiteral("forget old failed logins"),
        QStringLiteral("DELETE FROM login_attempts WHERE throttle_key IN (SELECT throttle_key FROM login_attempts"
                       " WHERE last_failure_ms < ? AND blocked_until_ms <= ?%1)")
            .arg(skipLocked),
        {lastFailureBeforeMs, nowMs});
}

Result<bool> AccountStore::loggedInRecently(const QString &userName, const QString &network,
                                            std::chrono::seconds within)
{
    const QString doing = QStringLiteral("read where %1 logged in from").arg(quoted(userName));
    return m_sql.fetch<bool>([&](Transaction &tx) -> Result<bool> {
        const Result<QVector<bool>> found = tx.rows<bool>(
            QStringLiteral("SELECT 1 FROM trusted_logins t JOIN users u ON u.id = t.user_id"
                           " WHERE u.name = ? AND t.network = ? AND t.last_login_ms > %1 - ?")
                .arg(nowMsSql(tx.dialect())),
            {userName, network, qint64(within.count()) * 1000}, [](const QSqlQuery &) { return true; }, doing);
        if (!found)
            return found.error();
        return !found->isEmpty();
    });
}

StorageError AccountStore::rememberLogin(qint64 userId, const QString &network)
{
    return m_sql
        .writeOne(QStringLiteral("note where the user logged in from"),
                  QStringLiteral("INSERT INTO trusted_logins (user_id, network, last_login_ms) VALUES (?, ?, %1)"
                                 " ON CONFLICT (user_id, network) DO UPDATE SET last_login_ms = excluded.last_login_ms")
                      .arg(nowMsSql(m_sql.dialect())),
                  {userId, network})
        .error();
}

Result<int> AccountStore::forgetLogins(qint64 loggedInBeforeMs)
{
    return m_sql.writeOne(QStringLiteral("forget old logins"),
                          QStringLiteral("DELETE FROM trusted_logins WHERE last_login_ms < ?"), {loggedInBeforeMs});
}

} // namespace vorna::service
