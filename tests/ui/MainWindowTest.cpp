#include "AccountWorker.h"
#include "CatalogueLintWindow.h"
#include "CatalogueImport.h"
#include "HistoryWindow.h"
#include "MainWindow.h"
#include "ReportWindow.h"
#include "RepairConfirm.h"
#include "HistoryUi.h"
#include "TrendChart.h"
#include "TreeRoutines.h"
#include "HistoryStore.h"
#include "RepairJournalWindow.h"
#include "Session.h"
#include "ServerWatch.h"
#include "SqliteConnection.h"
#include "StandIn.h"
#include "TestPaths.h"
#include "UiTestSupport.h"
#include <QFileDialog>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include "ResultGrid.h"
#include <QContextMenuEvent>
#include <QMenu>
#include <QScrollBar>
#include <QMenuBar>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QStatusBar>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <csignal>

using namespace vireo;

namespace {

// The tree's keys in pre-order, all or only the ticked ones.
QStringList keys(QTreeWidget *tree, bool tickedOnly = false)
{
    QStringList out;
    for (const TreeItemRef &n : treeNodesPreOrder(tree))
        if (n.checked || !tickedOnly)
            out << n.key;
    return out;
}

class MainWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        standIn = new test::StandIn;
        catalogue = openCatalogue(test::dataDir() + QStringLiteral("/ui/VUZ.mdb")).release();
    }
    static void TearDownTestSuite()
    {
        delete standIn;
        standIn = nullptr;
        delete catalogue;
        catalogue = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        Session &s = session();
        s.programFolder = dir.path();
        s.catalogConn.reset(new CatalogueView(catalogue));
        s.accountConn = standIn->connect();
        window = new MainWindow;
        window->load();
        window->show();
        tree = window->findChild<QTreeWidget *>(QStringLiteral("catalogueTree"));
        grid = window->findChild<QTableView *>(QStringLiteral("summaryGrid"));
        panel = window->findChild<QFrame *>(QStringLiteral("itemPanel"));
    }

    void TearDown() override
    {
        delete window.data();
        session().catalogConn.reset();
        session().accountConn.reset();
    }

    QTreeWidgetItem *node(const QString &key) { return findNode(tree, key); }

    // Toggles a node's tick the way a user does: current node, then the space bar.
    void userToggle(const QString &key)
    {
        tree->setCurrentItem(node(key));
        QTest::keyClick(tree, Qt::Key_Space);
    }

    // Clicks a button; after 执行 waits (bounded) until the run's records have come back.
    void click(const char *name)
    {
        auto *b = window->findChild<QToolButton *>(QLatin1String(name));
        ASSERT_NE(b, nullptr) << name;
        QTest::mouseClick(b, Qt::LeftButton);
        if (QLatin1String(name) == QLatin1String("runButton"))
            waitIdle();
    }

    static void waitIdle() { test::waitIdle(); }

    QString cellNote(int row, int col) const { return grid->model()->index(row, col).data(Qt::ToolTipRole).toString(); }
    bool greyRow(int row) const
    {
        return grid->model()->index(row, 0).data(Qt::ForegroundRole).value<QColor>() == QColor(Qt::gray);
    }
    void selectRow(int row) { grid->setCurrentIndex(grid->model()->index(row, 0)); }

    void menu(const char *key)
    {
        auto *a = window->findChild<QAction *>(QLatin1String(key));
        ASSERT_NE(a, nullptr) << key;
        a->trigger();
    }

    // Clicks 执行 with A01 (whose script ends with the given wait) and A02 ticked; at stopAfterMs
    // (once stopWhen holds) presses 停止. Returns the status text seen then; measures the longest
    // gap between 50 ms timer ticks and the time from 停止 to the end of the run.
    QString runAndStop(const QString &wait, int stopAfterMs, const std::function<bool()> &stopWhen, qint64 &longestGap,
                       qint64 &stopToEnd)
    {
        stage(QStringLiteral("A01"), {"select 1 as n into tempdb..VUZ", "GO", "waitfor delay '" + wait + "'"});
        writeScript(QStringLiteral("A02"), {"create table tempdb..A02_RAN (x int)", "GO"});
        click("clearAllButton");
        setSubtreeChecked(node("A01"), true, false, false);
        setSubtreeChecked(node("A02"), true, false, false);
        QElapsedTimer sinceTick, sinceStop;
        longestGap = 0;
        QTimer ticks;
        QObject::connect(&ticks, &QTimer::timeout, [&] {
            longestGap = std::max(longestGap, sinceTick.restart());
        });
        QString status;
        QTimer stopper;
        QObject::connect(&stopper, &QTimer::timeout, [&] {
            if (!stopWhen())
                return;
            stopper.stop();
            status = window->findChild<QLabel *>(QStringLiteral("progressLabel"))->text() + QLatin1Char('|')
                     + window->findChild<QLabel *>(QStringLiteral("silenceLabel"))->text();
            sinceStop.start();
            QTest::keyClick(window, Qt::Key_Escape);
        });
        sinceTick.start();
        ticks.start(50);
        QTimer::singleShot(stopAfterMs, [&] { stopper.start(50); });
        click("runButton");
        stopToEnd = sinceStop.isValid() ? sinceStop.elapsed() : -1;
        return status;
    }

    QStringList gridRows()
    {
        QStringList rows;
        for (int r = 1; r < window->gridRowCount(); ++r)
            rows << QStringList{window->gridText(r, 0), window->gridText(r, 1), window->gridText(r, 2)}.join(
                QLatin1Char('|'));
        return rows;
    }

    void writeScript(const QString &code, const QStringList &lines)
    {
        test::writeGbFile(dir.path() + QStringLiteral("/File/") + code + QStringLiteral("/检查.SQL"), lines);
    }
    void quickScripts()
    {
        writeScript(QStringLiteral("A01"), {"select 1 as n into tempdb..VUZ", "GO"});
        writeScript(QStringLiteral("A02"), {"select 2 as n into tempdb..VUZ", "GO"});
    }
    // A check script that drops the staging table, then runs the given batch.
    void stage(const QString &code, const QStringList &batch)
    {
        writeScript(code, QStringList{"if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ",
                                      "GO"} + batch + QStringList{"GO"});
    }

    // The shared catalogue, owned by the suite; the session holds a non-owning view of it.
    class CatalogueView : public db::Connection {
    public:
        explicit CatalogueView(db::Connection *c) : m_c(c) {}
        bool isOpen() const override { return m_c->isOpen(); }
        void execute(const QString &sql) override { m_c->execute(sql); }
        db::Recordset query(const QString &sql, qint64 maxRows) override { return m_c->query(sql, maxRows); }

    private:
        db::Connection *m_c;
    };

    static inline test::StandIn *standIn = nullptr;
    static inline db::Connection *catalogue = nullptr;
    QTemporaryDir dir;
    QPointer<MainWindow> window;
    QTreeWidget *tree = nullptr;
    QTableView *grid = nullptr;
    QFrame *panel = nullptr;
};

