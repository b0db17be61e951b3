#include "CheckRun.h"
#include "FileHelpers.h"
#include "ScriptRunner.h"
#include "StandIn.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray gbk(const QString &s)
{
    QStringEncoder enc("GB18030");
    return enc(s);
}

} // namespace

TEST(TextFiles, LinesEndAtCrLfLoneCrOrLoneLf)
{
    QTemporaryDir dir;
    const QString p = dir.filePath(QStringLiteral("t.txt"));
    writeBytes(p, "a\r\nb\rc\nd\r\n\r\ne");
    const auto lines = readTextLines(p);
    ASSERT_TRUE(lines);
    EXPECT_EQ(*lines, (QStringList{"a", "b", "c", "d", "", "e"}));

    QString box = QStringLiteral("old");
    writeBytes(p, "a\r\nb");
    ASSERT_TRUE(ReadTextFile(p, box));
    EXPECT_EQ(box, QStringLiteral("a\r\nb\r\n"));
    writeBytes(p, "");
    ASSERT_TRUE(ReadTextFile(p, box));
    EXPECT_EQ(box, QString());

    box = QStringLiteral("kept");
    EXPECT_FALSE(ReadTextFile(dir.filePath(QStringLiteral("missing.txt")), box));
    EXPECT_EQ(box, QStringLiteral("kept"));
}

TEST(TextFiles, DecodesCodePage936AndUtf8WithBom)
{
    QTemporaryDir dir;
    const QString p = dir.filePath(QStringLiteral("描述.txt"));
    const QString text = QStringLiteral("检查凭证借贷平衡，“期间”①");
    writeBytes(p, gbk(text) + "\r\n");
    EXPECT_EQ(readTextLines(p).value(), QStringList{text});
    writeBytes(p, "\xEF\xBB\xBF" + text.toUtf8());
    EXPECT_EQ(readTextLines(p).value(), QStringList{text});
}

TEST(TextFiles, PathsMatchWithoutLetterCaseAndWithEitherSeparator)
{
    QTemporaryDir dir;
    writeBytes(dir.filePath(QStringLiteral("File/A01/检查.sql")), "select 1");
    EXPECT_TRUE(FileExists(dir.path() + QStringLiteral("\\file\\a01\\检查.SQL")));
    EXPECT_TRUE(FileExists(dir.path() + QStringLiteral("/File/A01")));   // a folder counts
    EXPECT_FALSE(FileExists(dir.path() + QStringLiteral("/File/A02/检查.SQL")));
    EXPECT_EQ(resolvePath(dir.path() + QStringLiteral("/FILE/a01/检查.SQL")),
              dir.path() + QStringLiteral("/File/A01/检查.sql"));
}

