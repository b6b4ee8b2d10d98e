#include "sqlstorage.h"

#include "changelistener.h"

#include "bulkinsert.h"
#include "civiltime.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <iterator>
#include <limits>

namespace vorna::service {

namespace {

using Error = StorageError;

// Employees and registrations go in batches; progress is reported per batch.
constexpr int rowsPerProgress = 10000;

Error noEmployee(const QString &code)
{
    return {Error::NotFound, QStringLiteral("There is no employee with the id %1.").arg(quoted(code))};
}

Error noUser(const QString &name)
{
    return {Error::NotFound, QStringLiteral("There is no user named %1.").arg(quoted(name))};
}

// Hands a lookup's outcome to a caller that asked for it.
void tell(Error *out, const Error &error)
{
    if (out)
        *out = error;
}

Error invalid(const QString &sentence)
{
    return {Error::InvalidArgument, sentence};
}

// Turns "no rows changed" into the NotFound sentence of the caller.
Error changedOrNotFound(const Error &executed, int changed, const Error &notFound)
{
    if (!executed.ok())
        return executed;
    return changed > 0 ? Error::none() : notFound;
}

QDateTime utcFromSeconds(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

Session sessionFrom(const QSqlQuery &q)
{
    return {q.value(0).toByteArray(), q.value(1).toLongLong(), q.value(2).toString(), q.value(3).toString(),
            q.value(4).toString(), utcFromSeconds(q.value(5).toLongLong()), utcFromSeconds(q.value(6).toLongLong())};
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
const QString sessionColumns = QStringLiteral(
    "SELECT s.token_hash, s.user_id, u.name, s.client, s.peer, s.created_utc, s.last_seen_utc"
    " FROM sessions s JOIN users u ON u.id = s.user_id");
const QString terminalColumns = QStringLiteral("SELECT id, name, token_hash, created_utc FROM terminals");

QByteArray pictureDigest(const QByteArray &picture)
{
    return picture.isEmpty() ? QByteArray() : QCryptographicHash::hash(picture, QCryptographicHash::Sha256);
}

void report(const Progress &progress, const QString &phase, qint64 done, qint64 total)
{
    if (progress)
        progress(phase, done, total);
}

} // namespace

// The two kinds of assignment differ only in their tables, so one code path serves both.
struct SqlStorage::AssignmentKind
{
    QString action;      // as the audit log records it
    QString valueKind;   // for sentences
    QString valueTable;  // where the assigned value's name lives
    QString replacedSql; // the value in force on (employee, day) before the change
    QString upsertSql;   // (employee, day, value)
};

const SqlStorage::AssignmentKind SqlStorage::calendarAssignment{
    QStringLiteral("calendar"), QStringLiteral("calendar"), QStringLiteral("calendars"),
    QStringLiteral("SELECT c.name FROM calendar_assignments a JOIN calendars c ON c.id = a.calendar_id"
                   " WHERE a.employee_id = ? AND a.valid_from <= ? ORDER BY a.valid_from DESC LIMIT 1"),
    QStringLiteral("INSERT INTO calendar_assignments (employee_id, valid_from, calendar_id) VALUES (?, ?, ?)"
                   " ON CONFLICT (employee_id, valid_from) DO UPDATE SET calendar_id = excluded.calendar_id")};

const SqlStorage::AssignmentKind SqlStorage::workDayAssignment{
    QStringLiteral("workday"), QStringLiteral("working-day kind"), QStringLiteral("work_day_kinds"),
    QStringLiteral("SELECT k.name FROM work_day_exceptions x JOIN work_day_kinds k ON k.id = x.work_day_kind_id"
                   " WHERE x.employee_id = ? AND x.day = ?"),
    QStringLiteral("INSERT INTO work_day_exceptions (employee_id, day, work_day_kind_id) VALUES (?, ?, ?)"
                   " ON CONFLICT (employee_id, day) DO UPDATE SET work_day_kind_id = excluded.work_day_kind_id")};

SqlStorage::SqlStorage(const SqlDialect &dialect)
    : m_sql(dialect)
{
}

QString SqlStorage::describe() const
{
    return m_sql.dialect().label;
}

int SqlStorage::openConnections() const
{
    return m_sql.openConnections();
}

// A list is empty both when there are no rows and when the database fails; `error` tells.
template<typename T>
QVector<T> SqlStorage::readAll(const QString &sql, const QVariantList &values,
                               const std::function<T(const QSqlQuery &)> &make, Error *error)
{
    QVector<T> out;
    tell(error, m_sql.read([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        const Error result = m_sql.exec(query, sql, values, QStringLiteral("read from the database"));
        while (result.ok() && query.next())
            out.append(make(query));
        return result;
    }));
    return out;
}

template<typename T>
std::optional<T> SqlStorage::readOne(const QString &sql, const QVariantList &values,
                                     const std::function<T(const QSqlQuery &)> &make, const Error &missing,
                                     Error *error)
{
    Error result;
    const QVector<T> rows = readAll<T>(sql, values, make, &result);
    if (result.ok() && rows.isEmpty())
        result = missing;
    tell(error, result);
    return rows.isEmpty() ? std::nullopt : std::optional<T>(rows.first());
}

// ---- Lifecycle ------------------------------------------------------------------------------

StorageError SqlStorage::check()
{
    QString problem;
    const int known = MigrationCatalog::load(m_sql.dialect().variant, {}, &problem).size();
    return m_sql.read([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        Error error = m_sql.exec(query, m_sql.dialect().listTables, {}, QStringLiteral("list the tables"));
        QStringList tables;
        while (error.ok() && query.next())
            tables << query.value(0).toString();
        if (!error.ok() || tables.isEmpty())
            return error;
        if (!tables.contains(QStringLiteral("schema_migrations")))
            return invalid(QStringLiteral("The %1 holds tables that are not vorna-service's (it has no "
                                          "schema_migrations table). Give vorna-service an empty database "
                                          "or one of its own.")
                               .arg(describe()));
        const int version = schemaVersion();
        if (version > known)
            return invalid(QStringLiteral("The %1 has schema version %2, but this vorna-service knows only "
                                          "versions up to %3. Run a newer vorna-service on it.")
                               .arg(describe())
                               .arg(version)
                               .arg(known));
        return Error::none();
    });
}

StorageError SqlStorage::migrate(const Progress &progress)
{
    QString problem;
    const QVector<Migration> migrations =
        MigrationCatalog::load(m_sql.dialect().variant, m_sql.dialect().schemaTokens, &problem);
    if (migrations.isEmpty())
        return {Error::Internal, QStringLiteral("This vorna-service carries broken schema migrations (%1). "
                                                "Reinstall it.")
                                     .arg(problem)};
    // Applied ones are skipped without taking the write lock, so starting up stays cheap.
    Error error;
    const int current = schemaVersion(&error);
    if (!error.ok())
        return error;
    QVector<Migration> pending;
    std::copy_if(migrations.cbegin(), migrations.cend(), std::back_inserter(pending),
                 [current](const Migration &migration) { return migration.version > current; });
    const QString phase = QStringLiteral("migrations");
    for (int i = 0; i < pending.size(); ++i) {
        report(progress, phase, i, pending.size());
        error = applyMigration(pending.at(i));
        if (!error.ok())
            return error;
    }
    if (!pending.isEmpty())
        report(progress, phase, pending.size(), pending.size());
    return Error::none();
}

// Each migration checks the version again inside its transaction, after the lock, so two
// processes migrating at once apply it once.
StorageError SqlStorage::applyMigration(const Migration &migration)
{
    const QString doing = QStringLiteral("apply the schema migration %1").arg(migration.name);
    return m_sql.write(doing, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        QStringList preamble = {QStringLiteral("CREATE TABLE IF NOT EXISTS schema_migrations ("
                                               "version INTEGER PRIMARY KEY, applied_at TEXT NOT NULL)"),
                                QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_migrations")};
        if (!m_sql.dialect().migrationLock.isEmpty())
            preamble.prepend(m_sql.dialect().migrationLock);
        for (const QString &statement : qAsConst(preamble)) {
            const Error error = m_sql.exec(query, statement, {}, doing);
            if (!error.ok())
                return error;
        }
        if (query.next() && query.value(0).toInt() >= migration.version)
            return Error::none();
        for (const QString &statement : migration.statements) {
            const Error error = m_sql.exec(query, statement, {}, doing);
            if (!error.ok())
                return error;
        }
        return m_sql.exec(query, QStringLiteral("INSERT INTO schema_migrations (version, applied_at) VALUES (?, ?)"),
                          {migration.version, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)}, doing);
    });
}

int SqlStorage::schemaVersion(Error *failure)
{
    int version = 0;
    tell(failure, m_sql.read([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        Error error = m_sql.exec(query, m_sql.dialect().listTables, {}, QStringLiteral("list the tables"));
        bool hasTable = false;
        while (error.ok() && query.next())
            hasTable = hasTable || query.value(0).toString() == QLatin1String("schema_migrations");
        if (!error.ok() || !hasTable)
            return error;
        error = m_sql.exec(query, QStringLiteral("SELECT COALESCE(MAX(version), 0) FROM schema_migrations"), {},
                           QStringLiteral("read the schema version"));
        if (error.ok() && query.next())
            version = query.value(0).toInt();
        return error;
    }));
    return version;
}

StorageError SqlStorage::inOneTransaction(const QString &doing, const std::function<StorageError()> &work)
{
    return m_sql.write(doing, [&](QSqlDatabase &) { return work(); });
}

// ---- Users, sessions, terminals -------------------------------------------------------------

StorageError SqlStorage::addUser(const User &user)
{
    if (user.name.trimmed().isEmpty())
        return invalid(QStringLiteral("A user needs a name."));
    if (user.passwordHash.isEmpty())
        return invalid(QStringLiteral("The user %1 needs a password.").arg(quoted(user.name)));
    const QString doing = QStringLiteral("add the user %1").arg(quoted(user.name));
    Error result = m_sql.write(doing, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        Error error = m_sql.exec(query,
                                 QStringLiteral("INSERT INTO users (name, password_hash, role, all_departments)"
                                                " VALUES (?, ?, ?, ?) RETURNING id"),
                                 {user.name, user.passwordHash, int(user.role), user.allDepartments ? 1 : 0}, doing);
        if (!error.ok() || !query.next())
            return error;
        const qint64 userId = query.value(0).toLongLong();
        const QSet<qint64> departmentIds(user.departmentIds.cbegin(), user.departmentIds.cend());
        for (qint64 departmentId : departmentIds) {
            error = m_sql.exec(query, QStringLiteral("SELECT 1 FROM departments WHERE id = ?"), {departmentId}, doing);
            if (!error.ok())
                return error;
            if (!query.next())
                return Error{Error::NotFound, QStringLiteral("There is no department with the number %1; the user %2 "
                                                             "was not added.")
                                                  .arg(departmentId)
                                                  .arg(quoted(user.name))};
            error = m_sql.exec(query, QStringLiteral("INSERT INTO user_departments (user_id, department_id) VALUES (?, ?)"),
                               {userId, departmentId}, doing);
            if (!error.ok())
                return error;
        }
        return Error::none();
    });
    if (result.code == Error::AlreadyExists)
        result.message = QStringLiteral("A user named %1 already exists. Choose another name, or change that "
                                        "user's password instead.")
                             .arg(quoted(user.name));
    return result;
}

StorageError SqlStorage::setPasswordHash(const QString &userName, const QString &hash)
{
    if (hash.isEmpty())
        return invalid(QStringLiteral("The new password of %1 is empty.").arg(quoted(userName)));
    int changed = 0;
    const Error error = m_sql.writeOne(QStringLiteral("change the password of %1").arg(quoted(userName)),
                                       QStringLiteral("UPDATE users SET password_hash = ? WHERE name = ?"),
                                       {hash, userName}, &changed);
    return changedOrNotFound(error, changed, noUser(userName));
}

StorageError SqlStorage::removeUser(const QString &userName)
{
    int changed = 0;
    const Error error = m_sql.writeOne(QStringLiteral("remove the user %1").arg(quoted(userName)),
                                       QStringLiteral("DELETE FROM users WHERE name = ?"), {userName}, &changed);
    return changedOrNotFound(error, changed, noUser(userName));
}

std::optional<User> SqlStorage::findUser(const QString &userName, Error *failure)
{
    std::optional<User> found;
    const Error result = m_sql.read([&](QSqlDatabase &db) {
        const QString doing = QStringLiteral("read the user %1").arg(quoted(userName));
        QSqlQuery query(db);
        Error error = m_sql.exec(query, userColumns + QStringLiteral(" WHERE name = ?"), {userName}, doing);
        if (!error.ok() || !query.next())
            return error;
        User user = userFrom(query);
        error = m_sql.exec(query, QStringLiteral("SELECT department_id FROM user_departments WHERE user_id = ? ORDER BY department_id"),
                           {user.id}, doing);
        while (error.ok() && query.next())
            user.departmentIds << query.value(0).toLongLong();
        if (error.ok())
            found = user;
        return error;
    });
    tell(failure, result.ok() && !found ? noUser(userName) : result);
    return found;
}

QVector<User> SqlStorage::users(Error *failure)
{
    Error error;
    QVector<User> all = readAll<User>(userColumns + QStringLiteral(" ORDER BY name"), {}, userFrom, &error);
    QHash<qint64, User *> byId;
    for (User &user : all)
        byId.insert(user.id, &user);
    if (error.ok())
        readAll<bool>(QStringLiteral("SELECT user_id, department_id FROM user_departments ORDER BY department_id"), {},
                      [&](const QSqlQuery &q) {
                          if (User *user = byId.value(q.value(0).toLongLong()))
                              user->departmentIds << q.value(1).toLongLong();
                          return true;
                      },
                      &error);
    tell(failure, error);
    // Users without their departments would look like users who see less than they may.
    return error.ok() ? all : QVector<User>();
}

StorageError SqlStorage::createSession(const Session &session, const SessionCap &cap)
{
    if (session.tokenHash.isEmpty())
        return invalid(QStringLiteral("A session needs a token."));
    const QString doing = QStringLiteral("open a session for %1").arg(quoted(session.userName));
    return m_sql.write(doing, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        // The user id wins; the name serves callers that have only the name. The user's row
        // stays locked until commit, so that two logins cannot both take the last free place.
        const QString &lock = m_sql.dialect().forUpdate;
        Error error = session.userId != 0
            ? m_sql.exec(query, QStringLiteral("SELECT id FROM users WHERE id = ?") + lock, {session.userId}, doing)
            : m_sql.exec(query, QStringLiteral("SELECT id FROM users WHERE name = ?") + lock, {session.userName}, doing);
        if (!error.ok())
            return error;
        if (!query.next())
            return noUser(session.userName);
        const qint64 userId = query.value(0).toLongLong();
        error = checkSessionCap(query, userId, session, cap, doing);
        if (!error.ok())
            return error;
        const QDateTime created = session.createdUtc.isValid() ? session.createdUtc : QDateTime::currentDateTimeUtc();
        const QDateTime lastSeen = session.lastSeenUtc.isValid() ? session.lastSeenUtc : created;
        return m_sql.exec(query,
                          QStringLiteral("INSERT INTO sessions (token_hash, user_id, client, peer, created_utc, last_seen_utc)"
                                         " VALUES (?, ?, ?, ?, ?, ?)"),
                          {session.tokenHash, userId, session.client, session.peer, created.toSecsSinceEpoch(),
                           lastSeen.toSecsSinceEpoch()},
                          doing);
    });
}

