#pragma once
// Serves the employees' pictures to QML as "image://emp/<employee id>".
//
// Pictures stay encoded, as the service sent them; each request decodes anew, straight to the
// requested size where the format allows it, else in full and then scaled.
// Requests come from image elements that load synchronously, so they arrive on the GUI
// thread, like the picture store's changes: the map needs no lock.
//
// A request whose width or height is 0 or negative, or for an id without a non-empty
// picture, gets a transparent placeholder: each dimension that is greater than 0 is kept,
// each other one becomes 64. (An element without a source size asks for -1 by -1; scaling
// a picture to that would give an empty image, so it gets a 64 by 64 placeholder instead.)

#include <QByteArray>
#include <QHash>
#include <QQuickImageProvider>
#include <QString>

class EmpImageProvider : public QQuickImageProvider
{
public:
    explicit EmpImageProvider(ImageType type = QQmlImageProviderBase::Image);
    ~EmpImageProvider() override;

    QImage requestImage(const QString &id, QSize *size, const QSize &requestedSize) override;

    // Stores or replaces the picture of one employee; empty bytes are served as the placeholder.
    void insertPicture(QString empId, QByteArray data);
    void removeAllPictures();
    int pictureCount() const;

private:
    static QImage placeholder(const QSize &requestedSize);
    // The picture scaled into `box` keeping its aspect ratio; `stored` gets its own size,
    // 0 by 0 when it does not decode.
    static QImage decodeToFit(const QByteArray &data, const QSize &box, QSize *stored);

    // Hashed: an answer inserts one picture per row, and a tree's string comparisons and
    // node allocations cost more than the rest of a row's native handling.
    QHash<QString, QByteArray> m_pictures;
};