TEST(ScriptSplitting, BatchesFollowTheGoLineRule)
{
    // Each gathered line + one blank + CR LF; a separator is "GO" in any case at the very start,
    // then only blanks, a tab, a repeat count or a comment.
    const struct {
        QStringList lines;
        QStringList batches;
    } cases[] = {
        {{"select 1", "GO", "select 2"}, {"select 1 \r\n", "select 2 \r\n"}},
        {{"a", "go", "b", "Go  ", "c", "gO\t-- next", "d", "GO--x", "e"}, {"a \r\n", "b \r\n", "c \r\n", "d \r\n", "e \r\n"}},
        {{"a", "GO 3", "b", "go\t2 -- twice"}, {"a \r\n", "a \r\n", "a \r\n", "b \r\n", "b \r\n"}},
        // Lines that merely begin with the letters belong to the batch, as do GO lines with more after
        // it and a count without a blank before it (GO2 is text; GO 2 is a repeat count).
        {{"goods = 1", "GOTO done", "GO x", "go 0", "GO2", "done:"},
         {"goods = 1 \r\nGOTO done \r\nGO x \r\ngo 0 \r\nGO2 \r\ndone: \r\n"}},
        // Indented GO and a commented GO are part of the batch; blank lines are kept untouched.
        {{" GO", "--GO", "", "\tx  "}, {" GO \r\n--GO \r\n \r\n\tx   \r\n"}},
        // Separators at the start or in a row send nothing; a blank line alone is a batch.
        {{"GO", "GO", "", "GO", "GO"}, {" \r\n"}},
        {{}, {}},
        {{"G"}, {"G \r\n"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(splitBatches(c.lines), c.batches) << c.lines.join(QLatin1Char('|')).toStdString();
}

TEST(StoredProcedureMarker, LastMarkerLineWins)
{
    QTemporaryDir dir;
    const QString p = dir.filePath(QStringLiteral("检查.SQL"));
    writeBytes(p, gbk(QStringLiteral("--存储过程&&first\r\n  --存储过程&&K01  \r\nselect 1\r\n")));
    EXPECT_EQ(GetProcedureName(p), QStringLiteral("K01"));
    writeBytes(p, gbk(QStringLiteral("--存储过程&&K01\r\n--存储过程&&\r\n")));
    EXPECT_EQ(GetProcedureName(p), QString());
    writeBytes(p, gbk(QStringLiteral("--存储过程&K01\r\n")));
    EXPECT_EQ(GetProcedureName(p), QString());
    EXPECT_EQ(GetProcedureName(dir.filePath(QStringLiteral("none.SQL"))), QString());
}

// Scripts against the SQL Server stand-in through the FreeTDS driver.
class ScriptOnServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::StandIn; }
    static void TearDownTestSuite() { delete server; server = nullptr; }
    void SetUp() override { conn = server->connect(); }
    static test::StandIn *server;
    std::unique_ptr<db::OdbcConnection> conn;
    QTemporaryDir dir;
};
test::StandIn *ScriptOnServer::server = nullptr;

TEST_F(ScriptOnServer, WholeScriptRunsAndMissingFileFails)
{
    writeBytes(dir.filePath(QStringLiteral("s2/检查.sql")),
               gbk(QStringLiteral("GO\r\ncreate table tempdb..RunB (名称 nvarchar(10))\r\nGO\r\nGO\r\n"
                                  "insert into tempdb..RunB values (N'检查')\r\n")));
    EXPECT_EQ(RunSqlFile(QStringLiteral("检查.SQL"), dir.filePath(QStringLiteral("s2")) + QStringLiteral("\\"), conn.get()),
              QString());
    EXPECT_EQ(conn->query(QStringLiteral("select 名称 from tempdb..RunB")).text(0, 0), QStringLiteral("检查"));
    EXPECT_FALSE(RunSqlFile(QStringLiteral("检查.SQL"), dir.filePath(QStringLiteral("nothing")), conn.get()).isEmpty());
    conn->execute(QStringLiteral("drop table tempdb..RunB"));
}

TEST_F(ScriptOnServer, ScriptsAreSentAsWrittenOrRefusedWhole)
{
    conn->execute(QStringLiteral("create table tempdb..RunC (v nvarchar(20))"));
    const QByteArray one = "insert into tempdb..RunC values (N'1')";
    const struct {
        const char *name;
        QByteArray bytes;
        QStringList rows;
        QString error;   // fragment of the refusal, empty when the script must run
    } cases[] = {
        {"LF-only lines", one + "\nGO\ninsert into tempdb..RunC values (N'2')\n", {"1", "2"}, {}},
        // A failing statement stops the script: its batch's statements before it stay, none after.
        {"failure in the second batch", one + "\r\nGO\r\ninsert into tempdb..RunC values (N'2')\r\nselect * from tempdb..NoSuchTable\r\n"
                                              "GO\r\ninsert into tempdb..RunC values (N'3')\r\n", {"1", "2"}, QStringLiteral("NoSuchTable")},
        {"repeat count", one + "\r\nGO 2\r\n", {"1", "1"}, {}},
        {"NUL character", one + "\r\nGO\r\ninsert into tempdb..RunC values (N'2')" + QByteArray(1, '\0') + " drop table tempdb..RunC\r\n", {},
         QStringLiteral("第 3 行（第 83 字节）含有 NUL 字符")},
        {"byte that is no GB18030", one + "\r\nGO\r\n" + gbk(QStringLiteral("insert into tempdb..RunC values (N'账")) + "\x81'')\r\n",
         {}, QStringLiteral("第 3 行（第 82 字节）含有不能按 GB18030 解码的字节")},
        {"byte that is no UTF-8", "\xEF\xBB\xBF" + one + "\nGO\n\xE8\xB4'\n", {},
         QStringLiteral("第 3 行（第 46 字节）含有不能按 UTF-8 解码的字节")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        conn->execute(QStringLiteral("delete from tempdb..RunC"));
        writeBytes(dir.filePath(QStringLiteral("s3/检查.SQL")), c.bytes);
        const QString result = RunSqlFile(QStringLiteral("检查.SQL"), dir.filePath(QStringLiteral("s3")), conn.get());
        EXPECT_TRUE(result.isEmpty() == c.error.isEmpty() && result.contains(c.error)) << result.toStdString();
        // a refusal names the file
        EXPECT_TRUE(!c.error.startsWith(QStringLiteral("第")) || result.contains(QStringLiteral("s3/检查.SQL"))) << result.toStdString();
        const auto rs = conn->query(QStringLiteral("select v from tempdb..RunC order by v"));
        QStringList rows;
        for (qint64 r = 0; r < rs.rowCount(); ++r)
            rows << rs.text(r, 0);
        EXPECT_EQ(rows, c.rows);
    }
    conn->execute(QStringLiteral("drop table tempdb..RunC"));
}
