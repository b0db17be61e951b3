#include "ReportWindow.h"
#include "MessageBoxes.h"
#include "AccountWorker.h"
#include "CheckRun.h"
#include "DisplayWidth.h"
#include "Export.h"
#include "GridMenus.h"
#include "FileHelpers.h"
#include "LockWaitPrompt.h"
#include "QueryHelpers.h"
#include "RecordsetModel.h"
#include "RepairConfirm.h"
#include "HistoryStore.h"
#include "ResultGrid.h"
#include "ScriptRunner.h"
#include "Session.h"
#include "Twips.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>
#include <QUrl>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTableView>
#include <new>
#include <optional>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace vireo {

namespace {


const QString kPlan = QStringLiteral("方案  ");
const QString kRepair = QStringLiteral("修复  ");
const QString kCheck = QStringLiteral("检查  ");

QPointer<ReportWindow> &current()
{
    static QPointer<ReportWindow> w;
    return w;
}

ReportWindow::RepairConfirmation &repairConfirmation()
{
    static ReportWindow::RepairConfirmation c;
    return c;
}

// The settings key of earlier versions, kept so that saved layouts still apply.
const QString kGeometryKey = QStringLiteral("FrmReport");
// The first size of the window.
const QSize kDesignSize(px(8415), px(6780));


} // namespace

void fitColumnWidths(QTableView *grid)
{
    QAbstractItemModel *model = grid->model();
    if (!model)
        return;
    QHeaderView *header = grid->horizontalHeader();
    for (int c = 0; c < model->columnCount(); ++c) {
        if (header->isSectionHidden(c) || header->sectionSize(c) == 0)
            continue;
        const int max = DisplayWidth(model->headerData(c, Qt::Horizontal).toString());
        if (max > 0)
            header->resizeSection(c, px(max * 100 + 200));
    }
}

void openReportWindow(const QString &key, const QString &treeName)
{
    const Session &s = session();
    std::optional<ItemOutcome> known = s.outcomeOf ? s.outcomeOf(key) : std::nullopt;
    if (!known) {
        known.emplace();
        known->code = key;
    }
    openReportWindow(*known, treeName);
}

void openReportWindow(const ItemOutcome &outcome, const QString &treeName)
{
    ReportWindow *w = current();
    if (w && w->isBusy())
        return;   // its load, repair or re-check ends first
    if (!w)
        w = new ReportWindow;
    w->itemCode = outcome.code;
    w->treeName = treeName;
    w->outcome = outcome;
    // Every request reloads: the result table may have changed since the window loaded it.
    if (w->isVisible())
        w->loadReport();
    if (w->isMinimized())
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}

ReportWindow *ReportWindow::instance() { return current(); }

void ReportWindow::setSaveDialog(SaveDialog dialog) { setExportSaveDialog(std::move(dialog)); }

void ReportWindow::setRepairConfirmation(RepairConfirmation confirm) { repairConfirmation() = std::move(confirm); }

QStringList ReportWindow::exportFilters() { return workbookFilters(); }

QString ReportWindow::suggestedExportName(const QDateTime &now) const
{
    const Session::AccountInfo &info = session().accountInfo;
    QString name = QStringList{itemCode, itemNameLabel->text(), info.account, info.year, now.toString(QStringLiteral("yyyyMMdd-HHmm"))}
                       .join(QLatin1Char('_'));
    static const QString bad = QStringLiteral("\\/:*?\"<>|\t\r\n");
    for (QChar &c : name)
        if (bad.contains(c))
            c = QLatin1Char('_');
    return name + QStringLiteral(".xlsx");
}

