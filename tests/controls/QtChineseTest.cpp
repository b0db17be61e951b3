// Run with LC_ALL=C and LANG=C (CMakeLists.txt).
#include "QtChinese.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

TEST(QtChinese, FileDialogAndMessageBoxSpeakChineseUnderTheCLocale)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("a.txt")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && QDir(dir.path()).mkdir(QStringLiteral("sub")));

    QFileDialog dialog(nullptr, QStringLiteral("选择"), dir.path());
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.show();
    EXPECT_EQ(dialog.findChild<QLabel *>(QStringLiteral("fileNameLabel"))->text(), QStringLiteral("文件名称(&N)："));

    // The date column: the Chinese short form (2026/12/6 16:31), not "6 Dec 2026 16:31:50".
    auto *model = dialog.findChild<QFileSystemModel *>();
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), QStringLiteral("修改日期"));
    QModelIndex name;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        name = model->index(file.fileName());
        return name.isValid() && !name.siblingAtColumn(3).data().toString().isEmpty();
    }, 5000));
    EXPECT_EQ(model->index(dir.filePath(QStringLiteral("sub")), 2).data().toString(), QStringLiteral("文件夹"));
    EXPECT_EQ(name.siblingAtColumn(3).data().toString(),
              QLocale(QLocale::Chinese, QLocale::China).toString(QFileInfo(file).lastModified(), QLocale::ShortFormat));

    QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Ok | QMessageBox::Cancel);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text() + box.button(QMessageBox::Cancel)->text(), QStringLiteral("确定取消"));

    EXPECT_EQ(qgetenv("LC_ALL"), QByteArray("C"));   // as the user gave it, for the programs the tool starts
}

int main(int argc, char **argv)
{
    const auto app = vireo::createChineseApplication(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
