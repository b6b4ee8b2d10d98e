#include <harrow/harrow.h>
#include <pindle/pindle.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <mutex>
#include <unistd.h>

namespace {

// Counts the library's own warnings, whatever thread they come from, and passes every
// message on to the test framework.
QtMessageHandler g_previousHandler = nullptr;
std::mutex g_warningsMutex;
QStringList g_warnings;

void countingHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type == QtWarningMsg && msg.startsWith(QLatin1String("Harrow "))) {
        const std::lock_guard<std::mutex> lock(g_warningsMutex);
        g_warnings << msg;
    }
    g_previousHandler(type, context, msg);
}

QStringList takeWarnings()
{
    const std::lock_guard<std::mutex> lock(g_warningsMutex);
    QStringList taken;
    taken.swap(g_warnings);
    return taken;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList readLines(const QString &path)
{
    return QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString hexThreadId(const QThread *thread)
{
    return QStringLiteral("0x") + QString::number(quintptr(thread), 16);
}

// Sends records the way the panel's classes do: a signal connected by its normalized
// signature with the automatic connection type.
class RecordSender : public QObject
{
    Q_OBJECT
public:
    RecordSender()
    {
        connect(this, SIGNAL(sigLogWrite(int,QString,quintptr,void*)), LogInstance(),
                SLOT(write(int,QString,quintptr,void*)));
    }
    void send(const QString &msg, int level = HarrowLogger::Info)
    {
        emit sigLogWrite(level, msg, quintptr(QThread::currentThread()), this);
    }
signals:
    void sigLogWrite(int level, QString msg, quintptr threadId, void *sender);
};

// Points file descriptor 2 at a file for as long as it lives, so the console copy can be read.
class StderrCapture
{
public:
    explicit StderrCapture(const QString &path)
        : m_path(path)
    {
        QFile::remove(path);
        m_file.setFileName(path);
        if (!m_file.open(QIODevice::WriteOnly))
            return;
        fflush(stderr);
        m_saved = dup(STDERR_FILENO);
        m_active = dup2(m_file.handle(), STDERR_FILENO) >= 0;
    }
    ~StderrCapture() { restore(); }
    bool isActive() const { return m_active; }
    QByteArray text()
    {
        restore();
        return readFile(m_path);
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        fflush(stderr);
        dup2(m_saved, STDERR_FILENO);
        close(m_saved);
        m_saved = -1;
    }

    QString m_path;
    QFile m_file;
    int m_saved = -1;
    bool m_active = false;
};

} // namespace

class TestHarrow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void noConsoleCopyWithoutStore();
    void recordLayout_data();
    void recordLayout();
    void recordsAreQueuedToTheLoggerThread();
    void directCallsFromManyThreadsStayWhole();
    void rotationKeepsFilesAndSizesBounded();
    void defaultLocation();
    void unwritableFolderWarnsOnceAndCarriesOn();
    void fullDiskWarnsOnceAndCarriesOn();
    void consoleFollowsTheSetting();
    void cleanupWritesWhatWasQueuedAndStopsTheThread();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void openLog(const QString &name, qint64 maxBytes = 0, int maxFiles = 0);

    QTemporaryDir m_dataHome;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestHarrow::initTestCase()
{
    QVERIFY(m_dataHome.isValid());
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dataHome.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("HarrowTestOrg"));
    QCoreApplication::setApplicationName(QStringLiteral("HarrowTestApp"));
    g_previousHandler = qInstallMessageHandler(countingHandler);
    HarrowInitializer::init();
    QVERIFY(LogInstance());
}

void TestHarrow::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    takeWarnings();
}

void TestHarrow::openLog(const QString &name, qint64 maxBytes, int maxFiles)
{
    QCOMPARE(LogOpenAt(path(name), maxBytes, maxFiles), 0);
    QCOMPARE(LogInstance()->filePath(), path(name));
}

void TestHarrow::noConsoleCopyWithoutStore()
{
    QVERIFY2(!SettingsIniInstance(), "must run before any case opens the settings store");
    openLog("nostore.log");
    StderrCapture capture(path("stderr.txt"));
    QVERIFY(capture.isActive());
    RecordSender().send("record without a store");
    LogInstance()->flush();
    QVERIFY(!capture.text().contains("record without a store"));
    QVERIFY(readFile(path("nostore.log")).contains("record without a store"));
}

