#include "CatalogueTree.h"
#include "CheckRun.h"
#include "QueryHelpers.h"
#include "SqliteConnection.h"
#include "StandIn.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

void writeScript(const QString &folder, const QString &name, const QString &text)
{
    QDir().mkpath(folder);
    QFile f(folder + QLatin1Char('/') + name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QStringEncoder enc("GB18030");
    QString crlf = text;
    crlf.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    f.write(enc(crlf));
}

const char *kVuz = "if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ\nGO\n";

} // namespace

class CheckRunOnServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new test::StandIn; }
    static void TearDownTestSuite() { delete server; server = nullptr; }

    void SetUp() override
    {
        account = server->connect();
        catalog.execute(QStringLiteral("create table Tools (cID integer, cParentID text, cCode text, cName text, "
                                       "bSign boolean, bEnd boolean)"));
        // Pre-order: G1 (C3, C1), then C2 — sibling order by cID, not by insertion.
        catalog.execute(QStringLiteral(
            "insert into Tools values (1, null, 'G1', '凭证类', 0, 0), (5, '1', 'C3', '无脚本项', 1, 1),"
            "(3, '1', 'C1', '借贷不平', 1, 1), (2, null, 'C2', '错误项', 0, 1), (4, '1', 'N1', '分组', 1, null),"
            "(6, '2', 'P1', '过程项', 0, 1)"));
        const QString file = dir.path() + QStringLiteral("/File/");
        writeScript(file + QStringLiteral("C1"), QStringLiteral("检查.sql"),
                    QString::fromUtf8(kVuz) + QStringLiteral("create table tempdb..VUZ (凭证号 int, 摘要 nvarchar(20))\n"
                                                             "insert into tempdb..VUZ values (1, N'收款')\n"
                                                             "insert into tempdb..VUZ values (2, N'付款')\n"));
        writeScript(file + QStringLiteral("C2"), QStringLiteral("检查.SQL"),
                    QString::fromUtf8(kVuz) + QStringLiteral("create table tempdb..VUZ (Error nvarchar(50))\n"
                                                             "insert into tempdb..VUZ values (N'期间不连续')\n"));
        writeScript(file + QStringLiteral("P1"), QStringLiteral("检查.SQL"),
                    QString::fromUtf8(kVuz) + QStringLiteral("--存储过程&&P1\n--参数&&@a&&年度&&int&&1&&\n"
                                                             "create table tempdb..VUZ (n int)\n"));
        ctx = {dir.path(), &catalog, account.get()};
        for (const char *t : {"C1", "C2", "C3", "P1", "VUZ"})
            account->execute(dropResultSql(QString::fromLatin1(t)));
    }

    QTemporaryDir dir;
    db::SqliteConnection catalog{QStringLiteral(":memory:")};
    std::unique_ptr<db::OdbcConnection> account;
    CheckContext ctx;
    static test::StandIn *server;
};
test::StandIn *CheckRunOnServer::server = nullptr;

// Only leaf items run (not the grouping N1); the procedure item is handed over; the summary
// follows the tree.
TEST_F(CheckRunOnServer, RunAndSummaryFollowTheTreeOrder)
{
    std::vector<TreeItemRef> nodes = loadCatalogueNodes(&catalog, QStringLiteral("Tools"));
    // A result table of C3 left by an earlier run survives: C3 has no script.
    account->execute(QStringLiteral("select 1 as x into tempdb..C3"));
    for (auto &n : nodes)
        n.checked = true;
    std::vector<std::pair<QString, QString>> handed;
    std::vector<QString> progressed;
    const RunOutcome out = RunChecks(
        nodes, QStringLiteral("Tools"), ctx, [&](const QString &k, const QString &t) { handed.emplace_back(k, t); },
        [&](const TreeItemRef &item, int, int) { progressed.push_back(item.key); });
    EXPECT_TRUE(out.problems.empty());
    EXPECT_EQ(progressed, (std::vector<QString>{"C1", "C2", "P1"}));
    EXPECT_EQ(handed, (std::vector<std::pair<QString, QString>>{{QStringLiteral("P1"), QStringLiteral("Tools")}}));

    const Summary s = BuildSummary(nodes, QStringLiteral("Tools"), ctx);
    EXPECT_TRUE(s.error.isEmpty()) << s.error.toStdString();
    QStringList rows;
    for (const SummaryRow &r : s.rows)
        rows << r.code + QLatin1Char(' ') + r.finding + QLatin1Char(' ') + QString::number(r.isCount);
    EXPECT_EQ(rows, (QStringList{"C1 记录数：2 1", "C3 记录数：1 1", "C2 期间不连续 0", "P1 记录数：0 1"}));   // C3: its old table
}