TEST_F(MainWindowTest, StartsWithToolsTreeHeaderOnlyGridAndItsLayout)
{
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Vireo数据体检工具"));
    EXPECT_EQ(window->treeName, QStringLiteral("Tools"));
    // Pre-order with siblings by cID, whatever order the rows were stored in; the orphan is absent.
    EXPECT_EQ(keys(tree), (QStringList{"G1", "A01", "A02", "A03", "G2", "B01", "B0101"}));
    EXPECT_EQ(node("A01")->text(0), QStringLiteral("凭证检查"));
    // bSign ticks the row alone: its unticked parent stays unticked.
    EXPECT_EQ(keys(tree, true), QStringList{"A01"});

    EXPECT_TRUE(grid->isVisible());
    EXPECT_FALSE(panel->isVisible());
    ASSERT_EQ(window->gridRowCount(), 2);
    EXPECT_EQ(window->gridText(0, 0) + window->gridText(0, 1) + window->gridText(0, 2), QStringLiteral("编码检查项目结果报告"));
    EXPECT_EQ(window->gridRowHeight(1), 0);
    // A filter set and cleared leaves the blank row hidden, and an empty view has nothing to export.
    auto *summaryView = qobject_cast<GridProxy *>(grid->model());
    summaryView->setColumnFilter(0, {ColumnFilter::Equals, QStringLiteral("X")});
    summaryView->clearFilters();
    EXPECT_EQ(window->gridRowHeight(1), 0);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5));
    QApplication::sendEvent(grid->viewport(), &menuKey);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_FALSE(menu->actions().constLast()->isEnabled()) << menu->actions().constLast()->text().toStdString();
    menu->close();
    // At the first size 与上次比较 shows in full beside the other three.
    const QHeaderView *header = grid->horizontalHeader();
    EXPECT_LE(header->sectionViewportPosition(3) + header->fontMetrics().horizontalAdvance(window->gridText(0, 3)) + 8,
              grid->viewport()->width());
    EXPECT_EQ(grid->horizontalScrollBar()->maximum(), 0);   // and nothing to scroll to

    // mainMenu entries in order, with their keys and blanks.
    QStringList entries;
    for (QAction *top : window->menuBar()->actions()) {
        entries << top->objectName() + QLatin1Char('=') + top->text();
        for (QAction *a : top->menu()->actions())
            entries << a->objectName() + QLatin1Char('=') + a->text();
    }
    EXPECT_EQ(entries, (QStringList{"File=文件    ", "Relogin=重新注册    ", "ChooseFolder=选择检查目录…    ", "ExportReport=导出体检报告    ", "Exit=退出  ",
                                    "Function=功能    ", "Tools=常用工具    ", "Njb=年结系列     ", "History=历史记录    ",
                                    "RepairLog=修复记录    ", "Lint=目录检查    ", "Help=帮助    ", "About=关于  "}));

    QStringList captions;   // each button's text, "+" when it has an icon
    for (const char *name : {"selectAllButton", "clearAllButton", "runButton", "exitButton"}) {
        const auto *b = window->findChild<QToolButton *>(QLatin1String(name));
        captions << (b ? b->text() + (b->icon().isNull() ? "" : "+") : QStringLiteral("(none)"));
    }
    EXPECT_EQ(captions, (QStringList{"全选  +", "全清  +", "执行  +", "退出  +"}));

    // Five panels and, beside them, the place of status messages.
    EXPECT_EQ(window->statusBar()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly).size(), 6);
    EXPECT_NE(window->statusBar()->findChild<QLabel *>(QStringLiteral("statusMessage")), nullptr);
    EXPECT_EQ(window->panelText(1), QStringLiteral("操作员"));
    // A text longer than its panel ends in "…"; the whole of it is in the tool tip.
    window->setPanelText(2, QStringLiteral("服务器：db-server.example.internal,40977"));
    auto *server = window->statusBar()->findChild<QLabel *>(QStringLiteral("Server"));
    EXPECT_TRUE(server->text().endsWith(QChar(0x2026))) << server->text().toStdString();
    EXPECT_EQ(server->toolTip(), QStringLiteral("服务器：db-server.example.internal,40977"));

    // Maximized, the tree and the grid take the extra room; 退出 keeps to the right edge.
    QWidget *area = window->findChild<QWidget *>(QStringLiteral("workArea"));
    const auto place = [&](const char *name) {
        QWidget *w = window->findChild<QWidget *>(QLatin1String(name));
        QWidget *in = qobject_cast<QToolButton *>(w) ? w->parentWidget() : area;
        return QRect(w->mapTo(in, QPoint(0, 0)), w->size());
    };
    const QRect treeAt = place("catalogueTree"), gridAt = place("summaryGrid");
    window->showMaximized();
    QCoreApplication::processEvents();
    const QSize grown = window->size() - QSize(MainWindow::ClientWidth, MainWindow::ClientHeight);
    ASSERT_TRUE(grown.width() > 40 && grown.height() > 40);
    EXPECT_EQ(place("catalogueTree").height(), treeAt.height() + grown.height());
    EXPECT_EQ(place("summaryGrid").height(), gridAt.height() + grown.height());
    EXPECT_EQ(place("catalogueTree").width() + place("summaryGrid").width(), treeAt.width() + gridAt.width() + grown.width());
    EXPECT_GT(place("summaryGrid").width(), gridAt.width() + grown.width() / 2);
    EXPECT_EQ(place("summaryGrid").right(), area->width() - 8);
    EXPECT_EQ(place("exitButton").right(), window->width() - 8);
}

