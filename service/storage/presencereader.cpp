#include "presencereader.h"

#include "civiltime.h"

#include <QCollator>
#include <QHash>
#include <QLocale>
#include <QSet>
#include <QSqlRecord>

#include <algorithm>
#include <vector>

namespace vorna::service {

namespace {

// Rows handed to the sink between two picture look-ups: one IN list per batch.
constexpr int pictureBatch = 200;

const QString doingPresence = QStringLiteral("read the presence list");

// Columns of the presence statement, in order.
enum Column { EmployeeKey, Code, LastName, FirstName, DepartmentName, Digest, At, KindName, StatusName, StatusColor };

QString scopeClause(const User &user)
{
    if (user.allDepartments)
        return {};
    if (user.departmentIds.isEmpty())
        return QStringLiteral(" WHERE 1 = 0");
    QStringList ids;
    for (qint64 id : user.departmentIds)
        ids << QString::number(id);
    return QStringLiteral(" WHERE e.department_id IN (%1)").arg(ids.join(QLatin1Char(',')));
}

} // namespace

PresenceReader::PresenceReader(SqlExecutor &sql)
    : m_sql(sql)
{
}

// Per employee: the latest registration as kept, when it lies at or before T; otherwise the
// index seek, which therefore runs only for the employees who registered after T.
QString PresenceReader::statement(const User &user, const QString &moment) const
{
    const QString seek = m_sql.dialect().presenceSeek.arg(QStringLiteral("l.at > ?"));
    QString sql = QStringLiteral("SELECT e.id, e.code, e.last_name, e.first_name, d.name, e.picture_digest,"
                                 " e.last_at, k.name, s.name, s.color"
                                 " FROM (SELECT e.*,"
                                 "   CASE WHEN l.at <= ? THEN l.at ELSE r.at END AS last_at,"
                                 "   CASE WHEN l.at <= ? THEN l.activity_kind_id ELSE r.activity_kind_id END AS last_kind"
                                 "   FROM employees e"
                                 "   LEFT JOIN latest_registrations l ON l.employee_id = e.id %1%2) e"
                                 " JOIN departments d ON d.id = e.department_id"
                                 " LEFT JOIN activity_kinds k ON k.id = e.last_kind"
                                 " LEFT JOIN presence_statuses s ON s.id = k.status_id")
                      .arg(seek, scopeClause(user));
    return sql.replace(QLatin1Char('?'), moment);
}

StorageError PresenceReader::read(const User &user, const PresenceQuery &query,
                                  const std::function<void(const PresenceRow &)> &sink)
{
    if (!query.at.isValid())
        return {StorageError::InvalidArgument, QStringLiteral("The moment to report presence for is not a valid date and time.")};
    if (query.staleAfterDays < 1)
        return {StorageError::InvalidArgument,
                QStringLiteral("The number of days after which a registration is stale must be at least 1, not %1.")
                    .arg(query.staleAfterDays)};
    return m_sql.read([&](QSqlDatabase &db) {
        QVector<Entry> entries;
        StorageError error = collect(db, user, query, &entries);
        if (!error.ok())
            return error;
        sortByName(&entries);
        for (int start = 0; start < entries.size(); start += pictureBatch) {
            const int end = std::min<int>(start + pictureBatch, entries.size());
            QVector<Entry *> missing;
            for (int i = start; i < end; ++i) {
                const QByteArray &digest = entries[i].row.pictureDigest;
                if (!digest.isEmpty() && !query.knownPictureDigests.contains(digest))
                    missing << &entries[i];
            }
            error = attachPictures(db, missing);
            if (!error.ok())
                return error;
            for (int i = start; i < end; ++i)
                sink(entries[i].row);
        }
        return StorageError::none();
    });
}

StorageError PresenceReader::readNoRegistrationStatus(QSqlDatabase &db, NoRegistration *status)
{
    QSqlQuery query(db);
    const StorageError error = m_sql.exec(
        query, QStringLiteral("SELECT name, color FROM presence_statuses WHERE system_key = 'no_registration'"), {},
        doingPresence);
    if (!error.ok())
        return error;
    if (!query.next())
        return {StorageError::Internal,
                QStringLiteral("The %1 lacks the status for employees without registrations. Run the "
                               "migrations (vorna-service init) and try again.")
                    .arg(m_sql.dialect().label)};
    *status = {query.value(0).toString(), query.value(1).toInt()};
    return StorageError::none();
}

StorageError PresenceReader::collect(QSqlDatabase &db, const User &user, const PresenceQuery &query,
                                     QVector<Entry> *entries)
{
    NoRegistration none;
    StorageError error = readNoRegistrationStatus(db, &none);
    if (!error.ok())
        return error;
    QSqlQuery rows(db);
    const QString sql = statement(user, QStringLiteral("?"));
    QVariantList moments;
    for (int i = sql.count(QLatin1Char('?')); i > 0; --i)
        moments << civil::seconds(query.at);
    error = m_sql.exec(rows, sql, moments, doingPresence);
    if (!error.ok())
        return error;
    const qint64 staleBefore = (civil::dayNumber(query.at.date()) - (query.staleAfterDays - 1)) * civil::secondsPerDay;
    while (rows.next()) {
        Entry entry;
        entry.employeeKey = rows.value(EmployeeKey).toLongLong();
        PresenceRow &row = entry.row;
        row.employeeId = rows.value(Code).toString();
        row.lastName = rows.value(LastName).toString();
        row.firstName = rows.value(FirstName).toString();
        row.department = rows.value(DepartmentName).toString();
        row.pictureDigest = rows.value(Digest).toByteArray();
        if (rows.isNull(At)) {
            row.status = none.name;
            row.statusColor = none.color;
        } else {
            const qint64 at = rows.value(At).toLongLong();
            row.lastActivity = civil::momentFromSeconds(at);
            row.stale = at < staleBefore;
            row.activityDescription = rows.value(KindName).toString();
            row.status = rows.value(StatusName).toString();
            row.statusColor = rows.value(StatusColor).toInt();
        }
        entries->append(std::move(entry));
    }
    if (rows.lastError().isValid())
        return m_sql.failure(rows.lastError(), doingPresence);
    return StorageError::none();
}

StorageError PresenceReader::attachPictures(QSqlDatabase &db, const QVector<Entry *> &missing)
{
    if (missing.isEmpty())
        return StorageError::none();
    QHash<qint64, Entry *> byKey;
    QVariantList keys;
    for (Entry *entry : missing) {
        byKey.insert(entry->employeeKey, entry);
        keys << entry->employeeKey;
    }
    QSqlQuery query(db);
    const StorageError error = m_sql.exec(
        query,
        QStringLiteral("SELECT employee_id, bytes FROM employee_pictures WHERE employee_id IN (%1)").arg(placeholders(keys.size())),
        keys, QStringLiteral("read the employees' pictures"));
    while (error.ok() && query.next())
        byKey.value(query.value(0).toLongLong())->row.picture = query.value(1).toByteArray();
    return error;
}

namespace {

// Each distinct name's place in collation order; names that collate equal share a place.
// Names repeat a lot across an organisation, so each is given to the collator once.
QHash<QString, int> collationRanks(const QSet<QString> &names)
{
    const QCollator collator(QLocale(QLocale::Serbian, QLocale::LatinScript, QLocale::Serbia));
    std::vector<std::pair<QCollatorSortKey, QString>> keyed;
    keyed.reserve(names.size());
    for (const QString &name : names)
        keyed.emplace_back(collator.sortKey(name), name);
    std::sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first.compare(b.first) < 0; });
    QHash<QString, int> ranks;
    int rank = 0;
    for (size_t i = 0; i < keyed.size(); ++i) {
        if (i > 0 && keyed[i - 1].first.compare(keyed[i].first) != 0)
            ++rank;
        ranks.insert(keyed[i].second, rank);
    }
    return ranks;
}

} // namespace

