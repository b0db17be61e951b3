#include "FrmSQLValue.h"
#include "AccountWorker.h"
#include "CheckRun.h"
#include "LockWaitPrompt.h"
#include "ParameterLines.h"
#include "QueryHelpers.h"
#include "Session.h"
#include "ResultGrid.h"
#include "Twips.h"

#include <QCloseEvent>
#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QShortcut>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QQueue>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vireo {

namespace {
constexpr int kValueColumn = 4;
constexpr int kRowHeight = 25;  // pixels


const QString kComplete = QStringLiteral("参数状态：完整");
const QString kIncomplete = QStringLiteral("参数状态：不完整");

struct PendingItem {
    QString key;
    QString treeName;
};

QQueue<PendingItem> &pendingItems()
{
    static QQueue<PendingItem> q;
    return q;
}

QPointer<FrmSQLValue> &currentWindow()
{
    static QPointer<FrmSQLValue> w;
    return w;
}

void openNow(const PendingItem &item)
{
    auto *w = new FrmSQLValue;
    currentWindow() = w;
    w->Key = item.key;
    w->TreeName = item.treeName;
    w->show();
}

bool isEnter(const QKeyEvent *e) { return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter; }
} // namespace

void openParameterWindow(const QString &key, const QString &treeName)
{
    if (currentWindow()) {
        pendingItems().enqueue({key, treeName});
        return;
    }
    openNow({key, treeName});
}

void discardPendingParameterWindows() { pendingItems().clear(); }

FrmSQLValue *FrmSQLValue::instance() { return currentWindow(); }

FrmSQLValue::FrmSQLValue(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("FrmSQLValue"));
    setProperty("vireoChildWindow", true);
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("参数设置"));

    labName = new QLabel(QStringLiteral("检查项目"), this);
    labName->setObjectName(QStringLiteral("labName"));
    QFont bold = labName->font();
    bold.setBold(true);
    labName->setFont(bold);

    LabZt = new QLabel(QStringLiteral("状 态"), this);
    LabZt->setObjectName(QStringLiteral("LabZt"));
    LabZt->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    grdTable = new QTableWidget(this);
    grdTable->setObjectName(QStringLiteral("grdTable"));
    grdTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grdTable->setSelectionMode(QAbstractItemView::SingleSelection);
    grdTable->setSelectionBehavior(QAbstractItemView::SelectItems);
    grdTable->setTabKeyNavigation(false);
    grdTable->verticalHeader()->hide();
    grdTable->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdTable->verticalHeader()->setDefaultSectionSize(kRowHeight);
    grdTable->horizontalHeader()->setSectionsClickable(false);
    grdTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grdTable->installEventFilter(this);
    grdTable->viewport()->installEventFilter(this);
    // Only the 值 column can hold the current cell.
    connect(grdTable, &QTableWidget::currentCellChanged, this, [this](int row, int column) {
        if (row >= 0 && column != kValueColumn)
            grdTable->setCurrentCell(row, kValueColumn);
    });
    connect(grdTable->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { hideEditors(); });
    connect(grdTable->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { hideEditors(); });

    labSkipped = new QLabel(this);
    labSkipped->setObjectName(QStringLiteral("labSkipped"));
    labSkipped->setWordWrap(true);
    labSkipped->hide();

    cmdOK = new QPushButton(QStringLiteral("确定"), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setEnabled(false);
    connect(cmdOK, &QPushButton::clicked, this, &FrmSQLValue::runProcedure);

    cmdExit = new QPushButton(QStringLiteral("退出"), this);
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    connect(cmdExit, &QPushButton::clicked, this, [this] {
        m_userClose = true;
        close();
    });

    auto *top = new QHBoxLayout;
    top->addWidget(labName, 1);
    top->addWidget(LabZt);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdExit);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(grdTable, 1);
    layout->addWidget(labSkipped);
    layout->addLayout(buttons);

    // The editors float over the grid's current cell; they are not part of the layout.
    txtData = new QLineEdit(this);
    txtData->setObjectName(QStringLiteral("txtData"));
    txtData->setFrame(false);
    txtData->hide();
    txtData->installEventFilter(this);
    connect(txtData, &QLineEdit::textChanged, this, [this](const QString &text) { writeBack(text); });

    dtpDate = new QDateTimeEdit(this);
    dtpDate->setObjectName(QStringLiteral("dtpDate"));
    dtpDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dtpDate->setCalendarPopup(true);
    dtpDate->setFixedWidth(px(1695));
    dtpDate->hide();
    dtpDate->installEventFilter(this);
    connect(dtpDate, &QDateTimeEdit::dateTimeChanged, this, [this] { dateWriteBack(); });

    resize(400, 300);
    restoreWindowGeometry(this, QStringLiteral("FrmSQLValue"));
    // Esc closes the window as 退出 does.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, cmdExit, &QPushButton::click);
}

