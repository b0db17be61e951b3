#include "ParameterWindow.h"
#include "AccountWorker.h"
#include "CheckRun.h"
#include "ItemActions.h"
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
#include <QSettings>
#include <QUrl>
#include <QTableWidget>
#include <QVBoxLayout>

namespace vireo {

namespace {
constexpr int kValueColumn = 4;
constexpr int kRowHeight = 25;  // pixels
// The settings key of earlier versions, kept so that saved layouts still apply.
const QString kGeometryKey = QStringLiteral("FrmSQLValue");

const QString kComplete = QStringLiteral("参数状态：完整");
const QString kIncomplete = QStringLiteral("参数状态：不完整");
const QString kExecLabel = QStringLiteral("正在执行存储过程");
// While another job (a check run) holds the account connection the procedure cannot run yet.
const QString kConnectionBusy = QStringLiteral("（正在检查，检查结束后才能执行）");

struct PendingItem {
    QString key;
    QString treeName;
};

QQueue<PendingItem> &pendingItems()
{
    static QQueue<PendingItem> q;
    return q;
}

QPointer<ParameterWindow> &currentWindow()
{
    static QPointer<ParameterWindow> w;
    return w;
}

void openNow(const PendingItem &item)
{
    auto *w = new ParameterWindow;
    currentWindow() = w;
    w->itemCode = item.key;
    w->treeName = item.treeName;
    w->show();
}

// The values last executed for each item, by parameter name (never anything else).
QSettings parameterSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vireo"), QStringLiteral("VireoParameters"));
}

QString parameterGroup(const QString &code)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(code.toUpper()));
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

ParameterWindow *ParameterWindow::instance() { return currentWindow(); }

