#include "MainWindow.h"
#include "MessageBoxes.h"
#include "AccountWorker.h"
#include "ButtonIcons.h"
#include "FileHelpers.h"
#include "LockWaitPrompt.h"
#include "TreeRoutines.h"
#include "QueryHelpers.h"
#include "CatalogueLintWindow.h"
#include "RepairJournalWindow.h"
#include "ResultGrid.h"
#include "Session.h"
#include "Twips.h"
#include <QApplication>
#include <QCloseEvent>
#include <QColor>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QShortcut>
#include <QSplitter>
#include <QTimer>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <utility>

namespace vireo {

namespace {

QFont songti(double pointSize, bool bold)
{
    QFont f;
    f.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun"),
                   QStringLiteral("WenQuanYi Micro Hei")});
    f.setPointSizeF(pointSize);
    f.setBold(bold);
    return f;
}

const QString kTitle = QStringLiteral("Vireo数据体检工具");
// Settings keys of earlier versions, kept so that saved layouts still apply.
const QString kGeometryKey = QStringLiteral("FrmMain");
const QString kSplitterKey = QStringLiteral("FrmMain/splitter");



// The child window that was active last (report and parameter windows mark themselves).
class ChildWindowTracker : public QObject {
public:
    QPointer<QWidget> last;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::WindowActivate && o->isWidgetType()) {
            auto *w = static_cast<QWidget *>(o);
            if (w->isWindow() && w->property("vireoChildWindow").toBool())
                last = w;
        }
        return false;
    }
};

ChildWindowTracker *childTracker()
{
    static ChildWindowTracker *tracker = [] {
        auto *t = new ChildWindowTracker;
        t->setParent(qApp);
        qApp->installEventFilter(t);
        return t;
    }();
    return tracker;
}

} // namespace

TextBox::TextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_setting)
            m_text = toPlainText().replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    });
}

