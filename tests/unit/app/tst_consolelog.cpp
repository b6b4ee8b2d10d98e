// The panel's console lines: QML's console.log goes to the log file, and past the logger to
// stderr only while console logging is on; other messages keep their way.

#include "consolelog.h"

#include <harrow/harrow.h>
#include <pindle/pindle.h>

#include <QFile>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Stands in for the handler that writes to stderr: what reaches it would reach the terminal.
QStringList g_passedOn;

void recordingHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_passedOn << message;
}

} // namespace

class TestConsoleLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void qmlLinesGoToTheFileOnly();

private:
    QString readLog();
    QTemporaryDir m_dir;
};

void TestConsoleLog::initTestCase()
{
    QVERIFY(SettingsIniOpenAt(m_dir.filePath(QStringLiteral("panel.ini"))));
    QCOMPARE(LogOpenAt(m_dir.filePath(QStringLiteral("panel.log")), 0, 0), 0);
    qInstallMessageHandler(recordingHandler);
    routeQmlConsoleToLog();
    routeQmlConsoleToLog(); // a second call must not route twice, nor lose the handler before
}

QString TestConsoleLog::readLog()
{
    LogInstance()->flush();
    QFile file(m_dir.filePath(QStringLiteral("panel.log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void TestConsoleLog::qmlLinesGoToTheFileOnly()
{
    QQmlEngine engine;
    engine.evaluate(QStringLiteral("console.log('filter enter'); console.info('Login.'); console.warn('Binding loop')"));
    qDebug("native debug line");

    const QString log = readLog();
    QVERIFY2(log.contains(QLatin1String("filter enter")) && log.contains(QLatin1String("Login.")), qPrintable(log));
    QVERIFY(!g_passedOn.contains(QStringLiteral("filter enter")));
    QVERIFY(!g_passedOn.contains(QStringLiteral("Login.")));
    // Warnings still show, and only QML's lines are taken.
    QVERIFY(g_passedOn.contains(QStringLiteral("Binding loop")));
    QVERIFY(g_passedOn.contains(QStringLiteral("native debug line")));
    QVERIFY(!log.contains(QLatin1String("native debug line")));
}

QTEST_GUILESS_MAIN(TestConsoleLog)
#include "tst_consolelog.moc"
