#include <harrow/harrow.h>

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// Runs without an application object, which the logger thread cannot work without.
class TestHarrowNoApp : public QObject
{
    Q_OBJECT

private slots:
    void refusesWithOneWarningAndNoLogger();
};

void TestHarrowNoApp::refusesWithOneWarningAndNoLogger()
{
    QVERIFY(!QCoreApplication::instance());
    const QRegularExpression refusal("^Harrow cannot start its logger before the application object");

    QTest::ignoreMessage(QtWarningMsg, refusal);
    HarrowInitializer::init();
    QVERIFY(LogInstance() == nullptr);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QTest::ignoreMessage(QtWarningMsg, refusal);
    QCOMPARE(LogOpenAt(dir.filePath("x.log"), 0, 0), -1);
    QVERIFY(LogInstance() == nullptr);
    QVERIFY(!QFile::exists(dir.filePath("x.log")));
}

QTEST_APPLESS_MAIN(TestHarrowNoApp)
#include "tst_harrownoapp.moc"
