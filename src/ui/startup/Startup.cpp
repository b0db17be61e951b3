#include "Startup.h"
#include "CheckRun.h"
#include "FileHelpers.h"
#include "MainWindow.h"
#include "OffThread.h"
#include "Session.h"
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QEventLoopLocker>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <memory>
#ifdef VIREO_HAVE_CATALOGUE
#include "CatalogueImport.h"
#endif

namespace vireo {

namespace {

QPointer<MainWindow> g_mainWindow;
std::unique_ptr<ErpDatabase> g_erpDb;

StartupHooks defaultHooks()
{
    StartupHooks h;
    h.openCatalog = [](const QString &path) -> std::unique_ptr<db::Connection> {
#ifdef VIREO_HAVE_CATALOGUE
        // A splash while the catalogue is read; the import reports its rows every 100 ms or so.
        QProgressDialog splash(QStringLiteral("正在读取检查目录 %1 …").arg(QFileInfo(path).fileName()), QString(), 0, 0);
        splash.setObjectName(QStringLiteral("catalogueProgress"));
        splash.setWindowTitle(QStringLiteral("Vireo数据体检工具"));
        splash.setCancelButton(nullptr);
        splash.setMinimumDuration(300);
        QElapsedTimer shown;
        shown.start();
        return openCatalogue(path, {}, [&](qint64 rows) {
            if (shown.elapsed() >= 300) {
                splash.setLabelText(QStringLiteral("正在读取检查目录 %1 …（已读 %2 行）").arg(QFileInfo(path).fileName()).arg(rows));
                splash.setValue(0);
            }
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        });
#else
        throw db::DbError(QStringLiteral("无法打开目录数据库 %1：本程序未带目录读取组件").arg(path));
#endif
    };
    h.openAccount = [](const db::AccountParams &p) -> std::unique_ptr<db::Connection> {
        return db::OdbcConnection::open(p);
    };
    h.endProgram = [](int code) {
        releaseConnections();
        std::exit(code);
    };
    h.message = [](int icon, const QString &title, const QString &text) {
        QMessageBox box(QMessageBox::Icon(icon), title, text, QMessageBox::Ok, QApplication::activeWindow());
        box.exec();
    };
    return h;
}

// Runs one step of the login; a failing step is skipped.
template <typename F>
void step(F &&f)
{
    try {
        f();
    } catch (...) {
    }
}

// Opens the account connection on a thread of its own while the window thread shows how long the
// login has waited (up to the driver's 15 s) with a button that gives it up. A login given up goes
// on in the background and its connection is closed when it ends.
// Also learns the server's own name (@@SERVERNAME), under which the run history keeps the account.
std::unique_ptr<db::Connection> openAccountWithProgress(const db::AccountParams &params, QString &serverName)
{
    const auto open = startupHooks().openAccount;
    QEventLoop loop;
    QProgressDialog progress(QStringLiteral("正在连接数据库服务器 %1 …").arg(params.server), QStringLiteral("取消"), 0, 15);
    progress.setObjectName(QStringLiteral("loginProgress"));
    progress.setWindowTitle(QStringLiteral("Vireo数据体检工具"));
    progress.setMinimumDuration(500);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    QElapsedTimer waited;
    waited.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &progress, [&] {
        progress.setValue(int(std::min<qint64>(waited.elapsed() / 1000, 15)));
    });
    tick.start(250);
    bool cancelled = false;
    QObject::connect(&progress, &QProgressDialog::canceled, &loop, [&] {
        cancelled = true;
        loop.quit();
    });
    using Opened = std::pair<std::unique_ptr<db::Connection>, QString>;
    std::optional<Opened> conn;
    std::exception_ptr error;
    try {
        conn = runOffThread([open, params] {
            Opened opened{open(params), QString()};
            try {
                RunIdentity identity;
                if (opened.first && opened.first->isOpen())
                    readServerIdentity(opened.first.get(), identity);
                opened.second = identity.server;
            } catch (const db::DbError &) {
                // Without it the first run reads it.
            }
            return opened;
        }, loop);
    } catch (...) {
        error = std::current_exception();
    }
    if (cancelled || (!conn && !error))
        throw db::DbError(QStringLiteral("登录已取消"));
    if (error)
        std::rethrow_exception(error);
    serverName = conn->second;
    return std::move(conn->first);
}

void loginFailed()
{
    startupHooks().message(QMessageBox::Warning, kLoginFailTitle, kLoginFailText);
    startupHooks().endProgram(0);
}

// Relogin: the window has closed; log in again. The program ends when no window is open after it.
void relogin()
{
    // Keeps the closed window from ending the program while the login runs.
    const QEventLoopLocker keepRunning;
    loginAccount();
}

MainWindow *ensureMainWindow()
{
    // After Relogin the closed window may still wait for its deletion: it is never reused.
    if (!g_mainWindow || !g_mainWindow->isVisible()) {
        g_mainWindow = new MainWindow;
        g_mainWindow->relogin = &relogin;
        g_mainWindow->openProgramFolder = &switchProgramFolder;
        if (startupHooks().configureMainWindow)
            startupHooks().configureMainWindow(g_mainWindow);
        g_mainWindow->load();
    }
    return g_mainWindow;
}

// Says where VUZ.mdb was looked for and lets the user choose a folder that holds it; asks again
// while the chosen folder has none. Empty when the user gives up. Runs before any login, while
// no job can be running, so its dialogs may wait in place.
QString askForProgramFolder(const QStringList &looked)
{
    QStringList places;
    for (const QString &folder : looked)
        places << QStringLiteral("    ") + QDir::toNativeSeparators(folder);
    QString note;
    for (;;) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Vireo数据体检工具"),
                        note + QStringLiteral("没有找到检查目录数据库 VUZ.mdb。已在以下文件夹中查找：\n\n%1\n\n"
                                              "请选择含有 VUZ.mdb 和 File 文件夹的程序文件夹。")
                                   .arg(places.join(QLatin1Char('\n'))),
                        QMessageBox::NoButton);
        box.setObjectName(QStringLiteral("noCatalogueBox"));
        QPushButton *choose = box.addButton(QStringLiteral("选择文件夹…"), QMessageBox::AcceptRole);
        box.addButton(QStringLiteral("退出"), QMessageBox::RejectRole);
        box.setDefaultButton(choose);
        box.exec();
        if (box.clickedButton() != choose)
            return {};

