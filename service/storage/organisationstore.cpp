#include "storage/organisationstore.h"

#include "storage/bulkinsert.h"
#include "storage/civiltime.h"
#include "storage/employeekey.h"
#include "storage/presencereader.h"
#include "transfer/rendition.h"

#include <QtConcurrent>


#include <algorithm>
#include <limits>

namespace vorna::service {

namespace {

using Error = StorageError;

// Employees and registrations go in batches; progress is reported per batch.
constexpr int rowsPerProgress = 10000;

using transfer::pictureDigest;

// Stores a picture unless its original is stored already.
const QString insertPictureSql =
    QStringLiteral("INSERT INTO pictures (original_digest, rendition_digest, stored_utc, rendition, original)"
                   " VALUES (?, ?, ?, ?, ?) ON CONFLICT (original_digest) DO NOTHING");

// When a picture was stored, in real UTC seconds: how long one nobody refers to has waited.
qint64 storedNow()
{
    return QDateTime::currentSecsSinceEpoch();
}

// The condition that no employee refers to the picture row.
const QString nobodyRefers =
    QStringLiteral("NOT EXISTS (SELECT 1 FROM employees e WHERE e.original_digest = pictures.original_digest)");

// Runs `work` on the digests a batch per transaction of its own, so that no writer waits long.
Error inPictureBatches(SqlExecutor &sql, const QString &doing, const QVector<QByteArray> &digests,
                       const std::function<Error(Transaction &, const QVector<QByteArray> &)> &work)
{
    constexpr int picturesPerTransaction = 64;
    for (int first = 0; first < digests.size(); first += picturesPerTransaction) {
        const QVector<QByteArray> batch = digests.mid(first, picturesPerTransaction);
        const Error error = sql.write(doing, [&](Transaction &tx) { return work(tx, batch); });
        if (!error.ok())
            return error;
    }
    return Error::none();
}

Error bindAndRun(Transaction &tx, QSqlQuery &prepared, const QVariantList &values, const QString &doing)
{
    for (int i = 0; i < values.size(); ++i)
        prepared.bindValue(i, values.at(i));
    if (!prepared.exec())
        return tx.failure(prepared.lastError(), doing);
    tx.noteStatementDone();
    return Error::none();
}

Error loadEmployeeKeys(Transaction &tx, const QString &doing, QHash<QString, qint64> *keys)
{
    QSqlQuery query(tx.db());
    const Error error = tx.exec(query, QStringLiteral("SELECT code, id FROM employees"), {}, doing);
    while (error.ok() && query.next())
        keys->insert(query.value(0).toString(), query.value(1).toLongLong());
    return error;
}

Error loadIds(Transaction &tx, const QString &table, const QString &doing, QSet<qint64> *ids)
{
    QSqlQuery query(tx.db());
    const Error error = tx.exec(query, QStringLiteral("SELECT id FROM %1").arg(table), {}, doing);
    while (error.ok() && query.next())
        ids->insert(query.value(0).toLongLong());
    return error;
}

Error checkEmployee(const Employee &employee, int position, const QSet<qint64> &departmentIds)
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

Error checkRegistration(const Registration &registration, const QHash<QString, qint64> &employees,
                        const QSet<qint64> &kinds)
{
    if (!employees.contains(registration.employeeId))
        return noEmployee(registration.employeeId);
    if (!kinds.contains(registration.activityKindId))
        return {Error::NotFound,
                QStringLiteral("There is no activity kind with the number %1.").arg(registration.activityKindId)};
    if (!registration.at.isValid())
        return invalid(QStringLiteral("A registration of the employee %1 has no valid date and time.")
                           .arg(quoted(registration.employeeId)));
    return Error::none();
}

} // namespace

StorageError OrganisationStore::inOwnTransaction(const QString &doing,
                                                 const std::function<StorageError(Transaction &)> &work)
{
    return m_sql.write(doing, work);
}

// ---- Named kinds ------------------------------------------------------------------------------

QString OrganisationStore::aNoun(const QString &noun)
{
    const bool vowel = !noun.isEmpty() && QStringLiteral("aeiou").contains(noun.front().toLower());
    return (vowel ? QStringLiteral("An ") : QStringLiteral("A ")) + noun;
}

StorageError OrganisationStore::insertNamed(Transaction &tx, const QString &table, const QStringList &columns,
                                            const QString &what, const QVariantList &values, qint64 *id)
{
    const QString name = values.value(0).toString();
    if (name.trimmed().isEmpty())
        return invalid(QStringLiteral("%1 needs a name.").arg(aNoun(what)));
    const QString doing = QStringLiteral("add the %1 %2").arg(what, quoted(name));
    const QString sql = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) RETURNING id")
                            .arg(table, columns.join(QLatin1Char(',')), placeholders(columns.size()));
    QSqlQuery query(tx.db());
    Error error = tx.exec(query, sql, values, doing);
    if (error.ok() && query.next())
        *id = query.value(0).toLongLong();
    if (error.code == Error::AlreadyExists)
        error.message = QStringLiteral("%1 named %2 already exists. Choose another name.").arg(aNoun(what), quoted(name));
    return error;
}

