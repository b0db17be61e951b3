#pragma once
#include "Recordset.h"
#include <QString>
#include <QStringList>
#include <functional>

class QTableView;
class QWidget;

namespace vireo {

class GridProxy;

// The context menus of a result grid (a table view over a GridProxy):
// - on a cell: 复制 (with the column names), 复制（不含列名）, 复制本列 (the clicked column of every row
//   shown), 按此值筛选 (the column equal to the cell, or empty), 清除筛选 (quick and column filters),
//   导出当前视图… (the rows shown, in the order shown);
// - on the header: the column's filter (包含 / 等于 a text, 为空, 不为空) and the removal of filters.
// The menus pop up and return at once; their actions run when chosen. A menu closes when the cells it
// was opened on change under it.
void addGridMenus(QTableView *view);
// What 导出当前视图… does on this grid; by default the view's texts go to a workbook the user names.
void setViewExport(QTableView *view, std::function<void()> exportView);

// The grid's proxy, or null when the view is over some other model.
GridProxy *gridProxy(const QTableView *view);

// The rows shown as a snapshot: the column names from the header and each cell's display text;
// a column whose every text is a whole number (without leading zeros) becomes an integer column,
// one of numbers with decimals a decimal column, any other a text column.
db::Recordset viewAsRecordset(const QTableView *view);

// Asks for a workbook's file name, window-modal: chosen gets it, or an empty name when cancelled.
void askExportFile(QWidget *parent, const QString &suggested, const std::function<void(const QString &)> &chosen);
QStringList workbookFilters();
// Replaces the file dialog (tests answer it): the parent, the suggested path and the name filters
// give the chosen name, empty for cancelled. An empty function restores the file dialog.
using SaveDialog = std::function<QString(QWidget *parent, const QString &suggested, const QStringList &filters)>;
void setExportSaveDialog(SaveDialog dialog);

} // namespace vireo
