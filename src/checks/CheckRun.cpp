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
const QString kStoppedReason = QStringLiteral("本次检查已停止");
const QString kStampTable = QStringLiteral("VireoResult");

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

const QString kReleaseSql = QStringLiteral("exec tempdb..sp_releaseapplock @Resource = ") + sqlText(kLockResource)
                            + QStringLiteral(", @LockOwner = 'Session'");
} // namespace

LockAbandoned::LockAbandoned() : db::DbError(QStringLiteral("已放弃等待：另一个体检正在该服务器上运行")) {}

ServerLock::ServerLock(db::Connection *conn, const Waiting &waiting) : ServerLock(conn, Deferred{}, waiting)
{
    acquire();
}

ServerLock::ServerLock(db::Connection *conn, Deferred, Waiting waiting) : m_conn(conn), m_waiting(std::move(waiting))
{
    if (!conn)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
}

void ServerLock::acquire()
{
    if (m_held)
        return;
    if (m_unknown)
        reset();
    // Waits in short slices, so that the wait can be given up between them.
    int status = requestLock(m_conn, kLockSliceMs);
    while (status == -1) {
        if (m_waiting && !m_waiting())
            throw LockAbandoned();
        status = requestLock(m_conn, kLockSliceMs);
    }
    if (status < 0)
        throw db::DbError(QStringLiteral("无法取得服务器上的检查锁（sp_getapplock 返回 %1）").arg(status));
    m_held = true;
}

QString ServerLock::handOverSql(bool another, const QString &condition) const
{
    QString sql = QStringLiteral("declare @handover int\r\n");
    sql += condition.isEmpty() ? QStringLiteral("begin\r\n") : QStringLiteral("if ") + condition + QStringLiteral("\r\nbegin\r\n");
    sql += kReleaseSql + QStringLiteral("\r\n");
    if (another)
        sql += QStringLiteral("exec @handover = tempdb..sp_getapplock @Resource = ") + sqlText(kLockResource)
               + QStringLiteral(", @LockMode = 'Exclusive', @LockOwner = 'Session', @LockTimeout = 0\r\nif @handover >= 0 ")
               + dropStagingSql() + QStringLiteral("\r\n");
    else
        sql += QStringLiteral("set @handover = -100\r\n");
    return sql + QStringLiteral("end\r\nselect @handover as handover");
}

bool ServerLock::handedOver(const std::optional<db::Recordset> &result)
{
    if (!result || result->rowCount() != 1) {
        m_unknown = true;
        m_held = false;
        return true;
    }
    if (result->value(0, 0).isNull())
        return false;   // not released: still held for this item
    m_held = result->integer(0, 0) >= 0;
    return true;
}

void ServerLock::handOver(bool another)
{
    if (!m_held)
        return;
    m_held = false;
    try {
        const std::vector<db::Recordset> sets = m_conn->queryAll(QStringLiteral("set nocount on\r\n") + handOverSql(another));
        handedOver(sets.empty() ? std::nullopt : std::optional<db::Recordset>(sets.back()));
    } catch (const db::DbError &) {
        m_unknown = true;
        throw;
    }
}

void ServerLock::release()
{
    // A stopped run still lets go of the lock: the cancel is set aside for this one statement.
    const bool cancelled = m_conn->cancelRequested();
    try {
        if (m_conn->isOpen()) {
            if (cancelled)
                m_conn->resetCancel();
            m_conn->execute(kReleaseSql);
        }
    } catch (const db::DbError &) {
        // A session that is gone has released its lock with it; one that did not hold it is told so.
    }
    if (cancelled)
        m_conn->cancel();
    m_held = false;
    m_unknown = false;
}

void ServerLock::reset()
{
    if (m_held || m_unknown)
        release();
}