TEST_F(MainWindowTest, UserTickSpreadsToSubtreeOnlyAndButtonsTickEverything)
{
    userToggle(QStringLiteral("G2"));
    EXPECT_EQ(keys(tree, true), (QStringList{"A01", "G2", "B01", "B0101"}));
    // Unticking a descendant leaves its ancestors ticked.
    userToggle(QStringLiteral("B01"));
    EXPECT_EQ(keys(tree, true), (QStringList{"A01", "G2"}));
    // Unticking a parent unticks its children, siblings keep their ticks.
    userToggle(QStringLiteral("G1"));
    EXPECT_EQ(keys(tree, true), (QStringList{"G1", "A01", "A02", "A03", "G2"}));
    userToggle(QStringLiteral("G1"));
    EXPECT_EQ(keys(tree, true), QStringList{"G2"});

    click("selectAllButton");
    EXPECT_EQ(keys(tree, true), keys(tree));
    click("clearAllButton");
    EXPECT_TRUE(keys(tree, true).isEmpty());
    QTest::keyClick(tree, Qt::Key_A, Qt::ControlModifier);   // Ctrl+A on the tree is 全选
    EXPECT_EQ(keys(tree, true), keys(tree));
    click("clearAllButton");

    // The routines themselves never spread: a parent set directly keeps its children as they are.
    setSubtreeChecked(node("G1"), true, false, false);
    EXPECT_EQ(keys(tree, true), QStringList{"G1"});
    setSubtreeChecked(node("A02"), true, true, true);
    EXPECT_EQ(keys(tree, true), (QStringList{"G1", "A02", "A03"}));
}

TEST_F(MainWindowTest, NodeClickShowsItemTextsOrTheGrid)
{
    const QString folder = dir.path() + QStringLiteral("/File/");
    test::writeGbFile(folder + QStringLiteral("A01/描述.txt"), {"检查凭证的借贷平衡", "第二行"});
    test::writeGbFile(folder + QStringLiteral("A01/说明.txt"), {"不平衡的凭证需要修复"});
    test::writeGbFile(folder + QStringLiteral("a02/描述.TXT"), {"科目描述"});

    tree->expandAll();
    const auto clickNode = [&](const QString &key) {
        const QRect r = tree->visualItemRect(node(key));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center() + QPoint(r.width() / 4, 0));
    };
    auto *itemNameLabel = window->findChild<QLabel *>(QStringLiteral("itemNameLabel"));
    const auto shown = [&] {   // name, description and notes
        return QStringList{itemNameLabel->text(), window->findChild<TextBox *>(QStringLiteral("descriptionBox"))->text(),
                           window->findChild<TextBox *>(QStringLiteral("notesBox"))->text()};
    };

    clickNode(QStringLiteral("A01"));
    EXPECT_TRUE(panel->isVisible() && !grid->isVisible());
    EXPECT_EQ(shown(), (QStringList{"凭证检查", "检查凭证的借贷平衡\r\n第二行\r\n", "不平衡的凭证需要修复\r\n"}));
    // A02 has no 说明.txt: that box keeps the previous item's text.
    clickNode(QStringLiteral("A02"));
    EXPECT_EQ(shown(), (QStringList{"科目检查", "科目描述\r\n", "不平衡的凭证需要修复\r\n"}));

    // A grouping node brings the grid back and still names itself in the hidden panel.
    clickNode(QStringLiteral("G2"));
    EXPECT_TRUE(grid->isVisible() && !panel->isVisible());
    EXPECT_EQ(itemNameLabel->text(), QStringLiteral("其他检查"));
}

