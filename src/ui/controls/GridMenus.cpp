#include "GridMenus.h"
#include "Export.h"
#include "MessageBoxes.h"
#include "ResultGrid.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableView>
#include <QWidgetAction>

namespace vireo {

namespace {

SaveDialog &saveDialogHook()
{
    static SaveDialog d;
    return d;
}

// Holds a grid's 导出当前视图… action.
class GridMenus : public QObject {
public:
    explicit GridMenus(QTableView *view) : QObject(view) { setObjectName(QStringLiteral("vireoGridMenus")); }
    std::function<void()> exportView;
};

GridMenus *menusOf(const QTableView *view)
{
    return view->findChild<GridMenus *>(QStringLiteral("vireoGridMenus"), Qt::FindDirectChildrenOnly);
}

QString fileNamePart(QString s)
{
    static const QString bad = QStringLiteral("\\/:*?\"<>|\t\r\n");
    for (QChar &c : s)
        if (bad.contains(c))
            c = QLatin1Char('_');
    return s.trimmed();
}

bool anyRowShown(const QTableView *view)
{
    for (int r = 0; view->model() && r < view->model()->rowCount(); ++r)
        if (!view->isRowHidden(r))
            return true;
    return false;
}

// The default 导出当前视图…: the view's texts to a workbook in the documents folder.
void exportViewTexts(QTableView *view)
{
    QString title = fileNamePart(view->window()->windowTitle());
    if (title.isEmpty())
        title = QStringLiteral("导出");
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = QDir(folder.isEmpty() ? QDir::homePath() : folder)
                                  .filePath(title + QLatin1Char('_') + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmm"))
                                            + QStringLiteral(".xlsx"));
    auto rows = std::make_shared<db::Recordset>(viewAsRecordset(view));
    QWidget *parent = view->window();
    askExportFile(parent, suggested, [parent, rows](const QString &path) {
        if (path.isEmpty())
            return;
        const QString error = exportRecordset(*rows, path);
        if (error.isEmpty())
            showMessageBox(parent, QMessageBox::Information, QString(),
                           QStringLiteral("已成功导出当前视图的 %1 行：\n\n%2").arg(rows->rowCount()).arg(QDir::toNativeSeparators(path)));
        else
            showMessageBox(parent, QMessageBox::Critical, QStringLiteral("导出"), QStringLiteral("未成功导出！\n") + error);
    });
}

// A grid's menu closes when what it was opened on changes under it: its columns (a reload) and,
// for the cell menu, its rows too (a re-check updating the summary), so that no action of it
// works on other cells than those it was opened on.
void closeWhenGridChanges(QMenu *menu, const QAbstractItemModel *model, bool rowsToo)
{
    if (!model)
        return;
    const auto close = [menu] { menu->close(); };
    QObject::connect(model, &QAbstractItemModel::modelReset, menu, close);
    QObject::connect(model, &QAbstractItemModel::columnsRemoved, menu, close);
    if (!rowsToo)
        return;
    QObject::connect(model, &QAbstractItemModel::dataChanged, menu, close);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, menu, close);
    QObject::connect(model, &QAbstractItemModel::rowsRemoved, menu, close);
}

void showCellMenu(QTableView *view, const QPoint &pos)
{
    const QModelIndex at = view->indexAt(pos);
    GridProxy *proxy = gridProxy(view);
    // A right click outside the selection selects the cell (or row) under the mouse first.
    if (at.isValid() && !view->selectionModel()->isSelected(at)) {
        const auto how = view->selectionBehavior() == QAbstractItemView::SelectRows ? QItemSelectionModel::Rows
                                                                                   : QItemSelectionModel::NoUpdate;
        view->selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | how);
    }
    auto *menu = new QMenu(view);
    menu->setObjectName(QStringLiteral("gridMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const bool any = view->selectionModel()->hasSelection();
    QAction *copy = menu->addAction(QStringLiteral("复制"), view, [view] {
        QApplication::clipboard()->setText(selectionAsTsv(view, true));
    });
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(any);
    menu->addAction(QStringLiteral("复制（不含列名）"), view, [view] {
        QApplication::clipboard()->setText(selectionAsTsv(view, false));
    })->setEnabled(any);
    const int column = at.column();
    menu->addAction(QStringLiteral("复制本列"), view, [view, column] {
        QApplication::clipboard()->setText(columnAsLines(view, column));
    })->setEnabled(at.isValid());
    menu->addSeparator();
    if (proxy) {
        const QString value = at.data().toString();
        QAction *byValue = menu->addAction(QStringLiteral("按此值筛选"), view, [proxy, column, value] {
            proxy->setColumnFilter(column, value.isEmpty() ? ColumnFilter{ColumnFilter::Empty, {}}
                                                           : ColumnFilter{ColumnFilter::Equals, value});
        });
        byValue->setEnabled(at.isValid());
        menu->addAction(QStringLiteral("清除筛选"), proxy, &GridProxy::clearFilters)->setEnabled(proxy->hasFilters());
        menu->addSeparator();
    }
    menu->addAction(QStringLiteral("导出当前视图…"), view, [view] {
        GridMenus *m = menusOf(view);
        if (m && m->exportView)
            m->exportView();
        else
            exportViewTexts(view);
    })->setEnabled(anyRowShown(view));
    closeWhenGridChanges(menu, view->model(), true);
    menu->popup(view->viewport()->mapToGlobal(pos));
}

void showHeaderMenu(QTableView *view, const QPoint &pos)
{
    GridProxy *proxy = gridProxy(view);
    const int column = view->horizontalHeader()->logicalIndexAt(pos);
    if (!proxy || column < 0)
        return;
    const ColumnFilter current = proxy->columnFilter(column);
    auto *menu = new QMenu(view);
    menu->setObjectName(QStringLiteral("columnFilterMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setTitle(QStringLiteral("筛选“%1”").arg(proxy->headerData(column, Qt::Horizontal).toString()));

    // 包含 / 等于 a text typed into the menu; Enter applies it.
    auto *line = new QWidget(menu);
    auto *lay = new QHBoxLayout(line);
    lay->setContentsMargins(8, 3, 8, 3);
    auto *how = new QComboBox(line);
    how->setObjectName(QStringLiteral("filterKind"));
    how->addItem(QStringLiteral("包含"), int(ColumnFilter::Contains));
    how->addItem(QStringLiteral("等于"), int(ColumnFilter::Equals));
    how->setCurrentIndex(current.kind == ColumnFilter::Equals ? 1 : 0);
    // Never takes the focus: after a choice in its list the text keeps it, and Enter applies.
    how->setFocusPolicy(Qt::NoFocus);
    auto *text = new QLineEdit(line);
    text->setObjectName(QStringLiteral("filterText"));
    text->setPlaceholderText(QStringLiteral("文字，回车筛选"));
    text->setMinimumWidth(140);
    if (current.kind == ColumnFilter::Contains || current.kind == ColumnFilter::Equals)
        text->setText(current.text);
    lay->addWidget(new QLabel(menu->title(), line));
    lay->addWidget(how);
    lay->addWidget(text, 1);
    auto *edit = new QWidgetAction(menu);
    edit->setDefaultWidget(line);
    menu->addAction(edit);
    QObject::connect(text, &QLineEdit::returnPressed, menu, [proxy, column, how, text, menu] {
        const auto kind = ColumnFilter::Kind(how->currentData().toInt());
        proxy->setColumnFilter(column, text->text().isEmpty() ? ColumnFilter{} : ColumnFilter{kind, text->text()});
        menu->close();
    });
    menu->addSeparator();
    for (const auto kind : {ColumnFilter::Empty, ColumnFilter::NotEmpty}) {
        QAction *a = menu->addAction(ColumnFilter{kind, {}}.description(), proxy, [proxy, column, kind] {
            proxy->setColumnFilter(column, ColumnFilter{kind, {}});
        });
        a->setCheckable(true);
        a->setChecked(current.kind == kind);
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("清除本列筛选"), proxy, [proxy, column] { proxy->setColumnFilter(column, {}); })
        ->setEnabled(current.kind != ColumnFilter::None);
    menu->addAction(QStringLiteral("清除全部筛选"), proxy, &GridProxy::clearFilters)->setEnabled(proxy->hasFilters());
    closeWhenGridChanges(menu, proxy, false);
    // Below the header, so that the column's name and its funnel stay in sight.
    menu->popup(view->horizontalHeader()->viewport()->mapToGlobal(QPoint(pos.x(), view->horizontalHeader()->height())));
    text->setFocus();
}

} // namespace

GridProxy *gridProxy(const QTableView *view)
{
    return qobject_cast<GridProxy *>(view->model());
}

void addGridMenus(QTableView *view)
{
    if (menusOf(view))
        return;
    new GridMenus(view);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(view, &QWidget::customContextMenuRequested, view, [view](const QPoint &pos) { showCellMenu(view, pos); });
    QHeaderView *header = view->horizontalHeader();
    header->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(header, &QWidget::customContextMenuRequested, view, [view](const QPoint &pos) { showHeaderMenu(view, pos); });
}

void setViewExport(QTableView *view, std::function<void()> exportView)
{
    addGridMenus(view);
    menusOf(view)->exportView = std::move(exportView);
}

db::Recordset viewAsRecordset(const QTableView *view)
{
    const QAbstractItemModel *model = view->model();
    if (!model)
        return {};
    static const QRegularExpression whole(QStringLiteral("^-?(0|[1-9][0-9]{0,14})$"));
    static const QRegularExpression decimal(QStringLiteral("^-?(0|[1-9][0-9]{0,14})\\.[0-9]{1,15}$"));
    std::vector<int> columns;
    for (int c = 0; c < model->columnCount(); ++c)
        if (!view->isColumnHidden(c))
            columns.push_back(c);
    std::vector<int> rows;
    for (int r = 0; r < model->rowCount(); ++r)
        if (!view->isRowHidden(r))
            rows.push_back(r);
    std::vector<db::Column> meta;
    for (int c : columns) {
        bool integers = true, numbers = true, anyValue = false;
        for (int r : rows) {
            const QString t = model->index(r, c).data().toString();
            if (t.isEmpty())
                continue;
            anyValue = true;
            const bool isWhole = whole.match(t).hasMatch();
            integers = integers && isWhole;
            numbers = numbers && (isWhole || decimal.match(t).hasMatch());
        }
        const db::ColumnType type = !anyValue ? db::ColumnType::Text
                                    : integers ? db::ColumnType::Integer
                                    : numbers  ? db::ColumnType::Decimal
                                               : db::ColumnType::Text;
        meta.push_back({model->headerData(c, Qt::Horizontal).toString(), type});
    }
    db::Recordset rs(meta);
    for (int r : rows) {
        for (size_t i = 0; i < columns.size(); ++i) {
            const QString t = model->index(r, columns[i]).data().toString();
            if (meta[i].type == db::ColumnType::Integer && !t.isEmpty())
                rs.appendInteger(int(i), t.toLongLong());
            else if (meta[i].type != db::ColumnType::Text && t.isEmpty())
                rs.appendNull(int(i));
            else
                rs.appendText(int(i), t);
        }
        rs.endRow();
    }
    return rs;
}

QStringList workbookFilters()
{
    return {QStringLiteral("Excel 工作簿 (*.xlsx)"), QStringLiteral("MS Excel Spreadsheet (*.xls)")};
}

void setExportSaveDialog(SaveDialog dialog) { saveDialogHook() = std::move(dialog); }

void askExportFile(QWidget *parent, const QString &suggested, const std::function<void(const QString &)> &chosen)
{
    const QStringList filters = workbookFilters();
    if (const SaveDialog &answer = saveDialogHook()) {
        chosen(answer(parent, suggested, filters));
        return;
    }
    auto *dlg = new QFileDialog(parent, QStringLiteral("另存为"), suggested);
    dlg->setAttribute(Qt::WA_DeleteOnClose);
    dlg->setAcceptMode(QFileDialog::AcceptSave);
    dlg->setFileMode(QFileDialog::AnyFile);
    dlg->setNameFilters(filters);
    dlg->selectNameFilter(filters.value(0));
    dlg->setDefaultSuffix(QStringLiteral("xlsx"));
    QObject::connect(dlg, &QFileDialog::filterSelected, dlg, [dlg](const QString &filter) {
        dlg->setDefaultSuffix(filter.contains(QLatin1String("*.xlsx")) ? QStringLiteral("xlsx") : QStringLiteral("xls"));
    });
    QObject::connect(dlg, &QDialog::finished, parent, [dlg, chosen](int result) {
        chosen(result == QDialog::Accepted ? dlg->selectedFiles().value(0) : QString());
    });
    dlg->open();
}

} // namespace vireo
