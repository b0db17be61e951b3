#include "ParameterLines.h"
#include "ParamsTestSupport.h"

using namespace vireo;
using namespace vireo::test;

namespace {
const QString kComplete = QStringLiteral("参数状态：完整");
const QString kIncomplete = QStringLiteral("参数状态：不完整");

class ParameterWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        useParamsCatalogue();
        pw = openWindow(QStringLiteral("P01"));
        ASSERT_NE(pw.w, nullptr);
    }
    void TearDown() override { closeParameterWindows(); }

    // Where an editor must sit: the cell's top-left corner in window coordinates.
    QRect cellOnWindow(int row) const
    {
        const QRect r = pw.grid()->visualRect(pw.grid()->model()->index(row, 4));
        return QRect(pw.grid()->viewport()->mapTo(pw.w, r.topLeft()), r.size());
    }
    void type(QWidget *w, const char *keys) { QTest::keyClicks(w, QString::fromUtf8(keys)); }
    // The status text, and whether 确定 can be pressed.
    QString state() const { return pw.status()->text() + (pw.ok()->isEnabled() ? QStringLiteral("|确定") : QString()); }

    ParamWindow pw;
};
} // namespace

TEST_F(ParameterWindowTest, LoadsTheItemsParameterLines)
{
    EXPECT_EQ(pw.find<QLabel>("itemNameLabel")->text(), QStringLiteral("期间参数检查"));
    EXPECT_EQ(state(), QStringLiteral("状 态"));

    QTableWidget *g = pw.grid();
    EXPECT_TRUE(g->isColumnHidden(0));

    const QStringList expected[] = {
        {"@dBegin", "开始日期", "短日期", "否", ""}, {"@nYear", "年度", "整数", "否", "120"},
        {"@dEnd", "截止时间", "长日期", "是", "昨天"}, {"@cName", "名称", "", "是", "默认值"},
        {"@cMemo", "备注", "字符", "是", ""},        {"@nRate", "比率", "实数", "是", ""},
        {"@bFlag", "标志", "布尔型", "否", ""},
    };
    ASSERT_EQ(g->rowCount(), 7);
    for (int r = 0; r < 7; ++r) {
        QStringList row;
        for (int c = 0; c < 5; ++c)
            row << pw.cell(r, c);
        EXPECT_EQ(row, expected[r]) << "row " << r;
    }

    const QString skipped = pw.find<QLabel>("skippedLabel")->text();
    EXPECT_TRUE(skipped.contains(QStringLiteral("第 8 行")) && skipped.contains(QStringLiteral("@bad&&缺字段&&int")));

    // A click anywhere in a row makes its 值 cell current; no editor opens on a single click.
    pw.click(3, 1);
    EXPECT_EQ(QPoint(g->currentColumn(), g->currentRow()), QPoint(4, 3));
    EXPECT_FALSE(pw.txt()->isVisible() || pw.dtp()->isVisible());
}

// Typed into the editor opened (its text selected) on a row: numbers take digits only, and a
// leading 0 is discarded for every type.
TEST_F(ParameterWindowTest, EditorsFilterKeys)
{
    const std::tuple<int, const char *, const char16_t *> cases[] = {
        {1, "0", u"120"}, {1, "05", u"5"}, {1, "5-.a+e ", u"5"}, {5, "-1.5", u"15"},   // 整数, 实数
        {6, "010", u"10"}, {4, "0x-0", u"x-0"}, {3, "0", u"默认值"}, {3, "0a.b-", u"a.b-"}, // 布尔型, 字符, none
    };
    for (const auto &[row, keys, want] : cases) {
        pw.doubleClick(row);
        ASSERT_TRUE(pw.txt()->isVisible() && pw.txt()->hasFocus() && !pw.dtp()->isVisible());
        type(pw.txt(), keys);
        EXPECT_EQ(pw.cell(row), QString::fromUtf16(want)) << row << " " << keys;
    }
    EXPECT_EQ(pw.cell(6), QStringLiteral("10")); // rows written before stay
    EXPECT_EQ(pw.status()->text(), kIncomplete);

    pw.doubleClick(1);
    QLineEdit *txt = pw.txt();
    EXPECT_EQ(txt->selectedText(), QStringLiteral("5"));
    EXPECT_EQ(txt->geometry().topLeft(), cellOnWindow(1).topLeft());
    QTest::keyClick(txt, Qt::Key_End);
    type(txt, "07");
    QTest::keyClick(txt, Qt::Key_Home);
    type(txt, "0");
    EXPECT_EQ(pw.cell(1), QStringLiteral("507"));
    QTest::keyClick(txt, Qt::Key_End);
    QTest::keyClick(txt, Qt::Key_Backspace);
    EXPECT_EQ(pw.cell(1), QStringLiteral("50"));
    // Delete as X11 delivers it, with the text "\x7f", still deletes.
    QTest::keyClick(txt, Qt::Key_Home);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(QChar(0x7f)));
    QApplication::sendEvent(txt, &del);
    EXPECT_EQ(pw.cell(1), QStringLiteral("0"));
}

