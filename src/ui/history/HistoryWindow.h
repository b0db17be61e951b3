#pragma once
#include "HistoryStore.h"
#include <QDialog>
#include <QWidget>
#include <memory>

class QComboBox;
class QLabel;
class QTableView;
class QGridLayout;

namespace vireo {

class TrendChart;

// The new and the resolved rows behind one change.
class RowDiffWindow : public QDialog {
    Q_OBJECT
public:
    RowDiffWindow(const QString &title, const history::RowDiff &diff, QWidget *parent = nullptr);
};

// 历史记录: the recorded runs of one account database, a comparison of any two of them item by
// item, and each item's finding count over the runs as a chart with the repairs marked.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    // The runs of one account database on the server of that name (empty: on any server).
    HistoryWindow(const QString &historyFile, const QString &serverName, const QString &database, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // Fills the comparison of two recorded runs.
    void compare(qint64 earlierRun, qint64 laterRun);
    // The chart of one item; null when the item has no recorded run.
    TrendChart *chart(const QString &code) const;

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void load();
    void openRows(int row);
    std::unique_ptr<history::HistoryStore> m_store;
    QString m_serverName;
    QString m_database;
    QLabel *noteLabel = nullptr;
    QTableView *runsGrid = nullptr;
    QComboBox *earlierRunBox = nullptr;
    QComboBox *laterRunBox = nullptr;
    QTableView *comparisonGrid = nullptr;
    QGridLayout *charts = nullptr;
    qint64 m_earlier = 0, m_later = 0;
};

} // namespace vireo
