#include "ItemActions.h"
#include "QueryHelpers.h"
#include "ScriptRunner.h"

namespace vireo {

namespace {
// The account connection as a repair script sees it: counts the batches that completed.
class BatchCounter : public db::Connection {
public:
    BatchCounter(db::Connection *c, int &done) : m_c(c), m_done(done) {}
    bool isOpen() const override { return m_c && m_c->isOpen(); }
    void execute(const QString &sql) override
    {
        m_c->execute(sql);
        ++m_done;
    }
    db::Recordset query(const QString &sql, qint64 maxRows) override { return m_c->query(sql, maxRows); }
    bool cancelRequested() const override { return m_c && m_c->cancelRequested(); }
    void cancel() override { m_c->cancel(); }
    void resetCancel() override { m_c->resetCancel(); }

private:
    db::Connection *m_c;
    int &m_done;
};

db::Connection *need(db::Connection *account)
{
    if (!account)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    return account;
}

// A check outside a run is a run of its own: a new run id, the server's own name read when unknown.
RunIdentity freshRun(const RunIdentity &run, db::Connection *account)
{
    RunIdentity fresh = run;
    fresh.runId = newRunId();
    fresh.started = QDateTime::currentDateTime();
    if (fresh.server.isEmpty())
        readServerIdentity(account, fresh);
    return fresh;
}
// One item's work under the server lock, timed by the item's clock; the item as the work left it.
template <class Work>
ItemOutcome timedUnderLock(db::Connection *account, const ServerLock::Waiting &waiting, const QString &code,
                           const QString &name, Work work)
{
    ItemOutcome item;
    item.code = code;
    item.name = name;
    {
        const ServerLock lock(need(account), waiting);
        const ItemClock clock(item);
        work(item);
    }
    return item;
}
} // namespace

QString reportRowsSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name=") + sqlText(code)
           + QStringLiteral(") select * from tempdb..") + sqlIdentifier(code) + QStringLiteral(" else select '' as 空");
}

FindingsRead readFindings(db::Connection *account, const ResultStamp &expected, const QString &code,
                          db::RowSink &sink)
{
    FindingsRead read;
    read.refused = resultOwnershipProblem(expected, readResultStamp(need(account), code));
    if (!read.refused.isEmpty())
        return read;
    account->queryInto(reportRowsSql(code), sink);
    read.count = QueryValue(QStringLiteral("number"), countSql(code), account).toLongLong();
    read.refused = resultOwnershipProblem(expected, readResultStamp(account, code));
    if (!read.refused.isEmpty()) {
        // What was read belongs to whoever overwrote the table meanwhile: none of it is kept.
        const std::unique_lock hold(*sink.lock);
        *sink.target = db::Recordset();
        read.count = 0;
    }
    return read;
}

ItemOutcome recheckItem(db::Connection *account, const RunIdentity &run, const QString &programFolder,
                        const QString &code, const QString &name, const ServerLock::Waiting &waiting,
                        const ItemHook &checked)
{
    return timedUnderLock(account, waiting, code, name, [&](ItemOutcome &item) {
        const QString folder = programFolder + QStringLiteral("/File/") + code;
        checkItem(account, freshRun(run, account), folder, item);
        item.procedure = !GetProcedureName(folder + QStringLiteral("/检查.SQL")).isEmpty();
        if (item.procedure && !item.scriptFailed) {
            item.state = ItemState::NotRun;
            item.reason = kProcedureNotRun;
        } else if (checked) {
            checked(item, account);
        }
    });
}

RepairResult repairItem(db::Connection *account, const ResultStamp &expected, const QString &code,
                        const QString &itemFolder, const ServerLock::Waiting &waiting)
{
    RepairResult r;
    const ServerLock lock(need(account), waiting);
    r.refused = resultOwnershipProblem(expected, readResultStamp(account, code));
    if (!r.refused.isEmpty())
        return r;
    BatchCounter counted(account, r.batchesDone);
    try {
        r.error = RunSqlFile(QStringLiteral("修复.sql"), itemFolder, &counted);
    } catch (const db::DbError &e) {
        r.error = e.message();
    }
    r.stopped = account->cancelRequested();
    r.finished = r.error.isEmpty() && !r.stopped;
    if (r.stopped)
        r.error = QStringLiteral("修复被中断，没有全部完成：修复脚本的前 %1 批语句已执行完毕，其余未执行。").arg(r.batchesDone);
    return r;
}

ItemOutcome runProcedureItem(db::Connection *account, const RunIdentity &run, const QString &code,
                             const QString &name, const QString &execSql, const ServerLock::Waiting &waiting,
                             const ItemHook &checked)
{
    return timedUnderLock(account, waiting, code, name, [&](ItemOutcome &item) {
        item.procedure = true;
        const RunIdentity fresh = freshRun(run, account);
        account->execute(execSql);
        finishItemResult(account, fresh, item, ResultSource::AsWritten);
        if (checked)
            checked(item, account);
    });
}

} // namespace vireo
