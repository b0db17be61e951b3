#pragma once
#include "AccountWorker.h"
#include "Export.h"
#include "ItemActions.h"
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

// Opens the report window for an item's outcome and shows it modeless. While the window is open,
// a request for another item reloads it; the same item is raised.
void openReportWindow(const ItemOutcome &outcome, const QString &treeName);
// The same for the outcome the main window shows for the item (none: the window says so).
void openReportWindow(const QString &key, const QString &treeName);

// Width of each visible column of the grid from its header texts: DisplayWidth x 100 + 200 twips.
void fitColumnWidths(QTableView *grid);

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
    // The outcome whose findings the window shows: their count and the result table's stamp.
    ItemOutcome outcome;

    // Reads the rows on the account worker; they arrive in chunks and the window stays live.
    void loadReport();
    // A load, repair or re-check is running on the account worker.
    bool isBusy() const { return m_busy; }

    // Asks for the export's file name: the parent, the suggested path (in the 报表 folder) and the
    // name filters; an empty result means cancelled. Replaceable so that tests can answer it (the
    // grids' 导出当前视图… asks the same way).
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

signals:
    // A load has ended and its rows, count and buttons are shown.
    void loaded();

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    void resizeEvent(QResizeEvent *e) override;

private:
    void runPlanOrRepair();
    // 输出: every row, or the rows shown in the order shown, when the grid shows something else.
    void chooseExport();
    void exportFindings(bool view);
    // Writes the rows (all, or those of order) to path (empty: the export was cancelled) and says how it went.
    void writeExport(const db::Recordset &rows, const RowOrder *order, const QString &path);
    void showText(const QString &text);
    // Queues a job on the account connection's worker with 停止 shown; done gets its end here.
    void startJob(const QString &label, const std::function<void(db::Connection *)> &job,
                  const std::function<void(const AccountWorker::JobEnd &)> &done);
    void stop();
    QString itemFile(const QString &name) const;
    void showLoaded(const FindingsRead &read, const QStringList &problems, bool finished, qint64 rowsRead);
    void askRepair();
    void repair();
    void recheck();
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
    quint64 m_job = 0;            // the worker's number of the job this window waits for
    RecordsetModel *m_model = nullptr;
    GridProxy *m_proxy = nullptr;
    bool m_loaded = false;
    qint64 m_count = 0;           // the row count the last load found
    qint64 m_journalEntry = 0;    // the journal row of a repair that waits for its re-check
};

} // namespace vireo
