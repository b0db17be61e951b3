#include "FrmReport.h"
#include "AccountWorker.h"
#include "CheckRun.h"
#include "DisplayWidth.h"
#include "Export.h"
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

// The account connection as a repair script sees it: counts the batches that completed.
class BatchCounter : public db::Connection {
public:
    BatchCounter(db::Connection *c, int &done) : m_c(c), m_done(done) {}
    bool isOpen() const override { return m_c && m_c->isOpen(); }
    void execute(const QString &sql) override
    {
        m_c->execute(sql);
        ++m_done;
    }
    db::Recordset query(const QString &sql, qint64 maxRows) override { return m_c->query(sql, maxRows); }
    bool cancelRequested() const override { return m_c && m_c->cancelRequested(); }
    void cancel() override { m_c->cancel(); }
    void resetCancel() override { m_c->resetCancel(); }

private:
    db::Connection *m_c;
    int &m_done;
};

const QString kPlan = QStringLiteral("方案  ");
const QString kRepair = QStringLiteral("修复  ");
const QString kCheck = QStringLiteral("检查  ");

QPointer<FrmReport> &current()
{
    static QPointer<FrmReport> w;
    return w;
}

FrmReport::SaveDialog &saveDialog()
{
    static FrmReport::SaveDialog d;
    return d;
}

FrmReport::RepairConfirmation &repairConfirmation()
{
    static FrmReport::RepairConfirmation c;
    return c;
}

const QString kGeometryKey = QStringLiteral("FrmReport");
// The first size of the window.
const QSize kDesignSize(px(8415), px(6780));


QString standardSaveDialog(QWidget *parent, const QString &suggested, const QStringList &filters)
{
    QFileDialog dlg(parent, QStringLiteral("另存为"), suggested);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setNameFilters(filters);
    dlg.selectNameFilter(filters.value(0));
    dlg.setDefaultSuffix(QStringLiteral("xlsx"));
    QObject::connect(&dlg, &QFileDialog::filterSelected, &dlg, [&dlg](const QString &filter) {
        dlg.setDefaultSuffix(filter.contains(QLatin1String("*.xlsx")) ? QStringLiteral("xlsx") : QStringLiteral("xls"));
    });
    if (dlg.exec() != QDialog::Accepted)
        return {};
    return dlg.selectedFiles().value(0);
}

} // namespace

QString reportRowsSql(const QString &key)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name=") + sqlText(key)
           + QStringLiteral(") select * from tempdb..") + sqlIdentifier(key) + QStringLiteral(" else select '' as 空");
}

db::Recordset OpenClientRecordset(const QString &select)
{
    db::Connection *conn = session().accountConn.get();
    if (!conn)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    db::Recordset rs = conn->query(select);
    rs.squeeze();
    return rs;
}

void FitColumnWidths(QTableView *grid)
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
    FrmReport *w = current();
    if (w && w->isVisible()) {
        // Every request reloads: the result table may have changed since the window loaded it.
        w->Key = key;
        w->TreeName = treeName;
        w->LoadReport();
    } else {
        if (!w)
            w = new FrmReport;
        w->Key = key;
        w->TreeName = treeName;
    }
    if (w->isMinimized())
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
    w->show();
    w->raise();
    w->activateWindow();
}

FrmReport *FrmReport::instance() { return current(); }

void FrmReport::setSaveDialog(SaveDialog dialog) { saveDialog() = std::move(dialog); }

void FrmReport::setRepairConfirmation(RepairConfirmation confirm) { repairConfirmation() = std::move(confirm); }

QStringList FrmReport::exportFilters()
{
    return {QStringLiteral("Excel 工作簿 (*.xlsx)"), QStringLiteral("MS Excel Spreadsheet (*.xls)")};
}

QString FrmReport::suggestedExportName(const QDateTime &now) const
{
    const Session::AccountInfo &info = session().accountInfo;
    QString name = QStringList{Key, labName->text(), info.account, info.year, now.toString(QStringLiteral("yyyyMMdd-HHmm"))}
                       .join(QLatin1Char('_'));
    static const QString bad = QStringLiteral("\\/:*?\"<>|\t\r\n");
    for (QChar &c : name)
        if (bad.contains(c))
            c = QLatin1Char('_');
    return name + QStringLiteral(".xlsx");
}