ParameterWindow::ParameterWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("ParameterWindow"));
    setProperty("vireoChildWindow", true);
    setAttribute(Qt::WA_DeleteOnClose);
    // 确定 follows whether the account connection is free.
    const auto follow = [this] {
        if (m_loaded)
            checkStatus();
    };
    connect(&accountWorker(), &AccountWorker::started, this, follow);
    connect(&accountWorker(), &AccountWorker::finished, this, follow);
    setWindowTitle(QStringLiteral("参数设置"));

    itemNameLabel = new QLabel(QStringLiteral("检查项目"), this);
    itemNameLabel->setObjectName(QStringLiteral("itemNameLabel"));
    QFont bold = itemNameLabel->font();
    bold.setBold(true);
    itemNameLabel->setFont(bold);

    statusLabel = new QLabel(QStringLiteral("状 态"), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    statusLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    parameterGrid = new QTableWidget(this);
    parameterGrid->setObjectName(QStringLiteral("parameterGrid"));
    parameterGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    parameterGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    parameterGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    parameterGrid->setTabKeyNavigation(false);
    parameterGrid->verticalHeader()->hide();
    parameterGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    parameterGrid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    parameterGrid->horizontalHeader()->setSectionsClickable(false);
    parameterGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    parameterGrid->installEventFilter(this);
    parameterGrid->viewport()->installEventFilter(this);
    // Only the 值 column can hold the current cell.
    connect(parameterGrid, &QTableWidget::currentCellChanged, this, [this](int row, int column) {
        if (row >= 0 && column != kValueColumn)
            parameterGrid->setCurrentCell(row, kValueColumn);
    });
    connect(parameterGrid->verticalScrollBar(), &QScrollBar::valueChanged, this, [this] { hideEditors(); });
    connect(parameterGrid->horizontalScrollBar(), &QScrollBar::valueChanged, this, [this] { hideEditors(); });

    skippedLabel = new QLabel(this);
    skippedLabel->setObjectName(QStringLiteral("skippedLabel"));
    skippedLabel->setWordWrap(true);
    skippedLabel->hide();

    okButton = new QPushButton(QStringLiteral("确定"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setEnabled(false);
    connect(okButton, &QPushButton::clicked, this, &ParameterWindow::runProcedure);

    exitButton = new QPushButton(QStringLiteral("退出"), this);
    exitButton->setObjectName(QStringLiteral("exitButton"));
    connect(exitButton, &QPushButton::clicked, this, [this] {
        m_userClose = true;
        close();
    });

    auto *top = new QHBoxLayout;
    top->addWidget(itemNameLabel, 1);
    top->addWidget(statusLabel);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(exitButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(parameterGrid, 1);
    layout->addWidget(skippedLabel);
    layout->addLayout(buttons);

    // The editors float over the grid's current cell; they are not part of the layout.
    textEditor = new QLineEdit(this);
    textEditor->setObjectName(QStringLiteral("textEditor"));
    textEditor->setFrame(false);
    textEditor->hide();
    textEditor->installEventFilter(this);
    connect(textEditor, &QLineEdit::textChanged, this, [this](const QString &text) { writeBack(text); });

    dateEditor = new QDateTimeEdit(this);
    dateEditor->setObjectName(QStringLiteral("dateEditor"));
    dateEditor->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    dateEditor->setCalendarPopup(true);
    dateEditor->setFixedWidth(px(1695));
    dateEditor->hide();
    dateEditor->installEventFilter(this);
    connect(dateEditor, &QDateTimeEdit::dateTimeChanged, this, [this] { dateWriteBack(); });

    resize(400, 300);
    restoreWindowGeometry(this, kGeometryKey);
    // Esc closes the window as 退出 does.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, exitButton, &QPushButton::click);
}

ParameterWindow::~ParameterWindow()
{
    if (currentWindow() == this)
        currentWindow() = nullptr;
}

void ParameterWindow::showEvent(QShowEvent *event)
{
    if (!m_loaded) {
        m_loaded = true;
        load();
    }
    QWidget::showEvent(event);
}

void ParameterWindow::closeEvent(QCloseEvent *event)
{
    // The window stays while its statement runs: closing it stops the statement first.
    if (m_executing) {
        accountWorker().cancel(QStringLiteral("存储过程的执行已停止"), m_job);
        event->ignore();
        return;
    }
    saveWindowGeometry(this, kGeometryKey);
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

void ParameterWindow::resizeEvent(QResizeEvent *event)
{
    // The cell moves away from an open editor; the value is already in the cell.
    hideEditors();
    QWidget::resizeEvent(event);
}

void ParameterWindow::load()
{
    try {
        const QVariant name = SelectField(QStringLiteral("cName"), treeName,
                                          QStringLiteral("cCode='") + itemCode + QStringLiteral("'"),
                                          session().catalogConn.get());
        itemNameLabel->setText(name.isNull() ? itemCode : name.toString());
    } catch (const db::DbError &e) {
        itemNameLabel->setText(itemCode);
        showError(QStringLiteral("读取检查项目名称失败：\n") + e.message());
    }
    initGrid();
    loadParameters(session().programFolder + QStringLiteral("\\File\\") + itemCode + QStringLiteral("\\检查.SQL"));
}

void ParameterWindow::initGrid()
{
    // "<参数|^名称|^类型|^允许空|^值"
    static const int widths[] = {0, 1500, 1000, 800, 1700};
    parameterGrid->clear();
    parameterGrid->setRowCount(0);
    parameterGrid->setColumnCount(5);
    const QStringList headers = {QStringLiteral("参数"), QStringLiteral("名称"), QStringLiteral("类型"),
                                 QStringLiteral("允许空"), QStringLiteral("值")};
    for (int c = 0; c < 5; ++c) {
        auto *h = new QTableWidgetItem(headers.at(c));
        h->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
        parameterGrid->setHorizontalHeaderItem(c, h);
        parameterGrid->setColumnWidth(c, px(widths[c]));
    }
    parameterGrid->setColumnHidden(0, true);
}

void ParameterWindow::loadParameters(const QString &scriptPath)
{
    hideEditors();
    parameterGrid->setRowCount(0);
    const ParameterScript script = readParameterLines(scriptPath);

    auto addRow = [this](const QStringList &cells) {
        const int row = parameterGrid->rowCount();
        parameterGrid->insertRow(row);
        for (int c = 0; c < 5; ++c) {
            auto *item = new QTableWidgetItem(cells.value(c));
            item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignCenter);
            if (c != kValueColumn) {
                // Fixed cells: shown like the header, never current.
                item->setFlags(Qt::ItemIsEnabled);
                item->setBackground(palette().button());
            }
            parameterGrid->setItem(row, c, item);
        }
    };
    // The values executed last time for this item come back in place of the defaults.
    QSettings remembered = parameterSettings();
    remembered.beginGroup(parameterGroup(itemCode));
    for (const ParameterLine &p : script.parameters)
        addRow({p.name, p.caption, p.typeText, allowEmptyText(p.required),
                itemCode.isEmpty() ? p.defaultValue : remembered.value(p.name, p.defaultValue).toString()});
    if (parameterGrid->rowCount() == 0)
        addRow({});
    parameterGrid->setCurrentCell(0, kValueColumn);

    QStringList notes;
    for (const SkippedParameterLine &s : script.skipped)
        notes << QStringLiteral("第 %1 行参数格式不完整，已略过：%2").arg(s.lineNumber).arg(s.text);
    skippedLabel->setText(notes.join(QLatin1Char('\n')));
    skippedLabel->setVisible(!notes.isEmpty());
}

QString ParameterWindow::cellText(int row, int column) const
{
    const QTableWidgetItem *item = parameterGrid->item(row, column);
    return item ? item->text() : QString();
}

QStringList ParameterWindow::values() const
{
    QStringList v;
    for (int r = 0; r < parameterGrid->rowCount(); ++r)
        v << cellText(r, kValueColumn);
    return v;
}

bool ParameterWindow::checkStatus()
{
    bool complete = true;
    for (int r = 0; r < parameterGrid->rowCount(); ++r)
        if (cellText(r, 3) == QStringLiteral("否") && cellText(r, kValueColumn).isEmpty()) {
            complete = false;
            break;
        }
    // 确定 waits while another job has the account connection; the text says why.
    const bool busy = accountWorker().isBusy() && !m_executing;
    statusLabel->setText(complete ? (busy ? kComplete + kConnectionBusy : kComplete) : kIncomplete);
    okButton->setEnabled(complete && !busy && !m_executing);
    return complete;
}

void ParameterWindow::runProcedure()
{
    if (m_executing || !checkStatus() || accountWorker().isBusy())
        return;
    const QString sql = buildExecStatement(itemCode, values());
    {
        QSettings remember = parameterSettings();
        remember.beginGroup(parameterGroup(itemCode));
        for (int r = 0; r < parameterGrid->rowCount(); ++r)
            if (!cellText(r, 0).isEmpty())
                remember.setValue(cellText(r, 0), cellText(r, kValueColumn));
    }
    m_executing = true;
    okButton->setEnabled(false);
    // The procedure rebuilds the item's result table, which every session on the server shares:
    // it runs under the server lock on the account worker, and its outcome comes back here.
    Session &s = session();
    const QString code = itemCode;
    const std::optional<ItemOutcome> known = s.outcomeOf ? s.outcomeOf(code) : std::nullopt;
    const QString name = known ? known->name : code;
    const RunIdentity run = s.runIdentity();
    const ItemHook checked = s.itemChecked;
    auto prompt = std::make_shared<LockWaitPrompt>(this, kLockWaitText);
    const auto wait = prompt->fromWorker();
    auto outcome = std::make_shared<ItemOutcome>();
    m_job = accountWorker().submit(
        kExecLabel,
        [=](db::Connection *conn) { *outcome = runProcedureItem(conn, run, code, name, sql, wait, checked); }, this,
        [this, outcome, prompt, code](const AccountWorker::JobEnd &end) {
            m_executing = false;
            QString error = end.errorText();
            if (end.cancelled && error.isEmpty())
                error = QStringLiteral("已停止");
            if (!error.isEmpty()) {
                checkStatus();
                showError(QStringLiteral("存储过程 %1 执行失败：\n").arg(code) + error);
                return;
            }
            if (session().outcomeChanged)
                session().outcomeChanged(*outcome);
            m_userClose = true;
            close();
        });
}

void ParameterWindow::showError(const QString &text)
{
    auto *box = new QMessageBox(QMessageBox::Critical, QStringLiteral("参数设置"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// ---- editors -------------------------------------------------------------------------------

void ParameterWindow::hideEditors()
{
    dateEditor->hide();
    textEditor->hide();
}

void ParameterWindow::openEditor()
{
    hideEditors();
    if (parameterGrid->currentRow() < 0)
        return;
    if (isDateType(cellText(parameterGrid->currentRow(), 2)))
        showDateEditor(parameterGrid, dateEditor);
    else
        showTextEditor(parameterGrid, textEditor);
}

void ParameterWindow::showTextEditor(QTableWidget *grid, QLineEdit *box)
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

void ParameterWindow::showDateEditor(QTableWidget *grid, QDateTimeEdit *picker)
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

void ParameterWindow::writeBack(const QString &text)
{
    if (m_editRow < 0 || m_editRow >= parameterGrid->rowCount())
        return;
    if (text == cellText(m_editRow, kValueColumn))
        return;
    if (QTableWidgetItem *item = parameterGrid->item(m_editRow, kValueColumn))
        item->setText(text);
    checkStatus();
}

void ParameterWindow::dateWriteBack()
{
    if (m_editRow < 0)
        return;
    writeBack(sqlDateText(dateEditor->dateTime()).trimmed());
}

void ParameterWindow::moveToNextRow()
{
    const int row = parameterGrid->currentRow();
    if (row >= 0 && row < parameterGrid->rowCount() - 1)
        parameterGrid->setCurrentCell(row + 1, kValueColumn);
    parameterGrid->setFocus();
}

bool ParameterWindow::textKeyPress(QKeyEvent *e)
{
    const bool enter = isEnter(e);
    const bool backspace = e->key() == Qt::Key_Backspace;
    const QString text = e->text();
    // Only keys that produce a character are filtered; caret movement and Delete (text "\x7f" on X11) pass.
    if (!enter && !backspace
        && (text.isEmpty() || e->key() == Qt::Key_Tab || e->key() == Qt::Key_Backtab || e->key() == Qt::Key_Delete))
        return false;
    const QChar ch = enter ? QChar(13) : backspace ? QChar(8) : text.at(0);

    const int caret = textEditor->hasSelectedText() ? textEditor->selectionStart() : textEditor->cursorPosition();
    if (ch == QLatin1Char('0') && caret == 0)
        return true;
    const int row = m_editRow >= 0 ? m_editRow : parameterGrid->currentRow();
    if (isNumericType(cellText(row, 2)) && !(ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) && !enter
        && !backspace)
        return true;
    if (enter) {
        textEditor->hide();
        moveToNextRow();
        return true;
    }
    return false;
}

bool ParameterWindow::dateKeyPress(QKeyEvent *e)
{
    if (!isEnter(e))
        return false;
    dateEditor->hide();
    moveToNextRow();
    return true;
}

bool ParameterWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parameterGrid && event->type() == QEvent::KeyPress) {
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
    if (watched == parameterGrid->viewport()) {
        if (event->type() == QEvent::MouseButtonPress)
            hideEditors();
        else if (event->type() == QEvent::MouseButtonDblClick) {
            // The first press has already made the clicked row current.
            openEditor();
            return true;
        }
        return false;
    }
    if (watched == textEditor && event->type() == QEvent::KeyPress)
        return textKeyPress(static_cast<QKeyEvent *>(event));
    if (watched == dateEditor) {
        if (event->type() == QEvent::KeyPress)
            return dateKeyPress(static_cast<QKeyEvent *>(event));
        if (event->type() == QEvent::FocusOut)
            dateWriteBack();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vireo
