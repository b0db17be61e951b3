// Renders the main window on the demo data: after start-up and after a run over every item; then
// the maximized window, a sorted and filtered report, a repair's confirmation and the repair journal.
//   main_screenshot OUTDIR   (run under Xvfb; writes main-startup.png, main-running.png, main-after-run.png,
//                             main-item.png, main-maximized.png, report-sorted-filtered.png, grid-context-menu.png,
//                             column-filter.png, repair-confirm.png, repair-journal.png)
#include "MainWindow.h"
#include "ReportWindow.h"
#include "HistoryUi.h"
#include "RepairConfirm.h"
#include "RepairJournalWindow.h"
#include "LoginComponent.h"
#include "TreeRoutines.h"
#include "Startup.h"
#include "StandIn.h"
#include "WindowJobs.h"
#include "TestPaths.h"
#include <QAbstractButton>
#include <QApplication>
#include <QDirIterator>
#include <QHeaderView>
#include <QContextMenuEvent>
#include <functional>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QPointer>
#include <QScreen>
#include <QSettings>
#include <QTableView>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <cstdio>

using namespace vireo;

namespace {

class DemoLogin : public LoginComponent {
public:
    explicit DemoLogin(const test::StandIn &s) : m_server(s.server()), m_password(s.params().password) {}
    void login(const QString &) override {}
    int LogState() override { return 1; }
    void ClearError() override {}
    QString QzDbName() override { return QStringLiteral("QZdata_001_2024"); }
    void ShutDown() override {}
    QString cserver() override { return m_server; }
    QString cacc_id() override { return QStringLiteral("001"); }
    QString cIYear() override { return QStringLiteral("2024"); }
    QString SysPassword() override { return m_password; }
    QString CuserId() override { return QStringLiteral("demo"); }

private:
    QString m_server, m_password;
};

void copyTree(const QString &from, const QString &to)
{
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + src.mid(from.size());
        QDir().mkpath(QFileInfo(dst).absolutePath());
        QFile::copy(src, dst);
    }
}

void settle()
{
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(25);
    }
}

