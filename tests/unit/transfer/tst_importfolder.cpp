// Import folder checks: header faults, field faults with their exact FILE:LINE: COLUMN: texts,
// references to names that exist nowhere, the folder's own faults, the error list's order and
// bound, and the example organisation that the docs ship, which must check clean.

#include "transfer/importfolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QtTest>

using namespace vorna::transfer;

namespace {

void writeFile(const QString &folder, const QString &name, const QByteArray &bytes)
{
    QFile file(QDir(folder).filePath(name));
    QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// "FILE:LINE: COLUMN" of every error, to compare where faults were found in one go.
QStringList places(const ImportErrors &errors)
{
    QStringList texts;
    for (const ImportError &error : errors.first(100))
        texts.append(error.text().section(QStringLiteral(": "), 0, 1));
    return texts;
}

} // namespace

class TestImportFolder : public QObject
{
    Q_OBJECT

private slots:
    void headerFaults();
    void fieldFaults();
    void pictureFaults();
    void picturesAreHandedOnOnce();
    void repeatedLines();
    void filesThatLeaveTheFolderAreNotRead();
    void echoedTextIsCut();
    void references();
    void folderFaults();
    void errorListKeepsTheEarliest();
    void exampleOrganisationChecksClean();
};

void TestImportFolder::headerFaults()
{
    QTemporaryDir dir;
    writeFile(dir.path(), "employees.csv", "id,last_name,first,department,id\nE1,A,B,C,E1\n");
    writeFile(dir.path(), "departments.csv", "");
    writeFile(dir.path(), "activities.csv", "Status,name\nPresent,Arrival\n");
    ImportErrors errors;
    const ImportBatch batch = readImportFolder(dir.path(), &errors);
    QCOMPARE(errors.lines(), QStringList({
        "departments.csv:1: header: The file is empty. Its first line names the columns: name.",
        "employees.csv:1: first: This is not a column of employees.csv; its columns are id, last_name, "
        "first_name, department, picture.",
        "employees.csv:1: id: The column is named twice. Keep one of them.",
        "employees.csv:1: first_name: The required column is missing. Add it to the first line.",
    }));
    // Columns in any order and either case; the file without faults is read.
    QCOMPARE(batch.activities.size(), 1);
    QCOMPARE(batch.activities.at(0).name, QString("Arrival"));
    QCOMPARE(batch.activities.at(0).status, QString("Present"));
    QVERIFY(batch.employees.isEmpty());
}

void TestImportFolder::fieldFaults()
{
    QTemporaryDir dir;
    writeFile(dir.path(), "statuses.csv",
              "name,color,present\r\n"
              "Present,#2e7d32,YES\r\n"
              "Away,green,maybe\r\n"
              "\"\",#000000,no\r\n"
              "Present,#000000,no\r\n"
              "Sick,#C62828,no,extra\r\n"
              "\"Tab\there\",#000000,no\r\n");
    writeFile(dir.path(), "registrations.csv",
              "employee,at,activity\n"
              "E1,2026-11-02 08:00,Arrival\n"
              "E1,2026-02-30 08:00,Arrival\n"
              "E1,1899-12-31 23:59:59,Arrival\n"
              "E1,2026-11-02 08:00:00,Arrival\n"
              + QByteArray(65, 'x') + ",2026-11-02 08:00,Arrival\n"
              "E1,2026-11-02 8:00,Arrival\n"
              "E1,2026-11-02 17:00:30," + QByteArray(201, 'a') + "\n");
    ImportErrors errors;
    const ImportBatch batch = readImportFolder(dir.path(), &errors);
    QCOMPARE(places(errors), QStringList({
        "statuses.csv:3: color", "statuses.csv:3: present", "statuses.csv:4: name", "statuses.csv:5: name",
        "statuses.csv:6: row", "statuses.csv:7: name",
        "registrations.csv:3: at", "registrations.csv:4: at", "registrations.csv:6: employee",
        "registrations.csv:7: at", "registrations.csv:8: activity",
    }));
    const QVector<ImportError> shown = errors.first(100);
    QCOMPARE(shown.at(0).message, QString("\"green\" is not a colour. Write it as #RRGGBB, for example #2E7D32."));
    QCOMPARE(shown.at(3).message, QString("The status \"Present\" is already on line 2 with other values. Give each "
                                          "once per file."));
    QCOMPARE(shown.at(6).message, QString("\"2026-02-30 08:00\" is not a moment. Write YYYY-MM-DD HH:MM or "
                                          "YYYY-MM-DD HH:MM:SS, a real date in the years 1900 to 9999."));
    QCOMPARE(shown.at(10).message, QString("The value has 201 characters; at most 200 are accepted."));

    // The rows that passed, typed.
    QCOMPARE(batch.statuses.size(), 1);
    QCOMPARE(batch.statuses.at(0).line, 2);
    QCOMPARE(batch.statuses.at(0).color, 0x2E7D32);
    QVERIFY(batch.statuses.at(0).present);
    QCOMPARE(batch.registrations.size(), 1);
    QCOMPARE(batch.registrations.at(0).at, QDateTime(QDate(2026, 11, 2), QTime(8, 0), Qt::UTC));
}

void TestImportFolder::pictureFaults()
{
    QTemporaryDir dir;
    QTemporaryDir outside;
    QImage small(40, 30, QImage::Format_RGB32);
    small.fill(Qt::darkGreen);
    QVERIFY(QDir().mkpath(dir.filePath("pictures")));
    QVERIFY(small.save(dir.filePath("pictures/ok.png")));
    QImage wide(2049, 10, QImage::Format_RGB32);
    wide.fill(Qt::white);
    QVERIFY(wide.save(dir.filePath("pictures/wide.jpg")));
    writeFile(dir.path(), "pictures/notes.png", "not an image at all");
    QVERIFY(small.save(outside.filePath("elsewhere.png")));
    QVERIFY(QFile::link(outside.filePath("elsewhere.png"), dir.filePath("pictures/link.png")));
    writeFile(dir.path(), "employees.csv",
              "id,last_name,first_name,department,picture\n"
              "E1,Ilić,Ana,Sales,pictures/ok.png\n"
              "E2,B,B,Sales,pictures/wide.jpg\n"
              "E3,C,C,Sales,pictures/notes.png\n"
              "E4,D,D,Sales,../elsewhere.png\n"
              "E5,E,E,Sales,pictures/link.png\n"
              "E6,F,F,Sales,pictures/missing.jpg\n"
              "E7,G,G,Sales,\n");
    ImportErrors errors;
    const ImportBatch batch = readImportFolder(dir.path(), &errors);
    QCOMPARE(places(errors), QStringList({"employees.csv:3: picture", "employees.csv:4: picture",
                                          "employees.csv:5: picture", "employees.csv:6: picture",
                                          "employees.csv:7: picture"}));
    QVERIFY(errors.first().at(0).message.contains("2049 by 10 pixels"));
    QVERIFY(errors.first().at(1).message.contains("not a JPEG or PNG"));
    QVERIFY(errors.first().at(2).message.contains("leaves the import folder"));
    QVERIFY(errors.first().at(3).message.contains("leads out of the import folder"));
    QVERIFY(errors.first().at(4).message.contains("does not exist"));
    QCOMPARE(batch.employees.size(), 2);
    QCOMPARE(batch.employees.at(0).lastName, QString::fromUtf8("Ilić"));
    QFile ok(dir.filePath("pictures/ok.png"));
    QVERIFY(ok.open(QIODevice::ReadOnly));
    QCOMPARE(batch.employees.at(0).pictureDigest, QCryptographicHash::hash(ok.readAll(), QCryptographicHash::Sha256));
    QVERIFY(batch.employees.at(1).pictureDigest.isEmpty());
}

// The check keeps only digests, so the writer reads the pictures again: what it writes must be
// what was checked, and a picture changed or removed in between is refused, never written.
// The check hands each new original on once, with its rendition, and only renders what is
// not stored yet; the rows keep the originals' digests to refer to them.
void TestImportFolder::picturesAreHandedOnOnce()
{
    QTemporaryDir dir;
    QImage picture(300, 150, QImage::Format_RGB32);
    picture.fill(Qt::darkBlue);
    QVERIFY(picture.save(dir.filePath("a.png")));
    QVERIFY(picture.save(dir.filePath("same as a.png")));
    picture.fill(Qt::red);
    QVERIFY(picture.save(dir.filePath("stored.png")));
    writeFile(dir.path(), "employees.csv",
              "id,last_name,first_name,department,picture\nE1,A,A,Sales,a.png\nE2,B,B,Sales,same as a.png\n"
              "E3,C,C,Sales,stored.png\nE4,D,D,Sales,\n");
    const auto digestOf = [&](const char *name) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256)
                                              : QByteArray();
    };
    PictureStaging staging{{digestOf("stored.png")}, {}};
    QVector<CheckedPicture> handed;
    staging.store = [&](const QVector<CheckedPicture> &pictures) {
        handed += pictures;
        return true;
    };
    ImportErrors errors;
    const ImportBatch batch = readImportFolder(dir.path(), &errors, {}, &staging);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.lines().join('\n')));
    QCOMPARE(handed.size(), 1);
    QCOMPARE(QCryptographicHash::hash(handed.first().original, QCryptographicHash::Sha256), digestOf("a.png"));
    QCOMPARE(QImage::fromData(handed.first().rendition).size(), QSize(256, 128));
    QCOMPARE(batch.employees.size(), 4);
    QCOMPARE(batch.employees.at(0).pictureDigest, digestOf("a.png"));
    QCOMPARE(batch.employees.at(1).pictureDigest, digestOf("a.png"));
    QCOMPARE(batch.employees.at(2).pictureDigest, digestOf("stored.png"));
    QVERIFY(batch.employees.at(3).pictureDigest.isEmpty());
    QCOMPARE(staging.stored.size(), 2);
}

