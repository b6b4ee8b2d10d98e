#include "empimageprovider.h"

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
    const QImage image = QImage::fromData(data);
    if (size)
        *size = QSize(image.width(), image.height());
    // A picture that does not decode stays a null image: no placeholder stands in for it.
    return image.scaled(requestedSize, Qt::KeepAspectRatio, Qt::FastTransformation);
}

void EmpImageProvider::insertPicture(QString empId, QByteArray data)
{
    m_pictures.insert(empId, data);
}

void EmpImageProvider::removeAllPictures()
{
    m_pictures = QMap<QString, QByteArray>();
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