StorageError OrganisationStore::addDepartment(Department &department)
{
    return inOwnTransaction(QStringLiteral("add a department"),
                            [&](Transaction &tx) { return addDepartment(tx, department); });
}

StorageError OrganisationStore::addDepartment(Transaction &tx, Department &department)
{
    return insertNamed(tx, QStringLiteral("departments"), {QStringLiteral("name")}, QStringLiteral("department"),
                       {department.name}, &department.id);
}

Result<QVector<Department>> OrganisationStore::departments()
{
    return m_sql.fetch<QVector<Department>>([](Transaction &tx) {
        return tx.rows<Department>(
            QStringLiteral("SELECT id, name FROM departments ORDER BY name"), {},
            [](const QSqlQuery &q) { return Department{q.value(0).toLongLong(), q.value(1).toString()}; },
            QStringLiteral("read the departments"));
    });
}

StorageError OrganisationStore::addPresenceStatus(PresenceStatus &status)
{
    return inOwnTransaction(QStringLiteral("add a presence status"),
                            [&](Transaction &tx) { return addPresenceStatus(tx, status); });
}

StorageError OrganisationStore::addPresenceStatus(Transaction &tx, PresenceStatus &status)
{
    return insertNamed(tx, QStringLiteral("presence_statuses"),
                       {QStringLiteral("name"), QStringLiteral("color"), QStringLiteral("counts_present")},
                       QStringLiteral("presence status"), {status.name, status.color, status.countsPresent ? 1 : 0},
                       &status.id);
}

StorageError OrganisationStore::addActivityKind(ActivityKind &kind)
{
    return inOwnTransaction(QStringLiteral("add an activity kind"),
                            [&](Transaction &tx) { return addActivityKind(tx, kind); });
}

StorageError OrganisationStore::addActivityKind(Transaction &tx, ActivityKind &kind)
{
    const Result<bool> status = tx.row<bool>(
        QStringLiteral("SELECT 1 FROM presence_statuses WHERE id = ?"), {kind.statusId},
        [](const QSqlQuery &) { return true; }, QStringLiteral("look up the presence status"),
        {Error::NotFound, QStringLiteral("There is no presence status with the number %1 for the activity %2.")
                              .arg(kind.statusId)
                              .arg(quoted(kind.name))});
    if (!status)
        return status.error();
    return insertNamed(tx, QStringLiteral("activity_kinds"), {QStringLiteral("name"), QStringLiteral("status_id")},
                       QStringLiteral("activity kind"), {kind.name, kind.statusId}, &kind.id);
}

Result<QVector<ActivityKind>> OrganisationStore::activityKinds()
{
    return m_sql.fetch<QVector<ActivityKind>>([](Transaction &tx) {
        return tx.rows<ActivityKind>(QStringLiteral("SELECT id, name, status_id FROM activity_kinds ORDER BY id"), {},
                                     [](const QSqlQuery &q) {
                                         return ActivityKind{q.value(0).toLongLong(), q.value(1).toString(),
                                                             q.value(2).toLongLong()};
                                     },
                                     QStringLiteral("read the activity kinds"));
    });
}