// Terminals' exports repeat double taps: a line equal to an earlier one in every value (16:25
// and 16:25:00 are one moment) is skipped and counted; the same key with other values stays
// an error.
void TestImportFolder::repeatedLines()
{
    QTemporaryDir dir;
    writeFile(dir.path(), "departments.csv", "name\nSales\n Sales\n");
    writeFile(dir.path(), "statuses.csv",
              "name,color,present\nPresent,#2E7D32,yes\nPresent,#2e7d32,YES\nAway,#000000,no\nAway,#000000,yes\n");
    writeFile(dir.path(), "employees.csv",
              "id,last_name,first_name,department\nE1,Ilić,Ana,Sales\nE1,Ilić,Ana,Sales\nE1,Ilić,Ana,Works\n");
    writeFile(dir.path(), "registrations.csv",
              "employee,at,activity\n"
              "E1,2026-11-02 16:25,Departure\n"
              "E1,2026-11-02 16:25:00,Departure\n"
              "E1,2026-11-02 16:25,Departure\n"
              "E1,2026-11-02 16:25,Arrival\n");
    ImportErrors errors;
    const ImportBatch batch = readImportFolder(dir.path(), &errors);
    QCOMPARE(places(errors), QStringList({"statuses.csv:5: name", "employees.csv:4: id"}));
    QCOMPARE(errors.first().at(1).message, QString("The employee id \"E1\" is already on line 2 with other values. "
                                                   "Give each once per file."));
    const qint64 expected[ImportFileCount] = {1, 1, 0, 0, 0, 1, 2};
    for (int file = 0; file < ImportFileCount; ++file)
        QVERIFY2(batch.duplicates[file] == expected[file], qPrintable(importFileName(ImportFile(file))));
    QCOMPARE(batch.registrations.size(), 2);
    QCOMPARE(batch.registrations.at(0).line, 2);
    QCOMPARE(batch.registrations.at(1).activity, QString("Arrival"));
    QCOMPARE(batch.employees.size(), 1);

    QCOMPARE(reportLine(ImportFile::Registrations, {2, 0, 0, 2}),
             QString("registrations.csv: 2 added, 0 changed, 0 unchanged, 2 duplicate lines skipped"));
    QCOMPARE(reportLine(ImportFile::Departments, {0, 0, 1, 1}),
             QString("departments.csv: 0 added, 0 changed, 1 unchanged, 1 duplicate line skipped"));
}