void PresenceReader::sortByName(QVector<Entry> *entries)
{
    QSet<QString> names;
    for (const Entry &entry : qAsConst(*entries))
        names << entry.row.lastName << entry.row.firstName;
    const QHash<QString, int> rank = collationRanks(names);
    struct Keyed
    {
        int last;
        int first;
        int index;
    };
    std::vector<Keyed> keyed;
    keyed.reserve(entries->size());
    for (int i = 0; i < entries->size(); ++i) {
        const PresenceRow &row = entries->at(i).row;
        keyed.push_back({rank.value(row.lastName), rank.value(row.firstName), i});
    }
    std::sort(keyed.begin(), keyed.end(), [entries](const Keyed &a, const Keyed &b) {
        if (a.last != b.last)
            return a.last < b.last;
        if (a.first != b.first)
            return a.first < b.first;
        return entries->at(a.index).row.employeeId < entries->at(b.index).row.employeeId;
    });
    QVector<Entry> sorted;
    sorted.reserve(entries->size());
    for (const Keyed &k : keyed)
        sorted.append(std::move((*entries)[k.index]));
    *entries = std::move(sorted);
}

StorageError PresenceReader::explain(const User &user, const QDateTime &at, QStringList *plan)
{
    return m_sql.read([&](QSqlDatabase &db) {
        QSqlQuery query(db);
        // PostgreSQL cannot prepare EXPLAIN, so the moment goes in as a literal: a number.
        const QString sql = m_sql.dialect().explain + statement(user, QString::number(civil::seconds(at)));
        const StorageError error = m_sql.exec(query, sql, {}, QStringLiteral("explain the presence query"));
        while (error.ok() && query.next())
            *plan << query.value(query.record().count() - 1).toString();
        return error;
    });
}

} // namespace vorna::service
