// The report window against the SQL Server stand-in: loading, the function button, re-check, export.
#include "ReportWindow.h"
#include "CheckRun.h"
#include "OdbcConnection.h"
#include "RecordsetModel.h"
#include "RepairConfirm.h"
#include "QtChinese.h"
#include "HistoryStore.h"
#include "Session.h"
#include "Twips.h"
#include "SqliteConnection.h"
#include "StandIn.h"
#include "UiTestSupport.h"
#include "WorkbookCheck.h"

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QLineEdit>
#include <QContextMenuEvent>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringEncoder>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

class ReportWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        test::StandIn::Options options;
        options.databases << QStringLiteral("QZdata_002_2024");
        standIn = new test::StandIn(options);
    }
    static void TearDownTestSuite()
    {
        session().accountConn.reset();
        delete standIn;
        standIn = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        session().programFolder = folder.path();
        session().accountConn = standIn->connect();
        auto catalog = std::make_unique<db::SqliteConnection>(QStringLiteral(":memory:"));
        catalog->execute(QStringLiteral(
            "create table Tools (cID integer, cParentID text, cCode text, cName text, bSign boolean, bEnd boolean)"));
        session().catalogConn = std::move(catalog);
        session().accountInfo = {standIn->server(), QStringLiteral("001"), QStringLiteral("2024"),
                                 QStringLiteral("QZdata_001_2024"), QStringLiteral("张三"), {}};
        ReportWindow::setSaveDialog({});
        ReportWindow::setRepairConfirmation([](QWidget *, const RepairRequest &) { return true; });
        history::HistoryStore::setDefaultPath(folder.path() + QStringLiteral("/journal/history.sqlite"));
    }

    void TearDown() override
    {
        session().accountConn = standIn->connect();
        if (ReportWindow *w = ReportWindow::instance())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const QString &t : created)
            sql(QStringLiteral("if exists (select * from tempdb..sysobjects where name='%1') drop table tempdb..%1").arg(t));
        sql(QStringLiteral("if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ"));
        session().catalogConn.reset();
        ReportWindow::setSaveDialog({});
        ReportWindow::setRepairConfirmation({});
        history::HistoryStore::setDefaultPath({});
    }

    static void sql(const QString &text) { session().accountConn->execute(text); }

    // A catalogue row, its item folder with the given files (GB18030, as the tool's files are) and
    // its result table built from the statements.
    void item(const QString &code, const QString &name, const std::map<QString, QString> &files, const QString &table = {})
    {
        session().catalogConn->execute(
            QStringLiteral("insert into Tools values (1, '', '%1', '%2', 0, 1)").arg(code, name));
        const QString dir = folder.path() + QStringLiteral("/File/") + code;
        QDir().mkpath(dir);
        QStringEncoder gbk("GB18030");
        for (const auto &[file, text] : files) {
            QFile f(dir + QLatin1Char('/') + file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(gbk(QString(text).replace(QLatin1Char('\n'), QStringLiteral("\r\n"))));
        }
        if (!table.isEmpty()) {
            sql(table);
            created << code;
        }
        // Made by hand, stamped as a check of this account would have stamped it.
        outcomes[code] = test::stampResult(session().accountConn.get(), code, name);
    }

    // Opens the window on the item's outcome and waits until its rows are loaded.
    ReportWindow *open(const QString &code, const QString &catalogue = QStringLiteral("Tools"))
    {
        openReportWindow(outcomes.value(code), catalogue);
        test::waitIdle();
        return ReportWindow::instance();
    }

    // Clicks a button of the window and waits for the job it started.
    static void press(QPushButton *b)
    {
        b->click();
        test::waitIdle();
    }

    template <class T> static T *child(const char *name)
    {
        return ReportWindow::instance() ? ReportWindow::instance()->findChild<T *>(QLatin1String(name)) : nullptr;
    }
    static QPushButton *function() { return child<QPushButton>("planOrRepairButton"); }
    static QPushButton *print() { return child<QPushButton>("exportButton"); }
    static QPlainTextEdit *text() { return child<QPlainTextEdit>("messageBox"); }
    static QString number() { return child<QLabel>("rowCountLabel")->text(); }
    static int rows() { return child<QTableView>("reportGrid")->model()->rowCount(); }

    static test::StandIn *standIn;
    QTemporaryDir folder;
    QStringList created;
    QMap<QString, ItemOutcome> outcomes;
};

test::StandIn *ReportWindowTest::standIn = nullptr;

const QString kThreeRows = QStringLiteral(
    "create table tempdb..%1 (cCode varchar(20), 凭证号 int, 摘要说明 nvarchar(40));"
    "insert into tempdb..%1 values ('A01', 1, N'凭证断号'), ('A02', 2, N'借贷不平'), ('A03', NULL, NULL)");

} // namespace

