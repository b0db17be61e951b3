#include "CatalogueTree.h"
#include "CheckRun.h"
#include "ItemActions.h"
#include "QueryHelpers.h"
#include "RunGuard.h"
#include "SqliteConnection.h"
#include "StandIn.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>

using namespace vireo;

namespace {

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
        script("C1", QString::fromUtf8(kVuz) + QStringLiteral("create table tempdb..VUZ (凭证号 int, 摘要 nvarchar(20))\n"
                                                             "insert into tempdb..VUZ values (1, N'收款'), (2, N'付款')\n"),
               "检查.sql");
        script("C2", QString::fromUtf8(kVuz) + QStringLiteral("create table tempdb..VUZ (Error nvarchar(50))\n"
                                                             "insert into tempdb..VUZ values (N'期间不连续')\n"));
        script("P1", QString::fromUtf8(kVuz) + QStringLiteral("--存储过程&&P1\n--参数&&@a&&年度&&int&&1&&\n"
                                                             "create table tempdb..VUZ (n int)\n"));
        ctx = {dir.path(), &catalog, account.get()};
        for (const char *t : {"C1", "C2", "C3", "P1", "VUZ"})
            account->execute(dropResultSql(QString::fromLatin1(t)));
    }

    // Writes an item's script (GB18030, CR LF) into its folder.
    void script(const QString &code, QString text, const char *name = "检查.SQL")
    {
        QDir().mkpath(dir.path() + QStringLiteral("/File/") + code);
        QFile f(dir.path() + QStringLiteral("/File/") + code + QLatin1Char('/') + QString::fromUtf8(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QStringEncoder enc("GB18030");
        f.write(enc(text.replace(QLatin1Char('\n'), QLatin1String("\r\n"))));
    }
    // The given items, ticked, with their catalogue names.
    static std::vector<TreeItemRef> ticked(std::initializer_list<const char *> codes)
    {
        const QMap<QString, QString> names{{"C1", "借贷不平"}, {"C2", "错误项"}, {"C3", "无脚本项"}, {"P1", "过程项"}};
        std::vector<TreeItemRef> out;
        for (const char *c : codes)
            out.push_back({QLatin1String(c), names.value(QLatin1String(c)), true});
        return out;
    }
    CheckRunRecord runChecks(const std::vector<TreeItemRef> &nodes, const RunHooks &hooks = {}) const
    {
        RunIdentity id;
        id.address = QStringLiteral("127.0.0.1");
        id.database = QStringLiteral("QZdata_001_2024");
        return RunChecks(nodes, QStringLiteral("Tools"), ctx, id, hooks);
    }

    QTemporaryDir dir;
    db::SqliteConnection catalog{QStringLiteral(":memory:")};
    std::unique_ptr<db::OdbcConnection> account;
    CheckContext ctx;
    static test::StandIn *server;
};
test::StandIn *CheckRunOnServer::server = nullptr;

namespace {
// "code state count-or-text-or-reason" of each outcome, in order.
QStringList lines(const CheckRunRecord &run)
{
    QStringList out;
    for (const ItemOutcome &i : run.items)
        out << i.code + QLatin1Char(' ') + itemStateName(i.state) + QLatin1Char(' ')
                   + (i.state == ItemState::Checked ? QString::number(i.count)
                                                    : i.state == ItemState::Error ? i.errorText : i.reason);
    return out;
}
} // namespace

// Only leaf items run (not the grouping N1), in tree order; every ticked runnable item has its
// outcome; the procedure item is handed over and stays not run when its procedure is not executed.
TEST_F(CheckRunOnServer, RunFollowsTheTreeOrderWithOneOutcomePerItem)
{
    std::vector<TreeItemRef> nodes = loadCatalogueNodes(&catalog, QStringLiteral("Tools"));
    // A result table of C3 left by an earlier run is not taken for a result: C3 has no script.
    account->execute(QStringLiteral("select 1 as x into tempdb..C3"));
    for (auto &n : nodes)
        n.checked = true;
    QStringList handed, progressed;
    RunHooks hooks;
    hooks.progress = [&](const TreeItemRef &item, int, int) { progressed << item.key; };
    hooks.procedure = [&](ItemOutcome &item, db::Connection *) { handed << item.code; return false; };
    const CheckRunRecord run = runChecks(nodes, hooks);
    EXPECT_EQ(progressed, (QStringList{"C1", "C2", "P1"}));
    EXPECT_EQ(handed, QStringList{"P1"});
    EXPECT_EQ(run.end, RunEnd::Completed);
    EXPECT_EQ(lines(run), (QStringList{"C1 checked 2", "C3 not_run 缺少 检查.SQL", "C2 error 期间不连续",
                                       QStringLiteral("P1 not_run ") + kProcedureNotRun}));
    EXPECT_EQ(run.identity.server, QStringLiteral("VIREOTEST"));   // the server's own name, not the address
    EXPECT_TRUE(run.items[0].result.present() && !run.items[1].result.present());
}

// A failed script never shows another item's findings: C2 fails before writing tempdb..VUZ after
// C1 left rows there, and P1 writes no staging table at all.
TEST_F(CheckRunOnServer, FailedOrSilentScriptGivesItsOwnResultNeverAnEarlierItems)
{
    script("C2", QStringLiteral("select 5 as 行号 into tempdb..Elsewhere\nGO\nselect * from tempdb..NoSuchTable\nGO\n"
                                "create table tempdb..VUZ (n int)\n"));
    script("P1", QStringLiteral("print 1\n"));
    account->execute(QStringLiteral("if exists (select * from tempdb..sysobjects where name='Elsewhere') drop table tempdb..Elsewhere"));
    const CheckRunRecord run = runChecks(ticked({"C1", "C2", "P1"}));
    ASSERT_EQ(run.items.size(), 3u);
    EXPECT_EQ(run.items[0].count, 2);
    const ItemOutcome &c2 = run.items[1];
    EXPECT_TRUE(c2.state == ItemState::Error && c2.scriptFailed);
    EXPECT_TRUE(c2.errorText.startsWith(kScriptErrorPrefix) && c2.errorText.contains(QStringLiteral("NoSuchTable")))
        << c2.errorText.toStdString();
    EXPECT_EQ(lines(run)[2], QStringLiteral("P1 checked 0"));
    // The same Error text when read afresh from the server, as the report window reads it.
    EXPECT_EQ(account->query(QStringLiteral("select Error from tempdb..C2")).value(0, 0).toString(), c2.errorText);
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
        script(code, QStringLiteral("select 1 as n into tempdb..VUZ\ninsert into tempdb..VUZ values (2)\n"));
        account->execute(dropResultSql(code));
    }
    const CheckRunRecord run = runChecks(nodes);
    ASSERT_EQ(run.items.size(), nodes.size());
    for (int i = 0; i < odd.size(); ++i) {
        EXPECT_EQ(run.items[size_t(i)].count, 2) << odd[i].toStdString();
        EXPECT_EQ(account->query(QStringLiteral("select count(*) from tempdb..") + sqlIdentifier(odd[i])).integer(0, 0), 2);
    }
    for (size_t i = odd.size(); i < nodes.size(); ++i)
        EXPECT_EQ(run.items[i].errorText, invalidCodeReason(nodes[i].key));
}