void TestHarrow::recordLayout_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("levelName");
    QTest::newRow("critical") << 1 << "critical";
    QTest::newRow("error") << 2 << "error";
    QTest::newRow("warning") << 3 << "warning";
    QTest::newRow("info, as the panel writes") << 4 << "info";
    QTest::newRow("debug") << 5 << "debug";
    QTest::newRow("below the scale") << 0 << "critical";
    QTest::newRow("above the scale") << 9 << "debug";
}

void TestHarrow::recordLayout()
{
    QFETCH(int, level);
    QFETCH(QString, levelName);
    openLog("layout.log");

    const QString msg = QStringLiteral("Prisutni: Đorđe {0} %s [f : file.cpp : 12]");
    RecordSender().send(msg, level);
    LogInstance()->flush();

    const QStringList lines = readLines(path("layout.log"));
    QCOMPARE(lines.size(), 1);
    const QRegularExpression layout(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}) \\[(\\w+)\\] "
                       "\\[thread (0x[0-9a-f]+)\\] (.*)$"));
    const QRegularExpressionMatch match = layout.match(lines.first());
    QVERIFY2(match.hasMatch(), qUtf8Printable(lines.first()));
    const QDateTime stamp = QDateTime::fromString(match.captured(1), "yyyy-MM-dd HH:mm:ss.zzz");
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
    QCOMPARE(match.captured(2), levelName);
    QCOMPARE(match.captured(3), hexThreadId(QThread::currentThread()));
    QCOMPARE(match.captured(4), msg);
}

void TestHarrow::recordsAreQueuedToTheLoggerThread()
{
    openLog("queued.log");
    HarrowLogger *logger = LogInstance();
    QVERIFY(logger->thread() != QThread::currentThread());
    QVERIFY(logger->thread()->isRunning());

    // Hold the logger thread, send a record, and see that it waits for that thread.
    QSemaphore entered, gate;
    QMetaObject::invokeMethod(
        logger, [&] { entered.release(); gate.acquire(); }, Qt::QueuedConnection);
    QVERIFY(entered.tryAcquire(1, 5000));
    RecordSender().send("queued record");
    const bool writtenWhileHeld = readFile(path("queued.log")).contains("queued record");
    gate.release();
    QVERIFY(!writtenWhileHeld);

    logger->flush();
    QVERIFY(readFile(path("queued.log")).contains("queued record"));
}

void TestHarrow::directCallsFromManyThreadsStayWhole()
{
    openLog("threads.log");
    constexpr int threadCount = 4;
    constexpr int recordsPerThread = 200;
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back(QThread::create([t] {
            for (int i = 0; i < recordsPerThread; ++i)
                LogInstance()->write(HarrowLogger::Info, QStringLiteral("t%1 r%2 end").arg(t).arg(i),
                                     quintptr(QThread::currentThread()), nullptr);
        }));
        threads.back()->start();
    }
    for (auto &thread : threads)
        QVERIFY(thread->wait(30000));
    LogInstance()->flush();

    const QStringList lines = readLines(path("threads.log"));
    QCOMPARE(lines.size(), threadCount * recordsPerThread);
    const QRegularExpression whole(QStringLiteral("\\[info\\] \\[thread 0x[0-9a-f]+\\] t\\d r\\d+ end$"));
    for (const QString &line : lines)
        QVERIFY2(whole.match(line).hasMatch(), qUtf8Printable(line));
}

void TestHarrow::rotationKeepsFilesAndSizesBounded()
{
    constexpr qint64 maxBytes = 2000;
    constexpr int maxFiles = 3;
    openLog("rotating.log", maxBytes, maxFiles);
    RecordSender sender;
    for (int i = 0; i < 500; ++i)
        sender.send(QStringLiteral("record %1 padded to make rotation come sooner").arg(i, 4, 10, QLatin1Char('0')));
    LogInstance()->flush();

    const QFileInfoList files = QDir(m_dir->path()).entryInfoList({"rotating*.log"}, QDir::Files);
    QCOMPARE(files.size(), maxFiles);
    for (const QFileInfo &file : files)
        QVERIFY2(file.size() <= maxBytes, qUtf8Printable(file.fileName()));
    QVERIFY(readLines(path("rotating.log")).last().endsWith("record 0499 padded to make rotation come sooner"));
    for (const QFileInfo &file : files)
        QVERIFY(!readFile(file.filePath()).contains("record 0000 "));
}

void TestHarrow::defaultLocation()
{
    QCOMPARE(LogOpen(0), 0);
    const QString expected =
        m_dataHome.filePath(QStringLiteral("HarrowTestOrg/HarrowTestApp/log/harrowtestapp.log"));
    QCOMPARE(LogInstance()->filePath(), expected);
    RecordSender().send("record at the standard place");
    LogInstance()->flush();
    QVERIFY(readFile(expected).contains("record at the standard place"));
}

