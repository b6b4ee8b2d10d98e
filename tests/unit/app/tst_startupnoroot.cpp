// Start-up with a main QML file that yields no root object.

#include "startup.h"
#include "startuptestenv.h"

#include <QCoreApplication>
#include <QtTest>

class TestStartupNoRoot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void unloadableMainFileGivesMinusOne();

private:
    QTemporaryDir m_home;
};

void TestStartupNoRoot::initTestCase()
{
    QVERIFY(redirectUserFolders(m_home));
}

void TestStartupNoRoot::unloadableMainFileGivesMinusOne()
{
    char name[] = "tst_startupnoroot";
    char *argv[] = {name, nullptr};
    int argc = 1;

    // Had it entered the event loop, nothing in the broken file could end it.
    QCOMPARE(runPanel(argc, argv), -1);
    QVERIFY(!QCoreApplication::instance());
}

QTEST_APPLESS_MAIN(TestStartupNoRoot)
#include "tst_startupnoroot.moc"
