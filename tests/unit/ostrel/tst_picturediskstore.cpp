// The pictures the client library keeps in the cache folder: the bound and the order in which
// they go, what a restart finds, and damaged, foreign or unwritable files.

#include <ostrel/picturecache.h>
#include <ostrel/picturediskstore.h>

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QtTest>

using namespace ostrel;

namespace {

// Pictures are named by a letter; each is 100 bytes.
QByteArray picture(char name)
{
    return QByteArray(100, name);
}

QByteArray digestOf(char name)
{
    return QCryptographicHash::hash(picture(name), QCryptographicHash::Sha256);
}

void put(PictureDiskStore &store, const char *names)
{
    for (; *names; ++names)
        store.store(digestOf(*names), picture(*names));
}

// The names of the pictures a request would list, in their order.
QString listed(PictureDiskStore &store)
{
    QString names;
    for (const std::string &digest : store.listForAnswer(100)) {
        for (char name = 'a'; name <= 'z'; ++name)
            names += digestOf(name).toStdString() == digest ? QString(QLatin1Char(name)) : QString();
    }
    return names;
}

int g_warnings = 0;

void countWarnings(QtMsgType type, const QMessageLogContext &context, const QString &)
{
    g_warnings += type == QtWarningMsg && qstrcmp(context.category, "vorna.ostrel") == 0;
}

} // namespace

class TestPictureDiskStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void dropsLeastRecentlyUsedBeyondTheBound();
    void restartListsHeldPicturesInOrderOfUse();
    void listedPicturesStayUntilTheAnswerEnds();
    void badFileIsNeverShownAndIsReplaced_data();
    void badFileIsNeverShownAndIsReplaced();
    void unusableFolderMeansNoCaching_data();
    void unusableFolderMeansNoCaching();

private:
    PictureDiskOptions room(int pictures) const { return {m_folder, pictures * 100}; }
    QString pathOf(char name) const { return m_folder + '/' + digestOf(name).toHex(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_folder;
};

void TestPictureDiskStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_folder = m_dir->filePath(QStringLiteral("pictures"));
}

void TestPictureDiskStore::dropsLeastRecentlyUsedBeyondTheBound()
{
    PictureDiskStore store(room(3));
    put(store, "abc");
    QCOMPARE(store.read(digestOf('a')), picture('a'));
    put(store, "d");
    QCOMPARE(listed(store), QStringLiteral("dac"));
    QCOMPARE(store.usedBytes(), 300);
    QVERIFY(!QFile::exists(pathOf('b')));
}

void TestPictureDiskStore::restartListsHeldPicturesInOrderOfUse()
{
    PictureDiskStore before(room(3));
    put(before, "abc");
    // Last used: b three days ago, c two, a one.
    const char oldestFirst[] = "bca";
    for (int i = 0; i < 3; ++i) {
        QFile file(pathOf(oldestFirst[i]));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(i - 3), QFileDevice::FileModificationTime));
    }
    PictureDiskStore restarted(room(2));
    QCOMPARE(listed(restarted), QStringLiteral("ac"));
    QCOMPARE(restarted.read(digestOf('c')), picture('c'));
}

void TestPictureDiskStore::listedPicturesStayUntilTheAnswerEnds()
{
    PictureDiskStore store(room(2));
    put(store, "ab");
    listed(store);
    put(store, "c"); // a new picture of the answer, before the rows of a and b
    QCOMPARE(store.read(digestOf('a')), picture('a'));
    QCOMPARE(store.read(digestOf('b')), picture('b'));
    store.finishAnswer();
    QCOMPARE(listed(store), QStringLiteral("ba"));
}

void TestPictureDiskStore::badFileIsNeverShownAndIsReplaced_data()
{
    const QString name = QString::fromLatin1(digestOf('a').toHex());
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("truncated") << name << picture('a').left(40);
    QTest::newRow("another picture's bytes") << name << picture('b');
    QTest::newRow("empty") << name << QByteArray();
    QTest::newRow("upper-case name") << name.toUpper() << picture('a');
    QTest::newRow("left over from a cut write") << name + QStringLiteral(".a1B2c3") << picture('a').left(10);
    QTest::newRow("not a digest") << QStringLiteral("notes.txt") << picture('a');
}

void TestPictureDiskStore::badFileIsNeverShownAndIsReplaced()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QVERIFY(QDir().mkpath(m_folder));
    QFile file(m_folder + '/' + fileName);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();

    PictureDiskStore store(room(10));
    QCOMPARE(store.read(digestOf('a')), QByteArray());
    QCOMPARE(listed(store), QString()); // so the next answer brings the bytes
    put(store, "a");
    QCOMPARE(store.read(digestOf('a')), picture('a'));
    QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(pathOf('a')).fileName()});
}

void TestPictureDiskStore::unusableFolderMeansNoCaching_data()
{
    QTest::addColumn<bool>("lostAfterOpening");
    QTest::newRow("a file where the folder should be") << false;
    QTest::newRow("folder replaced by a file after opening") << true;
}

void TestPictureDiskStore::unusableFolderMeansNoCaching()
{
    QFETCH(bool, lostAfterOpening);
    const auto blockFolder = [this] {
        QDir(m_folder).removeRecursively();
        QFile blocker(m_folder);
        return blocker.open(QIODevice::WriteOnly);
    };
    QVERIFY(lostAfterOpening || blockFolder());
    g_warnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countWarnings);
    PictureCache cache;
    cache.useDisk(room(10));
    QVERIFY(!lostAfterOpening || blockFolder());
    cache.beginAnswer();
    const QByteArray shown = cache.resolve(digestOf('a').toStdString(), picture('a').toStdString());
    cache.resolve(digestOf('b').toStdString(), picture('b').toStdString());
    cache.finishAnswer(true);
    qInstallMessageHandler(previous);
    QCOMPARE(shown, picture('a'));
    QCOMPARE(cache.digests().size(), std::size_t(2)); // held in memory still
    QCOMPARE(g_warnings, 1);
}

QTEST_GUILESS_MAIN(TestPictureDiskStore)
#include "tst_picturediskstore.moc"
