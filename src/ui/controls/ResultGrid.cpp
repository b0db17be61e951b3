#include "ResultGrid.h"
#include "GridMenus.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QSettings>
#include <QCollator>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QTableView>
#include <QIcon>
#include <QPen>
#include <QPolygonF>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>
#include <set>

namespace vireo {

namespace {

bool isNumberType(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::LongLong: case QMetaType::ULongLong:
    case QMetaType::Double: case QMetaType::Float: case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

bool asNumber(const QVariant &v, double &out)
{
    if (isNumberType(v)) {
        out = v.toDouble();
        return true;
    }
    if (v.typeId() != QMetaType::QString)
        return false;
    const QString s = v.toString().trimmed();
    if (s.isEmpty())
        return false;
    bool ok = false;
    out = s.toDouble(&ok);
    return ok && std::isfinite(out);   // "nan" and "inf" are texts
}

// Dates and texts become wall-clock values in UTC, as a recordset's date and time values are.
bool asDateTime(const QVariant &v, QDateTime &out)
{
    if (v.typeId() == QMetaType::QDateTime) {
        out = v.toDateTime();
        return true;
    }
    if (v.typeId() == QMetaType::QDate) {
        out = v.toDate().startOfDay(Qt::UTC);
        return true;
    }
    if (v.typeId() != QMetaType::QString)
        return false;
    // Only texts that start like a date are tried: yyyy-m-d or yyyy/m/d, with an optional time.
    const QString s = v.toString().trimmed();
    if (s.size() < 8 || s.size() > 26 || !s[0].isDigit() || !(s[4] == QLatin1Char('-') || s[4] == QLatin1Char('/')))
        return false;
    QString t = s;
    t.replace(QLatin1Char('/'), QLatin1Char('-'));
    for (const char *f : {"yyyy-M-d H:mm:ss.zzz", "yyyy-M-d H:mm:ss", "yyyy-M-d H:mm", "yyyy-M-dTH:mm:ss", "yyyy-M-d"}) {
        out = QDateTime::fromString(t, QLatin1String(f));
        if (out.isValid()) {
            out = QDateTime(out.date(), out.time(), Qt::UTC);
            return true;
        }
    }
    return false;
}

int compareNumbers(double a, double b) { return a < b ? -1 : (b < a ? 1 : 0); }

bool isHanAt(const QString &s, qsizetype i)
{
    char32_t c = s[i].unicode();
    if (s[i].isHighSurrogate() && i + 1 < s.size())
        c = QChar::surrogateToUcs4(s[i], s[i + 1]);
    return QChar::script(c) == QChar::Script_Han;
}

// The end of the run of Chinese characters (han) or of other characters that starts at i.
qsizetype runEnd(const QString &s, qsizetype i, bool han)
{
    while (i < s.size() && isHanAt(s, i) == han)
        i += s[i].isHighSurrogate() && i + 1 < s.size() ? 2 : 1;
    return i;
}

// Chinese by pinyin (ICU's collation for zh_CN), letter case ignored, digit runs compared by value.
// That collation puts Chinese before Latin; here, as in the database's and spreadsheets' Chinese
// orders, other characters come before Chinese: the texts compare run by run (Chinese or not).
// Texts the collation holds equal keep a fixed order by their code units.
int compareTexts(const QString &a, const QString &b)
{
    static thread_local const QCollator pinyin = [] {
        QCollator c(QLocale(QLocale::Chinese, QLocale::China));
        c.setNumericMode(true);
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool hanA = isHanAt(a, i), hanB = isHanAt(b, j);
        if (hanA != hanB)
            return hanA ? 1 : -1;
        const qsizetype endA = runEnd(a, i, hanA), endB = runEnd(b, j, hanB);
        const int r = pinyin.compare(QStringView(a).sliced(i, endA - i), QStringView(b).sliced(j, endB - j));
        if (r)
            return r < 0 ? -1 : 1;
        i = endA;
        j = endB;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool isEmptyCell(const QVariant &v)
{
    return !v.isValid() || v.isNull() || (v.typeId() == QMetaType::QString && v.toString().isEmpty());
}

// A cell as spreadsheets paste it: one with a tab, line break or quote goes in quotes, its quotes doubled.
QString tsvField(QString s)
{
    static const QRegularExpression special(QStringLiteral("[\t\r\n\"]"));
    if (!s.contains(special))
        return s;
    return QLatin1Char('"') + s.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// Ctrl+C, Ctrl+A and Shift+F10 on a grid.
class GridKeys : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::ShortcutOverride)
            return false;
        auto *k = static_cast<QKeyEvent *>(e);
        auto *view = qobject_cast<QAbstractItemView *>(o);
        if (!view)
            return false;
        // The platform turns only the Menu key into a context menu request; the same request, at
        // the current cell (viewport coordinates, as Qt gives it for the Menu key).
        if (e->type() == QEvent::KeyPress && k->key() == Qt::Key_F10 && k->modifiers() == Qt::ShiftModifier) {
            const QPoint at = view->visualRect(view->currentIndex()).center();
            QContextMenuEvent menu(QContextMenuEvent::Keyboard, at, view->viewport()->mapToGlobal(at));
            QApplication::sendEvent(view, &menu);
            return true;
        }
        if (k->matches(QKeySequence::Copy)) {
            if (e->type() == QEvent::ShortcutOverride) {
                e->accept();
                return true;
            }
            QApplication::clipboard()->setText(selectionAsTsv(view));
            return true;
        }
        if (k->matches(QKeySequence::SelectAll)) {
            if (e->type() == QEvent::ShortcutOverride) {
                e->accept();
                return true;
            }
            view->selectAll();
            return true;
        }
        return false;
    }
};

class KeyBinding : public QObject {
public:
    KeyBinding(QWidget *w, const QKeySequence &key, std::function<void()> f) : QObject(w), m_key(key), m_f(std::move(f)) {}
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() != QEvent::KeyPress && e->type() != QEvent::ShortcutOverride)
            return false;
        auto *k = static_cast<QKeyEvent *>(e);
        if (QKeySequence(k->keyCombination()) != m_key)
            return false;
        if (e->type() == QEvent::ShortcutOverride)
            e->accept();
        else
            m_f();
        return true;
    }

private:
    QKeySequence m_key;
    std::function<void()> m_f;
};

class ResizeWatch : public QObject {
public:
    ResizeWatch(QWidget *w, std::function<void(const QSize &)> f) : QObject(w), m_f(std::move(f)) {}
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Resize)
            m_f(static_cast<QWidget *>(o)->size());
        return false;
    }

