#include "storage/presencereader.h"

#include "storage/civiltime.h"

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlRecord>
#include <QtEndian>

#include <libpq-fe.h>
#include <unicode/coll.h>
#include <unicode/locid.h>

#include <memory>
#include <vector>

namespace vorna::service {

namespace {

const QString doingPresence = QStringLiteral("read the presence list");
// Presence answers send each picture's display rendition, never the original.
const QString doingPictures = QStringLiteral("read the employees' pictures");
const QString doingSortKeys = QStringLiteral("order the employees by name");

// Columns of the presence statement, in order.
enum Column {
    EmployeeKey, Code, LastName, FirstName, DepartmentName, Digest, At, KindName, StatusName, StatusColor,
    SortKey, NoRegistrationName, NoRegistrationColor
};

// Employee keys as an SQL list. Our own integers go in as literals: Qt's SQLite driver looks
// up every bound parameter's name, which for a thousand of them costs more than the lookup.
QString keyList(const QList<qint64> &keys)
{
    QStringList numbers;
    numbers.reserve(keys.size());
    for (qint64 key : keys)
        numbers << QString::number(key);
    return numbers.join(QLatin1Char(','));
}

QString scopeCondition(const User &user)
{
    if (user.allDepartments)
        return {};
    if (user.departmentIds.isEmpty())
        return QStringLiteral(" AND 1 = 0");
    QStringList ids;
    for (qint64 id : user.departmentIds)
        ids << QString::number(id);
    return QStringLiteral(" AND e.department_id IN (%1)").arg(ids.join(QLatin1Char(',')));
}

// ICU's collator for Serbian Latin, the one QCollator uses for that locale; one per thread,
// so no thread waits on another's.
const icu::Collator &serbianLatin()
{
    thread_local const std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> made(icu::Collator::createInstance(icu::Locale("sr_Latn_RS"), status));
        if (U_FAILURE(status) || !made) {
            status = U_ZERO_ERROR;
            made.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        }
        return made;
    }();
    return *collator;
}

// ICU's sort key ends with a single zero byte and holds no other, so keys put one after the
// other still compare field by field.
void appendCollationKey(const QString &text, QByteArray *key)
{
    const icu::UnicodeString unicode(reinterpret_cast<const UChar *>(text.utf16()), text.size());
    uint8_t buffer[512];
    int32_t size = serbianLatin().getSortKey(unicode, buffer, int32_t(sizeof buffer));
    if (size <= int32_t(sizeof buffer)) {
        key->append(reinterpret_cast<const char *>(buffer), size);
        return;
    }
    std::vector<uint8_t> large(size_t(size), 0);
    size = serbianLatin().getSortKey(unicode, large.data(), size);
    key->append(reinterpret_cast<const char *>(large.data()), size);
}

qint64 bigEndianInt64(const char *bytes)
{
    return qFromBigEndian<qint64>(bytes);
}

} // namespace

PresenceReader::PresenceReader(SqlExecutor &sql)
    : m_sql(sql)
{
}

QByteArray PresenceReader::sortKey(const QString &lastName, const QString &firstName, const QString &employeeId)
{
    QByteArray key;
    appendCollationKey(lastName, &key);
    appendCollationKey(firstName, &key);
    key += employeeId.toUtf8();
    return key;
}

StorageError PresenceReader::fillSortKeys(Transaction &tx)
{
    QSqlQuery missing(tx.db());
    StorageError error = tx.exec(
        missing, QStringLiteral("SELECT id, last_name, first_name, code FROM employees WHERE sort_key IS NULL"), {},
        doingSortKeys);
    QVector<QPair<qint64, QByteArray>> keys;
    while (error.ok() && missing.next())
        keys.append({missing.value(0).toLongLong(),
                     sortKey(missing.value(1).toString(), missing.value(2).toString(), missing.value(3).toString())});
    QSqlQuery update(tx.db());
    if (error.ok() && !keys.isEmpty() && !update.prepare(QStringLiteral("UPDATE employees SET sort_key = ? WHERE id = ?")))
        error = tx.failure(update.lastError(), doingSortKeys);
    for (int i = 0; error.ok() && i < keys.size(); ++i) {
        update.bindValue(0, keys.at(i).second);
        update.bindValue(1, keys.at(i).first);
        if (!update.exec())
            error = tx.failure(update.lastError(), doingSortKeys);
    }
    return error;
}

