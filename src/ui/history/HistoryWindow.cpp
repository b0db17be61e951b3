#include "HistoryWindow.h"
#include "TrendChart.h"
#include "GridMenus.h"
#include "ResultGrid.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>
#include <map>

namespace vireo {

namespace {
const QString kGeometryKey = QStringLiteral("HistoryWindow");

// A result grid over its own rows: sorted by header clicks, filtered and copied from its menus.
QTableView *table(QWidget *parent, const char *name, const QStringList &headers)
{
    auto *rows = new QStandardItemModel(0, int(headers.size()), parent);
    rows->setHorizontalHeaderLabels(headers);
    auto *proxy = new GridProxy(parent);
    proxy->setSourceModel(rows);
    auto *t = new QTableView(parent);
    t->setModel(proxy);
    t->setObjectName(QLatin1String(name));
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->hide();
    t->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 6);
    t->horizontalHeader()->setStretchLastSection(true);
    makeResultGrid(t);
    return t;
}

QStandardItemModel *rowsOf(const QTableView *t)
{
    return static_cast<QStandardItemModel *>(gridProxy(t)->sourceModel());
}

void addRow(QTableView *t, const QStringList &cells)
{
    QList<QStandardItem *> items;
    for (const QString &c : cells)
        items << new QStandardItem(c);
    rowsOf(t)->appendRow(items);
}

void fillRows(QTableView *t, const QStringList &columns, const std::vector<history::FindingRow> &rows)
{
    rowsOf(t)->setColumnCount(int(columns.size()));
    rowsOf(t)->setHorizontalHeaderLabels(columns);
    for (const history::FindingRow &r : rows)
        addRow(t, r.values);
    t->resizeColumnsToContents();
}

QString runLabel(const history::RunHeader &h)
{
    return QStringLiteral("第 %1 次  %2").arg(h.id).arg(history::shortTime(h.started));
}
} // namespace

RowDiffWindow::RowDiffWindow(const QString &title, const history::RowDiff &d, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("RowDiffWindow"));
    setWindowTitle(title);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(760, 520);
    auto *lay = new QVBoxLayout(this);
    const struct {
        const char *name;
        QString caption;
        const std::vector<history::FindingRow> &rows;
        qint64 without;
    } parts[] = {
        {"addedRowsGrid", QStringLiteral("新增 %1 行").arg(qint64(d.added.size()) + d.addedWithoutValues), d.added, d.addedWithoutValues},
        {"resolvedRowsGrid", QStringLiteral("消除 %1 行").arg(qint64(d.resolved.size()) + d.resolvedWithoutValues), d.resolved,
         d.resolvedWithoutValues},
    };
    for (const auto &part : parts) {
        QString caption = part.caption;
        if (part.without > 0)
            caption += QStringLiteral("（其中 %1 行只记录了指纹，没有保存内容）").arg(part.without);
        lay->addWidget(new QLabel(caption, this));
        auto *t = table(this, part.name, {});
        fillRows(t, d.columns, part.rows);
        lay->addWidget(t, 1);
    }
}

HistoryWindow::HistoryWindow(const QString &historyFile, const QString &serverName, const QString &database,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), m_store(std::make_unique<history::HistoryStore>(historyFile)),
      m_serverName(serverName), m_database(database)
{
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("历史记录 - ") + database);
    setAttribute(Qt::WA_DeleteOnClose);
    resize(980, 680);
    auto *lay = new QVBoxLayout(this);
    noteLabel = new QLabel(this);
    lay->addWidget(noteLabel);
    auto *split = new QSplitter(Qt::Vertical, this);
    lay->addWidget(split, 1);

    auto *top = new QWidget(split);
    auto *topLay = new QVBoxLayout(top);
    topLay->setContentsMargins(0, 0, 0, 0);
    runsGrid = table(top, "runsGrid", {QStringLiteral("编号"), QStringLiteral("开始时间"), QStringLiteral("结束时间"),
                                     QStringLiteral("操作员"), QStringLiteral("目录"), QStringLiteral("检查项目"),
                                     QStringLiteral("有结果")});
    runsGrid->setMaximumHeight(6 * (runsGrid->fontMetrics().height() + 6) + runsGrid->horizontalHeader()->sizeHint().height() + 4);
    topLay->addWidget(runsGrid, 1);
    auto *pick = new QHBoxLayout;
    earlierRunBox = new QComboBox(top);
    earlierRunBox->setObjectName(QStringLiteral("earlierRunBox"));
    laterRunBox = new QComboBox(top);
    laterRunBox->setObjectName(QStringLiteral("laterRunBox"));
    pick->addWidget(new QLabel(QStringLiteral("比较"), top));
    pick->addWidget(earlierRunBox, 1);
    pick->addWidget(new QLabel(QStringLiteral("与"), top));
    pick->addWidget(laterRunBox, 1);
    topLay->addLayout(pick);
    comparisonGrid = table(top, "comparisonGrid", {QStringLiteral("编码"), QStringLiteral("检查项目"), QStringLiteral("较早"),
                                           QStringLiteral("较晚"), QStringLiteral("变化")});
    comparisonGrid->setToolTip(QStringLiteral("双击一行查看新增与消除的行"));
    topLay->addWidget(comparisonGrid, 2);
    split->addWidget(top);

    auto *scroll = new QScrollArea(split);
    scroll->setObjectName(QStringLiteral("trends"));
    scroll->setWidgetResizable(true);
    auto *chartBox = new QWidget(scroll);
    charts = new QGridLayout(chartBox);
    scroll->setWidget(chartBox);
    split->addWidget(scroll);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 1);
    split->setSizes({360, 360});

    connect(comparisonGrid, &QTableView::doubleClicked, this, [this](const QModelIndex &at) {
        openRows(gridProxy(comparisonGrid)->mapToSource(at).row());
    });
    auto recompare = [this] {
        compare(earlierRunBox->currentData().toLongLong(), laterRunBox->currentData().toLongLong());
    };
    connect(earlierRunBox, &QComboBox::activated, this, recompare);
    connect(laterRunBox, &QComboBox::activated, this, recompare);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
    restoreWindowGeometry(this, kGeometryKey);
    load();
}

