// The built vorna-service's import, export and report commands, on a temporary SQLite database
// and, when VORNA_TEST_PG names a server, on PostgreSQL: the example organisation goes in and
// comes out alike, a bad folder changes nothing, a dry run writes nothing, and the month
// report and the presence export match months and moments worked out by hand.

#include "transfer/csvreader.h"
#include "storage/database.h"
#include "support/servicerunner.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
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
            QCOMPARE(stored->at(i - 1).pictureDigest,
                     picture.isEmpty() ? QByteArray() : QCryptographicHash::hash(picture, QCryptographicHash::Sha256));
        }
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

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void importExportOnSqlite()
    {
        const QString database = m_dir.filePath(QStringLiteral("example.db"));
        exampleRound(database);
        if (!QTest::currentTestFailed())
            malformedRound(database);
    }

    void reportsOnSqlite() { reportRound(m_dir.filePath(QStringLiteral("tiny.db"))); }

    void importExportOnPostgres()
    {
        onPostgres("example", [this](const QString &database) {
            exampleRound(database);
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
