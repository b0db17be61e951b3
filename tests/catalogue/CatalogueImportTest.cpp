#include "CatalogueImport.h"
#include "QueryHelpers.h"
#include "TestPaths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

QString dataFile(const QString &name) { return test::dataDir() + QStringLiteral("/catalogue/") + name; }

// The memo of row A01, as the test catalogue's generator writes it.
QString longNote()
{
    QString s;
    for (int i = 0; i < 1200; ++i)
        s += QStringLiteral("第%1行：检查凭证断号与科目余额。\n").arg(i, 5, 10, QLatin1Char('0'));
    return s;
}

class CatalogueImport : public ::testing::Test {
protected:
    static void SetUpTestSuite() { conn = openCatalogue(dataFile(QStringLiteral("catalogue.mdb"))).release(); }
    static void TearDownTestSuite()
    {
        delete conn;
        conn = nullptr;
    }

    // The tree loader's walk: one query per node, siblings by cID, pre-order.
    static void loadTree(const QString &table, const QString &parentId, QStringList &codes, int &queries)
    {
        const QString sql = parentId.isEmpty()
                                ? QStringLiteral("select * from ") + table + QStringLiteral(" where cParentID is null order by cID")
                                : QStringLiteral("select * from ") + table + QStringLiteral(" where cParentID='") + parentId
                                      + QStringLiteral("' order by cID");
        ++queries;
        const db::Recordset rs = conn->query(sql);
        const int id = rs.columnIndex(QStringLiteral("cID")), code = rs.columnIndex(QStringLiteral("cCode"));
        for (qint64 r = 0; r < rs.rowCount(); ++r) {
            codes << rs.text(r, code);
            loadTree(table, rs.value(r, id).toString(), codes, queries);
        }
    }

    static db::SqliteConnection *conn;
};
db::SqliteConnection *CatalogueImport::conn = nullptr;

TEST_F(CatalogueImport, TreeQueriesGivePreOrderWithSiblingsByNumericId)
{
    ASSERT_TRUE(conn);
    QStringList codes;
    int queries = 0;
    loadTree(QStringLiteral("Tools"), {}, codes, queries);
    // cID 3 < 9 < 12 numerically (as text "12" would come first); the row whose parent is ""
    // and the orphan are not reachable.
    EXPECT_EQ(codes, (QStringList{"B", "B02", "b03", "B01", "A", "A01", "A02", "A0201"}));
    EXPECT_EQ(queries, codes.size() + 1);

    codes.clear();
    loadTree(QStringLiteral("NjaTree"), {}, codes, queries);
    EXPECT_EQ(codes, (QStringList{"N1", "N11", "N12"}));

    // a missing table fails like any other query, and the connection stays usable
    EXPECT_THROW(conn->query(QStringLiteral("select * from NoSuch where cParentID='1' order by cID")), db::DbError);
    EXPECT_EQ(conn->query(QStringLiteral("select * from Tools where cParentID='it''s' order by cID")).rowCount(), 0);

    const db::Recordset top = conn->query(QStringLiteral("select * from Tools where cParentID is null order by cID"));
    EXPECT_EQ(top.column(top.columnIndex(QStringLiteral("cID"))).type, db::ColumnType::Integer);
    EXPECT_EQ(top.columnCount(), 9); // every column of the table
}

TEST_F(CatalogueImport, NullStaysApartFromEmptyText)
{
    // cParentID '' (row E) is not NULL; cNote NULL (row A) differs from '' (row B).
    EXPECT_EQ(conn->query(QStringLiteral("select cCode from Tools where cParentID is null")).rowCount(), 2);
    EXPECT_EQ(QueryValue(QStringLiteral("cCode"), QStringLiteral("select cCode from Tools where cParentID=''"), conn),
              QVariant(QStringLiteral("E")));
    const QVariant nullNote = QueryValue(QStringLiteral("cNote"), QStringLiteral("select cNote from Tools where cCode='A'"), conn);
    const QVariant emptyNote = QueryValue(QStringLiteral("cNote"), QStringLiteral("select cNote from Tools where cCode='B'"), conn);
    EXPECT_TRUE(nullNote.isNull());
    EXPECT_FALSE(emptyNote.isNull());
    EXPECT_EQ(emptyNote.toString(), QString());
    const QVariant emptyName = SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='A02'"), conn);
    EXPECT_FALSE(emptyName.isNull());
    EXPECT_TRUE(emptyName.toString().isEmpty());
}

