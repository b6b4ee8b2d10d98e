// What an operator's tools read from the service: the metrics labels clients cannot choose.

#include "commservice.pb.h"
#include "ops/rpcmetrics.h"

#include <QtTest>

#include <google/protobuf/descriptor.h>

using namespace vorna::service;

class TestHealthMetrics : public QObject
{
    Q_OBJECT

private slots:
    void methodLabels_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QString>("label");
        QTest::newRow("a method of ours") << QByteArray("/vorna.v1.CommService/Login") << QStringLiteral("Login");
        QTest::newRow("health check") << QByteArray("/grpc.health.v1.Health/Check") << QStringLiteral("Check");
        QTest::newRow("reflection") << QByteArray("/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo")
                                    << QStringLiteral("ServerReflectionInfo");
        QTest::newRow("made-up method of our service") << QByteArray("/vorna.v1.CommService/Login2") << QStringLiteral("other");
        QTest::newRow("our method name under another service") << QByteArray("/evil.Service/Login") << QStringLiteral("other");
        QTest::newRow("method name without a service") << QByteArray("Login") << QStringLiteral("other");
        QTest::newRow("trailing segment") << QByteArray("/vorna.v1.CommService/Login/x") << QStringLiteral("other");
        QTest::newRow("empty") << QByteArray("") << QStringLiteral("other");
        QTest::newRow("2,000 characters") << QByteArray("/x/" + QByteArray(2000, 'a')) << QStringLiteral("other");
    }

    void methodLabels()
    {
        QFETCH(QByteArray, path);
        QFETCH(QString, label);
        QCOMPARE(methodLabel(path.constData()), label);
    }

    // Clients used to choose the label: 300 made-up paths gave 300 series.
    void madeUpPathsShareOneLabel()
    {
        QSet<QString> labels;
        for (int i = 0; i < 300; ++i)
            labels.insert(methodLabel(QByteArray("/vorna.v1.CommService/Made" + QByteArray::number(i)).constData()));
        labels.insert(methodLabel(nullptr));
        QCOMPARE(labels, QSet<QString>{QStringLiteral("other")});
    }

    void everyMethodOfTheContractHasALabelOfItsOwn()
    {
        const google::protobuf::ServiceDescriptor *service =
            vorna::v1::PresenceChunk::descriptor()->file()->FindServiceByName("CommService");
        QVERIFY(service && service->method_count() >= 10);
        for (int i = 0; i < service->method_count(); ++i) {
            const std::string path = "/vorna.v1.CommService/" + service->method(i)->name();
            QCOMPARE(methodLabel(path.c_str()), QString::fromStdString(service->method(i)->name()));
        }
    }
};

QTEST_GUILESS_MAIN(TestHealthMetrics)
#include "tst_healthmetrics.moc"