FrmReport::FrmReport(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("FrmReport"));
    setProperty("vireoChildWindow", true);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("结果报告"));
    // Opens at its first size; the grid takes whatever the user gives the window.
    resize(kDesignSize);
    setMinimumSize(px(6000), px(4000));
    if (!current())
        current() = this;

    labName = new QLabel(QStringLiteral("检查项目"), this);
    labName->setObjectName(QStringLiteral("labName"));
    labName->setGeometry(twipRect(120, 120, 6975, 375));
    QFont bold = labName->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    labName->setFont(bold);

    labNumber = new QLabel(QStringLiteral("记录数"), this);
    labNumber->setObjectName(QStringLiteral("labNumber"));
    labNumber->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Anchored at its design place's right edge; long counts grow it to the left.
    labNumber->setGeometry(twipRect(7320, 165, 900, 180));

    grdReport = new QTableView(this);
    grdReport->setObjectName(QStringLiteral("grdReport"));
    grdReport->setGeometry(twipRect(120, 480, 8175, 5775));
    grdReport->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdReport->setWordWrap(false);
    grdReport->setTextElideMode(Qt::ElideNone);
    grdReport->verticalHeader()->hide();
    // Uniform fixed row heights keep very large tables quick to open and to scroll.
    grdReport->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdReport->verticalHeader()->setDefaultSectionSize(std::max(px(240), grdReport->fontMetrics().height() + 2));
    grdReport->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // The narrowest fitted column, a one-letter field name, is 300 twips.
    grdReport->horizontalHeader()->setMinimumSectionSize(px(300));
    grdReport->horizontalHeader()->setHighlightSections(false);
    grdReport->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    txtReport = new QPlainTextEdit(this);
    txtReport->setObjectName(QStringLiteral("txtReport"));
    txtReport->setGeometry(grdReport->geometry());
    txtReport->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtReport->setReadOnly(true);
    txtReport->hide();

    CmdPrint = new QPushButton(QStringLiteral("输出  "), this);
    CmdPrint->setObjectName(QStringLiteral("CmdPrint"));
    CmdPrint->setGeometry(twipRect(120, 6360, 855, 285));
    CmdFunction = new QPushButton(kRepair, this);
    CmdFunction->setObjectName(QStringLiteral("CmdFunction"));
    CmdFunction->setGeometry(twipRect(3840, 6360, 855, 285));
    CmdExit = new QPushButton(QStringLiteral("退出  "), this);
    CmdExit->setObjectName(QStringLiteral("CmdExit"));
    CmdExit->setGeometry(twipRect(7440, 6360, 855, 285));

    // 停止 while this window's statement runs on the account connection (Esc, which closes the
    // window, stops it too).
    cmdStop = new QPushButton(QStringLiteral("停止  "), this);
    cmdStop->setObjectName(QStringLiteral("cmdStop"));
    cmdStop->setGeometry(twipRect(4800, 6360, 855, 285));
    cmdStop->hide();
    connect(cmdStop, &QPushButton::clicked, this, [this] { stop(); });
    // While another window's job holds the account connection, 修复/检查 would only queue behind it.
    connect(&accountWorker(), &AccountWorker::started, this, [this] {
        if (!m_busy)
            CmdFunction->setEnabled(false);
    });
    connect(&accountWorker(), &AccountWorker::finished, this, [this] {
        if (!m_busy)
            CmdFunction->setEnabled(true);
    });

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(twipRect(1920, 3240, 4575, 255));
    ProgressBar->setTextVisible(false);
    ProgressBar->hide();

    // The quick filter narrows the loaded rows; it sits in the title row, left of the count.
    txtFilter = new QLineEdit(this);
    txtFilter->setObjectName(QStringLiteral("txtFilter"));
    txtFilter->setPlaceholderText(QStringLiteral("筛选…"));
    txtFilter->setClearButtonEnabled(true);
    txtFilter->setToolTip(QStringLiteral("只显示含有此文字的行"));

    m_model = new RecordsetModel(nullptr, this);
    m_proxy = new GridProxy(this);
    m_proxy->setSourceModel(m_model);
    grdReport->setModel(m_proxy);
    makeResultGrid(grdReport);
    connect(txtFilter, &QLineEdit::textChanged, m_proxy, &GridProxy::setFilterFixedString);
    auto *esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &QWidget::close);
    restoreWindowGeometry(this, kGeometryKey);
    placeHeaderRow();

    connect(CmdExit, &QPushButton::clicked, this, &QWidget::close);
    connect(CmdFunction, &QPushButton::clicked, this, [this] { CmdFunction_Click(); });
    connect(CmdPrint, &QPushButton::clicked, this, [this] { CmdPrint_Click(); });
}