TEST_F(ReportWindowTest, LoadReportFollowsTheFunctionButtonTable)
{
    item(QStringLiteral("R1"), QStringLiteral("有修复脚本"), {{QStringLiteral("修复.sql"), QStringLiteral("print 1")},
                                                           {QStringLiteral("方案.txt"), QStringLiteral("方案一")}},
         kThreeRows.arg(QStringLiteral("R1")));
    item(QStringLiteral("P1"), QStringLiteral("只有方案"), {{QStringLiteral("方案.TXT"), QStringLiteral("第一步\n第二步")}},
         kThreeRows.arg(QStringLiteral("P1")));
    item(QStringLiteral("N1"), QStringLiteral("没有文件"), {}, kThreeRows.arg(QStringLiteral("N1")));
    item(QStringLiteral("E1"), QStringLiteral("空表"), {{QStringLiteral("修复.sql"), QStringLiteral("print 1")}},
         QStringLiteral("create table tempdb..E1 (a int)"));
    item(QStringLiteral("M1"), QStringLiteral("没有结果表"), {{QStringLiteral("修复.sql"), QStringLiteral("print 1")}});

    open(QStringLiteral("R1"));
    EXPECT_EQ(child<QLabel>("itemNameLabel")->text(), QStringLiteral("有修复脚本"));
    EXPECT_EQ(number(), QStringLiteral("记录数3"));
    EXPECT_EQ(rows(), 3);
    EXPECT_FALSE(function()->isHidden());
    EXPECT_EQ(function()->text(), QStringLiteral("修复  "));
    EXPECT_FALSE(print()->isHidden());
    EXPECT_TRUE(text()->isHidden());
    EXPECT_TRUE(text()->toPlainText().isEmpty());   // the plan is not loaded while 修复.sql exists
    QTableView *grid = child<QTableView>("reportGrid");
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("凭证号"));
    EXPECT_EQ(grid->model()->data(grid->model()->index(1, 2)).toString(), QStringLiteral("借贷不平"));
    EXPECT_EQ(grid->verticalHeader()->sectionResizeMode(0), QHeaderView::Fixed);
    ReportWindow::instance()->close();

    open(QStringLiteral("P1"));
    EXPECT_EQ(function()->text(), QStringLiteral("方案  "));
    EXPECT_FALSE(function()->isHidden());
    EXPECT_TRUE(text()->isHidden());
    EXPECT_EQ(text()->toPlainText(), QStringLiteral("第一步\n第二步\n"));
    for (int i = 0; i < 2; ++i) {   // 方案 shows the text and keeps its caption
        press(function());
        EXPECT_FALSE(text()->isHidden());
        EXPECT_EQ(text()->toPlainText(), QStringLiteral("第一步\n第二步\n"));
        EXPECT_EQ(function()->text(), QStringLiteral("方案  "));
    }
    ReportWindow::instance()->close();

    open(QStringLiteral("N1"));
    EXPECT_TRUE(function()->isHidden());
    EXPECT_FALSE(print()->isHidden());
    ReportWindow::instance()->close();

    open(QStringLiteral("E1"));
    EXPECT_EQ(number(), QStringLiteral("记录数0"));
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(child<QTableView>("reportGrid")->model()->columnCount(), 1);
    EXPECT_TRUE(function()->isHidden());
    EXPECT_TRUE(print()->isHidden());
    ReportWindow::instance()->close();

    open(QStringLiteral("M1"));
    EXPECT_EQ(number(), QStringLiteral("记录数0"));
    QAbstractItemModel *m = child<QTableView>("reportGrid")->model();
    ASSERT_EQ(m->columnCount(), 1);
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QStringLiteral("空"));
    ASSERT_EQ(m->rowCount(), 1);
    EXPECT_EQ(m->data(m->index(0, 0)).toString(), QString());
    EXPECT_TRUE(function()->isHidden());
    EXPECT_TRUE(print()->isHidden());
    EXPECT_TRUE(text()->isHidden());
}

TEST_F(ReportWindowTest, AStoppedRepairSaysItWasInterruptedAndHowFarItGot)
{
    sql(QStringLiteral("create table Fixes (n int)"));
    item(QStringLiteral("R1"), QStringLiteral("修复中断"),
         {{QStringLiteral("修复.sql"), QStringLiteral("insert into Fixes values (1)\ngo\nwaitfor delay '00:00:05'\ngo\n"
                                                     "insert into Fixes values (2)\n")}},
         QStringLiteral("select 1 as n into tempdb..R1"));
    open(QStringLiteral("R1"));
    QElapsedTimer clock;
    QTimer::singleShot(500, [&] {
        clock.start();
        child<QPushButton>("stopButton")->click();
    });
    press(function());
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_TRUE(text()->toPlainText().startsWith(QStringLiteral("修复被中断，没有全部完成：修复脚本的前 1 批语句已执行完毕")))
        << text()->toPlainText().toStdString();
    EXPECT_EQ(session().accountConn->query(QStringLiteral("select count(*) from Fixes")).integer(0, 0), 1);
    EXPECT_EQ(function()->text(), QStringLiteral("修复  "));
    sql(QStringLiteral("drop table Fixes"));
}

