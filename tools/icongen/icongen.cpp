// Draws the panel's tool-bar and button icons: 48 by 48 pixels, transparent, each in a white
// variant (for the dark theme) and a black one (for the light theme).
//
//   icongen <qml folder>
//
// writes prev.png, prev_dark.png and res/{refresh,menu,search,clear}_{white,black}.png there.
//
//   icongen --app <folder>
//
// draws the program's own icon, for the desktop menu and the window: vornapanel-48.png,
// vornapanel-128.png, vornapanel-256.png and vornapanel.svg, from one drawing.

#include <QDir>
#include <QImage>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QSvgGenerator>
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

void reportUnwritable(const QString &path)
{
    std::fprintf(stderr, "icongen: cannot write %s. Check that the folder exists and is writable.\n",
                 qPrintable(QDir::toNativeSeparators(path)));
}

// Paints `draw` on a transparent square of `size` pixels and saves it as PNG.
bool writePng(const QString &path, int size, const std::function<void(QPainter &)> &draw)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter);
    painter.end();
    if (!image.save(path, "PNG")) {
        reportUnwritable(path);
        return false;
    }
    return true;
}

bool writeIcon(const QString &path, const Drawing &draw, const QColor &color)
{
    return writePng(path, iconSize, [&](QPainter &p) { draw(p, color); });
}

// The program's icon on a 256-unit canvas: a rounded tile with a clock face, and a check mark
// over its lower right for "present".
void drawAppIcon(QPainter &p)
{
    const QColor tile(0x1f, 0x5f, 0x8b);
    const QColor face(0xf4, 0xf7, 0xfa);
    const QColor check(0x3c, 0xb3, 0x71);
    p.setPen(Qt::NoPen);
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(16, 16, 224, 224), 44, 44);

    p.setBrush(face);
    p.drawEllipse(QPointF(116, 116), 74, 74);
    p.setPen(strokePen(tile, 14));
    p.drawLine(QLineF(116, 116, 116, 72));
    p.drawLine(QLineF(116, 116, 148, 132));

    p.setPen(Qt::NoPen);
    p.setBrush(check);
    p.drawEllipse(QPointF(184, 184), 46, 46);
    p.setPen(strokePen(face, 14));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(162, 186), QPointF(178, 202), QPointF(206, 168)}));
}

bool writeAppPng(const QString &path, int size)
{
    return writePng(path, size, [size](QPainter &p) {
        p.scale(size / 256.0, size / 256.0);
        drawAppIcon(p);
    });
}

bool writeAppSvg(const QString &path)
{
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle(QStringLiteral("VornaPanel"));
    QPainter painter;
    if (!painter.begin(&svg)) {
        reportUnwritable(path);
        return false;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    drawAppIcon(painter);
    return painter.end();
}

int writeAppIcons(const QString &folder)
{
    const QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "icongen: cannot create %s. Check the path and its permissions.\n",
                     qPrintable(QDir::toNativeSeparators(folder)));
        return 1;
    }
    bool ok = writeAppSvg(dir.filePath(QStringLiteral("vornapanel.svg")));
    for (int size : {48, 128, 256})
        ok = writeAppPng(dir.filePath(QStringLiteral("vornapanel-%1.png").arg(size)), size) && ok;
    return ok ? 0 : 1;
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
    if (argc == 3 && qstrcmp(argv[1], "--app") == 0)
        return writeAppIcons(QString::fromLocal8Bit(argv[2]));
    if (argc != 2) {
        std::fprintf(stderr, "usage: icongen <qml folder>\n"
                             "       icongen --app <folder>\n"
                             "Draws the panel's icons into the qml folder and its res/ subfolder, or the\n"
                             "program's own icon (PNG at 48, 128 and 256 pixels, and SVG) into <folder>.\n");
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
