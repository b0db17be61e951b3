#pragma once
#include "Connection.h"
#include "LoginComponent.h"
#include "OdbcConnection.h"
#include <QString>
#include <functional>
#include <memory>

namespace vireo {

class MainWindow;

// What start-up and login reach outside themselves. The defaults are the real ones; tests
// replace endProgram (which must not return into a dying program) and may replace the others.
struct StartupHooks {
    // Opens VUZ.mdb; throws db::DbError naming the file when it cannot.
    std::function<std::unique_ptr<db::Connection>(const QString &path)> openCatalog;
    // Opens the account database; throws db::DbError with the driver's message when it cannot.
    std::function<std::unique_ptr<db::Connection>(const db::AccountParams &params)> openAccount;
    // Wires a freshly created main window to the other windows.
    std::function<void(MainWindow *window)> configureMainWindow;
    // Ends the program at once with this exit code.
    std::function<void(int code)> endProgram;
    // Shows a message box (icon, title, text) and returns when it is dismissed.
    std::function<void(int icon, const QString &title, const QString &text)> message;
};
StartupHooks &startupHooks();
// Puts every hook back to its default.
void resetStartupHooks();

// Program entry: setCatalogPath, then openCatalogAndLogin (which logs in). True when a main window is
// open afterwards, i.e. the event loop has something to run.
bool startProgram(const QString &programFolder);
// The same with the first of the folders that holds VUZ.mdb. When none does, says where it looked
// and lets the user choose a folder (remembered for the next start) before any login; giving up
// ends the program.
bool startProgram(const QStringList &candidateFolders);
// Opens VUZ.mdb of another program folder in place of the open catalogue and remembers the folder.
// False, with the reason in error, when the folder has no VUZ.mdb or it cannot be opened; the
// open catalogue then stays.
bool switchProgramFolder(const QString &folder, QString &error);
// CatalogPath = program folder + "\VUZ.mdb".
void setCatalogPath(const QString &programFolder);
// Opens CatalogConn when VUZ.mdb exists, then loginAccount. A catalogue that exists but cannot be
// opened is reported and ends the program.
void openCatalogAndLogin();
// The login sequence: login component by ProgID with fallback, LogState, ERP database component,
// ShutDown, AccountConn, status texts, main window.
void loginAccount();

// Closes CatalogConn and AccountConn; the program calls it before it ends, while Qt still runs.
void releaseConnections();

// The main window the last login opened (null when none is open).
MainWindow *mainWindow();
// The ERP database component of the last successful login.
const ErpDatabase *erpDbObject();

// The login-failure message.
inline const QString kLoginFailTitle = QStringLiteral("登录失败");
inline const QString kLoginFailText = QStringLiteral("请检查QZ软件系统安装是否正常，是否能正常登录及使用！");

} // namespace vireo