StorageError OrganisationStore::addCalendar(Calendar &calendar)
{
    return inOwnTransaction(QStringLiteral("add a calendar"),
                            [&](Transaction &tx) { return addCalendar(tx, calendar); });
}

StorageError OrganisationStore::addCalendar(Transaction &tx, Calendar &calendar)
{
    qint64 id = 0;
    const Error error = insertNamed(tx, QStringLiteral("calendars"), {QStringLiteral("name"), QStringLiteral("color")},
                                    QStringLiteral("calendar"), {calendar.name, calendar.color}, &id);
    calendar.id = int(id);
    return error;
}

StorageError OrganisationStore::addWorkDayKind(WorkDayKind &kind)
{
    return inOwnTransaction(QStringLiteral("add a working-day kind"),
                            [&](Transaction &tx) { return addWorkDayKind(tx, kind); });
}

StorageError OrganisationStore::addWorkDayKind(Transaction &tx, WorkDayKind &kind)
{
    qint64 id = 0;
    const Error error = insertNamed(tx, QStringLiteral("work_day_kinds"),
                                    {QStringLiteral("name"), QStringLiteral("color")},
                                    QStringLiteral("working-day kind"), {kind.name, kind.color}, &id);
    kind.id = int(id);
    return error;
}

Result<QVector<Calendar>> OrganisationStore::calendars()
{
    return m_sql.fetch<QVector<Calendar>>([](Transaction &tx) {
        return tx.rows<Calendar>(
            QStringLiteral("SELECT id, name, color FROM calendars ORDER BY id"), {},
            [](const QSqlQuery &q) { return Calendar{q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()}; },
            QStringLiteral("read the calendars"));
    });
}

Result<QVector<WorkDayKind>> OrganisationStore::workDayKinds()
{
    return m_sql.fetch<QVector<WorkDayKind>>([](Transaction &tx) {
        return tx.rows<WorkDayKind>(
            QStringLiteral("SELECT id, name, color FROM work_day_kinds ORDER BY id"), {},
            [](const QSqlQuery &q) { return WorkDayKind{q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()}; },
            QStringLiteral("read the working-day kinds"));
    });
}

// ---- Employees --------------------------------------------------------------------------------

StorageError OrganisationStore::addEmployees(const QVector<Employee> &employees, const Progress &progress)
{
    return inOwnTransaction(QStringLiteral("add %1 employees").arg(employees.size()),
                            [&](Transaction &tx) { return addEmployees(tx, employees, progress); });
}

StorageError OrganisationStore::addEmployees(Transaction &tx, const QVector<Employee> &employees,
                                             const Progress &progress)
{
    const QString doing = QStringLiteral("add %1 employees").arg(employees.size());
    const QString phase = QStringLiteral("employees");
    QSet<qint64> departmentIds;
    Error error = loadIds(tx, QStringLiteral("departments"), doing, &departmentIds);
    // The pictures first, each original once, for the employees to refer to.
    QHash<QByteArray, QByteArray> shownDigests; // by the original's digest
    for (int i = 0; error.ok() && i < employees.size(); ++i) {
        const Employee &e = employees.at(i);
        const QByteArray original = digestOf(e.picture);
        if (original.isEmpty() || shownDigests.contains(original))
            continue;
        shownDigests.insert(original, digestOf(shownPicture(e)));
        error = tx.changeWithBytes(insertPictureSql,
                                   {original, shownDigests.value(original), storedNow(), shownPicture(e), e.picture}, doing)
                    .error();
    }
    BulkInsert people(tx.db(), QStringLiteral("employees"),
                      {QStringLiteral("code"), QStringLiteral("last_name"), QStringLiteral("first_name"),
                       QStringLiteral("department_id"), QStringLiteral("picture_digest"), QStringLiteral("sort_key"),
                       QStringLiteral("original_digest")});
    for (int i = 0; error.ok() && i < employees.size(); ++i) {
        const Employee &e = employees.at(i);
        const QByteArray original = digestOf(e.picture);
        error = checkEmployee(e, i, departmentIds);
        if (error.ok() && !people.add({e.id, e.lastName, e.firstName, e.departmentId,
                                       bytesOrNull(shownDigests.value(original)),
                                       PresenceReader::sortKey(e.lastName, e.firstName, e.id), bytesOrNull(original)}))
            error = tx.failure(people.lastError(), doing);
        if (i % rowsPerProgress == 0)
            report(progress, phase, i, employees.size());
    }
    if (error.ok() && !people.finish())
        error = tx.failure(people.lastError(), doing);
    if (error.code == Error::AlreadyExists)
        error.message = QStringLiteral("An employee id in the list is taken, by an employee already stored or by "
                                       "another one in the list; no employees were added. Give every employee "
                                       "an id of its own.");
    if (error.ok())
        report(progress, phase, employees.size(), employees.size());
    return error;
}

