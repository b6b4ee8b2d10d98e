// OrganisationStore: what the admin commands and imports need beyond the bulk load.

#include "storage/organisationstore.h"

#include "storage/bulkinsert.h"
#include "storage/civiltime.h"
#include "storage/employeekey.h"
#include "storage/presencereader.h"


namespace vorna::service {

namespace {

using Error = StorageError;
using Kind = OrganisationStore::Kind;

QString tableOf(Kind kind)
{
    switch (kind) {
    case Kind::Department: return QStringLiteral("departments");
    case Kind::Status: return QStringLiteral("presence_statuses");
    case Kind::Activity: return QStringLiteral("activity_kinds");
    case Kind::Calendar: return QStringLiteral("calendars");
    case Kind::WorkDay: return QStringLiteral("work_day_kinds");
    }
    return {};
}

Error notFound(Kind kind, const QString &name)
{
    return {Error::NotFound, QStringLiteral("There is no %1 named %2.").arg(OrganisationStore::nounOf(kind), quoted(name))};
}

Error nameTaken(Kind kind, const QString &name)
{
    return {Error::AlreadyExists,
            QStringLiteral("%1 named %2 already exists. Choose another name.").arg(OrganisationStore::aNoun(OrganisationStore::nounOf(kind)), quoted(name))};
}

QStringList texts(Transaction &tx, const QString &sql, const QVariantList &values, const QString &doing, Error *error)
{
    const Result<QVector<QString>> rows =
        tx.rows<QString>(sql, values, [](const QSqlQuery &q) { return q.value(0).toString(); }, doing);
    *error = rows.error();
    return QStringList(rows->cbegin(), rows->cend());
}

qint64 count(Transaction &tx, const QString &sql, const QVariantList &values, const QString &doing, Error *error)
{
    const Result<qint64> n = tx.row<qint64>(sql, values, [](const QSqlQuery &q) { return q.value(0).toLongLong(); },
                                            doing, Error::none());
    *error = n.error();
    return n.value();
}

// Names at most a few of a list, so a sentence stays readable.
QString someOf(const QStringList &names)
{
    constexpr int shown = 5;
    QStringList quotedNames;
    for (const QString &name : names.mid(0, shown))
        quotedNames << quoted(name);
    QString text = quotedNames.join(QStringLiteral(", "));
    if (names.size() > shown)
        text += QStringLiteral(" and %1 more").arg(names.size() - shown);
    return text;
}

// What still refers to a named record, as parts of a sentence; empty when nothing does.
QStringList referencesTo(Transaction &tx, Kind kind, qint64 id, Error *error)
{
    const QString doing = QStringLiteral("look for what refers to the %1").arg(OrganisationStore::nounOf(kind));
    QStringList parts;
    const auto add = [&](const QString &sql, const QString &sentence) {
        if (!error->ok())
            return;
        const QStringList names = texts(tx, sql, {id}, doing, error);
        if (error->ok() && !names.isEmpty())
            parts << sentence.arg(someOf(names)).arg(names.size());
    };
    switch (kind) {
    case Kind::Department:
        add(QStringLiteral("SELECT code FROM employees WHERE department_id = ? ORDER BY code"),
            QStringLiteral("the employees %1 (%2 in all) work in it"));
        add(QStringLiteral("SELECT u.name FROM user_departments d JOIN users u ON u.id = d.user_id"
                           " WHERE d.department_id = ? ORDER BY u.name"),
            QStringLiteral("the users %1 (%2 in all) see it"));
        break;
    case Kind::Status:
        add(QStringLiteral("SELECT name FROM activity_kinds WHERE status_id = ? ORDER BY name"),
            QStringLiteral("the activities %1 (%2 in all) put employees in it"));
        add(QStringLiteral("SELECT name FROM presence_statuses WHERE id = ? AND system_key IS NOT NULL"),
            QStringLiteral("the service itself uses it (%1)"));
        break;
    case Kind::Activity:
        add(QStringLiteral("SELECT DISTINCT e.code FROM registrations r JOIN employees e ON e.id = r.employee_id"
                           " WHERE r.activity_kind_id = ? ORDER BY e.code"),
            QStringLiteral("registrations of the employees %1 (%2 in all) record it"));
        break;
    case Kind::Calendar:
        add(QStringLiteral("SELECT DISTINCT e.code FROM calendar_assignments a JOIN employees e ON e.id = a.employee_id"
                           " WHERE a.calendar_id = ? ORDER BY e.code"),
            QStringLiteral("it is assigned to the employees %1 (%2 in all)"));
        break;
    case Kind::WorkDay:
        add(QStringLiteral("SELECT DISTINCT e.code FROM work_day_exceptions x JOIN employees e ON e.id = x.employee_id"
                           " WHERE x.work_day_kind_id = ? ORDER BY e.code"),
            QStringLiteral("it is assigned to the employees %1 (%2 in all)"));
        break;
    }
    return parts;
}

QVariant dayOrNull(const QDate &day)
{
    return day.isValid() ? QVariant(civil::dayNumber(day)) : QVariant(QVariant::LongLong);
}

} // namespace

QString OrganisationStore::nounOf(Kind kind)
{
    switch (kind) {
    case Kind::Department: return QStringLiteral("department");
    case Kind::Status: return QStringLiteral("presence status");
    case Kind::Activity: return QStringLiteral("activity kind");
    case Kind::Calendar: return QStringLiteral("calendar");
    case Kind::WorkDay: return QStringLiteral("working-day kind");
    }
    return {};
}

Result<qint64> OrganisationStore::idOf(Kind kind, const QString &name)
{
    return m_sql.fetch<qint64>([&](Transaction &tx) { return idOf(tx, kind, name); });
}

Result<qint64> OrganisationStore::idOf(Transaction &tx, Kind kind, const QString &name)
{
    return tx.row<qint64>(QStringLiteral("SELECT id FROM %1 WHERE name = ?").arg(tableOf(kind)), {name},
                          [](const QSqlQuery &q) { return q.value(0).toLongLong(); },
                          QStringLiteral("look up the %1 %2").arg(nounOf(kind), quoted(name)), notFound(kind, name));
}

StorageError OrganisationStore::rename(Kind kind, const QString &name, const QString &newName)
{
    if (newName.trimmed().isEmpty())
        return invalid(QStringLiteral("%1 needs a name.").arg(aNoun(nounOf(kind))));
    const QString doing = QStringLiteral("rename the %1 %2").arg(nounOf(kind), quoted(name));
    Error error = m_sql.write(doing, [&](Transaction &tx) {
        return changedOrNotFound(
            tx.change(QStringLiteral("UPDATE %1 SET name = ? WHERE name = ?").arg(tableOf(kind)), {newName, name}, doing),
            notFound(kind, name));
    });
    if (error.code == Error::AlreadyExists)
        error = nameTaken(kind, newName);
    return error;
}

StorageError OrganisationStore::remove(Kind kind, const QString &name)
{
    const QString doing = QStringLiteral("remove the %1 %2").arg(nounOf(kind), quoted(name));
    return m_sql.write(doing, [&](Transaction &tx) {
        const Result<qint64> id = idOf(tx, kind, name);
        if (!id)
            return id.error();
        Error error;
        const QStringList references = referencesTo(tx, kind, *id, &error);
        if (!error.ok())
            return error;
        if (!references.isEmpty())
            return Error{Error::PermissionDenied,
                         QStringLiteral("The %1 %2 stays: %3. Change those first.")
                             .arg(nounOf(kind), quoted(name), references.join(QStringLiteral("; ")))};
        return tx.change(QStringLiteral("DELETE FROM %1 WHERE id = ?").arg(tableOf(kind)), {*id}, doing).error();
    });
}

// ---- Upserts ----------------------------------------------------------------------------------

// Adds the named record or brings its other columns to `values`; `id` gets its number.
static Result<Upsert> upsertNamed(Transaction &tx, Kind kind, const QString &name, const QStringList &columns,
                                  const QVariantList &values, qint64 *id)
{
    if (name.trimmed().isEmpty())
        return invalid(QStringLiteral("%1 needs a name.").arg(OrganisationStore::aNoun(OrganisationStore::nounOf(kind))));
    const QString doing = QStringLiteral("store the %1 %2").arg(OrganisationStore::nounOf(kind), quoted(name));
    const QString table = tableOf(kind);
    QSqlQuery query(tx.db());
    Error error = tx.exec(query,
                          QStringLiteral("SELECT id%1 FROM %2 WHERE name = ?")
                              .arg(columns.isEmpty() ? QString() : QStringLiteral(", ") + columns.join(QStringLiteral(", ")), table),
                          {name}, doing);
    if (!error.ok())
        return error;
    if (!query.next()) {
        error = tx.exec(query,
                        QStringLiteral("INSERT INTO %1 (name%2) VALUES (?%3) RETURNING id")
                            .arg(table, columns.isEmpty() ? QString() : QStringLiteral(", ") + columns.join(QStringLiteral(", ")),
                                 QStringLiteral(", ?").repeated(columns.size())),
                        QVariantList{name} + values, doing);
        if (error.ok() && query.next())
            *id = query.value(0).toLongLong();
        return error.ok() ? Result<Upsert>(Upsert::Added) : Result<Upsert>(error);
    }
    *id = query.value(0).toLongLong();
    bool same = true;
    for (int i = 0; i < columns.size(); ++i)
        same = same && query.value(i + 1).toLongLong() == values.at(i).toLongLong();
    if (same)
        return Upsert::Unchanged;
    QStringList assignments;
    for (const QString &column : columns)
        assignments << column + QStringLiteral(" = ?");
    error = tx.exec(query, QStringLiteral("UPDATE %1 SET %2 WHERE id = ?").arg(table, assignments.join(QStringLiteral(", "))),
                    values + QVariantList{*id}, doing);
    return error.ok() ? Result<Upsert>(Upsert::Changed) : Result<Upsert>(error);
}

Result<Upsert> OrganisationStore::upsertDepartment(Transaction &tx, Department &department)
{
    return upsertNamed(tx, Kind::Department, department.name, {}, {}, &department.id);
}

Result<Upsert> OrganisationStore::upsertStatus(Transaction &tx, PresenceStatus &status)
{
    return upsertNamed(tx, Kind::Status, status.name, {QStringLiteral("color"), QStringLiteral("counts_present")},
                       {status.color, status.countsPresent ? 1 : 0}, &status.id);
}

Result<Upsert> OrganisationStore::upsertActivityKind(Transaction &tx, ActivityKind &kind)
{
    return upsertNamed(tx, Kind::Activity, kind.name, {QStringLiteral("status_id")}, {kind.statusId}, &kind.id);
}

Result<Upsert> OrganisationStore::upsertCalendar(Transaction &tx, Calendar &calendar)
{
    qint64 id = 0;
    const Result<Upsert> done = upsertNamed(tx, Kind::Calendar, calendar.name, {QStringLiteral("color")}, {calendar.color}, &id);
    calendar.id = int(id);
    return done;
}

Result<Upsert> OrganisationStore::upsertWorkDayKind(Transaction &tx, WorkDayKind &kind)
{
    qint64 id = 0;
    const Result<Upsert> done = upsertNamed(tx, Kind::WorkDay, kind.name, {QStringLiteral("color")}, {kind.color}, &id);
    kind.id = int(id);
    return done;
}

Result<Upsert> OrganisationStore::upsertEmployee(Transaction &tx, const Employee &employee)
{
    QSet<QByteArray> released;
    const Result<Upsert> outcome = upsertEmployee(tx, employee, &released);
    if (!outcome)
        return outcome;
    const Error error = removeUnreferencedPictures(tx, released);
    return error.ok() ? outcome : Result<Upsert>(error);
}

Result<Upsert> OrganisationStore::upsertEmployee(Transaction &tx, const Employee &e, QSet<QByteArray> *released)
{
    if (e.id.trimmed().isEmpty())
        return invalid(QStringLiteral("An employee needs an id."));
    if (e.lastName.trimmed().isEmpty() || e.firstName.trimmed().isEmpty())
        return invalid(QStringLiteral("The employee %1 needs a last and a first name.").arg(quoted(e.id)));
    const QString doing = QStringLiteral("store the employee %1").arg(quoted(e.id));
    QSqlQuery query(tx.db());
    Error error = tx.exec(query,
                          QStringLiteral("SELECT id, last_name, first_name, department_id, picture_digest, left_on,"
                                         " original_digest FROM employees WHERE code = ?"),
                          {e.id}, doing);
    if (!error.ok())
        return error;
    const bool exists = query.next();
    // The original tells whether the picture changed: a rendition made anew may differ in
    // its bytes from the one stored for the same original.
    const QByteArray originalDigest = e.picture.isEmpty() ? e.originalDigest : digestOf(e.picture);
    const QByteArray storedOriginal = exists ? query.value(6).toByteArray() : QByteArray();
    const bool samePicture = exists && storedOriginal == originalDigest;
    const bool same = samePicture && query.value(1).toString() == e.lastName && query.value(2).toString() == e.firstName
        && query.value(3).toLongLong() == e.departmentId
        && (query.isNull(5) ? !e.leftOn.isValid() : civil::dayFromNumber(query.value(5).toLongLong()) == e.leftOn);
    if (same)
        return Upsert::Unchanged;
    Result<QByteArray> shownDigest = samePicture ? Result<QByteArray>(query.value(4).toByteArray()) : QByteArray();
    if (!samePicture && !e.picture.isEmpty())
        shownDigest = storePicture(tx, e, originalDigest, doing);
    else if (!samePicture && !originalDigest.isEmpty())
        shownDigest = renditionDigestOf(tx, originalDigest, e.id, doing);
    if (!shownDigest)
        return shownDigest.error();
    const QByteArray sortKey = PresenceReader::sortKey(e.lastName, e.firstName, e.id);
    if (!exists) {
        error = tx.exec(query,
                        QStringLiteral("INSERT INTO employees (code, last_name, first_name, department_id, picture_digest,"
                                       " left_on, sort_key, original_digest) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
                        {e.id, e.lastName, e.firstName, e.departmentId, bytesOrNull(*shownDigest), dayOrNull(e.leftOn),
                         sortKey, bytesOrNull(originalDigest)},
                        doing);
        return error.ok() ? Result<Upsert>(Upsert::Added) : Result<Upsert>(error);
    }
    const qint64 key = query.value(0).toLongLong();
    error = tx.exec(query,
                    QStringLiteral("UPDATE employees SET last_name = ?, first_name = ?, department_id = ?,"
                                   " picture_digest = ?, left_on = ?, sort_key = ?, original_digest = ? WHERE id = ?"),
                    {e.lastName, e.firstName, e.departmentId, bytesOrNull(*shownDigest), dayOrNull(e.leftOn), sortKey,
                     bytesOrNull(originalDigest), key},
                    doing);
    if (error.ok() && !samePicture && !storedOriginal.isEmpty())
        released->insert(storedOriginal);
    return error.ok() ? Result<Upsert>(Upsert::Changed) : Result<Upsert>(error);
}

// ---- Employees and statuses -------------------------------------------------------------------

Result<QVector<PresenceStatus>> OrganisationStore::presenceStatuses()
{
    return m_sql.fetch<QVector<PresenceStatus>>([](Transaction &tx) {
        return tx.rows<PresenceStatus>(
            QStringLiteral("SELECT id, name, color, counts_present FROM presence_statuses"
                           " WHERE system_key IS NULL ORDER BY name"),
            {},
            [](const QSqlQuery &q) {
                return PresenceStatus{q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toInt(),
                                      q.value(3).toInt() != 0};
            },
            QStringLiteral("read the presence statuses"));
    });
}

Result<QVector<Employee>> OrganisationStore::employees(qint64 departmentId)
{
    return m_sql.fetch<QVector<Employee>>([&](Transaction &tx) { return employees(tx, departmentId); });
}

Result<QHash<QString, qint64>> OrganisationStore::idsByName(Transaction &tx, Kind kind)
{
    const QString filter = kind == Kind::Status ? QStringLiteral(" WHERE system_key IS NULL") : QString();
    QSqlQuery query(tx.db());
    const Error error = tx.exec(query, QStringLiteral("SELECT name, id FROM %1%2").arg(tableOf(kind), filter), {},
                                QStringLiteral("read the names of every %1").arg(nounOf(kind)));
    if (!error.ok())
        return error;
    QHash<QString, qint64> ids;
    while (query.next())
        ids.insert(query.value(0).toString(), query.value(1).toLongLong());
    return ids;
}

Result<QVector<Employee>> OrganisationStore::employees(Transaction &tx, qint64 departmentId)
{
    const QString filter = departmentId ? QStringLiteral(" WHERE department_id = ?") : QString();
    const QVariantList values = departmentId ? QVariantList{departmentId} : QVariantList();
    return tx.rows<Employee>(
        QStringLiteral("SELECT code, last_name, first_name, department_id, picture_digest, left_on FROM employees%1"
                       " ORDER BY code")
            .arg(filter),
        values,
        [](const QSqlQuery &q) {
            Employee e{q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                       q.value(3).toLongLong(), {}, q.value(4).toByteArray(), {}};
            if (!q.isNull(5))
                e.leftOn = civil::dayFromNumber(q.value(5).toLongLong());
            return e;
        },
        QStringLiteral("read the employees"));
}

StorageError OrganisationStore::setLeaveDay(const QString &employeeId, const QDate &lastDay)
{
    if (!lastDay.isValid())
        return invalid(QStringLiteral("The last day of the employee %1 is not a valid date.").arg(quoted(employeeId)));
    return changedOrNotFound(m_sql.writeOne(QStringLiteral("record that the employee %1 leaves").arg(quoted(employeeId)),
                                            QStringLiteral("UPDATE employees SET left_on = ? WHERE code = ?"),
                                            {civil::dayNumber(lastDay), employeeId}),
                             noEmployee(employeeId));
}

StorageError OrganisationStore::removeEmployee(const QString &employeeId)
{
    const QString doing = QStringLiteral("remove the employee %1").arg(quoted(employeeId));
    return m_sql.write(doing, [&](Transaction &tx) {
        const Result<EmployeeKey> employee = lookUpEmployee(tx, employeeId);
        if (!employee)
            return employee.error();
        Error error;
        QStringList references;
        const auto add = [&](const QString &table, const QString &what) {
            const qint64 n = error.ok() ? count(tx, QStringLiteral("SELECT COUNT(*) FROM %1 WHERE employee_id = ?").arg(table),
                                                {employee->id}, doing, &error)
                                        : 0;
            if (n > 0)
                references << what.arg(n);
        };
        add(QStringLiteral("registrations"), QStringLiteral("%1 registrations"));
        add(QStringLiteral("calendar_assignments"), QStringLiteral("%1 calendar assignments"));
        add(QStringLiteral("work_day_exceptions"), QStringLiteral("%1 working-day exceptions"));
        add(QStringLiteral("audit_log"), QStringLiteral("%1 audit log entries"));
        if (!error.ok())
            return error;
        if (!references.isEmpty())
            return Error{Error::PermissionDenied,
                         QStringLiteral("The employee %1 stays: %2 refer to them. To keep their history, record "
                                        "their last day with 'vorna-service employee leave' instead.")
                             .arg(quoted(employeeId), references.join(QStringLiteral(", ")))};
        const Result<QByteArray> picture = tx.row<QByteArray>(
            QStringLiteral("SELECT original_digest FROM employees WHERE id = ?"), {employee->id},
            [](const QSqlQuery &q) { return q.value(0).toByteArray(); }, doing, StorageError::none());
        if (!picture)
            return picture.error();
        error = tx.change(QStringLiteral("DELETE FROM employees WHERE id = ?"), {employee->id}, doing).error();
        if (error.ok() && !picture->isEmpty())
            error = removeUnreferencedPictures(tx, {*picture});
        return error;
    });
}

// ---- Registrations ----------------------------------------------------------------------------

// The rows go to a temporary table first; one statement then adds those not stored yet, so
// a million registrations cost one pass instead of a million lookups.
Result<qint64> OrganisationStore::addNewRegistrations(Transaction &tx, const QVector<Registration> &registrations,
                                                      const Progress &progress)
{
    const QString doing = QStringLiteral("add %1 registrations").arg(registrations.size());
    QHash<QString, EmployeeKey> employees;
    QSqlQuery query(tx.db());
    Error error = tx.exec(query, QStringLiteral("SELECT code, id FROM employees"), {}, doing);
    while (error.ok() && query.next())
        employees.insert(query.value(0).toString(), {query.value(1).toLongLong(), 0});
    for (const QString &statement : {QStringLiteral("DROP TABLE IF EXISTS incoming_registrations"),
                                     QStringLiteral("CREATE TEMPORARY TABLE incoming_registrations (employee_id BIGINT NOT NULL,"
                                                    " at BIGINT NOT NULL, activity_kind_id BIGINT NOT NULL, source TEXT NOT NULL)")}) {
        if (error.ok())
            error = tx.exec(query, statement, {}, doing);
    }
    BulkInsert rows(tx.db(), QStringLiteral("incoming_registrations"),
                    {QStringLiteral("employee_id"), QStringLiteral("at"), QStringLiteral("activity_kind_id"),
                     QStringLiteral("source")},
                    500);
    QSet<qint64> touched;
    for (int i = 0; error.ok() && i < registrations.size(); ++i) {
        const Registration &r = registrations.at(i);
        if (!employees.contains(r.employeeId))
            error = noEmployee(r.employeeId);
        else if (!r.at.isValid())
            error = invalid(QStringLiteral("A registration of the employee %1 has no valid date and time.").arg(quoted(r.employeeId)));
        const qint64 employee = employees.value(r.employeeId).id;
        touched.insert(employee);
        if (error.ok() && !rows.add({employee, civil::seconds(r.at), r.activityKindId, r.source}))
            error = tx.failure(rows.lastError(), doing);
        if (i % 10000 == 0)
            report(progress, QStringLiteral("registrations"), i, registrations.size());
    }
    if (error.ok() && !rows.finish())
        error = tx.failure(rows.lastError(), doing);
    qint64 added = 0;
    if (error.ok()) {
        const Result<int> inserted = tx.change(
            QStringLiteral("INSERT INTO registrations (employee_id, at, activity_kind_id, source)"
                           " SELECT i.employee_id, i.at, i.activity_kind_id, MIN(i.source) FROM incoming_registrations i"
                           " WHERE NOT EXISTS (SELECT 1 FROM registrations r WHERE r.employee_id = i.employee_id"
                           "   AND r.at = i.at AND r.activity_kind_id = i.activity_kind_id)"
                           " GROUP BY i.employee_id, i.at, i.activity_kind_id"),
            {}, doing);
        error = inserted.error();
        added = inserted.value();
    }
    if (error.ok())
        error = tx.exec(query, QStringLiteral("DROP TABLE incoming_registrations"), {}, doing);
    if (error.ok() && added > 0)
        error = refreshLatestRegistrations(tx, touched, doing);
    if (!error.ok())
        return error;
    report(progress, QStringLiteral("registrations"), registrations.size(), registrations.size());
    return added;
}

Result<QVector<RegistrationRow>> OrganisationStore::registrations(const RegistrationRange &range)
{
    if (!range.from.isValid() || !range.to.isValid() || range.to < range.from)
        return invalid(QStringLiteral("The days to read registrations for are not a valid range; give the first day "
                                      "and the last day, the first not after the last."));
    const qint64 begin = civil::dayNumber(range.from) * civil::secondsPerDay;
    const qint64 end = (civil::dayNumber(range.to) + 1) * civil::secondsPerDay;
    const QString department = range.departmentId ? QStringLiteral(" AND e.department_id = %1").arg(range.departmentId)
                                                  : QString();
    // Each employee's last registration before the range, when asked for, then the range.
    const QString previous = QStringLiteral(
        " OR r.id = (SELECT p.id FROM registrations p WHERE p.employee_id = r.employee_id AND p.at < %1"
        " ORDER BY p.at DESC, p.id DESC LIMIT 1)").arg(begin);
    const QString sql = QStringLiteral(
        "SELECT e.code, r.at, k.name, s.name, s.counts_present, r.source FROM registrations r"
        " JOIN employees e ON e.id = r.employee_id JOIN activity_kinds k ON k.id = r.activity_kind_id"
        " JOIN presence_statuses s ON s.id = k.status_id"
        " WHERE ((r.at >= %1 AND r.at < %2)%3)%4 ORDER BY e.code, r.at, r.id")
                            .arg(begin).arg(end).arg(range.withPrevious ? previous : QString(), department);
    return m_sql.fetch<QVector<RegistrationRow>>([&](Transaction &tx) {
        return tx.rows<RegistrationRow>(
            sql, {},
            [](const QSqlQuery &q) {
                return RegistrationRow{q.value(0).toString(), civil::momentFromSeconds(q.value(1).toLongLong()),
                                       q.value(2).toString(), q.value(3).toString(), q.value(4).toInt() != 0,
                                       q.value(5).toString()};
            },
            QStringLiteral("read the registrations"));
    });
}

} // namespace vorna::service