private:
    std::function<void(const QSize &)> m_f;
};

QSettings windowSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vireo"), QStringLiteral("VireoWindows"));
}

} // namespace

int compareCells(const QVariant &a, const QVariant &b)
{
    const bool ea = isEmptyCell(a), eb = isEmptyCell(b);
    if (ea || eb)
        return ea == eb ? 0 : (ea ? -1 : 1);
    // Numbers before dates before texts, so that a column mixing them has one order.
    double x = 0, y = 0;
    const bool numberA = asNumber(a, x), numberB = asNumber(b, y);
    if (numberA || numberB)
        return numberA && numberB ? compareNumbers(x, y) : (numberA ? -1 : 1);
    QDateTime p, q;
    const bool dateA = asDateTime(a, p), dateB = asDateTime(b, q);
    if (dateA || dateB)
        return dateA && dateB ? (p < q ? -1 : (q < p ? 1 : 0)) : (dateA ? -1 : 1);
    return compareTexts(a.toString(), b.toString());
}

bool ColumnFilter::accepts(const QString &cell) const
{
    switch (kind) {
    case None: return true;
    case Contains: return cell.contains(text, Qt::CaseInsensitive);
    case Equals: return cell == text;
    case Empty: return cell.isEmpty();
    case NotEmpty: return !cell.isEmpty();
    }
    return true;
}

QString ColumnFilter::description() const
{
    switch (kind) {
    case None: break;
    case Contains: return QStringLiteral("包含“%1”").arg(text);
    case Equals: return QStringLiteral("等于“%1”").arg(text);
    case Empty: return QStringLiteral("为空");
    case NotEmpty: return QStringLiteral("不为空");
    }
    return {};
}

GridProxy::GridProxy(QObject *parent) : QSortFilterProxyModel(parent)
{
    setSortRole(Qt::UserRole);
    setFilterKeyColumn(-1);
    setFilterCaseSensitivity(Qt::CaseInsensitive);
    setDynamicSortFilter(true);
}