StorageError SqlStorage::checkSessionCap(QSqlQuery &query, qint64 userId, const Session &session,
                                         const SessionCap &cap, const QString &doing)
{
    if (cap.maxPerUser <= 0)
        return Error::none();
    const qint64 seenAfter = cap.lastSeenAfterUtc.isValid() ? cap.lastSeenAfterUtc.toSecsSinceEpoch()
                                                            : std::numeric_limits<qint64>::min();
    const Error error = m_sql.exec(
        query, QStringLiteral("SELECT COUNT(*) FROM sessions WHERE user_id = ? AND last_seen_utc > ?"),
        {userId, seenAfter}, doing);
    if (!error.ok() || !query.next() || query.value(0).toLongLong() < cap.maxPerUser)
        return error;
    return {Error::PermissionDenied,
            QStringLiteral("User %1 already has %2 open sessions, the most one user may hold. Log out elsewhere or "
                           "wait until idle sessions expire.")
                .arg(quoted(session.userName))
                .arg(cap.maxPerUser)};
}

std::optional<Session> SqlStorage::findSession(const QByteArray &tokenHash, Error *error)
{
    return readOne<Session>(sessionColumns + QStringLiteral(" WHERE s.token_hash = ?"), {tokenHash}, sessionFrom,
                            {Error::NotFound, QStringLiteral("The session has ended. Log in again.")}, error);
}

