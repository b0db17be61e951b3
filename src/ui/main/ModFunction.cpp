#include "ModFunction.h"
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

namespace {

QString childrenQuery(const QString &table, const QString &parentId)
{
    if (parentId.isEmpty())
        return QStringLiteral("select * from ") + table + QStringLiteral(" where cParentID is null order by cID");
    return QStringLiteral("select * from ") + table + QStringLiteral(" where cParentID='") + parentId
           + QStringLiteral("' order by cID");
}

struct TreeLoader {
    QTreeWidget *tree;
    QString table;
    db::Connection *catalog;
    QSet<QString> keys;

    void load(const QString &parentId, QTreeWidgetItem *parent, int depth)
    {
        // A cParentID chain that loops back would recurse without end.
        if (depth > 256)
            throw db::DbError(QStringLiteral("目录表 %1 的层级过深（可能存在循环引用）").arg(table));
        const db::Recordset rs = catalog->query(childrenQuery(table, parentId));
        if (rs.isEmpty())
            return;
        const int id = rs.columnIndex(QStringLiteral("cID"));
        const int code = rs.columnIndex(QStringLiteral("cCode"));
        const int name = rs.columnIndex(QStringLiteral("cName"));
        const int sign = rs.columnIndex(QStringLiteral("bSign"));
        if (id < 0 || code < 0 || name < 0 || sign < 0)
            throw db::DbError(QStringLiteral("目录表 %1 缺少 cID、cCode、cName 或 bSign 列").arg(table));
        for (qint64 r = 0; r < rs.rowCount(); ++r) {
            const QString key = rs.text(r, code);
            if (keys.contains(key))
                throw db::DbError(QStringLiteral("目录表 %1 中的编码“%2”不唯一").arg(table, key));
            keys.insert(key);
            auto *node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
            node->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            node->setText(0, rs.text(r, name));
            node->setData(0, NodeKeyRole, key);
            node->setCheckState(0, isTrue(rs.value(r, sign)) ? Qt::Checked : Qt::Unchecked);
            load(rs.text(r, id), node, depth + 1);
        }
    }
};

} // namespace

void LoadTree(const QString &parentId, const QString &relativeKey, QTreeWidget *tree, const QString &table,
              db::Connection *catalog)
{
    if (!catalog)
        throw db::DbError(QStringLiteral("没有打开的目录数据库（VUZ.mdb）"));
    const QSignalBlocker quiet(tree);
    TreeLoader loader{tree, table, catalog, {}};
    QTreeWidgetItem *parent = nullptr;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        loader.keys.insert(nodeKey(*it));
        if (!parentId.isEmpty() && nodeKey(*it) == relativeKey)
            parent = *it;
    }
    if (!parentId.isEmpty() && !parent)
        throw db::DbError(QStringLiteral("树中没有编码为“%1”的节点").arg(relativeKey));
    loader.load(parentId, parent, 0);
}

void LoadTree(const QString &parentId, const QString &relativeKey, QTreeWidget *tree, const QString &table)
{
    LoadTree(parentId, relativeKey, tree, table, session().catalogConn.get());
}

void SetSubtreeChecked(QTreeWidgetItem *node, bool checked, bool includeSiblings, bool includeChildren)
{
    if (!node)
        return;
    const QSignalBlocker quiet(node->treeWidget());
    // Iterative over the siblings so that a long sibling chain does not deepen the stack.
    for (; node;) {
        node->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
        if (includeChildren && node->childCount() > 0)
            SetSubtreeChecked(node->child(0), checked, true, true);
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

void SelectAll(QTreeWidget *tree)
{
    tickAll(tree, true);
}

void ClearAll(QTreeWidget *tree)
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