TEST_F(MainWindowTest, RunListsTickedItemsInPreOrderAndSwitchingCatalogueKeepsRows)
{
    stage(QStringLiteral("A01"), {"create table tempdb..VUZ (cNo varchar(10), cName nvarchar(50))",
                                  "insert into tempdb..VUZ values ('1', N'凭证一'), ('2', N'凭证二')"});
    stage(QStringLiteral("A02"), {"select N'科目表不存在，无法检查' as Error into tempdb..VUZ"});
    // A stored-procedure item: its script leaves an empty staging table.
    stage(QStringLiteral("B0101"), {"-- 存储过程&&B0101", "create table tempdb..VUZ (cNo varchar(10))"});
    // A script for a grouping node is never run.
    writeScript(QStringLiteral("B01"), {"create table tempdb..B01_RAN (x int)", "GO"});
    // A03 has no script: a result table some earlier check left on the server is not its result.
    auto conn = standIn->connect();
    conn->execute("if exists (select * from tempdb..sysobjects where name='A03') drop table tempdb..A03");
    conn->execute("create table tempdb..A03 (x int); insert into tempdb..A03 values (1), (2), (3)");

    QStringList handedOff, opened;
    window->handOffProcedure = [&](const QString &k, const QString &t) { handedOff << k + QLatin1Char('/') + t; };
    window->openReport = [&](const ItemOutcome &o, const QString &t) { opened << o.code + QLatin1Char('/') + t; };

    // Tick everything, then untick G1 alone (the user's tick would spread).
    click("selectAllButton");
    setSubtreeChecked(node("G1"), false, false, false);
    // Show the item panel first: the run brings the grid back.
    window->nodeClick(node("A01"));
    ASSERT_TRUE(panel->isVisible());

    test::ModalWatcher watcher;
    click("runButton");
    const QStringList inRunOrder{"A01|凭证检查|记录数：2", "A02|科目检查|科目表不存在，无法检查", "A03|缺少脚本|",
                                 "B0101|余额检查|"};
    EXPECT_TRUE(watcher.boxes.empty()) << watcher.boxes.front().text.toStdString();
    EXPECT_EQ(gridRows(), inRunOrder);
    EXPECT_TRUE(grid->isVisible() && !panel->isVisible());
    EXPECT_EQ(handedOff, QStringList{"B0101/Tools"});
    EXPECT_EQ(conn->query("select count(*) as n from tempdb..sysobjects where name='B01_RAN'").text(0, 0), QStringLiteral("0"));
    EXPECT_EQ(conn->query("select cName from tempdb..A01 where cNo='2'").text(0, 0), QStringLiteral("凭证二"));

    // Double click opens rows with a count, not an error row nor an item this run did not check.
    for (int r = 0; r < grid->model()->rowCount(); ++r) {
        const QRect cell = grid->visualRect(grid->model()->index(r, 1));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }
    EXPECT_EQ(opened, (QStringList{"A01/Tools"}));

    // A header click sorts the summary (texts in pinyin order: 记 ji before 科 ke); Enter opens the
    // current row's report; 按检查顺序 brings back the order of the run.
    QHeaderView *header = grid->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(2) + 5, 5));
    EXPECT_EQ(gridRows(), (QStringList{"A03|缺少脚本|", "B0101|余额检查|", "A01|凭证检查|记录数：2",
                                       "A02|科目检查|科目表不存在，无法检查"}));
    selectRow(2);
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_EQ(opened, (QStringList{"A01/Tools", "A01/Tools"}));
    auto *order = window->findChild<QToolButton *>(QStringLiteral("runOrderButton"));
    ASSERT_TRUE(order->isVisible());
    order->click();
    EXPECT_EQ(gridRows(), inRunOrder);
    EXPECT_FALSE(order->isVisible());

    // Switching the catalogue replaces the tree and leaves the summary alone.
    menu("Njb");
    EXPECT_EQ(window->treeName, QStringLiteral("NjaTree"));
    EXPECT_EQ(keys(tree) << "ticked:" << keys(tree, true), (QStringList{"N01", "N02", "ticked:", "N02"}));
    EXPECT_TRUE(gridRows().size() == 4 && grid->isVisible());
    menu("Tools");
    EXPECT_TRUE(keys(tree).size() == 7 && gridRows().size() == 4);

    // Nothing runnable ticked: the header and one empty row of normal height.
    click("runButton");
    EXPECT_EQ(gridRows(), QStringList{"A01|凭证检查|记录数：2"});
    click("clearAllButton");
    click("runButton");
    ASSERT_EQ(window->gridRowCount(), 2);
    EXPECT_EQ(gridRows(), QStringList{"||"});
    EXPECT_GT(window->gridRowHeight(1), 0);
}