// A CSV file may be a link within the folder, but not one that leads out of it: the import
// would otherwise read, and echo in its errors, any file its user may read.
void TestImportFolder::filesThatLeaveTheFolderAreNotRead()
{
    QTemporaryDir dir;
    QTemporaryDir outside;
    writeFile(outside.path(), "secret", "secret-first-line\nsecond\n");
    QVERIFY(QFile::link(outside.filePath("secret"), dir.filePath("departments.csv")));
    writeFile(dir.path(), "sources/statuses", "name,color,present\nPresent,#2E7D32,yes\n");
    QVERIFY(QFile::link(dir.filePath("sources/statuses"), dir.filePath("statuses.csv")));
    ImportErrors errors;
    const ImportBatch batch = readImportFolder(dir.path(), &errors);
    QCOMPARE(errors.lines(), QStringList({"departments.csv: The file is a link that leads out of the import folder. "
                                          "Copy the file into the folder."}));
    QVERIFY(batch.departments.isEmpty());
    QCOMPARE(batch.statuses.size(), 1);
}

// Whatever a file holds, an error shows at most 64 characters of a field.
void TestImportFolder::echoedTextIsCut()
{
    QTemporaryDir dir;
    const QByteArray title(100, 'h');
    writeFile(dir.path(), "departments.csv", "name," + title + "\nSales,x\n");
    writeFile(dir.path(), "calendars.csv", "name,color\nDay,#" + QByteArray(500, 'c') + "\n");
    // A cut never splits a character that takes two UTF-16 units.
    writeFile(dir.path(), "workdays.csv", "name,color\nHoliday," + QByteArray(62, 'w') + "\xF0\x9F\x98\x80tail\n");
    ImportErrors errors;
    readImportFolder(dir.path(), &errors);
    const QVector<ImportError> shown = errors.first();
    QCOMPARE(shown.size(), 3);
    QCOMPARE(shown.at(0).column, QString(63, 'h') + QChar(0x2026));
    QCOMPARE(shown.at(1).message, "\"#" + QString(62, 'c') + QChar(0x2026)
                                      + "\" is not a colour. Write it as #RRGGBB, for example #2E7D32.");
    QVERIFY2(shown.at(2).message.startsWith("\"" + QString(62, 'w') + QChar(0x2026) + "\""),
             qPrintable(shown.at(2).message));
}

