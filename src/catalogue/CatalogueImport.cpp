#include "CatalogueImport.h"
#include "Environment.h"
#include "CatalogueConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <sqlite3.h>

namespace vireo {

namespace {
// The importer reports every 10,000 rows (and each table): an import that reports nothing for
// this long is stuck, however large the file.
constexpr int kStallTimeoutMs = 10000;

[[noreturn]] void failOpen(const QString &mdbPath, const QString &reason)
{
    throw db::DbError(QStringLiteral("无法打开目录数据库 %1：%2").arg(QDir::toNativeSeparators(mdbPath), reason));
}

// The importer's last message line; libmdb may have printed warnings before it.
QString lastLine(const QByteArray &stderrBytes)
{
    const QStringList lines = QString::fromUtf8(stderrBytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString s = it->trimmed();
        if (!s.isEmpty())
            return s;
    }
    return {};
}

// Copies every table of src into dest; the reason when it could not.
QString backupInto(sqlite3 *dest, sqlite3 *src)
{
    sqlite3_backup *backup = sqlite3_backup_init(dest, "main", src, "main");
    QString why;
    if (!backup)
        why = QString::fromUtf8(sqlite3_errmsg(dest));
    else if (sqlite3_backup_step(backup, -1) != SQLITE_DONE)
        why = QString::fromUtf8(sqlite3_errmsg(dest));
    if (backup && sqlite3_backup_finish(backup) != SQLITE_OK && why.isEmpty())
        why = QString::fromUtf8(sqlite3_errmsg(dest));
    return why;
}

void copyIntoMemory(const QString &mdbPath, const QString &sqlitePath, db::SqliteConnection &target)
{
    auto *dest = static_cast<sqlite3 *>(target.nativeHandle());
    if (!dest)
        failOpen(mdbPath, QStringLiteral("内存数据库不可用"));
    sqlite3 *src = nullptr;
    const QByteArray file = QFile::encodeName(sqlitePath);
    if (sqlite3_open_v2(file.constData(), &src, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(src ? sqlite3_errmsg(src) : "out of memory");
        sqlite3_close(src);
        failOpen(mdbPath, why);
    }
    const QString why = backupInto(dest, src);
    sqlite3_close(src);
    if (!why.isEmpty())
        failOpen(mdbPath, why);
}
} // namespace

QString catalogueImporterName()
{
    return QStringLiteral("vireo-mdb-import");
}

std::unique_ptr<db::SqliteConnection> openCatalogue(const QString &mdbPath, const QString &importerPath,
                                                    const std::function<void(qint64 rows)> &progress)
{
    const QFileInfo info(mdbPath);
    if (!info.exists())
        failOpen(mdbPath, QStringLiteral("文件不存在"));
    if (!info.isFile())
        failOpen(mdbPath, QStringLiteral("不是文件"));

    QString importer = importerPath;
    if (importer.isEmpty()) {
        // Beside the program (build tree, program folder), else where an installation puts it.
        const QDir here(QCoreApplication::applicationDirPath());
        for (const QString &rel : {QString(), QStringLiteral("../libexec/vireo/"), QStringLiteral("../libexec/")}) {
            importer = QDir::cleanPath(here.filePath(rel + catalogueImporterName()));
            if (QFileInfo(importer).isExecutable())
                break;
        }
        if (!QFileInfo(importer).isExecutable())
            importer = here.filePath(catalogueImporterName());
    }
    if (!QFileInfo(importer).isExecutable())
        failOpen(mdbPath, QStringLiteral("找不到读取程序 %1").arg(QDir::toNativeSeparators(importer)));

    QTemporaryDir work;
    if (!work.isValid())
        failOpen(mdbPath, QStringLiteral("无法创建临时文件夹：%1").arg(work.errorString()));
    const QString copyPath = work.filePath(QStringLiteral("catalogue.sqlite"));

    QProcess child;
    child.setProgram(importer);
    child.setArguments({info.absoluteFilePath(), copyPath});
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.setProcessEnvironment(childProcessEnvironment());
    child.start();
    if (!child.waitForStarted(30000))
        failOpen(mdbPath, QStringLiteral("无法启动读取程序：%1").arg(child.errorString()));
    QElapsedTimer quiet;
    quiet.start();
    qint64 rows = 0;
    while (child.state() != QProcess::NotRunning) {
        child.waitForReadyRead(100);
        bool moved = false;
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            if (line.startsWith("rows ")) {
                rows = line.mid(5).toLongLong();
                moved = true;
            }
        }
        if (moved)
            quiet.restart();
        if (progress)
            progress(rows);
        if (child.state() != QProcess::NotRunning && quiet.elapsed() > kStallTimeoutMs) {
            child.kill();
            child.waitForFinished(5000);
            failOpen(mdbPath, QStringLiteral("读取超时（%1 秒内没有进展，已读 %2 行）").arg(kStallTimeoutMs / 1000).arg(rows));
        }
    }
    child.waitForFinished(5000);
    const QString message = lastLine(child.readAllStandardError());
    if (child.exitStatus() == QProcess::CrashExit)
        failOpen(mdbPath, QStringLiteral("文件已损坏，读取程序异常终止"));
    if (child.exitCode() != 0)
        failOpen(mdbPath, message.isEmpty() ? QStringLiteral("读取失败（退出码 %1）").arg(child.exitCode()) : message);

    auto conn = std::make_unique<CatalogueConnection>();
    copyIntoMemory(mdbPath, copyPath, *conn);
    QFile::remove(copyPath);
    return conn;
}

std::unique_ptr<db::SqliteConnection> copyCatalogue(db::SqliteConnection &source)
{
    auto conn = std::make_unique<CatalogueConnection>();
    auto *dest = static_cast<sqlite3 *>(conn->nativeHandle());
    auto *src = static_cast<sqlite3 *>(source.nativeHandle());
    const QString why = dest && src ? backupInto(dest, src) : QStringLiteral("内存数据库不可用");
    if (!why.isEmpty())
        throw db::DbError(QStringLiteral("无法复制检查目录：") + why);
    return conn;
}

} // namespace vireo
