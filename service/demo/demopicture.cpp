#include "demo/demopicture.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace vorna::service {

namespace {

constexpr int jpegQuality = 80;

const QColor backgrounds[] = {QColor(0xB3, 0xE5, 0xFC), QColor(0xC8, 0xE6, 0xC9), QColor(0xFF, 0xE0, 0xB2),
                              QColor(0xE1, 0xBE, 0xE7), QColor(0xF8, 0xBB, 0xD0), QColor(0xCF, 0xD8, 0xDC),
                              QColor(0xFF, 0xF9, 0xC4), QColor(0xB2, 0xDF, 0xDB)};
const QColor skins[] = {QColor(0xF5, 0xD0, 0xB0), QColor(0xE8, 0xB9, 0x8F), QColor(0xD1, 0x9A, 0x6C),
                        QColor(0xA9, 0x70, 0x4A), QColor(0x7A, 0x4E, 0x32)};
const QColor hairs[] = {QColor(0x2B, 0x1E, 0x16), QColor(0x5A, 0x3A, 0x22), QColor(0x8D, 0x5B, 0x2E),
                        QColor(0xC9, 0xA0, 0x5C), QColor(0x9E, 0x9E, 0x9E), QColor(0x14, 0x14, 0x14)};
const QColor shirts[] = {QColor(0x37, 0x47, 0x4F), QColor(0x15, 0x65, 0xC0), QColor(0xC6, 0x28, 0x28),
                         QColor(0x2E, 0x7D, 0x32), QColor(0x6A, 0x1B, 0x9A), QColor(0xEF, 0x6C, 0x00),
                         QColor(0xFA, 0xFA, 0xFA)};

template<typename T, size_t N>
const T &pick(QRandomGenerator &random, const T (&choices)[N])
{
    return choices[random.bounded(int(N))];
}

void drawShoulders(QPainter &painter, const QColor &shirt)
{
    QPainterPath body;
    body.moveTo(18, DemoPicture::side);
    body.cubicTo(18, 118, 50, 108, 80, 108);
    body.cubicTo(110, 108, 142, 118, 142, DemoPicture::side);
    body.closeSubpath();
    painter.setBrush(shirt);
    painter.drawPath(body);
}

// Hair that falls to the shoulders, drawn first so that the head and body cover its middle.
void drawLongHair(QPainter &painter, const QColor &hair, int headWidth)
{
    painter.setBrush(hair);
    painter.drawRoundedRect(QRectF(80 - headWidth / 2.0 - 8, 34, headWidth + 16, 86), 24, 24);
}

void drawHead(QPainter &painter, const QColor &skin, const QColor &hair, int headWidth)
{
    painter.setBrush(skin.darker(108));
    painter.drawRect(QRectF(70, 88, 20, 24)); // neck
    painter.setBrush(skin);
    painter.drawEllipse(QRectF(80 - headWidth / 2.0, 36, headWidth, 66));
    painter.setBrush(hair);
    painter.drawChord(QRectF(80 - headWidth / 2.0 - 3, 30, headWidth + 6, 52), 0, 180 * 16);
}

} // namespace

QByteArray DemoPicture::make(QRandomGenerator &random, Hair hair)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(pick(random, backgrounds));
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        const QColor shirt = pick(random, shirts);
        const QColor skin = pick(random, skins);
        const QColor hairColor = pick(random, hairs);
        const int headWidth = 48 + random.bounded(10);
        if (hair == Hair::Long)
            drawLongHair(painter, hairColor, headWidth);
        drawShoulders(painter, shirt);
        drawHead(painter, skin, hairColor, headWidth);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", jpegQuality);
    return bytes;
}

} // namespace vorna::service