Result<Employee> OrganisationStore::findEmployee(const QString &employeeId)
{
    return m_sql.fetch<Employee>([&](Transaction &tx) {
        return tx.row<Employee>(
            QStringLiteral("SELECT e.code, e.last_name, e.first_name, e.department_id, p.original, e.picture_digest,"
                           " e.left_on, p.rendition, e.original_digest FROM employees e"
                           " LEFT JOIN pictures p ON p.original_digest = e.original_digest WHERE e.code = ?"),
            {employeeId},
            [](const QSqlQuery &q) {
                Employee e{q.value(0).toString(),   q.value(1).toString(),    q.value(2).toString(),
                           q.value(3).toLongLong(), q.value(4).toByteArray(), q.value(5).toByteArray(), {}};
                if (!q.isNull(6))
                    e.leftOn = civil::dayFromNumber(q.value(6).toLongLong());
                e.rendition = q.value(7).toByteArray();
                e.originalDigest = q.value(8).toByteArray();
                return e;
            },
            QStringLiteral("read the employee %1").arg(quoted(employeeId)), noEmployee(employeeId));
    });
}

// ---- Registrations ----------------------------------------------------------------------------

StorageError OrganisationStore::addRegistrations(const QVector<Registration> &registrations, const Progress &progress)
{
    return inOwnTransaction(QStringLiteral("add %1 registrations").arg(registrations.size()),
                            [&](Transaction &tx) { return addRegistrations(tx, registrations, progress); });
}

StorageError OrganisationStore::addRegistrations(Transaction &tx, const QVector<Registration> &registrations,
                                                 const Progress &progress)
{
    const QString doing = QStringLiteral("add %1 registrations").arg(registrations.size());
    const QString phase = QStringLiteral("registrations");
    QHash<QString, qint64> employees;
    QSet<qint64> kinds;
    Error error = loadEmployeeKeys(tx, doing, &employees);
    if (error.ok())
        error = loadIds(tx, QStringLiteral("activity_kinds"), doing, &kinds);
    QSet<qint64> registered;
    BulkInsert rows(tx.db(), QStringLiteral("registrations"),
                    {QStringLiteral("employee_id"), QStringLiteral("at"), QStringLiteral("activity_kind_id"),
                     QStringLiteral("source")},
                    500);
    for (int i = 0; error.ok() && i < registrations.size(); ++i) {
        const Registration &r = registrations.at(i);
        error = checkRegistration(r, employees, kinds);
        const qint64 employee = employees.value(r.employeeId);
        registered.insert(employee);
        if (error.ok() && !rows.add({employee, civil::seconds(r.at), r.activityKindId, r.source}))
            error = tx.failure(rows.lastError(), doing);
        if (i % rowsPerProgress == 0)
            report(progress, phase, i, registrations.size());
    }
    if (error.ok() && !rows.finish())
        error = tx.failure(rows.lastError(), doing);
    if (error.ok())
        error = refreshLatestRegistrations(tx, registered, doing);
    if (!error.ok() && error.code != Error::Unavailable && error.code != Error::Internal)
        error.message += QStringLiteral(" No registrations of this batch were added.");
    if (error.ok())
        report(progress, phase, registrations.size(), registrations.size());
    return error;
}