StorageError SqlStorage::touchSession(const QByteArray &tokenHash, const QDateTime &nowUtc)
{
    int changed = 0;
    const Error error = m_sql.writeOne(QStringLiteral("note the session's activity"),
                                       QStringLiteral("UPDATE sessions SET last_seen_utc = ? WHERE token_hash = ?"),
                                       {nowUtc.toSecsSinceEpoch(), tokenHash}, &changed);
    return changedOrNotFound(error, changed, {Error::NotFound, QStringLiteral("The session has ended. Log in again.")});
}

StorageError SqlStorage::removeSession(const QByteArray &tokenHash)
{
    int changed = 0;
    const Error error = m_sql.writeOne(QStringLiteral("end the session"),
                                       QStringLiteral("DELETE FROM sessions WHERE token_hash = ?"), {tokenHash}, &changed);
    return changedOrNotFound(error, changed, {Error::NotFound, QStringLiteral("The session has already ended.")});
}

StorageError SqlStorage::removeSessionsOf(const QString &userName, int *removed)
{
    int changed = 0;
    const QString doing = QStringLiteral("end the sessions of %1").arg(quoted(userName));
    const Error error = m_sql.write(doing, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        Error result = m_sql.exec(query, QStringLiteral("SELECT id FROM users WHERE name = ?"), {userName}, doing);
        if (!result.ok())
            return result;
        if (!query.next())
            return noUser(userName);
        const qint64 userId = query.value(0).toLongLong();
        result = m_sql.exec(query, QStringLiteral("DELETE FROM sessions WHERE user_id = ?"), {userId}, doing);
        if (result.ok())
            changed = query.numRowsAffected();
        return result;
    });
    if (error.ok() && removed)
        *removed = changed;
    return error;
}

