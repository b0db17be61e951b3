#pragma once
#include "CheckRun.h"
#include "SummaryModel.h"
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPointer>
#include <array>
#include <vector>
#include <functional>

class QFrame;
class QLabel;
class QMenuBar;
class QProgressBar;
class QSplitter;
class QTimer;
class QTableView;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

class QFileDialog;

namespace vireo {

class GridProxy;

// Multi-line text box whose text is exactly what it was given (CR LF line ends included).
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent = nullptr);
    QString text() const { return m_text; }
    void setText(const QString &text);

private:
    QString m_text;
    bool m_setting = false;
};

// The main window: menu, button bar, catalogue tree, item panel, summary grid, status bar.
// The folder chooser for the program folder (VUZ.mdb and File), starting in start.
QFileDialog *newProgramFolderDialog(QWidget *parent, const QString &start);

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Design sizes in pixels (15 twips each).
    static constexpr int ClientWidth = 736;   // 11040 twips
    static constexpr int ClientHeight = 513;  // 7695 twips

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The load sequence: buildMenu, initSummaryGrid, clear the tree and load the Tools catalogue.
    // A failing tree load is reported in a message box; the window stays usable.
    void load();

    // The current catalogue table.
    QString treeName;

    // Where the window hands over to other windows. Unset hooks do nothing.
    std::function<void(const ItemOutcome &outcome, const QString &treeName)> openReport;
    std::function<void(const QString &key, const QString &treeName)> handOffProcedure;
    std::function<void(QWidget *parent)> showAbout;
    // Closes the active child window before every menu command; the default closes the most
    // recently active visible window that carries the property "vireoChildWindow".
    std::function<void()> closeActiveChild;
    // Logs in again after Relogin closed this window.
    std::function<void()> relogin;
    // Opens the catalogue of another program folder and remembers the folder; false with the
    // reason when it cannot (the open catalogue then stays).
    std::function<bool(const QString &folder, QString &error)> openProgramFolder;
    // Run history: after a run and its summary; a double click on a change (column 3); the
    // menu entries 历史记录 and 导出体检报告.
    std::function<void()> runStarting;
    std::function<void(const CheckRunRecord &run)> runFinished;
    // Called for each checked item while it still holds the server lock, after its result was
    // read, on the worker (also for checks outside a run: a re-check, a procedure run).
    std::function<void(ItemOutcome &item, db::Connection *account)> itemChecked;
    // An item's outcome changed outside a run (re-check, repair, procedure run).
    std::function<void(const ItemOutcome &outcome)> outcomeChanged;
    std::function<void(const QString &code)> openChange;
    std::function<void()> showHistory;
    std::function<void()> exportReport;
    // The last run, as its records came back (items changed since are in summary()).
    const CheckRunRecord &lastRun() const { return m_lastRun; }
    const SummaryModel &summary() const { return *m_summary; }
    // Column 3 ("与上次比较") of an item's row, with its tool tip.
    void setGridChange(const QString &code, const QString &text, const QString &toolTip);

    // A message in the status bar's own place beside the panels, cleared after timeoutMs (0: kept).
    void showStatus(const QString &text, int timeoutMs = 0);
    QString statusText() const;

    // Status bar panels, numbered from 1.
    void setPanelText(int panel, const QString &text);
    QString panelText(int panel) const;

    // Summary grid rows numbered with the header as row 0.
    int gridRowCount() const;
    QString gridText(int row, int col) const;
    int gridRowHeight(int row) const;

    void buildMenu();
    void initSummaryGrid();
    // Shows a run's records; items it did not check are grey with the reason as tool tip.
    void showSummary(const CheckRunRecord &run);
    // An item's outcome changed outside a run: its row shows the new record.
    void showOutcome(const ItemOutcome &outcome);
    void showItemInfo(const QString &code, const QString &name);

    // Event handlers, public so that the start-up code and tests can drive them.
    void menuCommand(const QString &key);
    void nodeClick(QTreeWidgetItem *node);
    // Starts a run of the ticked items on the account worker; the window stays live and the
    // records come back when it has ended.
    void runChecks();
    void gridDoubleClick();
    bool isRunning() const { return m_running; }
    // Told when a run's records have come back and been shown.
    std::function<void()> runEnded;
    // 停止 (or Esc) while a run goes on: cancels the running statement; later items are not run.
    void stopRun();

    static void closeMostRecentChildWindow();

    // 选择检查目录…: a folder window that does not wait in place; the chosen folder's catalogue
    // replaces the open one (not while a job uses the catalogue).
    void chooseProgramFolder();
    // Opens the catalogue of the folder and shows its Tools tree; says why when it cannot.
    void useProgramFolder(const QString &folder);

    // 目录检查: lints the open catalogue and lists the findings in a window of their own.
    void showCatalogueLint();
    // Shows the catalogue table and selects the item with the code there (not during a run);
    // false when the tree has no such item.
    bool selectItem(const QString &table, const QString &code);

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void buildControls();
    void buildStatusBar();
    void loadCatalogue(const QString &table);
    void showError(const QString &title, const QString &text);
    void setBusy(bool busy);
    void restoreRunOrder();
    void finishRun(const CheckRunRecord &run, const QString &runError);
    void showRunStatus();
    const SummaryEntry *currentEntry() const;

    QMenuBar *mainMenu = nullptr;
    QWidget *buttonBar = nullptr;
    QToolButton *selectAllButton = nullptr;
    QToolButton *clearAllButton = nullptr;
    QToolButton *runButton = nullptr;
    QToolButton *exitButton = nullptr;
    QToolButton *runOrderButton = nullptr;
    QSplitter *m_split = nullptr;
    QLabel *progressLabel = nullptr;
    QProgressBar *progressBar = nullptr;
    QWidget *workArea = nullptr;
    QTreeWidget *catalogueTree = nullptr;
    QFrame *itemPanel = nullptr;
    QTableView *summaryGrid = nullptr;
    SummaryModel *m_summary = nullptr;
    GridProxy *m_summaryOrder = nullptr;
    bool m_summaryShown = false;   // a run has shown its rows: the blank row goes
    QLabel *statusMessage = nullptr;
    QTimer *m_statusClear = nullptr;
    CheckRunRecord m_lastRun;
    quint64 m_runJob = 0;   // the worker's number of the run's job
    QLabel *itemNameLabel = nullptr;
    QFrame *detailsFrame = nullptr;
    QLabel *detailsCaption = nullptr;
    QLabel *descriptionCaption = nullptr;
    TextBox *descriptionBox = nullptr;
    QLabel *notesCaption = nullptr;
    TextBox *notesBox = nullptr;
    QLabel *panels[5] = {};
    QToolButton *stopButton = nullptr;
    QLabel *silenceLabel = nullptr;
    QTimer *m_tick = nullptr;
    QString m_runningItem;
    bool m_reconnectFailed = false;
    bool m_running = false;
    bool m_menuBuilt = false;
};

} // namespace vireo
