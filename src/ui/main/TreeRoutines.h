#pragma once
#include "CheckRun.h"
#include "Connection.h"
#include <QString>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;

namespace vireo {

// Data role of a tree node that holds its key (the catalogue row's cCode).
constexpr int NodeKeyRole = Qt::UserRole + 1;

QString nodeKey(const QTreeWidgetItem *node);
bool nodeChecked(const QTreeWidgetItem *node);
// The node with this key, or null.
QTreeWidgetItem *findNode(QTreeWidget *tree, const QString &key);

// Adds to the tree the rows of the catalogue table whose parent is parentId (empty: the
// top-level rows), each with its whole subtree, below the node keyed relativeKey. Siblings come
// in cID order; a row with bSign true starts ticked. One query per row plus one. A failing query
// or a duplicate code throws db::DbError; the nodes added before stay.
void loadTree(const QString &parentId, const QString &relativeKey, QTreeWidget *tree, const QString &table,
              db::Connection *catalog);
// The same on the session's catalogue connection.
void loadTree(const QString &parentId, const QString &relativeKey, QTreeWidget *tree, const QString &table);

// Sets the node's tick and, as asked, the ticks of its descendants and its following siblings.
// Ticks set here do not reach the tree's itemChanged listeners.
void setSubtreeChecked(QTreeWidgetItem *node, bool checked, bool includeSiblings, bool includeChildren);

void tickAll(QTreeWidget *tree);
void untickAll(QTreeWidget *tree);

// The tree's nodes in their index order (pre-order) as the check run and the summary read them.
std::vector<TreeItemRef> treeNodesPreOrder(QTreeWidget *tree);

} // namespace vireo