Result<qint64> OrganisationStore::addRegistration(const Registration &registration)
{
    const QString doing = QStringLiteral("add a registration of the employee %1").arg(quoted(registration.employeeId));
    qint64 newId = 0;
    const Error error = m_sql.write(doing, [&](Transaction &tx) {
        const Result<EmployeeKey> employee = lookUpEmployee(tx, registration.employeeId);
        if (!employee)
            return employee.error();
        QSet<qint64> kinds;
        Error failed = loadIds(tx, QStringLiteral("activity_kinds"), doing, &kinds);
        if (failed.ok())
            failed = checkRegistration(registration, {{registration.employeeId, employee->id}}, kinds);
        QSqlQuery query(tx.db());
        if (failed.ok())
            failed = tx.exec(query,
                             QStringLiteral("INSERT INTO registrations (employee_id, at, activity_kind_id, source)"
                                            " VALUES (?, ?, ?, ?) RETURNING id"),
                             {employee->id, civil::seconds(registration.at), registration.activityKindId,
                              registration.source},
                             doing);
        if (failed.ok() && query.next())
            newId = query.value(0).toLongLong();
        if (failed.ok())
            failed = refreshLatestRegistrations(tx, {employee->id}, doing);
        return failed;
    });
    if (!error.ok())
        return error;
    return newId;
}

// Seeks the newest registration of each given employee and keeps it as the latest unless a
// newer one is kept already: a concurrent writer may have committed one this transaction
// cannot see yet.
StorageError OrganisationStore::refreshLatestRegistrations(Transaction &tx, const QSet<qint64> &employees,
                                                           const QString &doing)
{
    constexpr int employeesPerStatement = 500;
    const QString seek = tx.dialect().lastRegistrationSeek.arg(QStringLiteral("1 = 1"));
    QList<qint64> keys = employees.values();
    std::sort(keys.begin(), keys.end());
    QSqlQuery query(tx.db());
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
        const Error error = tx.exec(query, sql, {std::numeric_limits<qint64>::max()}, doing);
        if (!error.ok())
            return error;
    }
    return Error::none();
}

// ---- Pictures ---------------------------------------------------------------------------------

QByteArray OrganisationStore::digestOf(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QByteArray() : pictureDigest(bytes);
}

const QByteArray &OrganisationStore::shownPicture(const Employee &employee)
{
    return employee.rendition.isEmpty() ? employee.picture : employee.rendition;
}

QVariant OrganisationStore::bytesOrNull(const QByteArray &bytes)
{
    return bytes.isEmpty() ? QVariant(QVariant::ByteArray) : QVariant(bytes);
}

Result<QByteArray> OrganisationStore::storePicture(Transaction &tx, const Employee &employee,
                                                  const QByteArray &originalDigest, const QString &doing)
{
    const Result<int> stored = tx.changeWithBytes(
        insertPictureSql,
        {originalDigest, digestOf(shownPicture(employee)), storedNow(), shownPicture(employee), employee.picture}, doing);
    if (!stored)
        return stored.error();
    // Stored before, perhaps with a rendition made by another build: that one is what panels hold.
    return renditionDigestOf(tx, originalDigest, employee.id, doing);
}

// SQLite would find the row by the primary key and read it, and through its memory map the
// blob pages around it too; the index that holds both digests answers alone.
Result<QByteArray> OrganisationStore::renditionDigestOf(Transaction &tx, const QByteArray &originalDigest,
                                                        const QString &employeeId, const QString &doing)
{
    const QString index = tx.dialect().engine == SqlDialect::Engine::SQLite
        ? QStringLiteral(" INDEXED BY pictures_rendition_digest")
        : QString();
    return tx.row<QByteArray>(
        QStringLiteral("SELECT rendition_digest FROM pictures%1 WHERE original_digest = ?").arg(index), {originalDigest},
        [](const QSqlQuery &q) { return q.value(0).toByteArray(); }, doing,
        {Error::NotFound, QStringLiteral("The picture of the employee %1 is no longer stored: it was removed while "
                                         "it waited to be used (by another import's cleanup, or an edit). Run the "
                                         "import again.").arg(quoted(employeeId))});
}

