#include "QueryHelpers.h"
#include "SqliteConnection.h"

#include <gtest/gtest.h>

using namespace vireo;

class QueryHelpers : public ::testing::Test {
protected:
    void SetUp() override
    {
        conn.execute(QStringLiteral("create table Tools (cID integer, cParentID text, cCode text, cName text, "
                                    "bSign boolean, bEnd boolean)"));
        conn.execute(QStringLiteral("insert into Tools values (1, null, 'A01', '一般检查', 1, 0),"
                                    "(2, '1', 'A0101', '凭证检查', 0, 1), (3, '1', 'A0102', null, 0, null),"
                                    "(4, '1', 'A0103', '', 0, 1)"));
    }
    db::SqliteConnection conn{QStringLiteral(":memory:")};
};

TEST_F(QueryHelpers, NoRowGivesEmptyTextOrNull)
{
    const QVariant q = QueryValue(QStringLiteral("cName"), QStringLiteral("select cName from Tools where cCode='X'"), &conn);
    EXPECT_FALSE(q.isNull());
    EXPECT_EQ(q.toString(), QString());
    EXPECT_TRUE(SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='X'"), &conn).isNull());
}

TEST_F(QueryHelpers, NullStaysDistinctFromEmptyText)
{
    const QVariant n = SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='A0102'"), &conn);
    EXPECT_TRUE(n.isNull());
    const QVariant e = SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='A0103'"), &conn);
    EXPECT_FALSE(e.isNull());
    EXPECT_EQ(e.toString(), QString());
    EXPECT_EQ(QueryValue(QStringLiteral("cName"), QStringLiteral("select cName from Tools order by cID"), &conn).toString(),
              QStringLiteral("一般检查"));
}

TEST_F(QueryHelpers, RunnableTestReadsBEnd)
{
    EXPECT_FALSE(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("A01"), &conn));
    EXPECT_TRUE(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("A0101"), &conn));
    EXPECT_FALSE(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("A0102"), &conn));   // NULL
    EXPECT_FALSE(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("ZZ"), &conn));      // no row
    EXPECT_THROW(isRunnableItem(QStringLiteral("NjaTree"), QStringLiteral("A01"), &conn), db::DbError);
    EXPECT_THROW(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("A01"), nullptr), db::DbError);
}

TEST_F(QueryHelpers, MissingFieldIsAnError)
{
    EXPECT_THROW(QueryValue(QStringLiteral("nope"), QStringLiteral("select cName from Tools"), &conn), db::DbError);
}
