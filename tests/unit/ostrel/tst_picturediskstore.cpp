// The pictures the client library keeps in the cache folder: the bound and the order in which
// they go, what a restart finds, and damaged, foreign or unwritable files.

#include <ostrel/picturecache.h>
#include <ostrel/picturediskstore.h>

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
    return pictureDigest(picture(name));
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
    void cacheListsEachDigestOnce();
    void badDataIsNeverShownAndIsReplaced_data();
    void badDataIsNeverShownAndIsReplaced();
    void unusableFolderMeansNoCaching_data();
    void unusableFolderMeansNoCaching();

private:
    static constexpr int kRecord = 100 + PictureDiskStore::kRecordHeaderBytes;
    PictureDiskOptions room(int pictures) const { return {m_folder, pictures * kRecord}; }
    QString packPath() const { return m_folder + '/' + PictureDiskStore::packFileName(); }

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
    QCOMPARE(store.usedBytes(), 3 * kRecord);
    // The dropped picture's bytes leave the file when the answer ends.
    store.finishAnswer();
    QCOMPARE(QFileInfo(packPath()).size(), 3 * kRecord);
    QCOMPARE(store.read(digestOf('c')), picture('c'));
}

void TestPictureDiskStore::restartListsHeldPicturesInOrderOfUse()
{
    {
        PictureDiskStore before(room(3));
        put(before, "abc");
        before.read(digestOf('a'));
        put(before, "d");
        before.finishAnswer(); // rewrites the pack in the order of use: c, a, d
        put(before, "e");     // after the rewrite: its place in the file tells
    }
    PictureDiskStore restarted(room(3));
    QCOMPARE(listed(restarted), QStringLiteral("eda"));
    QCOMPARE(restarted.read(digestOf('a')), picture('a'));
    QCOMPARE(restarted.read(digestOf('e')), picture('e'));
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

void TestPictureDiskStore::cacheListsEachDigestOnce()
{
    {
        PictureDiskStore before(room(10));
        put(before, "abc");
    }
    PictureCache cache;
    cache.useDisk(room(10));
    for (int answer = 0; answer < 2; ++answer) { // on disk only, then in memory as well
        std::vector<std::string> digests = cache.digests();
        QCOMPARE(digests.size(), std::size_t(3));
        std::sort(digests.begin(), digests.end());
        QVERIFY(std::adjacent_find(digests.begin(), digests.end()) == digests.end());
        cache.beginAnswer();
        for (char name : {'a', 'b', 'c'})
            QCOMPARE(cache.resolve(digestOf(name).toStdString(), std::string()), picture(name));
        cache.finishAnswer(true);
    }
}

namespace {

enum class Damage { ChangedByte, TornTail, NotAPack, ForeignFiles };

} // namespace

void TestPictureDiskStore::badDataIsNeverShownAndIsReplaced_data()
{
    QTest::addColumn<int>("damage");
    QTest::addColumn<QString>("listedAtStart");
    QTest::addColumn<QString>("readable"); // of a and b, in this order
    QTest::newRow("a byte of a picture changed") << int(Damage::ChangedByte) << "ba" << "b";
    QTest::newRow("last record cut short") << int(Damage::TornTail) << "a" << "a";
    QTest::newRow("pack replaced by another file") << int(Damage::NotAPack) << "" << "";
    QTest::newRow("an older layout's and a cut rewrite's files") << int(Damage::ForeignFiles) << "ba" << "ab";
}

void TestPictureDiskStore::badDataIsNeverShownAndIsReplaced()
{
    QFETCH(int, damage);
    QFETCH(QString, listedAtStart);
    QFETCH(QString, readable);
    {
        PictureDiskStore before(room(10));
        put(before, "ab");
    }
    QFile pack(packPath());
    QVERIFY(pack.open(QIODevice::ReadWrite));
    QByteArray bytes = pack.readAll();
    switch (Damage(damage)) {
    case Damage::ChangedByte: bytes[PictureDiskStore::kRecordHeaderBytes + 50] = 'z'; break;
    case Damage::TornTail: bytes.chop(10); break;
    case Damage::NotAPack: bytes = QByteArray(500, 'x'); break;
    case Damage::ForeignFiles:
        for (const QString &name : {QString::fromLatin1(digestOf('c').toHex()), PictureDiskStore::packFileName() + ".a1B2c3"}) {
            QFile foreign(m_folder + '/' + name);
            QVERIFY(foreign.open(QIODevice::WriteOnly) && foreign.write(picture('c')) == 100);
        }
        break;
    }
    QVERIFY(pack.resize(0) && pack.seek(0) && pack.write(bytes) == bytes.size());
    pack.close();

    PictureDiskStore store(room(10));
    QCOMPARE(listed(store), listedAtStart);
    QString shown;
    for (char name : {'a', 'b'})
        shown += store.read(digestOf(name)) == picture(name) ? QString(QLatin1Char(name)) : QString();
    QCOMPARE(shown, readable);
    store.finishAnswer();
    QVERIFY(!listed(store).contains('c'));
    put(store, "a"); // the next answer brings it again
    QCOMPARE(store.read(digestOf('a')), picture('a'));
    QCOMPARE(store.read(digestOf('c')), QByteArray());
    const QStringList files = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files.filter(QRegularExpression("^pictures\\.pack(\\.lock)?$")), files);
}

void TestPictureDiskStore::unusableFolderMeansNoCaching_data()
{
    QTest::addColumn<QString>("obstacle");
    QTest::addColumn<int>("warnings");
    QTest::newRow("a file where the folder should be") << "file" << 1;
    QTest::newRow("a full disk") << "full" << 1;
    QTest::newRow("another panel using the folder") << "in use" << 0;
}

void TestPictureDiskStore::unusableFolderMeansNoCaching()
{
    QFETCH(QString, obstacle);
    QFETCH(int, warnings);
    std::unique_ptr<PictureDiskStore> otherPanel;
    if (obstacle == QLatin1String("file")) {
        QFile blocker(m_folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    } else if (obstacle == QLatin1String("full")) {
        if (!QFileInfo::exists(QStringLiteral("/dev/full")))
            QSKIP("This system has no /dev/full.");
        QVERIFY(QDir().mkpath(m_folder) && QFile::link(QStringLiteral("/dev/full"), packPath()));
    } else {
        otherPanel = std::make_unique<PictureDiskStore>(room(10));
    }
    g_warnings = 0;
    const QtMessageHandler previous = qInstallMessageHandler(countWarnings);
    PictureCache cache;
    cache.useDisk(room(10));
    cache.beginAnswer();
    const QByteArray shown = cache.resolve(digestOf('a').toStdString(), picture('a').toStdString());
    cache.resolve(digestOf('b').toStdString(), picture('b').toStdString());
    cache.finishAnswer(true);
    qInstallMessageHandler(previous);
    QCOMPARE(shown, picture('a'));
    QCOMPARE(cache.digests().size(), std::size_t(2)); // held in memory still
    QCOMPARE(g_warnings, warnings);
    if (otherPanel)
        QCOMPARE(QFileInfo(packPath()).size(), 0);
}

QTEST_GUILESS_MAIN(TestPictureDiskStore)
#include "tst_picturediskstore.moc"
