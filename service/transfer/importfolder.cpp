#include "transfer/importfolder.h"

#include "transfer/csvreader.h"
#include "transfer/picturecheck.h"
#include "transfer/rendition.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QtConcurrent>

#include <algorithm>
#include <memory>
#include <numeric>

namespace vorna::transfer {

namespace {

// Past this a file is surely not an organisation's export, and would not fit in a QString.
constexpr qint64 MaxFileBytes = qint64(1) << 30;
constexpr int ProgressEvery = 4096;

struct ColumnSpec
{
    const char *name;
    bool required;
};

const QVector<ColumnSpec> &columnsOf(ImportFile file)
{
    static const QVector<ColumnSpec> columns[ImportFileCount] = {
        {{"name", true}},
        {{"name", true}, {"color", true}, {"present", true}},
        {{"name", true}, {"status", true}},
        {{"name", true}, {"color", true}},
        {{"name", true}, {"color", true}},
        {{"id", true}, {"last_name", true}, {"first_name", true}, {"department", true}, {"picture", false}},
        {{"employee", true}, {"at", true}, {"activity", true}},
    };
    return columns[int(file)];
}

QString columnList(ImportFile file)
{
    QStringList names;
    for (const ColumnSpec &column : columnsOf(file))
        names.append(QString::fromLatin1(column.name));
    return names.join(QStringLiteral(", "));
}

bool holdsControlCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

int characterCount(const QString &text)
{
    int count = 0;
    for (const QChar c : text)
        count += c.isLowSurrogate() ? 0 : 1;
    return count;
}

int utf8Bytes(const QString &text)
{
    return text.toUtf8().size();
}

// Faulty text from a file is echoed in its error, cut short: an error shows what is wrong, not
// whole lines of whatever the file holds.
QString shortened(const QString &text)
{
    constexpr int MaxEchoed = 64;
    if (text.size() <= MaxEchoed)
        return text;
    QString cut = text.left(MaxEchoed - 1);
    if (cut.at(cut.size() - 1).isHighSurrogate())
        cut.chop(1);
    return cut + QChar(0x2026);
}

// One import file read record by record: the header maps the known columns to fields, and each
// field is checked as the caller asks. A row with a fault is reported and marked bad.
class TableReader
{
public:
    TableReader(ImportFile file, const QString &folder, ImportErrors *errors, const ImportProgress &progress)
        : m_file(file), m_name(importFileName(file)), m_folder(folder), m_errors(errors), m_progress(progress)
    {
    }

    bool start();
    bool next();
    int line() const { return m_record.line; }
    bool rowOk() const { return m_rowOk; }
    void error(int column, const QString &message) { errorAt(m_record.line, column, message); }
    void errorAt(int line, int column, const QString &message) { report(line, columnName(column), message); }

    QString text(int column) const;
    QString name(int column);
    QString id(int column);
    int color(int column);
    bool yesNo(int column);
    QDateTime moment(int column);
    // Checking the pictures takes most of an import's time: it has progress of its own.
    void showPictureProgress(qint64 done, qint64 total);

private:
    // The column's text, with an error when it is empty, too large by `measure`, or holds a control character.
    QString checkedText(int column, const QString &what, int (*measure)(const QString &), int most,
                        const QString &unit);
    QString columnName(int column) const { return QString::fromLatin1(columnsOf(m_file).at(column).name); }
    void report(int line, const QString &column, const QString &message);
    void reportSyntax();
    bool readHeader();
    void showProgress(bool last);