void HistoryWindow::closeEvent(QCloseEvent *e)
{
    saveWindowGeometry(this, kGeometryKey);
    QWidget::closeEvent(e);
}

HistoryWindow::~HistoryWindow() = default;

void HistoryWindow::load()
{
    const auto runs = m_store->runs(m_serverName, m_database);
    if (!m_store->error().isEmpty()) {
        noteLabel->setText(QStringLiteral("无法读取历史记录：") + m_store->error());
        return;
    }
    noteLabel->setText(runs.empty() ? QStringLiteral("这个账套数据库还没有检查记录。")
                                  : QStringLiteral("共 %1 次检查记录（%2）").arg(runs.size()).arg(m_store->path()));
    // Item codes in the order of their first appearance, newest run first, with their names.
    std::vector<std::pair<QString, QString>> items;
    for (const history::RunHeader &h : runs) {
        int total = 0, findings = 0;
        for (const history::StoredItem &i : m_store->items(h.id)) {
            ++total;
            findings += i.status == history::ItemStatus::Checked && i.count > 0;
            if (std::none_of(items.begin(), items.end(), [&](const auto &p) { return p.first == i.code; }))
                items.emplace_back(i.code, i.name);
        }
        addRow(runsGrid, {QString::number(h.id), h.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
                         h.ended.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), h.operatorName, h.catalogue,
                         QString::number(total), QString::number(findings)});
        earlierRunBox->addItem(runLabel(h), h.id);
        laterRunBox->addItem(runLabel(h), h.id);
    }
    runsGrid->resizeColumnsToContents();
    std::sort(items.begin(), items.end());
    int n = 0;
    for (const auto &[code, name] : items) {
        auto points = m_store->trend(m_serverName, m_database, code);
        if (points.empty())
            continue;   // never checked: errors or not run
        auto *box = new QWidget(charts->parentWidget());
        auto *v = new QVBoxLayout(box);
        v->setContentsMargins(2, 2, 2, 2);
        v->addWidget(new QLabel(QStringLiteral("%1 %2").arg(code, name), box));
        auto *chart = new TrendChart(box);
        chart->setObjectName(QStringLiteral("trend_") + code);
        chart->setMinimumHeight(110);
        chart->setData(std::move(points), m_store->repairs(m_database, code));
        v->addWidget(chart);
        charts->addWidget(box, n / 3, n % 3);
        ++n;
    }
    if (runs.size() >= 2) {
        laterRunBox->setCurrentIndex(0);
        earlierRunBox->setCurrentIndex(1);
        compare(runs[1].id, runs[0].id);
    }
}

void HistoryWindow::compare(qint64 earlierRun, qint64 laterRun)
{
    m_earlier = earlierRun;
    m_later = laterRun;
    rowsOf(comparisonGrid)->setRowCount(0);
    const auto earlier = m_store->run(earlierRun);
    std::map<QString, history::StoredItem> before;
    for (const history::StoredItem &i : m_store->items(earlierRun))
        before.emplace(i.code, i);
    auto cell = [](const history::StoredItem &i) {
        switch (i.status) {
        case history::ItemStatus::Checked: return QString::number(i.count);
        case history::ItemStatus::Error: return QStringLiteral("出错");
        case history::ItemStatus::Cancelled: return QStringLiteral("已取消");
        case history::ItemStatus::NotChecked: break;
        }
        return QStringLiteral("未检查");
    };
    for (const history::StoredItem &i : m_store->items(laterRun)) {
        const auto b = before.find(i.code);
        QString change;
        if (i.status == history::ItemStatus::Checked) {
            if (!earlier || b == before.end() || b->second.status != history::ItemStatus::Checked) {
                change = QStringLiteral("首次检查");
            } else {
                change = history::compareFingerprints(*earlier, b->second.count, m_store->fingerprints(earlierRun, i.code),
                                                      b->second.complete, m_store->fingerprints(laterRun, i.code), i.complete)
                             .text();
            }
        }
        addRow(comparisonGrid, {i.code, i.name, b == before.end() ? QString() : cell(b->second), cell(i), change});
    }
    comparisonGrid->resizeColumnsToContents();
}

void HistoryWindow::openRows(int row)
{
    const QStandardItem *cell = rowsOf(comparisonGrid)->item(row, 0);
    if (!cell || !m_earlier || !m_later)
        return;
    const QString code = cell->text();
    const history::RowDiff d = history::diffRuns(*m_store, m_earlier, m_later, code);
    auto *w = new RowDiffWindow(QStringLiteral("%1 新增与消除的行").arg(code), d, this);
    w->show();
}

TrendChart *HistoryWindow::chart(const QString &code) const
{
    return findChild<TrendChart *>(QStringLiteral("trend_") + code);
}

} // namespace vireo
