#include "LoginDialog.h"
#include "MainWindow.h"
#include "Startup.h"
#include "FileHelpers.h"
#include "QtChinese.h"
#include "OffThread.h"
#include <QApplication>
#ifdef VIREO_HAVE_REPORT
#include "ReportWindow.h"
#endif
#ifdef VIREO_HAVE_PARAMS
#include "ParameterWindow.h"
#endif
#ifdef VIREO_HAVE_ABOUT
#include "AboutWindow.h"
#endif
#ifdef VIREO_HAVE_HISTORY
#include "HistoryUi.h"
#endif

namespace {

void connectWindows(vireo::MainWindow *w)
{
#ifdef VIREO_HAVE_REPORT
    w->openReport = [](const vireo::ItemOutcome &outcome, const QString &treeName) {
        vireo::openReportWindow(outcome, treeName);
    };
#endif
#ifdef VIREO_HAVE_PARAMS
    w->handOffProcedure = [](const QString &key, const QString &treeName) {
        vireo::openParameterWindow(key, treeName);
    };
#endif
#ifdef VIREO_HAVE_ABOUT
    w->showAbout = [](QWidget *parent) { vireo::AboutWindow::showModal(parent); };
#endif
#ifdef VIREO_HAVE_HISTORY
    vireo::attachHistory(w);
#endif
    Q_UNUSED(w);
}

// --program-folder DIR (or --program-folder=DIR); empty when not given.
QString commandLineFolder(const QStringList &args)
{
    const QString option = QStringLiteral("--program-folder");
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == option && i + 1 < args.size())
            return args[i + 1];
        if (args[i].startsWith(option + QLatin1Char('=')))
            return args[i].mid(option.size() + 1);
    }
    return {};
}

} // namespace

int main(int argc, char **argv)
{
    const auto app = vireo::createChineseApplication(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vireo数据体检工具"));
    vireo::registerBuiltInLogin();
    vireo::startupHooks().configureMainWindow = &connectWindows;
    int code = 0;
    const QStringList folders = vireo::programFolderCandidates(commandLineFolder(QCoreApplication::arguments()),
                                                               QCoreApplication::applicationDirPath());
    if (vireo::startProgram(folders))
        code = QApplication::exec();
    vireo::releaseConnections();
    return vireo::endProgram(code);
}