int SqlStorage::expireSessions(const QDateTime &idleBeforeUtc)
{
    int removed = 0;
    const Error error = m_sql.writeOne(QStringLiteral("remove idle sessions"),
                                       QStringLiteral("DELETE FROM sessions WHERE last_seen_utc < ?"),
                                       {idleBeforeUtc.toSecsSinceEpoch()}, &removed);
    return error.ok() ? removed : -1;
}

StorageError SqlStorage::addTerminal(const Terminal &terminal)
{
    if (terminal.name.trimmed().isEmpty())
        return invalid(QStringLiteral("A terminal needs a name."));
    if (terminal.tokenHash.isEmpty())
        return invalid(QStringLiteral("The terminal %1 needs a token.").arg(quoted(terminal.name)));
    const QDateTime created = terminal.createdUtc.isValid() ? terminal.createdUtc : QDateTime::currentDateTimeUtc();
    Error result = m_sql.writeOne(QStringLiteral("add the terminal %1").arg(quoted(terminal.name)),
                                  QStringLiteral("INSERT INTO terminals (name, token_hash, created_utc) VALUES (?, ?, ?)"),
                                  {terminal.name, terminal.tokenHash, created.toSecsSinceEpoch()});
    if (result.code == Error::AlreadyExists)
        result.message = QStringLiteral("A terminal named %1 already exists. Choose another name, or remove the "
                                        "old terminal first.")
                             .arg(quoted(terminal.name));
    return result;
}

StorageError SqlStorage::removeTerminal(const QString &name)
{
    int changed = 0;
    const Error error = m_sql.writeOne(QStringLiteral("remove the terminal %1").arg(quoted(name)),
                                       QStringLiteral("DELETE FROM terminals WHERE name = ?"), {name}, &changed);
    return changedOrNotFound(error, changed,
                             {Error::NotFound, QStringLiteral("There is no terminal named %1.").arg(quoted(name))});
}

std::optional<Terminal> SqlStorage::findTerminal(const QByteArray &tokenHash, Error *error)
{
    return readOne<Terminal>(terminalColumns + QStringLiteral(" WHERE token_hash = ?"), {tokenHash}, terminalFrom,
                             {Error::NotFound, QStringLiteral("No terminal is registered with this token.")}, error);
}

QVector<Terminal> SqlStorage::terminals(Error *error)
{
    return readAll<Terminal>(terminalColumns + QStringLiteral(" ORDER BY name"), {}, terminalFrom, error);
}

// ---- Login throttling ------------------------------------------------------------------------

StorageError SqlStorage::updateLoginFailures(const QStringList &keys,
                                             const std::function<bool(QVector<LoginFailures> &)> &change)
{
    // One order for every caller, so two attempts that share keys cannot wait on each other.
    QStringList ordered = keys;
    ordered.sort();
    ordered.removeDuplicates();
    const QString doing = QStringLiteral("count the failed login");
    return m_sql.write(doing, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        QVector<LoginFailures> entries;
        // The no-op update locks an existing row (and the insert a new one) until commit, on
        // PostgreSQL; SQLite's write transaction holds the whole database anyway.
        for (const QString &key : qAsConst(ordered)) {
            const Error error = m_sql.exec(
                query,
                QStringLiteral("INSERT INTO login_attempts (throttle_key, failures, last_failure_utc, blocked_until_utc)"
                               " VALUES (?, 0, 0, 0) ON CONFLICT (throttle_key) DO UPDATE"
                               " SET failures = login_attempts.failures"
                               " RETURNING failures, last_failure_utc, blocked_until_utc"),
                {key}, doing);
            if (!error.ok())
                return error;
            if (!query.next())
                return Error{Error::Internal, QStringLiteral("Could not %1 in the %2 (no entry came back).")
                                                  .arg(doing, describe())};
            entries.append({key, query.value(0).toInt(), query.value(1).toLongLong(), query.value(2).toLongLong()});
        }
        if (!change(entries))
            return Error::none();
        for (const LoginFailures &entry : qAsConst(entries)) {
            const Error error = m_sql.exec(
                query,
                QStringLiteral("UPDATE login_attempts SET failures = ?, last_failure_utc = ?, blocked_until_utc = ?"
                               " WHERE throttle_key = ?"),
                {entry.failures, entry.lastFailureUtc, entry.blockedUntilUtc, entry.key}, doing);
            if (!error.ok())
                return error;
        }
        return Error::none();
    });
}

StorageError SqlStorage::clearLoginFailures(const QStringList &keys)
{
    if (keys.isEmpty())
        return Error::none();
    QVariantList values;
    for (const QString &key : keys)
        values << key;
    return m_sql.writeOne(QStringLiteral("clear the failed logins"),
                          QStringLiteral("DELETE FROM login_attempts WHERE throttle_key IN (%1)")
                              .arg(placeholders(keys.size())),
                          values);
}

int SqlStorage::forgetLoginFailures(qint64 lastFailureBeforeUtc, qint64 nowUtc)
{
    // Entries that a login holds right now are skipped rather than waited for: the sweep must
    // never deadlock with a login that locks them in another order.
    const QString &forUpdate = m_sql.dialect().forUpdate;
    const QString skipLocked = forUpdate.isEmpty() ? QString() : forUpdate + QStringLiteral(" SKIP LOCKED");
    int changed = 0;
    const Error error = m_sql.writeOne(
        QStringLiteral("forget old failed logins"),
        QStringLiteral("DELETE FROM login_attempts WHERE throttle_key IN (SELECT throttle_key FROM login_attempts"
                       " WHERE last_failure_utc < ? AND blocked_until_utc <= ?%1)")
            .arg(skipLocked),
        {lastFailureBeforeUtc, nowUtc}, &changed);
    return error.ok() ? changed : -1;
}

// ---- Organisation data ------------------------------------------------------------------------

StorageError SqlStorage::insertNamed(const QString &table, const QStringList &columns, const QString &what,
                                     const QVariantList &values, qint64 *id)
{
    const QString name = values.value(0).toString();
    if (name.trimmed().isEmpty())
        return invalid(QStringLiteral("A %1 needs a name.").arg(what));
    const QString doing = QStringLiteral("add the %1 %2").arg(what, quoted(name));
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING id")
                            .arg(table, columns.join(QLatin1Char(',')), placeholders(columns.size()));
    Error result = m_sql.write(doing, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        const Error error = m_sql.exec(query, sql, values, doing);
        if (error.ok() && query.next())
            *id = query.value(0).toLongLong();
        return error;
    });
    if (result.code == Error::AlreadyExists)
        result.message = QStringLiteral("A %1 named %2 already exists. Choose another name.").arg(what, quoted(name));
    return result;
}

