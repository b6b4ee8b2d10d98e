// The built vorna-service's import, export and report commands, on a temporary SQLite database
// and, when VORNA_TEST_PG names a server, on PostgreSQL: the example organisation goes in and
// comes out alike, a bad folder changes nothing, a dry run writes nothing, and the month
// report and the presence export match months and moments worked out by hand.

#include "transfer/csvreader.h"
#include "transfer/rendition.h"
#include "storage/database.h"
#include "support/servicerunner.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace vorna::service;
using vorna::testing::CommandRun;
using vorna::testing::ServiceRunner;

namespace {

const QString Example = QStringLiteral(VORNA_SOURCE_DIR "/docs/example-organisation");

// The records of a CSV text, header included.
QVector<QStringList> csvRecords(const QString &text)
{
    vorna::transfer::CsvReader reader(text.toUtf8());
    QVector<QStringList> records;
    vorna::transfer::CsvRecord record;
    while (reader.next(&record))
        records.append(record.fields);
    return records;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A month with a night that crosses midnight into it, a night summer time ends (October) or
// begins (March) in Europe/Belgrade, and a stay cut at the month's end.
const QMap<QString, QByteArray> TinyOrganisation{
    {QStringLiteral("departments.csv"), "name\nWorks\nOffice\n"},
    {QStringLiteral("statuses.csv"), "name,color,present\nPresent,#00AA00,yes\nAway,#AAAAAA,no\n"},
    {QStringLiteral("activities.csv"), "name,status\nArrival,Present\nDeparture,Away\n"},
    {QStringLiteral("calendars.csv"), "name,color\nShift,#123456\n"},
    {QStringLiteral("workdays.csv"), "name,color\nHoliday,#FF0000\n"},
    {QStringLiteral("employees.csv"),
     "id,last_name,first_name,department,picture\nA1,Zec,Ana,Works,\nA2,Babić,Ivo,Works,\nA3,Marić,Eva,Works,\n"
     "B1,Kos,Mila,Office,\n"},
    {QStringLiteral("registrations.csv"),
     "employee,at,activity\n"
     "A1,2026-09-30 22:00,Arrival\nA1,2026-10-01 06:00,Departure\n"        // 6 h in October
     "A1,2026-10-24 22:00,Arrival\nA1,2026-10-25 06:00:00,Departure\n"     // 8 h on the clock, 9 real
     "A2,2026-03-28 22:00,Arrival\nA2,2026-03-29 06:00,Departure\n"        // 8 h on the clock, 7 real
     "A2,2026-10-31 20:00,Arrival\n"                                       // 4 h, cut at November
     "B1,2026-10-05 08:00,Arrival\nB1,2026-10-05 16:30,Departure\n"
     "B1,2026-10-05 16:30:00,Departure\n"},                                  // a double tap, exported twice
};

} // namespace

class TestTransferCommands : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_pictureRounds = 0;

    CommandRun run(QStringList arguments, const QString &database)
    {
        arguments << QStringLiteral("--database") << database;
        return ServiceRunner().run(arguments);
    }

    QString ok(const QStringList &arguments, const QString &database)
    {
        const CommandRun r = run(arguments, database);
        if (r.exitCode != 0)
            qWarning("%s: %s", qPrintable(arguments.join(QLatin1Char(' '))), qPrintable(r.err));
        return r.exitCode == 0 ? r.out : QStringLiteral("failed: ") + r.err;
    }

