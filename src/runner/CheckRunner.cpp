#include "CheckRunner.h"
#include "CatalogueImport.h"
#include "CatalogueTree.h"
#include "Export.h"
#include "FileHelpers.h"
#include "OdbcConnection.h"
#include "ParameterLines.h"
#include "QueryHelpers.h"
#include "RunHistory.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <atomic>
#include <mutex>

namespace vireo::runner {

bool AccountResult::hasFindings() const
{
    for (const ItemResult &i : items)
        if ((i.isCount && i.count > 0) || (!i.isCount && !i.finding.isEmpty()))
            return true;
    return false;
}

bool AccountResult::hasErrors() const
{
    if (!error.isEmpty())
        return true;
    for (const ItemResult &i : items)
        if (!i.problem.isEmpty())
            return true;
    return false;
}

QString validateParameters(const QString &scriptPath, const QStringList &values)
{
    const ParameterScript script = readParameterLines(scriptPath);
    const int expected = script.parameters.isEmpty() ? 1 : int(script.parameters.size());
    if (values.size() != expected)
        return QStringLiteral("需要 %1 个参数值，给了 %2 个").arg(expected).arg(values.size());
    for (int i = 0; i < script.parameters.size(); ++i) {
        const ParameterLine &p = script.parameters[i];
        const QString &v = values[i];
        if (p.required && v.isEmpty())
            return QStringLiteral("参数“%1”不允许为空").arg(p.caption);
        if (isNumericType(p.typeText)) {
            for (const QChar c : v)
                if (!c.isDigit())
                    return QStringLiteral("参数“%1”只能是数字：%2").arg(p.caption, v);
        }
    }
    return {};
}

namespace {

QString reportSelectSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name='") + code
           + QStringLiteral("') select * from tempdb..") + code + QStringLiteral(" else select '' as 空");
}

// One worker's catalogue copy, opened on first use in that worker's thread.
struct Worker {
    std::unique_ptr<db::SqliteConnection> catalog;
};

using ItemProblems = std::vector<std::pair<QString, QString>>;

class AccountJob {
public:
    AccountJob(const Options &o, const QString &password, std::mutex *serverLock, Worker &worker)
        : o(o), password(password), serverLock(serverLock), worker(worker)
    {
    }

    AccountResult run(const QString &account, const QString &year)
    {
        AccountResult r;
        r.account = account;
        r.year = year;
        r.database = QStringLiteral("QZdata_") + account + QStringLiteral("_") + year;
        QElapsedTimer clock;
        clock.start();
        r.started = QDateTime::currentDateTime();
        try {
            if (!worker.catalog) {
                const QString path = o.programFolder + QStringLiteral("/VUZ.mdb");
                const QString found = resolvePath(path);
                worker.catalog = openCatalogue(found.isEmpty() ? path : found, o.importerPath);
            }
            std::vector<TreeItemRef> nodes = loadCatalogueNodes(worker.catalog.get(), o.catalogue);
            select(nodes);
            conn = db::OdbcConnection::open(db::AccountParams{o.server, r.database, QStringLiteral("SA"), password});
            ctx = CheckContext{o.programFolder, worker.catalog.get(), conn.get()};
            if (serverLock)
                runItemByItem(nodes, r);
            else
                runInWindowOrder(nodes, r);
        } catch (const db::DbError &e) {
            r.error = e.message();
        }
        r.elapsedMs = double(clock.nsecsElapsed()) / 1e6;
        r.ended = QDateTime::currentDateTime();
        if (r.error.isEmpty())
            recordHistory(o, r);
        return r;
    }

private:
    void select(std::vector<TreeItemRef> &nodes) const
    {
        if (o.selection == Selection::Ticked)
            return;
        for (TreeItemRef &n : nodes)
            n.checked = o.selection == Selection::All || o.items.contains(n.key, Qt::CaseInsensitive);
    }

    // Runs the stored procedure of an item with the values given for it, or says why not.
    void handOff(const QString &key, std::vector<std::pair<QString, QString>> &skipped, ItemProblems &problems)
    {
        const QString script = o.programFolder + QStringLiteral("/File/") + key + QStringLiteral("/检查.SQL");
        if (!o.params.contains(key)) {
            skipped.emplace_back(key, QStringLiteral("存储过程未执行：没有用 --param %1:值 给出参数").arg(key));
            return;
        }
        const QStringList values = o.params.value(key);
        const QString why = validateParameters(script, values);
        if (!why.isEmpty()) {
            skipped.emplace_back(key, QStringLiteral("存储过程未执行：") + why);
            return;
        }
        try {
            conn->execute(buildExecStatement(key, values));
        } catch (const db::DbError &e) {
            problems.emplace_back(key, e.message());
        }
    }

