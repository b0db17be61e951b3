// The result grid's order, menus and column filters, used by header clicks, right clicks and typing.
#include "GridMenus.h"
#include "ResultGrid.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QMenu>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

class GridTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QStringList rows[] = {{"鑫源", "b10", "100"}, {"张家口", "B9", "9"}, {"阿里", "a", ""},
                                    {"亓氏", "A1", "10.5"}, {"乔氏", "c", "9"}};
        source.setHorizontalHeaderLabels({"客户", "代码", "金额"});
        for (const QStringList &r : rows) {
            QList<QStandardItem *> items;
            for (const QString &t : r)
                items << new QStandardItem(t);
            source.appendRow(items);
        }
        proxy.setSourceModel(&source);
        view.setModel(&proxy);
        makeResultGrid(&view);
        view.resize(500, 300);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    QStringList column(int c) const
    {
        QStringList texts;
        for (int r = 0; r < proxy.rowCount(); ++r)
            texts << proxy.index(r, c).data().toString();
        return texts;
    }
    QPoint onHeader(int c) const { return QPoint(view.horizontalHeader()->sectionViewportPosition(c) + 5, 8); }
    void clickHeader(int c) { QTest::mouseClick(view.horizontalHeader()->viewport(), Qt::LeftButton, {}, onHeader(c)); }
    // Right-clicks the widget at pos and returns the menu that pops up.
    static QMenu *rightClick(QWidget *w, const QPoint &pos)
    {
        QContextMenuEvent e(QContextMenuEvent::Mouse, pos, w->mapToGlobal(pos));
        QApplication::sendEvent(w, &e);
        return qobject_cast<QMenu *>(QApplication::activePopupWidget());
    }
    QMenu *cellMenu(int row, int c) { return rightClick(view.viewport(), view.visualRect(proxy.index(row, c)).center()); }
    QMenu *headerMenu(int c) { return rightClick(view.horizontalHeader()->viewport(), onHeader(c)); }
    static void choose(QMenu *menu, const QString &text)
    {
        ASSERT_NE(menu, nullptr);
        QAction *chosen = nullptr;
        for (QAction *a : menu->actions())
            chosen = a->text() == text ? a : chosen;
        ASSERT_TRUE(chosen && chosen->isEnabled()) << text.toStdString();
        menu->close();
        chosen->trigger();
    }

    QStandardItemModel source;
    GridProxy proxy;
    QTableView view;
};

} // namespace

// Chinese by pinyin (a-li, qi, qiao, xin, zhang), Latin without regard to case with digit runs as
// numbers, numbers as numbers with the empty cell first; each way.
TEST_F(GridTest, SortsChineseByPinyinLatinAndNumbersNaturally)
{
    const QStringList pinyin{"阿里", "亓氏", "乔氏", "鑫源", "张家口"};
    clickHeader(0);
    EXPECT_EQ(column(0), pinyin);
    clickHeader(0);
    EXPECT_EQ(column(0), QStringList(pinyin.rbegin(), pinyin.rend()));
    clickHeader(1);
    EXPECT_EQ(column(1), (QStringList{"a", "A1", "B9", "b10", "c"}));
    clickHeader(2);
    EXPECT_EQ(column(2), (QStringList{"", "9", "9", "10.5", "100"}));
    // Mixed columns: numbers before texts (a quantity kept as text), Latin before Chinese.
    source.item(0, 2)->setText(QStringLiteral("1箱"));
    EXPECT_EQ(column(2), (QStringList{"", "9", "9", "10.5", "1箱"}));
    source.item(4, 0)->setText(QStringLiteral("Qiao Ltd"));
    clickHeader(0);
    EXPECT_EQ(column(0), (QStringList{"Qiao Ltd", "阿里", "亓氏", "鑫源", "张家口"}));
}