void TestImportFolder::references()
{
    QTemporaryDir dir;
    writeFile(dir.path(), "statuses.csv", "name,color,present\nPresent,#00FF00,yes\n");
    writeFile(dir.path(), "activities.csv", "name,status\nArrival,Present\nDeparture,Absent\nTrip,Away\n");
    writeFile(dir.path(), "employees.csv", "id,last_name,first_name,department\nE1,A,A,Sales\nE2,B,B,Ghosts\n");
    writeFile(dir.path(), "registrations.csv",
              "employee,at,activity\nE1,2026-11-02 08:00,Arrival\nE9,2026-11-02 08:00,Departure\n"
              "E0,2026-11-02 09:00,Lunch\n");
    ImportErrors errors;
    const ImportBatch batch = readImportFolder(dir.path(), &errors);
    QVERIFY(errors.isEmpty());
    // Known to the database: the status Absent, the department Sales, the employee E9.
    checkReferences(batch, {{"Sales"}, {"Absent"}, {}, {"E9"}}, &errors);
    QCOMPARE(places(errors), QStringList({"activities.csv:4: status", "employees.csv:3: department",
                                          "registrations.csv:4: employee", "registrations.csv:4: activity"}));
    QCOMPARE(errors.first().at(1).message, QString("There is no department \"Ghosts\" in the database or in "
                                                   "departments.csv. Add it to departments.csv, or correct the name."));
}

void TestImportFolder::folderFaults()
{
    ImportErrors missing;
    readImportFolder(QStringLiteral("/nonexistent/vorna-import"), &missing);
    QCOMPARE(missing.lines(), QStringList({"/nonexistent/vorna-import: The import folder does not exist. Name a "
                                           "folder that holds the CSV files."}));

    QTemporaryDir dir;
    writeFile(dir.path(), "employes.csv", "id\n");
    ImportErrors misspelt;
    const ImportBatch batch = readImportFolder(dir.path(), &misspelt);
    QCOMPARE(misspelt.count(), 2); // the unknown file, and no known file at all
    QVERIFY(misspelt.lines().at(0).startsWith("employes.csv: This file is not one the import reads"));
    QVERIFY(batch.filesRead().isEmpty());
}

void TestImportFolder::errorListKeepsTheEarliest()
{
    ImportErrors errors(3);
    for (int line : {9, 4, 7, 2, 8, 2})
        errors.add({"b.csv", line, "x", QString::number(line)});
    errors.add({"a.csv", 5, "x", "a"});
    QCOMPARE(errors.count(), qint64(7));
    QCOMPARE(errors.lines(4), QStringList({"b.csv:2: x: 2", "b.csv:2: x: 2", "b.csv:4: x: 4", "a.csv:5: x: a",
                                           "... and 3 more errors. Correct these and check again."}));
}

void TestImportFolder::exampleOrganisationChecksClean()
{
    ImportErrors errors;
    int progressCalls = 0;
    const ImportBatch batch = readImportFolder(QStringLiteral(VORNA_EXAMPLE_ORGANISATION), &errors,
                                               [&](const QString &, qint64 done, qint64 total) {
                                                   QVERIFY(done <= total);
                                                   ++progressCalls;
                                               });
    checkReferences(batch, {}, &errors);
    QVERIFY2(errors.isEmpty(), qPrintable(errors.lines().join('\n')));
    QCOMPARE(batch.filesRead().size(), ImportFileCount);
    QCOMPARE(batch.departments.size(), 3);
    QCOMPARE(batch.employees.size(), 20);
    int pictures = 0;
    for (const EmployeeRow &employee : batch.employees)
        pictures += employee.pictureDigest.isEmpty() ? 0 : 1;
    QCOMPARE(pictures, 3);
    QVERIFY(batch.registrations.size() > 500);
    QVERIFY(progressCalls >= ImportFileCount);
    QCOMPARE(reportLine(ImportFile::Employees, {20, 0, 0}), QString("employees.csv: 20 added, 0 changed, 0 unchanged"));
}

QTEST_GUILESS_MAIN(TestImportFolder)
#include "tst_importfolder.moc"
