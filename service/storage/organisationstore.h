#pragma once
// The organisation's own data: departments, employees and their pictures, presence statuses,
// activity kinds, calendars and working-day kinds, and the registrations loaded in bulk.
//
// Writers come in two forms: one that runs in a transaction of its own, and one that joins
// the caller's Transaction, so that many of them are kept or dropped together.

#include "storage/sqlexecutor.h"
#include "storage/storage.h"
#include "transfer/rendition.h"

#include <QHash>
#include <QSet>

#include <chrono>

namespace vorna::service {

class OrganisationStore
{
public:
    explicit OrganisationStore(SqlExecutor &sql) : m_sql(sql) {}

    StorageError addDepartment(Department &department);                  // sets id
    StorageError addDepartment(Transaction &tx, Department &department);
    Result<QVector<Department>> departments();

    StorageError addEmployees(const QVector<Employee> &employees, const Progress &progress = {});
    StorageError addEmployees(Transaction &tx, const QVector<Employee> &employees, const Progress &progress = {});
    Result<Employee> findEmployee(const QString &employeeId);

    StorageError addPresenceStatus(PresenceStatus &status);              // sets id
    StorageError addPresenceStatus(Transaction &tx, PresenceStatus &status);
    StorageError addActivityKind(ActivityKind &kind);                    // sets id
    StorageError addActivityKind(Transaction &tx, ActivityKind &kind);
    Result<QVector<ActivityKind>> activityKinds();
    StorageError addCalendar(Calendar &calendar);                        // sets id
    StorageError addCalendar(Transaction &tx, Calendar &calendar);
    Result<QVector<Calendar>> calendars();
    StorageError addWorkDayKind(WorkDayKind &kind);                      // sets id
    StorageError addWorkDayKind(Transaction &tx, WorkDayKind &kind);
    Result<QVector<WorkDayKind>> workDayKinds();

    // Bulk load, for the demo and imports.
    StorageError addRegistrations(const QVector<Registration> &registrations, const Progress &progress = {});
    StorageError addRegistrations(Transaction &tx, const QVector<Registration> &registrations,
                                  const Progress &progress = {});
    // One registration, e.g. from a terminal; the result is its number.
    Result<qint64> addRegistration(const Registration &registration);

    // ---- Administration and imports --------------------------------------------------------
    // The kinds of organisation data that are known by a unique name.
    enum class Kind { Department, Status, Activity, Calendar, WorkDay };
    static QString nounOf(Kind kind); // "department", "presence status" ...
    // The noun with its article, to begin a sentence: "A department", "An activity kind".
    static QString aNoun(const QString &noun);

    // The number behind a name; NotFound names the kind and the name.
    Result<qint64> idOf(Kind kind, const QString &name);
    Result<qint64> idOf(Transaction &tx, Kind kind, const QString &name);
    StorageError rename(Kind kind, const QString &name, const QString &newName);
    // Refused, with nothing removed, while anything refers to it; the sentence names what.
    StorageError remove(Kind kind, const QString &name);

    // Upserts by natural key (the name; the id for employees), inside the caller's
    // transaction. Each sets the record's number and tells whether it added, changed or left
    // the stored record alone. An activity's status and an employee's department are numbers
    // the caller looked up.
    Result<Upsert> upsertDepartment(Transaction &tx, Department &department);
    Result<Upsert> upsertStatus(Transaction &tx, PresenceStatus &status);
    Result<Upsert> upsertActivityKind(Transaction &tx, ActivityKind &kind);
    Result<Upsert> upsertCalendar(Transaction &tx, Calendar &calendar);
    Result<Upsert> upsertWorkDayKind(Transaction &tx, WorkDayKind &kind);
    // An employee's picture nobody refers to any more is deleted in the same transaction.
    Result<Upsert> upsertEmployee(Transaction &tx, const Employee &employee);
    // The same, but the picture the employee had stays for now and `released` gets its
    // digest: an import, which may give it to another employee later in its transaction,
    // removes those nobody refers to at its end (removeUnreferencedPictures).
    Result<Upsert> upsertEmployee(Transaction &tx, const Employee &employee, QSet<QByteArray> *released);
    // The same, each in a transaction of its own.
    template<typename Record>
    Result<Upsert> upsert(Result<Upsert> (OrganisationStore::*one)(Transaction &, Record &), Record &record)
    {
        Result<Upsert> outcome = Upsert::Unchanged;
        const StorageError error = m_sql.write(QStringLiteral("store a change of the organisation"), [&](Transaction &tx) {
            outcome = (this->*one)(tx, record);
            return outcome.error();
        });
        if (!error.ok())
            return error;
        return outcome;
    }