StorageError SqlStorage::addDepartment(Department &department)
{
    return insertNamed(QStringLiteral("departments"), {QStringLiteral("name")}, QStringLiteral("department"),
                       {department.name}, &department.id);
}

QVector<Department> SqlStorage::departments(Error *error)
{
    return readAll<Department>(
        QStringLiteral("SELECT id, name FROM departments ORDER BY name"), {},
        [](const QSqlQuery &q) { return Department{q.value(0).toLongLong(), q.value(1).toString()}; }, error);
}

StorageError SqlStorage::addPresenceStatus(PresenceStatus &status)
{
    return insertNamed(QStringLiteral("presence_statuses"), {QStringLiteral("name"), QStringLiteral("color")},
                       QStringLiteral("presence status"), {status.name, status.color}, &status.id);
}

StorageError SqlStorage::addActivityKind(ActivityKind &kind)
{
    Error error;
    readOne<bool>(QStringLiteral("SELECT 1 FROM presence_statuses WHERE id = ?"), {kind.statusId},
                  [](const QSqlQuery &) { return true; },
                  {Error::NotFound, QStringLiteral("There is no presence status with the number %1 for the activity %2.")
                                        .arg(kind.statusId)
                                        .arg(quoted(kind.name))},
                  &error);
    if (!error.ok())
        return error;
    return insertNamed(QStringLiteral("activity_kinds"), {QStringLiteral("name"), QStringLiteral("status_id")},
                       QStringLiteral("activity kind"), {kind.name, kind.statusId}, &kind.id);
}

QVector<ActivityKind> SqlStorage::activityKinds(Error *error)
{
    return readAll<ActivityKind>(QStringLiteral("SELECT id, name, status_id FROM activity_kinds ORDER BY id"), {},
                                 [](const QSqlQuery &q) {
                                     return ActivityKind{q.value(0).toLongLong(), q.value(1).toString(),
                                                         q.value(2).toLongLong()};
                                 },
                                 error);
}

StorageError SqlStorage::addCalendar(Calendar &calendar)
{
    qint64 id = 0;
    const Error error = insertNamed(QStringLiteral("calendars"), {QStringLiteral("name"), QStringLiteral("color")},
                                    QStringLiteral("calendar"), {calendar.name, calendar.color}, &id);
    calendar.id = int(id);
    return error;
}

StorageError SqlStorage::addWorkDayKind(WorkDayKind &kind)
{
    qint64 id = 0;
    const Error error = insertNamed(QStringLiteral("work_day_kinds"), {QStringLiteral("name"), QStringLiteral("color")},
                                    QStringLiteral("working-day kind"), {kind.name, kind.color}, &id);
    kind.id = int(id);
    return error;
}

QVector<Calendar> SqlStorage::calendars(Error *error)
{
    return readAll<Calendar>(
        QStringLiteral("SELECT id, name, color FROM calendars ORDER BY id"), {},
        [](const QSqlQuery &q) { return Calendar{q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()}; },
        error);
}

QVector<WorkDayKind> SqlStorage::workDayKinds(Error *error)
{
    return readAll<WorkDayKind>(
        QStringLiteral("SELECT id, name, color FROM work_day_kinds ORDER BY id"), {},
        [](const QSqlQuery &q) { return WorkDayKind{q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()}; },
        error);
}

// ---- Employees and registrations ----------------------------------------------------------------

StorageError SqlStorage::loadEmployeeKeys(QSqlDatabase &db, const QString &doing, QHash<QString, qint64> *keys)
{
    QSqlQuery query(db);
    const Error error = m_sql.exec(query, QStringLiteral("SELECT code, id FROM employees"), {}, doing);
    while (error.ok() && query.next())
        keys->insert(query.value(0).toString(), query.value(1).toLongLong());
    return error;
}

StorageError SqlStorage::loadIds(QSqlDatabase &db, const QString &table, const QString &doing, QSet<qint64> *ids)
{
    QSqlQuery query(db);
    const Error error = m_sql.exec(query, QStringLiteral("SELECT id FROM %1").arg(table), {}, doing);
    while (error.ok() && query.next())
        ids->insert(query.value(0).toLongLong());
    return error;
}

StorageError SqlStorage::checkEmployee(const Employee &employee, int position, const QSet<qint64> &departmentIds)
{
    const QString where = QStringLiteral("Employee %1 of the list").arg(position + 1);
    if (employee.id.trimmed().isEmpty())
        return invalid(where + QStringLiteral(" has no id; no employees were added."));
    if (employee.lastName.trimmed().isEmpty() || employee.firstName.trimmed().isEmpty())
        return invalid(QStringLiteral("The employee %1 needs a last and a first name; no employees were added.")
                           .arg(quoted(employee.id)));
    if (!departmentIds.contains(employee.departmentId))
        return {Error::NotFound, QStringLiteral("There is no department with the number %1 for the employee %2; no "
                                                "employees were added.")
                                     .arg(employee.departmentId)
                                     .arg(quoted(employee.id))};
    return Error::none();
}