TEST_F(ReportWindowTest, FailingRepairAndRecheckWithoutStagingTable)
{
    sql(QStringLiteral("create table Marks (n int)"));
    item(QStringLiteral("F1"), QStringLiteral("修复失败"),
         {{QStringLiteral("修复.sql"),
           QStringLiteral("insert into Marks values (1)\nGO\nraiserror('余额表被锁定', 16, 1)\nGO\ninsert into Marks values (3)\n")},
          {QStringLiteral("检查.SQL"),
           QStringLiteral("if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ\n")}},
         kThreeRows.arg(QStringLiteral("F1")));
    open(QStringLiteral("F1"));

    press(function());
    EXPECT_TRUE(text()->toPlainText().startsWith(QStringLiteral("修复过程中意外错误中止\n")));
    EXPECT_TRUE(text()->toPlainText().contains(QStringLiteral("余额表被锁定")));
    EXPECT_EQ(function()->text(), QStringLiteral("修复  "));
    const db::Recordset marks = session().accountConn->query(QStringLiteral("select n from Marks"));
    ASSERT_EQ(marks.rowCount(), 1);             // the batch before the failing one stays, none after it runs
    EXPECT_EQ(marks.integer(0, 0), 1);

    // A caption without its trailing blanks matches no state: the click only shows the text box.
    function()->setText(QStringLiteral("修复"));
    text()->hide();
    press(function());
    EXPECT_FALSE(text()->isHidden());
    EXPECT_EQ(session().accountConn->query(QStringLiteral("select n from Marks")).rowCount(), 1);

    // Re-check whose script leaves no staging table: the result table is dropped, the window
    // shows the placeholder.
    function()->setText(QStringLiteral("检查  "));
    press(function());
    EXPECT_EQ(number(), QStringLiteral("记录数0"));
    QAbstractItemModel *m = child<QTableView>("reportGrid")->model();
    EXPECT_EQ(m->headerData(0, Qt::Horizontal).toString(), QStringLiteral("空"));
    EXPECT_EQ(m->rowCount(), 1);
    EXPECT_TRUE(print()->isHidden());
}

TEST_F(ReportWindowTest, DatabaseErrorsAreShownInTheWindow)
{
    item(QStringLiteral("D1"), QStringLiteral("错误"), {{QStringLiteral("修复.sql"), QStringLiteral("print 1")}},
         kThreeRows.arg(QStringLiteral("D1")));
    open(QStringLiteral("D1"), QStringLiteral("NoSuchCatalogue"));
    EXPECT_FALSE(text()->isHidden());
    EXPECT_TRUE(text()->toPlainText().contains(QStringLiteral("NoSuchCatalogue"))) << text()->toPlainText().toStdString();
    EXPECT_EQ(number(), QStringLiteral("记录数3"));   // the rest of the load still ran
    EXPECT_EQ(rows(), 3);
    ReportWindow::instance()->close();

    // A check script that stops on an error: the window reloads with what the staging table holds
    // and says why the script stopped.
    item(QStringLiteral("D2"), QStringLiteral("检查出错"),
         {{QStringLiteral("检查.SQL"), QStringLiteral("select 5 as n into tempdb..VUZ\nGO\nselect * from 不存在的表\n")}},
         kThreeRows.arg(QStringLiteral("D2")));
    open(QStringLiteral("D2"));
    {
        test::ModalWatcher boxes;
        function()->setText(QStringLiteral("检查  "));
        press(function());
        ASSERT_EQ(boxes.boxes.size(), 1u);
        EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Warning);
        EXPECT_TRUE(boxes.boxes[0].text.contains(QStringLiteral("不存在的表"))) << boxes.boxes[0].text.toStdString();
        EXPECT_EQ(number(), QStringLiteral("记录数1"));
    }
    ReportWindow::instance()->close();

    // The connection is gone: the load and a re-check report the reason and the window stays.
    open(QStringLiteral("D1"));
    session().accountConn = std::make_unique<db::ClosedConnection>(QStringLiteral("与服务器的连接已断开"));
    function()->setText(QStringLiteral("检查  "));
    press(function());
    EXPECT_TRUE(text()->toPlainText().contains(QStringLiteral("与服务器的连接已断开")));
    ReportWindow::instance()->loadReport();
    test::waitIdle();
    EXPECT_TRUE(text()->toPlainText().contains(QStringLiteral("与服务器的连接已断开")));
    EXPECT_EQ(number(), QStringLiteral("记录数"));
    EXPECT_TRUE(function()->isHidden());
    EXPECT_TRUE(ReportWindow::instance()->isVisible());
}

