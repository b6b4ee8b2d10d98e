#include "picturecheck.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>

namespace vorna::service::picture {

QString problemWith(const QByteArray &bytes)
{
    if (bytes.size() > MaxBytes)
        return QStringLiteral("is %1 KB, more than the 2048 KB a picture may have").arg(bytes.size() / 1024);
    QBuffer buffer;
    buffer.setData(bytes);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (format != "jpeg" && format != "png")
        return QStringLiteral("is neither a JPEG nor a PNG picture");
    const QSize size = reader.size();
    if (size.width() > MaxSide || size.height() > MaxSide)
        return QStringLiteral("is %1 x %2 pixels, more than the %3 a side may have")
            .arg(size.width()).arg(size.height()).arg(MaxSide);
    if (reader.read().isNull())
        return QStringLiteral("cannot be decoded (%1)").arg(reader.errorString());
    return {};
}

QString read(const QString &path, QByteArray *bytes)
{
    QFile file(path);
    if (file.size() > MaxBytes)
        return QStringLiteral("The picture %1 is %2 KB, more than the 2048 KB a picture may have. Make it smaller.")
            .arg(path).arg(file.size() / 1024);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read the picture %1 (%2).").arg(path, file.errorString());
    *bytes = file.readAll();
    const QString problem = problemWith(*bytes);
    return problem.isEmpty() ? QString() : QStringLiteral("The picture %1 %2.").arg(path, problem);
}

} // namespace vorna::service::picture