void GridProxy::setSourceModel(QAbstractItemModel *source)
{
    disconnect(m_resetWatch);
    m_columns.clear();
    QSortFilterProxyModel::setSourceModel(source);
    if (source)
        m_resetWatch = connect(source, &QAbstractItemModel::modelReset, this, &GridProxy::dropStaleColumnFilters);
}

// After a reset a column filter stays only while its column keeps its name.
void GridProxy::dropStaleColumnFilters()
{
    bool dropped = false;
    for (auto i = m_columns.begin(); i != m_columns.end();) {
        if (i->first >= columnCount() || sourceModel()->headerData(i->first, Qt::Horizontal).toString() != i->second.header) {
            i = m_columns.erase(i);
            dropped = true;
        } else {
            ++i;
        }
    }
    if (dropped)
        invalidateRowsFilter();
}

void GridProxy::setQuickFilter(const QString &text)
{
    if (text == m_quick)
        return;
    m_quick = text;
    setFilterFixedString(text);
    emit quickFilterChanged(text);
}

void GridProxy::setColumnFilter(int column, const ColumnFilter &filter)
{
    if (!sourceModel() || column < 0 || column >= sourceModel()->columnCount())
        return;
    if (filter.kind == ColumnFilter::None)
        m_columns.erase(column);
    else
        m_columns[column] = {filter, sourceModel()->headerData(column, Qt::Horizontal).toString()};
    invalidateRowsFilter();
    emit headerDataChanged(Qt::Horizontal, column, column);
}

ColumnFilter GridProxy::columnFilter(int column) const
{
    const auto i = m_columns.find(column);
    return i == m_columns.end() ? ColumnFilter{} : i->second.filter;
}

void GridProxy::clearFilters()
{
    const bool hadColumns = !m_columns.empty();
    m_columns.clear();
    setQuickFilter(QString());
    if (hadColumns) {
        invalidateRowsFilter();
        emit headerDataChanged(Qt::Horizontal, 0, std::max(0, columnCount() - 1));
    }
}

std::vector<int> GridProxy::sourceRowsShown() const
{
    std::vector<int> rows;
    rows.reserve(size_t(rowCount()));
    for (int r = 0; r < rowCount(); ++r)
        rows.push_back(mapToSource(index(r, 0)).row());
    return rows;
}

bool GridProxy::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    for (const auto &[column, f] : m_columns)
        if (!f.filter.accepts(sourceModel()->index(sourceRow, column, sourceParent).data().toString()))
            return false;
    return QSortFilterProxyModel::filterAcceptsRow(sourceRow, sourceParent);
}

namespace {
// A small funnel for the header of a filtered column.
QIcon funnelIcon()
{
    static const QIcon icon = [] {
        QPixmap p(12, 12);
        p.fill(Qt::transparent);
        QPainter g(&p);
        g.setRenderHint(QPainter::Antialiasing);
        g.setPen(QPen(QColor(0x1f, 0x4e, 0x8c), 1));
        g.setBrush(QColor(0x4a, 0x78, 0xb0));
        g.drawPolygon(QPolygonF({QPointF(0.5, 1.5), QPointF(11.5, 1.5), QPointF(7, 6.5), QPointF(7, 11), QPointF(5, 10),
                                 QPointF(5, 6.5)}));
        return QIcon(p);
    }();
    return icon;
}
} // namespace

QVariant GridProxy::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && (role == Qt::DecorationRole || role == Qt::ToolTipRole)) {
        const auto i = m_columns.find(section);
        if (i != m_columns.end())
            return role == Qt::DecorationRole ? QVariant(funnelIcon())
                                              : QVariant(QStringLiteral("筛选：") + i->second.filter.description());
    }
    return QSortFilterProxyModel::headerData(section, orientation, role);
}

bool GridProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    QVariant a = left.data(sortRole()), b = right.data(sortRole());
    if (!a.isValid() && !b.isValid()) {
        a = left.data(Qt::DisplayRole);
        b = right.data(Qt::DisplayRole);
    }
    const int c = compareCells(a, b);
    // Equal cells keep their original order.
    return c != 0 ? c < 0 : left.row() < right.row();
}

