#pragma once
// The storage interface of vorna-service. The RPC handlers and the admin commands see only
// this; SQLite (the default, one file in WAL mode) and PostgreSQL implement it.
//
// Time: every date-time here is a civil date-time of the organisation (its wall clock, no
// zone). In C++ it is a QDateTime with Qt::UTC spec used purely as a wall-clock reading, so no
// zone arithmetic ever shifts it. Days are QDate.
//
// Threads: an implementation is safe to call from the gRPC server's worker threads at once;
// each thread gets its own database connection.
//
// Errors: every operation that can fail returns a StorageError whose `message` is a sentence
// fit for a log line or a client's error text. Every write runs in one transaction.
// Lookups return their answer and, through an optional last `error` parameter, why it is
// empty: NotFound for a miss, Unavailable or Internal when the database failed. A caller that
// must not mistake a broken database for a miss (logins, sessions) passes it.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>
#include <optional>

namespace vorna::service {

struct StorageError
{
    enum Code {
        None = 0,
        NotFound,         // the named user, employee, calendar ... does not exist
        AlreadyExists,    // a unique name is taken
        PermissionDenied, // the user may not do this
        InvalidArgument,  // a value is out of range
        Unavailable,      // the database cannot be reached or is locked for too long
        Internal          // anything else; `message` says what
    };
    Code code = None;
    QString message;

    bool ok() const { return code == None; }
    static StorageError none() { return {}; }
};

enum class Role { Viewer = 1, Manager = 2 };

struct User
{
    qint64 id = 0;
    QString name;
    QString passwordHash;   // libsodium crypto_pwhash_str (Argon2id) string
    Role role = Role::Viewer;
    bool allDepartments = false;
    QList<qint64> departmentIds; // meaningful when allDepartments is false
};

struct Department
{
    qint64 id = 0;
    QString name;
};

struct Employee
{
    QString id;              // text id, unique
    QString lastName;
    QString firstName;
    qint64 departmentId = 0;
    QByteArray picture;      // encoded image, may be empty
    QByteArray pictureDigest; // SHA-256 of picture, empty when there is none
};

struct PresenceStatus
{
    qint64 id = 0;
    QString name;            // display text, e.g. "Present"
    int color = 0;           // 0x00BBGGRR
};

struct ActivityKind
{
    qint64 id = 0;
    QString name;            // e.g. "Arrival"
    qint64 statusId = 0;     // the presence status this activity puts the employee in
};

struct Registration
{
    QString employeeId;
    QDateTime at;            // civil
    qint64 activityKindId = 0;
    QString source;          // "terminal:<name>", "demo", "admin" ...
};

struct Calendar
{
    int id = 0;
    QString name;
    int color = 0;
};

struct WorkDayKind
{
    int id = 0;
    QString name;
    int color = 0;
};

// One row of a presence answer.
struct PresenceRow
{
    QString employeeId;
    QString lastName;
    QString firstName;
    QString department;
    QDateTime lastActivity;  // invalid when the employee has no registration at or before T
    bool stale = false;
    QString activityDescription; // the activity kind's name; empty without registration
    QString status;          // presence status name; the "no registration" status without one
    int statusColor = 0;
    QByteArray pictureDigest;
    QByteArray picture;      // empty when the caller already knows pictureDigest
};

struct PresenceQuery
{
    QDateTime at;            // civil moment T
    // Stale when the last registration lies before (start of T's day) minus
    // staleAfterDays - 1 days; 1 means "before the calendar day of T".
    int staleAfterDays = 1;
    QSet<QByteArray> knownPictureDigests;
    // One page of the answer holds at most this many rows, and stops after the row whose
    // picture passes this many bytes of pictures: a page's memory stays bounded however
    // large the organisation.
    int pageRows = 1000;
    qint64 pagePictureBytes = 4 * 1024 * 1024;
};

// Where a presence answer read page by page stands: start with a default one; each page moves
// it on. Pages follow an index, so an employee added between two pages may be missed or listed
// once more, as with any answer read while it changes.
struct PresenceCursor
{
    QByteArray after;        // the order key of the last row read; empty before the first page
    bool done = false;       // no rows follow
};

struct CalendarRange
{
    QString calendarName;
    int calendarColor = 0;
    QDateTime validBegin;    // civil, 00:00 of a day
    QDateTime validEnd;      // civil, 00:00 of a day
};

struct ExceptionDay
{
    QString dayName;
    int dayColor = 0;
    QDate day;
};

struct AuditEntry
{
    qint64 id = 0;
    QString userName;        // who
    QDateTime at;            // when (civil)
    QString action;          // "calendar" or "workday"
    QString employeeId;
    QDate day;               // from which day (calendar) or which day (workday)
    QString newValue;        // name of the calendar or working-day kind assigned
    QString replacedValue;   // what it replaced on that day, empty if nothing
};

struct Session
{
    QByteArray tokenHash;    // SHA-256 of the token; the token itself is never stored
    qint64 userId = 0;
    QString userName;
    QString client;
    QString peer;
    QDateTime createdUtc;    // real UTC, for expiry
    QDateTime lastSeenUtc;
};

struct Terminal
{
    qint64 id = 0;
    QString name;
    QByteArray tokenHash;    // SHA-256 of the device token
    QDateTime createdUtc;
};

// Caps the sessions one user may hold: a new one is refused while the user holds `maxPerUser`
// sessions seen after `lastSeenAfterUtc` (the older ones are idle past expiry). 0 = no cap.
struct SessionCap
{
    int maxPerUser = 0;
    QDateTime lastSeenAfterUtc;
};

// Failed logins counted under one key, e.g. "user:ana" or "address:ipv4:10.0.0.5". Times are
// real UTC seconds, so that every service instance on the database reads them alike.
struct LoginFailures
{
    QString key;
    int failures = 0;
    qint64 lastFailureUtc = 0;
    qint64 blockedUntilUtc = 0;
};

// Hears other service instances' presence changes until it is destroyed.
class PresenceChangeListener
{
public:
    virtual ~PresenceChangeListener() = default;
};

// Progress of long admin work (migrations, demo seeding): done of total, and a phase name.
using Progress = std::function<void(const QString &phase, qint64 done, qint64 total)>;

class Storage
{
public:
    virtual ~Storage() = default;

