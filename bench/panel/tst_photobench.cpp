// The photo organisation that the panel and load benchmarks build, and what they read off the
// service: a generated folder must import with the built executable and serve its manager
// every employee with a picture, a half-written folder or database must never be taken for a
// finished one, and the byte counter must be read from the metrics text exactly.

#include "benchfigures.h"
#include "photodatabase.h"
#include "servicemetrics.h"
#include "support/portraitphoto.h"
#include "support/servicerunner.h"

#include "commservice.grpc.pb.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <grpcpp/grpcpp.h>

#include <set>

using namespace vorna::bench;

using Bench::writeFile;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPhotoBench : public QObject
{
    Q_OBJECT

private slots:
    void metricValue_data()
    {
        QTest::addColumn<QByteArray>("exposition");
        QTest::addColumn<bool>("found");
        QTest::addColumn<double>("value");
        const QByteArray help = "# HELP vorna_presence_bytes_streamed_total bytes\n# TYPE vorna_presence_bytes_streamed_total counter\n";
        QTest::newRow("plain") << help + "vorna_presence_bytes_streamed_total 1234\n" << true << 1234.0;
        QTest::newRow("exponent") << help + "vorna_presence_bytes_streamed_total 1.75e+09\n" << true << 1.75e9;
        QTest::newRow("labels summed") << QByteArray("vorna_presence_bytes_streamed_total{a=\"x y\"} 2\n"
                                                     "vorna_presence_bytes_streamed_total{a=\"z\"} 3\n")
                                       << true << 5.0;
        QTest::newRow("longer name ignored") << QByteArray("vorna_presence_bytes_streamed_total_created 99\n"
                                                           "vorna_presence_bytes_streamed_total 7\n")
                                             << true << 7.0;
        QTest::newRow("zero is found") << help + "vorna_presence_bytes_streamed_total 0\n" << true << 0.0;
        QTest::newRow("comments only") << help << false << 0.0;
        QTest::newRow("absent") << QByteArray("vorna_presence_rows_streamed_total 10\n") << false << 0.0;
    }

    void metricValue()
    {
        QFETCH(QByteArray, exposition);
        QFETCH(bool, found);
        QFETCH(double, value);
        const std::optional<double> read = vorna::bench::metricValue(exposition, "vorna_presence_bytes_streamed_total");
        QCOMPARE(read.has_value(), found);
        if (found)
            QCOMPARE(*read, value);
    }

    // A folder without its marker is written anew over what an interrupted run left; one with
    // the marker is taken as it is.
    void photoFolderRewrittenUnlessComplete()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("photos-2"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/pictures")));
        QVERIFY(writeFile(folder + QStringLiteral("/pictures/e000001.jpg"), "cut short"));
        QVERIFY(!vorna::testing::isCompletePhotoFolder(folder));

        QVERIFY(vorna::testing::writePhotoFolder(folder, 2));
        QVERIFY(vorna::testing::isCompletePhotoFolder(folder));
        QCOMPARE(readFile(folder + QStringLiteral("/pictures/e000001.jpg")), vorna::testing::portraitPhoto(1));
        QCOMPARE(employeesInFolder(folder), 2);
        QCOMPARE(readFile(folder + QStringLiteral("/registrations.csv")).count('\n'),
                 1 + 2 * vorna::testing::PhotoFolderRegistrationsPerEmployee);

        QVERIFY(writeFile(folder + QStringLiteral("/employees.csv"), "id,last_name,first_name,department,picture\n"));
        QVERIFY(vorna::testing::writePhotoFolder(folder, 2));
        QCOMPARE(employeesInFolder(folder), 0);
    }

    void givenFolderMustBeComplete()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("elsewhere"))));
        QString error;
        QVERIFY(photoFolder(dir.filePath(QStringLiteral("elsewhere")), dir.path(), 1, &error).isEmpty());
        QVERIFY2(error.contains(QLatin1String(".complete")), qPrintable(error));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("elsewhere/employees.csv"))));
    }

    void databaseRefusesFolderOfAnotherSize()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("photos-1"));
        QVERIFY(vorna::testing::writePhotoFolder(folder, 1));
        QString error;
        QVERIFY(photoDatabase(dir.path(), folder, 3, &error).isEmpty());
        QVERIFY2(error.contains(QLatin1String("lists 1 employees, not 3")), qPrintable(error));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("photos-3.db"))));
    }

    // The imported database serves its manager every employee with a picture whose digest is
    // its bytes', and is kept: the second call imports nothing.
    void databaseServesEveryPhoto()
    {
        constexpr int Employees = 3;
        QTemporaryDir dir;
        QString error;
        const QString folder = photoFolder(QString(), dir.path(), Employees, &error);
        QVERIFY2(!folder.isEmpty(), qPrintable(error));
        // What an import killed part-way leaves behind.
        QVERIFY(writeFile(dir.filePath(QStringLiteral("photos-3.db.building")), "not a database"));
        const QString database = photoDatabase(dir.path(), folder, Employees, &error);
        QVERIFY2(!database.isEmpty(), qPrintable(error));
        QVERIFY(!QFile::exists(database + QStringLiteral(".building")));

        vorna::testing::ServiceRunner service(database);
        QVERIFY2(service.start(), qPrintable(service.error()));
        auto stub = vorna::v1::CommService::NewStub(
            grpc::CreateChannel(service.address().toStdString(), grpc::InsecureChannelCredentials()));
        vorna::v1::LoginRequest login;
        login.set_user(PhotoManager.toStdString());
        login.set_password(PhotoManagerPassword.toStdString());
        vorna::v1::LoginReply session;
        grpc::ClientContext loginContext;
        const grpc::Status loggedIn = stub->Login(&loginContext, login, &session);
        QVERIFY2(loggedIn.ok(), loggedIn.error_message().c_str());

        grpc::ClientContext context;
        context.AddMetadata("vorna-session", session.session_token());
        auto reader = stub->Presence(&context, vorna::v1::PresenceRequest());
        std::set<std::string> ids;
        std::set<std::string> digests;
        vorna::v1::PresenceChunk chunk;
        while (reader->Read(&chunk)) {
            for (const vorna::v1::PresenceRow &row : chunk.rows()) {
                ids.insert(row.employee_id());
                digests.insert(row.picture_digest());
                const QByteArray picture = QByteArray::fromStdString(row.picture());
                QCOMPARE(QCryptographicHash::hash(picture, QCryptographicHash::Sha256),
                         QByteArray::fromStdString(row.picture_digest()));
                QVERIFY2(!QImage::fromData(picture).isNull(), row.employee_id().c_str());
            }
        }
        const grpc::Status answered = reader->Finish();
        QVERIFY2(answered.ok(), answered.error_message().c_str());
        QCOMPARE(ids, (std::set<std::string>{"E000000", "E000001", "E000002"}));
        QCOMPARE(int(digests.size()), Employees);
        service.terminate();

        const QDateTime imported = QFileInfo(database).lastModified();
        QCOMPARE(photoDatabase(dir.path(), folder, Employees, &error), database);
        QCOMPARE(QFileInfo(database).lastModified(), imported);
    }
};

QTEST_GUILESS_MAIN(TestPhotoBench)
#include "tst_photobench.moc"