TEST_F(ReportWindowTest, SecondRequestReloadsForAnotherItemAndCountsAreNotCut)
{
    sql(QStringLiteral("create table tempdb..T10 (d int); insert into tempdb..T10 values (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)"));
    created << QStringLiteral("T10");
    item(QStringLiteral("BIG"), QStringLiteral("二十万行"), {},
         QStringLiteral("select top 200000 a.d + 10*b.d + 100*c.d + 1000*e.d + 10000*f.d + 100000*g.d as n into tempdb..BIG "
                        "from tempdb..T10 a cross join tempdb..T10 b cross join tempdb..T10 c cross join tempdb..T10 e "
                        "cross join tempdb..T10 f cross join tempdb..T10 g"));
    item(QStringLiteral("S1"), QStringLiteral("三行"), {}, kThreeRows.arg(QStringLiteral("S1")));

    ReportWindow *first = open(QStringLiteral("S1"));
    EXPECT_EQ(number(), QStringLiteral("记录数3"));
    first->setWindowState(Qt::WindowMinimized);
    // Rows show while the load goes on: the count grows and the grid has some rows but not all.
    QStringList seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (ReportWindow::instance() && rows() > 0 && rows() < 200000)
            seen << number() + QLatin1Char('/') + QString::number(rows());
    });
    watch.start(5);
    ReportWindow *second = open(QStringLiteral("BIG"));
    watch.stop();
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_TRUE(seen.front().startsWith(QStringLiteral("记录数"))) << seen.front().toStdString();
    EXPECT_EQ(first, second);
    EXPECT_FALSE(second->isMinimized());   // the request brings the window forward
    QTableView *grid = child<QTableView>("reportGrid");
    // Reloading keeps one model and one selection model.
    EXPECT_EQ(grid->findChildren<QItemSelectionModel *>(Qt::FindDirectChildrenOnly).size(), 1);
    EXPECT_EQ(second->itemCode, QStringLiteral("BIG"));
    EXPECT_EQ(child<QLabel>("itemNameLabel")->text(), QStringLiteral("二十万行"));
    EXPECT_EQ(number(), QStringLiteral("记录数200000"));
    EXPECT_EQ(rows(), 200000);

    // The same item again reloads too: the result table may have changed since.
    sql(QStringLiteral("delete from tempdb..BIG where n < 1000"));
    const qint64 left = session().accountConn->query(QStringLiteral("select count(*) from tempdb..BIG")).integer(0, 0);
    ASSERT_LT(left, 200000);
    open(QStringLiteral("BIG"));
    EXPECT_EQ(number(), QStringLiteral("记录数%1").arg(left));
    EXPECT_EQ(rows(), left);
    second->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(ReportWindow::instance(), nullptr);
    open(QStringLiteral("BIG"));
    EXPECT_EQ(number(), QStringLiteral("记录数%1").arg(left));
    EXPECT_TRUE(ReportWindow::instance()->property("vireoChildWindow").toBool());
}

