#pragma once
#include "Recordset.h"
#include <QString>
#include <gtest/gtest.h>
#include <vector>

namespace vireo::test {

// Opens an exported workbook with an independent reader (openpyxl for .xlsx, xlrd for .xls) and
// compares values, number formats, the header fill, frozen header and autofilter, and the column
// widths with the snapshot. `rows` limits the comparison to those records (all when empty); with
// `order` the workbook must hold exactly those records in that order. The row count is always compared.
::testing::AssertionResult workbookMatches(const QString &path, const db::Recordset &rs,
                                           const std::vector<qint64> &rows = {}, const std::vector<qint64> *order = nullptr);

// A snapshot built in memory: columns, then rows of values (a null QVariant is NULL).
db::Recordset makeRecordset(const std::vector<db::Column> &columns, const std::vector<std::vector<QVariant>> &rows);

} // namespace vireo::test
