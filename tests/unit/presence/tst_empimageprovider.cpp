// The picture store and the "emp" image provider: placeholder rules, sizes, exact ids.

#include "empimage.h"
#include "empimageprovider.h"
#include "support/presencetestsupport.h"
#include "processrefs.h"

#include <QtTest>

using PresenceTest::isTransparent;
using PresenceTest::picture;

class TestEmpImageProvider : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void placeholderSizes_data();
    void placeholderSizes();
    void storedPictureIsScaledIntoTheBox_data();
    void storedPictureIsScaledIntoTheBox();
    void jpegDecodedToTheBoxReportsItsStoredSize();
    void sizeOutParameterIsOptional();
    void laterPictureReplacesEarlierOne();
    void idsMatchExactly();
    void resetForgetsEveryPicture();
    void undecodableBytesGiveANullImage();
    void storeForwardsToTheProvider();
    void storeWithoutProviderDoesNothing();

private:
    EmpImageProvider m_provider;
};

void TestEmpImageProvider::init()
{
    m_provider.removeAllPictures();
    ProcessRefs::setImageProvider(&m_provider);
}

void TestEmpImageProvider::placeholderSizes_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("expectedImage");

    // "known" has a picture stored, "empty" has empty bytes, "never" was never added.
    QTest::newRow("never added") << "never" << QSize(40, 40) << QSize(40, 40);
    QTest::newRow("empty bytes") << "empty" << QSize(30, 20) << QSize(30, 20);
    QTest::newRow("zero width, stored picture") << "known" << QSize(0, 50) << QSize(64, 50);
    QTest::newRow("zero height, stored picture") << "known" << QSize(50, 0) << QSize(50, 64);
    QTest::newRow("zero by zero") << "never" << QSize(0, 0) << QSize(64, 64);
    // Negative dimensions are treated like zero ones.
    QTest::newRow("no source size") << "known" << QSize(-1, -1) << QSize(64, 64);
    QTest::newRow("negative width") << "known" << QSize(-1, 30) << QSize(64, 30);
    QTest::newRow("negative height") << "known" << QSize(30, -5) << QSize(30, 64);
}

void TestEmpImageProvider::placeholderSizes()
{
    QFETCH(QString, id);
    QFETCH(QSize, requested);
    QFETCH(QSize, expectedImage);
    m_provider.insertPicture(QStringLiteral("known"), picture(20, 20, Qt::red));
    m_provider.insertPicture(QStringLiteral("empty"), QByteArray());

    QSize size(-7, -7);
    const QImage image = m_provider.requestImage(id, &size, requested);

    QCOMPARE(image.size(), expectedImage);
    QVERIFY(image.hasAlphaChannel());
    QVERIFY(isTransparent(image));
    QCOMPARE(size, requested);
}

void TestEmpImageProvider::storedPictureIsScaledIntoTheBox_data()
{
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<QSize>("expectedImage");

    QTest::newRow("wide into square") << QSize(200, 100) << QSize(50, 50) << QSize(50, 25);
    QTest::newRow("tall into square") << QSize(100, 200) << QSize(50, 50) << QSize(25, 50);
    QTest::newRow("small is enlarged") << QSize(10, 10) << QSize(48, 48) << QSize(48, 48);
    QTest::newRow("one by one box") << QSize(160, 160) << QSize(1, 1) << QSize(1, 1);
}

void TestEmpImageProvider::storedPictureIsScaledIntoTheBox()
{
    QFETCH(QSize, stored);
    QFETCH(QSize, requested);
    QFETCH(QSize, expectedImage);
    m_provider.insertPicture(QStringLiteral("E1"), picture(stored.width(), stored.height(), Qt::blue));

    QSize size;
    const QImage image = m_provider.requestImage(QStringLiteral("E1"), &size, requested);

    QCOMPARE(image.size(), expectedImage);
    QCOMPARE(size, stored);
    QCOMPARE(QColor(image.pixel(0, 0)), QColor(Qt::blue));
}

// JPEG decodes straight to the box, not in full: the reported size is still the stored one.
void TestEmpImageProvider::jpegDecodedToTheBoxReportsItsStoredSize()
{
    m_provider.insertPicture(QStringLiteral("E1"), picture(200, 100, Qt::blue, "JPG"));

    QSize size;
    const QImage image = m_provider.requestImage(QStringLiteral("E1"), &size, QSize(50, 50));

    QCOMPARE(image.size(), QSize(50, 25));
    QCOMPARE(size, QSize(200, 100));
    const QColor centre = image.pixelColor(25, 12);
    QVERIFY2(centre.blue() > 200 && centre.red() < 60 && centre.green() < 60,
             qPrintable(centre.name()));
}