// A failed script shows its error, not the rows an earlier item left; items not checked in this
// run are grey with the reason (and their last result in this window); a repair and its re-check
// show in the item's row.
TEST_F(MainWindowTest, FailedAndUncheckedItemsSaySoAndARepairRefreshesTheRow)
{
    auto conn = standIn->connect();
    conn->execute("if exists (select * from sysobjects where name='Probe') drop table Probe");
    conn->execute("create table Probe (n int, ok int); insert into Probe values (1, 0), (2, 0)");
    writeScript(QStringLiteral("A01"), {"select n into tempdb..VUZ from Probe where ok = 0", "GO"});
    test::writeGbFile(dir.path() + QStringLiteral("/File/A01/修复.sql"), {"update Probe set ok = 1", "GO"});
    writeScript(QStringLiteral("A02"), {"select n from NoSuchTable", "GO"});
    writeScript(QStringLiteral("A03"), {"select 7 as x into tempdb..VUZ", "GO"});
    writeScript(QStringLiteral("B0101"), {"-- 存储过程&&B0101", "create table tempdb..VUZ (n int)", "GO"});
    window->openReport = [](const ItemOutcome &o, const QString &t) { openReportWindow(o, t); };

    click("selectAllButton");
    test::ModalWatcher watcher;
    click("runButton");
    EXPECT_EQ(gridRows()[2], QStringLiteral("A03|缺少脚本|记录数：1"));
    // A03's script is gone at the second run: the row keeps the first run's result, grey.
    QFile::remove(dir.path() + QStringLiteral("/File/A03/检查.SQL"));
    click("runButton");
    ASSERT_EQ(watcher.boxes.size(), 2u);
    EXPECT_TRUE(watcher.boxes[1].text.contains(QStringLiteral("[A02]"))) << watcher.boxes[1].text.toStdString();
    QStringList rows = gridRows();
    ASSERT_EQ(rows.size(), 4) << rows.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(rows[1].startsWith(QStringLiteral("A02|科目检查|检查脚本执行出错：")) && rows[1].contains(QStringLiteral("NoSuchTable")))
        << rows[1].toStdString();
    rows[1] = QStringLiteral("A02");
    EXPECT_EQ(rows, (QStringList{"A01|凭证检查|记录数：2", "A02", "A03|缺少脚本|记录数：1", "B0101|余额检查|"}));
    EXPECT_FALSE(greyRow(0) || cellNote(0, 2).startsWith(QStringLiteral("本次未检查")));
    EXPECT_TRUE(greyRow(2) && greyRow(3));
    EXPECT_EQ(cellNote(2, 2), QStringLiteral("本次未检查：缺少 检查.SQL，显示的是上次的结果"));
    EXPECT_EQ(cellNote(3, 2), QStringLiteral("本次未检查：存储过程尚未执行，请在参数窗口中输入参数后执行"));

    // Repair A01 from its report window, then check again.
    selectRow(0);
    window->gridDoubleClick();
    waitIdle();
    ASSERT_NE(ReportWindow::instance(), nullptr);
    auto *function = ReportWindow::instance()->findChild<QPushButton *>(QStringLiteral("planOrRepairButton"));
    ReportWindow::setRepairConfirmation([](QWidget *, const RepairRequest &) { return true; });
    QTest::mouseClick(function, Qt::LeftButton);
    waitIdle();
    ReportWindow::setRepairConfirmation({});
    EXPECT_EQ(gridRows()[0], QStringLiteral("A01|凭证检查|记录数：2"));
    EXPECT_TRUE(greyRow(0) && cellNote(0, 2).contains(QStringLiteral("已修复"))) << cellNote(0, 2).toStdString();
    QTest::mouseClick(function, Qt::LeftButton);
    waitIdle();
    EXPECT_EQ(gridRows()[0], QStringLiteral("A01|凭证检查|记录数：0"));
    EXPECT_FALSE(greyRow(0) || cellNote(0, 2).contains(QStringLiteral("已修复")));
    ReportWindow::instance()->close();
}

TEST_F(MainWindowTest, WaitForAnotherCheckOnTheServerCanBeGivenUp)
{
    writeScript(QStringLiteral("A01"), {"select 1 as n into tempdb..VUZ", "GO"});
    auto holder = standIn->connect();
    holder->execute("exec tempdb..sp_getapplock @Resource = N'Vireo数据体检:tempdb..VUZ', @LockMode = 'Exclusive', "
                    "@LockOwner = 'Session'");
    test::ModalWatcher watcher;
    QString shown;
    watcher.onDialog = [&](QWidget *d) {
        auto *wait = qobject_cast<QProgressDialog *>(d);
        ASSERT_NE(wait, nullptr);
        shown = wait->labelText();
        wait->cancel();
    };
    click("runButton");
    EXPECT_EQ(shown, kLockWaitText);
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("已放弃等待"))) << watcher.boxes[0].text.toStdString();
    EXPECT_FALSE(window->isRunning());
}