FrmReport::~FrmReport()
{
    if (current() == this)
        current() = nullptr;
}

void FrmReport::showEvent(QShowEvent *e)
{
    QWidget::showEvent(e);
    if (!m_loaded && !e->spontaneous()) {
        m_loaded = true;
        LoadReport();
    }
}

void FrmReport::resizeEvent(QResizeEvent *e)
{
    QWidget::resizeEvent(e);
    // The grid (and the text box over it) take the growth; buttons keep to their edges.
    const int dw = width() - kDesignSize.width();
    const int dh = height() - kDesignSize.height();
    const QRect grid = twipRect(120, 480, 8175, 5775);
    grdReport->setGeometry(grid.adjusted(0, 0, dw, dh));
    txtReport->setGeometry(grdReport->geometry());
    CmdPrint->setGeometry(twipRect(120, 6360, 855, 285).translated(0, dh));
    CmdFunction->setGeometry(twipRect(3840, 6360, 855, 285).translated(dw / 2, dh));
    CmdExit->setGeometry(twipRect(7440, 6360, 855, 285).translated(dw, dh));
    cmdStop->setGeometry(twipRect(4800, 6360, 855, 285).translated(dw / 2, dh));
    ProgressBar->setGeometry(twipRect(1920, 3240, 4575, 255).translated(dw / 2, dh / 2));
    placeHeaderRow();
}

void FrmReport::placeHeaderRow()
{
    // The count is anchored at its design place's right edge (which follows the window's right
    // edge); long counts grow it to the left. The filter box sits left of it, the name takes the rest.
    const int right = px(7320 + 900) + width() - kDesignSize.width();
    const int w = std::max(px(900), labNumber->fontMetrics().horizontalAdvance(labNumber->text()) + 4);
    labNumber->setGeometry(right - w, px(165) - 3, w, std::max(px(180), labNumber->fontMetrics().height()));
    const int filterWidth = 160;
    const int filterHeight = std::max(px(300), txtFilter->sizeHint().height() - 2);
    txtFilter->setGeometry(right - w - 8 - filterWidth, px(480) - filterHeight - 3, filterWidth, filterHeight);
    const QRect name = twipRect(120, 120, 6975, 375);
    labName->setGeometry(name.x(), name.y(), std::min(name.width() + width() - kDesignSize.width(),
                                                      txtFilter->x() - 8 - name.x()), name.height());
    const QString full = labName->text();
    labName->setToolTip(labName->fontMetrics().horizontalAdvance(full) > labName->width() ? full : QString());
}

bool FrmReport::runJob(const QString &label, const std::function<void(db::Connection *)> &job)
{
    m_busy = true;
    cmdStop->setEnabled(true);
    cmdStop->show();
    cmdStop->raise();
    for (QPushButton *b : {CmdPrint, CmdFunction, CmdExit})
        b->setEnabled(false);
    struct Done {
        FrmReport *w;
        ~Done()
        {
            w->m_busy = false;
            w->cmdStop->hide();
            for (QPushButton *b : {w->CmdPrint, w->CmdFunction, w->CmdExit})
                b->setEnabled(true);
        }
    } done{this};
    return accountWorker().run(label, job);
}

