#pragma once
#include "Recordset.h"
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace vireo {

class RecordsetModel;

// Opens the report window for an item: sets Key, then TreeName, and shows the window modeless.
// While the window is open, a request for another item reloads it; the same item is raised.
void openReportWindow(const QString &key, const QString &treeName);

// A client-side snapshot of the SELECT text's first result set on the account connection.
db::Recordset OpenClientRecordset(const QString &select);

// Width of each visible column of the grid from its header texts: DisplayWidth x 100 + 200 twips.
void FitColumnWidths(QTableView *grid);

// The rows of the item's result table, or one column 空 with one empty row when it is missing.
QString reportRowsSql(const QString &key);

// The result report window: one item's result rows, its plan or repair, and the export.
class FrmReport : public QWidget {
    Q_OBJECT
public:
    explicit FrmReport(QWidget *parent = nullptr);
    ~FrmReport() override;

    // The window while it is open, otherwise null.
    static FrmReport *instance();

    QString Key;
    QString TreeName;

    void LoadReport();

    // Asks for the export's file name: the parent, the initial folder and the name filters; an
    // empty result means cancelled. Replaceable so that tests can answer it.
    using SaveDialog = std::function<QString(QWidget *parent, const QString &folder, const QStringList &filters)>;
    static void setSaveDialog(SaveDialog dialog);   // an empty function restores the standard one
    static QStringList exportFilters();
    // Told after every repair script ran: the item code and whether it ended without error.
    using RepairListener = std::function<void(const QString &code, bool succeeded)>;
    static void setRepairListener(RepairListener listener);

    const RecordsetModel *model() const { return m_model; }

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    void CmdFunction_Click();
    void CmdPrint_Click();
    void showText(const QString &text);
    QString itemFile(const QString &name) const;

    QLabel *labName;
    QLabel *labNumber;
    QTableView *grdReport;
    QPlainTextEdit *txtReport;
    QPushButton *CmdPrint;
    QPushButton *CmdFunction;
    QPushButton *CmdExit;
    QProgressBar *ProgressBar;
    RecordsetModel *m_model = nullptr;
    bool m_loaded = false;
};

} // namespace vireo