TEST_F(ReportWindowTest, ExportMessagesFolderAndWideTables)
{
    // 30 columns: A to AD.
    QStringList cols, vals1, vals2;
    for (int c = 1; c <= 30; ++c) {
        cols << (c % 3 ? QStringLiteral("列%1 nvarchar(20)").arg(c) : QStringLiteral("n%1 int").arg(c));
        vals1 << (c % 3 ? QStringLiteral("N'中文值%1'").arg(c) : QString::number(c * 11));
        vals2 << (c % 3 ? QStringLiteral("N'v%1'").arg(c) : QStringLiteral("NULL"));
    }
    QString insert = QStringLiteral("insert into tempdb..W1 values (%1)").arg(vals1.join(QLatin1Char(',')));
    for (int r = 0; r < 5; ++r)
        insert += QStringLiteral(", (%1)").arg((r % 2 ? vals1 : vals2).join(QLatin1Char(',')));
    item(QStringLiteral("W1"), QStringLiteral("宽表"), {},
         QStringLiteral("create table tempdb..W1 (%1); ").arg(cols.join(QLatin1Char(','))) + insert);
    item(QStringLiteral("Z1"), QStringLiteral("空"), {}, QStringLiteral("create table tempdb..Z1 (a int)"));

    test::ModalWatcher boxes;
    const QString reportFolder = folder.path() + QStringLiteral("/报表");
    // No record: the message, no dialog, no folder.
    open(QStringLiteral("Z1"));
    press(print());
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Information);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("报表导出"));
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("表中未有任何记录,请查看！"));
    EXPECT_FALSE(QFileInfo::exists(reportFolder));

    // The real save dialog speaks Chinese and suggests the name in the 报表 folder (code, item,
    // account, year, time); cancelled, the folder is there and nothing is written.
    ASSERT_TRUE(installQtChinese()) << "qt6-translations-l10n is not installed";
    QStringList texts;
    QString name;
    boxes.onDialog = [&](QWidget *d) {
        EXPECT_TRUE(QFileInfo(reportFolder).isDir());   // created before the dialog opens
        for (auto *l : d->findChildren<QLabel *>())
            texts << l->text();
        for (auto *b : d->findChildren<QPushButton *>())
            texts << b->text();
        name = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->text();
        static_cast<QDialog *>(d)->reject();
    };
    open(QStringLiteral("W1"));
    ASSERT_EQ(rows(), 6);
    press(print());
    EXPECT_TRUE(texts.contains(QStringLiteral("文件名称(&N)："))) << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("取消"))) << texts.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^W1_宽表_001_2024_\\d{8}-\\d{4}\\.xlsx$")).match(name).hasMatch())
        << name.toStdString();
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[1].icon, QMessageBox::Information);
    EXPECT_EQ(boxes.boxes[1].title, QString());
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("未成功导出！"));
    EXPECT_TRUE(QDir(reportFolder).isEmpty());
    EXPECT_TRUE(child<QProgressBar>("progressBar")->isHidden());

    QStringList askedFilters;
    QString answer;
    ReportWindow::setSaveDialog([&](QWidget *, const QString &dir, const QStringList &filters) {
        EXPECT_EQ(QFileInfo(dir).dir().canonicalPath(), QFileInfo(reportFolder).canonicalFilePath());
        askedFilters = filters;
        return answer;
    });
    // Both formats, every column; the readers check values, fill and widths.
    const RecordsetModel *model = ReportWindow::instance()->model();
    for (const char *ext : {"xlsx", "xls"}) {
        answer = reportFolder + QStringLiteral("/宽表.") + QLatin1String(ext);
        press(print());
        ASSERT_EQ(boxes.boxes.back().text, QStringLiteral("已成功导出！\n\n") + QDir::toNativeSeparators(answer));
        EXPECT_EQ(boxes.boxes.back().title, QString());
        EXPECT_EQ(boxes.boxes.back().icon, QMessageBox::Information);
        EXPECT_EQ(child<QProgressBar>("progressBar")->maximum(), 6);
        EXPECT_TRUE(child<QProgressBar>("progressBar")->isHidden());
        EXPECT_TRUE(test::workbookMatches(answer, model->recordset()));
    }
    EXPECT_EQ(askedFilters.value(0), QStringLiteral("Excel 工作簿 (*.xlsx)"));   // .xlsx offered first
    EXPECT_TRUE(askedFilters.contains(QStringLiteral("MS Excel Spreadsheet (*.xls)")));

    // A failed export says what happened to the target and writes nothing.
    const size_t before = boxes.boxes.size();
    answer = folder.path() + QStringLiteral("/只读.xlsx");
    QFile readOnly(answer);
    ASSERT_TRUE(readOnly.open(QIODevice::WriteOnly));
    readOnly.close();
    ASSERT_TRUE(QFile::setPermissions(answer, QFile::ReadOwner));
    press(print());
    ASSERT_EQ(boxes.boxes.size(), before + 1);
    EXPECT_EQ(boxes.boxes.back().icon, QMessageBox::Critical);
    EXPECT_EQ(boxes.boxes.back().title, QStringLiteral("报表导出"));
    EXPECT_TRUE(boxes.boxes.back().text.contains(QStringLiteral("只读"))) << boxes.boxes.back().text.toStdString();
    EXPECT_EQ(QFileInfo(answer).size(), 0);
    EXPECT_TRUE(ReportWindow::instance()->isVisible());
}

