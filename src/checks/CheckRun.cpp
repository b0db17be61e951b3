#include "CheckRun.h"
#include "FileHelpers.h"
#include "QueryHelpers.h"
#include "ScriptRunner.h"
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>

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
        // Only blanks are trimmed, as the item-file line reader does.
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

const QString kLockWaitText = QStringLiteral("另一个体检正在该服务器上运行，等待中…");
const QString kScriptErrorPrefix = QStringLiteral("检查脚本执行出错：");
const QString kProcedureNotRun = QStringLiteral("存储过程尚未执行，请在参数窗口中输入参数后执行");

namespace {
// One lock for every tool on the server: the staging table tempdb..VUZ is one for all items.
const QString kLockResource = QStringLiteral("Vireo数据体检:tempdb..VUZ");
const int kLockSliceMs = 250;

int requestLock(db::Connection *conn, int timeoutMs)
{
    // Whoever takes the lock starts without a staging table: what an earlier holder left in
    // tempdb..VUZ is not theirs.
    const QVariant r = QueryValue(QStringLiteral("r"),
                                  QStringLiteral("set nocount on declare @r int exec @r = tempdb..sp_getapplock @Resource = ")
                                      + sqlText(kLockResource)
                                      + QStringLiteral(", @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = ")
                                      + QString::number(timeoutMs) + QStringLiteral(" if @r >= 0 ") + dropStagingSql()
                                      + QStringLiteral(" select @r as r"),
                                  conn);
    bool ok = false;
    const int status = r.toInt(&ok);
    return ok ? status : -999;
}
} // namespace

LockAbandoned::LockAbandoned() : db::DbError(QStringLiteral("已放弃等待：另一个体检正在该服务器上运行")) {}

ServerLock::ServerLock(db::Connection *conn, const Waiting &waiting) : m_conn(conn)
{
    if (!conn)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    // Waits in short slices, so that the wait can be given up between them.
    int status = requestLock(conn, kLockSliceMs);
    while (status == -1) {
        if (waiting && !waiting())
            throw LockAbandoned();
        status = requestLock(conn, kLockSliceMs);
    }
    if (status < 0)
        throw db::DbError(QStringLiteral("无法取得服务器上的检查锁（sp_getapplock 返回 %1）").arg(status));
}

ServerLock::~ServerLock()
{
    // A stopped run still lets go of the lock: the cancel is set aside for this one statement.
    const bool cancelled = m_conn->cancelRequested();
    try {
        if (m_conn->isOpen()) {
            if (cancelled)
                m_conn->resetCancel();
            m_conn->execute(QStringLiteral("exec tempdb..sp_releaseapplock @Resource = ") + sqlText(kLockResource)
                            + QStringLiteral(", @LockOwner = 'Session'"));
        }
    } catch (const db::DbError &) {
        // A session that is gone has released its lock with it.
    }
    if (cancelled)
        m_conn->cancel();
}

QString sqlIdentifier(const QString &name)
{
    return QLatin1Char('[') + QString(name).replace(QLatin1Char(']'), QLatin1String("]]")) + QLatin1Char(']');
}

QString sqlText(const QString &text)
{
    return QStringLiteral("N'") + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

QString invalidCodeReason(const QString &code)
{
    if (code.isEmpty())
        return QStringLiteral("编码为空，不能用作结果表名");
    if (code.size() > 116)
        return QStringLiteral("编码超过 116 个字符，不能用作结果表名");
    for (const QChar c : code)
        if (c.category() == QChar::Other_Control)
            return QStringLiteral("编码含有控制字符，不能用作结果表名");
    return {};
}

namespace {
QString ifResultExists(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name=") + sqlText(code) + QStringLiteral(") ");
}
} // namespace

QString dropStagingSql()
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ");
}

QString dropResultSql(const QString &code)
{
    return ifResultExists(code) + QStringLiteral("drop table tempdb..") + sqlIdentifier(code);
}

QString copyResultSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name='VUZ') select * into tempdb..")
           + sqlIdentifier(code) + QStringLiteral(" from tempdb..VUZ");
}

QString errorResultSql(const QString &code, const QString &message)
{
    const QString table = QStringLiteral("tempdb..") + sqlIdentifier(code);
    return QStringLiteral("create table ") + table + QStringLiteral(" (Error nvarchar(4000)) insert into ") + table
           + QStringLiteral(" (Error) values (") + sqlText(message.left(4000)) + QLatin1Char(')');
}

QString runItemCheck(const QString &code, const QString &itemFolder, db::Connection *account)
{
    if (!account)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    // The ServerLock the caller holds began by dropping a leftover staging table, so a script
    // that writes none cannot inherit an earlier item's.
    const QString result = RunSqlFile(kScript, itemFolder, account);
    if (!account->isOpen())
        throw db::DbError(result.isEmpty() ? QStringLiteral("账套数据库连接已断开") : result);
    account->execute(dropResultSql(code) + QStringLiteral("\r\n")
                     + (result.isEmpty() ? copyResultSql(code) : errorResultSql(code, kScriptErrorPrefix + result)));
    return result;
}