TEST_F(CatalogueImport, RunnableTestComparesYesNoColumns)
{
    const QString sql = QStringLiteral("Select bEnd from Tools where cCode='B01'");
    const db::Recordset rs = conn->query(sql);
    ASSERT_EQ(rs.rowCount(), 1);
    EXPECT_EQ(rs.column(0).type, db::ColumnType::Boolean);
    EXPECT_TRUE(isTrue(QueryValue(QStringLiteral("bEnd"), sql, conn)));
    EXPECT_FALSE(isTrue(QueryValue(QStringLiteral("bEnd"), QStringLiteral("Select bEnd from Tools where cCode='B'"), conn)));
    // no row: empty text, not runnable
    EXPECT_EQ(QueryValue(QStringLiteral("bEnd"), QStringLiteral("Select bEnd from Tools where cCode='NOPE'"), conn),
              QVariant(QString()));
    EXPECT_FALSE(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("NOPE"), conn));
    // codes compare without regard to letter case, as in Access
    EXPECT_TRUE(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("B03"), conn));
    EXPECT_TRUE(isRunnableItem(QStringLiteral("NjaTree"), QStringLiteral("N12"), conn));
    EXPECT_FALSE(isRunnableItem(QStringLiteral("NjaTree"), QStringLiteral("N1"), conn));
    // bSign both ways, never NULL
    EXPECT_EQ(conn->query(QStringLiteral("select cCode from Tools where bSign=true order by cID")).rowCount(), 5);
    EXPECT_EQ(conn->query(QStringLiteral("select cCode from Tools where bSign is null or bEnd is null")).rowCount(), 0);
}

TEST_F(CatalogueImport, TextAndValuesComeThroughIntact)
{
    EXPECT_EQ(SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='A01'"), conn),
              QVariant(QStringLiteral("凭证断号")));
    EXPECT_EQ(SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='E'"), conn),
              QVariant(QStringLiteral("空父级（空文本而非NULL）")));
    EXPECT_TRUE(SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='ZZ'"), conn).isNull());

    // a memo far past 16 KB, whole
    const QString note = QueryValue(QStringLiteral("cNote"), QStringLiteral("select cNote from Tools where cCode='A01'"), conn).toString();
    EXPECT_EQ(note.size(), longNote().size());
    EXPECT_EQ(note, longNote());

    const db::Recordset d = conn->query(QStringLiteral("select dEdit, nLevel from Tools where cCode='B01'"));
    EXPECT_EQ(d.column(0).type, db::ColumnType::DateTime);
    EXPECT_EQ(d.value(0, 0).toDateTime(), QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)));
    EXPECT_EQ(conn->query(QStringLiteral("select cCode from Tools where dEdit='2000-02-29 12:00:00'")).text(0, 0),
              QStringLiteral("A01"));

    // every user table, with its own column types
    const db::Recordset s = conn->query(QStringLiteral("select cKey, nCount, nByte, fRate, fAmount, bOn from Settings order by nCount desc"));
    ASSERT_EQ(s.rowCount(), 2);
    EXPECT_EQ(s.text(0, 0), QStringLiteral("版本"));
    EXPECT_EQ(s.value(0, 1).toLongLong(), 2024);
    EXPECT_EQ(s.value(0, 2).toLongLong(), 7);
    EXPECT_DOUBLE_EQ(s.value(0, 3).toDouble(), 0.5);
    EXPECT_DOUBLE_EQ(s.value(0, 4).toDouble(), 1234.5678);
    EXPECT_TRUE(s.value(0, 5).toBool());
    for (int c = 1; c <= 4; ++c)
        EXPECT_TRUE(s.isNull(1, c)) << c;
    EXPECT_FALSE(s.value(1, 5).toBool());
    EXPECT_EQ(conn->query(QStringLiteral("select * from Empty")).rowCount(), 0);
    EXPECT_EQ(SelectField(QStringLiteral("取值"), QStringLiteral("参数表"), QStringLiteral("名称='年度'"), conn).toLongLong(), 2024);
}