void TextBox::setText(const QString &text)
{
    m_setting = true;
    m_text = text;
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    setPlainText(shown);
    m_setting = false;
}

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("MainWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kTitle);
    setFont(songti(9, false));
    childTracker();
    closeActiveChild = &MainWindow::closeMostRecentChildWindow;
    // The report and parameter windows read and change items' records through the session.
    session().outcomeOf = [self = QPointer<MainWindow>(this)](const QString &code) -> std::optional<ItemOutcome> {
        if (!self)
            return std::nullopt;
        const SummaryEntry *e = self->m_summary->entry(code);
        if (!e)
            return std::nullopt;
        return *e->shown();
    };
    session().outcomeChanged = [self = QPointer<MainWindow>(this)](const ItemOutcome &outcome) {
        if (self)
            self->showOutcome(outcome);
    };

    mainMenu = new QMenuBar(this);
    mainMenu->setObjectName(QStringLiteral("mainMenu"));
    mainMenu->setNativeMenuBar(false);
    mainMenu->setFixedHeight(px(375));
    setMenuBar(mainMenu);

    buildControls();
    buildStatusBar();
    resize(ClientWidth, ClientHeight);
    // The initial size and arrangement first; then where the user left them last time.
    restoreWindowGeometry(this, kGeometryKey);
    const QByteArray split = loadLayoutState(kSplitterKey);
    if (!split.isEmpty())
        m_split->restoreState(split);

    connect(new QShortcut(QKeySequence(Qt::Key_F5), this), &QShortcut::activated, this, &MainWindow::runChecks);
    bindKey(catalogueTree, QKeySequence::SelectAll, [this] {
        if (!m_running)
            tickAll(catalogueTree);
    });
    for (Qt::Key k : {Qt::Key_Return, Qt::Key_Enter})
        bindKey(summaryGrid, QKeySequence(k), [this] { gridDoubleClick(); });
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    buttonBar = new QWidget(central);
    buttonBar->setObjectName(QStringLiteral("buttonBar"));
    buttonBar->setFixedHeight(px(480));
    column->addWidget(buttonBar);

    // The tree and the panel/grid share the rest of the window; the user drags the split.
    m_split = new QSplitter(Qt::Horizontal, central);
    workArea = m_split;
    workArea->setObjectName(QStringLiteral("workArea"));
    workArea->setMinimumHeight(px(3000));
    m_split->setContentsMargins(px(120), px(120), ClientWidth - px(3360 + 7575),
                                ClientHeight - 2 * px(375) - px(480) - px(120 + 6255));
    m_split->setHandleWidth(px(3360) - px(120 + 3135));
    m_split->setChildrenCollapsible(false);
    column->addWidget(workArea, 1);
    setCentralWidget(central);

    auto button = [this](const char *name, const QString &caption, const char *icon, int left) {
        auto *b = new QToolButton(buttonBar);
        b->setObjectName(QLatin1String(name));
        b->setText(caption);
        b->setIcon(buttonIcon(QLatin1String(icon)));
        b->setIconSize(QSize(16, 16));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setAutoRaise(false);
        b->setFocusPolicy(Qt::TabFocus);
        b->setGeometry(twipRect(left, 120, 855, 285));
        return b;
    };
    selectAllButton = button("selectAllButton", QStringLiteral("全选  "), "selectAll", 120);
    clearAllButton = button("clearAllButton", QStringLiteral("全清  "), "clearAll", 1080);
    runButton = button("runButton", QStringLiteral("执行  "), "run", 3360);
    exitButton = button("exitButton", QStringLiteral("退出  "), "exit", 10080);
    // Back to the order of the run after the summary was sorted; shown only while it is sorted.
    runOrderButton = new QToolButton(buttonBar);
    runOrderButton->setObjectName(QStringLiteral("runOrderButton"));
    runOrderButton->setText(QStringLiteral("按检查顺序"));
    runOrderButton->setToolTip(QStringLiteral("按检查顺序排列结果汇总"));
    runOrderButton->setFocusPolicy(Qt::TabFocus);
    runOrderButton->hide();
    // 退出 and the order button keep to the right edge of the bar.
    whenResized(buttonBar, [this](const QSize &size) {
        const QRect exit = twipRect(10080, 120, 855, 285);
        exitButton->move(size.width() - (ClientWidth - exit.x()), exit.y());
        const int w = runOrderButton->sizeHint().width();
        runOrderButton->setGeometry(exitButton->x() - 8 - w, exit.y(), w, exit.height());
    });

    // Progress of a run, in the free stretch of the button bar; hidden while idle: 停止, what runs
    // and for how long, the share done (or, while the server does not answer, how long it has not).
    stopButton = button("stopButton", QStringLiteral("停止  "), "exit", 4380);
    stopButton->setToolTip(QStringLiteral("停止正在执行的检查（Esc）"));
    stopButton->hide();
    progressLabel = new QLabel(buttonBar);
    progressLabel->setObjectName(QStringLiteral("progressLabel"));
    progressLabel->setGeometry(twipRect(5295, 120, 2685, 285));
    progressLabel->hide();
    progressBar = new QProgressBar(buttonBar);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setGeometry(twipRect(8040, 150, 1920, 225));
    progressBar->setFormat(QStringLiteral("%p%"));
    progressBar->hide();
    silenceLabel = new QLabel(buttonBar);
    silenceLabel->setObjectName(QStringLiteral("silenceLabel"));
    silenceLabel->setGeometry(twipRect(7380, 120, 2640, 285));
    silenceLabel->setStyleSheet(QStringLiteral("color: #c00000"));
    silenceLabel->hide();
    m_tick = new QTimer(this);
    m_tick->setInterval(200);
    connect(m_tick, &QTimer::timeout, this, &MainWindow::showRunStatus);
    connect(stopButton, &QToolButton::clicked, this, &MainWindow::stopRun);
    auto *esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &MainWindow::stopRun);
    connect(&accountWorker(), &AccountWorker::serverSilent, this, [this] { showRunStatus(); });
    connect(&accountWorker(), &AccountWorker::notice, this, [this](const QString &text) { showStatus(text, 10000); });
    connect(&accountWorker(), &AccountWorker::reconnectFailed, this, [this] { m_reconnectFailed = true; });
    // Another window's job on the account connection: 执行 waits until it ends.
    connect(&accountWorker(), &AccountWorker::started, this, [this] { runButton->setEnabled(false); });
    connect(&accountWorker(), &AccountWorker::finished, this, [this] { runButton->setEnabled(!m_running); });

    catalogueTree = new QTreeWidget(workArea);
    catalogueTree->setObjectName(QStringLiteral("catalogueTree"));
    m_split->addWidget(catalogueTree);
    // The item panel and the summary grid take the same place; one of them shows.
    auto *right = new QWidget(workArea);
    right->setObjectName(QStringLiteral("detailPane"));
    auto *stack = new QGridLayout(right);
    stack->setContentsMargins(0, 0, 0, 0);
    m_split->addWidget(right);
    // A wider window widens both, the grid the most.
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 3);
    m_split->setSizes({px(3135), px(7575)});
    catalogueTree->setHeaderHidden(true);
    catalogueTree->setColumnCount(1);
    catalogueTree->setSelectionMode(QAbstractItemView::SingleSelection);
    catalogueTree->setEditTriggers(QAbstractItemView::NoEditTriggers);

    itemPanel = new QFrame(right);
    itemPanel->setObjectName(QStringLiteral("itemPanel"));
    stack->addWidget(itemPanel, 0, 0);
    itemPanel->setFrameShape(QFrame::StyledPanel);
    itemPanel->setFrameShadow(QFrame::Sunken);

    summaryGrid = new QTableView(right);
    summaryGrid->setObjectName(QStringLiteral("summaryGrid"));
    m_summary = new SummaryModel(this);
    m_summaryOrder = new GridProxy(this);
    m_summaryOrder->setSourceModel(m_summary);
    summaryGrid->setModel(m_summaryOrder);
    // Filters take the blank row of an empty summary out and put it back: it stays hidden.
    const auto hideBlankRow = [this] { summaryGrid->setRowHidden(0, !m_summaryShown); };
    connect(m_summaryOrder, &QAbstractItemModel::rowsInserted, this, hideBlankRow);
    connect(m_summaryOrder, &QAbstractItemModel::layoutChanged, this, hideBlankRow);
    connect(m_summaryOrder, &QAbstractItemModel::modelReset, this, hideBlankRow);
    stack->addWidget(summaryGrid, 0, 0);
    summaryGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    summaryGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
    summaryGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    summaryGrid->verticalHeader()->hide();
    summaryGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    summaryGrid->verticalHeader()->setDefaultSectionSize(px(270));
    summaryGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    summaryGrid->horizontalHeader()->setHighlightSections(false);
    summaryGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    summaryGrid->setWordWrap(false);
    makeResultGrid(summaryGrid);
    connect(summaryGrid->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            [this](int section) { runOrderButton->setVisible(section >= 0); });
    connect(runOrderButton, &QToolButton::clicked, this, [this] { restoreRunOrder(); });

    itemNameLabel = new QLabel(QStringLiteral("名称"), itemPanel);
    itemNameLabel->setObjectName(QStringLiteral("itemNameLabel"));
    itemNameLabel->setGeometry(twipRect(120, 120, 7215, 375));
    itemNameLabel->setFont(songti(15.75, true));

    detailsFrame = new QFrame(itemPanel);
    detailsFrame->setObjectName(QStringLiteral("detailsFrame"));
    detailsFrame->setGeometry(twipRect(120, 600, 7215, 5415));
    detailsFrame->setFrameShape(QFrame::Panel);
    detailsFrame->setFrameShadow(QFrame::Sunken);

    detailsCaption = new QLabel(QStringLiteral("     详  细  信  息 "), detailsFrame);
    detailsCaption->setObjectName(QStringLiteral("detailsCaption"));
    detailsCaption->setGeometry(twipRect(120, 240, 255, 4935));
    detailsCaption->setFont(songti(12, true));
    detailsCaption->setWordWrap(true);
    detailsCaption->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    descriptionCaption = new QLabel(QStringLiteral("描述:"), detailsFrame);
    descriptionCaption->setObjectName(QStringLiteral("descriptionCaption"));
    descriptionCaption->setGeometry(twipRect(600, 285, 450, 180));

    descriptionBox = new TextBox(detailsFrame);
    descriptionBox->setObjectName(QStringLiteral("descriptionBox"));
    descriptionBox->setGeometry(twipRect(600, 600, 6375, 810));

    notesCaption = new QLabel(QStringLiteral("说明"), detailsFrame);
    notesCaption->setObjectName(QStringLiteral("notesCaption"));
    notesCaption->setGeometry(twipRect(600, 1560, 360, 180));

    notesBox = new TextBox(detailsFrame);
    notesBox->setObjectName(QStringLiteral("notesBox"));
    notesBox->setGeometry(twipRect(600, 1920, 6375, 3210));
    // The panel's boxes take the growth of the panel.
    whenResized(itemPanel, [this](const QSize &size) {
        const int dw = std::max(0, size.width() - px(7575)), dh = std::max(0, size.height() - px(6255));
        itemNameLabel->setGeometry(twipRect(120, 120, 7215, 375).adjusted(0, 0, dw, 0));
        detailsFrame->setGeometry(twipRect(120, 600, 7215, 5415).adjusted(0, 0, dw, dh));
        descriptionBox->setGeometry(twipRect(600, 600, 6375, 810).adjusted(0, 0, dw, 0));
        notesBox->setGeometry(twipRect(600, 1920, 6375, 3210).adjusted(0, 0, dw, dh));
    });

    connect(selectAllButton, &QToolButton::clicked, this, [this] {
        if (!m_running)
            tickAll(catalogueTree);
    });
    connect(clearAllButton, &QToolButton::clicked, this, [this] {
        if (!m_running)
            untickAll(catalogueTree);
    });
    connect(runButton, &QToolButton::clicked, this, &MainWindow::runChecks);
    connect(exitButton, &QToolButton::clicked, this, [this] {
        if (!m_running)
            close();
    });
    // The tree routines tick with the tree's signals blocked, so this fires for the user's own
    // tick changes only.
    connect(catalogueTree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *node, int column) {
        if (column == 0 && !m_running)
            setSubtreeChecked(node, nodeChecked(node), false, true);
    });
    connect(catalogueTree, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem *node, int) { nodeClick(node); });
    connect(summaryGrid, &QTableView::doubleClicked, this, [this](const QModelIndex &) { gridDoubleClick(); });
}