TEST_F(ParameterWindowTest, EnterMovesOnAndOpensOnlyFromTheGrid)
{
    pw.doubleClick(3);
    QTest::keyClick(pw.txt(), Qt::Key_Return);
    EXPECT_TRUE(!pw.txt()->isVisible() && pw.grid()->hasFocus());
    EXPECT_EQ(pw.grid()->currentRow(), 4);

    // Enter on the grid opens the editor of the current row.
    QTest::keyClick(pw.grid(), Qt::Key_Enter);
    ASSERT_TRUE(pw.txt()->isVisible());
    EXPECT_EQ(pw.txt()->geometry().topLeft(), cellOnWindow(4).topLeft());
    type(pw.txt(), "m");
    QTest::keyClick(pw.txt(), Qt::Key_Enter);
    EXPECT_EQ(pw.cell(4), QStringLiteral("m"));
    EXPECT_EQ(pw.grid()->currentRow(), 5);
    EXPECT_FALSE(pw.txt()->isVisible());

    // Enter on the last row leaves it current.
    pw.doubleClick(6);
    QTest::keyClick(pw.txt(), Qt::Key_Return);
    EXPECT_TRUE(!pw.txt()->isVisible() && pw.grid()->hasFocus());
    EXPECT_EQ(pw.grid()->currentRow(), 6);

    // A click on the grid hides an open editor.
    pw.doubleClick(2);
    EXPECT_TRUE(pw.dtp()->isVisible());
    pw.click(3);
    EXPECT_FALSE(pw.dtp()->isVisible());
}

TEST_F(ParameterWindowTest, DatePickerAndStatus)
{
    QDateTimeEdit *dtp = pw.dtp();
    pw.doubleClick(0);  // 短日期, empty
    ASSERT_TRUE(dtp->isVisible() && dtp->hasFocus() && !pw.txt()->isVisible());
    EXPECT_EQ(dtp->dateTime(), QDateTime(QDate::currentDate(), QTime(0, 0)));
    EXPECT_EQ(dtp->geometry().topLeft(), cellOnWindow(0).topLeft());
    EXPECT_EQ(pw.cell(0), QString());  // opening writes nothing
    EXPECT_EQ(pw.status()->text(), QStringLiteral("状 态"));

    QTest::keyClick(dtp, Qt::Key_Up);
    const QDateTime picked = dtp->dateTime();
    EXPECT_NE(picked, QDateTime(QDate::currentDate(), QTime(0, 0)));
    EXPECT_EQ(pw.cell(0), picked.toString(QStringLiteral("yyyyMMdd")));
    EXPECT_EQ(pw.status()->text(), kIncomplete);  // 标志 is still missing
    QTest::keyClick(dtp, Qt::Key_Return);
    EXPECT_FALSE(dtp->isVisible() || pw.txt()->isVisible());
    EXPECT_EQ(pw.grid()->currentRow(), 1);

    // Spaces count as a value.
    pw.doubleClick(6);
    type(pw.txt(), " ");
    EXPECT_EQ(state(), kComplete + QStringLiteral("|确定"));
    QTest::keyClick(pw.txt(), Qt::Key_Backspace);
    EXPECT_EQ(state(), kIncomplete);
    type(pw.txt(), "1");
    EXPECT_EQ(state(), kComplete + QStringLiteral("|确定"));

    // A cell that is not a date opens on the picker's previous value; leaving the picker writes it.
    pw.doubleClick(2);
    ASSERT_TRUE(dtp->isVisible());
    EXPECT_EQ(dtp->dateTime(), picked);
    EXPECT_EQ(pw.cell(2), QStringLiteral("昨天"));
    pw.click(3);
    EXPECT_FALSE(dtp->isVisible());
    EXPECT_EQ(pw.cell(2), picked.toString(QStringLiteral("yyyyMMdd")));
    EXPECT_EQ(pw.cell(0), picked.toString(QStringLiteral("yyyyMMdd")));  // the earlier row is untouched

    // A date with a time of day keeps it.
    pw.grid()->item(2, 4)->setText(QStringLiteral("2024-02-29 08:30:00"));
    pw.doubleClick(2);
    EXPECT_EQ(dtp->dateTime(), QDateTime(QDate(2024, 2, 29), QTime(8, 30)));
    QTest::keyClick(dtp, Qt::Key_Up);
    EXPECT_TRUE(pw.cell(2) == dtp->dateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) && pw.cell(2).endsWith(QStringLiteral("T08:30:00")))
        << pw.cell(2).toStdString();
}