// Every value of the description the test file was made from, against the copy.
TEST_F(CatalogueImport, EveryTableAndValueMatchesTheDescription)
{
    QFile f(dataFile(QStringLiteral("catalogue.json")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonArray tables = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("tables")).toArray();
    ASSERT_EQ(tables.size(), 5);
    for (const QJsonValue &tv : tables) {
        const QJsonObject t = tv.toObject();
        const QString name = t.value(QStringLiteral("name")).toString();
        const QJsonArray columns = t.value(QStringLiteral("columns")).toArray(), rows = t.value(QStringLiteral("rows")).toArray();
        const db::Recordset rs = conn->query(QStringLiteral("select * from \"%1\" order by rowid").arg(name));
        ASSERT_EQ(rs.columnCount(), columns.size()) << name.toStdString();
        ASSERT_EQ(rs.rowCount(), rows.size()) << name.toStdString();
        for (int r = 0; r < rows.size(); ++r) {
            const QJsonArray row = rows[r].toArray();
            for (int c = 0; c < columns.size(); ++c) {
                const QString type = columns[c].toObject().value(QStringLiteral("type")).toString();
                const QJsonValue want = row[c];
                const QVariant got = rs.value(r, c);
                const std::string where = (name + QLatin1Char('.') + rs.column(c).name).toStdString() + " row " + std::to_string(r);
                if (want.isNull())
                    EXPECT_TRUE(got.isNull()) << where;
                else if (type == QLatin1String("boolean"))
                    EXPECT_EQ(got, QVariant(want.toBool())) << where;
                else if (type == QLatin1String("single"))
                    EXPECT_EQ(float(got.toDouble()), float(want.toDouble())) << where;
                else if (want.isDouble())
                    EXPECT_EQ(got.toDouble(), want.toDouble()) << where;
                else if (type == QLatin1String("datetime"))
                    EXPECT_EQ(got.toDateTime(), QDateTime::fromString(want.toString(), Qt::ISODate)) << where;
                else
                    EXPECT_EQ(got, QVariant(want.toString())) << where;
            }
        }
    }
}

// The copy's own statement path (cached statements, bound literals, values read straight from
// SQLite) gives the same snapshot as the generic SQLite connection.
TEST_F(CatalogueImport, CachedStatementsGiveTheSameRecordsetAsTheGenericPath)
{
    const QStringList queries{
        QStringLiteral("select * from Tools order by rowid"),
        QStringLiteral("select * from NjaTree order by rowid"),
        QStringLiteral("select * from Settings order by rowid"),
        QStringLiteral("select * from Empty"),
        QStringLiteral("select * from \"参数表\" where 名称 = '年度'"),
        QStringLiteral("select * from Tools where cParentID is null order by cID"),
        QStringLiteral("select * from Tools where cParentID='1' order by cID"),
        QStringLiteral("select * from Tools where cParentID = '' order by cID"),
        QStringLiteral("select * from Tools where cCode='b03' or cName='凭证断号' order by cID"),
        QStringLiteral("select * from Tools where cName='it''s ''x''' or cName='𠀀' or cCode<>'A' order by cID"),
        QStringLiteral("select cCode || '=' || cID as k, 'x=''y''' as lit, count(*) as n from Tools group by cCode order by k"),
        QStringLiteral("select cID + 0.5 as r, null as missing, bEnd, dEdit from Tools order by cID"),
    };
    db::SqliteConnection *cache = conn;
    // text SQLite has to translate itself: bytes that are not UTF-8
    cache->execute(QStringLiteral("create temp table Odd (t text)"));
    cache->execute(QStringLiteral("insert into Odd values (cast(x'41ff42c3' as text)), (cast(x'eda080' as text)), ('ok')"));
    QStringList all = queries;
    all << QStringLiteral("select t, length(t) as n from Odd order by rowid");
    for (int round = 0; round < 2; ++round) { // the second round runs from the statement cache
        for (const QString &sql : std::as_const(all)) {
            const std::string where = sql.toStdString();
            const db::Recordset fast = cache->query(sql);
            const db::Recordset generic = cache->db::SqliteConnection::query(sql);
            ASSERT_EQ(fast.columnCount(), generic.columnCount()) << where;
            ASSERT_EQ(fast.rowCount(), generic.rowCount()) << where;
            for (int c = 0; c < fast.columnCount(); ++c) {
                EXPECT_EQ(fast.column(c).name, generic.column(c).name) << where;
                EXPECT_EQ(fast.column(c).type, generic.column(c).type) << where << " column " << c;
                for (qint64 r = 0; r < fast.rowCount(); ++r) {
                    EXPECT_EQ(fast.isNull(r, c), generic.isNull(r, c)) << where << " row " << r << " column " << c;
                    EXPECT_EQ(fast.value(r, c), generic.value(r, c)) << where << " row " << r << " column " << c;
                }
            }
        }
    }
    // a literal holding a lone surrogate is bound as it stands (the generic path rejects it)
    EXPECT_EQ(cache->query(QStringLiteral("select * from Odd where t='") + QChar(0xD800) + QStringLiteral("x' or t='ok'")).rowCount(), 1);
    cache->execute(QStringLiteral("drop table temp.Odd"));
    EXPECT_GT(cache->query(queries[0]).rowCount(), 0);
    EXPECT_EQ(cache->query(QStringLiteral("select cCode from Tools where cCode='B01' order by cID")).text(0, 0),
              QStringLiteral("B01"));
}

TEST(CatalogueImportErrors, DamagedOrMissingFilesFailWithTheFileName)
{
    const struct {
        const char *file;
        const char *reason;
    } cases[] = {
        {"no_such_file.mdb", "文件不存在"},
        {"not_jet.mdb", "不是 Access（Jet）数据库文件"},
        {"truncated.mdb", "已截断"},
        {"truncated_pages.mdb", "已截断"},
        {"corrupt.mdb", "已损坏"},
        {"corrupt_catalog.mdb", "表目录"},
        {"", "不是文件"}, // the folder itself
    };
    for (const auto &c : cases) {
        const QString path = dataFile(QString::fromUtf8(c.file));
        try {
            openCatalogue(path);
            ADD_FAILURE() << c.file << " opened";
        } catch (const db::DbError &e) {
            EXPECT_TRUE(e.message().startsWith(QStringLiteral("无法打开目录数据库 ") + QDir::toNativeSeparators(path)))
                << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(QString::fromUtf8(c.reason))) << e.message().toStdString();
        }
    }
}

