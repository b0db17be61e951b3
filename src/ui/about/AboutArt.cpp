#include "AboutArt.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace vireo::AboutArt {

namespace {

QImage canvas(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

QPixmap background(int width, int height)
{
    QImage image = canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient body(0, HeaderHeight, 0, height);
    body.setColorAt(0, QColor(0xF7, 0xFA, 0xFD));
    body.setColorAt(1, QColor(0xDC, 0xE8, 0xF5));
    p.fillRect(image.rect(), body);

    // Soft sweeping arcs in the lower right corner.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
        QColor c(0x5B, 0x8F, 0xC7, 18 + 8 * i);
        p.setBrush(c);
        const int r = 260 - 45 * i;
        p.drawEllipse(QPoint(width + 40, height + 60), r, r);
    }

    QLinearGradient header(0, 0, 0, HeaderHeight);
    header.setColorAt(0, QColor(0x3A, 0x7B, 0xD5));
    header.setColorAt(1, QColor(0x1D, 0x4F, 0x9C));
    p.fillRect(QRect(0, 0, width, HeaderHeight), header);
    p.setPen(QColor(0x8F, 0xB8, 0xEA));
    p.drawLine(0, HeaderHeight - 1, width, HeaderHeight - 1);

    p.setPen(QColor(0x1D, 0x4F, 0x9C));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, width - 1, height - 1));
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap closeImage(bool hot)
{
    QImage image = canvas(17, 18);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xFF, 0xFF, 0xFF, 200), 1));
    p.setBrush(hot ? QColor(0xE0, 0x4A, 0x3A) : QColor(0x2A, 0x62, 0xB8));
    p.drawRoundedRect(QRectF(0.5, 1.5, 16, 16), 3, 3);
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5, 6), QPointF(12, 13));
    p.drawLine(QPointF(12, 6), QPointF(5, 13));
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap emblem(int size)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);

    QPainterPath leaf;
    leaf.moveTo(8, 56);
    leaf.cubicTo(6, 24, 28, 6, 58, 6);
    leaf.cubicTo(58, 38, 38, 58, 8, 56);
    QLinearGradient fill(8, 56, 58, 6);
    fill.setColorAt(0, QColor(0x2E, 0x8B, 0x57));
    fill.setColorAt(1, QColor(0x7C, 0xC5, 0x76));
    p.setPen(QPen(QColor(0x1E, 0x5E, 0x3A), 1.5));
    p.setBrush(fill);
    p.drawPath(leaf);

    p.setPen(QPen(Qt::white, 5.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({QPointF(20, 33), QPointF(29, 42), QPointF(45, 21)}));
    p.end();
    return QPixmap::fromImage(image);
}

QPixmap seal(int size)
{
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);

    QRadialGradient glow(QPointF(20, 18), 26);
    glow.setColorAt(0, QColor(0xFF, 0xE0, 0x82));
    glow.setColorAt(1, QColor(0xF0, 0xA2, 0x1C));
    p.setPen(QPen(QColor(0xB0, 0x6A, 0x00), 1.5));
    p.setBrush(glow);
    QPolygonF star;
    for (int i = 0; i < 24; ++i) {
        const double r = i % 2 ? 21.0 : 23.5;
        const double a = i * 3.14159265358979 / 12;
        star << QPointF(24 + r * std::cos(a), 24 + r * std::sin(a));
    }
    p.drawPolygon(star);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xFF, 0xF6, 0xDA), 1.5));
    p.drawEllipse(QPointF(24, 24), 15, 15);
    p.setPen(QPen(QColor(0x9A, 0x4E, 0x00), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({QPointF(16, 24), QPointF(22, 30), QPointF(32, 18)}));
    p.end();
    return QPixmap::fromImage(image);
}

} // namespace vireo::AboutArt