ReportWindow::ReportWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ReportWindow"));
    setProperty("vireoChildWindow", true);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("结果报告"));
    // Opens at its first size; the grid takes whatever the user gives the window.
    resize(kDesignSize);
    setMinimumSize(px(6000), px(4000));
    if (!current())
        current() = this;

    itemNameLabel = new QLabel(QStringLiteral("检查项目"), this);
    itemNameLabel->setObjectName(QStringLiteral("itemNameLabel"));
    itemNameLabel->setGeometry(twipRect(120, 120, 6975, 375));
    QFont bold = itemNameLabel->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    itemNameLabel->setFont(bold);

    rowCountLabel = new QLabel(QStringLiteral("记录数"), this);
    rowCountLabel->setObjectName(QStringLiteral("rowCountLabel"));
    rowCountLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Anchored at its design place's right edge; long counts grow it to the left.
    rowCountLabel->setGeometry(twipRect(7320, 165, 900, 180));

    reportGrid = new QTableView(this);
    reportGrid->setObjectName(QStringLiteral("reportGrid"));
    reportGrid->setGeometry(twipRect(120, 480, 8175, 5775));
    reportGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    reportGrid->setWordWrap(false);
    reportGrid->setTextElideMode(Qt::ElideNone);
    reportGrid->verticalHeader()->hide();
    // Uniform fixed row heights keep very large tables quick to open and to scroll.
    reportGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    reportGrid->verticalHeader()->setDefaultSectionSize(std::max(px(240), reportGrid->fontMetrics().height() + 2));
    reportGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // The narrowest fitted column, a one-letter field name, is 300 twips.
    reportGrid->horizontalHeader()->setMinimumSectionSize(px(300));
    reportGrid->horizontalHeader()->setHighlightSections(false);
    reportGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    messageBox = new QPlainTextEdit(this);
    messageBox->setObjectName(QStringLiteral("messageBox"));
    messageBox->setGeometry(reportGrid->geometry());
    messageBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    messageBox->setReadOnly(true);
    messageBox->hide();

    exportButton = new QPushButton(QStringLiteral("输出  "), this);
    exportButton->setObjectName(QStringLiteral("exportButton"));
    exportButton->setGeometry(twipRect(120, 6360, 855, 285));
    planOrRepairButton = new QPushButton(kRepair, this);
    planOrRepairButton->setObjectName(QStringLiteral("planOrRepairButton"));
    planOrRepairButton->setGeometry(twipRect(3840, 6360, 855, 285));
    exitButton = new QPushButton(QStringLiteral("退出  "), this);
    exitButton->setObjectName(QStringLiteral("exitButton"));
    exitButton->setGeometry(twipRect(7440, 6360, 855, 285));

    // 停止 while this window's statement runs on the account connection (Esc, which closes the
    // window, stops it too).
    stopButton = new QPushButton(QStringLiteral("停止  "), this);
    stopButton->setObjectName(QStringLiteral("stopButton"));
    stopButton->setGeometry(twipRect(4800, 6360, 855, 285));
    stopButton->hide();
    connect(stopButton, &QPushButton::clicked, this, [this] { stop(); });
    // While another window's job holds the account connection, 修复/检查 would only queue behind it.
    connect(&accountWorker(), &AccountWorker::started, this, [this] {
        if (!m_busy)
            planOrRepairButton->setEnabled(false);
    });
    connect(&accountWorker(), &AccountWorker::finished, this, [this] {
        if (!m_busy)
            planOrRepairButton->setEnabled(!accountWorker().isBusy());
    });

    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setGeometry(twipRect(1920, 3240, 4575, 255));
    progressBar->setTextVisible(false);
    progressBar->hide();

    // The quick filter narrows the loaded rows; it sits in the title row, left of the count.
    filterBox = new QLineEdit(this);
    filterBox->setObjectName(QStringLiteral("filterBox"));
    filterBox->setPlaceholderText(QStringLiteral("筛选…"));
    filterBox->setClearButtonEnabled(true);
    filterBox->setToolTip(QStringLiteral("只显示含有此文字的行"));

    m_model = new RecordsetModel(nullptr, this);
    m_proxy = new GridProxy(this);
    m_proxy->setSourceModel(m_model);
    reportGrid->setModel(m_proxy);
    makeResultGrid(reportGrid);
    connect(filterBox, &QLineEdit::textChanged, m_proxy, &GridProxy::setQuickFilter);
    connect(m_proxy, &GridProxy::quickFilterChanged, filterBox, [this](const QString &text) {
        if (filterBox->text() != text)
            filterBox->setText(text);
    });
    setViewExport(reportGrid, [this] { exportFindings(true); });
    auto *esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &QWidget::close);
    restoreWindowGeometry(this, kGeometryKey);
    placeHeaderRow();

    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(planOrRepairButton, &QPushButton::clicked, this, [this] { runPlanOrRepair(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { chooseExport(); });
}

ReportWindow::~ReportWindow()
{
    if (current() == this)
        current() = nullptr;
}

void ReportWindow::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    if (!m_loaded && !e->spontaneous()) {
        m_loaded = true;
        loadReport();
    }
}