    // ---- Lifecycle ------------------------------------------------------------------------
    // Applies the numbered migrations that are not yet applied, each in its own transaction.
    // Progress counts only those; a current schema reports nothing.
    virtual StorageError migrate(const Progress &progress = {}) = 0;
    // The highest migration applied, 0 for an empty database.
    virtual int schemaVersion(StorageError *error = nullptr) = 0;
    // A short description for log lines, e.g. "SQLite /var/lib/vorna/vorna.db".
    virtual QString describe() const = 0;
    // Runs `work` in one write transaction: every write it makes through this storage on this
    // thread joins it, and all of them are kept only when `work` succeeds. A process killed
    // part-way leaves nothing of it behind. `doing` completes "Could not ...".
    virtual StorageError inOneTransaction(const QString &doing, const std::function<StorageError()> &work) = 0;

    // ---- Users, sessions, terminals -----------------------------------------------------
    virtual StorageError addUser(const User &user) = 0;
    virtual StorageError setPasswordHash(const QString &userName, const QString &hash) = 0;
    // Also ends the user's sessions.
    virtual StorageError removeUser(const QString &userName) = 0;
    virtual std::optional<User> findUser(const QString &userName, StorageError *error = nullptr) = 0;
    virtual QVector<User> users(StorageError *error = nullptr) = 0;

    // Refused with PermissionDenied (and nothing written) when the user already holds as many
    // sessions as `cap` allows; counted in the same transaction, so concurrent logins of one
    // user on any instance cannot pass the cap together.
    virtual StorageError createSession(const Session &session, const SessionCap &cap = {}) = 0;
    virtual std::optional<Session> findSession(const QByteArray &tokenHash, StorageError *error = nullptr) = 0;
    virtual StorageError touchSession(const QByteArray &tokenHash, const QDateTime &nowUtc) = 0;
    virtual StorageError removeSession(const QByteArray &tokenHash) = 0;
    // Ends every session of the user, e.g. after a password change; `removed` gets how many.
    virtual StorageError removeSessionsOf(const QString &userName, int *removed = nullptr) = 0;
    // Removes sessions whose lastSeenUtc is before `idleBeforeUtc`; returns how many, or -1
    // when the database fails.
    virtual int expireSessions(const QDateTime &idleBeforeUtc) = 0;

    virtual StorageError addTerminal(const Terminal &terminal) = 0;
    virtual StorageError removeTerminal(const QString &name) = 0;
    virtual std::optional<Terminal> findTerminal(const QByteArray &tokenHash, StorageError *error = nullptr) = 0;
    virtual QVector<Terminal> terminals(StorageError *error = nullptr) = 0;

    // Login throttling. In one write transaction that holds the entries of `keys` against every
    // other caller on any instance: reads them (a key without one comes with no failures),
    // lets `change` decide, and writes back what it left when it returns true. So concurrent
    // attempts on one key are counted one after the other.
    virtual StorageError updateLoginFailures(const QStringList &keys,
                                             const std::function<bool(QVector<LoginFailures> &)> &change) = 0;
    virtual StorageError clearLoginFailures(const QStringList &keys) = 0;
    // Removes the entries whose last failure is before `lastFailureBeforeUtc` and whose block
    // has ended at `nowUtc`; returns how many, or -1 when the database fails.
    virtual int forgetLoginFailures(qint64 lastFailureBeforeUtc, qint64 nowUtc) = 0;