Result<QSet<QByteArray>> OrganisationStore::storedPictureDigests()
{
    return m_sql.fetch<QSet<QByteArray>>([](Transaction &tx) -> Result<QSet<QByteArray>> {
        QSqlQuery query(tx.db());
        query.setForwardOnly(true);
        const Error error = tx.exec(query, QStringLiteral("SELECT original_digest FROM pictures"), {},
                                    QStringLiteral("read which pictures are stored"));
        QSet<QByteArray> digests;
        while (error.ok() && query.next())
            digests.insert(query.value(0).toByteArray());
        if (!error.ok())
            return error;
        return digests;
    });
}

Result<QVector<QByteArray>> OrganisationStore::stagePictures(const QVector<transfer::CheckedPicture> &pictures)
{
    const QString doing = QStringLiteral("store %1 pictures").arg(pictures.size());
    QVector<QByteArray> added;
    const Error error = m_sql.write(doing, [&](Transaction &tx) {
        added.clear();
        QSqlQuery refresh(tx.db());
        // Only a row nobody refers to: a referenced one is not abandoned, and rewriting it
        // would rewrite its blobs.
        if (!refresh.prepare(QStringLiteral("UPDATE pictures SET stored_utc = ? WHERE original_digest = ? AND ")
                             + nobodyRefers))
            return tx.failure(refresh.lastError(), doing);
        for (const transfer::CheckedPicture &picture : pictures) {
            const QByteArray &original = picture.originalDigest;
            const QByteArray &shown = picture.rendition.isEmpty() ? picture.original : picture.rendition;
            const Result<int> inserted = tx.changeWithBytes(
                insertPictureSql, {original, picture.renditionDigest, storedNow(), shown, picture.original}, doing);
            Error failed = inserted.error();
            if (failed.ok() && *inserted > 0)
                added.append(original);
            else if (failed.ok())
                failed = bindAndRun(tx, refresh, {storedNow(), original}, doing);
            if (!failed.ok())
                return failed;
        }
        return Error::none();
    });
    if (!error.ok())
        return error;
    return added;
}

StorageError OrganisationStore::removeUnreferencedPictures(Transaction &tx, const QSet<QByteArray> &originalDigests)
{
    const QString doing = QStringLiteral("remove the pictures nobody refers to");
    QSqlQuery remove(tx.db());
    if (!originalDigests.isEmpty()
        && !remove.prepare(QStringLiteral("DELETE FROM pictures WHERE original_digest = ? AND ") + nobodyRefers))
        return tx.failure(remove.lastError(), doing);
    for (const QByteArray &digest : originalDigests) {
        const Error error = bindAndRun(tx, remove, {digest}, doing);
        if (!error.ok())
            return error;
    }
    return Error::none();
}

StorageError OrganisationStore::removeUnreferencedPictures(const QVector<QByteArray> &originalDigests)
{
    return inPictureBatches(m_sql, QStringLiteral("remove the pictures nobody refers to"), originalDigests,
                            [](Transaction &tx, const QVector<QByteArray> &batch) {
                                return removeUnreferencedPictures(tx, QSet<QByteArray>(batch.cbegin(), batch.cend()));
                            });
}

Result<int> OrganisationStore::removeAbandonedPictures(std::chrono::seconds age)
{
    const QString doing = QStringLiteral("look for pictures a stopped import left behind");
    const qint64 storedBefore = storedNow() - qint64(age.count());
    // From an index alone (pictures_stored): reading each picture row for its age would bring
    // the blob pages around it into the process too, through SQLite's memory map.
    const Result<QVector<QByteArray>> abandoned = m_sql.fetch<QVector<QByteArray>>([&](Transaction &tx) {
        return tx.rows<QByteArray>(QStringLiteral("SELECT original_digest FROM pictures WHERE stored_utc < ? AND ")
                                       + nobodyRefers,
                                   {storedBefore}, [](const QSqlQuery &q) { return q.value(0).toByteArray(); }, doing);
    });
    if (!abandoned)
        return abandoned.error();
    // Each is deleted only when old enough and still nobody refers to it; one refreshed by a
    // concurrent import meanwhile (stagePictures) is young again, and that import will refer to it.
    int removed = 0;
    const Error error = inPictureBatches(m_sql, doing, *abandoned, [&](Transaction &tx, const QVector<QByteArray> &batch) {
        for (const QByteArray &digest : batch) {
            const Result<int> gone = tx.change(
                QStringLiteral("DELETE FROM pictures WHERE original_digest = ? AND stored_utc < ? AND ") + nobodyRefers,
                {digest, storedBefore}, doing);
            if (!gone)
                return gone.error();
            removed += *gone;
        }
        return Error::none();
    });
    if (!error.ok())
        return error;
    return removed;
}

