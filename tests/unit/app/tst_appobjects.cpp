// The platform descriptor and the panel's long-lived objects: creation order, process-wide
// references, publication on an engine and teardown order.

#include "empimage.h"
#include "empimageprovider.h"
#include "modelpresence.h"
#include "modelpresencefilter.h"
#include "panelobjects.h"
#include "platform.h"
#include "support/presencetestsupport.h"
#include "processrefs.h"
#include "servicehandler.h"
#include "translationclient.h"

#include <QQmlContext>
#include <QQmlEngine>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

class TestAppObjects : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void platformIsDesktopAndConstant();
    void objectsAreCreatedInOrderWithTheirReferences();
    void burstAfterStartReachesTheHandler();
    void publishSetsTheContextAndHandsOverTheProvider();
    void teardownIsTheReverseOfCreation();
};

void TestAppObjects::init()
{
    ProcessRefs::setPictureStore(nullptr);
    ProcessRefs::setServiceClient(nullptr);
    ProcessRefs::setImageProvider(nullptr);
}

void TestAppObjects::platformIsDesktopAndConstant()
{
    Platform platform;
    QSignalSpy changed(&platform, &Platform::typeChanged);
    const QMetaProperty type = platform.metaObject()->property(platform.metaObject()->indexOfProperty("type"));

    QCOMPARE(type.read(&platform).toInt(), 0);
    QCOMPARE(type.read(&platform).toInt(), 0);
    QVERIFY(!type.isWritable());
    QCOMPARE(type.notifySignal().methodSignature(), QByteArray("typeChanged()"));
    QCOMPARE(changed.count(), 0);
}

void TestAppObjects::objectsAreCreatedInOrderWithTheirReferences()
{
    bool storeBeforeClient = false;
    bool providerBeforeClient = true;
    PanelObjects objects([&] {
        storeBeforeClient = ProcessRefs::pictureStore() != nullptr;
        providerBeforeClient = ProcessRefs::imageProvider() != nullptr;
        return new ScriptedPresenceService;
    });

    QVERIFY(storeBeforeClient);
    QVERIFY(!providerBeforeClient);
    QCOMPARE(ProcessRefs::pictureStore(), objects.pictureStore());
    QCOMPARE(ProcessRefs::serviceClient(), objects.serviceClient());
    QCOMPARE(ProcessRefs::imageProvider(), objects.imageProvider());
    QVERIFY(objects.platform());
    QVERIFY(objects.serviceHandler());
    QCOMPARE(objects.translation()->language(), -1);
    for (QObject *object : {static_cast<QObject *>(objects.pictureStore()), objects.serviceClient(),
                            static_cast<QObject *>(objects.platform()), static_cast<QObject *>(objects.serviceHandler()),
                            static_cast<QObject *>(objects.translation())})
        QCOMPARE(object->parent(), nullptr);
}

void TestAppObjects::burstAfterStartReachesTheHandler()
{
    PanelObjects objects([] { return new ScriptedPresenceService; });
    // The screen comes later, as in the program.
    ModelPresenceFilter screenModel;
    auto *service = static_cast<ScriptedPresenceService *>(objects.serviceClient());

    service->sendBurst(PresenceTest::rows(3));

    QCOMPARE(screenModel.rowCount(), 3);
    QCOMPARE(objects.imageProvider()->pictureCount(), 3);
}

void TestAppObjects::publishSetsTheContextAndHandsOverTheProvider()
{
    PanelObjects objects([] { return new ScriptedPresenceService; });
    QQmlEngine engine;

    QVERIFY(objects.publishTo(&engine));

    QQmlContext *context = engine.rootContext();
    QCOMPARE(context->contextProperty("translation").value<QObject *>(), objects.translation());
    QCOMPARE(context->contextProperty("service").value<QObject *>(), objects.serviceClient());
    QCOMPARE(context->contextProperty("platform").value<QObject *>(), objects.platform());
    QCOMPARE(engine.imageProvider(QStringLiteral("emp")), objects.imageProvider());

    QQmlEngine second;
    QVERIFY(!objects.publishTo(&second));
    QVERIFY(!second.imageProvider(QStringLiteral("emp")));
    QVERIFY(!second.rootContext()->contextProperty("service").isValid());
}

void TestAppObjects::teardownIsTheReverseOfCreation()
{
    QStringList destroyed;
    {
        PanelObjects objects([] { return new ScriptedPresenceService; });
        const QList<QPair<QObject *, QString>> watched{
            {objects.pictureStore(), "pictureStore"}, {objects.serviceClient(), "service"},
            {objects.platform(), "platform"}, {objects.serviceHandler(), "handler"},
            {objects.translation(), "translation"}};
        for (const auto &w : watched) {
            const QString name = w.second;
            connect(w.first, &QObject::destroyed, [&destroyed, name] { destroyed << name; });
        }
    }
    QCOMPARE(destroyed, (QStringList{"translation", "handler", "platform", "service", "pictureStore"}));
    QCOMPARE(ProcessRefs::pictureStore(), nullptr);
    QCOMPARE(ProcessRefs::serviceClient(), nullptr);
}

QTEST_MAIN(TestAppObjects)
#include "tst_appobjects.moc"
