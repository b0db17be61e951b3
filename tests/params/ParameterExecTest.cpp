#include "CheckRun.h"
#include "ParamsTestSupport.h"
#include "StandIn.h"

#include <QMessageBox>
#include <QPointer>

using namespace vireo;
using namespace vireo::test;

namespace {
const QString kComplete = QStringLiteral("参数状态：完整");

class ParameterExec : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new StandIn; }
    static void TearDownTestSuite()
    {
        session().accountConn.reset();
        delete server;
        server = nullptr;
    }
    void SetUp() override
    {
        useParamsCatalogue();
        session().accountConn = server->connect();
        db::Connection *c = session().accountConn.get();
        c->execute(QStringLiteral("if not exists (select * from sysobjects where name='ProcLog') "
                                  "create table ProcLog (a varchar(20), b varchar(20))"));
        c->execute(QStringLiteral("delete from ProcLog"));
    }
    void TearDown() override { closeParameterWindows(); }

    static void dropProcedure(const QString &code)
    {
        session().accountConn->execute(QStringLiteral("if exists (select * from sysobjects where name='%1') "
                                                      "drop procedure %1").arg(code));
    }
    static void createProcedure(const QString &code, const QString &body = {})
    {
        dropProcedure(code);
        session().accountConn->execute(
            body.isEmpty() ? QStringLiteral("create procedure %1 @a varchar(20), @b varchar(20) as "
                                            "insert into ProcLog values (@a, @b)").arg(code)
                           : body);
    }
    static QList<QStringList> procLog()
    {
        const db::Recordset rs = session().accountConn->query(QStringLiteral("select a, b from ProcLog"));
        QList<QStringList> rows;
        for (qint64 r = 0; r < rs.rowCount(); ++r)
            rows.append({rs.text(r, 0), rs.text(r, 1)});
        return rows;
    }
    static int openWindows()
    {
        int n = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (qobject_cast<ParameterWindow *>(w) && w->isVisible())
                ++n;
        return n;
    }
    // Types into the 值 cell of a row with the real editor.
    static void enter(const ParamWindow &pw, int row, const char *text)
    {
        pw.doubleClick(row);
        QTest::keyClicks(pw.txt(), QString::fromUtf8(text));
    }
    // The item code, name and first parameter's caption the window shows.
    static QStringList shown(const ParamWindow &pw)
    {
        return {pw.w->itemCode, pw.find<QLabel>("itemNameLabel")->text(), pw.cell(0, 1)};
    }
    static void finish(const QPointer<ParameterWindow> &gone)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(gone.isNull());
    }

    static StandIn *server;
};
StandIn *ParameterExec::server = nullptr;
} // namespace

TEST_F(ParameterExec, ExecutesTheProcedureWithValuesInRowOrder)
{
    createProcedure(QStringLiteral("K01"));
    ParamWindow pw = openWindow(QStringLiteral("K01"));
    ASSERT_NE(pw.w, nullptr);
    EXPECT_EQ(pw.find<QLabel>("itemNameLabel")->text(), QStringLiteral("过程一"));
    EXPECT_TRUE(pw.cell(1) == QStringLiteral("7") && !pw.ok()->isEnabled());

    enter(pw, 0, "it's");  // a quote inside a value reaches the procedure as it was typed
    enter(pw, 1, "8");
    ASSERT_EQ(pw.status()->text(), kComplete);
    std::vector<ItemOutcome> told;   // the main window is given the item's new record
    session().outcomeChanged = [&](const ItemOutcome &o) { told.push_back(o); };
    clickOk(pw.ok());
    session().outcomeChanged = {};
    ASSERT_EQ(told.size(), 1u);
    EXPECT_TRUE(told[0].code == QStringLiteral("K01") && told[0].state == ItemState::Checked && told[0].result.present());
    EXPECT_EQ(ParameterWindow::instance(), nullptr);
    finish(pw.w);
    EXPECT_EQ(procLog(), (QList<QStringList>{{"it's", "8"}}));

    // The item's next window offers the values executed last.
    ParamWindow again = openWindow(QStringLiteral("K01"));
    ASSERT_NE(again.w, nullptr);
    EXPECT_EQ(again.w->values(), (QStringList{"it's", "8"}));
}

TEST_F(ParameterExec, WithoutParameterLinesOneEmptyArgumentIsSent)
{
    createProcedure(QStringLiteral("KE"),
                    QStringLiteral("create procedure KE @a varchar(20) as insert into ProcLog values (@a, 'KE')"));
    ParamWindow pw = openWindow(QStringLiteral("KE"));
    ASSERT_NE(pw.w, nullptr);
    enter(pw, 0, "x");
    QTest::keyClick(pw.txt(), Qt::Key_Backspace);
    clickOk(pw.ok());
    EXPECT_EQ(ParameterWindow::instance(), nullptr);
    finish(pw.w);
    EXPECT_EQ(procLog(), (QList<QStringList>{{"", "KE"}}));
}