void ReportWindow::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    // The grid (and the text box over it) take the growth; buttons keep to their edges.
    const int dw = width() - kDesignSize.width();
    const int dh = height() - kDesignSize.height();
    const QRect grid = twipRect(120, 480, 8175, 5775);
    reportGrid->setGeometry(grid.adjusted(0, 0, dw, dh));
    messageBox->setGeometry(reportGrid->geometry());
    exportButton->setGeometry(twipRect(120, 6360, 855, 285).translated(0, dh));
    planOrRepairButton->setGeometry(twipRect(3840, 6360, 855, 285).translated(dw / 2, dh));
    exitButton->setGeometry(twipRect(7440, 6360, 855, 285).translated(dw, dh));
    stopButton->setGeometry(twipRect(4800, 6360, 855, 285).translated(dw / 2, dh));
    progressBar->setGeometry(twipRect(1920, 3240, 4575, 255).translated(dw / 2, dh / 2));
    placeHeaderRow();
}

void ReportWindow::placeHeaderRow()
{
    // The count is anchored at its design place's right edge (which follows the window's right
    // edge); long counts grow it to the left. The filter box sits left of it, the name takes the rest.
    const int right = px(7320 + 900) + width() - kDesignSize.width();
    const int w = std::max(px(900), rowCountLabel->fontMetrics().horizontalAdvance(rowCountLabel->text()) + 4);
    rowCountLabel->setGeometry(right - w, px(165) - 3, w, std::max(px(180), rowCountLabel->fontMetrics().height()));
    const int filterWidth = 160;
    const int filterHeight = std::max(px(300), filterBox->sizeHint().height() - 2);
    filterBox->setGeometry(right - w - 8 - filterWidth, px(480) - filterHeight - 3, filterWidth, filterHeight);
    const QRect name = twipRect(120, 120, 6975, 375);
    itemNameLabel->setGeometry(name.x(), name.y(), std::min(name.width() + width() - kDesignSize.width(),
                                                      filterBox->x() - 8 - name.x()), name.height());
    const QString full = itemNameLabel->text();
    itemNameLabel->setToolTip(itemNameLabel->fontMetrics().horizontalAdvance(full) > itemNameLabel->width() ? full : QString());
}

void ReportWindow::startJob(const QString &label, const std::function<void(db::Connection *)> &job,
                            const std::function<void(const AccountWorker::JobEnd &)> &done)
{
    m_busy = true;
    stopButton->setEnabled(true);
    stopButton->show();
    stopButton->raise();
    for (QPushButton *b : {exportButton, planOrRepairButton, exitButton})
        b->setEnabled(false);
    m_job = accountWorker().submit(label, job, this, [this, done](const AccountWorker::JobEnd &end) {
        m_busy = false;
        m_job = 0;
        stopButton->hide();
        for (QPushButton *b : {exportButton, planOrRepairButton, exitButton})
            b->setEnabled(true);
        done(end);
    });
}

void ReportWindow::stop()
{
    if (!m_busy)
        return;
    stopButton->setEnabled(false);
    accountWorker().cancel(QStringLiteral("已停止"), m_job);
}

void ReportWindow::closeEvent(QCloseEvent *e)
{
    // The window stays while its statement runs: a close stops the statement first.
    if (m_busy) {
        stop();
        e->ignore();
        return;
    }
    saveWindowGeometry(this, kGeometryKey);
    QWidget::closeEvent(e);
    // Unloaded: the next request gets a fresh window even before this one is deleted.
    if (e->isAccepted() && current() == this)
        current() = nullptr;
}

QString ReportWindow::itemFile(const QString &name) const
{
    return session().programFolder + QStringLiteral("\\File\\") + itemCode + QLatin1Char('\\') + name;
}

void ReportWindow::showText(const QString &text)
{
    messageBox->setPlainText(text);
    messageBox->show();
    messageBox->raise();
}

