#include <pindle/pindle.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPindle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void defaultsOnEmptyFile();
    void settersPersistToDisk();
    void malformedValuesFallBack_data();
    void malformedValuesFallBack();
    void listLikeTextStaysText();
    void unwritableFileWorksInMemory();
    void processStoreAtStandardLocation();
    void openAtReplacesTheProcessStore();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }

    QTemporaryDir m_configHome;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestPindle::initTestCase()
{
    QVERIFY(m_configHome.isValid());
    // Before any QSettings exists: it reads the configuration home once.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_configHome.path()));
    QCoreApplication::setOrganizationName(QStringLiteral("PindleTestOrg"));
    QCoreApplication::setApplicationName(QStringLiteral("PindleTestApp"));
}

void TestPindle::init()
{
    // A fresh folder per case: QSettings caches files by name within the process.
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPindle::defaultsOnEmptyFile()
{
    Settings settings(path("empty.ini"));
    QVERIFY(settings.isWritable());
    QCOMPARE(settings.fileName(), path("empty.ini"));
    QCOMPARE(settings.valueLogConsole(), false);
    QCOMPARE(settings.serviceTls(), false);
    QCOMPARE(settings.serviceCaFile(), QString());
    QCOMPARE(settings.serviceTlsServerName(), QString());
    QCOMPARE(settings.serviceConnectTimeoutMs(), 5000);
    QCOMPARE(settings.serviceCallTimeoutMs(), 30000);
    QCOMPARE(settings.serviceKeepaliveMs(), 20000);
}

void TestPindle::settersPersistToDisk()
{
    const QString file = path("persist.ini");
    Settings writer(file);
    writer.setValueLogConsole(true);
    writer.setServiceTls(true);
    writer.setServiceCaFile(QStringLiteral("/etc/vorna/ca, 2024.pem"));
    writer.setServiceTlsServerName(QStringLiteral("attendance.example"));
    writer.setServiceConnectTimeoutMs(750);
    writer.setServiceCallTimeoutMs(120000);
    writer.setServiceKeepaliveMs(3000);

    // On disk already, without sync() or destruction: a killed process keeps the values.
    const QByteArray onDisk = readFile(file);
    QVERIFY2(onDisk.contains("[log]\nconsole=true"), onDisk.constData());
    QVERIFY2(onDisk.contains("connectTimeoutMs=750"), onDisk.constData());

    Settings reader(file);
    QCOMPARE(reader.valueLogConsole(), true);
    QCOMPARE(reader.serviceTls(), true);
    QCOMPARE(reader.serviceCaFile(), QStringLiteral("/etc/vorna/ca, 2024.pem"));
    QCOMPARE(reader.serviceTlsServerName(), QStringLiteral("attendance.example"));
    QCOMPARE(reader.serviceConnectTimeoutMs(), 750);
    QCOMPARE(reader.serviceCallTimeoutMs(), 120000);
    QCOMPARE(reader.serviceKeepaliveMs(), 3000);

    writer.setValueLogConsole(false);
    QCOMPARE(writer.valueLogConsole(), false);
    QCOMPARE(Settings(file).valueLogConsole(), false);
}

void TestPindle::malformedValuesFallBack_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("option");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("timeout not a number") << QByteArray("[service]\nconnectTimeoutMs=fast\n")
                                          << "connect" << QVariant(5000);
    QTest::newRow("timeout with unit") << QByteArray("[service]\nconnectTimeoutMs=750ms\n")
                                       << "connect" << QVariant(5000);
    QTest::newRow("timeout negative") << QByteArray("[service]\nconnectTimeoutMs=-750\n")
                                      << "connect" << QVariant(5000);
    QTest::newRow("timeout below range") << QByteArray("[service]\nconnectTimeoutMs=99\n")
                                         << "connect" << QVariant(5000);
    QTest::newRow("timeout at lower bound") << QByteArray("[service]\nconnectTimeoutMs=100\n")
                                            << "connect" << QVariant(100);
    QTest::newRow("timeout above range") << QByteArray("[service]\nconnectTimeoutMs=600001\n")
                                         << "connect" << QVariant(5000);
    QTest::newRow("call timeout overflows int")
        << QByteArray("[service]\ncallTimeoutMs=99999999999\n") << "call" << QVariant(30000);
    QTest::newRow("call timeout valid") << QByteArray("[service]\ncallTimeoutMs=3600000\n")
                                        << "call" << QVariant(3600000);
    QTest::newRow("keepalive below range") << QByteArray("[service]\nkeepaliveMs=999\n")
                                           << "keepalive" << QVariant(20000);
    QTest::newRow("keepalive empty") << QByteArray("[service]\nkeepaliveMs=\n")
                                     << "keepalive" << QVariant(20000);
    QTest::newRow("tls typo") << QByteArray("[service]\ntls=ture\n") << "tls" << QVariant(false);
    QTest::newRow("tls as digit") << QByteArray("[service]\ntls=1\n") << "tls" << QVariant(true);
    QTest::newRow("tls upper case") << QByteArray("[service]\ntls=TRUE\n") << "tls" << QVariant(true);
    QTest::newRow("console word") << QByteArray("[log]\nconsole=yes\n") << "console" << QVariant(false);
    QTest::newRow("console valid") << QByteArray("[log]\nconsole=true\n") << "console" << QVariant(true);
    QTest::newRow("not an ini file") << QByteArray("\x00\x01[[[=\n\xff", 8) << "connect"
                                     << QVariant(5000);
}