void makeResultGrid(QTableView *view)
{
    QHeaderView *header = view->horizontalHeader();
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorClearable(true);
    view->setSortingEnabled(true);
    header->setSectionsClickable(true);
    if (view->selectionMode() == QAbstractItemView::SingleSelection)
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->installEventFilter(new GridKeys(view));
    if (gridProxy(view))
        addGridMenus(view);
}

QString selectionAsTsv(const QAbstractItemView *view, bool withHeader)
{
    const QAbstractItemModel *model = view->model();
    if (!model || !view->selectionModel())
        return {};
    const QModelIndexList selected = view->selectionModel()->selectedIndexes();
    std::set<int> rows;
    std::set<std::pair<int, int>> cells;
    std::vector<int> cols;
    auto *table = qobject_cast<const QTableView *>(view);
    for (const QModelIndex &i : selected) {
        if (table && (table->isColumnHidden(i.column()) || table->isRowHidden(i.row())))
            continue;
        rows.insert(i.row());
        cells.insert({i.row(), i.column()});
        if (std::find(cols.begin(), cols.end(), i.column()) == cols.end())
            cols.push_back(i.column());
    }
    if (rows.empty())
        return {};
    // Columns in the order shown.
    if (table)
        std::sort(cols.begin(), cols.end(), [table](int x, int y) {
            return table->horizontalHeader()->visualIndex(x) < table->horizontalHeader()->visualIndex(y);
        });
    QStringList lines, fields;
    if (withHeader) {
        for (int c : cols)
            fields << tsvField(model->headerData(c, Qt::Horizontal).toString());
        lines << fields.join(QLatin1Char('\t'));
    }
    for (int r : rows) {
        fields.clear();
        for (int c : cols)
            fields << (cells.count({r, c}) ? tsvField(model->index(r, c).data().toString()) : QString());
        lines << fields.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString columnAsLines(const QAbstractItemView *view, int column)
{
    const QAbstractItemModel *model = view->model();
    if (!model || column < 0 || column >= model->columnCount())
        return {};
    auto *table = qobject_cast<const QTableView *>(view);
    QString out;
    for (int r = 0; r < model->rowCount(); ++r)
        if (!table || !table->isRowHidden(r))
            out += tsvField(model->index(r, column).data().toString()) + QLatin1Char('\n');
    return out;
}

void fitColumnsToContent(QTableView *view, int sampleRows, int maxWidth)
{
    const QAbstractItemModel *model = view->model();
    if (!model)
        return;
    QHeaderView *header = view->horizontalHeader();
    const QFontMetrics cellMetrics(view->font());
    const QFontMetrics headerMetrics(header->font());
    const int rows = std::min(model->rowCount(), sampleRows);
    // Cell padding of the style, and room for the sort arrow in the header.
    const int pad = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) + 6;
    for (int c = 0; c < model->columnCount(); ++c) {
        if (header->isSectionHidden(c) || header->sectionSize(c) == 0)
            continue;
        int want = headerMetrics.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString()) + pad + 14;
        for (int r = 0; r < rows && want < maxWidth; ++r)
            want = std::max(want, cellMetrics.horizontalAdvance(model->index(r, c).data().toString()) + pad);
        want = std::min(want, maxWidth);
        if (want > header->sectionSize(c))
            header->resizeSection(c, want);
    }
}

void bindKey(QWidget *w, const QKeySequence &key, std::function<void()> f)
{
    w->installEventFilter(new KeyBinding(w, key, std::move(f)));
}

void whenResized(QWidget *w, std::function<void(const QSize &size)> f)
{
    w->installEventFilter(new ResizeWatch(w, std::move(f)));
}

void restoreWindowGeometry(QWidget *window, const QString &key)
{
    const QByteArray g = windowSettings().value(key + QStringLiteral("/geometry")).toByteArray();
    if (!g.isEmpty())
        window->restoreGeometry(g);
}

void saveWindowGeometry(const QWidget *window, const QString &key)
{
    QSettings s = windowSettings();
    s.setValue(key + QStringLiteral("/geometry"), window->saveGeometry());
}

QByteArray loadLayoutState(const QString &key)
{
    return windowSettings().value(key + QStringLiteral("/state")).toByteArray();
}

void saveLayoutState(const QString &key, const QByteArray &state)
{
    QSettings s = windowSettings();
    s.setValue(key + QStringLiteral("/state"), state);
}

} // namespace vireo