    ImportFile m_file;
    QString m_name;
    QString m_folder;
    ImportErrors *m_errors;
    const ImportProgress &m_progress;
    std::unique_ptr<CsvReader> m_reader;
    QVector<int> m_fieldOf;          // column -> field index in a record, -1 when absent
    QStringList m_header;
    CsvRecord m_record;
    bool m_rowOk = true;
    qint64 m_records = 0;
};

void TableReader::report(int line, const QString &column, const QString &message)
{
    m_errors->add({m_name, line, column, message});
    m_rowOk = false;
}

bool TableReader::start()
{
    QFile file(QDir(m_folder).filePath(m_name));
    if (!staysInside(m_folder, file.fileName())) {
        report(0, QString(), QStringLiteral("The file is a link that leads out of the import folder. Copy the file "
                                            "into the folder."));
        return false;
    }
    if (file.size() > MaxFileBytes) {
        report(0, QString(), QStringLiteral("The file is larger than 1 GB. Split it, or import in parts."));
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        report(0, QString(), QStringLiteral("The file cannot be read (%1).").arg(file.errorString()));
        return false;
    }
    m_reader = std::make_unique<CsvReader>(file.readAll());
    return readHeader();
}

void TableReader::reportSyntax()
{
    const CsvError &fault = m_reader->error();
    QString column = QStringLiteral("row");
    if (fault.line == 1 && m_header.isEmpty())
        column = QStringLiteral("header");
    else if (fault.field >= 0 && fault.field < m_header.size())
        column = m_header.at(fault.field);
    report(fault.line, column, fault.message);
}

bool TableReader::readHeader()
{
    CsvRecord header;
    if (!m_reader->next(&header)) {
        if (m_reader->failed())
            reportSyntax();
        else
            report(1, QStringLiteral("header"),
                   QStringLiteral("The file is empty. Its first line names the columns: %1.").arg(columnList(m_file)));
        return false;
    }
    const QVector<ColumnSpec> &columns = columnsOf(m_file);
    m_fieldOf.fill(-1, columns.size());
    bool ok = true;
    for (int field = 0; field < header.fields.size(); ++field) {
        const QString title = header.fields.at(field).trimmed();
        const QString shown = shortened(title);
        m_header.append(shown);
        const auto known = std::find_if(columns.begin(), columns.end(), [&](const ColumnSpec &c) {
            return title.compare(QLatin1String(c.name), Qt::CaseInsensitive) == 0;
        });
        if (known == columns.end()) {
            report(header.line, title.isEmpty() ? QStringLiteral("header") : shown,
                   QStringLiteral("This is not a column of %1; its columns are %2.").arg(m_name, columnList(m_file)));
            ok = false;
        } else if (m_fieldOf[int(known - columns.begin())] >= 0) {
            report(header.line, shown, QStringLiteral("The column is named twice. Keep one of them."));
            ok = false;
        } else {
            m_fieldOf[int(known - columns.begin())] = field;
        }
    }
    for (int column = 0; column < columns.size(); ++column) {
        if (columns.at(column).required && m_fieldOf.at(column) < 0) {
            report(header.line, columnName(column),
                   QStringLiteral("The required column is missing. Add it to the first line."));
            ok = false;
        }
    }
    return ok;
}

void TableReader::showPictureProgress(qint64 done, qint64 total)
{
    if (m_progress)
        m_progress(QStringLiteral("Checking %1 (pictures)").arg(m_name), done, total);
}

void TableReader::showProgress(bool last)
{
    if (m_progress && (last || m_records % ProgressEvery == 0))
        m_progress(QStringLiteral("Checking %1 (lines)").arg(m_name),
                   last ? m_reader->lineCount() : m_reader->currentLine(), m_reader->lineCount());
}

bool TableReader::next()
{
    for (;;) {
        m_rowOk = true;
        if (!m_reader->next(&m_record)) {
            if (m_reader->failed())
                reportSyntax();
            showProgress(true);
            return false;
        }
        ++m_records;
        showProgress(false);
        if (m_record.fields.size() == m_header.size())
            return true;
        report(m_record.line, QStringLiteral("row"),
               QStringLiteral("The row has %1 fields, but the header names %2 columns. "
                              "Put fields that hold a comma in double quotes.")
                   .arg(m_record.fields.size()).arg(m_header.size()));
    }
}

QString TableReader::text(int column) const
{
    const int field = m_fieldOf.at(column);
    return field < 0 ? QString() : m_record.fields.at(field).trimmed();
}

QString TableReader::checkedText(int column, const QString &what, int (*measure)(const QString &), int most,
                                 const QString &unit)
{
    const QString value = text(column);
    const int size = measure(value);
    if (value.isEmpty())
        error(column, QStringLiteral("The %1 is empty. Fill it in.").arg(what));
    else if (size > most)
        error(column, QStringLiteral("The %1 has %2 %3; at most %4 are accepted.")
                          .arg(what, QString::number(size), unit, QString::number(most)));
    else if (holdsControlCharacter(value))
        error(column, QStringLiteral("The %1 holds a control character (a line break or a tab, for "
                                     "instance). Remove it.").arg(what));
    return value;
}

QString TableReader::name(int column)
{
    return checkedText(column, QStringLiteral("value"), characterCount, MaxNameCharacters, QStringLiteral("characters"));
}

QString TableReader::id(int column)
{
    return checkedText(column, QStringLiteral("id"), utf8Bytes, MaxIdBytes, QStringLiteral("bytes"));
}

int TableReader::color(int column)
{
    const QString value = text(column);
    const std::optional<int> rgb = parseColor(value);
    if (!rgb)
        error(column, QStringLiteral("\"%1\" is not a colour. Write it as #RRGGBB, for example #2E7D32.")
                          .arg(shortened(value)));
    return rgb.value_or(0);
}

bool TableReader::yesNo(int column)
{
    const QString value = text(column);
    const std::optional<bool> answer = parseYesNo(value);
    if (!answer)
        error(column, QStringLiteral("\"%1\" is neither yes nor no. Write yes or no.").arg(shortened(value)));
    return answer.value_or(false);
}

QDateTime TableReader::moment(int column)
{
    const QString value = text(column);
    const std::optional<QDateTime> at = parseCivilMoment(value);
    if (!at)
        error(column, QStringLiteral("\"%1\" is not a moment. Write YYYY-MM-DD HH:MM or YYYY-MM-DD HH:MM:SS, "
                                     "a real date in the years %2 to %3.")
                          .arg(shortened(value), QString::number(FirstYear), QString::number(LastYear)));
    return at.value_or(QDateTime());
}

// Whether two rows say the same, whatever their lines.
bool sameValues(const DepartmentRow &a, const DepartmentRow &b) { return a.name == b.name; }
bool sameValues(const StatusRow &a, const StatusRow &b)
{
    return a.name == b.name && a.color == b.color && a.present == b.present;
}
bool sameValues(const ActivityRow &a, const ActivityRow &b) { return a.name == b.name && a.status == b.status; }
bool sameValues(const CalendarRow &a, const CalendarRow &b) { return a.name == b.name && a.color == b.color; }
bool sameValues(const WorkDayRow &a, const WorkDayRow &b) { return a.name == b.name && a.color == b.color; }
bool sameValues(const EmployeeRow &a, const EmployeeRow &b)
{
    return a.id == b.id && a.lastName == b.lastName && a.firstName == b.firstName && a.department == b.department
        && a.picturePath == b.picturePath;
}
bool sameValues(const RegistrationRow &a, const RegistrationRow &b)
{
    return a.employee == b.employee && a.at == b.at && a.activity == b.activity;
}

// The rows of a file, one per natural key. A row that repeats an earlier one in every value is
// a duplicate, counted and skipped: terminals' exports repeat double taps. The same key with
// other values is an error, as the file does not say which one is meant.
template<typename Key, typename Row>
class UniqueRows
{
public:
    UniqueRows(QVector<Row> *rows, qint64 *duplicates) : m_rows(rows), m_duplicates(duplicates) {}