void TestPindle::malformedValuesFallBack()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, option);
    QFETCH(QVariant, expected);

    const QString file = path("handmade.ini");
    writeFile(file, ini);
    const Settings settings(file);
    QVariant actual;
    if (option == "connect")
        actual = settings.serviceConnectTimeoutMs();
    else if (option == "call")
        actual = settings.serviceCallTimeoutMs();
    else if (option == "keepalive")
        actual = settings.serviceKeepaliveMs();
    else if (option == "tls")
        actual = settings.serviceTls();
    else
        actual = settings.valueLogConsole();
    QCOMPARE(actual, expected);
}

void TestPindle::listLikeTextStaysText()
{
    const QString file = path("list.ini");
    writeFile(file, "[service]\ncaFile=/etc/a.pem, /etc/b.pem\n");
    QCOMPARE(Settings(file).serviceCaFile(), QStringLiteral("/etc/a.pem, /etc/b.pem"));
}

void TestPindle::unwritableFileWorksInMemory()
{
    // A folder cannot be made under a regular file, whoever runs the test (root included).
    writeFile(path("blocker"), "not a folder");
    const QString file = path("blocker/settings/store.ini");
    Settings settings(file);
    QVERIFY(!settings.isWritable());

    settings.setValueLogConsole(true);
    settings.setServiceConnectTimeoutMs(1234);
    settings.sync();
    QCOMPARE(settings.valueLogConsole(), true);
    QCOMPARE(settings.serviceConnectTimeoutMs(), 1234);
    QVERIFY(!QFile::exists(file));
    QCOMPARE(readFile(path("blocker")), QByteArray("not a folder"));
}

void TestPindle::processStoreAtStandardLocation()
{
    QVERIFY(SettingsIniInstance() == nullptr);
    QVERIFY(SettingsIniOpen());
    Settings *store = SettingsIniInstance();
    QVERIFY(store);
    QCOMPARE(store->fileName(), m_configHome.filePath("PindleTestOrg/PindleTestApp.ini"));

    store->setValueLogConsole(true);
    QVERIFY(readFile(store->fileName()).contains("console=true"));

    // A second open keeps the store, so nobody's pointer goes stale.
    QVERIFY(SettingsIniOpen());
    QCOMPARE(SettingsIniInstance(), store);
}

void TestPindle::openAtReplacesTheProcessStore()
{
    QVERIFY(SettingsIniOpenAt(path("first.ini")));
    Settings *first = SettingsIniInstance();
    QCOMPARE(first->fileName(), path("first.ini"));
    QVERIFY(SettingsIniOpenAt(path("second.ini")));
    QCOMPARE(SettingsIniInstance()->fileName(), path("second.ini"));

    // The replaced store stays usable for whoever still holds it, the logger thread say.
    first->setValueLogConsole(true);
    QCOMPARE(first->valueLogConsole(), true);
    QCOMPARE(SettingsIniInstance()->valueLogConsole(), false);

    writeFile(path("blocker"), "x");
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression("^Pindle cannot write the settings file .*blocker/store.ini"));
    QVERIFY(!SettingsIniOpenAt(path("blocker/store.ini")));
    QVERIFY(!SettingsIniInstance()->isWritable());
}

QTEST_GUILESS_MAIN(TestPindle)
#include "tst_pindle.moc"
