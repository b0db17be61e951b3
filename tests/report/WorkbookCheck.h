#pragma once
#include "Recordset.h"
#include <QString>
#include <gtest/gtest.h>
#include <vector>

namespace vireo::test {

// Opens an exported workbook with an independent reader (openpyxl for .xlsx, xlrd for .xls) and
// compares values, the header fill and the column widths with the snapshot. `rows` limits the
// comparison to those records (all when empty); the row count is always compared.
::testing::AssertionResult workbookMatches(const QString &path, const db::Recordset &rs,
                                           const std::vector<qint64> &rows = {});

// A snapshot built in memory: columns, then rows of values (a null QVariant is NULL).
db::Recordset makeRecordset(const std::vector<db::Column> &columns, const std::vector<std::vector<QVariant>> &rows);

} // namespace vireo::test
