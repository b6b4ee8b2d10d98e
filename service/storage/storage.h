#pragma once
// The records and the result convention of vorna-service's storage. The stores that read and
// write them (database.h) run on SQLite (the default, one file in WAL mode) or PostgreSQL.
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
// Every lookup returns a Result<T>: its value, or why there is none (NotFound for a miss,
// Unavailable or Internal when the database failed), so no caller can mistake a broken
// database for a miss.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

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

// The answer of a lookup: a value, or the error that says why there is none. The value of a
// failed lookup is a default one, so reading it by mistake shows nothing stale.
template<typename T>
class Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(StorageError error) : m_error(std::move(error)) {}

    bool ok() const { return m_error.ok(); }
    explicit operator bool() const { return ok(); }
    const StorageError &error() const { return m_error; }

    const T &value() const & { return m_value; }
    T &value() & { return m_value; }
    // By value from a temporary, so that `for (x : lookup().value())` holds no dangling reference.
    T value() && { return std::move(m_value); }
    T &&take() { return std::move(m_value); }
    const T &operator*() const { return m_value; }
    T &operator*() { return m_value; }
    const T *operator->() const { return &m_value; }
    T *operator->() { return &m_value; }

private:
    T m_value{};
    StorageError m_error;
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
    QByteArray picture;      // the encoded image as it came in (the original), may be empty
    QByteArray pictureDigest; // SHA-256 of what presence answers send (the rendition); empty without a picture
    QDate leftOn;            // the last day of employment; invalid while employed
    // The picture's display rendition (transfer/rendition.h), which presence answers send. A
    // writer that gives a picture without one has the picture itself sent: for pictures made
    // display-sized already, such as the demo's.
    QByteArray rendition{};
    // SHA-256 of the original. A writer that gives it without `picture` refers to a picture
    // stored already (OrganisationStore::stagePictures), so that no bytes are copied.
    QByteArray originalDigest{};
};

// A stored picture as it came in, or its first bytes.
struct StoredPicture
{
    QString employeeId;
    QByteArray bytes;
};

struct PresenceStatus
{
    qint64 id = 0;
    QString name;            // display text, e.g. "Present"
    int color = 0;           // 0x00BBGGRR
    bool countsPresent = false; // time in it counts as time present in monthly reports
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
    QByteArray pictureDigest; // of the rendition
    QByteArray picture;      // the display rendition; empty when the caller already knows pictureDigest
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

// What an upsert by natural key did.
enum class Upsert { Added, Changed, Unchanged };

// One stored registration with what it means, for exports and reports.
struct RegistrationRow
{
    QString employeeId;
    QDateTime at;            // civil
    QString activity;
    QString status;
    bool countsPresent = false;
    QString source;
};

// Which registrations to read: the days from..to (both included), of one department (0: all).
// With `withPrevious`, each employee's last registration before `from` comes too, so a
// status that began earlier can be followed into the range.
struct RegistrationRange
{
    QDate from;
    QDate to;
    qint64 departmentId = 0;
    bool withPrevious = false;
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

// One employee's calendars and working-day exceptions in one month.
struct EmployeeMonth
{
    QString employeeId;
    QVector<CalendarRange> calendars;
    QVector<ExceptionDay> exceptions;
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
    QDateTime createdUtc;    // real UTC by the database's clock
    QDateTime lastSeenUtc;
    // How long ago lastSeenUtc was by the database's clock when the session was read; every
    // instance measures idleness on that one clock.
    std::chrono::seconds idleFor{0};
};

struct Terminal
{
    qint64 id = 0;
    QString name;
    QByteArray tokenHash;    // SHA-256 of the device token
    QDateTime createdUtc;
};

// What a new session must meet, checked in the transaction that inserts it. A new one is
// refused while the user holds `maxPerUser` sessions (0 = no cap) idle for less than `idle`
// (0 = every session counts), and when the user's password hash is no longer
// `verifiedPasswordHash`, the one the login checked (empty = not checked).
struct SessionRules
{
    int maxPerUser = 0;
    std::chrono::seconds idle{0};
    QString verifiedPasswordHash;
};

// Failed logins counted under one key, e.g. "user:ana" or "address:ipv4:10.0.0.5". Times are
// milliseconds since the epoch by the database's clock, so that every service instance on the
// database reads them alike.
struct LoginFailures
{
    QString key;
    int failures = 0;
    qint64 lastFailureMs = 0;
    qint64 blockedUntilMs = 0;
};

// Hears other service instances' presence changes until it is destroyed.
class PresenceChangeListener
{
public:
    virtual ~PresenceChangeListener() = default;
};

// Progress of long admin work (migrations, demo seeding): done of total, and a phase name.
using Progress = std::function<void(const QString &phase, qint64 done, qint64 total)>;

} // namespace vorna::service
