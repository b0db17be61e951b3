#include "frmAbout.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vireo;

namespace {

QLabel *label(QWidget *w, const char *name)
{
    return w->findChild<QLabel *>(QLatin1String(name));
}

TEST(frmAbout, ShowsTheFixedTextsTopToBottom)
{
    frmAbout window;
    EXPECT_EQ(window.objectName(), "frmAbout");
    EXPECT_EQ(window.windowTitle(), "提示");
    EXPECT_EQ(window.size(), QSize(420, 300));

    QLabel *labHint = label(&window, "labHint");
    QLabel *Label1 = label(&window, "Label1");
    QLabel *Label5 = label(&window, "Label5");
    QLabel *picExit = label(&window, "picExit");
    auto *txtMessge = window.findChild<QPlainTextEdit *>("txtMessge");
    ASSERT_TRUE(labHint && Label1 && Label5 && picExit && txtMessge);

    EXPECT_EQ(labHint->text(), "关于");
    EXPECT_TRUE(labHint->font().bold());
    EXPECT_EQ(Label1->text(), "版权信息");
    EXPECT_TRUE(Label1->font().bold());
    EXPECT_EQ(Label5->text(), "Vireo数据体验工具V1.0");
    EXPECT_FALSE(Label5->font().bold());
    EXPECT_TRUE(txtMessge->isReadOnly());
    EXPECT_EQ(txtMessge->toPlainText(), frmAbout::noticeText());
    EXPECT_GT(txtMessge->document()->blockCount(), 1);

    // Close image at the top right; rules, pictures and the notice below the labels.
    EXPECT_EQ(picExit->size(), QSize(17, 18));
    EXPECT_FALSE(picExit->pixmap().isNull());
    EXPECT_LT(picExit->y(), labHint->geometry().bottom());
    EXPECT_GT(picExit->x(), window.width() - 40);
    EXPECT_LT(labHint->x(), 20);
    EXPECT_LT(labHint->geometry().bottom(), Label1->y());
    EXPECT_LT(Label1->geometry().bottom(), Label5->y());
    EXPECT_LT(Label5->geometry().bottom(), txtMessge->y());
    EXPECT_LE(txtMessge->geometry().bottom(), window.height());
    int rules = 0;
    for (QFrame *f : window.findChildren<QFrame *>())
        rules += f->frameShape() == QFrame::HLine;
    EXPECT_EQ(rules, 2);
    EXPECT_FALSE(label(&window, "Image1")->pixmap().isNull());
    EXPECT_FALSE(label(&window, "Image2")->pixmap().isNull());
}

TEST(frmAbout, ShowModalReturnsWhenTheCloseImageIsClicked)
{
    QWidget owner;
    owner.show();
    QPointer<frmAbout> seen;
    bool modal = false, closedByOtherClicks = false;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
        if (!seen)
            return;
        modal = seen->isModal() && seen->isVisible() && seen->parentWidget() == &owner;
        // Clicks elsewhere keep it open.
        QTest::mouseClick(label(seen, "Label5"), Qt::LeftButton);
        QTest::mouseClick(seen, Qt::LeftButton, {}, QPoint(200, 150));
        closedByOtherClicks = !seen->isVisible();
        QTest::mouseClick(label(seen, "picExit"), Qt::LeftButton);
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (auto *w = QApplication::activeModalWidget())
            w->close();
    });
    guard.start(5000);

    EXPECT_EQ(frmAbout::showModal(&owner), QDialog::Accepted);
    EXPECT_TRUE(guard.isActive()) << "closed by the guard, not by picExit";
    EXPECT_TRUE(modal);
    EXPECT_FALSE(closedByOtherClicks);
    EXPECT_TRUE(seen.isNull()) << "the window is discarded after closing";
    EXPECT_TRUE(owner.findChildren<frmAbout *>().isEmpty());
}

} // namespace