void MainWindow::buildStatusBar()
{
    auto *bar = new QStatusBar(this);
    bar->setObjectName(QStringLiteral("StatusBar"));
    bar->setSizeGripEnabled(false);
    bar->setFixedHeight(px(375));
    // The panels keep their widths but do not hold the window wider than its design width.
    bar->setMinimumWidth(px(1500));
    setStatusBar(bar);
    const int widths[5] = {1500, 2000, 4000, 1800, 1400};
    const char *keys[5] = {"User", "Server", "Account", "Credit", "Version"};
    const QString texts[5] = {QStringLiteral("操作员"), QStringLiteral("服务器"), QStringLiteral("账套"),
                              QStringLiteral("Vireo数据体检"), QStringLiteral("版本 1.0")};
    for (int i = 0; i < 5; ++i) {
        auto *label = new QLabel(texts[i], bar);
        label->setObjectName(QLatin1String(keys[i]));
        label->setFixedWidth(px(widths[i]));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->setContentsMargins(3, 0, 3, 0);
        label->setToolTip(texts[i]);
        bar->addWidget(label);
        panels[i] = label;
    }
    // A message takes the place of the last two panels while it shows: 操作员, 服务器 and 账套 stay.
    statusMessage = new QLabel(bar);
    statusMessage->setObjectName(QStringLiteral("statusMessage"));
    statusMessage->setContentsMargins(3, 0, 3, 0);
    statusMessage->hide();
    bar->addWidget(statusMessage, 1);
    m_statusClear = new QTimer(this);
    m_statusClear->setSingleShot(true);
    connect(m_statusClear, &QTimer::timeout, this, [this] { showStatus(QString()); });
}

