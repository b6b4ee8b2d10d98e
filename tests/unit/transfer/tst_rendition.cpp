// Display renditions: the bound on the longer side in either orientation and never an
// enlargement, the picture turned upright by its EXIF orientation, PNG only where there is
// transparency to keep, a broken picture refused with its name, and the file extension told
// from the bytes.

#include "support/picturebytes.h"
#include "transfer/rendition.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QtTest>

using namespace vorna::transfer;
using vorna::testing::encodedPicture;
using vorna::testing::pictureFormatOf;

namespace {

// Left half red, right half blue: which way round it came out shows any turn.
QImage halves(const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::blue);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width() / 2; ++x)
            image.setPixel(x, y, qRgb(255, 0, 0));
    }
    return image;
}

// A JPEG with an EXIF segment that holds only the orientation tag, right after the start of
// image: what a camera held sideways writes.
QByteArray withExifOrientation(const QByteArray &jpeg, quint16 orientation)
{
    QByteArray exif("Exif\0\0", 6);
    exif += QByteArray("MM\0\x2a\0\0\0\x08", 8);              // big-endian TIFF, first IFD at 8
    exif += QByteArray("\0\x01", 2);                          // one entry
    exif += QByteArray("\x01\x12\0\x03\0\0\0\x01", 8);        // Orientation, SHORT, one value
    exif += char(orientation >> 8);
    exif += char(orientation & 0xff);
    exif += QByteArray(2 + 4, '\0');                          // padding, no next IFD
    const int length = exif.size() + 2;
    QByteArray segment("\xff\xe1", 2);
    segment += char(length >> 8);
    segment += char(length & 0xff);
    return jpeg.left(2) + segment + exif + jpeg.mid(2);
}

QImage decoded(const QByteArray &bytes)
{
    QImage image;
    image.loadFromData(bytes);
    return image;
}

bool isNear(QRgb color, QRgb expected)
{
    return qAbs(qRed(color) - qRed(expected)) < 40 && qAbs(qGreen(color) - qGreen(expected)) < 40
        && qAbs(qBlue(color) - qBlue(expected)) < 40;
}

} // namespace

class TestRendition : public QObject
{
    Q_OBJECT

private slots:
    void boundedOnTheLongerSide_data();
    void boundedOnTheLongerSide();
    void turnedUprightByExif_data();
    void turnedUprightByExif();
    void pngOnlyForTransparency_data();
    void pngOnlyForTransparency();
    void brokenPicturesAreRefused_data();
    void brokenPicturesAreRefused();
    void extensionComesFromTheBytes_data();
    void extensionComesFromTheBytes();
};

void TestRendition::boundedOnTheLongerSide_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QSize>("original");
    QTest::addColumn<QSize>("expected");
    // An office's photo, either way round; JPEGs are decoded at a reduced size first.
    QTest::newRow("portrait JPEG") << QByteArray("jpeg") << QSize(900, 1200) << QSize(192, 256);
    QTest::newRow("landscape JPEG") << QByteArray("jpeg") << QSize(1200, 900) << QSize(256, 192);
    QTest::newRow("a sliver stays a pixel wide") << QByteArray("png") << QSize(2048, 4) << QSize(256, 1);
    QTest::newRow("portrait PNG") << QByteArray("png") << QSize(300, 600) << QSize(128, 256);
    QTest::newRow("at the bound") << QByteArray("jpeg") << QSize(256, 100) << QSize(256, 100);
    QTest::newRow("small is not enlarged") << QByteArray("jpeg") << QSize(128, 96) << QSize(128, 96);
}

void TestRendition::boundedOnTheLongerSide()
{
    QFETCH(QByteArray, format);
    QFETCH(QSize, original);
    QFETCH(QSize, expected);
    const Rendition rendition = makeRendition(encodedPicture(halves(original), format), QStringLiteral("photo"));
    QVERIFY2(rendition.problem.isEmpty(), qPrintable(rendition.problem));
    const QImage image = decoded(rendition.bytes);
    QCOMPARE(image.size(), expected);
    // Scaled whole, not cropped or squeezed: red on the left, blue on the right.
    if (expected.width() >= 8) {
        QVERIFY(isNear(image.pixel(expected.width() / 8, expected.height() / 2), qRgb(255, 0, 0)));
        QVERIFY(isNear(image.pixel(expected.width() * 7 / 8, expected.height() / 2), qRgb(0, 0, 255)));
    }
}

void TestRendition::turnedUprightByExif_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("expected");
    QTest::addColumn<QRgb>("first"); // at the start of the longer side: the left, or the top
    QTest::addColumn<QRgb>("last");
    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    // Stored 1200 wide and 600 high, red on the left, blue on the right.
    QTest::newRow("as stored") << 1 << QSize(256, 128) << red << blue;
    QTest::newRow("upside down") << 3 << QSize(256, 128) << blue << red;
    QTest::newRow("turned a quarter clockwise") << 6 << QSize(128, 256) << red << blue;
    QTest::newRow("turned a quarter back") << 8 << QSize(128, 256) << blue << red;
}