TEST_F(ParameterExec, FailedExecShowsTheServersMessageAndKeepsTheWindow)
{
    dropProcedure(QStringLiteral("KERR"));
    QString serverMessage;
    try {
        session().accountConn->execute(QStringLiteral("Exec KERR 'v'"));
    } catch (const db::DbError &e) {
        serverMessage = e.message();
    }
    ASSERT_FALSE(serverMessage.isEmpty());

    ParamWindow pw = openWindow(QStringLiteral("KERR"));
    ASSERT_NE(pw.w, nullptr);
    enter(pw, 0, "v");
    clickOk(pw.ok());

    QMessageBox *box = pw.w->findChild<QMessageBox *>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible() && box->text().contains(serverMessage)) << box->text().toStdString();
    box->accept();
    EXPECT_EQ(ParameterWindow::instance(), pw.w);
    EXPECT_TRUE(pw.w->isVisible() && pw.ok()->isEnabled());
    EXPECT_EQ(pw.cell(0), QStringLiteral("v"));

    // Once the procedure exists the same window runs it.
    createProcedure(QStringLiteral("KERR"),
                    QStringLiteral("create procedure KERR @a varchar(20) as insert into ProcLog values (@a, 'KERR')"));
    clickOk(pw.ok());
    EXPECT_EQ(ParameterWindow::instance(), nullptr);
    EXPECT_EQ(procLog(), (QList<QStringList>{{"v", "KERR"}}));
}

// The procedure items of a run open one window at a time: 确定 or 退出 moves on to the next; a
// close that is not the user's doing drops what still waits.
TEST_F(ParameterExec, ProcedureItemsOpenInTurnAndAProgramCloseDropsTheRest)
{
    for (const char *code : {"K11", "K12"})
        dropProcedure(QLatin1String(code));
    const std::vector<TreeItemRef> nodes = {{QStringLiteral("K11"), QStringLiteral("第一个过程"), true},
                                            {QStringLiteral("P01"), QStringLiteral("期间参数检查"), false},
                                            {QStringLiteral("K12"), QStringLiteral("第二个过程"), true}};
    const CheckContext ctx{session().programFolder, session().catalogConn.get(), session().accountConn.get()};
    RunHooks hooks;
    hooks.procedure = [](ItemOutcome &item, db::Connection *) {
        openParameterWindow(item.code, QStringLiteral("Tools"));
        return false;
    };
    const CheckRunRecord run = RunChecks(nodes, QStringLiteral("Tools"), ctx, {}, hooks);
    ASSERT_EQ(run.items.size(), 2u);
    for (const ItemOutcome &item : run.items)
        EXPECT_EQ(item.reason, kProcedureNotRun) << item.code.toStdString();
    openParameterWindow(QStringLiteral("K01"), QStringLiteral("Tools"));
    openParameterWindow(QStringLiteral("K11"), QStringLiteral("Tools"));

    ParamWindow first{ParameterWindow::instance()};
    ASSERT_NE(first.w, nullptr);
    EXPECT_TRUE(QTest::qWaitForWindowActive(first.w, 5000));
    EXPECT_EQ(openWindows(), 1);
    EXPECT_EQ(shown(first), (QStringList{"K11", "第一个过程", "第一项"}));
    enter(first, 0, "one");
    clickOk(first.ok());
    EXPECT_EQ(procLog(), (QList<QStringList>{{"one", "K11默认"}}));

    ParamWindow second{ParameterWindow::instance()};
    ASSERT_NE(second.w, nullptr);
    ASSERT_NE(second.w, first.w);
    finish(first.w);
    EXPECT_TRUE(QTest::qWaitForWindowActive(second.w, 5000));
    EXPECT_EQ(openWindows(), 1);
    EXPECT_EQ(shown(second) << second.cell(0) << second.status()->text(), (QStringList{"K12", "第二个过程", "第二项", "", "状 态"}));
    enter(second, 0, "two");
    QTest::mouseClick(second.find<QPushButton>("exitButton"), Qt::LeftButton);
    ParamWindow third{ParameterWindow::instance()};
    ASSERT_NE(third.w, nullptr);
    EXPECT_EQ(third.w->itemCode, QStringLiteral("K01"));
    finish(second.w);

    third.w->close();   // not the user's doing: K11 waiting behind it is dropped
    EXPECT_EQ(ParameterWindow::instance(), nullptr);
    finish(third.w);
    EXPECT_EQ(openWindows(), 0);
    EXPECT_EQ(procLog(), (QList<QStringList>{{"one", "K11默认"}}));
}

// While a check run holds the account connection 确定 waits and says why, nothing waits inside
// the window, and once the run has ended 确定 executes the procedure.
TEST_F(ParameterExec, OkDuringACheckRunWaitsForItWithoutHangingTheWindow)
{
    createProcedure(QStringLiteral("K01"));
    ParamWindow pw = openWindow(QStringLiteral("K01"));
    ASSERT_NE(pw.w, nullptr);
    enter(pw, 0, "a");
    ASSERT_EQ(pw.status()->text(), kComplete);
    bool runEnded = false;
    accountWorker().submit(QStringLiteral("正在检查"),
                           [](db::Connection *c) { c->execute(QStringLiteral("waitfor delay '00:00:02'")); }, nullptr,
                           [&](const AccountWorker::JobEnd &) { runEnded = true; });
    EXPECT_FALSE(pw.ok()->isEnabled());
    EXPECT_TRUE(pw.status()->text().startsWith(kComplete + QStringLiteral("（正在检查")))
        << pw.status()->text().toStdString();
    QTest::mouseClick(pw.ok(), Qt::LeftButton);   // disabled: nothing is queued behind the run
    ASSERT_TRUE(QTest::qWaitFor([&] { return runEnded; }, 10000));
    EXPECT_TRUE(procLog().isEmpty() && pw.ok()->isEnabled());
    EXPECT_EQ(pw.status()->text(), kComplete);
    clickOk(pw.ok());
    EXPECT_EQ(procLog(), (QList<QStringList>{{"a", "7"}}));
}
