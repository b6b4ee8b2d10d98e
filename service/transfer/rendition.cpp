#include "transfer/rendition.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <openssl/sha.h>

namespace vorna::transfer {

namespace {

QString pictureWords(const QString &name)
{
    return name.isEmpty() ? QStringLiteral("A picture") : QStringLiteral("The picture \"%1\"").arg(name);
}

Rendition refused(const QString &name, const QString &reason)
{
    return {{}, QStringLiteral("%1 cannot be decoded (%2). Save it again as JPEG or PNG.").arg(pictureWords(name), reason)};
}

// Within RenditionSide on the longer side, the shape kept; a smaller picture keeps its size.
QSize boundedSize(const QSize &size)
{
    if (size.width() <= RenditionSide && size.height() <= RenditionSide)
        return size;
    return size.scaled(RenditionSide, RenditionSide, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

// A JPEG decoder reduces by 1/2, 1/4 or 1/8 while decoding, at little cost; asked for another
// size it would scale once more itself. The smallest such reduction that keeps twice the
// rendition's size leaves the smooth scaling after it detail to average.
QSize decodeSize(const QSize &stored, const QSize &bounded)
{
    QSize size = stored;
    for (int denominator = 2; denominator <= 8; denominator *= 2) {
        const QSize reduced((stored.width() + denominator - 1) / denominator,
                            (stored.height() + denominator - 1) / denominator);
        if (reduced.width() < 2 * bounded.width() || reduced.height() < 2 * bounded.height())
            break;
        size = reduced;
    }
    return size;
}

bool isOpaque(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return true;
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
        for (int x = 0; x < argb.width(); ++x) {
            if (qAlpha(line[x]) != 255)
                return false;
        }
    }
    return true;
}

QByteArray encode(const QImage &image, const char *format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    return writer.write(image) ? bytes : QByteArray();
}

} // namespace

Rendition makeRendition(const QByteArray &picture, const QString &name)
{
    QBuffer buffer;
    buffer.setData(picture);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (!stored.isValid())
        return refused(name, reader.errorString());
    const QSize bounded = boundedSize(stored);
    const QSize decoded = decodeSize(stored, bounded);
    if (decoded != stored && reader.supportsOption(QImageIOHandler::ScaledSize))
        reader.setScaledSize(decoded);
    // The EXIF orientation turns the picture after decoding; a quarter turn swaps its sides.
    const bool quarterTurn = reader.transformation() & QImageIOHandler::TransformationRotate90;
    QImage image = reader.read();
    if (image.isNull())
        return refused(name, reader.errorString());
    const QSize shown = quarterTurn ? bounded.transposed() : bounded;
    if (image.size() != shown)
        image = image.scaled(shown, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const bool opaque = isOpaque(image);
    const QByteArray bytes = opaque ? encode(image.convertToFormat(QImage::Format_RGB32), "jpeg", RenditionJpegQuality)
                                    : encode(image.convertToFormat(QImage::Format_ARGB32), "png", -1);
    if (bytes.isEmpty())
        return {{}, QStringLiteral("%1 decodes, but its display copy cannot be encoded. Save it again as JPEG or PNG.")
                        .arg(pictureWords(name))};
    return {bytes, {}};
}

QString pictureFileExtension(const QByteArray &leadingBytes)
{
    QBuffer buffer;
    buffer.setData(leadingBytes);
    buffer.open(QIODevice::ReadOnly);
    const QByteArray format = QImageReader::imageFormat(&buffer);
    if (format == "jpeg")
        return QStringLiteral("jpg");
    if (format == "png")
        return QStringLiteral("png");
    return QStringLiteral("bin");
}

QByteArray pictureDigest(const QByteArray &bytes)
{
    QByteArray digest(SHA256_DIGEST_LENGTH, Qt::Uninitialized);
    SHA256(reinterpret_cast<const unsigned char *>(bytes.constData()), size_t(bytes.size()),
           reinterpret_cast<unsigned char *>(digest.data()));
    return digest;
}

CheckedPicture checkedPicture(QByteArray original, QByteArray rendition)
{
    CheckedPicture picture{std::move(original), {}, std::move(rendition), {}};
    picture.originalDigest = pictureDigest(picture.original);
    picture.renditionDigest = picture.rendition.isEmpty() ? picture.originalDigest : pictureDigest(picture.rendition);
    return picture;
}

} // namespace vorna::transfer