TEST_F(MainWindowTest, CodesThatCannotNameATableOrAMissingTableAreReportedWhenTheCatalogueLoads)
{
    auto catalog = std::make_unique<db::SqliteConnection>(QStringLiteral(":memory:"));
    catalog->execute(QStringLiteral("create table Tools (cID integer, cParentID text, cCode text, cName text, "
                                    "bSign boolean, bEnd boolean)"));
    catalog->execute(QStringLiteral("insert into Tools values (1, null, 'OK1', '好编码', 1, 1), "
                                    "(2, null, 'x' || char(9) || 'y', '坏编码', 1, 1)"));
    session().catalogConn = std::move(catalog);
    test::ModalWatcher watcher;
    menu("Tools");
    waitIdle();   // the window's message boxes are window-modal
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("坏编码")) && !watcher.boxes[0].text.contains(QStringLiteral("好编码")))
        << watcher.boxes[0].text.toStdString();

    // A missing catalogue table is reported and leaves an empty tree.
    menu("Njb");
    waitIdle();
    ASSERT_EQ(watcher.boxes.size(), 2u);
    EXPECT_TRUE(watcher.boxes[1].text.contains(QStringLiteral("NjaTree")));
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(MainWindowTest, ARunningCheckKeepsTheWindowLiveAndStopCancelsItOnTheServer)
{
    auto probe = standIn->connect();
    const auto cancelled = [&] { return probe->query("select @@standin_cancelled as n").text(0, 0).toInt(); };
    const int before = cancelled();
    test::ModalWatcher watcher;
    qint64 gap = 0, stopToEnd = 0;
    const QString status = runAndStop(QStringLiteral("00:00:05"), 1500, [] { return true; }, gap, stopToEnd);
    EXPECT_LT(gap, 200);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^正在检查：凭证检查 · 00:00:0[12]\\|$")).match(status).hasMatch())
        << status.toStdString();
    EXPECT_TRUE(stopToEnd >= 0 && stopToEnd < 1000) << stopToEnd;
    EXPECT_EQ(cancelled(), before + 1);
    EXPECT_TRUE(watcher.boxes.empty());
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("[A01] 凭证检查"))) << window->statusText().toStdString();
    // The panels stay beside the message.
    EXPECT_TRUE(window->findChild<QLabel *>(QStringLiteral("Server"))->isVisible());
    // The stopped item and the one not reached say so, grey; neither shows an earlier count.
    EXPECT_EQ(gridRows(), (QStringList{"A01|凭证检查|本次检查已停止", "A02|科目检查|"}));
    EXPECT_TRUE(greyRow(0) && greyRow(1));
    EXPECT_EQ(cellNote(1, 2), QStringLiteral("本次未检查：检查已停止，本项目未执行"));
    EXPECT_TRUE(window->lastRun().items.at(0).state == ItemState::Cancelled && window->lastRun().items.at(0).elapsedMs > 1000);
    // The stopped item let go of the server lock: another session gets it at once.
    EXPECT_TRUE(test::checkLockIsFree(*probe));
    EXPECT_EQ(probe->query("select count(*) as n from tempdb..sysobjects where name='A02_RAN'").text(0, 0), QStringLiteral("0"));

    // The same connection runs the next check at once.
    db::Connection *conn = session().accountConn.get();
    quickScripts();
    click("runButton");
    EXPECT_EQ(session().accountConn.get(), conn);
    EXPECT_EQ(gridRows(), (QStringList{"A01|凭证检查|记录数：1", "A02|科目检查|记录数：1"}));
}

TEST_F(MainWindowTest, AFrozenServerIsShownAndStopDropsTheConnectionWhichHealsAtTheNextRun)
{
    test::StandIn frozen;
    session().accountConn = frozen.connect();
    session().accountParams = frozen.params();
    ServerWatch::settings() = {300, 1};
    struct Restore {
        qint64 pid;
        ~Restore()
        {
            ::kill(pid_t(pid), SIGCONT);
            ServerWatch::settings() = {};
            session().accountParams.reset();
        }
    } restore{frozen.pid()};
    test::ModalWatcher watcher;
    QLabel *silent = window->findChild<QLabel *>(QStringLiteral("silenceLabel"));
    QTimer::singleShot(400, [&] { ::kill(pid_t(frozen.pid()), SIGSTOP); });
    qint64 gap = 0, stopToEnd = 0;
    const QString status = runAndStop(QStringLiteral("00:00:30"), 600, [&] { return silent->isVisible(); }, gap, stopToEnd);
    EXPECT_TRUE(status.contains(QStringLiteral("|服务器没有响应（已 "))) << status.toStdString();
    EXPECT_TRUE(stopToEnd >= 0 && stopToEnd < 5000) << stopToEnd;
    EXPECT_LT(gap, 200);
    EXPECT_FALSE(session().accountConn->isOpen());

    // The server comes back: the next run opens the connection again with the same credentials.
    ::kill(pid_t(frozen.pid()), SIGCONT);
    QStringList notices;
    QObject::connect(&accountWorker(), &AccountWorker::notice, window, [&](const QString &t) { notices << t; });
    quickScripts();
    click("runButton");
    EXPECT_TRUE(notices.contains(QStringLiteral("已重新连接数据库服务器"))) << notices.join(' ').toStdString();
    EXPECT_EQ(gridRows(), (QStringList{"A01|凭证检查|记录数：1", "A02|科目检查|记录数：1"}));
}