void FrmReport::stop()
{
    if (!m_busy)
        return;
    cmdStop->setEnabled(false);
    accountWorker().cancel();
}

void FrmReport::closeEvent(QCloseEvent *e)
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

QString FrmReport::itemFile(const QString &name) const
{
    return session().programFolder + QStringLiteral("\\File\\") + Key + QLatin1Char('\\') + name;
}

void FrmReport::showText(const QString &text)
{
    txtReport->setPlainText(text);
    txtReport->show();
    txtReport->raise();
}

void FrmReport::LoadReport()
{
    m_loaded = true;
    Session &s = session();
    QStringList problems;

    // 1. The item's name from the catalogue.
    try {
        labName->setText(SelectField(QStringLiteral("cName"), TreeName, QStringLiteral("cCode=") + sqlLiteral(Key),
                                     s.catalogConn.get())
                             .toString());
    } catch (const db::DbError &e) {
        labName->setText(QString());
        problems << e.message();
    }

    // 2. The rows arrive in the background, in chunks; the earlier snapshot is let go first so
    // that a reload never holds two. 3. Column widths from the field names, widened to the texts of
    // the first rows, once they are there. 4. and 5. The count grows with the rows and is the
    // table's count at the end.
    m_model->reset(nullptr);
    auto rows = std::make_shared<db::Recordset>();
    auto lock = std::make_shared<std::shared_mutex>();
    // A new load shows the rows in the table's own order.
    grdReport->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_model->reset(rows, lock);
    grdReport->scrollToTop();
    labNumber->setText(QStringLiteral("记录数"));
    placeHeaderRow();
    const QPointer<FrmReport> self(this);
    db::RowSink sink;
    sink.target = rows.get();
    sink.lock = lock.get();
    sink.progress = [self](qint64 loaded) {
        QMetaObject::invokeMethod(self, [self, loaded] {
            if (!self)
                return;
            const int columns = self->m_model->columnCount();
            self->m_model->grow(loaded);
            if (columns == 0 && self->m_model->columnCount() > 0) {
                FitColumnWidths(self->grdReport);
                fitColumnsToContent(self->grdReport);
            }
            if (self->m_busy) {
                self->labNumber->setText(QStringLiteral("记录数") + QString::number(self->m_model->visibleRows()));
                self->placeHeaderRow();
            }
        }, Qt::QueuedConnection);
    };
    const QString key = Key;
    qint64 n = 0;
    bool counted = false;
    bool finished = true;
    try {
        finished = runJob(QStringLiteral("正在读取结果"), [&](db::Connection *conn) {
            if (!conn)
                throw db::DbError(QStringLiteral("没有打开的数据库连接"));
            try {
                conn->queryInto(reportRowsSql(key), sink);
            } catch (const db::DbError &e) {
                if (conn->cancelRequested())
                    return;
                problems << e.message();
            } catch (const std::bad_alloc &) {
                {
                    const std::unique_lock hold(*lock);
                    *rows = db::Recordset();
                }
                problems << QStringLiteral("结果表太大，内存不足，无法显示其中的记录");
            }
            n = QueryValue(QStringLiteral("number"), countSql(key), conn).toLongLong();
            counted = true;
        });
    } catch (const db::DbError &e) {
        if (!accountWorker().cancelRequested())
            problems << e.message();
    }
    const bool fitted = m_model->columnCount() > 0;
    m_model->grow(rows->rowCount());
    if (!fitted && m_model->columnCount() > 0) {
        FitColumnWidths(grdReport);
        fitColumnsToContent(grdReport);
    }
#ifdef __GLIBC__
    // The rows grew in the worker's malloc arena; hand the space their growth left behind back.
    malloc_trim(0);
#endif
    if (!finished)
        problems << QStringLiteral("读取已停止：只显示了已读到的 %1 条记录").arg(rows->rowCount());
    labNumber->setText(counted ? QStringLiteral("记录数") + QString::number(n) : QStringLiteral("记录数"));
    m_count = n;
    placeHeaderRow();

    // 6. and 7.
    CmdFunction->setVisible(n != 0);
    CmdPrint->setVisible(n != 0);
    txtReport->hide();

    // 8. The function button from the item folder.
    if (FileExists(itemFile(QStringLiteral("修复.sql")))) {
        CmdFunction->setText(kRepair);
    } else if (FileExists(itemFile(QStringLiteral("方案.txt")))) {
        CmdFunction->setText(kPlan);
        QString text;
        ReadTextFile(itemFile(QStringLiteral("方案.txt")), text);
        txtReport->setPlainText(text);
    } else {
        CmdFunction->hide();
    }

    if (!problems.isEmpty()) {
        CmdFunction->hide();
        showText(problems.join(QStringLiteral("\r\n")));
    }
}

