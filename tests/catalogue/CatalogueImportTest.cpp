#include "CatalogueImport.h"
#include "QueryHelpers.h"
#include "TestPaths.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

QString dataFile(const QString &name) { return test::dataDir() + QStringLiteral("/catalogue/") + name; }

class CatalogueImport : public ::testing::Test {
protected:
    static void SetUpTestSuite() { conn = openCatalogue(dataFile(QStringLiteral("catalogue.mdb"))).release(); }
    static void TearDownTestSuite() { delete conn; conn = nullptr; }
    static QVariant value(const char *field, const char *sql)
    {
        return QueryValue(QString::fromUtf8(field), QString::fromUtf8(sql), conn);
    }
    static db::SqliteConnection *conn;
};
db::SqliteConnection *CatalogueImport::conn = nullptr;

TEST_F(CatalogueImport, EveryTableAndValueMatchesTheDescription)
{
    QFile f(dataFile(QStringLiteral("catalogue.json")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonArray tables = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("tables")).toArray();
    ASSERT_EQ(tables.size(), 5);
    const QMap<QString, db::ColumnType> types{
        {"autonumber", db::ColumnType::Integer}, {"integer", db::ColumnType::Integer}, {"long", db::ColumnType::Integer},
        {"byte", db::ColumnType::Integer}, {"single", db::ColumnType::Real}, {"double", db::ColumnType::Real},
        {"boolean", db::ColumnType::Boolean}, {"datetime", db::ColumnType::DateTime}, {"text", db::ColumnType::Text},
        {"memo", db::ColumnType::Text}};
    for (const QJsonValue &tv : tables) {
        const QJsonObject t = tv.toObject();
        const QString name = t.value(QStringLiteral("name")).toString();
        const QJsonArray columns = t.value(QStringLiteral("columns")).toArray(), rows = t.value(QStringLiteral("rows")).toArray();
        const db::Recordset rs = conn->query(QStringLiteral("select * from \"%1\" order by rowid").arg(name));
        ASSERT_TRUE(rs.columnCount() == columns.size() && rs.rowCount() == rows.size()) << name.toStdString();
        for (int c = 0; c < columns.size(); ++c) {
            const QString type = columns[c].toObject().value(QStringLiteral("type")).toString();
            const std::string col = (name + QLatin1Char('.') + rs.column(c).name).toStdString();
            if (!rows.isEmpty()) {
                EXPECT_EQ(int(rs.column(c).type), int(types.value(type))) << col;
            }
            for (int r = 0; r < rows.size(); ++r) {
                const QJsonValue want = rows[r].toArray()[c];
                const QVariant got = rs.value(r, c);
                const std::string where = col + " row " + std::to_string(r);
                if (want.isNull()) // NULL stays apart from ''
                    EXPECT_TRUE(got.isNull()) << where;
                else if (type == QLatin1String("boolean"))
                    EXPECT_EQ(got, QVariant(want.toBool())) << where;
                else if (type == QLatin1String("single"))
                    EXPECT_EQ(float(got.toDouble()), float(want.toDouble())) << where;
                else if (want.isDouble())
                    EXPECT_EQ(got.toDouble(), want.toDouble()) << where;
                else if (type == QLatin1String("datetime"))
                    EXPECT_EQ(got.toDateTime(), QDateTime::fromString(want.toString() + QLatin1Char('Z'), Qt::ISODate)) << where;
                else
                    EXPECT_TRUE(!got.isNull() && got == QVariant(want.toString())) << where << ": " << got.toString().toStdString();
            }
        }
    }
}

TEST_F(CatalogueImport, TreeQueriesAndQueryHelpers)
{
    // The tree loader's walk, one query per node: siblings by numeric cID (3 < 9 < 12), pre-order;
    // the row whose parent is '' and the orphan are not reached.
    QStringList codes;
    std::function<void(const QString &)> walk = [&](const QString &parent) {
        const db::Recordset rs = conn->query(
            parent.isEmpty() ? QStringLiteral("select * from Tools where cParentID is null order by cID")
                             : QStringLiteral("select * from Tools where cParentID='%1' order by cID").arg(parent));
        for (qint64 r = 0; r < rs.rowCount(); ++r) {
            codes << rs.text(r, rs.columnIndex(QStringLiteral("cCode")));
            walk(rs.value(r, rs.columnIndex(QStringLiteral("cID"))).toString());
        }
    };
    walk({});
    EXPECT_EQ(codes, (QStringList{"B", "B02", "b03", "B01", "A", "A01", "A02", "A0201"}));
    EXPECT_EQ(value("cCode", "select cCode from Tools where cParentID=''"), QVariant(QStringLiteral("E")));
    EXPECT_EQ(value("cCode", "select cCode from Tools where dEdit='2000-02-29 12:00:00'"), QVariant(QStringLiteral("A01")));

    // No row: QueryValue gives empty text, SelectField NULL; NULL and '' stay apart.
    const QVariant none = value("cName", "select cName from Tools where cCode='NOPE'");
    EXPECT_TRUE(none == QVariant(QString()) && !none.isNull());
    EXPECT_TRUE(value("cNote", "select cNote from Tools where cCode='A'").isNull() && !value("cNote", "select cNote from Tools where cCode='B'").isNull());
    EXPECT_TRUE(SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='ZZ'"), conn).isNull());
    const QVariant emptyName = SelectField(QStringLiteral("cName"), QStringLiteral("Tools"), QStringLiteral("cCode='A02'"), conn);
    EXPECT_TRUE(!emptyName.isNull() && emptyName.toString().isEmpty());
    EXPECT_EQ(SelectField(QStringLiteral("取值"), QStringLiteral("参数表"), QStringLiteral("名称='年度'"), conn).toLongLong(), 2024);

    // Runnable: bEnd true; codes compare without regard to letter case, as in Access.
    const std::tuple<const char *, const char *, bool> runnable[] = {
        {"Tools", "B01", true}, {"Tools", "B03", true}, {"Tools", "B", false}, {"Tools", "NOPE", false},
        {"NjaTree", "N12", true}, {"NjaTree", "N1", false}};
    for (const auto &[table, code, want] : runnable)
        EXPECT_EQ(isRunnableItem(QString::fromUtf8(table), QString::fromUtf8(code), conn), want) << table << " " << code;
    EXPECT_THROW(isRunnableItem(QStringLiteral("NoSuch"), QStringLiteral("A01"), conn), db::DbError);
    EXPECT_THROW(isRunnableItem(QStringLiteral("Tools"), QStringLiteral("A01"), nullptr), db::DbError);
    EXPECT_THROW(value("nope", "select cName from Tools"), db::DbError);
    EXPECT_EQ(conn->query(QStringLiteral("select * from Tools where cParentID='it''s' order by cID")).rowCount(), 0);
}

// The copy's own statement path (cached statements, bound literals, values read straight from
// SQLite) gives the same snapshot as the generic SQLite connection.
TEST_F(CatalogueImport, CachedStatementsGiveTheSameRecordsetAsTheGenericPath)
{
    // text SQLite has to translate itself: bytes that are not UTF-8
    conn->execute(QStringLiteral("create temp table Odd (t text)"));
    conn->execute(QStringLiteral("insert into Odd values (cast(x'41ff42c3' as text)), (cast(x'eda080' as text)), ('ok')"));
    const QStringList queries{
        QStringLiteral("select * from Tools order by rowid"),
        QStringLiteral("select * from Settings order by rowid"),
        QStringLiteral("select * from Empty"),
        QStringLiteral("select * from \"参数表\" where 名称 = '年度'"),
        QStringLiteral("select * from Tools where cParentID = '' order by cID"),
        QStringLiteral("select * from Tools where cName='it''s ''x''' or cName='𠀀' or cCode<>'A' order by cID"),
        QStringLiteral("select cCode || '=' || cID as k, 'x=''y''' as lit, count(*) as n from Tools group by cCode order by k"),
        QStringLiteral("select cID + 0.5 as r, null as missing, bEnd, dEdit from Tools order by cID"),
        QStringLiteral("select t, length(t) as n from Odd order by rowid"),
    };
    for (int round = 0; round < 2; ++round) { // the second round runs from the statement cache
        for (const QString &sql : queries) {
            const std::string where = sql.toStdString();
            const db::Recordset fast = conn->query(sql);
            const db::Recordset generic = conn->db::SqliteConnection::query(sql);
            ASSERT_TRUE(fast.columnCount() == generic.columnCount() && fast.rowCount() == generic.rowCount()) << where;
            for (int c = 0; c < fast.columnCount(); ++c) {
                EXPECT_TRUE(fast.column(c).name == generic.column(c).name && fast.column(c).type == generic.column(c).type)
                    << where << " column " << c;
                for (qint64 r = 0; r < fast.rowCount(); ++r)
                    EXPECT_TRUE(fast.isNull(r, c) == generic.isNull(r, c) && fast.value(r, c) == generic.value(r, c))
                        << where << " row " << r << " column " << c;
            }
        }
    }
    // a literal holding a lone surrogate is bound as it stands (the generic path rejects it)
    EXPECT_EQ(conn->query(QStringLiteral("select * from Odd where t='") + QChar(0xD800) + QStringLiteral("x' or t='ok'")).rowCount(), 1);
    conn->execute(QStringLiteral("drop table temp.Odd"));
    EXPECT_THROW(conn->query(QStringLiteral("select * from NoSuch where cParentID='1' order by cID")), db::DbError);
    EXPECT_EQ(conn->query(QStringLiteral("select cCode from Tools where cCode='B01' order by cID")).text(0, 0), QStringLiteral("B01"));
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