// 复制 with and without the column names, 复制本列 (Shift+F10 on the current cell); cells quoted as spreadsheets paste them.
TEST_F(GridTest, ContextMenuCopiesWithAndWithoutHeaderAndOneColumn)
{
    source.item(4, 1)->setText(QStringLiteral("c\t\"2\"\n3"));
    const QString quoted = QStringLiteral("\"c\t\"\"2\"\"\n3\"");
    clickHeader(2);   // 金额 ascending: "", 9 (张家口), 9 (乔氏), 10.5, 100
    view.selectionModel()->select(QItemSelection(proxy.index(1, 0), proxy.index(2, 1)), QItemSelectionModel::ClearAndSelect);
    choose(cellMenu(1, 0), QStringLiteral("复制"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("客户\t代码\n张家口\tB9\n乔氏\t") + quoted + "\n");
    choose(cellMenu(1, 0), QStringLiteral("复制（不含列名）"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("张家口\tB9\n乔氏\t") + quoted + "\n");
    // A right click outside the selection selects the cell clicked.
    choose(cellMenu(4, 0), QStringLiteral("复制（不含列名）"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("鑫源\n"));
    proxy.setQuickFilter(QStringLiteral("氏"));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.visualRect(proxy.index(0, 1)).center());
    QTest::keyClick(&view, Qt::Key_F10, Qt::ShiftModifier);
    choose(qobject_cast<QMenu *>(QApplication::activePopupWidget()), QStringLiteral("复制本列"));
    EXPECT_EQ(QApplication::clipboard()->text(), quoted + QStringLiteral("\nA1\n"));
    // Menus close when the rows under them change (a re-check updates the summary, a load resets).
    ASSERT_NE(cellMenu(0, 0), nullptr);
    source.item(3, 2)->setText(QStringLiteral("11"));
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
    ASSERT_NE(headerMenu(0), nullptr);
    source.clear();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);
}

// Column filters from the header menu and 按此值筛选 narrow the quick filter's rows further; the
// header marks filtered columns; 清除筛选 brings every row back and empties the quick filter.
TEST_F(GridTest, ColumnFiltersCombineWithTheQuickFilterAndShowInTheHeader)
{
    QString quick = QStringLiteral("unset");
    QObject::connect(&proxy, &GridProxy::quickFilterChanged, [&](const QString &t) { quick = t; });
    proxy.setQuickFilter(QStringLiteral("b"));   // 鑫源 b10, 张家口 B9
    EXPECT_EQ(column(0), (QStringList{"鑫源", "张家口"}));

    headerMenu(2);   // the text has the focus: 包含 "10" and Enter, 100 of the two rows
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("10"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(column(0), QStringList{"鑫源"});
    EXPECT_FALSE(proxy.headerData(2, Qt::Horizontal, Qt::DecorationRole).isNull());
    EXPECT_EQ(proxy.headerData(2, Qt::Horizontal, Qt::ToolTipRole).toString(), QStringLiteral("筛选：包含“10”"));
    EXPECT_TRUE(proxy.headerData(0, Qt::Horizontal, Qt::DecorationRole).isNull());

    proxy.setQuickFilter(QString());   // the column filter alone: 100 and 10.5
    EXPECT_EQ(column(0), (QStringList{"鑫源", "亓氏"}));
    choose(cellMenu(1, 1), QStringLiteral("按此值筛选"));   // and 代码 equal to A1
    EXPECT_EQ(column(0), QStringList{"亓氏"});
    choose(headerMenu(2), QStringLiteral("清除本列筛选"));
    EXPECT_EQ(column(0), QStringList{"亓氏"});
    choose(headerMenu(2), QStringLiteral("为空"));   // nothing is both A1 and empty
    EXPECT_EQ(proxy.rowCount(), 0);

    proxy.setQuickFilter(QStringLiteral("z"));
    choose(headerMenu(0), QStringLiteral("清除全部筛选"));
    EXPECT_EQ(proxy.rowCount(), 5);
    EXPECT_EQ(quick, QString());
    EXPECT_TRUE(proxy.headerData(2, Qt::Horizontal, Qt::DecorationRole).isNull());
    headerMenu(1);   // typed, then 等于 chosen in its list: Enter still applies it (代码 exactly "a")
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("a"));
    QTest::mouseClick(QApplication::activePopupWidget()->findChild<QComboBox *>(QStringLiteral("filterKind")), Qt::LeftButton);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(column(0), QStringList{"阿里"});
}
