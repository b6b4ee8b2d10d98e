#pragma once
// Encoded pictures for tests of picture handling: an image in a format's bytes, and the format
// that bytes are in, as Qt's image readers tell it. Tests that include it link Qt5::Gui.

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>

namespace vorna::testing {

inline QByteArray encodedPicture(const QImage &image, const char *format, int quality = 90)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// "jpeg", "png" ...; empty for bytes of no format Qt reads.
inline QByteArray pictureFormatOf(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return QImageReader::imageFormat(&buffer);
}

} // namespace vorna::testing
