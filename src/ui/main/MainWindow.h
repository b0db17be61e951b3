#pragma once
#include "CheckRun.h"
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
class QTableWidget;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace vireo {

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
    std::function<void(const QString &key, const QString &treeName)> openReport;
    std::function<void(const QString &key, const QString &treeName)> handOffProcedure;
    std::function<void(QWidget *parent)> showAbout;
    // Closes the active child window before every menu command; the default closes the most
    // recently active visible window that carries the property "vireoChildWindow".
    std::function<void()> closeActiveChild;
    // Logs in again after Relogin closed this window.
    std::function<void()> relogin;
    // Run history: after a run and its summary; a double click on a change (column 3); the
    // menu entries 历史记录 and 导出体检报告.
    std::function<void()> runStarting;
    std::function<void(const RunOutcome &outcome)> runFinished;
    // Called for each checked item while it still holds the server lock, after its row was read.
    std::function<void(SummaryRow &row)> itemChecked;
    std::function<void(const QString &code)> openChange;
    std::function<void()> showHistory;
    std::function<void()> exportReport;
    // The rows of the last summary shown.
    Summary lastSummary;
    // Column 3 ("与上次比较") of a data row (0-based), with its tool tip.
    void setGridChange(int dataRow, const QString &text, const QString &toolTip);

    // Status bar panels, numbered from 1.
    void setPanelText(int panel, const QString &text);
    QString panelText(int panel) const;

    // Summary grid rows numbered with the header as row 0.
    int gridRowCount() const;
    QString gridText(int row, int col) const;
    int gridRowHeight(int row) const;

    void buildMenu();
    void initSummaryGrid();
    // Refills the grid from the ticked runnable nodes; returns the error that stopped it, if any.
    // With the outcome of the run just made, items it did not check are shown grey with the reason
    // as tool tip.
    QString showSummary(QTreeWidget *tree, const RunOutcome *run = nullptr);
    // Reads the item's summary row again (after a re-check, a repair or a procedure run); a
    // non-empty staleNote greys the row with that tool tip.
    void refreshSummaryRow(const QString &code, const QString &staleNote = {});
    void showItemInfo(const QString &code, const QString &name);

    // Event handlers, public so that the start-up code and tests can drive them.
    void menuCommand(const QString &key);
    void nodeClick(QTreeWidgetItem *node);
    void runChecks();
    void gridDoubleClick();
    bool isRunning() const { return m_running; }
    // 停止 (or Esc) while a run goes on: cancels the running statement; later items are not run.
    void stopRun();

    static void closeMostRecentChildWindow();

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    void buildControls();
    void buildStatusBar();
    void loadCatalogue(const QString &table);
    void showError(const QString &title, const QString &text);
    void setBusy(bool busy);
    void restoreRunOrder();
    int rowOfRunOrder(int order) const;   // the grid row of the run's order-th summary row; -1: none
    void setSummaryRow(int r, const SummaryRow &row, const QString &staleNote);
    void showRunStatus();

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
    QTableWidget *summaryGrid = nullptr;
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