// The connection is lost while the second item waits for the server lock: that item is blamed,
// the first item's findings stay, the third is not reached. A script name that is a folder is no
// script; a closed connection ends the run before any item with its reason.
TEST_F(CheckRunOnServer, LostConnectionBlamesTheRunningItemAndKeepsEarlierFindings)
{
    auto own = std::make_unique<test::StandIn>();
    auto conn = own->connect();
    auto holder = own->connect();
    ctx.account = conn.get();
    const std::vector<TreeItemRef> nodes = ticked({"C1", "C2", "P1"});
    // While C1 runs another session asks for the lock and waits: C1's closing batch lets go of it
    // and asks again at once for C2, but the waiting session is served first, as SQL Server does.
    script("C1", QString::fromUtf8(kVuz) + QStringLiteral("waitfor delay '00:00:01'\nselect 1 as n into tempdb..VUZ\n"
                                                         "insert into tempdb..VUZ values (2)\n"), "检查.sql");
    std::thread waiter;
    RunHooks hooks;
    hooks.progress = [&](const TreeItemRef &item, int, int) {
        if (item.key == QStringLiteral("C1"))
            waiter = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
                try {
                    holder->execute(QStringLiteral("exec tempdb..sp_getapplock @Resource = N'Vireo数据体检:tempdb..VUZ', "
                                                   "@LockMode = 'Exclusive', @LockOwner = 'Session'"));
                } catch (const db::DbError &) {
                }
            });
    };
    int waits = 0;
    hooks.waiting = [&] {
        ++waits;
        waiter.join();
        own.reset();   // the server goes away while C2 waits
        return true;
    };
    const CheckRunRecord run = runChecks(nodes, hooks);
    if (waiter.joinable())
        waiter.join();
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(run.end, RunEnd::ConnectionLost);
    QStringList l = lines(run);
    ASSERT_EQ(l.size(), 3);
    l[1].truncate(9);   // C2's error text is the driver's
    EXPECT_EQ(l, (QStringList{"C1 checked 2", "C2 error ", "P1 not_run 账套数据库连接已断开，本项目未执行"}));

    ctx.account = account.get();
    QDir().mkpath(dir.path() + QStringLiteral("/File/C3/检查.SQL"));
    account->execute(QStringLiteral("select 7 as y into tempdb..VUZ"));
    EXPECT_EQ(lines(runChecks(ticked({"C3"}))), QStringList{"C3 not_run 缺少 检查.SQL"});

    db::ClosedConnection closed(QStringLiteral("Unable to connect: Adaptive Server is unavailable or does not exist"));
    ctx.account = &closed;
    const CheckRunRecord none = runChecks(nodes);
    EXPECT_EQ(none.end, RunEnd::ConnectionLost);
    EXPECT_TRUE(none.endText.contains(QStringLiteral("Adaptive Server")));
    // The first item meets the closed connection and carries its text; the rest are not run.
    l = lines(none);
    ASSERT_EQ(l.size(), 3);
    EXPECT_TRUE(l[0].startsWith(QStringLiteral("C1 error ")) && l[0].contains(QStringLiteral("Adaptive Server"))) << l[0].toStdString();
    EXPECT_TRUE(l[1].startsWith(QStringLiteral("C2 not_run ")) && l[2].startsWith(QStringLiteral("P1 not_run ")));
}