FrmSQLValue::~FrmSQLValue()
{
    if (currentWindow() == this)
        currentWindow() = nullptr;
}

void FrmSQLValue::showEvent(QShowEvent *event)
{
    if (!m_loaded) {
        m_loaded = true;
        load();
    }
    QWidget::showEvent(event);
}

void FrmSQLValue::closeEvent(QCloseEvent *event)
{
    // The window stays while its statement runs.
    if (m_executing) {
        event->ignore();
        return;
    }
    saveWindowGeometry(this, QStringLiteral("FrmSQLValue"));
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    if (currentWindow() == this)
        currentWindow() = nullptr;
    if (m_userClose || event->spontaneous()) {
        if (!pendingItems().isEmpty())
            openNow(pendingItems().dequeue());
    } else {
        pendingItems().clear();
    }
}

void FrmSQLValue::resizeEvent(QResizeEvent *event)
{
    // The cell moves away from an open editor; the value is already in the cell.
    hideEditors();
    QWidget::resizeEvent(event);
}

void FrmSQLValue::load()
{
    try {
        const QVariant name = SelectField(QStringLiteral("cName"), TreeName,
                                          QStringLiteral("cCode='") + Key + QStringLiteral("'"),
                                          session().catalogConn.get());
        labName->setText(name.isNull() ? Key : name.toString());
    } catch (const db::DbError &e) {
        labName->setText(Key);
        showError(QStringLiteral("读取检查项目名称失败：\n") + e.message());
    }
    InitGrid();
    LoadParameters(session().programFolder + QStringLiteral("\\File\\") + Key + QStringLiteral("\\检查.SQL"));
}

void FrmSQLValue::InitGrid()
{
    // "<参数|^名称|^类型|^允许空|^值"
    static const int widths[] = {0, 1500, 1000, 800, 1700};
    grdTable->clear();
    grdTable->setRowCount(0);
    grdTable->setColumnCount(5);
    const QStringList headers = {QStringLiteral("参数"), QStringLiteral("名称"), QStringLiteral("类型"),
                                 QStringLiteral("允许空"), QStringLiteral("值")};
    for (int c = 0; c < 5; ++c) {
        auto *h = new QTableWidgetItem(headers.at(c));
        h->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        grdTable->setHorizontalHeaderItem(c, h);
        grdTable->setColumnWidth(c, px(widths[c]));
    }
    grdTable->setColumnHidden(0, true);
}