void MainWindow::showStatus(const QString &text, int timeoutMs)
{
    const bool shown = !text.isEmpty();
    for (QLabel *panel : {panels[3], panels[4]})
        panel->setVisible(!shown);
    statusMessage->setVisible(shown);
    statusMessage->setToolTip(text);
    statusMessage->setText(text);
    m_statusClear->stop();
    if (shown && timeoutMs > 0)
        m_statusClear->start(timeoutMs);
}

QString MainWindow::statusText() const
{
    return statusMessage->text();
}

void MainWindow::setPanelText(int panel, const QString &text)
{
    if (panel >= 1 && panel <= 5) {
        QLabel *label = panels[panel - 1];
        // The panels keep their design widths: a text cut short ends in "…" (a port of 40977 must
        // not read 4097), and the whole text stays readable on hover.
        const QMargins m = label->contentsMargins();
        const int room = label->width() - m.left() - m.right() - 2 * label->frameWidth();
        label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, room));
        label->setToolTip(text);
    }
}

QString MainWindow::panelText(int panel) const
{
    return panel >= 1 && panel <= 5 ? panels[panel - 1]->toolTip() : QString();
}

void MainWindow::load()
{
    buildMenu();
    initSummaryGrid();
    loadCatalogue(treeName);
}

void MainWindow::buildMenu()
{
    mainMenu->clear();
    struct Entry {
        const char *key;
        const char *parent;
        QString caption;
    };
    const Entry entries[] = {
        {"File", nullptr, QStringLiteral("文件    ")},       {"Relogin", "File", QStringLiteral("重新注册    ")},
        {"ChooseFolder", "File", QStringLiteral("选择检查目录…    ")},
        {"ExportReport", "File", QStringLiteral("导出体检报告    ")},
        {"Exit", "File", QStringLiteral("退出  ")},          {"Function", nullptr, QStringLiteral("功能    ")},
        {"Tools", "Function", QStringLiteral("常用工具    ")}, {"Njb", "Function", QStringLiteral("年结系列     ")},
        {"History", "Function", QStringLiteral("历史记录    ")},
        {"RepairLog", "Function", QStringLiteral("修复记录    ")},
        {"Lint", "Function", QStringLiteral("目录检查    ")},
        {"Help", nullptr, QStringLiteral("帮助    ")},       {"About", "Help", QStringLiteral("关于  ")},
    };
    QHash<QString, QMenu *> menus;
    for (const Entry &e : entries) {
        const QString key = QLatin1String(e.key);
        if (!e.parent) {
            QMenu *m = mainMenu->addMenu(e.caption);
            m->setObjectName(key);
            m->menuAction()->setObjectName(key);
            m->menuAction()->setData(key);
            menus.insert(key, m);
        } else {
            QAction *a = menus.value(QLatin1String(e.parent))->addAction(e.caption);
            a->setObjectName(key);
            a->setData(key);
            connect(a, &QAction::triggered, this, [this, key] { menuCommand(key); });
        }
    }
}

