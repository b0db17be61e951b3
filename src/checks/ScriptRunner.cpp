#include "ScriptRunner.h"
#include "FileHelpers.h"

namespace vireo {

QStringList splitBatches(const QStringList &lines)
{
    QStringList batches;
    QString batch;
    for (const QString &line : lines) {
        const QString withBlank = line + QLatin1Char(' ');
        if (withBlank.left(2).toUpper() == QLatin1String("GO")) {
            if (!batch.isEmpty())
                batches << batch;
            batch.clear();
        } else {
            batch += withBlank + QLatin1String("\r\n");
        }
    }
    if (!batch.isEmpty())
        batches << batch;
    return batches;
}

QString RunSqlFile(const QString &fileName, const QString &folder, db::Connection *conn)
{
    const QString path = folder.endsWith(QLatin1Char('\\')) ? folder + fileName : folder + QLatin1Char('\\') + fileName;
    const auto lines = readTextLines(path);
    if (!lines)
        return QStringLiteral("无法读取脚本文件 %1").arg(QString(path).replace(QLatin1Char('\\'), QLatin1Char('/')));
    if (!conn)
        return QStringLiteral("没有打开的数据库连接");
    for (const QString &batch : splitBatches(*lines)) {
        try {
            conn->execute(batch);
        } catch (const db::DbError &e) {
            return e.message().isEmpty() ? QStringLiteral("脚本执行失败") : e.message();
        }
    }
    return {};
}

} // namespace vireo