    Result<QVector<PresenceStatus>> presenceStatuses();
    // Every employee without pictures, ordered by id; of one department when it is not 0.
    Result<QVector<Employee>> employees(qint64 departmentId = 0);
    Result<QVector<Employee>> employees(Transaction &tx, qint64 departmentId = 0);
    // The number of every record of the kind by its name, in the caller's transaction; of the
    // statuses only those an organisation made. Imports resolve their references with it.
    Result<QHash<QString, qint64>> idsByName(Transaction &tx, Kind kind);
    // The employee stays with their history; presence answers for moments after `lastDay`
    // leave them out.
    StorageError setLeaveDay(const QString &employeeId, const QDate &lastDay);
    // Their picture goes too when nobody else refers to it.
    StorageError removeEmployee(const QString &employeeId);

    // Adds the registrations that are not stored yet, in the caller's transaction; one that
    // equals a stored one (or an earlier one of the list) in employee, moment and activity is
    // skipped. The result is how many were added.
    Result<qint64> addNewRegistrations(Transaction &tx, const QVector<Registration> &registrations,
                                       const Progress &progress = {});
    // The registrations of the range, in the order employee id, moment.
    Result<QVector<RegistrationRow>> registrations(const RegistrationRange &range);

    // Seeks the newest registration of each given employee and keeps it as the latest.
    static StorageError refreshLatestRegistrations(Transaction &tx, const QSet<qint64> &employees, const QString &doing);

    // ---- Pictures -----------------------------------------------------------------------------
    // Pictures are stored once per original, keyed by its SHA-256, and employees refer to them.
    // A picture nobody refers to is shown nowhere; an import stages its pictures so before the
    // one transaction that makes them visible.

    // The digests of every stored original, read from the key alone.
    Result<QSet<QByteArray>> storedPictureDigests();
    // Stores the pictures that are not stored yet, in one transaction of its own. A stored one
    // that nobody refers to counts as stored just now again, so that removeAbandonedPictures
    // leaves it to the caller.
    // The result: the digests of the originals it stored.
    Result<QVector<QByteArray>> stagePictures(const QVector<transfer::CheckedPicture> &pictures);
    // Deletes those of the pictures that nobody refers to, in the caller's transaction.
    static StorageError removeUnreferencedPictures(Transaction &tx, const QSet<QByteArray> &originalDigests);
    // The same, a batch per transaction of its own, so that no writer waits long.
    StorageError removeUnreferencedPictures(const QVector<QByteArray> &originalDigests);
    // Deletes the pictures that nobody refers to and that were stored more than `age` ago:
    // what a killed import left behind. The result is how many went.
    Result<int> removeAbandonedPictures(std::chrono::seconds age);
    // For a dry run's transaction, which is rolled back: rows without bytes for the originals
    // that are not stored, so that employees can refer to them.
    static StorageError addPictureStandIns(Transaction &tx, const QSet<QByteArray> &originalDigests);
    // The employees with a picture, ordered by id, of one department when it is not 0, each
    // with the first `leadingBytes` bytes of the original: enough to tell its format.
    Result<QVector<StoredPicture>> pictureHeads(qint64 departmentId, int leadingBytes);
    // Hands every original picture to `sink` in the order of employee ids, of one department
    // when it is not 0; one page of pictures is in memory at a time. `sink` returns false to
    // stop.
    StorageError pictureOriginals(qint64 departmentId, const std::function<bool(const StoredPicture &)> &sink);
    // Makes the display rendition of every stored picture that has none, in the caller's
    // transaction, and gives its digest to the employee. A picture that cannot be decoded
    // (none passes the picture check, but older databases may hold one) is its own rendition.
    // The schema migration that brought renditions (12) runs it for the pictures stored
    // before, on that migration's schema: employee_pictures, which migration 13 replaced.
    static StorageError makeMissingRenditions(Transaction &tx, const Progress &progress);

private:
    // SHA-256 of `bytes`; empty for none.
    static QByteArray digestOf(const QByteArray &bytes);
    // What presence answers send of `employee`'s picture: the rendition, or the picture itself
    // when the writer gave none.
    static const QByteArray &shownPicture(const Employee &employee);
    // The bytes as a value to bind, SQL NULL when empty.
    static QVariant bytesOrNull(const QByteArray &bytes);
    // Stores `employee`'s picture unless its original is stored already, and gives the digest
    // of the rendition that presence sends for it.
    static Result<QByteArray> storePicture(Transaction &tx, const Employee &employee, const QByteArray &originalDigest,
                                           const QString &doing);
    // The rendition digest of a stored picture, read from an index alone; a sentence naming
    // the employee when the picture is gone.
    static Result<QByteArray> renditionDigestOf(Transaction &tx, const QByteArray &originalDigest,
                                                const QString &employeeId, const QString &doing);

    // Runs `work` in a transaction of its own.
    StorageError inOwnTransaction(const QString &doing, const std::function<StorageError(Transaction &)> &work);
    StorageError insertNamed(Transaction &tx, const QString &table, const QStringList &columns, const QString &what,
                             const QVariantList &values, qint64 *id);

    SqlExecutor &m_sql;
};

} // namespace vorna::service
