// Renders the folder question of a start-up that finds no VUZ.mdb (docs/folder-missing.png) and the
// folder window it opens (docs/folder-chooser.png), for an installed tool in /usr/local/bin.
//   folder_screenshot OUTDIR   (run under Xvfb)
#include "FileHelpers.h"
#include "QtChinese.h"
#include "Startup.h"
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    // The question names the folders of /home/support; the folder window then opens in a home
    // made for it, with a program folder copied into it.
    const QString home = QDir::tempPath() + QStringLiteral("/home/support");
    for (const char *sub : {"Vireo数据体检工具/File", "Vireo数据体检工具/报表", "下载", "文档", "桌面"})
        QDir(home).mkpath(QString::fromUtf8(sub));
    qputenv("HOME", "/home/support");
    for (const char *name : {"VIREO_PROGRAM_FOLDER", "XDG_DATA_HOME", "XDG_DATA_DIRS"})
        qunsetenv(name);
    const auto app = vireo::createChineseApplication(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QTemporaryDir settings;   // nothing remembered
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());

    // Each question is taken once it has been drawn, then answered: 选择文件夹…, the folder window
    // is closed, and 退出 at the second question.
    int shots = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || !w->isVisible())
            return;
        const bool chooser = qobject_cast<QFileDialog *>(w) != nullptr;
        if (shots < 2) {
            if (chooser)
                w->resize(720, 420);
            QApplication::processEvents();
            w->grab().save(out + (chooser ? QStringLiteral("/folder-chooser.png") : QStringLiteral("/folder-missing.png")));
            ++shots;
        }
        qputenv("HOME", QFile::encodeName(home));
        if (chooser) {
            static_cast<QDialog *>(w)->reject();
        } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
            const auto buttons = box->buttons();
            for (QAbstractButton *b : buttons)
                if (b->text() == (shots < 2 ? QStringLiteral("选择文件夹…") : QStringLiteral("退出")))
                    b->click();
        }
    });
    poll.start(300);
    vireo::startProgram(vireo::programFolderCandidates(QString(), QStringLiteral("/usr/local/bin")));
    QDir(QDir::tempPath() + QStringLiteral("/home")).removeRecursively();
    std::printf("%d pictures in %s\n", shots, qPrintable(out));
    return shots == 2 ? 0 : 1;
}