    QString folder(const QString &name, const QMap<QString, QByteArray> &files)
    {
        const QString path = m_dir.filePath(name);
        QDir().mkpath(path);
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            QFile file(QDir(path).filePath(it.key()));
            QDir().mkpath(QFileInfo(file).absolutePath());
            if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size())
                return {};
        }
        return path;
    }

    // Everything an import can write, as the commands print it.
    QString snapshot(const QString &database)
    {
        QString all;
        for (const char *kind : {"department", "status", "activity", "calendar", "workday", "employee"})
            all += ok({QString::fromLatin1(kind), QStringLiteral("list"), QStringLiteral("--format"), QStringLiteral("csv")}, database);
        return all + ok({"export", "registrations", "--from", "1900-01-01", "--to", "9999-12-31"}, database);
    }

    // The example folder in, and the same data out; a second import writes nothing.
    void exampleRound(const QString &database)
    {
        QCOMPARE(run({QStringLiteral("init")}, database).exitCode, 0);
        const QString empty = snapshot(database);
        QString out = ok({"import", Example, "--dry-run"}, database);
        QVERIFY2(out.contains(QLatin1String("employees.csv: 20 added, 0 changed, 0 unchanged\n")), qPrintable(out));
        QCOMPARE(snapshot(database), empty);

        out = ok({"import", Example}, database);
        QVERIFY2(out.startsWith(QLatin1String("departments.csv: 3 added, 0 changed, 0 unchanged\n"))
                     && out.contains(QLatin1String("employees.csv: 20 added, 0 changed, 0 unchanged\n")),
                 qPrintable(out));
        const QString loaded = snapshot(database);
        out = ok({"import", Example}, database);
        const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 7);
        for (const QString &line : lines)
            QVERIFY2(line.contains(QLatin1String(": 0 added, 0 changed, ")), qPrintable(line));
        QCOMPARE(snapshot(database), loaded);

        // Registrations: the same set (the export orders by employee, then moment).
        QVector<QStringList> imported = csvRecords(QString::fromUtf8(readFile(Example + QStringLiteral("/registrations.csv"))));
        QVector<QStringList> exported = csvRecords(ok({"export", "registrations", "--from", "2026-10-01", "--to", "2026-12-31"}, database));
        QCOMPARE(exported.takeFirst(), imported.takeFirst());
        for (QStringList &row : imported) {
            if (row.at(1).size() == 16)
                row[1] += QStringLiteral(":00");
        }
        std::sort(imported.begin(), imported.end());
        QCOMPARE(exported, imported);

        // Employees: the same people in the same departments, the pictures byte for byte.
        QVector<QStringList> employees = csvRecords(QString::fromUtf8(readFile(Example + QStringLiteral("/employees.csv"))));
        QVector<QStringList> listed = csvRecords(ok({"employee", "list", "--format", "csv"}, database));
        QCOMPARE(listed.size(), employees.size());
        const auto storage = Database::open(database).take();
        QVERIFY(storage);
        const Result<QVector<Employee>> stored = storage->organisation().employees();
        QVERIFY(stored);
        QCOMPARE(stored->size(), 20);
        for (int i = 1; i < employees.size(); ++i) {
            QCOMPARE(listed.at(i).mid(0, 4), employees.at(i).mid(0, 4));
            const QByteArray picture = employees.at(i).at(4).isEmpty() ? QByteArray()
                                                                       : readFile(Example + QLatin1Char('/') + employees.at(i).at(4));
            // Panels are sent the rendition, under its digest; the original is kept.
            const QByteArray rendition = vorna::transfer::makeRendition(picture, QString()).bytes;
            QCOMPARE(stored->at(i - 1).pictureDigest,
                     picture.isEmpty() ? QByteArray() : QCryptographicHash::hash(rendition, QCryptographicHash::Sha256));
            QCOMPARE(storage->organisation().findEmployee(stored->at(i - 1).id)->picture, picture);
        }
    }

    // The example's pictures out again as files, byte for byte, after exampleRound.
    void picturesRound(const QString &database)
    {
        const QString exports = m_dir.filePath(QStringLiteral("pictures-%1").arg(++m_pictureRounds));
        const QString target = QDir(exports).filePath(QStringLiteral("all"));
        const QMap<QString, QString> originals{{QStringLiteral("E001.jpg"), QStringLiteral("e001.jpg")},
                                               {QStringLiteral("E002.png"), QStringLiteral("e002.png")},
                                               {QStringLiteral("E003.jpg"), QStringLiteral("e003.jpg")}};
        const auto sameAsOriginals = [&](const QString &folder) {
            const QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
            QCOMPARE(names, originals.keys());
            for (auto it = originals.cbegin(); it != originals.cend(); ++it)
                QVERIFY2(readFile(QDir(folder).filePath(it.key())) == readFile(Example + QStringLiteral("/pictures/") + it.value()),
                         qPrintable(it.key()));
        };
        QCOMPARE(ok({"export", "pictures", target}, database), QStringLiteral("Wrote 3 pictures to %1.\n").arg(target));
        sameAsOriginals(target);

        // Files of the same names are not replaced unasked, and nothing at all is written then.
        QFile stale(QDir(target).filePath(QStringLiteral("E002.png")));
        QVERIFY(stale.open(QIODevice::WriteOnly) && stale.write("an older export") > 0);
        stale.close();
        QVERIFY(QFile::remove(QDir(target).filePath(QStringLiteral("E001.jpg"))));
        CommandRun r = run({"export", "pictures", target}, database);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.contains(QLatin1String("(E002.png, E003.jpg, 2 in all)")) && r.err.contains(QLatin1String("--force")),
                 qPrintable(r.err));
        QVERIFY(!QFile::exists(QDir(target).filePath(QStringLiteral("E001.jpg"))));
        QCOMPARE(readFile(QDir(target).filePath(QStringLiteral("E002.png"))), QByteArray("an older export"));
        QCOMPARE(ok({"export", "pictures", target, "--force"}, database), QStringLiteral("Wrote 3 pictures to %1.\n").arg(target));
        sameAsOriginals(target);

        const QString development = QDir(exports).filePath(QStringLiteral("development"));
        QVERIFY(!ok({"export", "pictures", development, "--department", "Development"}, database).startsWith(QLatin1String("failed")));
        QCOMPARE(QDir(development).entryList(QDir::Files), QStringList{QStringLiteral("E003.jpg")});

        r = run({"export", "pictures", QDir(target).filePath(QStringLiteral("E003.jpg"))}, database);
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.err.startsWith(QLatin1String("Cannot make the folder")), qPrintable(r.err));

        // An id is a name inside the folder, whatever it holds.
        const QString climber = QStringLiteral("../up/%1");
        QVERIFY(!ok({"employee", "add", climber, "--last-name", "Penjač", "--first-name", "Ivo", "--department",
                     "Development", "--picture", Example + QStringLiteral("/pictures/e002.png")},
                    database)
                     .startsWith(QLatin1String("failed")));
        const QString inside = QDir(exports).filePath(QStringLiteral("inside/deeper"));
        QVERIFY(!ok({"export", "pictures", inside, "--department", "Development"}, database).startsWith(QLatin1String("failed")));
        QCOMPARE(QDir(inside).entryList(QDir::Files), QStringList({"%2E.%2Fup%2F%251.png", "E003.jpg"}));
        QCOMPARE(QDir(QDir(exports).filePath(QStringLiteral("inside"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("deeper")});
        QVERIFY(!ok({"employee", "remove", climber}, database).startsWith(QLatin1String("failed")));
    }

    // Each kind of fault: the errors point at the file, line and column, and nothing is written,
    // not even the files that were right.
    void malformedRound(const QString &database)
    {
        const QString before = snapshot(database);
        const QByteArray goodDepartment = "name\nNew department\n";
        const QList<QPair<QMap<QString, QByteArray>, QString>> cases{
            {{{"departments.csv", goodDepartment}, {"statuses.csv", "name,colour,present\nX,#000000,yes\n"}},
             QStringLiteral("statuses.csv:1: colour: ")},
            {{{"departments.csv", goodDepartment}, {"statuses.csv", "name,color,present\nX,#000000,maybe\n"}},
             QStringLiteral("statuses.csv:2: present: ")},
            {{{"departments.csv", goodDepartment},
              {"registrations.csv", "employee,at,activity\nE001,2026-11-30 08:00,Arrival\nNOBODY,2026-11-30 08:00,Arrival\n"}},
             QStringLiteral("registrations.csv:3: employee: ")},
            {{{"departments.csv", goodDepartment},
              {"employees.csv", "id,last_name,first_name,department,picture\nN1,New,Person,New department,notes.txt\n"},
              {"notes.txt", "not a picture"}},
             QStringLiteral("employees.csv:2: picture: ")},
        };
        int n = 0;
        for (const auto &[files, expected] : cases) {
            const CommandRun r = run({QStringLiteral("import"), folder(QStringLiteral("bad%1").arg(n++), files)}, database);
            QCOMPARE(r.exitCode, 1);
            QVERIFY2(r.err.contains(expected), qPrintable(r.err));
            QCOMPARE(snapshot(database), before);
        }
    }

    // The tiny organisation's October and March, and its presence at one moment.
    void reportRound(const QString &database)
    {
        QCOMPARE(run({QStringLiteral("init")}, database).exitCode, 0);
        const QString out = ok({"import", folder(QStringLiteral("tiny"), TinyOrganisation)}, database);
        QVERIFY2(out.contains(QLatin1String("registrations.csv: 9 added, 0 changed, 0 unchanged, 1 duplicate line skipped\n")),
                 qPrintable(out));
        {
            const auto storage = Database::open(database).take();
            QVERIFY(storage);
            User manager;
            manager.name = QStringLiteral("hr");
            manager.role = Role::Manager;
            manager.allDepartments = true;
            manager.passwordHash = QStringLiteral("unused");
            QVERIFY(storage->accounts().addUser(manager).ok());
            manager = *storage->accounts().findUser(manager.name);
            const qint64 shift = *storage->organisation().idOf(OrganisationStore::Kind::Calendar, QStringLiteral("Shift"));
            const qint64 holiday = *storage->organisation().idOf(OrganisationStore::Kind::WorkDay, QStringLiteral("Holiday"));
            const QDateTime now = QDateTime::currentDateTimeUtc();
            QVERIFY(storage->calendars().assignCalendar(manager, int(shift), QStringLiteral("A1"), QDate(2026, 10, 12), now));
            QVERIFY(storage->calendars().assignWorkDay(manager, int(holiday), QStringLiteral("A1"), QDate(2026, 10, 5), now));
        }
        const QStringList month{"report", "month", "--time-zone", "Europe/Belgrade", "--month"};
        QCOMPARE(ok(QStringList(month) << "2026-10", database),
                 QStringLiteral("id,last_name,first_name,department,days_present,present_hours,calendars,exceptions\n"
                                "A1,Zec,Ana,Works,3,15.00,Shift from 2026-10-12,2026-10-05 Holiday\n"
                                "A2,Babić,Ivo,Works,1,4.00,,\n"
                                "A3,Marić,Eva,Works,0,0.00,,\n"
                                "B1,Kos,Mila,Office,1,8.50,,\n"));
        const QJsonArray march =
            QJsonDocument::fromJson(ok(QStringList(month) << "2026-03" << "--department" << "Works" << "--format" << "json", database).toUtf8())
                .array();
        QCOMPARE(march.size(), 3);
        QCOMPARE(march.at(1).toObject().value(QLatin1String("id")).toString(), QStringLiteral("A2"));
        QCOMPARE(march.at(1).toObject().value(QLatin1String("days_present")).toInt(), 2);
        QCOMPARE(march.at(1).toObject().value(QLatin1String("present_hours")).toDouble(), 7.0);

        // The panel's order (last name, first name, id); stale when before the day of --at.
        const QStringList presence{"export", "presence", "--at", "2026-10-25 05:00", "--department", "Works"};
        QCOMPARE(ok(presence, database),
                 QStringLiteral("id,last_name,first_name,department,activity,at,stale,status\n"
                                "A2,Babić,Ivo,Works,Departure,2026-03-29 06:00:00,yes,Away\n"
                                "A3,Marić,Eva,Works,,,no,No registration\n"
                                "A1,Zec,Ana,Works,Arrival,2026-10-24 22:00:00,yes,Present\n"));
        const QJsonArray later = QJsonDocument::fromJson(
            ok(QStringList(presence) << "--stale-days" << "2" << "--format" << "json", database).toUtf8()).array();
        QCOMPARE(later.size(), 3);
        QCOMPARE(later.at(2).toObject().value(QLatin1String("stale")), QJsonValue(false));

        // A full disk is an error, not a short file.
        const CommandRun full = run(QStringList(presence) << "--output" << "/dev/full", database);
        QCOMPARE(full.exitCode, 1);
        QVERIFY2(full.err.contains(QLatin1String("No space left on device")), qPrintable(full.err));
    }

    static bool psql(const QString &server, const QString &sql)
    {
        QProcess process;
        process.start(QStringLiteral("psql"), {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-d", server, "-c", sql});
        return process.waitForFinished(60000) && process.exitCode() == 0;
    }

    static QString withDatabase(const QString &server, const QString &database)
    {
        if (server.startsWith(QLatin1String("postgres"))) {
            QUrl url(server);
            url.setPath(QLatin1Char('/') + database);
            return url.toString();
        }
        return server + QStringLiteral(" dbname=") + database;
    }

    // Runs `round` on a fresh PostgreSQL database.
    template<typename Round>
    void onPostgres(const char *suffix, Round round)
    {
        const QString server = qEnvironmentVariable("VORNA_TEST_PG");
        if (server.isEmpty())
            QSKIP("VORNA_TEST_PG is not set; the PostgreSQL half runs where it names a server.");
        const QString name = QStringLiteral("vorna_transfer_%1_%2").arg(QCoreApplication::applicationPid()).arg(QLatin1String(suffix));
        QVERIFY(psql(server, QStringLiteral("CREATE DATABASE %1").arg(name)));
        round(withDatabase(server, name));
        QVERIFY(psql(server, QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(name)));
    }

    // The first value of `sql` on an SQLite database, past the service; -1 on failure.
    static qint64 sqlite(const QString &database, const QString &sql)
    {
        qint64 value = -1;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("raw"));
            db.setDatabaseName(database);
            QSqlQuery query(db);
            if (db.open() && query.exec(sql))
                value = query.next() ? query.value(0).toLongLong() : 0;
        }
        QSqlDatabase::removeDatabase(QStringLiteral("raw"));
        return value;
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // What only the command shows: an import that fails after it stored its pictures leaves
    // none behind, the next one clears what a killed import left (the store's tests hold the
    // age rule), and two employees may swap photos in one import.
    void importLeavesNoPictureBehind()
    {
        const QString database = m_dir.filePath(QStringLiteral("staging.db"));
        QCOMPARE(run({QStringLiteral("init")}, database).exitCode, 0);
        QMap<QString, QByteArray> files;
        for (const char *name : {"departments.csv", "employees.csv", "pictures/e001.jpg", "pictures/e002.png",
                                 "pictures/e003.jpg"})
            files.insert(QString::fromLatin1(name), readFile(Example + QLatin1Char('/') + QLatin1String(name)));
        const QString good = folder(QStringLiteral("staging-good"), files);
        files.insert(QStringLiteral("registrations.csv"), "employee,at,activity\nNOBODY,2026-11-30 08:00,Arrival\n");
        const CommandRun failed = run({QStringLiteral("import"), folder(QStringLiteral("staging-bad"), files)}, database);
        QCOMPARE(failed.exitCode, 1);
        QVERIFY2(failed.err.contains(QLatin1String("registrations.csv:2: employee: ")), qPrintable(failed.err));
        QCOMPARE(sqlite(database, QStringLiteral("SELECT COUNT(*) FROM pictures")), 0);

        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QCOMPARE(sqlite(database, QStringLiteral("INSERT INTO pictures VALUES (x'01', x'01', %1, x'', x'')").arg(now - 25 * 3600)),
                 0);
        QVERIFY(!ok({QStringLiteral("import"), good}, database).startsWith(QLatin1String("failed")));
        const qint64 referenced = sqlite(database, QStringLiteral("SELECT COUNT(DISTINCT original_digest) FROM employees"));
        QVERIFY(referenced > 0);
        QCOMPARE(sqlite(database, QStringLiteral("SELECT COUNT(*) FROM pictures")), referenced);

        // Two employees swap photos: the one E001 gives up is the one E003, later in the file, takes.
        QByteArray swapped = files.value(QStringLiteral("employees.csv"));
        swapped.replace("pictures/e001.jpg", "swap").replace("pictures/e003.jpg", "pictures/e001.jpg").replace("swap", "pictures/e003.jpg");
        files.insert(QStringLiteral("employees.csv"), swapped);
        files.remove(QStringLiteral("registrations.csv"));
        const QString swap = ok({QStringLiteral("import"), folder(QStringLiteral("staging-swapped"), files)}, database);
        QVERIFY2(swap.contains(QLatin1String("employees.csv: 0 added, 2 changed, ")), qPrintable(swap));
        QCOMPARE(sqlite(database, QStringLiteral("SELECT COUNT(*) FROM employees e JOIN pictures p"
                                                 " ON p.original_digest = e.original_digest")),
                 referenced);
    }

    void importExportOnSqlite()
    {
        const QString database = m_dir.filePath(QStringLiteral("example.db"));
        exampleRound(database);
        if (!QTest::currentTestFailed())
            picturesRound(database);
        if (!QTest::currentTestFailed())
            malformedRound(database);
    }

    // A disk that fills up part-way: the pictures written before stay whole, the one that did
    // not fit leaves nothing behind, and the command says so and fails.
    void picturesExportOnAFullDisk()
    {
        const QString database = m_dir.filePath(QStringLiteral("full-disk.db"));
        QCOMPARE(run({QStringLiteral("init")}, database).exitCode, 0);
        QVERIFY(!ok({"import", Example}, database).startsWith(QLatin1String("failed")));
        const QString mountPoint = m_dir.filePath(QStringLiteral("small-disk"));
        const QString copy = m_dir.filePath(QStringLiteral("small-disk-copy"));
        QVERIFY(QDir().mkpath(mountPoint) && QDir().mkpath(copy));
        // A file system of one page, mounted for this run alone; its files are copied out
        // before the mount goes with the process.
        const QString script = QStringLiteral(
            "mount -t tmpfs -o size=4096 tmpfs \"$1\" || exit 99\n"
            "\"$2\" export pictures \"$1\" --database \"$3\"\n"
            "code=$?\n"
            "cp -a \"$1\"/. \"$4\"/ && exit $code\n");
        QProcess process;
        process.start(QStringLiteral("unshare"), {"--mount", "--propagation", "private", "sh", "-c", script, "sh",
                                                  mountPoint, ServiceRunner::builtBinary(), database, copy});
        if (!process.waitForFinished(ServiceRunner::CommandTimeoutMs) || process.exitStatus() != QProcess::NormalExit
            || process.exitCode() == 99)
            QSKIP("This machine does not let a test mount a small file system of its own.");
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains(QLatin1String("No space left on device"))
                     && err.contains(QLatin1String("E002.png")) && err.contains(QLatin1String("The picture written before it is complete.")),
                 qPrintable(err));
        QCOMPARE(QDir(copy).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("E001.jpg")});
        QCOMPARE(readFile(QDir(copy).filePath(QStringLiteral("E001.jpg"))), readFile(Example + QStringLiteral("/pictures/e001.jpg")));
    }

    void reportsOnSqlite() { reportRound(m_dir.filePath(QStringLiteral("tiny.db"))); }

    void importExportOnPostgres()
    {
        onPostgres("example", [this](const QString &database) {
            exampleRound(database);
            if (!QTest::currentTestFailed())
                picturesRound(database);
            if (!QTest::currentTestFailed())
                malformedRound(database);
        });
    }

    void reportsOnPostgres()
    {
        onPostgres("tiny", [this](const QString &database) { reportRound(database); });
    }
};

QTEST_GUILESS_MAIN(TestTransferCommands)
#include "tst_transfercommands.moc"
