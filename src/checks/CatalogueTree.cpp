#include "CatalogueTree.h"
#include "QueryHelpers.h"

namespace vireo {

QString childrenSql(const QString &table, const QString &parentId)
{
    if (parentId.isEmpty())
        return QStringLiteral("select * from ") + table + QStringLiteral(" where cParentID is null order by cID");
    return QStringLiteral("select * from ") + table + QStringLiteral(" where cParentID='") + parentId
           + QStringLiteral("' order by cID");
}

namespace {
void walkLevel(db::Connection *catalog, const QString &table, const QString &parentId, int depth,
               const std::function<void(const CatalogueRow &, int)> &visit)
{
    if (depth > 256)
        throw db::DbError(QStringLiteral("目录表 %1 的层级过深（可能存在循环引用）").arg(table));
    const db::Recordset rs = catalog->query(childrenSql(table, parentId));
    if (rs.isEmpty())
        return;
    const int id = rs.columnIndex(QStringLiteral("cID"));
    const int code = rs.columnIndex(QStringLiteral("cCode"));
    const int name = rs.columnIndex(QStringLiteral("cName"));
    const int sign = rs.columnIndex(QStringLiteral("bSign"));
    if (id < 0 || code < 0 || name < 0 || sign < 0)
        throw db::DbError(QStringLiteral("目录表 %1 缺少 cID、cCode、cName 或 bSign 列").arg(table));
    for (qint64 r = 0; r < rs.rowCount(); ++r) {
        const CatalogueRow row{rs.text(r, id), rs.text(r, code), rs.text(r, name), isTrue(rs.value(r, sign))};
        visit(row, depth);
        walkLevel(catalog, table, row.id, depth + 1, visit);
    }
}
} // namespace

void walkCatalogue(db::Connection *catalog, const QString &table,
                   const std::function<void(const CatalogueRow &, int)> &visit, const QString &parentId)
{
    if (!catalog)
        throw db::DbError(QStringLiteral("没有打开的目录数据库（VUZ.mdb）"));
    walkLevel(catalog, table, parentId, 0, visit);
}

std::vector<TreeItemRef> loadCatalogueNodes(db::Connection *catalog, const QString &table)
{
    std::vector<TreeItemRef> out;
    walkCatalogue(catalog, table, [&](const CatalogueRow &row, int) { out.push_back({row.code, row.name, row.sign}); });
    return out;
}

} // namespace vireo