// 停止 while an item's statement runs: the guard cancels it on the server; that item is Cancelled
// with its own elapsed time and no result, the later items are not run, and the server lock is free.
TEST_F(CheckRunOnServer, StopDuringAnItemCancelsItAndFreesTheServerLock)
{
    script("C1", QString::fromUtf8(kVuz) + QStringLiteral("waitfor delay '00:00:05'\ncreate table tempdb..VUZ (n int)\n"), "检查.sql");
    RunGuard guard(account.get(), std::nullopt, RunGuard::Options{});
    std::thread stopper;
    RunHooks hooks;
    hooks.progress = [&](const TreeItemRef &item, int, int) {
        if (item.key == QStringLiteral("C1"))
            stopper = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(800));
                guard.cancel(QStringLiteral("已停止（测试）"));
            });
    };
    hooks.cancelled = [&](ItemOutcome &item) {
        item.reason = guard.reason();
        return false;
    };
    QElapsedTimer clock;
    clock.start();
    const CheckRunRecord run = runChecks(ticked({"C1", "C2"}), hooks);
    stopper.join();
    EXPECT_LT(clock.elapsed(), 4500);
    EXPECT_EQ(run.end, RunEnd::Cancelled);
    EXPECT_EQ(lines(run), (QStringList{"C1 cancelled 已停止（测试）", "C2 not_run 检查已停止，本项目未执行"}));
    EXPECT_GT(run.items[0].elapsedMs, 500);
    EXPECT_FALSE(run.items[0].result.present());
    EXPECT_TRUE(test::checkLockIsFree(*server->connect()));
}