// tempdb..{code} is one table per server: when account 002's check of the same item overwrites it
// after 001's run, 001's report, repair and export show, repair and export nothing of 002's rows.
TEST_F(ReportWindowTest, AResultOverwrittenByAnotherAccountIsRefusedEverywhere)
{
    sql(QStringLiteral("create table Fixes (n int)"));
    item(QStringLiteral("O1"), QStringLiteral("覆盖"),
         {{QStringLiteral("修复.sql"), QStringLiteral("insert into Fixes values (1)\n")}}, kThreeRows.arg(QStringLiteral("O1")));
    const auto checkOn002 = [] {   // its result table written and stamped as a check of 002 does
        auto other = standIn->connect(QStringLiteral("QZdata_002_2024"));
        other->execute(QStringLiteral("drop table tempdb..O1 select 1 as n into tempdb..O1 insert into tempdb..O1 values (2), (3), (4)"));
        return test::stampResult(other.get(), QStringLiteral("O1"));
    };
    const QRegularExpression overwritten(QStringLiteral("该结果已被账套 002 于 \\d\\d:\\d\\d 的检查覆盖，请重新检查"));

    // Loaded before the overwrite, the rows were 001's; 修复 looks again and refuses.
    open(QStringLiteral("O1"));
    ASSERT_EQ(number(), QStringLiteral("记录数3"));
    EXPECT_EQ(checkOn002().count, 4);
    bool asked = false;
    ReportWindow::setRepairConfirmation([&](QWidget *, const RepairRequest &) { return asked = true; });
    press(function());
    EXPECT_FALSE(asked);
    EXPECT_TRUE(overwritten.match(text()->toPlainText()).hasMatch()) << text()->toPlainText().toStdString();
    EXPECT_EQ(session().accountConn->query(QStringLiteral("select count(*) from Fixes")).integer(0, 0), 0);
    EXPECT_TRUE(function()->isHidden());
    EXPECT_TRUE(print()->isHidden());

    // Opened afterwards: nothing of 002's rows is shown, counted or offered for export.
    open(QStringLiteral("O1"));
    EXPECT_TRUE(overwritten.match(text()->toPlainText()).hasMatch()) << text()->toPlainText().toStdString();
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(number(), QStringLiteral("记录数"));
    EXPECT_TRUE(print()->isHidden());
    EXPECT_TRUE(function()->isHidden());
    sql(QStringLiteral("drop table Fixes"));
}