TEST(CatalogueImportErrors, ImporterCrashOrAbsenceIsAnErrorAndItGetsNoPassword)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    auto script = [&](const char *name, const QByteArray &body) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\n" + body);
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return f.fileName();
    };
    const QString envFile = dir.filePath(QStringLiteral("env.txt"));
    const QString dumper = script("dump.sh", "env > '" + envFile.toUtf8() + "'; echo \"$@\" >> '" + envFile.toUtf8() + "'; exit 3\n");
    const QString mdb = dataFile(QStringLiteral("catalogue.mdb"));
    qputenv("VIREO_SA_PASSWORD", "Leak#Check-7");
    qputenv("VIREO_DEMO_PASSWORD", "Leak#Demo-8");
    for (const QString &importer : {script("crash.sh", "kill -SEGV $$\n"), dir.filePath(QStringLiteral("missing")), dumper}) {
        try {
            openCatalogue(mdb, importer);
            ADD_FAILURE() << importer.toStdString();
        } catch (const db::DbError &e) {
            EXPECT_TRUE(e.message().contains(QDir::toNativeSeparators(mdb))) << e.message().toStdString();
        }
    }
    qunsetenv("VIREO_SA_PASSWORD");
    qunsetenv("VIREO_DEMO_PASSWORD");
    QFile seen(envFile);
    ASSERT_TRUE(seen.open(QIODevice::ReadOnly));
    const QByteArray text = seen.readAll();
    EXPECT_TRUE(text.contains("PATH=") && text.contains(mdb.toUtf8()));
    EXPECT_FALSE(text.contains("Leak#Check-7") || text.contains("Leak#Demo-8"));
}

} // namespace