void FrmSQLValue::LoadParameters(const QString &scriptPath)
{
    hideEditors();
    grdTable->setRowCount(0);
    const ParameterScript script = readParameterLines(scriptPath);

    auto addRow = [this](const QStringList &cells) {
        const int row = grdTable->rowCount();
        grdTable->insertRow(row);
        for (int c = 0; c < 5; ++c) {
            auto *item = new QTableWidgetItem(cells.value(c));
            item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
            if (c != kValueColumn) {
                // Fixed cells: shown like the header, never current.
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(palette().button());
            }
            grdTable->setItem(row, c, item);
        }
    };
    for (const ParameterLine &p : script.parameters)
        addRow({p.name, p.caption, p.typeText, allowEmptyText(p.required), p.defaultValue});
    if (grdTable->rowCount() == 0)
        addRow({});
    grdTable->setCurrentCell(0, kValueColumn);

    QStringList notes;
    for (const SkippedParameterLine &s : script.skipped)
        notes << QStringLiteral("第 %1 行参数格式不完整，已略过：%2").arg(s.lineNumber).arg(s.text);
    labSkipped->setText(notes.join(QLatin1Char('\n')));
    labSkipped->setVisible(!notes.isEmpty());
}

QString FrmSQLValue::cellText(int row, int column) const
{
    const QTableWidgetItem *item = grdTable->item(row, column);
    return item ? item->text() : QString();
}

QStringList FrmSQLValue::values() const
{
    QStringList v;
    for (int r = 0; r < grdTable->rowCount(); ++r)
        v << cellText(r, kValueColumn);
    return v;
}

bool FrmSQLValue::CheckStatus()
{
    bool complete = true;
    for (int r = 0; r < grdTable->rowCount(); ++r)
        if (cellText(r, 3) == QStringLiteral("否") && cellText(r, kValueColumn).isEmpty()) {
            complete = false;
            break;
        }
    LabZt->setText(complete ? kComplete : kIncomplete);
    cmdOK->setEnabled(complete);
    return complete;
}

void FrmSQLValue::runProcedure()
{
    if (LabZt->text() != kComplete)
        return;
    const QString sql = buildExecStatement(Key, values());
    // The statement runs on the account connection's worker; the window waits with its events served.
    if (m_executing)
        return;
    m_executing = true;
    cmdOK->setEnabled(false);
    try {
        // The procedure rebuilds the item's result table, which every session on the server shares;
        // the lock prompt is a window, asked from the worker through this thread.
        LockWaitPrompt waiting(this, kLockWaitText);
        const auto wait = waiting.fromWorker();
        accountWorker().run(QStringLiteral("正在执行存储过程"), [&](db::Connection *conn) {
            if (!conn)
                throw db::DbError(QStringLiteral("没有打开的数据库连接"));
            const ServerLock lock(conn, wait);
            conn->execute(sql);
        });
        m_executing = false;
        if (session().itemResultChanged)
            session().itemResultChanged(Key, QString());
    } catch (const db::DbError &e) {
        m_executing = false;
        cmdOK->setEnabled(true);
        showError(QStringLiteral("存储过程 %1 执行失败：\n").arg(Key) + e.message());
        return;
    }
    m_userClose = true;
    close();
}