StorageError OrganisationStore::addPictureStandIns(Transaction &tx, const QSet<QByteArray> &originalDigests)
{
    const QString doing = QStringLiteral("try the import");
    for (const QByteArray &digest : originalDigests) {
        const Result<int> added =
            tx.change(insertPictureSql, {digest, digest, storedNow(), QByteArray(""), QByteArray("")}, doing);
        if (!added)
            return added.error();
    }
    return Error::none();
}

namespace {

const QString doingPictures = QStringLiteral("read the employees' pictures");

QString departmentCondition(qint64 departmentId)
{
    return departmentId ? QStringLiteral(" AND e.department_id = %1").arg(departmentId) : QString();
}

StoredPicture storedPicture(const QSqlQuery &q)
{
    return {q.value(0).toString(), q.value(1).toByteArray()};
}

} // namespace

Result<QVector<StoredPicture>> OrganisationStore::pictureHeads(qint64 departmentId, int leadingBytes)
{
    const QString sql = QStringLiteral("SELECT e.code, substr(p.original, 1, %1) FROM pictures p"
                                       " JOIN employees e ON e.original_digest = p.original_digest WHERE 1 = 1%2"
                                       " ORDER BY e.code")
                            .arg(leadingBytes)
                            .arg(departmentCondition(departmentId));
    return m_sql.fetch<QVector<StoredPicture>>(
        [&](Transaction &tx) { return tx.rows<StoredPicture>(sql, {}, storedPicture, doingPictures); });
}

StorageError OrganisationStore::pictureOriginals(qint64 departmentId,
                                                 const std::function<bool(const StoredPicture &)> &sink)
{
    constexpr int picturesPerPage = 32;
    const QString sql = QStringLiteral("SELECT e.code, p.original FROM pictures p"
                                       " JOIN employees e ON e.original_digest = p.original_digest WHERE e.code > ?%1"
                                       " ORDER BY e.code LIMIT %2")
                            .arg(departmentCondition(departmentId))
                            .arg(picturesPerPage);
    // Ids are never empty, so every one sorts after the empty text.
    QString after = QLatin1String("");
    for (;;) {
        const Result<QVector<StoredPicture>> page = m_sql.fetch<QVector<StoredPicture>>(
            [&](Transaction &tx) { return tx.rows<StoredPicture>(sql, {after}, storedPicture, doingPictures); });
        if (!page)
            return page.error();
        for (const StoredPicture &picture : *page) {
            if (!sink(picture))
                return Error::none();
        }
        if (page->size() < picturesPerPage)
            return Error::none();
        after = page->constLast().employeeId;
    }
}