    // ---- Organisation data ---------------------------------------------------------------
    virtual StorageError addDepartment(Department &department) = 0;   // sets id
    virtual QVector<Department> departments(StorageError *error = nullptr) = 0;
    virtual StorageError addEmployees(const QVector<Employee> &employees, const Progress &progress = {}) = 0;
    virtual std::optional<Employee> findEmployee(const QString &employeeId, StorageError *error = nullptr) = 0;
    virtual StorageError addPresenceStatus(PresenceStatus &status) = 0; // sets id
    virtual StorageError addActivityKind(ActivityKind &kind) = 0;       // sets id
    virtual QVector<ActivityKind> activityKinds(StorageError *error = nullptr) = 0;
    virtual StorageError addCalendar(Calendar &calendar) = 0;           // sets id
    virtual StorageError addWorkDayKind(WorkDayKind &kind) = 0;         // sets id
    // Bulk load, for the demo and imports.
    virtual StorageError addRegistrations(const QVector<Registration> &registrations, const Progress &progress = {}) = 0;
    virtual StorageError addRegistration(const Registration &registration, qint64 *newId) = 0;

    // ---- Questions the panel asks ---------------------------------------------------------
    // Presence at moment T for the employees `user` may see, in the order last name, first
    // name, id. One call of `sink` per employee; employees without a registration at or before
    // T come with an invalid lastActivity and the "no registration" status.
    virtual StorageError presence(const User &user, const PresenceQuery &query,
                                  const std::function<void(const PresenceRow &)> &sink) = 0;
    // The same answer in pages: the rows after `cursor`, in that order, bounded by the query's
    // page limits (at least one row unless none follow). Each call is one short database visit.
    virtual StorageError presencePage(const User &user, const PresenceQuery &query, PresenceCursor *cursor,
                                      QVector<PresenceRow> *rows) = 0;
    virtual QVector<Calendar> calendars(StorageError *error = nullptr) = 0;
    virtual QVector<WorkDayKind> workDayKinds(StorageError *error = nullptr) = 0;
    // The employee's calendar assignments clipped to the month, in time order; the last one
    // ends at 00:00 of the month's last day. NotFound for an unknown employee.
    virtual StorageError calendarHistory(const QString &employeeId, int year, int month,
                                         QVector<CalendarRange> *out) = 0;
    virtual StorageError exceptionHistory(const QString &employeeId, int year, int month,
                                          QVector<ExceptionDay> *out) = 0;
    // May `user` see (and, as a manager, change) this employee? False with NotFound in
    // `error` for an unknown employee.
    virtual bool employeeVisibleTo(const User &user, const QString &employeeId, StorageError *error = nullptr) = 0;

    // ---- Live presence changes -------------------------------------------------------------
    // Whether several service instances may share this database (PostgreSQL), so that changes
    // must be announced through it; on SQLite one process writes and hears every change.
    virtual bool sharesChanges() const = 0;
    // Tells every instance that listens that someone's presence in `departmentId` changed.
    // Carries the department's number only, no personal data.
    virtual StorageError announcePresenceChange(qint64 departmentId) = 0;
    // Calls `heard` with the department of every change announced from now on, by any instance
    // (this one included), on a thread of its own, until the listener is destroyed. A lost
    // connection is opened again; `lost` is called meanwhile with what happened, so nothing
    // announced in the gap goes unnoticed by the caller. nullptr where sharesChanges() is false.
    virtual std::unique_ptr<PresenceChangeListener> listenForPresenceChanges(
        std::function<void(qint64 departmentId)> heard, std::function<void(const QString &problem)> lost) = 0;

    // ---- Changes the panel makes -----------------------------------------------------------
    // Both write the assignment and its audit entry in one transaction. They check that the
    // user is a manager and may see the employee, and refuse with PermissionDenied otherwise.
    virtual StorageError assignCalendar(const User &user, int calendarId, const QString &employeeId,
                                        const QDate &from, const QDateTime &nowCivil, qint64 *auditId) = 0;
    virtual StorageError assignWorkDay(const User &user, int workDayKindId, const QString &employeeId,
                                       const QDate &day, const QDateTime &nowCivil, qint64 *auditId) = 0;
    virtual QVector<AuditEntry> auditLog(const QString &employeeId = QString(), StorageError *error = nullptr) = 0;
};

enum class OpenMode {
    CreateIfMissing, // a missing SQLite file is created, readable by its owner only (0600)
    MustExist        // a missing SQLite file is refused with NotFound; nothing is created
};

// Opens the storage named by `location`: a PostgreSQL connection string (starting with
// "postgresql://", "postgres://" or holding "host=" / "dbname="), otherwise a path to an
// SQLite file. Does not migrate.
std::unique_ptr<Storage> openStorage(const QString &location, StorageError *error,
                                     OpenMode mode = OpenMode::CreateIfMissing);

} // namespace vorna::service
