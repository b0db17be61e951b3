#include "Recordset.h"

#include <gtest/gtest.h>

using namespace vireo::db;

// Columnar storage: NULL apart from empty text, types kept, and text costs little more than its data.
TEST(Recordset, KeepsNullsAndTypesAndStaysCloseToTheDataSize)
{
    Recordset rs({{QStringLiteral("Code"), ColumnType::Text}, {QStringLiteral("ok"), ColumnType::Boolean}});
    const QString v = QStringLiteral("0123456789abcdefghij"); // 40 bytes of UTF-16
    for (int r = 0; r < 100000; ++r) {
        r % 3 ? rs.appendText(0, r == 1 ? QString() : v) : rs.appendNull(0);
        rs.appendInteger(1, r & 1);
        rs.endRow();
    }
    rs.squeeze();
    EXPECT_LT(rs.memoryBytes(), 100000LL * v.size() * 2 * 3 / 2);
    EXPECT_EQ(QPair(rs.columnIndex(QStringLiteral("code")), rs.columnIndex(QStringLiteral("Error"))), QPair(0, -1));
    EXPECT_TRUE(rs.isNull(99, 0) && rs.value(99, 0).isNull());
    EXPECT_TRUE(!rs.isNull(1, 0) && rs.value(1, 0) == QVariant(QString()));
    EXPECT_EQ(rs.text(99998, 0), v);
    EXPECT_EQ(rs.value(3, 1), QVariant(true));
}