bool FrmReport::confirmRepair()
{
    Session &s = session();
    RepairRequest r;
    r.server = s.accountInfo.server;
    r.database = s.accountInfo.database;
    r.account = s.accountInfo.account;
    r.year = s.accountInfo.year;
    r.code = Key;
    r.name = labName->text();
    r.findings = m_count;
    if (FileExists(itemFile(QStringLiteral("方案.txt"))))
        ReadTextFile(itemFile(QStringLiteral("方案.txt")), r.plan);
    ReadTextFile(itemFile(QStringLiteral("修复.sql")), r.script);
    if (const RepairConfirmation &ask = repairConfirmation())
        return ask(this, r);
    RepairConfirm dialog(r, this);
    return dialog.exec() == QDialog::Accepted;
}

void FrmReport::CmdFunction_Click()
{
    const QString caption = CmdFunction->text();
    // Nothing reaches the database before the user has confirmed the repair.
    if (caption == kRepair && !confirmRepair())
        return;
    txtReport->show();
    txtReport->raise();
    const QString folder = session().itemFolder(Key);
    const QString key = Key;
    const auto notifyMain = [this](const QString &staleNote) {
        if (session().itemResultChanged)
            session().itemResultChanged(Key, staleNote);
    };
    // The lock prompt is a window: the worker asks it through this thread.
    LockWaitPrompt waiting(this, kLockWaitText);
    const auto wait = waiting.fromWorker();
    if (caption == kRepair) {
        history::RepairRecord record;
        record.time = QDateTime::currentDateTime();
        record.operatorName = session().accountInfo.operatorName;
        record.server = session().accountInfo.server;
        record.database = session().accountInfo.database;
        record.code = Key;
        record.name = labName->text();
        record.scriptSha256 = history::fileSha256(resolvePath(itemFile(QStringLiteral("修复.sql"))));
        record.before = m_count;
        // The repair and the re-check hold the server's check lock, as a check run does.
        QString result;
        int batches = 0;
        bool finished = true;
        try {
            finished = runJob(QStringLiteral("正在修复"), [&](db::Connection *account) {
                const ServerLock lock(account, wait);
                BatchCounter counted(account, batches);
                result = RunSqlFile(QStringLiteral("修复.sql"), folder, &counted);
            });
        } catch (const LockAbandoned &e) {
            txtReport->setPlainText(QStringLiteral("未执行修复：") + e.message());
            return;
        } catch (const db::DbError &e) {
            result = e.message();
        }
        const QString interrupted =
            QStringLiteral("修复被中断，没有全部完成：修复脚本的前 %1 批语句已执行完毕，其余未执行。").arg(batches);
        if (!finished && result.isEmpty())
            result = interrupted;
        record.succeeded = finished && result.isEmpty();
        record.message = finished ? result : interrupted;
        // The journal is the history file's repairs table; a file that cannot be written leaves
        // the repair as it ran and says so.
        history::HistoryStore journal(history::HistoryStore::defaultPath());
        m_journalEntry = journal.addRepair(record);
        const QString journalProblem =
            m_journalEntry ? QString() : QStringLiteral("\r\n\r\n修复记录未能写入：") + journal.error();
        if (!finished) {
            txtReport->setPlainText(interrupted + journalProblem);
            notifyMain(QStringLiteral("修复被中断，显示的是修复前的结果"));
        } else if (result.isEmpty()) {
            txtReport->setPlainText(QStringLiteral("已成功修复!") + journalProblem);
            CmdFunction->setText(kCheck);
            notifyMain(QStringLiteral("已修复，尚未重新检查，显示的是修复前的结果"));
        } else {
            txtReport->setPlainText(QStringLiteral("修复过程中意外错误中止") + QStringLiteral("\r\n\r\n") + result
                                    + journalProblem);
        }
    } else if (caption == kCheck) {
        QString scriptResult;
        // The lock is held from the check through the reload of the rows, on the worker's thread.
        std::optional<ServerLock> held;
        const auto release = [&held] {
            if (held)
                accountWorker().run(QStringLiteral("正在检查"), [&held](db::Connection *) { held.reset(); });
        };
        try {
            if (!runJob(QStringLiteral("正在检查"), [&](db::Connection *account) {
                    held.emplace(account, wait);
                    scriptResult = runItemCheck(key, folder, account);
                })) {
                release();
                txtReport->setPlainText(QStringLiteral("重新检查已停止。"));
                return;
            }
            LoadReport();
            release();
        } catch (const db::DbError &e) {
            release();
            txtReport->setPlainText(QStringLiteral("重新检查未能完成：") + QStringLiteral("\r\n") + e.message());
            return;
        }
        // The findings after the re-check complete the journal row of the repair before it.
        // (When the file cannot be written, the repair's row stays without its after count.)
        if (m_journalEntry) {
            history::HistoryStore(history::HistoryStore::defaultPath()).setRepairAfter(m_journalEntry, m_count);
            m_journalEntry = 0;
        }
        notifyMain(QString());
        if (!scriptResult.isEmpty())
            QMessageBox::warning(this, QStringLiteral("结果报告"),
                                 kScriptErrorPrefix + QLatin1Char('\n') + scriptResult);
    }
}

