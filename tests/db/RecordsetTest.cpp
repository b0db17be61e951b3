#include "Recordset.h"

#include <gtest/gtest.h>

using namespace vireo::db;

TEST(Recordset, ColumnarValuesKeepTypesAndNulls)
{
    Recordset rs({{QStringLiteral("Code"), ColumnType::Text}, {QStringLiteral("n"), ColumnType::Integer},
                  {QStringLiteral("x"), ColumnType::Real}, {QStringLiteral("ok"), ColumnType::Boolean}});
    for (int r = 0; r < 200; ++r) {
        if (r % 3 == 0)
            rs.appendNull(0);
        else
            rs.appendText(0, QStringLiteral("行%1").arg(r));
        rs.appendInteger(1, r);
        r % 5 ? rs.appendReal(2, r / 4.0) : rs.appendNull(2);
        rs.appendInteger(3, r & 1);
        rs.endRow();
    }
    EXPECT_EQ(rs.rowCount(), 200);
    EXPECT_EQ(rs.columnIndex(QStringLiteral("code")), 0);
    EXPECT_EQ(rs.columnIndex(QStringLiteral("Error")), -1);
    EXPECT_TRUE(rs.isNull(99, 0));
    EXPECT_TRUE(rs.value(99, 0).isNull());
    EXPECT_EQ(rs.text(100, 0), QStringLiteral("行100"));
    EXPECT_EQ(rs.text(199, 0), QStringLiteral("行199"));
    EXPECT_EQ(rs.value(150, 1).toLongLong(), 150);
    EXPECT_TRUE(rs.value(100, 2).isNull());
    EXPECT_DOUBLE_EQ(rs.value(101, 2).toDouble(), 25.25);
    EXPECT_EQ(rs.value(3, 3).typeId(), QMetaType::Bool);
    EXPECT_TRUE(rs.value(3, 3).toBool());
}

TEST(Recordset, TextStorageStaysCloseToTheDataSize)
{
    Recordset rs({{QStringLiteral("s"), ColumnType::Text}});
    const QString v = QStringLiteral("0123456789abcdefghij");   // 40 bytes of UTF-16
    for (int r = 0; r < 100000; ++r) {
        rs.appendText(0, v);
        rs.endRow();
    }
    rs.squeeze();
    const qint64 data = 100000LL * v.size() * 2;
    EXPECT_LT(rs.memoryBytes(), data * 3 / 2);
}
