#pragma once
// Portraits for demo employees: a coloured background with a head-and-shoulders silhouette,
// drawn with QPainter on a QImage (no text, so no fonts and no GUI application are needed)
// and encoded as a small JPEG.

#include <QByteArray>
#include <QRandomGenerator>

namespace vorna::service {

class DemoPicture
{
public:
    static constexpr int side = 160;

    // Long hair falls to the shoulders; short hair only caps the head.
    enum class Hair { Short, Long };

    // A JPEG of side x side pixels, a few KB; the same generator state gives the same picture.
    static QByteArray make(QRandomGenerator &random, Hair hair);
};

} // namespace vorna::service
