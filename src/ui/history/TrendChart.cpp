#include "TrendChart.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace vireo {

TrendChart::TrendChart(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(220, 90);
}

void TrendChart::setData(std::vector<history::TrendPoint> points, std::vector<history::RepairRecord> repairs)
{
    m_points = std::move(points);
    m_repairs = std::move(repairs);
    QStringList tip;
    for (const history::TrendPoint &p : m_points)
        tip << QStringLiteral("%1：%2").arg(history::shortTime(p.started)).arg(p.count);
    for (const history::RepairRecord &r : m_repairs)
        tip << QStringLiteral("修复 %1").arg(history::shortTime(r.time));
    setToolTip(tip.join(QLatin1Char('\n')));
    update();
}

QRectF TrendChart::plotArea() const
{
    const int textW = fontMetrics().horizontalAdvance(QString::number(maxCount())) + 8;
    const int textH = fontMetrics().height();
    // Room above for the count over the highest point, below for the dates.
    return QRectF(textW, textH + 6, width() - textW - 14, height() - textH * 2 - 14);
}

qint64 TrendChart::maxCount() const
{
    qint64 m = 1;
    for (const history::TrendPoint &p : m_points)
        m = std::max(m, p.count);
    return m;
}

std::vector<std::pair<QPointF, qint64>> TrendChart::plotted() const
{
    std::vector<std::pair<QPointF, qint64>> out;
    const QRectF a = plotArea();
    const int n = int(m_points.size());
    const double top = double(maxCount());
    for (int i = 0; i < n; ++i) {
        const double x = n == 1 ? a.center().x() : a.left() + a.width() * i / (n - 1);
        const double y = a.bottom() - a.height() * double(m_points[size_t(i)].count) / top;
        out.emplace_back(QPointF(x, y), m_points[size_t(i)].count);
    }
    return out;
}

std::vector<double> TrendChart::repairMarks() const
{
    std::vector<double> out;
    const auto pts = plotted();
    for (const history::RepairRecord &r : m_repairs) {
        for (size_t i = 1; i < m_points.size(); ++i) {
            const QDateTime &a = m_points[i - 1].started, &b = m_points[i].started;
            if (r.time >= a && r.time < b) {
                const double f = a.msecsTo(b) > 0 ? double(a.msecsTo(r.time)) / double(a.msecsTo(b)) : 0.5;
                out.push_back(pts[i - 1].first.x() + f * (pts[i].first.x() - pts[i - 1].first.x()));
            }
        }
        if (!pts.empty() && r.time >= m_points.back().started)
            out.push_back(pts.back().first.x());
    }
    return out;
}

void TrendChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0xfb, 0xfc, 0xfe));
    p.setPen(QColor(0xd5, 0xdd, 0xe6));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRectF a = plotArea();
    p.setPen(QColor(0x99, 0x99, 0x99));
    p.drawLine(a.bottomLeft(), a.bottomRight());
    p.setPen(QColor(0x55, 0x55, 0x55));
    p.drawText(QRectF(0, a.top() - 6, a.left() - 4, 14), Qt::AlignRight | Qt::AlignVCenter, QString::number(maxCount()));
    p.drawText(QRectF(0, a.bottom() - 7, a.left() - 4, 14), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    if (m_points.empty()) {
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("没有记录"));
        return;
    }
    QPen repair(QColor(0xe0, 0x8a, 0x00), 1.5, Qt::DashLine);
    p.setPen(repair);
    for (double x : repairMarks())
        p.drawLine(QPointF(x, a.top()), QPointF(x, a.bottom()));
    const auto pts = plotted();
    QPainterPath line;
    for (size_t i = 0; i < pts.size(); ++i)
        i == 0 ? line.moveTo(pts[i].first) : line.lineTo(pts[i].first);
    p.setPen(QPen(QColor(0x4a, 0x78, 0xb0), 2));
    p.drawPath(line);
    p.setBrush(QColor(0x4a, 0x78, 0xb0));
    for (const auto &[pt, count] : pts) {
        p.drawEllipse(pt, 3.5, 3.5);
        p.drawText(QRectF(pt.x() - 30, pt.y() - 18, 60, 14), Qt::AlignCenter, QString::number(count));
    }
    p.setPen(QColor(0x55, 0x55, 0x55));
    const QString first = m_points.front().started.toString(QStringLiteral("MM-dd HH:mm"));
    const QString last = m_points.back().started.toString(QStringLiteral("MM-dd HH:mm"));
    p.drawText(QRectF(a.left(), a.bottom() + 2, a.width(), 16), Qt::AlignLeft | Qt::AlignTop, first);
    if (m_points.size() > 1)
        p.drawText(QRectF(a.left(), a.bottom() + 2, a.width(), 16), Qt::AlignRight | Qt::AlignTop, last);
}

} // namespace vireo
