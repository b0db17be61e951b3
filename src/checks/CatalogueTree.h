#pragma once
#include "CheckRun.h"
#include "Connection.h"
#include <vector>

namespace vireo {

// The query texts that load one level of a catalogue tree.
QString childrenSql(const QString &table, const QString &parentId);

// A catalogue table's reachable rows in pre-order (siblings by cID), checked from bSign, with the
// same N + 1 queries the tree load sends. Throws db::DbError when a query fails.
std::vector<TreeItemRef> loadCatalogueNodes(db::Connection *catalog, const QString &table);

} // namespace vireo