StorageError SqlStorage::addEmployees(const QVector<Employee> &employees, const Progress &progress)
{
    const QString doing = QStringLiteral("add %1 employees").arg(employees.size());
    const QString phase = QStringLiteral("employees");
    Error result = m_sql.write(doing, [&](QSqlDatabase &db) {
        QSet<qint64> departmentIds;
        Error error = loadIds(db, QStringLiteral("departments"), doing, &departmentIds);
        BulkInsert people(db, QStringLiteral("employees"),
                          {QStringLiteral("code"), QStringLiteral("last_name"), QStringLiteral("first_name"),
                           QStringLiteral("department_id"), QStringLiteral("picture_digest"),
                           QStringLiteral("sort_key")});
        for (int i = 0; error.ok() && i < employees.size(); ++i) {
            const Employee &e = employees.at(i);
            error = checkEmployee(e, i, departmentIds);
            const QByteArray digest = pictureDigest(e.picture);
            if (error.ok() && !people.add({e.id, e.lastName, e.firstName, e.departmentId,
                                           digest.isEmpty() ? QVariant(QVariant::ByteArray) : QVariant(digest),
                                           PresenceReader::sortKey(e.lastName, e.firstName, e.id)}))
                error = m_sql.failure(people.lastError(), doing);
            if (i % rowsPerProgress == 0)
                report(progress, phase, i, employees.size());
        }
        if (error.ok() && !people.finish())
            error = m_sql.failure(people.lastError(), doing);
        QHash<QString, qint64> keys;
        if (error.ok())
            error = loadEmployeeKeys(db, doing, &keys);
        BulkInsert pictures(db, QStringLiteral("employee_pictures"),
                            {QStringLiteral("employee_id"), QStringLiteral("bytes")}, 50);
        for (int i = 0; error.ok() && i < employees.size(); ++i) {
            const Employee &e = employees.at(i);
            if (!e.picture.isEmpty() && !pictures.add({keys.value(e.id), e.picture}))
                error = m_sql.failure(pictures.lastError(), doing);
        }
        if (error.ok() && !pictures.finish())
            error = m_sql.failure(pictures.lastError(), doing);
        return error;
    });
    if (result.code == Error::AlreadyExists)
        result.message = QStringLiteral("An employee id in the list is taken, by an employee already stored or by "
                                        "another one in the list; no employees were added. Give every employee "
                                        "an id of its own.");
    if (result.ok())
        report(progress, phase, employees.size(), employees.size());
    return result;
}

std::optional<Employee> SqlStorage::findEmployee(const QString &employeeId, Error *error)
{
    return readOne<Employee>(
        QStringLiteral("SELECT e.code, e.last_name, e.first_name, e.department_id, p.bytes, e.picture_digest"
                       " FROM employees e LEFT JOIN employee_pictures p ON p.employee_id = e.id WHERE e.code = ?"),
        {employeeId}, [](const QSqlQuery &q) {
            return Employee{q.value(0).toString(),   q.value(1).toString(),    q.value(2).toString(),
                            q.value(3).toLongLong(), q.value(4).toByteArray(), q.value(5).toByteArray()};
        },
        noEmployee(employeeId), error);
}

StorageError SqlStorage::checkRegistration(const Registration &registration, const QHash<QString, qint64> &employees,
                                           const QSet<qint64> &kinds)
{
    if (!employees.contains(registration.employeeId))
        return noEmployee(registration.employeeId);
    if (!kinds.contains(registration.activityKindId))
        return {Error::NotFound, QStringLiteral("There is no activity kind with the number %1.").arg(registration.activityKindId)};
    if (!registration.at.isValid())
        return invalid(QStringLiteral("A registration of the employee %1 has no valid date and time.")
                           .arg(quoted(registration.employeeId)));
    return Error::none();
}

StorageError SqlStorage::addRegistrations(const QVector<Registration> &registrations, const Progress &progress)
{
    const QString doing = QStringLiteral("add %1 registrations").arg(registrations.size());
    const QString phase = QStringLiteral("registrations");
    Error result = m_sql.write(doing, [&](QSqlDatabase &db) {
        QHash<QString, qint64> employees;
        QSet<qint64> kinds;
        Error error = loadEmployeeKeys(db, doing, &employees);
        if (error.ok())
            error = loadIds(db, QStringLiteral("activity_kinds"), doing, &kinds);
        QSet<qint64> registered;
        BulkInsert rows(db, QStringLiteral("registrations"),
                        {QStringLiteral("employee_id"), QStringLiteral("at"), QStringLiteral("activity_kind_id"),
                         QStringLiteral("source")},
                        500);
        for (int i = 0; error.ok() && i < registrations.size(); ++i) {
            const Registration &r = registrations.at(i);
            error = checkRegistration(r, employees, kinds);
            const qint64 employee = employees.value(r.employeeId);
            registered.insert(employee);
            if (error.ok() && !rows.add({employee, civil::seconds(r.at), r.activityKindId, r.source}))
                error = m_sql.failure(rows.lastError(), doing);
            if (i % rowsPerProgress == 0)
                report(progress, phase, i, registrations.size());
        }
        if (error.ok() && !rows.finish())
            error = m_sql.failure(rows.lastError(), doing);
        if (error.ok())
            error = refreshLatestRegistrations(db, registered, doing);
        return error;
    });
    if (!result.ok() && result.code != Error::Unavailable && result.code != Error::Internal)
        result.message += QStringLiteral(" No registrations of this batch were added.");
    if (result.ok())
        report(progress, phase, registrations.size(), registrations.size());
    return result;
}

StorageError SqlStorage::addRegistration(const Registration &registration, qint64 *newId)
{
    const QString doing = QStringLiteral("add a registration of the employee %1").arg(quoted(registration.employeeId));
    return m_sql.write(doing, [&](QSqlDatabase &db) {
        EmployeeKey employee;
        Error error = lookUpEmployee(db, registration.employeeId, &employee);
        QSet<qint64> kinds;
        if (error.ok())
            error = loadIds(db, QStringLiteral("activity_kinds"), doing, &kinds);
        if (error.ok())
            error = checkRegistration(registration, {{registration.employeeId, employee.id}}, kinds);
        QSqlQuery query(db);
        if (error.ok())
            error = m_sql.exec(query,
                               QStringLiteral("INSERT INTO registrations (employee_id, at, activity_kind_id, source)"
                                              " VALUES (?, ?, ?, ?) RETURNING id"),
                               {employee.id, civil::seconds(registration.at), registration.activityKindId,
                                registration.source},
                               doing);
        if (error.ok() && query.next() && newId)
            *newId = query.value(0).toLongLong();
        if (error.ok())
            error = refreshLatestRegistrations(db, {employee.id}, doing);
        return error;
    });
}