// Per employee: the latest registration as kept, when it lies at or before T; otherwise the
// index seek, which therefore runs only for the employees who registered after T. The page is
// cut from the sort key index before anything is joined, so a page costs the same wherever
// it starts. The values go in as literals (numbers and hex of our own bytes): an unprepared
// statement is one round trip to PostgreSQL, a prepared one three.
QString PresenceReader::statement(const User &user, qint64 moment, const QByteArray &after, int limit) const
{
    const QString keyset = after.isEmpty() ? QString() : QStringLiteral(" AND e.sort_key > ") + bytesLiteral(after);
    QString sql = QStringLiteral("SELECT e.id, e.code, e.last_name, e.first_name, d.name, e.picture_digest,"
                                 " e.last_at, k.name, s.name, s.color, e.sort_key, n.name, n.color"
                                 " FROM (SELECT e.*,"
                                 "   CASE WHEN l.at <= ? THEN l.at ELSE r.at END AS last_at,"
                                 "   CASE WHEN l.at <= ? THEN l.activity_kind_id ELSE r.activity_kind_id END AS last_kind"
                                 "   FROM employees e"
                                 "   LEFT JOIN latest_registrations l ON l.employee_id = e.id %1"
                                 // Who left before T's day is no longer listed.
                                 "   WHERE e.sort_key IS NOT NULL AND (e.left_on IS NULL OR e.left_on >= %5)%2%3"
                                 "   ORDER BY e.sort_key LIMIT %4) e"
                                 " JOIN departments d ON d.id = e.department_id"
                                 " LEFT JOIN activity_kinds k ON k.id = e.last_kind"
                                 " LEFT JOIN presence_statuses s ON s.id = k.status_id"
                                 " LEFT JOIN presence_statuses n ON n.system_key = 'no_registration'"
                                 " ORDER BY e.sort_key")
                      .arg(m_sql.dialect().lastRegistrationSeek.arg(QStringLiteral("l.at > ?")), keyset,
                           scopeCondition(user))
                      .arg(limit)
                      .arg(civil::dayNumber(civil::momentFromSeconds(moment).date()));
    return sql.replace(QLatin1Char('?'), QString::number(moment));
}

QString PresenceReader::bytesLiteral(const QByteArray &bytes) const
{
    const QString hex = QString::fromLatin1(bytes.toHex());
    if (m_sql.dialect().engine == SqlDialect::Engine::PostgreSQL)
        return QStringLiteral("'\\x%1'::bytea").arg(hex);
    return QStringLiteral("X'%1'").arg(hex);
}

StorageError PresenceReader::read(const User &user, const PresenceQuery &query,
                                  const std::function<void(const PresenceRow &)> &sink)
{
    PresenceCursor cursor;
    while (!cursor.done) {
        QVector<PresenceRow> rows;
        const StorageError error = readPage(user, query, &cursor, &rows);
        if (!error.ok())
            return error;
        for (const PresenceRow &row : qAsConst(rows))
            sink(row);
    }
    return StorageError::none();
}