void TestEmpImageProvider::sizeOutParameterIsOptional()
{
    m_provider.insertPicture(QStringLiteral("E1"), picture(200, 100, Qt::blue));
    QCOMPARE(m_provider.requestImage(QStringLiteral("E1"), nullptr, QSize(50, 50)).size(), QSize(50, 25));
    QCOMPARE(m_provider.requestImage(QStringLiteral("E2"), nullptr, QSize(0, 9)).size(), QSize(64, 9));
}

void TestEmpImageProvider::laterPictureReplacesEarlierOne()
{
    m_provider.insertPicture(QStringLiteral("E1"), picture(8, 8, Qt::red));
    m_provider.insertPicture(QStringLiteral("E1"), picture(8, 8, Qt::green));

    QCOMPARE(m_provider.pictureCount(), 1);
    const QImage image = m_provider.requestImage(QStringLiteral("E1"), nullptr, QSize(8, 8));
    QCOMPARE(QColor(image.pixel(4, 4)), QColor(Qt::green));
}

void TestEmpImageProvider::idsMatchExactly()
{
    m_provider.insertPicture(QStringLiteral("emp-a"), picture(8, 8, Qt::red));

    QVERIFY(!isTransparent(m_provider.requestImage(QStringLiteral("emp-a"), nullptr, QSize(8, 8))));
    QVERIFY(isTransparent(m_provider.requestImage(QStringLiteral("EMP-A"), nullptr, QSize(8, 8))));
    QVERIFY(isTransparent(m_provider.requestImage(QStringLiteral("emp-a "), nullptr, QSize(8, 8))));
    QVERIFY(isTransparent(m_provider.requestImage(QStringLiteral("emp-"), nullptr, QSize(8, 8))));
}

void TestEmpImageProvider::resetForgetsEveryPicture()
{
    m_provider.insertPicture(QStringLiteral("E1"), picture(8, 8, Qt::red));
    m_provider.insertPicture(QStringLiteral("E2"), picture(8, 8, Qt::red));
    m_provider.removeAllPictures();

    QCOMPARE(m_provider.pictureCount(), 0);
    QVERIFY(isTransparent(m_provider.requestImage(QStringLiteral("E1"), nullptr, QSize(8, 8))));

    m_provider.insertPicture(QStringLiteral("E1"), picture(8, 8, Qt::red));
    QVERIFY(!isTransparent(m_provider.requestImage(QStringLiteral("E1"), nullptr, QSize(8, 8))));
    QVERIFY(isTransparent(m_provider.requestImage(QStringLiteral("E2"), nullptr, QSize(8, 8))));
}

void TestEmpImageProvider::undecodableBytesGiveANullImage()
{
    m_provider.insertPicture(QStringLiteral("E1"), QByteArray("not an image at all"));
    QSize size(5, 5);
    QTest::ignoreMessage(QtWarningMsg, "QImage::scaled: Image is a null image");
    const QImage image = m_provider.requestImage(QStringLiteral("E1"), &size, QSize(40, 40));
    QVERIFY(image.isNull());
    QCOMPARE(size, QSize(0, 0));
}

void TestEmpImageProvider::storeForwardsToTheProvider()
{
    EmpImage store;
    store.addImage(QStringLiteral("E1"), picture(8, 8, Qt::red));
    store.addImage(QStringLiteral("E2"), QByteArray());
    QCOMPARE(m_provider.pictureCount(), 2);
    QVERIFY(!isTransparent(m_provider.requestImage(QStringLiteral("E1"), nullptr, QSize(8, 8))));

    store.reset();
    QCOMPARE(m_provider.pictureCount(), 0);
}

void TestEmpImageProvider::storeWithoutProviderDoesNothing()
{
    ProcessRefs::setImageProvider(nullptr);
    EmpImage store;
    store.addImage(QStringLiteral("E1"), picture(8, 8, Qt::red));
    store.reset();
    QCOMPARE(m_provider.pictureCount(), 0);
}

QTEST_MAIN(TestEmpImageProvider)
#include "tst_empimageprovider.moc"
