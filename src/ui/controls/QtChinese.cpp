#include "QtChinese.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vireo {

bool installQtChinese()
{
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    QLocale::setDefault(chinese);
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    return true;
}

std::unique_ptr<QApplication> createChineseApplication(int &argc, char **argv)
{
    // LC_ALL overrides every other variable, then LC_TIME, then LANG.
    const bool hadAll = qEnvironmentVariableIsSet("LC_ALL");
    const QByteArray all = qgetenv("LC_ALL");
    const QByteArray timeLocale = !all.isEmpty() ? all : !qgetenv("LC_TIME").isEmpty() ? qgetenv("LC_TIME") : qgetenv("LANG");
    const bool pretend = !timeLocale.startsWith("zh_CN");
    if (pretend)
        qputenv("LC_ALL", "zh_CN.UTF-8");
    auto app = std::make_unique<QApplication>(argc, argv);
    QLocale::system();   // read now, while the environment says zh_CN
    if (pretend) {
        if (hadAll)
            qputenv("LC_ALL", all);
        else
            qunsetenv("LC_ALL");
    }
    installQtChinese();
    return app;
}

} // namespace vireo