void TestHarrow::unwritableFolderWarnsOnceAndCarriesOn()
{
    // A regular file where the folder should be stops everyone, root included.
    QFile blocker(path("blocker"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();

    QCOMPARE(LogOpenAt(path("blocker/log/panel.log"), 0, 0), -1);
    QCOMPARE(LogInstance()->filePath(), QString());

    QVERIFY(SettingsIniOpenAt(path("settings.ini")));
    SettingsIniInstance()->setValueLogConsole(true);
    StderrCapture capture(path("stderr.txt"));
    QVERIFY(capture.isActive());
    RecordSender sender;
    for (int i = 0; i < 50; ++i)
        sender.send(QStringLiteral("still logging %1").arg(i));
    LogInstance()->flush();
    const QByteArray console = capture.text();
    SettingsIniInstance()->setValueLogConsole(false);

    const QStringList warnings = takeWarnings();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains(path("blocker/log/panel.log")), qUtf8Printable(warnings.first()));
    QVERIFY(console.contains("still logging 0\n"));
    QVERIFY(console.contains("still logging 49\n"));
}

void TestHarrow::fullDiskWarnsOnceAndCarriesOn()
{
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly))
        QSKIP("/dev/full is not writable here");
    full.close();

    QCOMPARE(LogOpenAt(full.fileName(), 0, 0), 0);
    RecordSender sender;
    for (int i = 0; i < 20; ++i)
        sender.send(QStringLiteral("lost to a full disk %1").arg(i));
    // filePath() waits for the logger thread without flushing, as the program never flushes.
    QCOMPARE(LogInstance()->filePath(), QString());

    const QStringList warnings = takeWarnings();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains("/dev/full"), qUtf8Printable(warnings.first()));

    openLog("after.log");
    sender.send("back on a disk with room");
    LogInstance()->flush();
    QVERIFY(readFile(path("after.log")).contains("back on a disk with room"));
    QCOMPARE(takeWarnings().size(), 0);
}

void TestHarrow::consoleFollowsTheSetting()
{
    openLog("console.log");
    QVERIFY(SettingsIniOpenAt(path("settings.ini")));
    Settings *settings = SettingsIniInstance();
    RecordSender sender;
    StderrCapture capture(path("stderr.txt"));
    QVERIFY(capture.isActive());

    settings->setValueLogConsole(false);
    sender.send("quiet one");
    LogInstance()->flush();
    settings->setValueLogConsole(true);
    sender.send("loud two");
    LogInstance()->flush();
    settings->setValueLogConsole(false);
    sender.send("quiet three");
    LogInstance()->flush();

    const QByteArray console = capture.text();
    QVERIFY(!console.contains("quiet one"));
    QVERIFY(console.contains("[info] [thread " + hexThreadId(QThread::currentThread()).toUtf8()
                             + "] loud two\n"));
    QVERIFY(!console.contains("quiet three"));
    // The file takes every record regardless of the console.
    QCOMPARE(readLines(path("console.log")).size(), 3);
}

void TestHarrow::cleanupWritesWhatWasQueuedAndStopsTheThread()
{
    openLog("last.log");
    QPointer<HarrowLogger> logger = LogInstance();
    QPointer<QThread> thread = logger->thread();
    // Keep the record waiting in the logger's queue until cleanup has begun.
    QSemaphore entered, gate;
    QMetaObject::invokeMethod(
        logger, [&] { entered.release(); gate.acquire(); }, Qt::QueuedConnection);
    QVERIFY(entered.tryAcquire(1, 5000));
    RecordSender().send("last words");
    QThread *releaser = QThread::create([&gate] { QThread::msleep(100); gate.release(); });
    releaser->start();

    HarrowInitializer::cleanup();
    QVERIFY(releaser->wait(5000));
    delete releaser;
    QVERIFY(LogInstance() == nullptr);
    QVERIFY(logger.isNull());
    QVERIFY(thread.isNull());
    QVERIFY(readFile(path("last.log")).contains("last words"));

    HarrowInitializer::init();
    QVERIFY(LogInstance());
    QVERIFY(LogInstance()->thread()->isRunning());
    QCOMPARE(LogInstance()->filePath(), QString());
    HarrowInitializer::init();
    QVERIFY(LogInstance()->thread()->isRunning());
}

QTEST_GUILESS_MAIN(TestHarrow)
#include "tst_harrow.moc"