    void collect(const RunOutcome &out, const Summary &s,
                 const std::vector<std::pair<QString, QString>> &skipped, const ItemProblems &procProblems,
                 AccountResult &r, double elapsedMs)
    {
        for (const SummaryRow &row : s.rows) {
            ItemResult it;
            it.code = row.code;
            it.name = row.name;
            it.finding = row.finding;
            it.isCount = row.isCount;
            it.count = row.count;
            it.elapsedMs = elapsedMs;
            for (const auto &p : out.scriptFailures)
                if (p.code == row.code)
                    it.problem = QStringLiteral("检查脚本中止：") + p.message;
            for (const auto &p : out.problems)
                if (p.code == row.code)
                    it.problem = p.message;
            for (const auto &p : procProblems)
                if (p.first == row.code)
                    it.problem = p.second;
            for (const auto &p : skipped)
                if (p.first == row.code)
                    it.skipped = p.second;
            if (!o.exportDir.isEmpty() && it.isCount && it.count > 0)
                exportItem(r.database, it);
            captureFindings(o, conn.get(), it);
            r.items.push_back(std::move(it));
        }
        for (const auto &p : out.problems) {
            const bool listed = std::any_of(r.items.begin(), r.items.end(), [&](const ItemResult &i) { return i.code == p.code; });
            if (!listed)
                r.items.push_back(ItemResult{p.code, p.name, {}, false, 0, p.message, {}, {}, elapsedMs, {}, {}});
        }
        if (!s.error.isEmpty())
            r.error = s.error;
    }

    void exportItem(const QString &database, ItemResult &it)
    {
        try {
            const db::Recordset rs = conn->query(reportSelectSql(it.code));
            const QString folder = o.exportDir + QLatin1Char('/') + database;
            QDir().mkpath(folder);
            const QString path = folder + QLatin1Char('/') + it.code + QStringLiteral(".xlsx");
            const QString err = exportRecordset(rs, path, {});
            if (err.isEmpty())
                it.exportFile = path;
            else
                it.problem = err;
        } catch (const db::DbError &e) {
            it.problem = e.message();
        }
    }

    // One account alone on its server: the window's order — run every item, then the summary.
    void runInWindowOrder(const std::vector<TreeItemRef> &nodes, AccountResult &r)
    {
        QElapsedTimer t;
        t.start();
        std::vector<std::pair<QString, QString>> skipped;
        ItemProblems procProblems;
        const RunOutcome out = RunChecks(nodes, o.catalogue, ctx, [&](const QString &key, const QString &) {
            handOff(key, skipped, procProblems);
        });
        const Summary s = BuildSummary(nodes, o.catalogue, ctx);
        collect(out, s, skipped, procProblems, r, double(t.nsecsElapsed()) / 1e6);
    }

    // Several accounts on one server share tempdb..VUZ and tempdb..{code}: each item's check, its
    // summary and its export run while no other account touches tempdb.
    void runItemByItem(const std::vector<TreeItemRef> &nodes, AccountResult &r)
    {
        for (const TreeItemRef &n : nodes) {
            if (!n.checked)
                continue;
            QElapsedTimer t;
            t.start();
            std::vector<TreeItemRef> one{n};
            std::vector<std::pair<QString, QString>> skipped;
            ItemProblems procProblems;
            std::lock_guard<std::mutex> hold(*serverLock);
            const RunOutcome out = RunChecks(one, o.catalogue, ctx, [&](const QString &key, const QString &) {
                handOff(key, skipped, procProblems);
            });
            const Summary s = BuildSummary(one, o.catalogue, ctx);
            collect(out, s, skipped, procProblems, r, double(t.nsecsElapsed()) / 1e6);
            if (out.stopped || !r.error.isEmpty())
                break;
        }
    }

    const Options &o;
    const QString &password;
    std::mutex *serverLock;
    Worker &worker;
    std::unique_ptr<db::OdbcConnection> conn;
    CheckContext ctx;
};

} // namespace

std::vector<AccountResult> runAll(const Options &options, const QString &password,
                                  const std::function<void(const QString &)> &progress)
{
    std::vector<std::pair<QString, QString>> targets;
    for (const QString &y : options.years)
        for (const QString &a : options.accounts)
            targets.emplace_back(a, y);
    std::vector<AccountResult> results(targets.size());
    const int jobs = std::max(1, std::min<int>(options.jobs, int(targets.size())));
    std::mutex serverLock, progressLock;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};

    auto work = [&] {
        Worker worker;
        for (size_t i = next++; i < targets.size(); i = next++) {
            AccountJob job(options, password, jobs > 1 ? &serverLock : nullptr, worker);
            results[i] = job.run(targets[i].first, targets[i].second);
            if (progress) {
                std::lock_guard<std::mutex> hold(progressLock);
                const AccountResult &r = results[i];
                progress(QStringLiteral("[%1/%2] %3 %4").arg(++done).arg(targets.size()).arg(r.database,
                             r.error.isEmpty() ? QStringLiteral("完成") : QStringLiteral("失败：") + r.error));
            }
        }
    };
    if (jobs == 1) {
        work();
    } else {
        std::vector<QThread *> threads;
        for (int j = 0; j < jobs; ++j) {
            threads.push_back(QThread::create(work));
            threads.back()->start();
        }
        for (QThread *t : threads) {
            t->wait();
            delete t;
        }
    }
    return results;
}

namespace {
// Messages with several lines (driver diagnostics) are printed on one.
QString oneLine(const QString &s)
{
    QString t = s;
    t.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return t;
}

QString csvField(const QString &raw)
{
    const QString s = oneLine(raw);
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n'))
        && !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}
} // namespace