void FrmSQLValue::showError(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("参数设置"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---- editors -------------------------------------------------------------------------------

void FrmSQLValue::hideEditors()
{
    dtpDate->hide();
    txtData->hide();
}

void FrmSQLValue::openEditor()
{
    hideEditors();
    if (grdTable->currentRow() < 0)
        return;
    if (isDateType(cellText(grdTable->currentRow(), 2)))
        ShowDateEditor(grdTable, dtpDate);
    else
        ShowTextEditor(grdTable, txtData);
}

void FrmSQLValue::ShowTextEditor(QTableWidget *grid, QLineEdit *box)
{
    const int row = grid->currentRow();
    const QRect cell = grid->visualRect(grid->model()->index(row, grid->currentColumn()));
    m_editRow = -1;  // setting the text is not a change of the value
    box->setText(cellText(row, grid->currentColumn()));
    m_editRow = row;
    const QPoint at = grid->viewport()->mapTo(this, cell.topLeft());
    box->setGeometry(at.x(), at.y(), cell.width(), px(cell.height() * kTwipsPerPixel - 100));
    box->show();
    box->raise();
    box->setFocus();
    box->setSelection(0, int(box->text().size()));
}

void FrmSQLValue::ShowDateEditor(QTableWidget *grid, QDateTimeEdit *picker)
{
    const int row = grid->currentRow();
    const QString text = cellText(row, grid->currentColumn());
    m_editRow = -1;
    {
        const QSignalBlocker block(picker);
        if (text.isEmpty()) {
            picker->setDateTime(QDateTime(QDate::currentDate(), QTime(0, 0)));
        } else {
            const QDateTime value = parseDateText(text);
            if (value.isValid())
                picker->setDateTime(value);
        }
    }
    m_editRow = row;
    const QRect cell = grid->visualRect(grid->model()->index(row, grid->currentColumn()));
    const QPoint at = grid->viewport()->mapTo(this, cell.topLeft());
    picker->move(at);
    picker->setFixedHeight(px(cell.height() * kTwipsPerPixel + 30));
    picker->show();
    picker->raise();
    picker->setFocus();
}

void FrmSQLValue::writeBack(const QString &text)
{
    if (m_editRow < 0 || m_editRow >= grdTable->rowCount())
        return;
    if (text == cellText(m_editRow, kValueColumn))
        return;
    if (QTableWidgetItem *item = grdTable->item(m_editRow, kValueColumn))
        item->setText(text);
    CheckStatus();
}

void FrmSQLValue::dateWriteBack()
{
    if (m_editRow < 0)
        return;
    writeBack(sqlDateText(dtpDate->dateTime()).trimmed());
}

void FrmSQLValue::moveToNextRow()
{
    const int row = grdTable->currentRow();
    if (row >= 0 && row < grdTable->rowCount() - 1)
        grdTable->setCurrentCell(row + 1, kValueColumn);
    grdTable->setFocus();
}

bool FrmSQLValue::textKeyPress(QKeyEvent *e)
{
    const bool enter = isEnter(e);
    const bool backspace = e->key() == Qt::Key_Backspace;
    const QString text = e->text();
    // Only keys that produce a character are filtered; caret movement and Delete (text "\x7f" on X11) pass.
    if (!enter && !backspace
        && (text.isEmpty() || e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab || e->key() == Qt::Key_Delete))
        return false;
    const QChar ch = enter ? QChar(13) : backspace ? QChar(8) : text.at(0);

    const int caret = txtData->hasSelectedText() ? txtData->selectionStart() : txtData->cursorPosition();
    if (ch == QLatin1Char('0') && caret == 0)
        return true;
    const int row = m_editRow >= 0 ? m_editRow : grdTable->currentRow();
    if (isNumericType(cellText(row, 2)) && !(ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) && !enter
        && !backspace)
        return true;
    if (enter) {
        txtData->hide();
        moveToNextRow();
        return true;
    }
    return false;
}

bool FrmSQLValue::dateKeyPress(QKeyEvent *e)
{
    if (!isEnter(e))
        return false;
    dtpDate->hide();
    moveToNextRow();
    return true;
}

bool FrmSQLValue::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == grdTable && event->type() == QEvent::KeyPress) {
        auto *e = static_cast<QKeyEvent *>(event);
        if (isEnter(e)) {
            openEditor();
            return true;
        }
        switch (e->key()) {
        case Qt::Key_Up: case Qt::Key_Down: case Qt::Key_PageUp: case Qt::Key_PageDown:
        case Qt::Key_Home: case Qt::Key_End: case Qt::Key_Tab: case Qt::Key_Backtab:
            return false;
        default:
            return !e->text().isEmpty();  // no type-ahead search in the grid
        }
    }
    if (watched == grdTable->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            hideEditors();
        else if (event->type() == QEvent::MouseButtonDblClick) {
            // The first press has already made the clicked row current.
            openEditor();
            return true;
        }
        return false;
    }
    if (watched == txtData && event->type() == QEvent::KeyPress)
        return textKeyPress(static_cast<QKeyEvent *>(event));
    if (watched == dtpDate) {
        if (event->type() == QEvent::KeyPress)
            return dateKeyPress(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::FocusOut)
            dateWriteBack();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vireo
