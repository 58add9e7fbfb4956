// Draws the kiosk's pictures at build time: the operator panel (play, pause and stop buttons,
// left to right, under the panel's three click areas) and the window icon in three sizes.
// Usage: drawart <output folder>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cstdio>

namespace {

const QColor Grey(0xc0, 0xc0, 0xc0);
const QColor Yellow(0xff, 0xd8, 0x00);
const QColor Black(0x10, 0x10, 0x10);

void drawButton(QPainter &p, QPointF centre, double radius, int symbol)
{
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 2));
    p.setBrush(Black);
    p.drawEllipse(centre, radius, radius);
    p.setPen(Qt::NoPen);
    p.setBrush(Yellow);
    const double s = radius * 0.45;
    switch (symbol) {
    case 0: // play
        p.drawPolygon(
            QPolygonF({centre + QPointF(-s * 0.7, -s), centre + QPointF(-s * 0.7, s), centre + QPointF(s, 0)}));
        break;
    case 1: // pause
        p.drawRect(QRectF(centre.x() - s * 0.8, centre.y() - s, s * 0.55, 2 * s));
        p.drawRect(QRectF(centre.x() + s * 0.25, centre.y() - s, s * 0.55, 2 * s));
        break;
    default: // stop
        p.drawRect(QRectF(centre.x() - s * 0.85, centre.y() - s * 0.85, 1.7 * s, 1.7 * s));
        break;
    }
}

QImage panel()
{
    // 330 x 119 pixels; the click areas lie at 8-105, 112-217 and 224-321 pixels across.
    QImage img(330, 119, QImage::Format_RGB888);
    img.fill(Grey);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const double centresX[] = {56.5, 164.5, 272.5};
    for (int i = 0; i < 3; ++i)
        drawButton(p, QPointF(centresX[i], 60.5), 42, i);
    return img;
}

QImage icon(int size)
{
    QImage img(size, size, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // A screen on its foot, showing the play symbol.
    const double m = size / 16.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.drawRoundedRect(QRectF(0.5 * m, 1 * m, 15 * m, 11 * m), 1.2 * m, 1.2 * m);
    p.drawRect(QRectF(6.5 * m, 12 * m, 3 * m, 2 * m));
    p.drawRect(QRectF(4 * m, 14 * m, 8 * m, 1.2 * m));
    p.setBrush(QColor(0x00, 0x00, 0xc0));
    p.drawRect(QRectF(1.7 * m, 2.2 * m, 12.6 * m, 8.6 * m));
    p.setBrush(Yellow);
    p.drawPolygon(QPolygonF({QPointF(6.3 * m, 3.8 * m), QPointF(6.3 * m, 9.2 * m), QPointF(10.6 * m, 6.5 * m)}));
    p.end();
    // 256 colours, as the window's icon images are.
    return img.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: drawart <output folder>\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    bool ok = panel().save(out + "/panel.png");
    for (const int size : {16, 32, 48})
        ok = icon(size).save(out + QStringLiteral("/tesmora%1.png").arg(size)) && ok;
    if (!ok)
        std::fprintf(stderr, "drawart: cannot write into %s\n", argv[1]);
    return ok ? 0 : 1;
}