void ReportWindow::loadReport()
{
    if (m_busy)
        return;
    m_loaded = true;
    Session &s = session();
    QStringList problems;

    // 1. The item's name from the catalogue.
    try {
        itemNameLabel->setText(SelectField(QStringLiteral("cName"), treeName, QStringLiteral("cCode=") + sqlLiteral(itemCode),
                                           s.catalogConn.get())
                                   .toString());
    } catch (const db::DbError &e) {
        itemNameLabel->setText(QString());
        problems << e.message();
    }

    // 2. The rows arrive in the background, in chunks; the earlier snapshot is let go first so
    // that a reload never holds two. 3. Column widths from the field names, widened to the texts of
    // the first rows, once they are there. 4. and 5. The count grows with the rows and is the
    // table's count at the end. Rows are read only while the table's stamp says they are the
    // outcome's: another database's check may have overwritten the table since.
    m_model->reset(nullptr);
    auto rows = std::make_shared<db::Recordset>();
    auto lock = std::make_shared<std::shared_mutex>();
    // A new load shows all the rows in the table's own order: no sorting, no filter.
    reportGrid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_proxy->clearFilters();
    m_model->reset(rows, lock);
    reportGrid->scrollToTop();
    rowCountLabel->setText(QStringLiteral("记录数"));
    placeHeaderRow();
    messageBox->hide();
    const QPointer<ReportWindow> self(this);
    auto sink = std::make_shared<db::RowSink>();
    sink->target = rows.get();
    sink->lock = lock.get();
    sink->progress = [self](qint64 loaded) {
        QMetaObject::invokeMethod(self, [self, loaded] {
            if (!self)
                return;
            const int columns = self->m_model->columnCount();
            self->m_model->grow(loaded);
            if (columns == 0 && self->m_model->columnCount() > 0) {
                fitColumnWidths(self->reportGrid);
                fitColumnsToContent(self->reportGrid);
            }
            if (self->m_busy) {
                self->rowCountLabel->setText(QStringLiteral("记录数") + QString::number(self->m_model->visibleRows()));
                self->placeHeaderRow();
            }
        }, Qt::QueuedConnection);
    };
    const QString key = itemCode;
    const ResultStamp expected = outcome.result;
    auto read = std::make_shared<FindingsRead>();
    auto jobProblems = std::make_shared<QStringList>();
    startJob(QStringLiteral("正在读取结果"),
             [=](db::Connection *conn) {
                 try {
                     *read = readFindings(conn, expected, key, *sink);
                 } catch (const db::DbError &e) {
                     if (!conn || !conn->cancelRequested())
                         *jobProblems << e.message();
                 } catch (const std::bad_alloc &) {
                     {
                         const std::unique_lock hold(*lock);
                         *rows = db::Recordset();
                     }
                     *jobProblems << QStringLiteral("结果表太大，内存不足，无法显示其中的记录");
                 }
             },
             [this, read, jobProblems, problems, rows, sink, lock](const AccountWorker::JobEnd &end) {
                 QStringList all = problems + *jobProblems;
                 if (const QString e = end.errorText(); !e.isEmpty())
                     all << e;
                 showLoaded(*read, all, !end.cancelled, rows->rowCount());
             });
}

void ReportWindow::showLoaded(const FindingsRead &read, const QStringList &loadProblems, bool finished, qint64 rowsRead)
{
    QStringList problems = loadProblems;
    const bool fitted = m_model->columnCount() > 0;
    m_model->grow(rowsRead);
    if (!fitted && m_model->columnCount() > 0) {
        fitColumnWidths(reportGrid);
        fitColumnsToContent(reportGrid);
    }
#ifdef __GLIBC__
    // The rows grew in the worker's malloc arena; hand the space their growth left behind back.
    malloc_trim(0);
#endif
    if (!finished)
        problems << QStringLiteral("读取已停止：只显示了已读到的 %1 条记录").arg(rowsRead);
    const bool refused = !read.refused.isEmpty();
    if (refused)
        problems.prepend(read.refused);
    const qint64 n = refused ? 0 : read.count;
    const bool counted = finished && problems.isEmpty();
    rowCountLabel->setText(counted || n ? QStringLiteral("记录数") + QString::number(n) : QStringLiteral("记录数"));
    m_count = n;
    placeHeaderRow();

    // 6. and 7.
    planOrRepairButton->setVisible(n != 0);
    exportButton->setVisible(n != 0);
    messageBox->hide();

    // 8. The function button from the item folder.
    if (FileExists(itemFile(QStringLiteral("修复.sql")))) {
        planOrRepairButton->setText(kRepair);
    } else if (FileExists(itemFile(QStringLiteral("方案.txt")))) {
        planOrRepairButton->setText(kPlan);
        QString text;
        ReadTextFile(itemFile(QStringLiteral("方案.txt")), text);
        messageBox->setPlainText(text);
    } else {
        planOrRepairButton->hide();
    }
    // Nothing of a foreign or overwritten table is shown, exported or repaired.
    if (refused) {
        exportButton->hide();
        planOrRepairButton->hide();
    }
    if (!problems.isEmpty()) {
        planOrRepairButton->hide();
        showText(problems.join(QStringLiteral("\r\n")));
    }
    emit loaded();
}

