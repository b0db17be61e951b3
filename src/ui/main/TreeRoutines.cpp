#include "TreeRoutines.h"
#include "CatalogueTree.h"
#include "QueryHelpers.h"
#include "Session.h"
#include <QSet>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace vireo {

QString nodeKey(const QTreeWidgetItem *node)
{
    return node ? node->data(0, NodeKeyRole).toString() : QString();
}

bool nodeChecked(const QTreeWidgetItem *node)
{
    return node && node->checkState(0) == Qt::Checked;
}

QTreeWidgetItem *findNode(QTreeWidget *tree, const QString &key)
{
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if (nodeKey(*it) == key)
            return *it;
    return nullptr;
}

void loadTree(const QString &parentId, const QString &relativeKey, QTreeWidget *tree, const QString &table,
              db::Connection *catalog)
{
    const QSignalBlocker quiet(tree);
    QSet<QString> keys;
    QTreeWidgetItem *parent = nullptr;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        keys.insert(nodeKey(*it));
        if (!parentId.isEmpty() && nodeKey(*it) == relativeKey)
            parent = *it;
    }
    if (!parentId.isEmpty() && !parent)
        throw db::DbError(QStringLiteral("树中没有编码为“%1”的节点").arg(relativeKey));
    // The last node added at each depth: the parent of the rows one level deeper.
    std::vector<QTreeWidgetItem *> path{parent};
    const auto visit = [&](const CatalogueRow &row, int depth) {
        if (keys.contains(row.code))
            throw db::DbError(QStringLiteral("目录表 %1 中的编码“%2”不唯一").arg(table, row.code));
        keys.insert(row.code);
        QTreeWidgetItem *above = path[size_t(depth)];
        auto *node = above ? new QTreeWidgetItem(above) : new QTreeWidgetItem(tree);
        node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        node->setText(0, row.name);
        node->setData(0, NodeKeyRole, row.code);
        node->setCheckState(0, row.sign ? Qt::Checked : Qt::Unchecked);
        path.resize(size_t(depth) + 1);
        path.push_back(node);
    };
    walkCatalogue(catalog, table, visit, parentId);
}

void loadTree(const QString &parentId, const QString &relativeKey, QTreeWidget *tree, const QString &table)
{
    loadTree(parentId, relativeKey, tree, table, session().catalogConn.get());
}

void setSubtreeChecked(QTreeWidgetItem *node, bool checked, bool includeSiblings, bool includeChildren)
{
    if (!node)
        return;
    const QSignalBlocker quiet(node->treeWidget());
    // Iterative over the siblings so that a long sibling chain does not deepen the stack.
    for (; node;) {
        node->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        if (includeChildren && node->childCount() > 0)
            setSubtreeChecked(node->child(0), checked, true, true);
        if (!includeSiblings)
            break;
        QTreeWidgetItem *parent = node->parent();
        QTreeWidget *tree = node->treeWidget();
        if (parent)
            node = parent->child(parent->indexOfChild(node) + 1);
        else if (tree)
            node = tree->topLevelItem(tree->indexOfTopLevelItem(node) + 1);
        else
            node = nullptr;
    }
}

namespace {
void tickAll(QTreeWidget *tree, bool checked)
{
    const QSignalBlocker quiet(tree);
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        (*it)->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}
} // namespace

void tickAll(QTreeWidget *tree)
{
    tickAll(tree, true);
}

void untickAll(QTreeWidget *tree)
{
    tickAll(tree, false);
}

std::vector<TreeItemRef> treeNodesPreOrder(QTreeWidget *tree)
{
    std::vector<TreeItemRef> nodes;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        nodes.push_back({nodeKey(*it), (*it)->text(0), nodeChecked(*it)});
    return nodes;
}

} // namespace vireo
