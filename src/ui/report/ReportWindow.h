#pragma once
#include "Recordset.h"
#include <QPointer>
#include <QString>
#include <QDateTime>
#include <QWidget>
#include <functional>
#include <memory>

namespace vireo::db {
class Connection;
}

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace vireo {

class GridProxy;
class RecordsetModel;
struct RepairRequest;

// Opens the report window for an item: sets itemCode, then treeName, and shows the window modeless.
// While the window is open, a request for another item reloads it; the same item is raised.
void openReportWindow(const QString &key, const QString &treeName);

// Width of each visible column of the grid from its header texts: DisplayWidth x 100 + 200 twips.
void fitColumnWidths(QTableView *grid);

// The rows of the item's result table, or one column 空 with one empty row when it is missing.
QString reportRowsSql(const QString &key);

// The result report window: one item's result rows, its plan or repair, and the export.
class ReportWindow : public QWidget {
    Q_OBJECT
public:
    explicit ReportWindow(QWidget *parent = nullptr);
    ~ReportWindow() override;

    // The window while it is open, otherwise null.
    static ReportWindow *instance();

    QString itemCode;
    QString treeName;

    void loadReport();

    // Asks for the export's file name: the parent, the suggested path (in the 报表 folder) and the
    // name filters; an empty result means cancelled. Replaceable so that tests can answer it.
    using SaveDialog = std::function<QString(QWidget *parent, const QString &suggested, const QStringList &filters)>;
    static void setSaveDialog(SaveDialog dialog);   // an empty function restores the standard one
    static QStringList exportFilters();
    // "{编码}_{检查项目}_{账套}_{年度}_{yyyyMMdd-HHmm}.xlsx" with characters no file name may hold replaced.
    QString suggestedExportName(const QDateTime &now) const;

    // Asks whether to run the repair; replaceable so that tests can answer it. The default shows
    // RepairConfirm.
    using RepairConfirmation = std::function<bool(QWidget *parent, const RepairRequest &request)>;
    static void setRepairConfirmation(RepairConfirmation confirm);   // empty: the standard dialog

    const RecordsetModel *model() const { return m_model; }

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    void runPlanOrRepair();
    void exportFindings();
    void showText(const QString &text);
    // Runs a job on the account connection's worker with 停止 shown; false when it was stopped.
    bool runJob(const QString &label, const std::function<void(db::Connection *)> &job);
    void stop();
    QString itemFile(const QString &name) const;
    bool confirmRepair();
    void placeHeaderRow();

    QLabel *itemNameLabel;
    QLabel *rowCountLabel;
    QTableView *reportGrid;
    QPlainTextEdit *messageBox;
    QPushButton *exportButton;
    QPushButton *planOrRepairButton;
    QPushButton *exitButton;
    QProgressBar *progressBar;
    QLineEdit *filterBox;
    QPushButton *stopButton;
    bool m_busy = false;
    RecordsetModel *m_model = nullptr;
    GridProxy *m_proxy = nullptr;
    bool m_loaded = false;
    qint64 m_count = 0;           // the row count the last load found
    qint64 m_journalEntry = 0;    // the journal row of a repair that waits for its re-check
};

} // namespace vireo