StorageError PresenceReader::readPage(const User &user, const PresenceQuery &query, PresenceCursor *cursor,
                                      QVector<PresenceRow> *rows)
{
    if (!query.at.isValid())
        return {StorageError::InvalidArgument, QStringLiteral("The moment to report presence for is not a valid date and time.")};
    if (query.staleAfterDays < 1)
        return {StorageError::InvalidArgument,
                QStringLiteral("The number of days after which a registration is stale must be at least 1, not %1.")
                    .arg(query.staleAfterDays)};
    if (cursor->done)
        return StorageError::none();
    if (cursor->after.isEmpty()) {
        const StorageError error = fillMissingSortKeys();
        if (!error.ok())
            return error;
    }
    QVector<Entry> entries;
    const StorageError error = m_sql.read([&](Transaction &tx) {
        entries.clear();
        StorageError failed = collect(tx, user, query, *cursor, &entries);
        if (!failed.ok())
            return failed;
        const int fetched = entries.size();
        entries.resize(rowsWithinPictureBudget(entries, query.pagePictureBytes));
        failed = attachPictures(tx, &entries);
        if (!failed.ok())
            return failed;
        cursor->done = fetched < std::max(1, query.pageRows) && entries.size() == fetched;
        return StorageError::none();
    });
    if (!error.ok())
        return error;
    if (!entries.isEmpty())
        cursor->after = entries.constLast().sortKey;
    rows->reserve(rows->size() + entries.size());
    for (Entry &entry : entries)
        rows->append(std::move(entry.row));
    return StorageError::none();
}

// Employees added by a writer that knows no sort keys, or before the keys existed, get theirs
// here, before the first page, so that every answer lists everyone.
StorageError PresenceReader::fillMissingSortKeys()
{
    bool missing = false;
    StorageError error = m_sql.read([&](Transaction &tx) {
        QSqlQuery query(tx.db());
        const StorageError failed = tx.exec(
            query, QStringLiteral("SELECT 1 FROM employees WHERE sort_key IS NULL LIMIT 1"), {}, doingSortKeys);
        missing = failed.ok() && query.next();
        return failed;
    });
    if (error.ok() && missing)
        error = m_sql.write(doingSortKeys, [](Transaction &tx) { return fillSortKeys(tx); });
    return error;
}

StorageError PresenceReader::collect(Transaction &tx, const User &user, const PresenceQuery &query,
                                     const PresenceCursor &cursor, QVector<Entry> *entries)
{
    QSqlQuery rows(tx.db());
    const QString sql = statement(user, civil::seconds(query.at), cursor.after, std::max(1, query.pageRows));
    const StorageError error = tx.exec(rows, sql, {}, doingPresence);
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
        if (rows.isNull(NoRegistrationName))
            return {StorageError::Internal,
                    QStringLiteral("The %1 lacks the status for employees without registrations. Run the "
                                   "migrations (vorna-service init) and try again.")
                        .arg(m_sql.dialect().label)};
        if (rows.isNull(At)) {
            row.status = rows.value(NoRegistrationName).toString();
            row.statusColor = rows.value(NoRegistrationColor).toInt();
        } else {
            const qint64 at = rows.value(At).toLongLong();
            row.lastActivity = civil::momentFromSeconds(at);
            row.stale = at < staleBefore;
            row.activityDescription = rows.value(KindName).toString();
            row.status = rows.value(StatusName).toString();
            row.statusColor = rows.value(StatusColor).toInt();
        }
        // Sized below; a picture that is not there still counts, so the page moves on.
        if (!row.pictureDigest.isEmpty() && !query.knownPictureDigests.contains(row.pictureDigest))
            entry.pictureBytes = 1;
        entry.sortKey = rows.value(SortKey).toByteArray();
        entries->append(std::move(entry));
    }
    if (rows.lastError().isValid())
        return tx.failure(rows.lastError(), doingPresence);

    // The sizes of the pictures the caller lacks, in one statement for the page. A reload whose
    // pictures are all known (the usual live reload) reads no picture at all.
    const QHash<qint64, Entry *> byKey = lackingPictures(entries);
    if (byKey.isEmpty())
        return StorageError::none();
    QSqlQuery sizes(tx.db());
    const StorageError sized = tx.exec(
        sizes,
        QStringLiteral("SELECT e.id, length(p.rendition) FROM employees e JOIN pictures p"
                       " ON p.original_digest = e.original_digest WHERE e.id IN (%1)").arg(keyList(byKey.keys())),
        {}, doingPictures);
    while (sized.ok() && sizes.next())
        byKey.value(sizes.value(0).toLongLong())->pictureBytes = std::max<qint64>(1, sizes.value(1).toLongLong());
    return sized;
}