void ReportWindow::runPlanOrRepair()
{
    const QString caption = planOrRepairButton->text();
    if (caption == kRepair) {
        askRepair();
    } else if (caption == kCheck) {
        recheck();
    } else {
        messageBox->show();
        messageBox->raise();
    }
}

void ReportWindow::askRepair()
{
    // The findings must still be this outcome's before anyone is asked to repair them.
    const ResultStamp expected = outcome.result;
    const QString key = itemCode;
    auto problem = std::make_shared<QString>();
    startJob(QStringLiteral("正在核对结果"),
             [=](db::Connection *conn) { *problem = resultOwnershipProblem(expected, readResultStamp(conn, key)); },
             [this, problem](const AccountWorker::JobEnd &end) {
                 if (const QString e = end.errorText(); !e.isEmpty())
                     *problem = e;
                 if (!problem->isEmpty()) {
                     showText(QStringLiteral("未执行修复：") + *problem);
                     planOrRepairButton->hide();
                     exportButton->hide();
                     return;
                 }
                 if (end.cancelled)
                     return;
                 Session &s = session();
                 RepairRequest r;
                 r.server = s.accountInfo.server;
                 r.database = outcome.result.database.isEmpty() ? s.accountInfo.database : outcome.result.database;
                 r.account = accountOfDatabase(r.database);
                 r.year = s.accountInfo.year;
                 r.code = itemCode;
                 r.name = itemNameLabel->text();
                 // The count the check found, from its record, not from whatever the table holds now.
                 r.findings = outcome.count;
                 if (FileExists(itemFile(QStringLiteral("方案.txt"))))
                     ReadTextFile(itemFile(QStringLiteral("方案.txt")), r.plan);
                 ReadTextFile(itemFile(QStringLiteral("修复.sql")), r.script);
                 // Nothing reaches the database before the user has confirmed the repair; the
                 // question is window-modal and its answer comes back here.
                 if (const RepairConfirmation &ask = repairConfirmation()) {
                     if (ask(this, r))
                         repair();
                     return;
                 }
                 auto *dialog = new RepairConfirm(r, this);
                 dialog->setAttribute(Qt::WA_DeleteOnClose);
                 connect(dialog, &QDialog::accepted, this, [this] { repair(); });
                 dialog->open();
             });
}

