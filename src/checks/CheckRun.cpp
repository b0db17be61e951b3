#include "CheckRun.h"
#include "FileHelpers.h"
#include "QueryHelpers.h"
#include "ScriptRunner.h"
#include <QFileInfo>

namespace vireo {

namespace {
const QString kMarker = QStringLiteral("存储过程&&");
const QString kScript = QStringLiteral("检查.SQL");
} // namespace

QString GetProcedureName(const QString &scriptPath)
{
    if (!FileExists(scriptPath))
        return {};
    const auto lines = readTextLines(scriptPath);
    if (!lines)
        throw db::DbError(QStringLiteral("无法读取脚本文件 %1").arg(scriptPath));
    QString name;
    for (const QString &raw : *lines) {
        // Only blanks are trimmed, as the line reader of the design does.
        qsizetype b = 0, e = raw.size();
        while (b < e && raw[b] == QLatin1Char(' '))
            ++b;
        while (e > b && raw[e - 1] == QLatin1Char(' '))
            --e;
        const QString line = raw.mid(b, e - b);
        const qsizetype at = line.indexOf(kMarker);
        if (at >= 0)
            name = line.mid(at + kMarker.size());
    }
    return name;
}

QString dropResultSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name='") + code
           + QStringLiteral("') drop table tempdb..") + code;
}

QString copyResultSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name='VUZ') select * into tempdb..") + code
           + QStringLiteral(" from tempdb..VUZ");
}

QString runItemCheck(const QString &code, const QString &itemFolder, db::Connection *account)
{
    const QString result = RunSqlFile(kScript, itemFolder, account);
    if (!account)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    account->execute(dropResultSql(code));
    account->execute(copyResultSql(code));
    return result;
}

RunOutcome RunChecks(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                     const ProcedureHandOff &handOff, const RunProgress &progress)
{
    RunOutcome out;
    const int count = int(nodes.size());
    for (int i = 0; i < count; ++i) {
        const TreeItemRef &node = nodes[size_t(i)];
        if (!node.checked)
            continue;
        try {
            if (!isRunnableItem(treeName, node.key, ctx.catalog))
                continue;
            const QString folder = ctx.programFolder + QStringLiteral("/File/") + node.key;
            const QString script = folder + QLatin1Char('/') + kScript;
            // A normal file only: a folder of that name does not count.
            if (!QFileInfo(resolvePath(script)).isFile())
                continue;
            if (progress)
                progress(node, i + 1, count);
            ++out.itemsRun;
            const QString scriptResult = runItemCheck(node.key, folder, ctx.account);
            if (!scriptResult.isEmpty())
                out.scriptFailures.push_back({node.key, node.text, scriptResult});
            if (!GetProcedureName(script).isEmpty() && handOff)
                handOff(node.key, treeName);
        } catch (const db::DbError &e) {
            out.problems.push_back({node.key, node.text, e.message()});
            if (ctx.account && !ctx.account->isOpen()) {
                out.stopped = true;
                break;
            }
        }
    }
    return out;
}

QString errorProbeSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name='") + code
           + QStringLiteral("') select b.name from tempdb..sysobjects as a left join tempdb..syscolumns as b on "
                            "a.id=b.id where b.name='Error' and a.name='")
           + code + QStringLiteral("' else select '' as name");
}

QString countSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name='") + code
           + QStringLiteral("') select count(*) as number from tempdb..") + code
           + QStringLiteral(" else select 0 as number");
}

Summary BuildSummary(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx)
{
    Summary s;
    for (const TreeItemRef &node : nodes) {
        if (!node.checked)
            continue;
        const QString &code = node.key;
        try {
            if (!isRunnableItem(treeName, code, ctx.catalog))
                continue;
            const QVariant probe = QueryValue(QStringLiteral("name"), errorProbeSql(code), ctx.account);
            SummaryRow row{code, node.text, {}, false, 0};
            if (probe.toString().isEmpty()) {
                const QVariant n = QueryValue(QStringLiteral("number"), countSql(code), ctx.account);
                row.isCount = true;
                row.count = n.toLongLong();
                row.finding = QStringLiteral("记录数：") + n.toString().trimmed();
            } else {
                const QVariant e = QueryValue(QStringLiteral("Error"), QStringLiteral("select top 1 Error from tempdb..") + code,
                                              ctx.account);
                row.finding = e.isNull() ? QString() : e.toString();
            }
            s.rows.push_back(std::move(row));
        } catch (const db::DbError &e) {
            s.error = QStringLiteral("%1（%2）：%3").arg(code, node.text, e.message());
            break;
        }
    }
    return s;
}

} // namespace vireo
