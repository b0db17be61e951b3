#include "ScriptRunner.h"
#include "FileHelpers.h"
#include <QRegularExpression>

namespace vireo {

int separatorRepeat(const QString &line)
{
    static const QRegularExpression separator(QStringLiteral("^go(?:[ \\t]+([1-9][0-9]{0,3}))?[ \\t]*(?:--.*)?$"),
                                              QRegularExpression::CaseInsensitiveOption
                                                  | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch go = separator.match(line);
    if (!go.hasMatch())
        return 0;
    return go.hasCaptured(1) ? go.captured(1).toInt() : 1;
}

QStringList splitBatches(const QStringList &lines)
{
    QStringList batches;
    QString batch;
    for (const QString &line : lines) {
        const QString withBlank = line + QLatin1Char(' ');
        const int repeat = separatorRepeat(line);
        if (repeat > 0) {
            if (!batch.isEmpty())
                for (int i = 0; i < repeat; ++i)
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
    const QString shown = QString(path).replace(QLatin1Char('\\'), QLatin1Char('/'));
    QString problem;
    const auto lines = readScriptLines(path, problem);
    if (!problem.isEmpty())
        return QStringLiteral("脚本文件 %1 %2，整个脚本未执行").arg(shown, problem);
    if (!lines)
        return QStringLiteral("无法读取脚本文件 %1").arg(shown);
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