        const std::unique_ptr<QFileDialog> dialog(newProgramFolderDialog(nullptr, QDir::homePath()));
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
            note.clear();
            continue;
        }
        const QString folder = QDir::cleanPath(dialog->selectedFiles().constFirst());
        if (holdsCatalogue(folder))
            return folder;
        note = QStringLiteral("所选文件夹 %1 中没有 VUZ.mdb。\n\n").arg(QDir::toNativeSeparators(folder));
    }
}

} // namespace

StartupHooks &startupHooks()
{
    static StartupHooks hooks = defaultHooks();
    return hooks;
}

void resetStartupHooks()
{
    startupHooks() = defaultHooks();
}

void releaseConnections()
{
    session().accountConn.reset();
    session().catalogConn.reset();
}

MainWindow *mainWindow()
{
    return g_mainWindow && g_mainWindow->isVisible() ? g_mainWindow.data() : nullptr;
}

const ErpDatabase *erpDbObject()
{
    return g_erpDb.get();
}

bool startProgram(const QStringList &candidateFolders)
{
    QString folder = findProgramFolder(candidateFolders);
    if (folder.isEmpty()) {
        folder = askForProgramFolder(candidateFolders);
        if (folder.isEmpty())
            return false;
        rememberProgramFolder(folder);
    }
    setCatalogPath(folder);
    openCatalogAndLogin();
    return mainWindow() != nullptr;
}

