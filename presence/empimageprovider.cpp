#include "empimageprovider.h"

#include <QBuffer>
#include <QImageReader>
#include <QPixmap>

namespace {
constexpr int PlaceholderSide = 64;
}

EmpImageProvider::EmpImageProvider(ImageType type)
    : QQuickImageProvider(type)
{
}

EmpImageProvider::~EmpImageProvider() = default;

QImage EmpImageProvider::requestImage(const QString &id, QSize *size, const QSize &requestedSize)
{
    if (size)
        *size = requestedSize;
    if (requestedSize.width() <= 0 || requestedSize.height() <= 0)
        return placeholder(requestedSize);
    const QByteArray data = m_pictures.value(id);
    if (data.isEmpty())
        return placeholder(requestedSize);
    QSize stored;
    const QImage image = decodeToFit(data, requestedSize, &stored);
    if (size)
        *size = stored;
    return image;
}

QImage EmpImageProvider::decodeToFit(const QByteArray &data, const QSize &box, QSize *stored)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize header = reader.size();
    // libjpeg decodes straight to a fraction of the picture's size, which beats decoding it
    // whole and scaling down. Other formats would decode in full and then scale smoothly, which
    // is slower than the fast scaling below, so they keep that.
    if (header.isValid() && reader.format() == "jpeg") {
        const QSize fitted = header.scaled(box, Qt::KeepAspectRatio);
        if (!fitted.isEmpty())
            reader.setScaledSize(fitted);
    }
    QImage image = reader.read();
    *stored = image.isNull() ? QSize(0, 0) : header.isValid() ? header : image.size();
    if (!image.isNull() && image.size() == stored->scaled(box, Qt::KeepAspectRatio))
        return image;
    // A picture that does not decode stays a null image: no placeholder stands in for it.
    return image.scaled(box, Qt::KeepAspectRatio, Qt::FastTransformation);
}

void EmpImageProvider::insertPicture(QString empId, QByteArray data)
{
    m_pictures.insert(empId, data);
}

void EmpImageProvider::removeAllPictures()
{
    // The next answer usually brings as many pictures again.
    const int previous = m_pictures.size();
    m_pictures = QHash<QString, QByteArray>();
    m_pictures.reserve(previous);
}

int EmpImageProvider::pictureCount() const
{
    return m_pictures.size();
}

QImage EmpImageProvider::placeholder(const QSize &requestedSize)
{
    const int width = requestedSize.width() > 0 ? requestedSize.width() : PlaceholderSide;
    const int height = requestedSize.height() > 0 ? requestedSize.height() : PlaceholderSide;
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    return pixmap.toImage();
}