TEST_F(MainWindowTest, RunOnAFailedAccountConnectionReportsTheReasonAndStaysUsable)
{
    writeScript(QStringLiteral("A01"), {"select 1", "GO"});
    session().accountConn = std::make_unique<db::ClosedConnection>(QStringLiteral("账套数据库连接未能打开：Login failed"));
    test::ModalWatcher watcher;
    click("runButton");
    ASSERT_EQ(watcher.boxes.size(), 1u);
    EXPECT_EQ(watcher.boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(watcher.boxes[0].text.contains(QStringLiteral("Login failed")) && watcher.boxes[0].text.contains(QStringLiteral("A01")));
    EXPECT_TRUE(!window->isRunning() && window->findChild<QToolButton *>(QStringLiteral("runButton"))->isEnabled());
}

TEST_F(MainWindowTest, MenuCommandsCloseTheActiveChildWindowAndReachTheOtherWindows)
{
    QWidget report, params;
    for (QWidget *w : {&report, &params}) {
        w->setProperty("vireoChildWindow", true);
        w->show();
    }
    QWidget *about = nullptr;
    window->showAbout = [&](QWidget *parent) { about = parent; };
    params.activateWindow();
    QApplication::setActiveWindow(&params);
    QCoreApplication::processEvents();
    menu("About");
    EXPECT_EQ(about, window.data());
    EXPECT_TRUE(!params.isVisible() && report.isVisible());

    // 修复记录 shows the journal's rows.
    history::HistoryStore::setDefaultPath(dir.filePath(QStringLiteral("journal.sqlite")));
    history::HistoryStore(history::HistoryStore::defaultPath())
        .addRepair({.time = QDateTime::currentDateTime(), .code = QStringLiteral("ZZ01"), .before = 2});
    menu("RepairLog");
    QPointer<RepairJournalWindow> journal;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *j = qobject_cast<RepairJournalWindow *>(w); j && j->isVisible())
            journal = j;
    ASSERT_NE(journal, nullptr);
    ASSERT_EQ(journal->grid()->model()->rowCount(), 1);
    EXPECT_EQ(journal->grid()->model()->index(0, 4).data().toString(), QStringLiteral("ZZ01"));
    history::HistoryStore::setDefaultPath({});

    // Closing the frame closes its remaining child windows.
    params.show();
    menu("Exit");
    EXPECT_FALSE(report.isVisible() || params.isVisible() || (journal && journal->isVisible()));
}

TEST(CatalogueTreeTest, LoadTreeStopsAtADuplicateCodeKeepingEarlierNodes)
{
    db::SqliteConnection cat(QStringLiteral(":memory:"));
    cat.execute("create table Tools (cID integer, cParentID text, cCode text, cName text, bSign boolean, bEnd boolean)");
    cat.execute("insert into Tools values (1, null, 'P', 'parent', null, 0), (2, '1', 'C', 'child', 1, 1), "
                "(3, null, 'C', 'again', 0, 1), (4, null, 'Z', 'later', 0, 1)");
    QTreeWidget tree;
    EXPECT_THROW(loadTree(QString(), QString(), &tree, QStringLiteral("Tools"), &cat), db::DbError);
    EXPECT_EQ(keys(&tree), (QStringList{"P", "C"}));
    EXPECT_EQ(keys(&tree, true), QStringList{"C"});

    // Loading below an existing node adds the rows of that parent id under it.
    cat.execute("insert into Tools values (5, '9', 'D', 'grandchild', 0, 1)");
    loadTree(QStringLiteral("9"), QStringLiteral("C"), &tree, QStringLiteral("Tools"), &cat);
    EXPECT_EQ(keys(&tree), (QStringList{"P", "C", "D"}));
    EXPECT_EQ(findNode(&tree, QStringLiteral("D"))->parent(), findNode(&tree, QStringLiteral("C")));
    EXPECT_THROW(loadTree(QString(), QString(), &tree, QStringLiteral("Missing"), &cat), db::DbError);
}

} // namespace