bool save(QWidget *w, const QString &path)
{
    settle();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: main_screenshot OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    // Remembered window places and the journal stay in this run's folder.
    QTemporaryDir settings;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings.path());
    qputenv("XDG_DATA_HOME", QFile::encodeName(settings.filePath(QStringLiteral("data"))));
    startupHooks().configureMainWindow = [](MainWindow *w) {
        w->openReport = [](const ItemOutcome &o, const QString &t) { openReportWindow(o, t); };
        attachHistory(w);
    };
    test::StandIn::Options options;
    options.initFiles = QStringList{test::sourceDir() + QStringLiteral("/demo/account.sql")};
    test::StandIn standIn(options);

    QTemporaryDir folder;
    QFile::copy(test::sourceDir() + QStringLiteral("/demo/VUZ.mdb"), folder.filePath(QStringLiteral("VUZ.mdb")));
    copyTree(test::sourceDir() + QStringLiteral("/demo/File"), folder.filePath(QStringLiteral("File")));
    QFile::copy(test::binDir() + QStringLiteral("/vireo-mdb-import"), folder.filePath(QStringLiteral("vireo-mdb-import")));

    LoginRegistry::registerProgId(kPrimaryLoginProgId, [&] { return std::make_unique<DemoLogin>(standIn); });
    // Boxes that a run may raise are answered so that the tool does not wait for a person.
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            std::printf("message: %s\n", qPrintable(box->text()));
            box->buttons().first()->click();
        }
    });
    answer.start(50);

    if (!startProgram(folder.path())) {
        releaseConnections();
        return 1;
    }
    MainWindow *w = mainWindow();
    w->move(0, 0);
    bool ok = save(w, out + QStringLiteral("/main-startup.png"));

    auto *tree = w->findChild<QTreeWidget *>(QStringLiteral("catalogueTree"));
    tree->expandAll();
    QTest::mouseClick(w->findChild<QToolButton *>(QStringLiteral("selectAllButton")), Qt::LeftButton);
    // One look at the window while the run is under way.
    QTimer during;
    int ticks = 0;
    QObject::connect(&during, &QTimer::timeout, [&] {
        if (w->isRunning() && ++ticks == 2)
            w->grab().save(out + QStringLiteral("/main-running.png"));
    });
    during.start(10);
    QTest::mouseClick(w->findChild<QToolButton *>(QStringLiteral("runButton")), Qt::LeftButton);
    test::waitForWorker();
    ok = save(w, out + QStringLiteral("/main-after-run.png")) && ok;

    QTreeWidgetItem *item = findNode(tree, QStringLiteral("ZZ01"));
    tree->setCurrentItem(item);
    w->nodeClick(item);
    ok = save(w, out + QStringLiteral("/main-item.png")) && ok;

    // Maximized (a display without a window manager gets the screen's size by hand).
    w->nodeClick(findNode(tree, QStringLiteral("G1")) ? findNode(tree, QStringLiteral("G1")) : tree->topLevelItem(0));
    w->runChecks();
    test::waitForWorker();
    w->showMaximized();
    w->setGeometry(w->screen()->availableGeometry());
    ok = save(w, out + QStringLiteral("/main-maximized.png")) && ok;

    // A report sorted by its second column, descending, and filtered.
    openReportWindow(QStringLiteral("WL01"), QStringLiteral("Tools"));
    test::waitForWorker();
    ReportWindow *report = ReportWindow::instance();
    report->resize(report->width() + 220, report->height() + 60);
    auto *grid = report->findChild<QTableView *>(QStringLiteral("reportGrid"));
    grid->sortByColumn(1, Qt::DescendingOrder);
    report->findChild<QLineEdit *>(QStringLiteral("filterBox"))->setText(QStringLiteral("有限"));
    ok = save(report, out + QStringLiteral("/report-sorted-filtered.png")) && ok;

    // A right click on a cell, then on the header of a filtered column: the window with the menu
    // that pops up, as the screen shows them.
    const auto withMenu = [&](QWidget *at, const QPoint &pos, const QString &file, const std::function<void(QMenu *)> &fill = {}) {
        QContextMenuEvent click(QContextMenuEvent::Mouse, pos, at->mapToGlobal(pos));
        QApplication::sendEvent(at, &click);
        QPointer<QMenu> menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        if (menu && fill)
            fill(menu);
        QTest::qWait(400);
        const QRect area = report->frameGeometry().united(menu ? menu->geometry() : QRect());
        const bool saved = menu && report->screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).save(file);
        if (menu)
            menu->close();
        return saved;
    };
    grid->selectRow(1);
    ok = withMenu(grid->viewport(), grid->visualRect(grid->model()->index(1, 1)).center(), out + QStringLiteral("/grid-context-menu.png")) && ok;
    QHeaderView *header = grid->horizontalHeader();
    const QPoint onColumn(header->sectionViewportPosition(1) + 10, header->height() / 2);
    withMenu(header->viewport(), onColumn, QString(), [](QMenu *menu) {   // 客户名称 包含 "上海"
        auto *text = menu->findChild<QLineEdit *>(QStringLiteral("filterText"));
        text->setText(QStringLiteral("上海"));
        QTest::keyClick(text, Qt::Key_Return);
    });
    ok = withMenu(header->viewport(), onColumn, out + QStringLiteral("/column-filter.png")) && ok;
    report->close();

    // The confirmation before a repair, with the script shown; then the repair, its re-check and
    // the journal.
    openReportWindow(QStringLiteral("ZZ01"), QStringLiteral("Tools"));
    test::waitForWorker();
    report = ReportWindow::instance();
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [&] {
        if (auto *d = qobject_cast<RepairConfirm *>(QApplication::activeModalWidget())) {
            confirm.stop();
            d->findChild<QPushButton *>(QStringLiteral("showScriptButton"))->click();
            ok = save(d, out + QStringLiteral("/repair-confirm.png")) && ok;
            d->findChild<QPushButton *>(QStringLiteral("repairButton"))->click();
        }
    });
    confirm.start(50);
    auto *function = report->findChild<QPushButton *>(QStringLiteral("planOrRepairButton"));
    function->click();
    test::waitForWorker();
    function->click();   // 检查: the re-check
    test::waitForWorker();
    report->close();
    showRepairJournal();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QPointer<RepairJournalWindow> journal;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *j = qobject_cast<RepairJournalWindow *>(top))
            journal = j;
    ok = journal && save(journal, out + QStringLiteral("/repair-journal.png")) && ok;
    w->close();
    releaseConnections();
    return ok ? 0 : 1;
}