// The page ends with the row whose picture reaches the budget; the first row always goes,
// whatever its picture's size, so every page moves on.
int PresenceReader::rowsWithinPictureBudget(const QVector<Entry> &entries, qint64 budget)
{
    qint64 bytes = 0;
    for (int i = 0; i < entries.size(); ++i) {
        bytes += entries.at(i).pictureBytes;
        if (bytes >= budget)
            return i + 1;
    }
    return entries.size();
}

QHash<qint64, PresenceReader::Entry *> PresenceReader::lackingPictures(QVector<Entry> *entries)
{
    QHash<qint64, Entry *> byKey;
    for (Entry &entry : *entries) {
        if (entry.pictureBytes > 0)
            byKey.insert(entry.employeeKey, &entry);
    }
    return byKey;
}

StorageError PresenceReader::attachPictures(Transaction &tx, QVector<Entry> *entries)
{
    const QHash<qint64, Entry *> byKey = lackingPictures(entries);
    if (byKey.isEmpty())
        return StorageError::none();
    if (m_sql.dialect().engine == SqlDialect::Engine::PostgreSQL)
        return attachPicturesBinary(tx, byKey);
    QSqlQuery query(tx.db());
    const StorageError error = tx.exec(
        query,
        QStringLiteral("SELECT e.id, p.rendition FROM employees e JOIN pictures p"
                       " ON p.original_digest = e.original_digest WHERE e.id IN (%1)").arg(keyList(byKey.keys())),
        {}, doingPictures);
    while (error.ok() && query.next())
        byKey.value(query.value(0).toLongLong())->row.picture = query.value(1).toByteArray();
    return error;
}

// Qt's PostgreSQL driver asks for text results, so every picture crosses the wire as hex,
// twice its size, and is decoded again on this side. libpq on the driver's own connection
// asks for binary results instead: the bytes as they are stored.
StorageError PresenceReader::attachPicturesBinary(Transaction &tx, const QHash<qint64, Entry *> &byKey)
{
    QStringList keys;
    for (auto it = byKey.cbegin(); it != byKey.cend(); ++it)
        keys << QString::number(it.key());
    const Result<std::shared_ptr<PGresult>> result =
        tx.execBinary(QStringLiteral("SELECT e.id, p.rendition FROM employees e JOIN pictures p"
                                     " ON p.original_digest = e.original_digest WHERE e.id = ANY(?::bigint[])"),
                      {QString(QLatin1Char('{') + keys.join(QLatin1Char(',')) + QLatin1Char('}'))}, true, doingPictures);
    if (!result)
        return result.error();
    const PGresult *rows = result->get();
    for (int i = 0; i < PQntuples(rows); ++i) {
        if (PQgetlength(rows, i, 0) != 8)
            continue;
        Entry *entry = byKey.value(bigEndianInt64(PQgetvalue(rows, i, 0)));
        if (entry)
            entry->row.picture = QByteArray(PQgetvalue(rows, i, 1), PQgetlength(rows, i, 1));
    }
    return StorageError::none();
}

StorageError PresenceReader::explain(const User &user, const QDateTime &at, QStringList *plan)
{
    return m_sql.read([&](Transaction &tx) {
        QSqlQuery query(tx.db());
        // PostgreSQL cannot prepare EXPLAIN, so the moment goes in as a literal: a number.
        const QString sql = m_sql.dialect().explain + statement(user, civil::seconds(at), {}, PresenceQuery().pageRows);
        const StorageError error = tx.exec(query, sql, {}, QStringLiteral("explain the presence query"));
        while (error.ok() && query.next())
            *plan << query.value(query.record().count() - 1).toString();
        return error;
    });
}

} // namespace vorna::service