// Seeks the newest registration of each given employee and keeps it as the latest unless a
// newer one is kept already: a concurrent writer may have committed one this transaction
// cannot see yet.
StorageError SqlStorage::refreshLatestRegistrations(QSqlDatabase &db, const QSet<qint64> &employees,
                                                    const QString &doing)
{
    constexpr int employeesPerStatement = 500;
    const QString seek = m_sql.dialect().lastRegistrationSeek.arg(QStringLiteral("1 = 1"));
    QList<qint64> keys = employees.values();
    std::sort(keys.begin(), keys.end());
    QSqlQuery query(db);
    for (int start = 0; start < keys.size(); start += employeesPerStatement) {
        QStringList ids;
        for (const qint64 key : keys.mid(start, employeesPerStatement))
            ids << QString::number(key);
        const QString sql =
            QStringLiteral("INSERT INTO latest_registrations (employee_id, registration_id, at, activity_kind_id)"
                           " SELECT e.id, r.id, r.at, r.activity_kind_id FROM employees e %1"
                           " WHERE e.id IN (%2) AND r.id IS NOT NULL"
                           " ON CONFLICT (employee_id) DO UPDATE SET registration_id = excluded.registration_id,"
                           "   at = excluded.at, activity_kind_id = excluded.activity_kind_id"
                           " WHERE excluded.at > latest_registrations.at OR (excluded.at = latest_registrations.at"
                           "   AND excluded.registration_id > latest_registrations.registration_id)")
                .arg(seek, ids.join(QLatin1Char(',')));
        // The seek's moment: after every registration.
        const Error error = m_sql.exec(query, sql, {std::numeric_limits<qint64>::max()}, doing);
        if (!error.ok())
            return error;
    }
    return Error::none();
}

StorageError SqlStorage::lookUpEmployee(QSqlDatabase &db, const QString &code, EmployeeKey *key)
{
    QSqlQuery query(db);
    const Error error = m_sql.exec(query, QStringLiteral("SELECT id, department_id FROM employees WHERE code = ?"),
                                   {code}, QStringLiteral("look up the employee %1").arg(quoted(code)));
    if (!error.ok())
        return error;
    if (!query.next())
        return noEmployee(code);
    *key = {query.value(0).toLongLong(), query.value(1).toLongLong()};
    return Error::none();
}

// ---- Questions the panel asks ---------------------------------------------------------------------

StorageError SqlStorage::presence(const User &user, const PresenceQuery &query,
                                  const std::function<void(const PresenceRow &)> &sink)
{
    return PresenceReader(m_sql).read(user, query, sink);
}

StorageError SqlStorage::presencePage(const User &user, const PresenceQuery &query, PresenceCursor *cursor,
                                      QVector<PresenceRow> *rows)
{
    return PresenceReader(m_sql).readPage(user, query, cursor, rows);
}

StorageError SqlStorage::explainPresence(const User &user, const QDateTime &at, QStringList *plan)
{
    return PresenceReader(m_sql).explain(user, at, plan);
}

bool SqlStorage::employeeVisibleTo(const User &user, const QString &employeeId, Error *failure)
{
    EmployeeKey key;
    const Error error = m_sql.read([&](QSqlDatabase &db) { return lookUpEmployee(db, employeeId, &key); });
    tell(failure, error);
    return error.ok() && (user.allDepartments || user.departmentIds.contains(key.departmentId));
}

StorageError SqlStorage::readMonth(const QString &employeeId, int year, int month, const MonthQuestion &question)
{
    const QDate first(year, month, 1);
    if (!first.isValid())
        return invalid(QStringLiteral("There is no month %1 of the year %2; months run from 1 to 12.").arg(month).arg(year));
    const qint64 firstDay = civil::dayNumber(first);
    const qint64 lastDay = firstDay + first.daysInMonth() - 1;
    return m_sql.read([&](QSqlDatabase &db) {
        EmployeeKey employee;
        Error error = lookUpEmployee(db, employeeId, &employee);
        QSqlQuery query(db);
        if (error.ok())
            error = m_sql.exec(query, question.sql, question.values(employee.id, firstDay, lastDay), question.doing);
        while (error.ok() && query.next())
            question.row(query, firstDay, lastDay);
        return error;
    });
}

StorageError SqlStorage::calendarHistory(const QString &employeeId, int year, int month, QVector<CalendarRange> *out)
{
    QVector<CalendarRange> ranges;
    // The assignment in force on the 1st (the latest one that starts by then), and every one
    // that starts later in the month; each range ends where the next begins.
    const MonthQuestion question{
        QStringLiteral("read the calendars of the employee %1").arg(quoted(employeeId)),
        QStringLiteral("SELECT a.valid_from, c.name, c.color FROM calendar_assignments a"
                       " JOIN calendars c ON c.id = a.calendar_id"
                       " WHERE a.employee_id = ? AND a.valid_from <= ? AND a.valid_from >= COALESCE("
                       "   (SELECT MAX(b.valid_from) FROM calendar_assignments b"
                       "    WHERE b.employee_id = ? AND b.valid_from <= ?), ?)"
                       " ORDER BY a.valid_from"),
        [](qint64 employee, qint64 firstDay, qint64 lastDay) {
            return QVariantList{employee, lastDay, employee, firstDay, firstDay};
        },
        [&](const QSqlQuery &q, qint64 firstDay, qint64 lastDay) {
            const QDateTime begin = civil::startOfDay(civil::dayFromNumber(std::max(q.value(0).toLongLong(), firstDay)));
            if (!ranges.isEmpty())
                ranges.last().validEnd = begin;
            ranges.append({q.value(1).toString(), q.value(2).toInt(), begin,
                           civil::startOfDay(civil::dayFromNumber(lastDay))});
        }};
    const Error error = readMonth(employeeId, year, month, question);
    if (error.ok())
        *out = ranges;
    return error;
}

StorageError SqlStorage::exceptionHistory(const QString &employeeId, int year, int month, QVector<ExceptionDay> *out)
{
    QVector<ExceptionDay> days;
    const MonthQuestion question{
        QStringLiteral("read the working-day exceptions of the employee %1").arg(quoted(employeeId)),
        QStringLiteral("SELECT x.day, k.name, k.color FROM work_day_exceptions x"
                       " JOIN work_day_kinds k ON k.id = x.work_day_kind_id"
                       " WHERE x.employee_id = ? AND x.day BETWEEN ? AND ? ORDER BY x.day"),
        [](qint64 employee, qint64 firstDay, qint64 lastDay) { return QVariantList{employee, firstDay, lastDay}; },
        [&](const QSqlQuery &q, qint64, qint64) {
            days.append({q.value(1).toString(), q.value(2).toInt(), civil::dayFromNumber(q.value(0).toLongLong())});
        }};
    const Error error = readMonth(employeeId, year, month, question);
    if (error.ok())
        *out = days;
    return error;
}