// A failed script never shows another item's findings: C2 fails before writing tempdb..VUZ after
// C1 left rows there, and P1 writes no staging table at all.
TEST_F(CheckRunOnServer, FailedOrSilentScriptGivesItsOwnResultNeverAnEarlierItems)
{
    writeScript(dir.path() + QStringLiteral("/File/C2"), QStringLiteral("检查.SQL"),
                QStringLiteral("select 5 as 行号 into tempdb..Elsewhere\nGO\nselect * from tempdb..NoSuchTable\nGO\n"
                               "create table tempdb..VUZ (n int)\n"));
    writeScript(dir.path() + QStringLiteral("/File/P1"), QStringLiteral("检查.SQL"), QStringLiteral("print 1\n"));
    account->execute(QStringLiteral("if exists (select * from tempdb..sysobjects where name='Elsewhere') drop table tempdb..Elsewhere"));
    std::vector<TreeItemRef> nodes{{QStringLiteral("C1"), QStringLiteral("借贷不平"), true},
                                   {QStringLiteral("C2"), QStringLiteral("错误项"), true},
                                   {QStringLiteral("P1"), QStringLiteral("过程项"), true}};
    const RunOutcome out = RunChecks(nodes, QStringLiteral("Tools"), ctx);
    ASSERT_EQ(out.scriptFailures.size(), 1u);
    EXPECT_EQ(out.scriptFailures[0].code, QStringLiteral("C2"));
    EXPECT_TRUE(out.problems.empty());
    const Summary s = BuildSummary(nodes, QStringLiteral("Tools"), ctx, &out);
    ASSERT_EQ(s.rows.size(), 3u);
    EXPECT_EQ(s.rows[0].finding, QStringLiteral("记录数：2"));
    EXPECT_FALSE(s.rows[1].isCount);
    EXPECT_TRUE(s.rows[1].finding.startsWith(kScriptErrorPrefix)) << s.rows[1].finding.toStdString();
    EXPECT_TRUE(s.rows[1].finding.contains(QStringLiteral("NoSuchTable")));
    EXPECT_EQ(s.rows[2].finding, QStringLiteral("记录数：0"));
    // The same rows when read afresh from the server, as the report window reads them.
    EXPECT_EQ(BuildSummary(nodes, QStringLiteral("Tools"), ctx).rows[1].finding, s.rows[1].finding);
}

// Codes are quoted wherever they reach SQL; codes that cannot name a table are refused, not run.
TEST_F(CheckRunOnServer, OddCodesAreQuotedAndInvalidCodesAreNotRun)
{
    const QStringList odd{QStringLiteral("O'1"), QStringLiteral("O;2"), QStringLiteral("O]3"), QStringLiteral("凭证检查")};
    const QStringList invalid{QString(), QString(117, QLatin1Char('x')), QStringLiteral("O\t4")};
    std::vector<TreeItemRef> nodes;
    int id = 10;
    for (const QString &code : odd + invalid) {
        catalog.execute(QStringLiteral("insert into Tools values (%1, null, %2, '怪编码', 1, 1)").arg(id++).arg(sqlLiteral(code)));
        nodes.push_back({code, QStringLiteral("怪编码"), true});
        if (!invalidCodeReason(code).isEmpty())
            continue;
        writeScript(dir.path() + QStringLiteral("/File/") + code, QStringLiteral("检查.SQL"),
                    QStringLiteral("select 1 as n into tempdb..VUZ\ninsert into tempdb..VUZ values (2)\n"));
        account->execute(dropResultSql(code));
    }
    const RunOutcome out = RunChecks(nodes, QStringLiteral("Tools"), ctx);
    EXPECT_EQ(out.itemsRun, int(odd.size()));
    ASSERT_EQ(out.problems.size(), size_t(invalid.size()));
    const Summary s = BuildSummary(nodes, QStringLiteral("Tools"), ctx, &out);
    ASSERT_TRUE(s.error.isEmpty()) << s.error.toStdString();
    ASSERT_EQ(s.rows.size(), nodes.size());
    for (int i = 0; i < odd.size(); ++i) {
        EXPECT_EQ(s.rows[size_t(i)].finding, QStringLiteral("记录数：2")) << odd[i].toStdString();
        EXPECT_EQ(account->query(QStringLiteral("select count(*) from tempdb..") + sqlIdentifier(odd[i])).integer(0, 0), 2);
    }
    for (size_t i = odd.size(); i < nodes.size(); ++i)
        EXPECT_FALSE(s.rows[i].notChecked.isEmpty());
}