RunOutcome RunChecks(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                     const ProcedureHandOff &handOff, const RunProgress &progress, const ServerLock::Waiting &waiting,
                     const ItemChecked &checked)
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
            const QString invalid = invalidCodeReason(node.key);
            if (!invalid.isEmpty()) {
                out.problems.push_back({node.key, node.text, invalid});
                continue;
            }
            const QString folder = ctx.programFolder + QStringLiteral("/File/") + node.key;
            const QString script = folder + QLatin1Char('/') + kScript;
            // A normal file only: a folder of that name does not count.
            const QString found = resolvePath(script);
            if (!QFileInfo(found).isFile()) {
                out.notRun.push_back({node.key, node.text, QStringLiteral("缺少 检查.SQL")});
                continue;
            }
            if (!QFileInfo(found).isReadable()) {
                out.notRun.push_back({node.key, node.text, QStringLiteral("无法读取 检查.SQL")});
                continue;
            }
            if (progress)
                progress(node, i + 1, count);
            const ServerLock lock(ctx.account, waiting);
            QElapsedTimer clock;
            clock.start();
            ++out.itemsRun;
            const QString scriptResult = runItemCheck(node.key, folder, ctx.account);
            if (!scriptResult.isEmpty())
                out.scriptFailures.push_back({node.key, node.text, scriptResult});
            // A script that failed may not have created its procedure: it is not handed on.
            const bool procedure = !GetProcedureName(script).isEmpty();
            if (procedure && scriptResult.isEmpty() && handOff)
                handOff(node.key, treeName);
            SummaryRow row = readSummaryRow(node, ctx.account);
            row.procedure = procedure;
            if (procedure && scriptResult.isEmpty())
                row.notChecked = kProcedureNotRun;
            if (checked)
                checked(row);
            row.elapsedMs = double(clock.nsecsElapsed()) / 1e6;
            out.rows.push_back(std::move(row));
        } catch (const LockAbandoned &e) {
            out.problems.push_back({node.key, node.text, e.message()});
            out.abandoned = true;
            break;
        } catch (const db::DbError &e) {
            if (ctx.account && ctx.account->cancelRequested()) {
                out.cancelled = true;
                out.cancelledAt = node;
                break;
            }
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
    return ifResultExists(code)
           + QStringLiteral("select b.name from tempdb..sysobjects as a left join tempdb..syscolumns as b on "
                            "a.id=b.id where b.name='Error' and a.name=")
           + sqlText(code) + QStringLiteral(" else select '' as name");
}

QString countSql(const QString &code)
{
    return ifResultExists(code) + QStringLiteral("select count(*) as number from tempdb..") + sqlIdentifier(code)
           + QStringLiteral(" else select 0 as number");
}

SummaryRow readSummaryRow(const TreeItemRef &node, db::Connection *account)
{
    const QString &code = node.key;
    SummaryRow row;
    row.code = code;
    row.name = node.text;
    // The Error column test and the row count in one round trip.
    const db::Recordset rs = account->query(
        ifResultExists(code)
            + QStringLiteral("select (select count(*) from tempdb..sysobjects as a join tempdb..syscolumns as b on "
                             "a.id=b.id where b.name='Error' and a.name=")
            + sqlText(code) + QStringLiteral(") as hasError, (select count(*) from tempdb..") + sqlIdentifier(code)
            + QStringLiteral(") as number else select 0 as hasError, 0 as number"),
        1);
    if (rs.rowCount() != 1 || rs.columnCount() != 2)
        throw db::DbError(QStringLiteral("读取 %1 的结果表失败").arg(code));
    if (rs.integer(0, 0) == 0) {
        row.isCount = true;
        row.count = rs.integer(0, 1);
        row.finding = QStringLiteral("记录数：") + QString::number(row.count);
    } else {
        const QVariant e = QueryValue(QStringLiteral("Error"),
                                      QStringLiteral("select top 1 Error from tempdb..") + sqlIdentifier(code), account);
        row.finding = e.isNull() ? QString() : e.toString();
    }
    return row;
}

Summary BuildSummary(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                     const RunOutcome *run)
{
    const auto find = [](const auto &list, const QString &code) {
        return std::find_if(list.begin(), list.end(), [&](const auto &x) { return x.code == code; });
    };
    Summary s;
    // The item at which the run stopped or was given up; the items after it were not reached.
    const bool cutShort = run && (run->stopped || run->abandoned) && !run->problems.empty();
    const QString stopCode = cutShort ? run->problems.back().code : QString();
    bool cut = false;
    for (const TreeItemRef &node : nodes) {
        if (!node.checked)
            continue;
        const QString &code = node.key;
        try {
            if (!isRunnableItem(treeName, code, ctx.catalog))
                continue;
            const QString invalid = invalidCodeReason(code);
            if (!invalid.isEmpty()) {
                s.rows.push_back(SummaryRow{code, node.text, {}, false, 0, invalid});
                continue;
            }
            if (run) {
                if (const auto r = find(run->rows, code); r != run->rows.end()) {
                    s.rows.push_back(*r);
                    continue;
                }
                if (const auto p = find(run->problems, code); p != run->problems.end()) {
                    s.rows.push_back(SummaryRow{code, node.text, {}, false, 0, p->message});
                    cut = cut || (cutShort && code == stopCode);
                    continue;
                }
                const auto n = find(run->notRun, code);
                if (cut || (run->stopped && n != run->notRun.end())) {
                    // Nothing is read from a connection that is gone.
                    const QString why = run->stopped ? QStringLiteral("账套数据库连接已断开") : QStringLiteral("已放弃等待");
                    s.rows.push_back(SummaryRow{code, node.text, {}, false, 0, cut ? why : n->message});
                    continue;
                }
            }
            SummaryRow row = readSummaryRow(node, ctx.account);
            if (run) {
                if (const auto n = find(run->notRun, code); n != run->notRun.end()) {
                    row.notChecked = n->message;
                    row.staleResult = true;
                }
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
