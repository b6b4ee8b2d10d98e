#include "support/portraitphoto.h"

#include <QBuffer>
#include <QImage>
#include <QRandomGenerator>

namespace vorna::testing {

// A gradient under noise whose strength varies with the index: smooth enough to compress like
// a photo, noisy enough to weigh what one does.
QByteArray portraitPhoto(int index)
{
    QRandomGenerator random(quint32(index) + 1);
    QImage image(900, 1200, QImage::Format_RGB32);
    const int amplitude = 4 + index % 8;
    const int cx = int(random.bounded(900));
    const int cy = int(random.bounded(1200));
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int distance = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / 4000;
            const int noise = int(random.bounded(2 * amplitude + 1)) - amplitude;
            line[x] = qRgb(qBound(0, 120 + distance % 90 + noise, 255), qBound(0, 90 + (x / 7) % 60 + noise, 255),
                           qBound(0, 70 + (y / 9) % 80 + noise, 255));
        }
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return buffer.data();
}

} // namespace vorna::testing