// The connection is lost while the second item waits for the server lock: that item is blamed,
// the first item's findings stay, the third is not reached.
TEST_F(CheckRunOnServer, LostConnectionBlamesTheRunningItemAndKeepsEarlierFindings)
{
    auto own = std::make_unique<test::StandIn>();
    auto conn = own->connect();
    auto holder = own->connect();
    ctx.account = conn.get();
    std::vector<TreeItemRef> nodes{{QStringLiteral("C1"), QStringLiteral("借贷不平"), true},
                                   {QStringLiteral("C2"), QStringLiteral("错误项"), true},
                                   {QStringLiteral("P1"), QStringLiteral("过程项"), true}};
    const auto progress = [&](const TreeItemRef &item, int, int) {
        if (item.key == QStringLiteral("C2"))   // another session takes the lock first
            holder->execute(QStringLiteral("exec tempdb..sp_getapplock @Resource = N'Vireo数据体检:tempdb..VUZ', "
                                           "@LockMode = 'Exclusive', @LockOwner = 'Session'"));
    };
    int waits = 0;
    const auto waiting = [&] {
        ++waits;
        own.reset();   // the server goes away while C2 waits
        return true;
    };
    const RunOutcome out = RunChecks(nodes, QStringLiteral("Tools"), ctx, {}, progress, waiting);
    EXPECT_EQ(waits, 1);
    EXPECT_TRUE(out.stopped);
    ASSERT_EQ(out.problems.size(), 1u);
    EXPECT_EQ(out.problems[0].code, QStringLiteral("C2"));
    const Summary s = BuildSummary(nodes, QStringLiteral("Tools"), ctx, &out);
    EXPECT_TRUE(s.error.isEmpty()) << s.error.toStdString();
    ASSERT_EQ(s.rows.size(), 3u);
    EXPECT_EQ(s.rows[0].finding, QStringLiteral("记录数：2"));
    EXPECT_EQ(s.rows[1].notChecked, out.problems[0].message);
    EXPECT_FALSE(s.rows[2].notChecked.isEmpty());
}

TEST_F(CheckRunOnServer, LostAccountConnectionStopsTheRunWithTheReason)
{
    db::ClosedConnection closed(QStringLiteral("Unable to connect: Adaptive Server is unavailable or does not exist"));
    ctx.account = &closed;
    std::vector<TreeItemRef> nodes{{QStringLiteral("C1"), QStringLiteral("借贷不平"), true},
                                   {QStringLiteral("C2"), QStringLiteral("错误项"), true}};
    const RunOutcome out = RunChecks(nodes, QStringLiteral("Tools"), ctx);
    EXPECT_TRUE(out.stopped);
    ASSERT_EQ(out.problems.size(), 1u);
    EXPECT_TRUE(out.problems[0].message.contains(QStringLiteral("Adaptive Server")));
    const Summary s = BuildSummary(nodes, QStringLiteral("Tools"), ctx);
    EXPECT_TRUE(s.rows.empty());
    EXPECT_TRUE(s.error.contains(QStringLiteral("C1")));
}

TEST_F(CheckRunOnServer, ScriptNameThatIsAFolderPassesTheItemOver)
{
    QDir().mkpath(dir.path() + QStringLiteral("/File/C3/检查.SQL"));
    account->execute(QStringLiteral("select 1 as x into tempdb..C3"));
    account->execute(QStringLiteral("select 7 as y into tempdb..VUZ"));
    std::vector<TreeItemRef> nodes{{QStringLiteral("C3"), QStringLiteral("无脚本项"), true}};
    const RunOutcome out = RunChecks(nodes, QStringLiteral("Tools"), ctx);
    EXPECT_EQ(out.itemsRun, 0);
    EXPECT_TRUE(out.scriptFailures.empty());
    const auto rs = account->query(QStringLiteral("select * from tempdb..C3"));
    ASSERT_EQ(rs.columnCount(), 1);
    EXPECT_EQ(rs.column(0).name, QStringLiteral("x"));
    // Its row is the earlier result, marked as not checked in this run.
    const Summary s = BuildSummary(nodes, QStringLiteral("Tools"), ctx, &out);
    ASSERT_EQ(s.rows.size(), 1u);
    EXPECT_EQ(s.rows[0].finding, QStringLiteral("记录数：1"));
    EXPECT_EQ(s.rows[0].notChecked, QStringLiteral("缺少 检查.SQL"));
    EXPECT_TRUE(s.rows[0].staleResult);
}
