#pragma once
#include <QSortFilterProxyModel>
#include <QString>
#include <QVariant>
#include <functional>
#include <map>
#include <vector>

class QKeySequence;
class QSize;

class QAbstractItemView;
class QTableView;
class QWidget;

namespace vireo {

// Orders two cell values the way users of result grids expect: NULL first, then numbers as numbers,
// dates as dates, and texts in pinyin order (Chinese as the zh_CN collation orders it, after Latin
// and digits; letter case ignored) with runs of digits compared as numbers. Negative, zero or positive.
int compareCells(const QVariant &a, const QVariant &b);

// A filter on one column's display texts.
struct ColumnFilter {
    enum Kind { None, Contains, Equals, Empty, NotEmpty };
    Kind kind = None;
    QString text;   // Contains (letter case ignored) and Equals (exact)

    bool accepts(const QString &cell) const;
    // "包含“有限”" and the like.
    QString description() const;
    bool operator==(const ColumnFilter &) const = default;
};

// A sorting and filtering view of a grid's rows. Sorting uses the source's Qt::UserRole value
// (the value as the database delivered it) when it has one, else the display text. A row is shown
// when any column's text contains the quick filter text (letter case ignored) and every column
// filter accepts its column's text. Filtered columns carry a funnel and the filter as tool tip in
// the header. Rows the source appends later are sorted and filtered as they arrive.
class GridProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit GridProxy(QObject *parent = nullptr);

    void setQuickFilter(const QString &text);
    QString quickFilter() const { return m_quick; }
    // A filter of kind None removes the column's filter.
    void setColumnFilter(int column, const ColumnFilter &filter);
    ColumnFilter columnFilter(int column) const;
    bool hasFilters() const { return !m_quick.isEmpty() || !m_columns.empty(); }
    // Removes the quick filter and every column filter.
    void clearFilters();
    // The source rows shown, in the order shown.
    std::vector<int> sourceRowsShown() const;

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void setSourceModel(QAbstractItemModel *source) override;

signals:
    void quickFilterChanged(const QString &text);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    void dropStaleColumnFilters();
    struct Filtered {
        ColumnFilter filter;
        QString header;   // the column's name when the filter was set
    };
    std::map<int, Filtered> m_columns;
    QString m_quick;
    QMetaObject::Connection m_resetWatch;
};

// Gives a table view the habits of common result grids: a header click sorts (again: the other
// way; a third click: back to the original order), Ctrl+C copies the selected cells with their
// headers as tab-separated text, Ctrl+A selects everything, Shift+F10 opens the context menu on the
// current cell as the Menu key does. A view over a GridProxy also gets the
// context menus of GridMenus.h.
void makeResultGrid(QTableView *view);

// The selected cells as tab-separated lines: a header line of the selected columns (when asked),
// then one line per selected row, in the order shown; a cell with a tab, line break or quote is
// quoted with its quotes doubled, so that spreadsheets paste it into one cell.
QString selectionAsTsv(const QAbstractItemView *view, bool withHeader = true);
// The texts of one column in every row shown, one per line, quoted the same way.
QString columnAsLines(const QAbstractItemView *view, int column);

// Widens each visible column to fit its header and the texts of the first sampleRows rows shown,
// at most maxWidth pixels; never narrows a column. Cut texts show in full in their tool tips.
void fitColumnsToContent(QTableView *view, int sampleRows = 200, int maxWidth = 320);

// Runs f when the key is pressed while w has the focus, ahead of w's own handling of it.
void bindKey(QWidget *w, const QKeySequence &key, std::function<void()> f);
// Runs f with the new size whenever w is resized.
void whenResized(QWidget *w, std::function<void(const QSize &size)> f);

// Remembers a window's size and position (and, for a splitter, its sizes) between sessions
// under the given key. Nothing else is written.
void restoreWindowGeometry(QWidget *window, const QString &key);
void saveWindowGeometry(const QWidget *window, const QString &key);
QByteArray loadLayoutState(const QString &key);
void saveLayoutState(const QString &key, const QByteArray &state);

} // namespace vireo