// ---- Changes the panel makes ----------------------------------------------------------------------

StorageError SqlStorage::assignCalendar(const User &user, int calendarId, const QString &employeeId, const QDate &from,
                                        const QDateTime &nowCivil, qint64 *auditId)
{
    return assign(user, calendarAssignment, {employeeId, from, calendarId}, nowCivil, auditId);
}

StorageError SqlStorage::assignWorkDay(const User &user, int workDayKindId, const QString &employeeId,
                                       const QDate &day, const QDateTime &nowCivil, qint64 *auditId)
{
    return assign(user, workDayAssignment, {employeeId, day, workDayKindId}, nowCivil, auditId);
}

StorageError SqlStorage::checkMayChange(const User &user, const EmployeeKey &employee, const QString &employeeId)
{
    if (user.allDepartments || user.departmentIds.contains(employee.departmentId))
        return Error::none();
    return {Error::PermissionDenied, QStringLiteral("The user %1 may not change the employee %2, who works in a "
                                                    "department outside that user's departments. Ask an "
                                                    "administrator for access to that department.")
                                         .arg(quoted(user.name), quoted(employeeId))};
}

StorageError SqlStorage::assign(const User &user, const AssignmentKind &kind, const Assignment &assignment,
                                const QDateTime &nowCivil, qint64 *auditId)
{
    if (user.role != Role::Manager)
        return {Error::PermissionDenied, QStringLiteral("The user %1 may only view attendance; assigning calendars and "
                                                        "working days needs the manager role. Ask an administrator.")
                                             .arg(quoted(user.name))};
    if (user.name.isEmpty())
        return invalid(QStringLiteral("A change needs the name of the user who makes it, for the audit log."));
    if (!assignment.day.isValid())
        return invalid(QStringLiteral("The day of the %1 assignment is not a valid date.").arg(kind.valueKind));
    const QDateTime when = nowCivil.isValid() ? nowCivil : QDateTime::currentDateTime();
    const QString doing = QStringLiteral("assign a %1 to the employee %2").arg(kind.valueKind, quoted(assignment.employeeId));
    return m_sql.write(doing, [&](QSqlDatabase &db) {
        EmployeeKey employee;
        Error error = lookUpEmployee(db, assignment.employeeId, &employee);
        if (error.ok())
            error = checkMayChange(user, employee, assignment.employeeId);
        if (!error.ok())
            return error;
        QSqlQuery query(db);
        error = m_sql.exec(query, QStringLiteral("SELECT name FROM %1 WHERE id = ?").arg(kind.valueTable),
                           {assignment.valueId}, doing);
        if (!error.ok())
            return error;
        if (!query.next())
            return Error{Error::NotFound,
                         QStringLiteral("There is no %1 with the number %2.").arg(kind.valueKind).arg(assignment.valueId)};
        const QString newValue = query.value(0).toString();
        // Serialises changes of one employee, so the replaced value in the audit is exact.
        error = m_sql.exec(query, QStringLiteral("SELECT id FROM employees WHERE id = ?") + m_sql.dialect().forUpdate,
                           {employee.id}, doing);
        const qint64 day = civil::dayNumber(assignment.day);
        if (error.ok())
            error = m_sql.exec(query, kind.replacedSql, {employee.id, day}, doing);
        if (!error.ok())
            return error;
        const QString replaced = query.next() ? query.value(0).toString() : QString();
        error = m_sql.exec(query, kind.upsertSql, {employee.id, day, assignment.valueId}, doing);
        if (error.ok())
            error = m_sql.exec(query,
                               QStringLiteral("INSERT INTO audit_log (user_name, at, action, employee_id, day, new_value,"
                                              " replaced_value) VALUES (?, ?, ?, ?, ?, ?, ?) RETURNING id"),
                               {user.name, civil::seconds(when), kind.action, employee.id, day, newValue, replaced},
                               doing);
        if (error.ok() && query.next() && auditId)
            *auditId = query.value(0).toLongLong();
        return error;
    });
}

QVector<AuditEntry> SqlStorage::auditLog(const QString &employeeId, Error *failure)
{
    QVector<AuditEntry> entries;
    tell(failure, m_sql.read([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        const QString filter = employeeId.isEmpty() ? QString() : QStringLiteral(" WHERE e.code = ?");
        const QVariantList values = employeeId.isEmpty() ? QVariantList() : QVariantList{employeeId};
        const Error error = m_sql.exec(
            query,
            QStringLiteral("SELECT a.id, a.user_name, a.at, a.action, e.code, a.day, a.new_value, a.replaced_value"
                           " FROM audit_log a JOIN employees e ON e.id = a.employee_id%1 ORDER BY a.id")
                .arg(filter),
            values, QStringLiteral("read the audit log"));
        while (error.ok() && query.next())
            entries.append({query.value(0).toLongLong(), query.value(1).toString(),
                            civil::momentFromSeconds(query.value(2).toLongLong()), query.value(3).toString(),
                            query.value(4).toString(), civil::dayFromNumber(query.value(5).toLongLong()),
                            query.value(6).toString(), query.value(7).toString()});
        return error;
    }));
    return entries;
}

// ---- Live presence changes -------------------------------------------------------------

bool SqlStorage::sharesChanges() const
{
    return m_sql.dialect().engine == SqlDialect::Engine::PostgreSQL;
}

StorageError SqlStorage::announcePresenceChange(qint64 departmentId)
{
    if (!sharesChanges())
        return StorageError::none();
    return m_sql.read([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        return m_sql.exec(query, QStringLiteral("SELECT pg_notify('%1', ?)").arg(QLatin1String(PresenceChangeChannel)),
                          {QString::number(departmentId)}, QStringLiteral("announce a presence change"));
    });
}

std::unique_ptr<PresenceChangeListener> SqlStorage::listenForPresenceChanges(
    std::function<void(qint64 departmentId)> heard, std::function<void(const QString &problem)> lost)
{
    if (!sharesChanges())
        return nullptr;
    return std::make_unique<PostgresChangeListener>(m_sql.dialect().connectionString, std::move(heard), std::move(lost));
}

} // namespace vorna::service