TEST_F(ReportWindowTest, RepairIsConfirmedFirstAndJournalled)
{
    test::StandIn::Options options;
    options.log = true;
    test::StandIn logged(options);
    session().accountConn = logged.connect();
    session().accountInfo.server = logged.server();
    ReportWindow::setRepairConfirmation({});   // the real dialog
    sql(QStringLiteral("create table Vouchers (id int, ok bit); insert into Vouchers values (1, 0), (2, 0), (3, 1)"));
    const QString repair = QStringLiteral("update Vouchers set ok = 1 where id = 1\n");
    item(QStringLiteral("J1"), QStringLiteral("凭证检查"),
         {{QStringLiteral("检查.SQL"), QStringLiteral("select id as 凭证号 into tempdb..VUZ from Vouchers where ok = 0\n")},
          {QStringLiteral("修复.sql"), repair}, {QStringLiteral("方案.txt"), QStringLiteral("先备份账套")}},
         QStringLiteral("select id as 凭证号 into tempdb..J1 from Vouchers where ok = 0"));
    open(QStringLiteral("J1"));
    const auto repaired = [&] { return logged.log().contains(QStringLiteral("update Vouchers")); };

    // The dialog answers with a click on the button named or, when a key is set, with that key sent
    // to whatever has the focus (put on focusOn first, when set). What it said, where the focus
    // was, how the key left it and whether the repair had reached the stand-in by then are kept.
    QString said, plan, script, focused, keyOutcome;
    bool reachedBefore = true;
    const char *answer = "cancelButton";
    Qt::Key key = Qt::Key_unknown;
    const char *focusOn = nullptr;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *d = qobject_cast<RepairConfirm *>(QApplication::activeModalWidget());
        if (!d)
            return;
        said = d->findChild<QLabel *>(QStringLiteral("whatLabel"))->text();
        plan = d->findChild<QPlainTextEdit *>(QStringLiteral("planBox"))->toPlainText();
        d->findChild<QPushButton *>(QStringLiteral("showScriptButton"))->click();
        script = d->findChild<QPlainTextEdit *>(QStringLiteral("scriptBox"))->isVisible()
                     ? d->findChild<QPlainTextEdit *>(QStringLiteral("scriptBox"))->toPlainText() : QString();
        reachedBefore = repaired();
        if (key == Qt::Key_unknown) {
            d->findChild<QPushButton *>(QLatin1String(answer))->click();
            return;
        }
        if (focusOn)
            d->findChild<QPushButton *>(QLatin1String(focusOn))->setFocus();
        QWidget *target = d->focusWidget();   // what takes the keys while the dialog is active
        focused = target ? target->objectName() : QString();
        QTest::keyClick(target ? target : d, key);
        keyOutcome = d->isVisible() ? QStringLiteral("still open")
                     : d->result() == QDialog::Accepted ? QStringLiteral("accepted") : QStringLiteral("rejected");
        if (d->isVisible())
            d->reject();
    });
    poll.start(20);

    press(function());   // cancelled
    for (const QString &part : {logged.server(), QStringLiteral("001"), QStringLiteral("2024"), QStringLiteral("J1"),
                                QStringLiteral("凭证检查")})
        EXPECT_TRUE(said.contains(part)) << said.toStdString();
    EXPECT_EQ(plan, QStringLiteral("先备份账套\n"));
    EXPECT_EQ(script, repair);
    EXPECT_FALSE(reachedBefore);
    EXPECT_FALSE(repaired());
    EXPECT_EQ(function()->text(), QStringLiteral("修复  "));
    EXPECT_TRUE(history::HistoryStore(history::HistoryStore::defaultPath()).repairs().empty());

    // Enter, Return and Space cancel: 取消 opens with the focus and stays the default even while
    // 修复 has the focus.
    const std::pair<Qt::Key, const char *> keyAnswers[] = {
        {Qt::Key_Return, nullptr}, {Qt::Key_Enter, nullptr}, {Qt::Key_Space, nullptr}, {Qt::Key_Return, "repairButton"}};
    for (const auto &[pressed, on] : keyAnswers) {
        key = pressed;
        focusOn = on;
        keyOutcome.clear();
        press(function());
        EXPECT_EQ(keyOutcome, QStringLiteral("rejected")) << "key " << pressed << (on ? " on 修复" : "");
        EXPECT_EQ(focused, QString::fromLatin1(on ? on : "cancelButton")) << "key " << pressed;
        EXPECT_FALSE(repaired()) << "key " << pressed;
        EXPECT_EQ(function()->text(), QStringLiteral("修复  "));
    }
    key = Qt::Key_unknown;
    focusOn = nullptr;

    answer = "repairButton";
    said.clear();
    press(function());   // confirmed
    EXPECT_FALSE(said.isEmpty());
    EXPECT_FALSE(reachedBefore);
    EXPECT_TRUE(repaired());
    EXPECT_EQ(text()->toPlainText(), QStringLiteral("已成功修复!"));
    EXPECT_EQ(rows(), 2);   // the rows stay until the re-check
    ASSERT_EQ(function()->text(), QStringLiteral("检查  "));
    press(function());   // the re-check completes the journal row
    EXPECT_EQ(number(), QStringLiteral("记录数1"));
    EXPECT_EQ(rows(), 1);
    EXPECT_EQ(function()->text(), QStringLiteral("修复  "));

    const std::vector<history::RepairRecord> journal = history::HistoryStore(history::HistoryStore::defaultPath()).repairs();
    ASSERT_EQ(journal.size(), 1u);
    const history::RepairRecord &r = journal[0];
    EXPECT_EQ(r.code, QStringLiteral("J1"));
    EXPECT_EQ(r.operatorName, QStringLiteral("张三"));
    EXPECT_EQ(r.server, logged.server());
    EXPECT_EQ(r.database, QStringLiteral("QZdata_001_2024"));
    EXPECT_TRUE(r.succeeded);
    EXPECT_EQ(r.before, 2);
    EXPECT_EQ(r.after, 1);
    QFile file(folder.path() + QStringLiteral("/File/J1/修复.sql"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(r.scriptSha256, QString::fromLatin1(QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex()));
    QFile journalFile(history::HistoryStore::defaultPath());   // every connection closed: the WAL is in the file
    ASSERT_TRUE(journalFile.open(QIODevice::ReadOnly));
    EXPECT_FALSE(journalFile.readAll().contains("Vireo#2024"));
}

TEST_F(ReportWindowTest, GridSortsCopiesFiltersAndFitsColumns)
{
    const QString longName = QStringLiteral("一家名字非常非常长的客户公司，地址在很远很远的地方，电话号码也很长很长很长");
    item(QStringLiteral("G1"), QStringLiteral("客户"), {},
         QStringLiteral("create table tempdb..G1 (名称 nvarchar(80), 金额 int); insert into tempdb..G1 values "
                        "(N'乙公司', 10), (N'甲公司', 9), (N'%1', 100)").arg(longName));
    ReportWindow *w = open(QStringLiteral("G1"));
    QTableView *grid = child<QTableView>("reportGrid");
    QAbstractItemModel *m = grid->model();
    // A larger window gives all its growth to the grid; 退出 keeps to the corner.
    const QSize gridBefore = grid->size();
    w->resize(w->size() + QSize(300, 200));
    EXPECT_EQ(grid->size(), gridBefore + QSize(300, 200));
    EXPECT_EQ(w->width() - child<QPushButton>("exitButton")->geometry().right(), px(8415) - px(7440 + 855) + 1);
    // The next window opens at the size this one had.
    const QSize size = w->size();
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    w = open(QStringLiteral("G1"));
    EXPECT_EQ(w->size(), size);
    grid = child<QTableView>("reportGrid");
    m = grid->model();
    const auto column = [m](int c) {
        QStringList texts;
        for (int r = 0; r < m->rowCount(); ++r)
            texts << m->index(r, c).data().toString();
        return texts;
    };
    const auto clickHeader = [grid](int c) {
        QHeaderView *h = grid->horizontalHeader();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(c) + 5, h->height() / 2));
    };
    // Numbers as numbers, Chinese in pinyin order (甲 jiǎ before 一 yī before 乙 yǐ), each way; a third click
    // shows the table's own order again.
    const struct {
        int column;
        QStringList order;
    } clicks[] = {
        {1, {"9", "10", "100"}}, {1, {"100", "10", "9"}}, {1, {"10", "9", "100"}},
        {0, {"9", "100", "10"}}, {0, {"10", "100", "9"}},
    };
    for (const auto &c : clicks) {
        clickHeader(c.column);
        EXPECT_EQ(column(1), c.order) << c.column;
    }

    // Ascending by 金额, the first two rows of both columns: header line, then the rows.
    clickHeader(0);
    clickHeader(1);
    grid->selectionModel()->select(QItemSelection(m->index(0, 0), m->index(1, 1)), QItemSelectionModel::ClearAndSelect);
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("名称\t金额\n甲公司\t9\n乙公司\t10\n"));

    // Fitted to the content, but a long text does not take the whole width; its tool tip holds it.
    const QFontMetrics fm(grid->font());
    EXPECT_GT(grid->columnWidth(0), fm.horizontalAdvance(QStringLiteral("乙公司")));
    EXPECT_LT(grid->columnWidth(0), fm.horizontalAdvance(longName));
    EXPECT_EQ(m->index(2, 0).data(Qt::ToolTipRole).toString(), longName);

    child<QLineEdit>("filterBox")->setText(QStringLiteral("乙"));
    EXPECT_EQ(column(0), QStringList{QStringLiteral("乙公司")});
    EXPECT_EQ(number(), QStringLiteral("记录数3"));
    open(QStringLiteral("G1"));   // a new load shows every row again (the 筛选 box emptied), unsorted
    EXPECT_EQ(column(1), (QStringList{"10", "9", "100"}));
}

