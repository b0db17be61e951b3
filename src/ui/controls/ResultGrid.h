#pragma once
#include <QSortFilterProxyModel>
#include <QString>
#include <QVariant>
#include <functional>

class QKeySequence;
class QSize;

class QAbstractItemView;
class QTableView;
class QWidget;

namespace vireo {

// Orders two cell values the way users of result grids expect: NULL first, numbers as numbers,
// dates as dates, and texts by their GB18030 bytes (the order of the Chinese collation the
// account databases use) with runs of digits compared as numbers. Negative, zero or positive.
int compareCells(const QVariant &a, const QVariant &b);

// A sorting and filtering view of a grid's rows. Sorting uses the source's Qt::UserRole value
// (the value as the database delivered it) when it has one, else the display text; the filter
// keeps the rows where any column's text contains the filter text, ignoring letter case.
// Rows the source appends later are sorted and filtered as they arrive.
class GridProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit GridProxy(QObject *parent = nullptr);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};

// Gives a table view the habits of common result grids: a header click sorts (again: the other
// way; a third click: back to the original order), Ctrl+C copies the selected cells with their
// headers as tab-separated text, Ctrl+A selects everything.
void makeResultGrid(QTableView *view);

// The selected cells as tab-separated lines: a header line of the selected columns, then one line
// per selected row, in the order shown. Tabs and line breaks inside cells become blanks.
QString selectionAsTsv(const QAbstractItemView *view);

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