ServerLock::~ServerLock()
{
    reset();
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

namespace {
QString stampTableExists()
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name=") + sqlText(kStampTable)
           + QStringLiteral(") ");
}

// The closing batch's first result set (hasError, number, checkedAt) and, when the result table
// has an Error column, the set with its first Error text.
void readCountAndError(const std::vector<db::Recordset> &sets, ItemOutcome &item)
{
    const db::Recordset &rs = sets.front();
    if (rs.rowCount() != 1 || rs.columnCount() < 2)
        throw db::DbError(QStringLiteral("读取 %1 的结果表失败").arg(item.code));
    item.count = rs.integer(0, 1);
    if (rs.integer(0, 0) == 0) {
        item.state = ItemState::Checked;
        item.errorText.clear();
        return;
    }
    // A result table with an Error column reports why the check could not be made.
    item.state = ItemState::Error;
    const db::Recordset *error = sets.size() > 1 && sets[1].columnCount() == 1 ? &sets[1] : nullptr;
    item.errorText = error && error->rowCount() > 0 && !error->value(0, 0).isNull() ? error->value(0, 0).toString() : QString();
}
} // namespace

void readServerIdentity(db::Connection *account, RunIdentity &identity)
{
    const db::Recordset rs = account->query(QStringLiteral("select @@servername as s, db_name() as d"), 1);
    const QString name = rs.rowCount() == 1 && !rs.value(0, 0).isNull() ? rs.value(0, 0).toString().trimmed() : QString();
    identity.server = name.isEmpty() ? identity.address : name;
    if (identity.database.isEmpty() && rs.rowCount() == 1)
        identity.database = rs.value(0, 1).toString();
}

ResultStamp readResultStamp(db::Connection *account, const QString &code)
{
    if (!account)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    const db::Recordset rs = account->query(
        stampTableExists()
            + QStringLiteral("select server_name, database_name, run_id, checked_at from tempdb..") + kStampTable
            + QStringLiteral(" where code=") + sqlText(code),
        1);
    ResultStamp stamp;
    if (rs.rowCount() == 1 && rs.columnCount() == 4) {
        stamp.server = rs.value(0, 0).toString();
        stamp.database = rs.value(0, 1).toString();
        stamp.runId = rs.value(0, 2).toString();
        stamp.checkedAt = rs.value(0, 3).toDateTime();
    }
    return stamp;
}

std::optional<db::Recordset> finishItemResult(db::Connection *account, const RunIdentity &run, ItemOutcome &item,
                                              ResultSource source, const QString &scriptError, const QString &lockTail)
{
    const QString &code = item.code;
    const QString table = QStringLiteral("tempdb..") + sqlIdentifier(code);
    const QString stamps = QStringLiteral("tempdb..") + kStampTable;
    QString sql = QStringLiteral("set nocount on\r\n"
                                 "declare @at datetime, @hasError int, @number int\r\n"
                                 "if not exists (select * from tempdb..sysobjects where name=")
                  + sqlText(kStampTable) + QStringLiteral(") create table ") + stamps
                  + QStringLiteral(" (code nvarchar(128) not null primary key, server_name nvarchar(128) null, "
                                   "database_name nvarchar(128) null, run_id varchar(64) null, checked_at datetime null)\r\n"
                                   "delete from ")
                  + stamps + QStringLiteral(" where code=") + sqlText(code) + QStringLiteral("\r\n");
    if (source == ResultSource::Staging)
        sql += dropResultSql(code) + QStringLiteral("\r\n")
               + (scriptError.isEmpty() ? copyResultSql(code) : errorResultSql(code, kScriptErrorPrefix + scriptError))
               + QStringLiteral("\r\n");
    sql += QStringLiteral("set @at = getdate()\r\ninsert into ") + stamps
           + QStringLiteral(" (code, server_name, database_name, run_id, checked_at) values (") + sqlText(code)
           + QStringLiteral(", ") + sqlText(run.server) + QStringLiteral(", ") + sqlText(run.database)
           + QStringLiteral(", ") + sqlText(run.runId) + QStringLiteral(", @at)\r\n")
           + QStringLiteral("set @hasError = (select count(*) from tempdb..sysobjects as a join tempdb..syscolumns as b on "
                            "a.id=b.id where b.name='Error' and a.name=")
           + sqlText(code) + QStringLiteral(")\r\n") + ifResultExists(code) + QStringLiteral("select @number = count(*) from ")
           + table + QStringLiteral(" else set @number = 0\r\nselect @hasError as hasError, @number as number, @at as checkedAt\r\n")
           // The Error column is named in a batch of its own: an older table of that name without
           // it must not stop this batch from compiling.
           + QStringLiteral("if @hasError > 0 exec (")
           + sqlText(QStringLiteral("select top 1 Error from ") + table) + QStringLiteral(")\r\n") + lockTail;
    const std::vector<db::Recordset> sets = account->queryAll(sql);
    if (sets.empty())
        throw db::DbError(QStringLiteral("读取 %1 的结果表失败").arg(code));
    readCountAndError(sets, item);
    item.result = ResultStamp{run.server, run.database, run.runId, sets.front().value(0, 2).toDateTime()};
    if (!scriptError.isEmpty()) {
        item.state = ItemState::Error;
        item.scriptFailed = true;
        item.errorText = kScriptErrorPrefix + scriptError;
    }
    if (lockTail.isEmpty() || sets.size() < 2)
        return std::nullopt;
    return sets.back();
}