// Once the grid is filtered or sorted, 输出 asks: 全部行 or 当前视图. The view's workbook holds the
// rows shown in the order shown, decimals as numbers formatted as shown (3860.00: 0.00), integers
// as integers, a frozen header with an autofilter; 导出当前视图… in the grid's menu writes the same.
TEST_F(ReportWindowTest, OutputOffersAllRowsOrTheFilteredSortedView)
{
    item(QStringLiteral("V1"), QStringLiteral("视图"), {},
         QStringLiteral("create table tempdb..V1 (客户 nvarchar(20), 金额 decimal(12,2), 笔数 int); insert into tempdb..V1 values "
                        "(N'张家口', 3860.00, 3), (N'阿里有限', 12.5, 1), (N'鑫源有限', 0.75, 2), (N'乔氏有限', 99, 4)"));
    open(QStringLiteral("V1"));
    QTableView *grid = child<QTableView>("reportGrid");
    const db::Recordset &rs = ReportWindow::instance()->model()->recordset();
    EXPECT_EQ(grid->model()->index(0, 1).data().toString(), QStringLiteral("3860.00"));
    test::ModalWatcher boxes;
    QString answer;
    ReportWindow::setSaveDialog([&](QWidget *, const QString &, const QStringList &) { return answer; });
    const auto exportVia = [&](const QString &prefix, const QString &file) {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        answer = folder.filePath(file);
        const size_t before = boxes.boxes.size();
        QAction *chosen = nullptr;
        for (QAction *a : menu->actions())
            chosen = a->text().startsWith(prefix) ? a : chosen;
        menu->close();
        ASSERT_NE(chosen, nullptr);
        chosen->trigger();
        ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.boxes.size() == before + 1; }));
    };

    answer = folder.filePath(QStringLiteral("unsorted.xlsx"));   // nothing to choose yet
    press(print());
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.boxes.size() == 1; }));
    EXPECT_TRUE(test::workbookMatches(answer, rs));

    child<QLineEdit>("filterBox")->setText(QStringLiteral("有限"));
    QHeaderView *h = grid->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, QPoint(h->sectionViewportPosition(0) + 5, h->height() / 2));
    press(print());
    exportVia(QStringLiteral("当前视图"), QStringLiteral("view.xlsx"));
    const std::vector<qint64> pinyinOrder{1, 3, 2};   // 阿里, 乔氏, 鑫源
    EXPECT_TRUE(test::workbookMatches(answer, rs, {}, &pinyinOrder));
    EXPECT_TRUE(boxes.boxes.back().text.contains(QStringLiteral("当前视图的 3 行（共 4 行）"))) << boxes.boxes.back().text.toStdString();

    press(print());
    exportVia(QStringLiteral("全部行"), QStringLiteral("all.xlsx"));
    EXPECT_TRUE(test::workbookMatches(answer, rs));

    QContextMenuEvent right(QContextMenuEvent::Mouse, QPoint(5, 5), grid->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(grid->viewport(), &right);
    exportVia(QStringLiteral("导出当前视图"), QStringLiteral("menu.xlsx"));
    EXPECT_TRUE(test::workbookMatches(answer, rs, {}, &pinyinOrder));
}
