#include "AboutWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace vireo;

namespace {

QLabel *label(QWidget *w, const char *name) { return w->findChild<QLabel *>(QLatin1String(name)); }

TEST(AboutWindowTest, ShowsTheTextsAndClosesOnlyFromTheCloseImage)
{
    QWidget owner;
    owner.show();
    QPointer<AboutWindow> seen;
    bool modal = false, closedByOtherClicks = true;
    QTimer::singleShot(0, [&] {
        seen = qobject_cast<AboutWindow *>(QApplication::activeModalWidget());
        if (!seen)
            return;
        modal = seen->isModal() && seen->parentWidget() == &owner;
        EXPECT_EQ(seen->windowTitle(), "提示");
        const std::pair<const char *, const char *> texts[] = {
            {"headerLabel", "关于"}, {"copyrightLabel", "版权信息"}, {"productLabel", "Vireo数据体验工具V1.0"}};
        for (const auto &[name, text] : texts)
            EXPECT_EQ(label(seen, name)->text(), QString::fromUtf8(text)) << name;
        const auto *notice = seen->findChild<QPlainTextEdit *>("noticeBox");
        EXPECT_TRUE(notice->isReadOnly() && notice->toPlainText() == AboutWindow::noticeText());
        for (const char *picture : {"closeImage", "emblemImage", "sealImage"})
            EXPECT_FALSE(label(seen, picture)->pixmap().isNull()) << picture;
        QTest::mouseClick(label(seen, "productLabel"), Qt::LeftButton);
        QTest::mouseClick(seen, Qt::LeftButton, {}, QPoint(200, 150));
        closedByOtherClicks = !seen->isVisible();
        QTest::mouseClick(label(seen, "closeImage"), Qt::LeftButton);
    });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (auto *w = QApplication::activeModalWidget())
            w->close();
    });
    guard.start(5000);

    EXPECT_EQ(AboutWindow::showModal(&owner), QDialog::Accepted);
    EXPECT_TRUE(guard.isActive()) << "closed by the guard, not by closeImage";
    EXPECT_TRUE(modal && !closedByOtherClicks);
    EXPECT_TRUE(seen.isNull()) << "the window is discarded after closing";
}

} // namespace
