// Start-up with a main QML file that checks what start-up published and quits with 42.

#include <pindle/pindle.h>
#include "startup.h"
#include "startuptestenv.h"

#include <QCoreApplication>
#include <QMetaType>
#include <QNetworkProxyFactory>
#include <QQuickStyle>
#include <QSettings>
#include <QtTest>

class TestStartupWiring : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void mainFilePublishesAndQuits();

private:
    QTemporaryDir m_home;
};

void TestStartupWiring::initTestCase()
{
    QVERIFY(redirectUserFolders(m_home));
}

void TestStartupWiring::mainFilePublishesAndQuits()
{
    char name[] = "tst_startupwiring";
    char *argv[] = {name, nullptr};
    int argc = 1;

    QCOMPARE(runPanel(argc, argv), 42);

    QVERIFY(QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling));
    QVERIFY(!QNetworkProxyFactory::usesSystemConfiguration());
    QCOMPARE(QQuickStyle::name(), QStringLiteral("Material"));
    QCOMPARE(QMetaType::type("QUuid"), int(QMetaType::QUuid));
    QVERIFY(SettingsIniInstance());
    QVERIFY(SettingsIniInstance()->valueLogConsole());
    // What the QML Settings element wrote lands under the panel's names.
    const QSettings stored(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quorvane"),
                           QStringLiteral("VornaPanel3"));
    QCOMPARE(stored.value(QStringLiteral("probe")).toInt(), 5);
}

QTEST_APPLESS_MAIN(TestStartupWiring)
#include "tst_startupwiring.moc"