QString formatTable(const std::vector<AccountResult> &results)
{
    QString out;
    for (const AccountResult &r : results) {
        out += QStringLiteral("== %1\n").arg(r.database);
        if (!r.error.isEmpty())
            out += QStringLiteral("   错误：%1\n").arg(oneLine(r.error));
        if (!r.historyError.isEmpty())
            out += QStringLiteral("   %1\n").arg(oneLine(r.historyError));
        for (const ItemResult &i : r.items) {
            out += QStringLiteral("%1\t%2\t%3").arg(i.code, i.name, i.finding);
            if (!i.problem.isEmpty())
                out += QStringLiteral("\t错误：") + oneLine(i.problem);
            if (!i.skipped.isEmpty())
                out += QStringLiteral("\t") + i.skipped;
            if (r.compared && i.change.kind != history::ItemChange::NotChecked)
                out += QStringLiteral("\t与上次比较：") + i.change.text();
            out += QLatin1Char('\n');
        }
    }
    return out;
}

QString formatCsv(const std::vector<AccountResult> &results)
{
    const bool compared = std::any_of(results.begin(), results.end(), [](const AccountResult &r) { return r.compared; });
    QString out = QStringLiteral("database,code,name,finding,count,error,skipped,elapsed_ms");
    out += compared ? QStringLiteral(",previous_count,new,resolved\n") : QStringLiteral("\n");
    for (const AccountResult &r : results) {
        if (!r.error.isEmpty())
            out += QStringLiteral("%1,,,,,%2,,%3").arg(csvField(r.database), csvField(r.error)).arg(r.elapsedMs, 0, 'f', 1)
                   + (compared ? QStringLiteral(",,,\n") : QStringLiteral("\n"));
        for (const ItemResult &i : r.items) {
            out += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8")
                       .arg(csvField(r.database), csvField(i.code), csvField(i.name), csvField(i.finding),
                            i.isCount ? QString::number(i.count) : QString(), csvField(i.problem), csvField(i.skipped))
                       .arg(i.elapsedMs, 0, 'f', 1);
            if (compared) {
                const bool c = i.change.kind == history::ItemChange::Compared;
                out += QStringLiteral(",%1,%2,%3")
                           .arg(c ? QString::number(i.change.previousCount) : QString(),
                                c ? QString::number(i.change.added) : QString(), c ? QString::number(i.change.resolved) : QString());
            }
            out += QLatin1Char('\n');
        }
    }
    return out;
}

QString formatJson(const std::vector<AccountResult> &results)
{
    QJsonArray accounts;
    for (const AccountResult &r : results) {
        QJsonObject a{{QStringLiteral("database"), r.database}, {QStringLiteral("account"), r.account},
                      {QStringLiteral("year"), r.year}, {QStringLiteral("elapsed_ms"), r.elapsedMs}};
        if (!r.error.isEmpty())
            a.insert(QStringLiteral("error"), r.error);
        if (r.historyRun)
            a.insert(QStringLiteral("history_run"), double(r.historyRun));
        if (!r.historyError.isEmpty())
            a.insert(QStringLiteral("history_error"), r.historyError);
        QJsonArray items;
        for (const ItemResult &i : r.items) {
            QJsonObject o{{QStringLiteral("code"), i.code}, {QStringLiteral("name"), i.name},
                          {QStringLiteral("finding"), i.finding}, {QStringLiteral("elapsed_ms"), i.elapsedMs}};
            if (i.isCount)
                o.insert(QStringLiteral("count"), double(i.count));
            else
                o.insert(QStringLiteral("error_text"), i.finding);
            if (!i.problem.isEmpty())
                o.insert(QStringLiteral("error"), i.problem);
            if (!i.skipped.isEmpty())
                o.insert(QStringLiteral("skipped"), i.skipped);
            if (!i.exportFile.isEmpty())
                o.insert(QStringLiteral("export"), i.exportFile);
            if (r.compared && i.change.kind != history::ItemChange::NotChecked) {
                const bool c = i.change.kind == history::ItemChange::Compared;
                o.insert(QStringLiteral("previous_count"), c ? QJsonValue(double(i.change.previousCount)) : QJsonValue());
                o.insert(QStringLiteral("new"), c ? QJsonValue(double(i.change.added)) : QJsonValue());
                o.insert(QStringLiteral("resolved"), c ? QJsonValue(double(i.change.resolved)) : QJsonValue());
                o.insert(QStringLiteral("change"), i.change.text());
                if (c)
                    o.insert(QStringLiteral("compared_run"), double(i.change.earlier->id));
            }
            items.append(o);
        }
        a.insert(QStringLiteral("items"), items);
        accounts.append(a);
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("accounts"), accounts}}).toJson());
}

int exitStatus(const std::vector<AccountResult> &results)
{
    bool findings = false;
    for (const AccountResult &r : results) {
        if (r.hasErrors())
            return 2;
        findings = findings || r.hasFindings();
    }
    return findings ? 1 : 0;
}

} // namespace vireo::runner
