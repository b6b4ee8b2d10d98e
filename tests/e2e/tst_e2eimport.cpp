// What a new operator does with a real organisation: init, import the example folder, add a
// user who sees one department, serve, and log in with the real client library. The presence
// list holds exactly that department's people, with their pictures.

#include <ostrel/clientobjectqml.h>
#include <pindle/pindle.h>
#include "servicerunner.h"
#include "signalrecorder.h"

#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Example = QStringLiteral(VORNA_SOURCE_DIR "/docs/example-organisation");
const QString Department = QStringLiteral("Development");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// id -> picture bytes of the department's employees in employees.csv (whose rows hold no
// quoted fields but the department "Finance, Legal", which is not the one asked for).
QMap<QString, QByteArray> expectedEmployees()
{
    QMap<QString, QByteArray> expected;
    const QList<QByteArray> lines = readFile(Example + QStringLiteral("/employees.csv")).split('\n');
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split(',');
        if (fields.size() == 5 && QString::fromUtf8(fields.at(3)) == Department)
            expected.insert(QString::fromUtf8(fields.at(0)),
                            fields.at(4).isEmpty() ? QByteArray() : readFile(Example + QLatin1Char('/') + QString::fromUtf8(fields.at(4))));
    }
    return expected;
}

} // namespace

class TestE2eImport : public QObject
{
    Q_OBJECT

private slots:
    void importedDepartmentIsWhatItsUserSees()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(SettingsIniOpenAt(dir.filePath(QStringLiteral("pindle.ini"))));
        ServiceRunner service(dir.filePath(QStringLiteral("vorna.db")));
        QString output;
        QCOMPARE(service.command({QStringLiteral("init")}, {}, &output), 0);
        QVERIFY2(service.command({QStringLiteral("import"), Example}, {}, &output) == 0, qPrintable(output));
        QVERIFY2(service.command({QStringLiteral("user"), QStringLiteral("add"), QStringLiteral("ana"),
                                  QStringLiteral("--department"), Department, QStringLiteral("--password-stdin")},
                                 "ana's password\n", &output) == 0,
                 qPrintable(output));
        QVERIFY2(service.start(), qPrintable(service.log()));

        ClientObjectQml client;
        SignalRecorder log(&client);
        client.connectToServiceAsync(service.url());
        QVERIFY(log.waitFor("connected"));
        client.dbLoginRequest(QStringLiteral("ana"), QStringLiteral("ana's password"));
        QVERIFY(log.waitFor("dbLoginResponse"));
        QVERIFY(log.of("dbLoginResponse").last().args.value(0).toBool());
        client.dbPresenceRequest(QStringLiteral("ana"), QDateTime(QDate(2026, 11, 12), QTime(10, 0)));
        QVERIFY(log.waitFor("dbPresenceResponseEnd", 1, 30000));

        QMap<QString, QByteArray> seen;
        for (const auto &row : log.of("dbPresenceResponse")) {
            QCOMPARE(row.args.value(6).toString(), Department);
            seen.insert(row.args.value(0).toString(), row.args.value(7).toByteArray());
        }
        const QMap<QString, QByteArray> expected = expectedEmployees();
        QCOMPARE(seen.keys(), expected.keys());
        QCOMPARE(seen, expected);
        QVERIFY(!expected.value(QStringLiteral("E003")).isEmpty());
        QCOMPARE(service.terminate(), 0);
    }
};

QTEST_GUILESS_MAIN(TestE2eImport)
#include "tst_e2eimport.moc"