void MainWindow::initSummaryGrid()
{
    m_summary->clear();
    summaryGrid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    // All four columns fit the window's first size; 与上次比较 takes what is left, its tool tip
    // holds the full text.
    summaryGrid->setColumnWidth(0, px(900));
    summaryGrid->setColumnWidth(1, px(2700));
    summaryGrid->setColumnWidth(2, px(1800));
    summaryGrid->setColumnWidth(3, px(1500));
    summaryGrid->horizontalHeader()->setStretchLastSection(true);
    // The blank row below the header, of height 0 until a run has shown.
    summaryGrid->setRowHidden(0, true);
    summaryGrid->show();
    itemPanel->hide();
    treeName = QStringLiteral("Tools");
}

int MainWindow::gridRowCount() const
{
    return m_summaryOrder->rowCount() + 1;
}

QString MainWindow::gridText(int row, int col) const
{
    if (row == 0)
        return m_summaryOrder->headerData(col, Qt::Horizontal, Qt::DisplayRole).toString();
    return m_summaryOrder->index(row - 1, col).data().toString();
}

int MainWindow::gridRowHeight(int row) const
{
    return row == 0 ? summaryGrid->horizontalHeader()->height() : summaryGrid->rowHeight(row - 1);
}

void MainWindow::showSummary(const CheckRunRecord &run)
{
    // A new run shows its rows in the order of the run.
    summaryGrid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_summaryShown = true;
    m_summary->showRun(run.items);
    summaryGrid->setRowHidden(0, false);
}

void MainWindow::showOutcome(const ItemOutcome &outcome)
{
    m_summary->updateOutcome(outcome);
    if (outcomeChanged)
        outcomeChanged(outcome);
}

void MainWindow::restoreRunOrder()
{
    summaryGrid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
}

void MainWindow::setGridChange(const QString &code, const QString &text, const QString &toolTip)
{
    m_summary->setChange(code, text, toolTip);
}

void MainWindow::showItemInfo(const QString &code, const QString &name)
{
    const QString folder = session().programFolder + QStringLiteral("/File/") + code;
    itemNameLabel->setText(name);
    QString text = descriptionBox->text();
    if (ReadTextFile(folder + QStringLiteral("/描述.txt"), text))
        descriptionBox->setText(text);
    text = notesBox->text();
    if (ReadTextFile(folder + QStringLiteral("/说明.txt"), text))
        notesBox->setText(text);
}

void MainWindow::menuCommand(const QString &key)
{
    if (m_running)
        return;
    if (closeActiveChild)
        closeActiveChild();
    if (key == QLatin1String("Relogin")) {
        // The account connection is replaced by the new login: not while a job still uses it.
        if (accountWorker().isBusy()) {
            showStatus(QStringLiteral("请等待“%1”结束后再重新注册").arg(accountWorker().label()), 10000);
            return;
        }
        const auto again = relogin;
        close();
        if (again)
            again();
    } else if (key == QLatin1String("Exit")) {
        close();
    } else if (key == QLatin1String("Njb")) {
        loadCatalogue(QStringLiteral("NjaTree"));
    } else if (key == QLatin1String("Tools")) {
        loadCatalogue(QStringLiteral("Tools"));
    } else if (key == QLatin1String("RepairLog")) {
        showRepairJournal();
    } else if (key == QLatin1String("Lint")) {
        showCatalogueLint();
    } else if (key == QLatin1String("About")) {
        if (showAbout)
            showAbout(this);
    } else if (key == QLatin1String("History")) {
        if (showHistory)
            showHistory();
    } else if (key == QLatin1String("ChooseFolder")) {
        chooseProgramFolder();
    } else if (key == QLatin1String("ExportReport")) {
        if (exportReport)
            exportReport();
    }
}