bool switchProgramFolder(const QString &folder, QString &error)
{
    if (!holdsCatalogue(folder)) {
        error = QStringLiteral("所选文件夹 %1 中没有 VUZ.mdb。").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    const QString mdb = resolvePath(QDir::cleanPath(folder) + QStringLiteral("/VUZ.mdb"));
    std::unique_ptr<db::Connection> catalog;
    try {
        catalog = startupHooks().openCatalog(mdb);
    } catch (const db::DbError &e) {
        error = e.message();
        return false;
    }
    Session &s = session();
    s.catalogConn = std::move(catalog);
    setCatalogPath(QDir::cleanPath(folder));
    rememberProgramFolder(s.programFolder);
    return true;
}

bool startProgram(const QString &programFolder)
{
    if (!holdsCatalogue(programFolder))
        return startProgram(QStringList{QDir::cleanPath(programFolder)});
    setCatalogPath(programFolder);
    openCatalogAndLogin();
    return mainWindow() != nullptr;
}

void setCatalogPath(const QString &programFolder)
{
    Session &s = session();
    s.programFolder = programFolder;
    while (s.programFolder.size() > 1 && (s.programFolder.endsWith(QLatin1Char('/')) || s.programFolder.endsWith(QLatin1Char('\\'))))
        s.programFolder.chop(1);
    s.catalogPath = s.programFolder + QStringLiteral("\\VUZ.mdb");
}

void openCatalogAndLogin()
{
    Session &s = session();
    // A normal file only: a folder of that name does not count.
    const QString found = resolvePath(s.catalogPath);
    if (!found.isEmpty() && QFileInfo(found).isFile()) {
        try {
            s.catalogConn = startupHooks().openCatalog(found);
        } catch (const db::DbError &e) {
            startupHooks().message(QMessageBox::Critical, QStringLiteral("Vireo数据体检工具"), e.message());
            startupHooks().endProgram(1);
            return;
        }
    }
    loginAccount();
}

void loginAccount()
{
    int error = 0;
    std::unique_ptr<LoginComponent> login = LoginRegistry::create(kPrimaryLoginProgId, error);
    if (error == 91) {
        loginFailed();
        return;
    }
    if (error == 429 || error == 438) {
        login = LoginRegistry::create(kSecondaryLoginProgId, error);
        if (error == 429 || error == 91) {
            loginFailed();
            return;
        }
    }
    auto need = [&login]() -> LoginComponent & {
        if (!login)
            throw ComponentError(91);
        return *login;
    };

    step([&] { need().login(QStringLiteral("DP")); });
    // A LogState that cannot be read counts as not logged in.
    int state = 100;
    step([&] { state = need().LogState(); });
    if (state == 100) {
        step([&] { need().ClearError(); });
        return;
    }

    g_erpDb = std::make_unique<ErpDatabase>();
    step([&] { g_erpDb->open(need().QzDbName()); });
    step([&] { need().ShutDown(); });

    Session &s = session();
    s.accountConn.reset();
    try {
        db::AccountParams p;
        // Read in this order: server, account, year, password.
        p.server = need().cserver();
        const QString account = need().cacc_id();
        const QString year = need().cIYear();
        p.database = QStringLiteral("QZdata_") + account + QLatin1Char('_') + year;
        p.user = QStringLiteral("SA");
        s.accountInfo = {p.server, account, year, p.database, {}, {}};
        p.password = need().SysPassword();
        s.accountParams.reset();
        s.accountConn = openAccountWithProgress(p, s.accountInfo.serverName);
        s.accountParams = p;
    } catch (const db::DbError &e) {
        s.accountConn = std::make_unique<db::ClosedConnection>(
            QStringLiteral("账套数据库连接未能打开：") + e.message());
    } catch (...) {
        s.accountConn = std::make_unique<db::ClosedConnection>(
            QStringLiteral("账套数据库连接未能打开：登录组件没有提供连接信息"));
    }
    if (!s.accountConn)
        s.accountConn = std::make_unique<db::ClosedConnection>(QStringLiteral("账套数据库连接未能打开"));

    MainWindow *w = ensureMainWindow();
    step([&] {
        s.accountInfo.operatorName = need().CuserId();
        w->setPanelText(1, QStringLiteral("操作员：") + s.accountInfo.operatorName);
    });
    step([&] { w->setPanelText(2, QStringLiteral("服务器：") + need().cserver()); });
    step([&] {
        const QString account = need().cacc_id();
        const QString year = need().cIYear();
        w->setPanelText(3, QStringLiteral("当前账套：[") + account + QStringLiteral("] 会计年度：[") + year
                               + QStringLiteral("]"));
    });
    w->show();
}

} // namespace vireo
