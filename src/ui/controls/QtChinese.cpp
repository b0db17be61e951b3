#include "QtChinese.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vireo {

namespace {

// Texts Qt 6 asks for under a context that Debian's qtbase_zh_CN does not hold yet: the file
// dialog's type column.
class MissingQtTexts : public QTranslator {
public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const QHash<QByteArray, QString> texts{{"Folder", QStringLiteral("文件夹")},
                                                      {"Drive", QStringLiteral("驱动器")},
                                                      {"Alias", QStringLiteral("替身")},
                                                      {"Shortcut", QStringLiteral("快捷方式")}};
        return texts.value(sourceText);
    }
};

} // namespace

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
    QCoreApplication::installTranslator(new MissingQtTexts(QCoreApplication::instance()));
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