// The re-check and the repair as the report window calls them, without a window: each works under
// the lock and is held to the result stamp.
TEST_F(CheckRunOnServer, RecheckAndRepairKeepToTheStamp)
{
    account->execute(QStringLiteral("if exists (select * from sysobjects where name='Fixes') drop table Fixes"));
    account->execute(QStringLiteral("create table Fixes (n int)"));
    const QString folder = dir.path() + QStringLiteral("/File/C1");
    script("C1", QStringLiteral("insert into Fixes values (1)\ngo\ninsert into Fixes values (2)\n"), "修复.sql");
    const auto fixes = [&] { return account->query(QStringLiteral("select count(*) from Fixes")).integer(0, 0); };
    const CheckRunRecord run = runChecks(ticked({"C1"}));
    const ItemOutcome first = run.items.at(0);

    // A re-check is a run of its own: the table gets a new stamp, and a repair held to the first
    // run's findings refuses without running a batch.
    const ItemOutcome again = recheckItem(account.get(), run.identity, dir.path(), QStringLiteral("C1"), QStringLiteral("借贷不平"));
    EXPECT_TRUE(again.state == ItemState::Checked && again.count == 2);
    EXPECT_NE(again.result.runId, first.result.runId);
    const RepairResult refused = repairItem(account.get(), first.result, QStringLiteral("C1"), folder);
    EXPECT_TRUE(refused.refused.startsWith(QStringLiteral("该结果已被账套 001 于 "))) << refused.refused.toStdString();
    EXPECT_EQ(refused.batchesDone, 0);
    EXPECT_EQ(resultOwnershipProblem(ResultStamp{}, again.result), QStringLiteral("本次没有该项目的检查结果，请重新检查"));
    EXPECT_EQ(fixes(), 0);
    const RepairResult done = repairItem(account.get(), again.result, QStringLiteral("C1"), folder);
    EXPECT_TRUE(done.finished && done.refused.isEmpty() && done.error.isEmpty()) << done.error.toStdString();
    EXPECT_EQ(done.batchesDone, 2);
    EXPECT_EQ(fixes(), 2);
    EXPECT_TRUE(test::checkLockIsFree(*server->connect()));
}

// Over a slow link every batch costs a round trip: beyond the items' own script batches a run sends
// one batch of its own per item (the closing batch, which also hands the lock on) and two per run.
TEST_F(CheckRunOnServer, OneBatchOfTheToolsOwnPerItem)
{
    test::StandIn::Options o;
    o.log = true;
    test::StandIn logged(o);
    const auto conn = logged.connect();
    ctx.account = conn.get();
    script("C3", QStringLiteral("select * from 不存在的表\nGO\n"));
    const CheckRunRecord run = runChecks(ticked({"C1", "C2", "C3"}));
    ASSERT_EQ(lines(run).mid(0, 2), (QStringList{"C1 checked 2", "C2 error 期间不连续"}));
    EXPECT_TRUE(run.items[2].scriptFailed);
    int own = 0, scripts = 0;
    for (const QString &line : logged.log().split(QLatin1Char('\n')))
        if (line.startsWith(QStringLiteral("batch ")))
            ++(line.contains(QStringLiteral("VireoResult")) || line.contains(QStringLiteral("sp_getapplock"))
                       || line.contains(QStringLiteral("@@servername"))
                   ? own
                   : scripts);
    EXPECT_EQ(scripts, 5);   // two batches in the scripts of C1 and C2, one in C3's
    EXPECT_EQ(own, 3 + 2);
    // Whatever ended an item, its stamp names the table its closing batch finished writing.
    for (const ItemOutcome &item : run.items)
        EXPECT_EQ(resultOwnershipProblem(item.result, readResultStamp(conn.get(), item.code)), QString()) << item.code.toStdString();
    EXPECT_TRUE(test::checkLockIsFree(*conn));
}