// Three runs of one item with 2, 3 and 1 findings: the summary compares each run with the one
// before, and the history window draws the item's chart with three points of those counts and
// the repair made between the second and the third run.
TEST_F(MainWindowTest, HistoryComparesRunsAndChartsEveryRun)
{
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    session().accountInfo = {standIn->server(), QStringLiteral("001"), QStringLiteral("2024"), QStringLiteral("QZdata_001_2024"),
                             QStringLiteral("demo"), {}};
    attachHistory(window);
    stage(QStringLiteral("A01"), {"select * into tempdb..VUZ from tempdb..HIST_SRC"});
    auto conn = standIn->connect();
    conn->execute("if exists (select * from tempdb..sysobjects where name='HIST_SRC') drop table tempdb..HIST_SRC");
    conn->execute("create table tempdb..HIST_SRC (cNo varchar(10), cName nvarchar(50))");
    conn->execute("insert into tempdb..HIST_SRC values ('1', N'凭证一'), ('2', N'凭证二')");
    click("clearAllButton");
    setSubtreeChecked(node("A01"), true, false, false);
    const char *changes[] = {nullptr, "insert into tempdb..HIST_SRC values ('3', N'凭证三')",
                             "delete from tempdb..HIST_SRC where cNo <> '2'"};
    QStringList shown;
    for (const char *change : changes) {
        if (change)
            conn->execute(change);
        click("runButton");
        shown << window->gridText(1, 3).section(QStringLiteral("（"), 0, 0);
        if (change == changes[1]) {
            history::HistoryStore(history::HistoryStore::defaultPath())   // what a repair in the report window records
                .addRepair({.time = QDateTime::currentDateTime(), .database = session().accountInfo.database, .code = QStringLiteral("A01")});
            // A run stopped during A01 is recorded as stopped and is never the next run's baseline.
            stage(QStringLiteral("A01"), {"select * into tempdb..VUZ from tempdb..HIST_SRC", "GO", "waitfor delay '00:00:05'"});
            QTimer::singleShot(1200, window, [this] { QTest::keyClick(window, Qt::Key_Escape); });
            click("runButton");
            shown << window->gridText(1, 2) + QLatin1Char('/') + window->gridText(1, 3);
            stage(QStringLiteral("A01"), {"select * into tempdb..VUZ from tempdb..HIST_SRC"});
        }
    }
    EXPECT_EQ(shown, (QStringList{"首次检查", "新增 1 · 消除 0", "本次检查已停止/", "新增 0 · 消除 2"}));
    {
        history::HistoryStore store(history::HistoryStore::defaultPath());
        ASSERT_TRUE(store.open());
        const auto runs = store.runs(QString(), session().accountInfo.database);
        ASSERT_EQ(runs.size(), 4u);
        // Window runs keep the time each item took, the stopped one too.
        EXPECT_TRUE(store.item(runs[1].id, QStringLiteral("A01"))->status == history::ItemStatus::Cancelled
                    && store.item(runs[1].id, QStringLiteral("A01"))->elapsedMs > 500);
        EXPECT_GT(store.item(runs[0].id, QStringLiteral("A01"))->elapsedMs, 0);
    }
    // 文件 → 导出体检报告 writes the last run with its one row.
    const QString html = data.filePath(QStringLiteral("report.html"));
    EXPECT_EQ(exportHtmlReport(window, html), QString());
    QFile page(html);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(page.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("共 1 行")) && text.contains(QStringLiteral("<td>凭证二</td>"))) << text.toStdString();

    menu("History");
    auto *h = window->findChild<HistoryWindow *>();
    ASSERT_NE(h, nullptr);
    const TrendChart *chart = h->chart(QStringLiteral("A01"));
    ASSERT_NE(chart, nullptr);
    const auto points = chart->plotted();
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ((std::vector<qint64>{points[0].second, points[1].second, points[2].second}), (std::vector<qint64>{2, 3, 1}));
    EXPECT_TRUE(points[0].first.y() > points[1].first.y() && points[2].first.y() > points[0].first.y());   // more findings stand higher
    const auto repairs = chart->repairMarks();   // between the second and the third run
    ASSERT_EQ(repairs.size(), 1u);
    EXPECT_TRUE(repairs[0] > points[1].first.x() && repairs[0] < points[2].first.x());

    // Esc closes the history window; it opens again as large as it was left.
    h->resize(700, 500);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(h));
    QApplication::setActiveWindow(h);
    const QPointer<HistoryWindow> closed(h);
    QTest::keyClick(h, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed.isNull(); }, 2000));
    menu("History");
    EXPECT_EQ(window->findChild<HistoryWindow *>()->size(), QSize(700, 500));

    // 导出体检报告 starts in the program folder's 报表 folder.
    test::ModalWatcher dialogs;
    QString startFolder;
    dialogs.onDialog = [&](QWidget *d) {
        startFolder = static_cast<QFileDialog *>(d)->directory().absolutePath();
        static_cast<QDialog *>(d)->reject();
    };
    menu("ExportReport");
    EXPECT_TRUE(QTest::qWaitFor([&] { return startFolder == dir.path() + QStringLiteral("/报表"); }, 5000)) << startFolder.toStdString();
    qunsetenv("XDG_DATA_HOME");
}

// 功能 → 目录检查 lists the demo catalogue's one warning; a double click shows its item, from the other tree too.
TEST_F(MainWindowTest, CatalogueLintListsFindingsAndADoubleClickSelectsTheItem)
{
    const QString demo = test::sourceDir() + QStringLiteral("/demo");
    session().programFolder = demo;
    session().catalogConn = openCatalogue(demo + QStringLiteral("/VUZ.mdb"));
    menu("Njb");
    menu("Lint");
    QPointer<CatalogueLintWindow> lint = window->findChild<CatalogueLintWindow *>();
    ASSERT_NE(lint, nullptr);
    ASSERT_EQ(lint->grid()->rowCount(), 1);
    EXPECT_EQ(lint->grid()->item(0, 2)->text(), QStringLiteral("GJ02"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(lint));
    const QRect cell = lint->grid()->visualItemRect(lint->grid()->item(0, 3));
    QTest::mouseClick(lint->grid()->viewport(), Qt::LeftButton, {}, cell.center());
    QTest::mouseDClick(lint->grid()->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_EQ(window->treeName + QLatin1Char('/') + nodeKey(tree->currentItem()), QStringLiteral("Tools/GJ02"));
    EXPECT_TRUE(panel->isVisible());
    lint->activateWindow();
    QApplication::setActiveWindow(lint);
    QTest::keyClick(lint, Qt::Key_Escape);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lint; }));
}