void TestRendition::turnedUprightByExif()
{
    QFETCH(int, orientation);
    QFETCH(QSize, expected);
    QFETCH(QRgb, first);
    QFETCH(QRgb, last);
    const QByteArray photo = withExifOrientation(encodedPicture(halves(QSize(1200, 600)), "jpeg"), quint16(orientation));
    const Rendition rendition = makeRendition(photo, QStringLiteral("sideways"));
    QVERIFY2(rendition.problem.isEmpty(), qPrintable(rendition.problem));
    // The rendition carries no orientation of its own: it is upright as its pixels stand.
    QBuffer buffer;
    buffer.setData(rendition.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader plain(&buffer);
    plain.setAutoTransform(false);
    const QImage image = plain.read();
    QCOMPARE(image.size(), expected);
    const bool portrait = expected.height() > expected.width();
    const QPoint start = portrait ? QPoint(expected.width() / 2, expected.height() / 8)
                                  : QPoint(expected.width() / 8, expected.height() / 2);
    const QPoint end = portrait ? QPoint(expected.width() / 2, expected.height() * 7 / 8)
                                : QPoint(expected.width() * 7 / 8, expected.height() / 2);
    QVERIFY(isNear(image.pixel(start), first));
    QVERIFY(isNear(image.pixel(end), last));
}

void TestRendition::pngOnlyForTransparency_data()
{
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<QByteArray>("format");

    QImage opaqueWithAlpha(400, 300, QImage::Format_ARGB32);
    opaqueWithAlpha.fill(qRgba(10, 200, 30, 255));
    QImage oneClearCorner = opaqueWithAlpha;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 40; ++x)
            oneClearCorner.setPixel(x, y, qRgba(0, 0, 0, 0));
    }
    QTest::newRow("JPEG") << encodedPicture(halves(QSize(400, 300)), "jpeg") << QByteArray("jpeg");
    QTest::newRow("opaque PNG") << encodedPicture(halves(QSize(400, 300)), "png") << QByteArray("jpeg");
    QTest::newRow("PNG with an alpha channel, every pixel opaque") << encodedPicture(opaqueWithAlpha, "png") << QByteArray("jpeg");
    QTest::newRow("PNG with a clear corner") << encodedPicture(oneClearCorner, "png") << QByteArray("png");
}

void TestRendition::pngOnlyForTransparency()
{
    QFETCH(QByteArray, picture);
    QFETCH(QByteArray, format);
    const Rendition rendition = makeRendition(picture, QStringLiteral("photo"));
    QVERIFY2(rendition.problem.isEmpty(), qPrintable(rendition.problem));
    QCOMPARE(pictureFormatOf(rendition.bytes), format);
    const QImage image = decoded(rendition.bytes);
    if (format == "png") {
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QCOMPARE(qAlpha(image.pixel(image.width() - 1, image.height() - 1)), 255);
    }
}

void TestRendition::brokenPicturesAreRefused_data()
{
    QTest::addColumn<QByteArray>("picture");
    QByteArray png = encodedPicture(halves(QSize(64, 64)), "png");
    // The image data's bytes (past the signature and header chunk) overwritten.
    png.replace(60, 40, QByteArray(40, '\x5a'));
    QTest::newRow("no image at all") << QByteArray("a text file, not a photo");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("PNG with damaged image data") << png;
}

void TestRendition::brokenPicturesAreRefused()
{
    QFETCH(QByteArray, picture);
    const Rendition rendition = makeRendition(picture, QStringLiteral("pictures/e7.png"));
    QVERIFY(rendition.bytes.isEmpty());
    QVERIFY2(rendition.problem.startsWith(QStringLiteral("The picture \"pictures/e7.png\" cannot be decoded (")),
             qPrintable(rendition.problem));
    QVERIFY(rendition.problem.endsWith(QStringLiteral("Save it again as JPEG or PNG.")));
}

void TestRendition::extensionComesFromTheBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("extension");
    const QImage image = halves(QSize(20, 10));
    QTest::newRow("JPEG's first bytes only") << encodedPicture(image, "jpeg").left(PictureSignatureBytes) << QStringLiteral("jpg");
    QTest::newRow("PNG's first bytes only") << encodedPicture(image, "png").left(PictureSignatureBytes) << QStringLiteral("png");
    QTest::newRow("anything else") << QByteArray("portrait of A") << QStringLiteral("bin");
}

void TestRendition::extensionComesFromTheBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, extension);
    QCOMPARE(pictureFileExtension(bytes), extension);
}

QTEST_GUILESS_MAIN(TestRendition)
#include "tst_rendition.moc"