QString runCheckScript(const QString &itemFolder, db::Connection *account)
{
    if (!account)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    // The ServerLock the caller holds began by dropping a leftover staging table, so a script
    // that writes none cannot inherit an earlier item's.
    const QString result = RunSqlFile(kScript, itemFolder, account);
    if (!account->isOpen())
        throw db::DbError(result.isEmpty() ? QStringLiteral("账套数据库连接已断开") : result);
    if (!result.isEmpty() && account->cancelRequested())
        throw db::DbError(result);
    return result;
}

void checkItem(db::Connection *account, const RunIdentity &run, const QString &itemFolder, ItemOutcome &item)
{
    const QString scriptError = runCheckScript(itemFolder, account);
    finishItemResult(account, run, item, ResultSource::Staging, scriptError);
}

ItemClock::ItemClock(ItemOutcome &item) : m_item(item)
{
    m_clock.start();
    m_item.started = QDateTime::currentDateTime();
}

ItemClock::~ItemClock()
{
    m_item.elapsedMs = double(m_clock.nsecsElapsed()) / 1e6;
    m_item.ended = QDateTime::currentDateTime();
}

CheckRunRecord RunChecks(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                         RunIdentity identity, const RunHooks &hooks)
{
    CheckRunRecord run;
    if (identity.runId.isEmpty())
        identity.runId = newRunId();
    identity.started = QDateTime::currentDateTime();
    run.identity = identity;
    const int count = int(nodes.size());
    // Every ticked runnable item gets its outcome, in tree order, before anything runs.
    std::vector<int> positions;
    for (int i = 0; i < count; ++i) {
        const TreeItemRef &node = nodes[size_t(i)];
        if (!node.checked)
            continue;
        try {
            if (!isRunnableItem(treeName, node.key, ctx.catalog))
                continue;
        } catch (const db::DbError &e) {
            run.end = RunEnd::ConnectionLost;
            run.endText = e.message();
            break;
        }
        ItemOutcome item;
        item.code = node.key;
        item.name = node.text;
        item.reason = QStringLiteral("未执行");
        run.items.push_back(std::move(item));
        positions.push_back(i);
    }
    const auto finish = [&] {
        run.identity.ended = QDateTime::currentDateTime();
        return run;
    };
    if (run.end != RunEnd::Completed)
        return finish();
    try {
        // The window knows the server's name from the login: one round trip less per run.
        if (ctx.account && (run.identity.server.isEmpty() || run.identity.database.isEmpty()))
            readServerIdentity(ctx.account, run.identity);
    } catch (const db::DbError &e) {
        if (ctx.account->cancelRequested()) {
            run.end = RunEnd::Cancelled;
            run.endText = kStoppedReason;
        }
        // Otherwise the first item meets the same trouble and reports it as its own.
    }
    if (run.identity.server.isEmpty())
        run.identity.server = run.identity.address;
    // Why an item cannot run at all (its code, its script); empty when it can.
    const auto cannotRun = [&](const ItemOutcome &item, bool *invalidCode) {
        QString why = invalidCodeReason(item.code);
        *invalidCode = !why.isEmpty();
        if (why.isEmpty()) {
            // A normal file only: a folder of that name does not count.
            const QString found = resolvePath(ctx.programFolder + QStringLiteral("/File/") + item.code + QLatin1Char('/') + kScript);
            if (!QFileInfo(found).isFile() || !QFileInfo(found).isReadable())
                why = QFileInfo(found).isFile() ? QStringLiteral("无法读取 检查.SQL") : QStringLiteral("缺少 检查.SQL");
        }
        return why;
    };
    std::optional<ServerLock> lock;
    if (ctx.account)
        lock.emplace(ctx.account, ServerLock::Deferred{}, hooks.waiting);
    size_t next = 0;
    for (; next < run.items.size() && run.end == RunEnd::Completed; ++next) {
        ItemOutcome &item = run.items[next];
        const TreeItemRef &node = nodes[size_t(positions[next])];
        bool invalidCode = false;
        const QString why = cannotRun(item, &invalidCode);
        if (invalidCode) {
            item.state = ItemState::Error;
            item.errorText = why;
            continue;
        }
        if (!why.isEmpty()) {
            item.reason = why;
            continue;
        }
        const QString folder = ctx.programFolder + QStringLiteral("/File/") + item.code;
        const QString script = folder + QLatin1Char('/') + kScript;
        if (hooks.progress)
            hooks.progress(node, positions[next] + 1, count);
        try {
            if (!lock)
                throw db::DbError(QStringLiteral("没有打开的数据库连接"));
            lock->acquire();
            const ItemClock clock(item);
            item.reason.clear();
            item.procedure = !GetProcedureName(script).isEmpty();
            const QString scriptError = runCheckScript(folder, ctx.account);
            bool another = false;
            for (size_t j = next + 1; j < run.items.size() && !another; ++j)
                another = cannotRun(run.items[j], &invalidCode).isEmpty();
            // The closing batch hands the lock on unless the item still needs it: a procedure to
            // run, or findings for the hooks to read.
            QString tail;
            if (!item.procedure || !scriptError.isEmpty())
                tail = lock->handOverSql(another, hooks.checked ? QStringLiteral("@number = 0 or @hasError > 0") : QString());
            const auto handover = finishItemResult(ctx.account, run.identity, item, ResultSource::Staging, scriptError, tail);
            if (tail.isEmpty() || !lock->handedOver(handover)) {
                // A script that failed may not have created its procedure: it is not handed on.
                if (item.procedure && !item.scriptFailed) {
                    item.state = ItemState::NotRun;
                    item.reason = kProcedureNotRun;
                    if (hooks.procedure && hooks.procedure(item, ctx.account)) {
                        item.reason.clear();
                        finishItemResult(ctx.account, run.identity, item, ResultSource::AsWritten);
                    }
                }
                if (hooks.checked && item.hasFindings())
                    hooks.checked(item, ctx.account);
                lock->handOver(another);
            }
        } catch (const LockAbandoned &e) {
            item.state = ItemState::NotRun;
            item.reason = e.message();
            run.end = RunEnd::LockAbandoned;
            run.endText = e.message();
        } catch (const db::DbError &e) {
            // Whatever the state of the lock, the next item starts without it.
            if (lock)
                lock->reset();
            if (ctx.account && ctx.account->cancelRequested()) {
                item.state = ItemState::Cancelled;
                item.reason = kStoppedReason;
                item.result = {};
                const bool goOn = hooks.cancelled && hooks.cancelled(item);
                if (goOn && ctx.account->isOpen()) {
                    ctx.account->resetCancel();
                    continue;
                }
                run.end = ctx.account->isOpen() ? RunEnd::Cancelled : RunEnd::ConnectionLost;
                run.endText = item.reason;
                continue;
            }
            item.state = ItemState::Error;
            item.errorText = e.message();
            item.result = {};
            if (ctx.account && !ctx.account->isOpen()) {
                run.end = RunEnd::ConnectionLost;
                run.endText = e.message();
            }
        }
    }
    lock.reset();
    // Items the run did not reach are not checked in it.
    static const QString notReached[] = {QString(), QStringLiteral("检查已停止，本项目未执行"),
                                         QStringLiteral("账套数据库连接已断开，本项目未执行"),
                                         QStringLiteral("已放弃等待，本项目未执行")};
    for (; next < run.items.size(); ++next) {
        ItemOutcome &item = run.items[next];
        item.state = ItemState::NotRun;
        item.reason = notReached[int(run.end)];
    }
    return finish();
}

QString countSql(const QString &code)
{
    return ifResultExists(code) + QStringLiteral("select count(*) as number from tempdb..") + sqlIdentifier(code)
           + QStringLiteral(" else select 0 as number");
}

} // namespace vireo