void ReportWindow::repair()
{
    messageBox->show();
    messageBox->raise();
    const QString folder = session().itemFolder(itemCode);
    const QString key = itemCode;
    history::RepairRecord record;
    record.time = QDateTime::currentDateTime();
    record.operatorName = session().accountInfo.operatorName;
    record.server = session().accountInfo.server;
    record.database = session().accountInfo.database;
    record.code = itemCode;
    record.name = itemNameLabel->text();
    record.scriptSha256 = history::fileSha256(resolvePath(itemFile(QStringLiteral("修复.sql"))));
    record.before = outcome.count;
    // The repair holds the server's check lock, as a check run does; the lock prompt is a window.
    auto prompt = std::make_shared<LockWaitPrompt>(this, kLockWaitText);
    const auto wait = prompt->fromWorker();
    const ResultStamp expected = outcome.result;
    auto result = std::make_shared<RepairResult>();
    startJob(QStringLiteral("正在修复"),
             [=](db::Connection *account) { *result = repairItem(account, expected, key, folder, wait); },
             [this, result, record, prompt](const AccountWorker::JobEnd &end) mutable {
                 QString error = end.errorText();
                 if (!result->refused.isEmpty() || (!error.isEmpty() && result->batchesDone == 0 && !result->finished
                                                    && result->error.isEmpty())) {
                     messageBox->setPlainText(QStringLiteral("未执行修复：") + (result->refused.isEmpty() ? error : result->refused));
                     return;
                 }
                 if (end.cancelled && !result->stopped) {
                     result->stopped = true;
                     result->error = QStringLiteral("修复被中断，没有全部完成：修复脚本的前 %1 批语句已执行完毕，其余未执行。")
                                         .arg(result->batchesDone);
                 }
                 if (!error.isEmpty() && result->error.isEmpty())
                     result->error = error;
                 record.succeeded = result->finished && result->error.isEmpty();
                 record.message = result->error;
                 // The journal is the history file's repairs table; a file that cannot be written
                 // leaves the repair as it ran and says so.
                 history::HistoryStore journal(history::HistoryStore::defaultPath());
                 m_journalEntry = journal.addRepair(record);
                 const QString journalProblem =
                     m_journalEntry ? QString() : QStringLiteral("\r\n\r\n修复记录未能写入：") + journal.error();
                 ItemOutcome repaired = outcome;
                 repaired.state = ItemState::Repaired;
                 if (result->stopped) {
                     messageBox->setPlainText(result->error + journalProblem);
                     repaired.reason = QStringLiteral("修复被中断，显示的是修复前的结果");
                 } else if (record.succeeded) {
                     messageBox->setPlainText(QStringLiteral("已成功修复!") + journalProblem);
                     planOrRepairButton->setText(kCheck);
                     repaired.reason = QStringLiteral("已修复，尚未重新检查，显示的是修复前的结果");
                 } else {
                     messageBox->setPlainText(QStringLiteral("修复过程中意外错误中止") + QStringLiteral("\r\n\r\n")
                                              + result->error + journalProblem);
                     repaired.reason = QStringLiteral("修复过程中意外错误中止，显示的是修复前的结果");
                 }
                 outcome = repaired;
                 if (session().outcomeChanged)
                     session().outcomeChanged(repaired);
             });
}

void ReportWindow::recheck()
{
    messageBox->show();
    messageBox->raise();
    const Session &s = session();
    const RunIdentity run = s.runIdentity();
    const QString programFolder = s.programFolder;
    const QString key = itemCode;
    const QString name = itemNameLabel->text().isEmpty() ? outcome.name : itemNameLabel->text();
    const ItemHook checked = s.itemChecked;
    auto prompt = std::make_shared<LockWaitPrompt>(this, kLockWaitText);
    const auto wait = prompt->fromWorker();
    auto fresh = std::make_shared<ItemOutcome>();
    startJob(QStringLiteral("正在重新检查"),
             [=](db::Connection *account) { *fresh = recheckItem(account, run, programFolder, key, name, wait, checked); },
             [this, fresh, prompt](const AccountWorker::JobEnd &end) {
                 if (end.cancelled) {
                     messageBox->setPlainText(QStringLiteral("重新检查已停止。"));
                     return;
                 }
                 if (const QString e = end.errorText(); !e.isEmpty()) {
                     messageBox->setPlainText(QStringLiteral("重新检查未能完成：") + QStringLiteral("\r\n") + e);
                     return;
                 }
                 outcome = *fresh;
                 // The findings after the re-check complete the journal row of the repair before it.
                 // (When the file cannot be written, the repair's row stays without its after count.)
                 if (m_journalEntry) {
                     history::HistoryStore(history::HistoryStore::defaultPath()).setRepairAfter(m_journalEntry, fresh->count);
                     m_journalEntry = 0;
                 }
                 if (session().outcomeChanged)
                     session().outcomeChanged(*fresh);
                 const bool scriptFailed = fresh->scriptFailed;
                 const QString text = fresh->errorText;
                 loadReport();
                 if (scriptFailed)
                     showMessageBox(this, QMessageBox::Warning, QStringLiteral("结果报告"), text);
             });
}

