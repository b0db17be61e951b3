#include "RepairJournalWindow.h"
#include "HistoryStore.h"
#include "ResultGrid.h"

#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QShortcut>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

namespace vireo {

namespace {
const QString kGeometryKey = QStringLiteral("RepairJournal");
QPointer<RepairJournalWindow> &current()
{
    static QPointer<RepairJournalWindow> w;
    return w;
}
} // namespace

RepairJournalWindow::RepairJournalWindow(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("RepairJournal"));
    setProperty("vireoChildWindow", true);
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("修复记录"));
    auto *layout = new QVBoxLayout(this);
    auto *where = new QLabel(QStringLiteral("记录文件：") + QDir::toNativeSeparators(history::HistoryStore::defaultPath()), this);
    where->setObjectName(QStringLiteral("fileLabel"));
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(where);
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("journalGrid"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setWordWrap(false);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    auto *proxy = new GridProxy(this);
    proxy->setSourceModel(new QStandardItemModel(this));
    m_grid->setModel(proxy);
    makeResultGrid(m_grid);
    layout->addWidget(m_grid, 1);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    resize(900, 420);
    restoreWindowGeometry(this, kGeometryKey);
    reload();
}

void RepairJournalWindow::reload()
{
    auto *proxy = static_cast<GridProxy *>(m_grid->model());
    auto *model = static_cast<QStandardItemModel *>(proxy->sourceModel());
    model->clear();
    model->setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("操作员"), QStringLiteral("服务器"),
                                      QStringLiteral("数据库"), QStringLiteral("编码"), QStringLiteral("检查项目"),
                                      QStringLiteral("结果"), QStringLiteral("修复前"), QStringLiteral("复查后"),
                                      QStringLiteral("脚本 SHA-256"), QStringLiteral("服务器消息")});
    history::HistoryStore store(history::HistoryStore::defaultPath());
    const std::vector<history::RepairRecord> records = store.repairs();
    if (!store.error().isEmpty())
        model->appendRow(new QStandardItem(QStringLiteral("修复记录无法读取：") + store.error()));
    const auto count = [](qint64 n) {
        auto *item = new QStandardItem(n < 0 ? QString() : QString::number(n));
        if (n >= 0)
            item->setData(n, Qt::UserRole);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return item;
    };
    for (const history::RepairRecord &r : records) {
        QList<QStandardItem *> row;
        auto *time = new QStandardItem(r.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        time->setData(r.time, Qt::UserRole);
        row << time;
        for (const QString &t : {r.operatorName, r.server, r.database, r.code, r.name})
            row << new QStandardItem(t);
        row << new QStandardItem(r.succeeded ? QStringLiteral("成功") : QStringLiteral("失败"));
        row << count(r.before) << count(r.after) << new QStandardItem(r.scriptSha256);
        row << new QStandardItem(QString(r.message).replace(QLatin1Char('\n'), QLatin1Char(' ')));
        for (QStandardItem *i : row)
            i->setToolTip(i->text());
        model->appendRow(row);
    }
    m_grid->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    m_grid->resizeColumnsToContents();
    for (int c = 0; c < model->columnCount(); ++c)
        m_grid->setColumnWidth(c, std::min(m_grid->columnWidth(c), 320));
}

void RepairJournalWindow::closeEvent(QCloseEvent *e)
{
    saveWindowGeometry(this, kGeometryKey);
    QWidget::closeEvent(e);
}

void showRepairJournal()
{
    RepairJournalWindow *w = current();
    if (!w)
        current() = w = new RepairJournalWindow;
    else
        w->reload();
    w->show();
    w->raise();
    w->activateWindow();
}

} // namespace vireo
