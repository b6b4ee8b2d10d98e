#pragma once
// An import folder read and checked without a database: whichever of the known CSV files exist
// become typed rows, every fault becomes an ImportError, and the good pictures are handed to
// the caller to store as they are read (PictureStaging). The caller then checks the rows'
// references against what the database already holds (checkReferences), and when no error is
// left, writes them in one transaction and prints one reportLine per file read.
//
// Every file: a header row naming its columns in any order (either case), then one row per
// record. Spaces around a value are ignored. Names have 1 to 200 characters, ids 1 to 64 bytes,
// neither holds a control character. A natural key (name; id for employees; employee, moment and activity
// for registrations) appears once per file; a line that repeats an earlier one in every value is
// a duplicate, skipped and counted.

#include "transfer/civiltext.h"
#include "transfer/importerrors.h"
#include "transfer/rendition.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QVector>

#include <functional>

namespace vorna::transfer {

// In the order they are read and written: each file names only things of the files before it.
enum class ImportFile { Departments, Statuses, Activities, Calendars, WorkDays, Employees, Registrations };
inline constexpr int ImportFileCount = 7;

// "departments.csv", "statuses.csv", ...
QString importFileName(ImportFile file);

inline constexpr int MaxNameCharacters = 200;
inline constexpr int MaxIdBytes = 64;

struct DepartmentRow { int line = 0; QString name; };
struct StatusRow { int line = 0; QString name; int color = 0; bool present = false; }; // color 0xRRGGBB
struct ActivityRow { int line = 0; QString name; QString status; };
struct CalendarRow { int line = 0; QString name; int color = 0; };
struct WorkDayRow { int line = 0; QString name; int color = 0; };
struct EmployeeRow
{
    int line = 0;
    QString id;
    QString lastName;
    QString firstName;
    QString department;
    QString picturePath;   // as written in the file, relative to the folder; may be empty
    // SHA-256 of the picture as it was checked; empty without one. The bytes themselves are
    // not kept (10,000 photos would not fit in memory): the check hands them to
    // PictureStaging::store, and the employee refers to the stored picture by this digest.
    QByteArray pictureDigest;
};
struct RegistrationRow
{
    int line = 0;
    QString employee;      // employee id
    QDateTime at;          // civil moment (Qt::UTC spec, a wall-clock reading)
    QString activity;      // activity kind name
};

struct ImportBatch
{
    QString folder;
    bool read[ImportFileCount] = {};   // which files the folder held
    qint64 duplicates[ImportFileCount] = {}; // lines skipped as repeats of an earlier one
    QVector<DepartmentRow> departments;
    QVector<StatusRow> statuses;
    QVector<ActivityRow> activities;
    QVector<CalendarRow> calendars;
    QVector<WorkDayRow> workDays;
    QVector<EmployeeRow> employees;
    QVector<RegistrationRow> registrations;

    bool has(ImportFile file) const { return read[int(file)]; }
    QVector<ImportFile> filesRead() const;
};

// Same shape as the storage's progress callback: a phase, done of total.
using ImportProgress = std::function<void(const QString &phase, qint64 done, qint64 total)>;

// Where the check hands the pictures it read: so each picture is read, decoded and rendered
// once, and only a batch of them is in memory at a time.
struct PictureStaging
{
    // Digests of the originals stored already: checked, but neither rendered nor handed on.
    // Each picture handed on joins them, so that one named twice is handed on once.
    QSet<QByteArray> stored;
    // Takes a batch of pictures; false stops the handing on (the check goes on).
    std::function<bool(const QVector<CheckedPicture> &)> store;
};

// Reads and checks every known file in `folder`: syntax, header, each field, duplicates within
// a file, pictures. Adds every fault to *errors and keeps the rows that passed. A folder that
// is missing, holds none of the files, or holds another .csv file (a misspelt name would
// otherwise be skipped unseen) is an error too. With `staging`, the good pictures go there.
ImportBatch readImportFolder(const QString &folder, ImportErrors *errors, const ImportProgress &progress = {},
                             PictureStaging *staging = nullptr);

// How many pictures are read, checked and held in memory at a time, spread over every core.
inline constexpr int PictureBatchSize = 64;

// What the database holds already, by natural key.
struct ExistingNames
{
    QSet<QString> departments;
    QSet<QString> statuses;
    QSet<QString> activities;
    QSet<QString> employees;   // ids
};

// Adds an error for every row that names a department, status, activity or employee that
// exists neither in `existing` nor in the batch. Nothing is ever created implicitly.
void checkReferences(const ImportBatch &batch, const ExistingNames &existing, ImportErrors *errors);

// What writing a file's rows did (or, in a dry run, would do). Registrations that are already
// in the database count as unchanged; lines the file repeats are duplicates.
struct ImportCounts
{
    qint64 added = 0;
    qint64 changed = 0;
    qint64 unchanged = 0;
    qint64 duplicates = 0;
};

// "employees.csv: 300 added, 0 changed, 0 unchanged", and ", 2 duplicate lines skipped" when
// the file repeated lines.
QString reportLine(ImportFile file, const ImportCounts &counts);

} // namespace vorna::transfer