    // Keeps `row` when its key is new; otherwise counts it or reports it on `column`.
    void add(TableReader &reader, int column, const Key &key, const Row &row, const QString &what)
    {
        const auto known = m_indexes.constFind(key);
        if (known == m_indexes.constEnd()) {
            m_indexes.insert(key, m_rows->size());
            m_rows->append(row);
            return;
        }
        const Row &first = m_rows->at(known.value());
        if (sameValues(first, row))
            ++*m_duplicates;
        else
            reader.error(column, QStringLiteral("%1 is already on line %2 with other values. Give each once per file.")
                                     .arg(what, QString::number(first.line)));
    }

private:
    QVector<Row> *m_rows;
    qint64 *m_duplicates;
    QHash<Key, int> m_indexes;
};

// Many registrations repeat the same employee id and activity name: share one copy of each.
class Interner
{
public:
    QString shared(const QString &text)
    {
        const auto known = m_texts.constFind(text);
        if (known != m_texts.constEnd())
            return *known;
        m_texts.insert(text);
        return text;
    }

private:
    QSet<QString> m_texts;
};

struct RegistrationKey
{
    QString employee;
    qint64 at;
    QString activity;
    bool operator==(const RegistrationKey &other) const
    {
        return at == other.at && employee == other.employee && activity == other.activity;
    }
};

uint qHash(const RegistrationKey &key, uint seed = 0)
{
    return ::qHash(key.employee, seed) ^ ::qHash(key.at, seed) ^ (::qHash(key.activity, seed) * 31u);
}

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A file of rows that have a name and nothing to check across rows but the name's uniqueness.
template<typename Row, typename MakeRow>
void readNamed(TableReader &table, const QString &kind, QVector<Row> *rows, qint64 *duplicates, MakeRow makeRow)
{
    UniqueRows<QString, Row> names(rows, duplicates);
    while (table.next()) {
        Row row = makeRow(table);
        row.line = table.line();
        if (table.rowOk())
            names.add(table, 0, row.name, row, QStringLiteral("The %1 %2").arg(kind, quoted(row.name)));
    }
}

// One employee's picture as the check leaves it.
struct PictureOutcome
{
    QString problem;         // empty when the picture is good
    CheckedPicture picture;  // held until its batch is handed on; empty when stored already
};

// Reads and checks one picture, and makes its rendition unless its original is stored already.
PictureOutcome checkOnePicture(const QString &folder, EmployeeRow *row, const QSet<QByteArray> &stored)
{
    PictureOutcome outcome;
    QByteArray bytes;
    outcome.problem = readPicture(folder, row->picturePath, &bytes);
    if (!outcome.problem.isEmpty())
        return outcome;
    row->pictureDigest = pictureDigest(bytes);
    if (stored.contains(row->pictureDigest))
        return outcome;
    Rendition made = makeRendition(bytes, row->picturePath);
    outcome.problem = made.problem;
    // Both are held until their batch is stored: without the room reading and encoding left
    // (up to 2 MB for each original), a batch would take a hundred MB more.
    bytes.squeeze();
    made.bytes.squeeze();
    // Digests are made here, on every core, not in the store's write transaction.
    if (outcome.problem.isEmpty())
        outcome.picture = {std::move(bytes), row->pictureDigest, made.bytes, pictureDigest(made.bytes)};
    else
        row->pictureDigest.clear();
    return outcome;
}

// Runs `work` on the indexes first..last-1 on every core.
void onEveryCore(int first, int last, const std::function<void(int)> &work)
{
    QVector<int> indexes(last - first);
    std::iota(indexes.begin(), indexes.end(), first);
    QtConcurrent::blockingMap(indexes, work);
}

// Takes the good pictures of a batch that are not stored yet, each original once, for
// `staging`; the outcomes hold no bytes after it.
QVector<CheckedPicture> takeNewPictures(const QVector<EmployeeRow> &rows, int first, QVector<PictureOutcome> *outcomes,
                                        PictureStaging *staging)
{
    QVector<CheckedPicture> pictures;
    for (int index = first; index < std::min<int>(first + PictureBatchSize, rows.size()); ++index) {
        PictureOutcome &outcome = (*outcomes)[index];
        const QByteArray &digest = rows.at(index).pictureDigest;
        if (staging && outcome.problem.isEmpty() && !outcome.picture.original.isEmpty()
            && !staging->stored.contains(digest)) {
            staging->stored.insert(digest);
            pictures.append(std::move(outcome.picture));
        }
        outcome.picture = {};
    }
    return pictures;
}

// Decoding pictures is most of an import's checking time, so they are read, and their
// renditions made, on every core; a batch at a time, so that only a batch's bytes are in memory.
// The rows keep the originals' digests; the pictures themselves go to `staging`.
void attachPictures(TableReader &table, const QString &folder, QVector<EmployeeRow> *rows, PictureStaging *staging)
{
    static const QSet<QByteArray> noneStored;
    const QSet<QByteArray> &stored = staging ? staging->stored : noneStored;
    QVector<PictureOutcome> outcomes(rows->size());
    bool handingOn = staging && staging->store;
    for (int first = 0; first < rows->size(); first += PictureBatchSize) {
        onEveryCore(first, std::min<int>(first + PictureBatchSize, rows->size()), [&](int index) {
            EmployeeRow &row = (*rows)[index];
            if (!row.picturePath.isEmpty())
                outcomes[index] = checkOnePicture(folder, &row, stored);
        });
        const QVector<CheckedPicture> pictures = takeNewPictures(*rows, first, &outcomes, staging);
        if (handingOn && !pictures.isEmpty())
            handingOn = staging->store(pictures);
        table.showPictureProgress(std::min<int>(first + PictureBatchSize, rows->size()), rows->size());
    }
    QVector<EmployeeRow> accepted;
    accepted.reserve(rows->size());
    for (int index = 0; index < rows->size(); ++index) {
        if (outcomes.at(index).problem.isEmpty())
            accepted.append(rows->at(index));
        else
            table.errorAt(rows->at(index).line, 4, outcomes.at(index).problem);
    }
    rows->swap(accepted);
}

void readEmployees(TableReader &table, const QString &folder, QVector<EmployeeRow> *rows, qint64 *duplicates,
                   PictureStaging *staging)
{
    UniqueRows<QString, EmployeeRow> ids(rows, duplicates);
    while (table.next()) {
        EmployeeRow row;
        row.line = table.line();
        row.id = table.id(0);
        row.lastName = table.name(1);
        row.firstName = table.name(2);
        row.department = table.name(3);
        row.picturePath = table.text(4);
        if (table.rowOk())
            ids.add(table, 0, row.id, row, QStringLiteral("The employee id %1").arg(quoted(row.id)));
    }
    attachPictures(table, folder, rows, staging);
}

// The natural key is the whole row, so a repeated one is always a duplicate.
void readRegistrations(TableReader &table, QVector<RegistrationRow> *rows, qint64 *duplicates)
{
    UniqueRows<RegistrationKey, RegistrationRow> keys(rows, duplicates);
    Interner texts;
    while (table.next()) {
        RegistrationRow row;
        row.line = table.line();
        row.employee = texts.shared(table.id(0));
        row.at = table.moment(1);
        row.activity = texts.shared(table.name(2));
        if (table.rowOk())
            keys.add(table, 1, {row.employee, row.at.toSecsSinceEpoch(), row.activity}, row, QString());
    }
}

void readFile(ImportFile file, ImportBatch *batch, ImportErrors *errors, const ImportProgress &progress,
              PictureStaging *staging)
{
    TableReader table(file, batch->folder, errors, progress);
    if (!table.start())
        return;
    qint64 *duplicates = &batch->duplicates[int(file)];
    switch (file) {
    case ImportFile::Departments:
        return readNamed(table, QStringLiteral("department"), &batch->departments, duplicates,
                         [](TableReader &t) { return DepartmentRow{0, t.name(0)}; });
    case ImportFile::Statuses:
        return readNamed(table, QStringLiteral("status"), &batch->statuses, duplicates,
                         [](TableReader &t) { return StatusRow{0, t.name(0), t.color(1), t.yesNo(2)}; });
    case ImportFile::Activities:
        return readNamed(table, QStringLiteral("activity"), &batch->activities, duplicates,
                         [](TableReader &t) { return ActivityRow{0, t.name(0), t.name(1)}; });
    case ImportFile::Calendars:
        return readNamed(table, QStringLiteral("calendar"), &batch->calendars, duplicates,
                         [](TableReader &t) { return CalendarRow{0, t.name(0), t.color(1)}; });
    case ImportFile::WorkDays:
        return readNamed(table, QStringLiteral("working-day kind"), &batch->workDays, duplicates,
                         [](TableReader &t) { return WorkDayRow{0, t.name(0), t.color(1)}; });
    case ImportFile::Employees:
        return readEmployees(table, batch->folder, &batch->employees, duplicates, staging);
    case ImportFile::Registrations:
        return readRegistrations(table, &batch->registrations, duplicates);
    }
}

// .csv files in the folder that this import does not read.
QStringList unknownFiles(const QDir &folder)
{
    QStringList known;
    for (int file = 0; file < ImportFileCount; ++file)
        known.append(importFileName(ImportFile(file)));
    QStringList unknown;
    for (const QString &name : folder.entryList({QStringLiteral("*.csv"), QStringLiteral("*.CSV")}, QDir::Files)) {
        if (!known.contains(name))
            unknown.append(name);
    }
    return unknown;
}

QString knownFileList()
{
    QStringList names;
    for (int file = 0; file < ImportFileCount; ++file)
        names.append(importFileName(ImportFile(file)));
    return names.join(QStringLiteral(", "));
}

// The folder's own faults; false when there is nothing to read.
bool checkFolder(const QString &folder, ImportBatch *batch, ImportErrors *errors)
{
    const QDir dir(folder);
    if (!QFileInfo(folder).isDir()) {
        errors->add({folder, 0, QString(), QStringLiteral("The import folder does not exist. Name a folder "
                                                          "that holds the CSV files.")});
        return false;
    }
    for (const QString &name : unknownFiles(dir))
        errors->add({name, 0, QString(), QStringLiteral("This file is not one the import reads (%1). Rename it, "
                                                        "or move it out of the folder.").arg(knownFileList())});
    for (int file = 0; file < ImportFileCount; ++file)
        batch->read[file] = QFileInfo(dir.filePath(importFileName(ImportFile(file)))).isFile();
    if (batch->filesRead().isEmpty()) {
        errors->add({folder, 0, QString(), QStringLiteral("The folder holds none of the files the import reads "
                                                          "(%1).").arg(knownFileList())});
        return false;
    }
    return true;
}

void reportMissing(const QString &file, int line, const QString &column, const QString &kind, const QString &name,
                   const QString &home, ImportErrors *errors)
{
    errors->add({file, line, column,
                 QStringLiteral("There is no %1 %2 in the database or in %3. Add it to %3, or correct the name.")
                     .arg(kind, quoted(name), home)});
}

template<typename Row>
QSet<QString> namesOf(const QVector<Row> &rows, QSet<QString> names)
{
    for (const Row &row : rows)
        names.insert(row.name);
    return names;
}

} // namespace

QString importFileName(ImportFile file)
{
    static const char *const names[ImportFileCount] = {"departments.csv", "statuses.csv", "activities.csv",
                                                       "calendars.csv",   "workdays.csv", "employees.csv",
                                                       "registrations.csv"};
    return QString::fromLatin1(names[int(file)]);
}

QVector<ImportFile> ImportBatch::filesRead() const
{
    QVector<ImportFile> files;
    for (int file = 0; file < ImportFileCount; ++file) {
        if (read[file])
            files.append(ImportFile(file));
    }
    return files;
}

ImportBatch readImportFolder(const QString &folder, ImportErrors *errors, const ImportProgress &progress,
                             PictureStaging *staging)
{
    ImportBatch batch;
    batch.folder = folder;
    if (!checkFolder(folder, &batch, errors))
        return batch;
    for (ImportFile file : batch.filesRead())
        readFile(file, &batch, errors, progress, staging);
    return batch;
}

void checkReferences(const ImportBatch &batch, const ExistingNames &existing, ImportErrors *errors)
{
    const QString activitiesFile = importFileName(ImportFile::Activities);
    const QSet<QString> statuses = namesOf(batch.statuses, existing.statuses);
    for (const ActivityRow &row : batch.activities) {
        if (!statuses.contains(row.status))
            reportMissing(activitiesFile, row.line, QStringLiteral("status"), QStringLiteral("status"), row.status,
                          importFileName(ImportFile::Statuses), errors);
    }
    const QString employeesFile = importFileName(ImportFile::Employees);
    const QSet<QString> departments = namesOf(batch.departments, existing.departments);
    QSet<QString> employees = existing.employees;
    for (const EmployeeRow &row : batch.employees) {
        employees.insert(row.id);
        if (!departments.contains(row.department))
            reportMissing(employeesFile, row.line, QStringLiteral("department"), QStringLiteral("department"),
                          row.department, importFileName(ImportFile::Departments), errors);
    }
    const QString registrationsFile = importFileName(ImportFile::Registrations);
    const QSet<QString> activities = namesOf(batch.activities, existing.activities);
    for (const RegistrationRow &row : batch.registrations) {
        if (!employees.contains(row.employee))
            reportMissing(registrationsFile, row.line, QStringLiteral("employee"), QStringLiteral("employee"),
                          row.employee, employeesFile, errors);
        if (!activities.contains(row.activity))
            reportMissing(registrationsFile, row.line, QStringLiteral("activity"), QStringLiteral("activity"),
                          row.activity, activitiesFile, errors);
    }
}

QString reportLine(ImportFile file, const ImportCounts &counts)
{
    const QString line = QStringLiteral("%1: %2 added, %3 changed, %4 unchanged")
                             .arg(importFileName(file))
                             .arg(counts.added)
                             .arg(counts.changed)
                             .arg(counts.unchanged);
    if (counts.duplicates == 0)
        return line;
    return line + (counts.duplicates == 1 ? QStringLiteral(", 1 duplicate line skipped")
                                          : QStringLiteral(", %1 duplicate lines skipped").arg(counts.duplicates));
}

} // namespace vorna::transfer
