#include "FileHelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace vireo {

namespace {

QSettings folderSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vireo"), QStringLiteral("Vireo"));
}

const QString kRememberedKey = QStringLiteral("programFolder");

} // namespace

QStringList programFolderCandidates(const QString &commandLineFolder, const QString &executableFolder)
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");

    QStringList sources{commandLineFolder, qEnvironmentVariable("VIREO_PROGRAM_FOLDER"), rememberedProgramFolder(),
                        executableFolder, dataHome + QStringLiteral("/vireo")};
    for (const QString &dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        sources << dir + QStringLiteral("/vireo");

    QStringList candidates;
    for (const QString &source : sources) {
        if (source.isEmpty())
            continue;
        const QString folder = QDir::cleanPath(QString(source).replace(QLatin1Char('\\'), QLatin1Char('/')));
        if (!candidates.contains(folder))
            candidates << folder;
    }
    return candidates;
}

bool holdsCatalogue(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const QString found = resolvePath(folder + QStringLiteral("/VUZ.mdb"));
    return !found.isEmpty() && QFileInfo(found).isFile();
}

QString findProgramFolder(const QStringList &candidates)
{
    for (const QString &folder : candidates)
        if (holdsCatalogue(folder))
            return folder;
    return {};
}

QString rememberedProgramFolder()
{
    return folderSettings().value(kRememberedKey).toString();
}

void rememberProgramFolder(const QString &folder)
{
    QSettings s = folderSettings();
    s.setValue(kRememberedKey, QDir::cleanPath(folder));
    s.sync();
}

QString defaultProgramFolder()
{
    const QString found = findProgramFolder(programFolderCandidates(QString(), QCoreApplication::applicationDirPath()));
    if (!found.isEmpty())
        return found;
    return qEnvironmentVariable("VIREO_PROGRAM_FOLDER", QCoreApplication::applicationDirPath());
}

} // namespace vireo