void ReportWindow::chooseExport()
{
    // While the grid shows every row in the table's order there is nothing to choose.
    if (!m_proxy->hasFilters() && m_proxy->sortColumn() < 0) {
        exportFindings(false);
        return;
    }
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("exportMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("全部行（%1 行）").arg(m_model->rowCount()), this, [this] { exportFindings(false); });
    menu->addAction(QStringLiteral("当前视图（筛选、排序后，%1 行）").arg(m_proxy->rowCount()), this,
                    [this] { exportFindings(true); });
    menu->popup(exportButton->mapToGlobal(QPoint(0, exportButton->height())));
}

void ReportWindow::exportFindings(bool view)
{
    if (m_busy) {   // the rows may still be growing
        showMessageBox(this, QMessageBox::Information, QStringLiteral("报表导出"), QStringLiteral("请等读取结束后再导出。"));
        return;
    }
    if (m_model->rowCount() == 0 || (view && m_proxy->rowCount() == 0)) {
        showMessageBox(this, QMessageBox::Information, QStringLiteral("报表导出"),
                       m_model->rowCount() == 0 ? QStringLiteral("表中未有任何记录,请查看！") : QStringLiteral("当前视图中没有记录。"));
        return;
    }
    const std::shared_ptr<const db::Recordset> rows = m_model->shared();
    std::shared_ptr<const RowOrder> order;
    if (view) {
        const std::vector<int> shown = m_proxy->sourceRowsShown();
        order = std::make_shared<const RowOrder>(shown.begin(), shown.end());
    }
    const QString folder = QDir::cleanPath(session().programFolder + QStringLiteral("/报表"));
    QString why;
    if (!FileExists(session().programFolder + QStringLiteral("\\报表")))
        why = createFolder(folder);
    const QString dialogFolder = resolvePath(folder).isEmpty() ? session().programFolder : resolvePath(folder);
    const QString suggested = dialogFolder + QLatin1Char('/') + suggestedExportName(QDateTime::currentDateTime());
    // Every question is asked window-modal: the answer comes back here, nothing waits for it.
    const QPointer<ReportWindow> self(this);
    const auto ask = [self, rows, order, suggested] {
        if (self)
            askExportFile(self, suggested, [self, rows, order](const QString &path) {
                if (self)
                    self->writeExport(*rows, order.get(), path);
            });
    };
    if (why.isEmpty())
        ask();
    else
        connect(showMessageBox(this, QMessageBox::Warning, QStringLiteral("报表导出"), why), &QDialog::finished, this, ask);
}

void ReportWindow::writeExport(const db::Recordset &rows, const RowOrder *order, const QString &path)
{
    if (path.isEmpty()) {
        showMessageBox(this, QMessageBox::Information, QString(), QStringLiteral("未成功导出！"));
        progressBar->hide();
        return;
    }
    const qint64 written = order ? qint64(order->size()) : rows.rowCount();
    progressBar->setRange(0, int(std::min<qint64>(written, std::numeric_limits<int>::max())));
    progressBar->setValue(0);
    progressBar->show();
    progressBar->raise();
    const QString error = exportRecordset(rows, path, [this](qint64 done) { progressBar->setValue(int(done)); }, order);
    progressBar->hide();
    if (!error.isEmpty()) {
        showMessageBox(this, QMessageBox::Critical, QStringLiteral("报表导出"), QStringLiteral("未成功导出！\n") + error);
        return;
    }
    // Says which rows went out when they are not simply all of them in the table's order.
    const QString what = order ? QStringLiteral("\n\n写入了当前视图的 %1 行（共 %2 行）。").arg(written).arg(rows.rowCount()) : QString();
    QMessageBox *done = showMessageBox(this, QMessageBox::Information, QString(),
                                       QStringLiteral("已成功导出！\n\n") + QDir::toNativeSeparators(path) + what,
                                       QMessageBox::NoButton);
    done->addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    QPushButton *openFolder = done->addButton(QStringLiteral("打开所在文件夹"), QMessageBox::ActionRole);
    connect(done, &QMessageBox::buttonClicked, this, [openFolder, path](QAbstractButton *clicked) {
        if (clicked == openFolder)
            QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    });
}

} // namespace vireo
