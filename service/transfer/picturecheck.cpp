#include "transfer/picturecheck.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

namespace vorna::transfer {

namespace {

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1);
}

// The size is checked before the read, so a huge file is never loaded whole.
QString readChecked(const QString &path, const QString &name, QByteArray *bytes)
{
    QFile file(path);
    if (file.size() > MaxPictureBytes)
        return QStringLiteral("The picture \"%1\" is %2 MB; at most 2 MB is accepted. Make it smaller.")
            .arg(name, megabytes(file.size()));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("The picture \"%1\" cannot be read (%2).").arg(name, file.errorString());
    *bytes = file.read(MaxPictureBytes + 1);
    const QString problem = checkPicture(*bytes, name);
    if (!problem.isEmpty())
        bytes->clear();
    return problem;
}

} // namespace

bool staysInside(const QString &folder, const QString &path)
{
    const QString root = QFileInfo(folder).canonicalFilePath();
    const QString target = QFileInfo(path).canonicalFilePath();
    return !root.isEmpty() && target.startsWith(root + QLatin1Char('/'));
}

QString checkPicture(const QByteArray &bytes, const QString &name)
{
    if (bytes.size() > MaxPictureBytes)
        return QStringLiteral("The picture \"%1\" is %2 MB; at most 2 MB is accepted. Make it smaller.")
            .arg(name, megabytes(bytes.size()));
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QByteArray format = reader.format();
    if (format != "jpeg" && format != "png")
        return QStringLiteral("The picture \"%1\" is not a JPEG or PNG image. Save it as one of them.").arg(name);
    const QSize size = reader.size();
    if (size.width() > MaxPictureSide || size.height() > MaxPictureSide)
        return QStringLiteral("The picture \"%1\" is %2 by %3 pixels; at most %4 on a side is accepted. "
                              "Make it smaller.")
            .arg(name, QString::number(size.width()), QString::number(size.height()),
                 QString::number(MaxPictureSide));
    const QImage image = reader.read();
    if (image.isNull())
        return QStringLiteral("The picture \"%1\" cannot be decoded (%2). Save it again as JPEG or PNG.")
            .arg(name, reader.errorString());
    return QString();
}

QString readPicture(const QString &folder, const QString &relativePath, QByteArray *bytes)
{
    bytes->clear();
    if (QDir::isAbsolutePath(relativePath) || relativePath.split(QLatin1Char('/')).contains(QStringLiteral("..")))
        return QStringLiteral("The picture path \"%1\" leaves the import folder. Give a path relative to "
                              "the folder, without \"..\".").arg(relativePath);
    const QString path = QDir(folder).filePath(relativePath);
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("The picture \"%1\" does not exist in the import folder.").arg(relativePath);
    if (!info.isFile())
        return QStringLiteral("The picture \"%1\" is not a file.").arg(relativePath);
    if (!staysInside(folder, path))
        return QStringLiteral("The picture \"%1\" is a link that leads out of the import folder. "
                              "Copy the picture into the folder.").arg(relativePath);
    return readChecked(path, relativePath, bytes);
}

QString readPictureFile(const QString &path, QByteArray *bytes)
{
    bytes->clear();
    const QFileInfo info(path);
    if (!info.isFile())
        return QStringLiteral("The picture \"%1\" is not a file.").arg(path);
    return readChecked(path, path, bytes);
}

} // namespace vorna::transfer
