// ClientObjectQml keeps the pictures it received in the cache folder: a client started later
// lists them in its first presence request and shows them without the service sending them.

#include <ostrel/clientobjectqml.h>
#include "support/fakecommservice.h"
#include <pindle/pindle.h>
#include "support/signalrecorder.h"

#include <QTemporaryDir>
#include <QtTest>

class TestClientPicturesOnDisk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void restartedClientShowsPicturesFromDisk();

private:
    QTemporaryDir m_dir;
    FakeCommService m_service;
};

void TestClientPicturesOnDisk::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.filePath(QStringLiteral("cache"))));
    QVERIFY(SettingsIniOpenAt(m_dir.filePath(QStringLiteral("pindle.ini"))));
    m_service.script().passwords = {{"manager", "secret pass"}};
    for (int i = 0; i < 20; ++i)
        m_service.script().presenceRows.push_back(fakePresenceRow(i, 3000));
    QVERIFY(m_service.start());
}

void TestClientPicturesOnDisk::restartedClientShowsPicturesFromDisk()
{
    QList<QByteArray> pictures[2];
    int listed[2] = {-1, -1};
    for (int run = 0; run < 2; ++run) { // the second run is the panel started again
        ClientObjectQml client;
        SignalRecorder log(&client);
        client.connectToServiceAsync(m_service.url());
        QVERIFY(log.waitFor("connected"));
        client.dbLoginRequest(QStringLiteral("manager"), QStringLiteral("secret pass"));
        QVERIFY(log.waitFor("dbLoginResponse"));
        client.dbPresenceRequest(QStringLiteral("manager"), QDateTime());
        QVERIFY(log.waitFor("dbPresenceResponseEnd"));
        for (const SignalRecorder::Entry &row : log.of("dbPresenceResponse"))
            pictures[run].append(row.args.value(7).toByteArray());
        listed[run] = m_service.lastPresenceRequest().known_picture_digests_size();
    }
    QCOMPARE(listed[0], 0);
    // Every picture was listed as held, so the service sent none: the bytes came from disk.
    QCOMPARE(listed[1], 20);
    QCOMPARE(pictures[1], pictures[0]);
    QCOMPARE(pictures[1].value(7).size(), 3000);
}

QTEST_GUILESS_MAIN(TestClientPicturesOnDisk)
#include "tst_clientpicturesondisk.moc"
