#include "ButtonIcons.h"
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vireo {

namespace {

void drawBox(QPainter &p, const QRectF &r, bool ticked)
{
    p.setPen(QPen(QColor(28, 81, 128), 1));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(r);
    if (ticked) {
        QPen tick(QColor(33, 161, 33), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(tick);
        p.setBrush(Qt::NoBrush);
        QPainterPath path;
        path.moveTo(r.left() + 1.5, r.center().y());
        path.lineTo(r.left() + r.width() * 0.42, r.bottom() - 1.5);
        path.lineTo(r.right() - 1.0, r.top() + 1.5);
        p.drawPath(path);
    }
}

QPixmap selectAllPixmap()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawBox(p, QRectF(0.5, 0.5, 8, 8), true);
    drawBox(p, QRectF(6.5, 6.5, 9, 9), true);
    return pm;
}

QPixmap clearAllPixmap()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    drawBox(p, QRectF(0.5, 0.5, 8, 8), false);
    drawBox(p, QRectF(6.5, 6.5, 9, 9), false);
    return pm;
}

QPixmap runPixmap()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 0, 16);
    g.setColorAt(0, QColor(120, 214, 96));
    g.setColorAt(1, QColor(30, 140, 40));
    p.setBrush(g);
    p.setPen(QPen(QColor(20, 100, 30), 1));
    QPolygonF tri;
    tri << QPointF(3.5, 1.5) << QPointF(14.5, 8) << QPointF(3.5, 14.5);
    p.drawPolygon(tri);
    return pm;
}

QPixmap exitPixmap()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A door with an arrow leaving it.
    p.setPen(QPen(QColor(110, 70, 30), 1));
    p.setBrush(QColor(196, 140, 80));
    p.drawRect(QRectF(1.5, 1.5, 8, 13));
    p.setBrush(QColor(60, 40, 20));
    p.drawEllipse(QPointF(7.5, 8.5), 0.8, 0.8);
    QPen arrow(QColor(200, 40, 40), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(arrow);
    p.drawLine(QPointF(9.5, 8), QPointF(15, 8));
    p.drawLine(QPointF(12.5, 5.5), QPointF(15, 8));
    p.drawLine(QPointF(12.5, 10.5), QPointF(15, 8));
    return pm;
}

} // namespace

QIcon buttonIcon(const QString &name)
{
    if (name == QLatin1String("selectAll"))
        return QIcon(selectAllPixmap());
    if (name == QLatin1String("clearAll"))
        return QIcon(clearAllPixmap());
    if (name == QLatin1String("run"))
        return QIcon(runPixmap());
    if (name == QLatin1String("exit"))
        return QIcon(exitPixmap());
    return {};
}

} // namespace vireo
