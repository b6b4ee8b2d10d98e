// Draws the panel's tool-bar and button icons: 48 by 48 pixels, transparent, each in a white
// variant (for the dark theme) and a black one (for the light theme).
//
//   icongen <qml folder>
//
// writes prev.png, prev_dark.png and res/{refresh,menu,search,clear}_{white,black}.png there.

#include <QDir>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace {

constexpr int iconSize = 48;
constexpr qreal strokeWidth = 4.0;

using Drawing = std::function<void(QPainter &, const QColor &)>;

QPen strokePen(const QColor &color, qreal width = strokeWidth)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawChevron(QPainter &p, const QColor &color)
{
    p.setPen(strokePen(color, 4.5));
    p.drawPolyline(QPolygonF({QPointF(29, 12), QPointF(17, 24), QPointF(29, 36)}));
}

// A circle open at the upper right, its upper end an arrowhead turning clockwise.
void drawCircularArrow(QPainter &p, const QColor &color)
{
    const QPointF centre(24, 24);
    const qreal radius = 11;
    const qreal headAngle = 65;  // degrees, counter-clockwise from three o'clock
    const qreal span = 290;
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);

    QPainterPath arc;
    arc.arcMoveTo(circle, headAngle);
    arc.arcTo(circle, headAngle, span);
    p.setPen(strokePen(color));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);

    // The head sits on the arc's upper end and points along the clockwise tangent.
    const qreal a = qDegreesToRadians(headAngle);
    const QPointF end(centre.x() + radius * qCos(a), centre.y() - radius * qSin(a));
    const QPointF ahead(qSin(a), qCos(a));
    const QPointF across(qCos(a), -qSin(a));
    const qreal halfBase = 6.5;
    const qreal length = 8;
    const QPolygonF head({end + across * halfBase, end - across * halfBase,
                          end + ahead * length});
    p.setPen(strokePen(color, 1.5));
    p.setBrush(color);
    p.drawPolygon(head);
}

void drawBars(QPainter &p, const QColor &color)
{
    p.setPen(strokePen(color));
    for (qreal y : {14.0, 24.0, 34.0})
        p.drawLine(QLineF(12, y, 36, y));
}

void drawMagnifier(QPainter &p, const QColor &color)
{
    p.setPen(strokePen(color));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(21, 21), 8.5, 8.5);
    p.setPen(strokePen(color, 5));
    p.drawLine(QLineF(27.5, 27.5, 36, 36));
}

void drawCross(QPainter &p, const QColor &color)
{
    p.setPen(strokePen(color));
    p.drawLine(QLineF(14, 14, 34, 34));
    p.drawLine(QLineF(34, 14, 14, 34));
}

bool writeIcon(const QString &path, const Drawing &draw, const QColor &color)
{
    QImage image(iconSize, iconSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, color);
    painter.end();
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "icongen: cannot write %s. Check that the folder exists and is writable.\n",
                     qPrintable(QDir::toNativeSeparators(path)));
        return false;
    }
    return true;
}

struct Icon
{
    QString whiteName;
    QString blackName;
    Drawing draw;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: icongen <qml folder>\n"
                             "Draws the panel's icons into that folder and its res/ subfolder.\n");
        return 2;
    }
    const QDir qml(QString::fromLocal8Bit(argv[1]));
    if (!qml.mkpath(QStringLiteral("res"))) {
        std::fprintf(stderr, "icongen: cannot create %s/res. Check the path and its permissions.\n",
                     argv[1]);
        return 1;
    }

    const Icon icons[] = {
        {"prev.png", "prev_dark.png", drawChevron},
        {"res/refresh_white.png", "res/refresh_black.png", drawCircularArrow},
        {"res/menu_white.png", "res/menu_black.png", drawBars},
        {"res/search_white.png", "res/search_black.png", drawMagnifier},
        {"res/clear_white.png", "res/clear_black.png", drawCross},
    };
    bool ok = true;
    for (const Icon &icon : icons) {
        ok = writeIcon(qml.filePath(icon.whiteName), icon.draw, Qt::white) && ok;
        ok = writeIcon(qml.filePath(icon.blackName), icon.draw, Qt::black) && ok;
    }
    return ok ? 0 : 1;
}
