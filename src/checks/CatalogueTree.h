#pragma once
#include "CheckRun.h"
#include "Connection.h"
#include <functional>
#include <vector>

namespace vireo {

// The query texts that load one level of a catalogue tree.
QString childrenSql(const QString &table, const QString &parentId);

// One catalogue row as the tree load uses it.
struct CatalogueRow {
    QString id;     // cID as text: the value its children hold in cParentID
    QString code;   // cCode
    QString name;   // cName
    bool sign = false;  // bSign
};

// Visits the rows below parentId (empty: the top-level rows) in pre-order, siblings by cID, with
// their depth (0 for the first level), one query per row plus one. Throws db::DbError when a query fails or
// the cParentID chain is deeper than any real tree.
void walkCatalogue(db::Connection *catalog, const QString &table,
                   const std::function<void(const CatalogueRow &row, int depth)> &visit,
                   const QString &parentId = {});

// A catalogue table's reachable rows in pre-order (siblings by cID), checked from bSign, with the
// same N + 1 queries the tree load sends. Throws db::DbError when a query fails.
std::vector<TreeItemRef> loadCatalogueNodes(db::Connection *catalog, const QString &table);

} // namespace vireo
