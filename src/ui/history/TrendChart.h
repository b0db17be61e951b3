#pragma once
#include "HistoryStore.h"
#include <QWidget>
#include <utility>
#include <vector>

namespace vireo {

// A small line chart of one item's finding count over its recorded runs, with repairs marked as
// dashed vertical lines at their time between two runs. Plain painting, no chart library.
class TrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TrendChart(QWidget *parent = nullptr);
    void setData(std::vector<history::TrendPoint> points, std::vector<history::RepairRecord> repairs = {});

    // Where each point is drawn in the widget, with its count, oldest first.
    std::vector<std::pair<QPointF, qint64>> plotted() const;
    // The x position of each repair mark drawn.
    std::vector<double> repairMarks() const;

    QSize sizeHint() const override { return {300, 110}; }

protected:
    void paintEvent(QPaintEvent *e) override;

private:
    QRectF plotArea() const;
    qint64 maxCount() const;
    std::vector<history::TrendPoint> m_points;
    std::vector<history::RepairRecord> m_repairs;
};

} // namespace vireo
