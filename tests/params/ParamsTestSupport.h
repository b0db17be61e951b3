#pragma once
#include "AccountWorker.h"
#include "ParameterWindow.h"
#include "QtPrinters.h"
#include "Session.h"
#include "SqliteConnection.h"
#include "TestPaths.h"

#include <QApplication>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace vireo::test {

// The program folder of these tests holds File/{code}/检查.SQL for every item used here.
inline void useParamsCatalogue()
{
    auto cat = std::make_unique<db::SqliteConnection>(QStringLiteral(":memory:"));
    cat->execute(QStringLiteral("create table Tools (cID integer, cParentID text, cCode text, cName text, "
                                "bSign boolean, bEnd boolean)"));
    cat->execute(QStringLiteral("insert into Tools values (1, '0', 'P01', '期间参数检查', 1, 1), "
                                "(2, '0', 'K01', '过程一', 1, 1), (3, '0', 'K11', '第一个过程', 1, 1), "
                                "(4, '0', 'K12', '第二个过程', 1, 1), (5, '0', 'KERR', '失败的过程', 1, 1), "
                                "(6, '0', 'KE', '无参数过程', 1, 1)"));
    session().catalogConn = std::move(cat);
    session().programFolder = dataDir() + QStringLiteral("/params");
}

// Clicks 确定 and waits (bounded) for the procedure's job on the account worker to end.
inline void clickOk(QPushButton *ok)
{
    QTest::mouseClick(ok, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([] { return !accountWorker().isBusy(); }, 30000));
    QCoreApplication::processEvents();
}

// Typed access to the window's controls by their names.
struct ParamWindow {
    QPointer<ParameterWindow> w;   // a closed window deletes itself
    template <class T> T *find(const char *name) const
    {
        T *c = w->findChild<T *>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }
    QTableWidget *grid() const { return find<QTableWidget>("parameterGrid"); }
    QLineEdit *txt() const { return find<QLineEdit>("textEditor"); }
    QDateTimeEdit *dtp() const { return find<QDateTimeEdit>("dateEditor"); }
    QLabel *status() const { return find<QLabel>("statusLabel"); }
    QPushButton *ok() const { return find<QPushButton>("okButton"); }
    QString cell(int row, int column = 4) const
    {
        const QTableWidgetItem *i = grid()->item(row, column);
        return i ? i->text() : QString();
    }
    QPoint cellCentre(int row, int column = 4) const
    {
        return grid()->visualRect(grid()->model()->index(row, column)).center();
    }
    void click(int row, int column = 4) const
    {
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, {}, cellCentre(row, column));
    }
    void doubleClick(int row, int column = 4) const
    {
        click(row, column);
        QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, {}, cellCentre(row, column));
    }
};

// Opens the parameter window for the item and waits until it can take the focus.
inline ParamWindow openWindow(const QString &key, const QString &tree = QStringLiteral("Tools"))
{
    openParameterWindow(key, tree);
    ParamWindow pw{ParameterWindow::instance()};
    EXPECT_NE(pw.w, nullptr);
    if (pw.w) {
        pw.w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(pw.w, 5000));
    }
    return pw;
}

// Closes every parameter window and drops waiting items.
inline void closeParameterWindows()
{
    discardPendingParameterWindows();
    for (int i = 0; i < 10 && ParameterWindow::instance(); ++i)
        ParameterWindow::instance()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace vireo::test