QFileDialog *newProgramFolderDialog(QWidget *parent, const QString &start)
{
    auto *dialog = new QFileDialog(parent, QStringLiteral("选择检查目录"), start);
    dialog->setObjectName(QStringLiteral("programFolderDialog"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    return dialog;
}

void MainWindow::chooseProgramFolder()
{
    QFileDialog *dialog = newProgramFolderDialog(this, session().programFolder);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, &MainWindow::useProgramFolder);
    dialog->open();
}

void MainWindow::useProgramFolder(const QString &folder)
{
    // A run or another job may read the open catalogue on the worker.
    if (m_running || accountWorker().isBusy()) {
        showError(kTitle, QStringLiteral("正在执行“%1”，结束后才能更换检查目录。").arg(accountWorker().label()));
        return;
    }
    QString error = QStringLiteral("无法打开检查目录");
    if (!openProgramFolder || !openProgramFolder(folder, error)) {
        showError(kTitle, error);
        return;
    }
    initSummaryGrid();
    loadCatalogue(treeName);
    showStatus(QStringLiteral("检查目录：") + QDir::toNativeSeparators(session().programFolder), 10000);
}

void MainWindow::showCatalogueLint()
{
    const Session &s = session();
    if (!s.catalogConn) {
        showError(kTitle, QStringLiteral("没有打开的目录数据库（VUZ.mdb）"));
        return;
    }
    auto *w = new CatalogueLintWindow(lintCatalogue(s.catalogConn.get(), s.programFolder,
                                                    {QStringLiteral("Tools"), QStringLiteral("NjaTree")}),
                                      this);
    w->selectItem = [this](const QString &table, const QString &code) { selectItem(table, code); };
    w->show();
}

bool MainWindow::selectItem(const QString &table, const QString &code)
{
    if (m_running || code.isEmpty())
        return false;
    if (!table.isEmpty() && table != treeName)
        loadCatalogue(table);
    QTreeWidgetItem *node = findNode(catalogueTree, code);
    if (!node)
        return false;
    catalogueTree->setCurrentItem(node);
    catalogueTree->scrollToItem(node);
    nodeClick(node);
    activateWindow();
    return true;
}

void MainWindow::loadCatalogue(const QString &table)
{
    treeName = table;
    catalogueTree->clear();
    try {
        loadTree(QString(), QString(), catalogueTree, treeName);
    } catch (const db::DbError &e) {
        showError(kTitle, QStringLiteral("无法读取检查目录 %1：\n%2").arg(treeName, e.message()));
    }
    // Names cut by a narrow tree read in full on hover.
    {
        const QSignalBlocker quiet(catalogueTree);   // not a tick change of the user
        for (QTreeWidgetItemIterator it(catalogueTree); *it; ++it)
            (*it)->setToolTip(0, (*it)->text(0));
    }
    // Codes that cannot name a result table are said at once; such items are never run.
    QStringList invalid;
    for (QTreeWidgetItemIterator it(catalogueTree); *it; ++it) {
        const QString why = invalidCodeReason(nodeKey(*it));
        bool runnable = false;
        try {
            runnable = !why.isEmpty() && isRunnableItem(treeName, nodeKey(*it), session().catalogConn.get());
        } catch (const db::DbError &) {
        }
        if (runnable)
            invalid << QStringLiteral("“%1”（%2）：%3").arg(nodeKey(*it), (*it)->text(0), why);
    }
    if (!invalid.isEmpty())
        showError(kTitle, QStringLiteral("检查目录 %1 中以下项目的编码无效，这些项目不会执行：\n\n%2")
                              .arg(treeName, invalid.join(QLatin1Char('\n'))));
    // Nodes that start ticked are brought into view so the user sees what a run would do.
    for (QTreeWidgetItemIterator it(catalogueTree); *it; ++it)
        if (nodeChecked(*it))
            for (QTreeWidgetItem *p = (*it)->parent(); p && !p->isExpanded(); p = p->parent())
                p->setExpanded(true);
}

void MainWindow::nodeClick(QTreeWidgetItem *node)
{
    if (!node || m_running)
        return;
    bool runnable = false;
    try {
        runnable = isRunnableItem(treeName, nodeKey(node), session().catalogConn.get());
    } catch (const db::DbError &e) {
        showError(kTitle, e.message());
        return;
    }
    summaryGrid->setVisible(!runnable);
    itemPanel->setVisible(runnable);
    showItemInfo(nodeKey(node), node->text(0));
}

void MainWindow::runChecks()
{
    if (m_running)
        return;
    Session &s = session();
    const std::vector<TreeItemRef> nodes = treeNodesPreOrder(catalogueTree);
    const QString catalogue = treeName;
    auto catalog = std::make_shared<HomeThreadConnection>(this, s.catalogConn.get());
    const bool hasCatalog = s.catalogConn != nullptr;
    RunIdentity identity = s.runIdentity();
    identity.catalogue = catalogue;

    setBusy(true);
    if (runStarting)
        runStarting();
    // The run goes on the account connection's worker; its progress and records come back here.
    const QPointer<MainWindow> self(this);
    RunHooks hooks;
    hooks.progress = [self](const TreeItemRef &item, int position, int count) {
        QMetaObject::invokeMethod(self, [self, item, position, count] {
            if (!self || !self->m_running)
                return;
            self->m_runningItem = item.text;
            self->progressLabel->setToolTip(QStringLiteral("[%1] %2").arg(item.key, item.text));
            self->progressBar->setRange(0, count);
            self->progressBar->setValue(position - 1);
            self->showRunStatus();
        }, Qt::QueuedConnection);
    };
    hooks.procedure = [self, catalogue](ItemOutcome &item, db::Connection *) {
        const QString key = item.code;
        QMetaObject::invokeMethod(self, [self, key, catalogue] {
            if (self && self->handOffProcedure)
                self->handOffProcedure(key, catalogue);
        }, Qt::QueuedConnection);
        return false;
    };
    hooks.checked = itemChecked;
    // The lock prompt is a window: the worker asks it through this thread.
    auto prompt = std::make_shared<LockWaitPrompt>(this, kLockWaitText);
    hooks.waiting = prompt->fromWorker([self] {
        if (self)
            self->progressLabel->setText(kLockWaitText);
    });
    auto record = std::make_shared<CheckRunRecord>();
    const QString programFolder = s.programFolder;
    // Queued behind another window's job when one runs.
    m_runJob = accountWorker().submit(
        QStringLiteral("正在检查"),
        [=](db::Connection *account) {
            *record = RunChecks(nodes, catalogue, {programFolder, hasCatalog ? catalog.get() : nullptr, account},
                                identity, hooks);
        },
        this,
        [this, record, prompt](const AccountWorker::JobEnd &end) {
            finishRun(*record, end.errorText());
        });
}

void MainWindow::finishRun(const CheckRunRecord &run, const QString &runError)
{
    Session &s = session();
    if (!run.identity.server.isEmpty())
        s.accountInfo.serverName = run.identity.server;
    m_lastRun = run;
    showSummary(run);
    if (runFinished)
        runFinished(run);
    itemPanel->hide();
    summaryGrid->show();
    setBusy(false);

    QStringList lines;
    if (!runError.isEmpty())
        lines << runError;
    // Failures of the run: a script that stopped or a statement of the tool's that failed. An Error
    // text a script wrote on purpose is the item's finding and shows in the grid only.
    for (const ItemOutcome &item : run.items)
        if (item.state == ItemState::Error && (item.scriptFailed || !item.result.present()))
            lines << QStringLiteral("[%1] %2：%3").arg(item.code, item.name, item.errorText);
    if (run.end == RunEnd::ConnectionLost)
        lines << QStringLiteral("账套数据库连接已断开，其余项目未执行。");
    if (run.end == RunEnd::LockAbandoned)
        lines << QStringLiteral("已放弃等待，其余项目未执行。");
    if (run.end == RunEnd::Cancelled) {
        QString stopped = QStringLiteral("已停止，其余项目未执行。");
        for (const ItemOutcome &item : run.items)
            if (item.state == ItemState::Cancelled)
                stopped = QStringLiteral("已停止：[%1] %2 未检查完，其余项目未执行。").arg(item.code, item.name);
        showStatus(stopped, 30000);
        if (!lines.isEmpty())
            lines.prepend(stopped);
    }
    if (runEnded)
        runEnded();
    if (!lines.isEmpty())
        showError(kTitle, QStringLiteral("检查过程中出现错误：\n\n") + lines.join(QLatin1Char('\n')));
    // The connection was lost and the credentials in memory no longer open it: only now the user is asked.
    if (std::exchange(m_reconnectFailed, false) && relogin) {
        QMessageBox *ask = showMessageBox(this, QMessageBox::Question, kTitle, QStringLiteral("无法重新连接账套数据库，是否重新登录？"),
                                          QMessageBox::Yes | QMessageBox::No);
        connect(ask, &QMessageBox::finished, this, [this](int answer) {
            if (answer == QMessageBox::Yes)
                menuCommand(QStringLiteral("Relogin"));
        });
    }
}

void MainWindow::stopRun()
{
    if (!m_running)
        return;
    stopButton->setEnabled(false);
    progressLabel->setText(QStringLiteral("正在停止…"));
    accountWorker().cancel(kStoppedReason, m_runJob);
}

void MainWindow::showRunStatus()
{
    if (!m_running)
        return;
    const qint64 secs = accountWorker().elapsedMs() / 1000;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(secs / 3600, 2, 10, QLatin1Char('0'))
                              .arg(secs / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(secs % 60, 2, 10, QLatin1Char('0'));
    const qint64 silent = accountWorker().failedProbes() > 0 ? accountWorker().silentForMs() : 0;
    // The silence notice takes the right part of the progress text's room while it shows.
    progressLabel->resize(px(silent > 0 ? 2025 : 2685), progressLabel->height());
    if (!accountWorker().cancelRequested()) {
        const QString text = m_runningItem.isEmpty() ? QString()
                                                     : QStringLiteral("正在检查：%1 · %2").arg(m_runningItem, clock);
        progressLabel->setText(progressLabel->fontMetrics().elidedText(text, Qt::ElideRight, progressLabel->width()));
    }
    silenceLabel->setVisible(silent > 0);
    progressBar->setVisible(silent <= 0);
    if (silent > 0)
        silenceLabel->setText(QStringLiteral("服务器没有响应（已 %1 秒）").arg(silent / 1000));
}

void MainWindow::setBusy(bool busy)
{
    if (busy) {
        m_running = true;
        m_runningItem.clear();
        progressLabel->setText(QString());
        progressBar->setRange(0, 1);
        progressBar->setValue(0);
        progressLabel->show();
        progressBar->show();
        stopButton->setEnabled(true);
        stopButton->show();
        // What would start a second job on the account connection waits; the rest stays usable.
        for (QWidget *w : {static_cast<QWidget *>(runButton), static_cast<QWidget *>(selectAllButton),
                           static_cast<QWidget *>(clearAllButton), static_cast<QWidget *>(exitButton),
                           static_cast<QWidget *>(mainMenu), static_cast<QWidget *>(summaryGrid)})
            w->setEnabled(false);
        m_tick->start();
        return;
    }
    m_tick->stop();
    for (QWidget *w : {static_cast<QWidget *>(runButton), static_cast<QWidget *>(selectAllButton),
                       static_cast<QWidget *>(clearAllButton), static_cast<QWidget *>(exitButton),
                       static_cast<QWidget *>(mainMenu), static_cast<QWidget *>(summaryGrid)})
        w->setEnabled(true);
    stopButton->hide();
    silenceLabel->hide();
    progressLabel->hide();
    progressBar->hide();
    m_running = false;
}

const SummaryEntry *MainWindow::currentEntry() const
{
    const QModelIndex at = summaryGrid->currentIndex();
    return at.isValid() ? m_summary->entry(m_summaryOrder->mapToSource(at).row()) : nullptr;
}

void MainWindow::gridDoubleClick()
{
    const SummaryEntry *e = currentEntry();
    if (!e || m_running)
        return;
    if (summaryGrid->currentIndex().column() == 3 && !e->change.isEmpty()) {
        if (openChange)
            openChange(e->outcome.code);
        return;
    }
    // Only a result that was really read has rows to show.
    const ItemOutcome &shown = *e->shown();
    if ((shown.state == ItemState::Checked || shown.state == ItemState::Repaired) && openReport)
        openReport(shown, treeName);
}

void MainWindow::closeMostRecentChildWindow()
{
    QWidget *target = childTracker()->last;
    if (!target || !target->isVisible()) {
        target = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->property("vireoChildWindow").toBool())
                target = w;
    }
    if (target)
        target->close();
}

void MainWindow::closeEvent(QCloseEvent *e)
{
    if (m_running) {
        e->ignore();
        return;
    }
    saveWindowGeometry(this, kGeometryKey);
    saveLayoutState(kSplitterKey, m_split->saveState());
    // The frame's child windows go with it.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible() && w->property("vireoChildWindow").toBool())
            w->close();
    QMainWindow::closeEvent(e);
}

void MainWindow::showError(const QString &title, const QString &text)
{
    // Window-modal: a run's errors are shown without waiting inside the job's result.
    showMessageBox(this, QMessageBox::Critical, title, text);
}

} // namespace vireo