void FrmReport::CmdPrint_Click()
{
    const std::shared_ptr<const db::Recordset> rows = m_model->shared();
    if (m_model->rowCount() == 0) {
        QMessageBox::information(this, QStringLiteral("报表导出"), QStringLiteral("表中未有任何记录,请查看！"));
        return;
    }
    const QString folder = QDir::cleanPath(session().programFolder + QStringLiteral("/报表"));
    if (!FileExists(session().programFolder + QStringLiteral("\\报表"))) {
        const QString why = createFolder(folder);
        if (!why.isEmpty())
            QMessageBox::warning(this, QStringLiteral("报表导出"), why);
    }
    const QString dialogFolder = resolvePath(folder).isEmpty() ? session().programFolder : resolvePath(folder);
    const QString suggested = dialogFolder + QLatin1Char('/') + suggestedExportName(QDateTime::currentDateTime());

    const SaveDialog &ask = saveDialog();
    const QString path = ask ? ask(this, suggested, exportFilters()) : standardSaveDialog(this, suggested, exportFilters());
    if (path.isEmpty()) {
        QMessageBox::information(this, QString(), QStringLiteral("未成功导出！"));
        ProgressBar->hide();
        return;
    }

    ProgressBar->setRange(0, int(std::min<qint64>(rows->rowCount(), std::numeric_limits<int>::max())));
    ProgressBar->setValue(0);
    ProgressBar->show();
    ProgressBar->raise();
    const QString error = exportRecordset(*rows, path, [this](qint64 done) { ProgressBar->setValue(int(done)); });
    if (!error.isEmpty()) {
        ProgressBar->hide();
        QMessageBox::critical(this, QStringLiteral("报表导出"), QStringLiteral("未成功导出！\n") + error);
        return;
    }
    ProgressBar->hide();
    QMessageBox done(QMessageBox::Information, QString(),
                     QStringLiteral("已成功导出！\n\n") + QDir::toNativeSeparators(path), QMessageBox::NoButton, this);
    done.addButton(QStringLiteral("确定"), QMessageBox::AcceptRole);
    QPushButton *open = done.addButton(QStringLiteral("打开所在文件夹"), QMessageBox::ActionRole);
    done.exec();
    if (done.clickedButton() == open)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

} // namespace vireo