namespace {

// Pictures that lack a rendition, read a batch at a time.
struct PictureBatch
{
    QVector<qint64> keys;
    QVector<QByteArray> originals;
};

// What the migration stores for one picture; made on a worker thread, digests included.
struct MadeRendition
{
    QByteArray rendition;
    QByteArray renditionDigest;
    QByteArray originalDigest;
};

// Large enough to keep both cores busy between two reads, small enough that a batch of
// 300 kB originals stays a few tens of MB.
constexpr int renditionsPerBatch = 64;

const QString doingRenditions = QStringLiteral("make the display renditions of the stored pictures");

Result<qint64> countPicturesWithoutRendition(Transaction &tx)
{
    return tx.row<qint64>(QStringLiteral("SELECT COUNT(*) FROM employee_pictures WHERE rendition IS NULL"), {},
                          [](const QSqlQuery &q) { return q.value(0).toLongLong(); }, doingRenditions, Error::none());
}

Result<PictureBatch> readPicturesWithoutRendition(Transaction &tx, qint64 afterKey)
{
    QSqlQuery query(tx.db());
    query.setForwardOnly(true);
    const Error error = tx.exec(query,
                                QStringLiteral("SELECT employee_id, bytes FROM employee_pictures WHERE rendition IS NULL"
                                               " AND employee_id > %1 ORDER BY employee_id LIMIT %2")
                                    .arg(afterKey)
                                    .arg(renditionsPerBatch),
                                {}, doingRenditions);
    PictureBatch batch;
    while (error.ok() && query.next()) {
        batch.keys.append(query.value(0).toLongLong());
        batch.originals.append(query.value(1).toByteArray());
    }
    if (!error.ok())
        return error;
    return batch;
}

MadeRendition renditionOf(const QByteArray &original)
{
    const transfer::Rendition made = transfer::makeRendition(original, QString());
    MadeRendition out;
    out.rendition = made.bytes.isEmpty() ? original : made.bytes;
    out.renditionDigest = pictureDigest(out.rendition);
    out.originalDigest = pictureDigest(original);
    return out;
}

// Prepared once for the whole migration: one statement per picture, without parsing each.
class RenditionWriter
{
public:
    explicit RenditionWriter(Transaction &tx) : m_tx(tx), m_pictures(tx.db()), m_employees(tx.db()) {}

    Error prepare()
    {
        if (!m_pictures.prepare(QStringLiteral("UPDATE employee_pictures SET rendition = ?, original_digest = ?"
                                               " WHERE employee_id = ?")))
            return m_tx.failure(m_pictures.lastError(), doingRenditions);
        if (!m_employees.prepare(QStringLiteral("UPDATE employees SET picture_digest = ? WHERE id = ?")))
            return m_tx.failure(m_employees.lastError(), doingRenditions);
        return Error::none();
    }

    Error write(const PictureBatch &batch, const QList<MadeRendition> &made)
    {
        for (int i = 0; i < batch.keys.size(); ++i) {
            m_pictures.bindValue(0, made.at(i).rendition);
            m_pictures.bindValue(1, made.at(i).originalDigest);
            m_pictures.bindValue(2, batch.keys.at(i));
            if (!m_pictures.exec())
                return m_tx.failure(m_pictures.lastError(), doingRenditions);
            m_employees.bindValue(0, made.at(i).renditionDigest);
            m_employees.bindValue(1, batch.keys.at(i));
            if (!m_employees.exec())
                return m_tx.failure(m_employees.lastError(), doingRenditions);
        }
        m_tx.noteStatementDone();
        return Error::none();
    }

private:
    Transaction &m_tx;
    QSqlQuery m_pictures;
    QSqlQuery m_employees;
};

} // namespace

// The next batch is read and the last one written while the workers decode the one between.
StorageError OrganisationStore::makeMissingRenditions(Transaction &tx, const Progress &progress)
{
    const QString phase = QStringLiteral("Making picture renditions");
    const Result<qint64> total = countPicturesWithoutRendition(tx);
    if (!total || *total == 0)
        return total.error();
    RenditionWriter writer(tx);
    Error error = writer.prepare();
    Result<PictureBatch> current = error.ok() ? readPicturesWithoutRendition(tx, 0) : Result<PictureBatch>(error);
    qint64 done = 0;
    report(progress, phase, done, *total);
    QFuture<MadeRendition> making;
    if (current)
        making = QtConcurrent::mapped(current->originals, renditionOf);
    while (current && !current->keys.isEmpty()) {
        const Result<PictureBatch> next = readPicturesWithoutRendition(tx, current->keys.constLast());
        const QList<MadeRendition> made = making.results();
        if (!next)
            return next.error();
        if (!next->keys.isEmpty())
            making = QtConcurrent::mapped(next->originals, renditionOf);
        error = writer.write(*current, made);
        if (!error.ok())
            return error;
        done += current->keys.size();
        report(progress, phase, done, *total);
        current = next;
    }
    return current.error();
}

} // namespace vorna::service
