#include "CheckRunner.h"
#include "AccountWorker.h"
#include "RunGuard.h"
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
#include <QRegularExpression>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <mutex>

namespace vireo::runner {

QString ItemResult::status() const
{
    if (!problem.isEmpty())
        return QStringLiteral("error");
    return notRun.isEmpty() ? QStringLiteral("checked") : QStringLiteral("not_run");
}

bool AccountResult::hasFindings() const
{
    for (const ItemResult &i : items)
        if (i.status() != QLatin1String("not_run") && ((i.isCount && i.count > 0) || (!i.isCount && !i.finding.isEmpty())))
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

bool AccountResult::hasUnchecked() const
{
    for (const ItemResult &i : items)
        if (!i.notRun.isEmpty())
            return true;
    return false;
}

QStringList splitParameterValues(const QString &text, QString *error)
{
    QStringList values;
    QString value;
    qsizetype i = 0;
    while (true) {
        value.clear();
        if (i < text.size() && text[i] == QLatin1Char('"')) {
            const qsizetype open = i++;
            while (true) {
                if (i >= text.size()) {
                    *error = QStringLiteral("第 %1 个字符处的引号没有结束").arg(open + 1);
                    return {};
                }
                if (text[i] == QLatin1Char('"')) {
                    if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                        value += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i++];
            }
            if (i < text.size() && text[i] != QLatin1Char(',')) {
                *error = QStringLiteral("第 %1 个字符：引号后面应是逗号").arg(i + 1);
                return {};
            }
        } else {
            while (i < text.size() && text[i] != QLatin1Char(','))
                value += text[i++];
        }
        values << value;
        if (i >= text.size())
            return values;
        ++i;   // the comma
    }
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
        // Integers may be negative; real numbers may also carry a decimal point.
        static const QRegularExpression integer(QStringLiteral("^-?[0-9]+$"));
        static const QRegularExpression real(QStringLiteral("^-?[0-9]+(\\.[0-9]+)?$"));
        const bool isInteger = p.typeText == QStringLiteral("整数");
        if (isNumericType(p.typeText) && !v.isEmpty() && !(isInteger ? integer : real).match(v).hasMatch())
            return QStringLiteral("参数“%1”只能是%2：%3").arg(p.caption, isInteger ? QStringLiteral("整数") : QStringLiteral("数字"), v);
    }
    return {};
}

namespace {

QString reportSelectSql(const QString &code)
{
    return QStringLiteral("if exists (select * from tempdb..sysobjects where name=") + sqlText(code)
           + QStringLiteral(") select * from tempdb..") + sqlIdentifier(code) + QStringLiteral(" else select '' as 空");
}

// One worker's catalogue copy, made on first use in that worker's thread from the one import of
// the run.
struct Worker {
    db::SqliteConnection *imported = nullptr;
    std::mutex *copyLock = nullptr;
    QString importError;
    std::unique_ptr<db::SqliteConnection> catalog;
};

// VUZ.mdb is imported once per process (the selection check and the run share it); each caller
// gets its own in-memory copy. Called from the main thread only.
std::unique_ptr<db::SqliteConnection> loadCatalogue(const Options &o)
{
    // Kept until the process ends: a Qt SQL connection must not outlive the application object,
    // which a static destructor would make it do.
    static QString importedPath;
    static db::SqliteConnection *imported = nullptr;
    const QString path = o.programFolder + QStringLiteral("/VUZ.mdb");
    const QString found = resolvePath(path);
    const QString file = found.isEmpty() ? path : found;
    if (!imported || importedPath != file) {
        std::unique_ptr<db::SqliteConnection> fresh = openCatalogue(file, o.importerPath);
        delete imported;
        imported = fresh.release();
        importedPath = file;
    }
    return copyCatalogue(*imported);
}

using Progress = std::function<void(const QString &)>;

class AccountJob {
public:
    AccountJob(const Options &o, const QString &password, Worker &worker, const Progress &progress)
        : o(o), password(password), worker(worker), progress(progress)
    {
    }

    AccountResult run(const QString &server, const QString &account, const QString &year)
    {
        AccountResult r;
        r.server = server;
        r.account = account;
        r.year = year;
        r.database = QStringLiteral("QZdata_") + account + QStringLiteral("_") + year;
        QElapsedTimer clock;
        clock.start();
        r.started = QDateTime::currentDateTime();
        try {
            if (!worker.catalog) {
                if (!worker.imported)
                    throw db::DbError(worker.importError);
                // Qt's SQLite connections are not safe for two threads at once: one copy at a time.
                const std::lock_guard hold(*worker.copyLock);
                worker.catalog = copyCatalogue(*worker.imported);
            }
            std::vector<TreeItemRef> nodes = loadCatalogueNodes(worker.catalog.get(), o.catalogue);
            select(nodes);
            const db::AccountParams params{server, r.database, QStringLiteral("SA"), password};
            conn = db::OdbcConnection::open(params);
            ctx = CheckContext{o.programFolder, worker.catalog.get(), conn.get()};
            guard = std::make_unique<RunGuard>(conn.get(), params, o.itemTimeoutSeconds,
                                               AccountWorker::settings().cancelWaitMs);
            runItems(nodes, r);
        } catch (const db::DbError &e) {
            r.error = e.message();
        }
        guard.reset();
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

    // Runs the stored procedure of an item with the values given for it, or says why not. Called
    // while the item holds the server lock, so the summary row read next is the procedure's result.
    void handOff(const QString &key)
    {
        const QString script = o.programFolder + QStringLiteral("/File/") + key + QStringLiteral("/检查.SQL");
        if (!o.params.contains(key)) {
            notRun[key] = QStringLiteral("存储过程未执行：没有用 --param %1:值 给出参数").arg(key);
            return;
        }
        const QStringList values = o.params.value(key);
        const QString why = validateParameters(script, values);
        if (!why.isEmpty()) {
            notRun[key] = QStringLiteral("存储过程未执行：") + why;
            return;
        }
        try {
            conn->execute(buildExecStatement(key, values));
            notRun[key].clear();
        } catch (const db::DbError &e) {
            problems[key] = e.message();
        }
    }

    // The findings of an item with rows go to a workbook while the item still holds the lock.
    void exportItem(const QString &database, const SummaryRow &row)
    {
        // Only findings of this run: not a procedure item whose procedure did not run.
        if (o.exportDir.isEmpty() || !row.isCount || row.count <= 0 || problems.count(row.code)
            || !notRun.value(row.code).isEmpty())
            return;
        try {
            const db::Recordset rs = conn->query(reportSelectSql(row.code));
            const QString folder = o.exportDir + QLatin1Char('/') + database;
            QDir().mkpath(folder);
            const QString path = folder + QLatin1Char('/') + row.code + QStringLiteral(".xlsx");
            const QString err = exportRecordset(rs, path, {});
            if (err.isEmpty())
                exportFiles[row.code] = path;
            else
                problems[row.code] = err;
        } catch (const db::DbError &e) {
            problems[row.code] = e.message();
        }
    }

    // The result table's fingerprints for the run history, read while the item holds the lock.
    void captureItem(const SummaryRow &row)
    {
        if (!notRun.value(row.code).isEmpty() || problems.count(row.code))
            return;
        ItemResult it;
        it.code = row.code;
        it.isCount = row.isCount;
        it.count = row.count;
        captureFindings(o, conn.get(), it);
        captures[row.code] = it.capture;
    }

    void runItems(const std::vector<TreeItemRef> &nodes, AccountResult &r)
    {
        int waits = 0;
        const auto waiting = [&] {
            // Said once per account.
            if (++waits == 1 && progress)
                progress(QStringLiteral("%1：%2").arg(r.database, kLockWaitText));
            return true;
        };
        // Under the guard: an item it stops gets the reason as its error; the items after it run on
        // while the connection lasts.
        RunOutcome out;
        std::vector<TreeItemRef> remaining = nodes;
        for (;;) {
            conn->resetCancel();
            guard->clear();
            RunOutcome part = RunChecks(
                remaining, o.catalogue, ctx, [&](const QString &key, const QString &) { handOff(key); },
                [this](const TreeItemRef &, int, int) { guard->startItem(); }, waiting,
                [&](SummaryRow &row) {
                    exportItem(r.database, row);
                    captureItem(row);
                });
            const auto append = [](auto &to, const auto &from) { to.insert(to.end(), from.begin(), from.end()); };
            append(out.problems, part.problems);
            append(out.scriptFailures, part.scriptFailures);
            append(out.notRun, part.notRun);
            append(out.rows, part.rows);
            out.itemsRun += part.itemsRun;
            out.stopped = out.stopped || part.stopped;
            out.abandoned = out.abandoned || part.abandoned;
            if (!part.cancelled)
                break;
            const QString why = guard->reason();
            out.problems.push_back({part.cancelledAt.key, part.cancelledAt.text, why.isEmpty() ? QStringLiteral("已停止") : why});
            conn->resetCancel();
            if (!conn->isOpen()) {
                out.stopped = true;
                break;
            }
            bool past = false;
            for (TreeItemRef &n : remaining)
                if (!past) {
                    past = n.key == part.cancelledAt.key;
                    n.checked = false;
                }
        }
        const Summary s = BuildSummary(nodes, o.catalogue, ctx, &out);
        for (const SummaryRow &row : s.rows) {
            ItemResult it;
            it.code = row.code;
            it.name = row.name;
            it.elapsedMs = row.elapsedMs;
            it.notRun = row.notChecked;
            if (row.procedure && notRun.count(row.code))
                it.notRun = notRun.value(row.code);
            if (it.notRun.isEmpty()) {
                it.finding = row.finding;
                it.isCount = row.isCount;
                it.count = row.count;
            }
            for (const ItemProblem &p : out.scriptFailures)
                if (p.code == row.code)
                    it.problem = kScriptErrorPrefix + p.message;
            for (const ItemProblem &p : out.problems)
                if (p.code == row.code)
                    it.problem = p.message;
            if (problems.count(row.code))
                it.problem = problems.at(row.code);
            if (!it.problem.isEmpty())
                it.notRun.clear();
            it.exportFile = exportFiles.value(row.code);
            if (captures.count(row.code) && it.notRun.isEmpty() && it.problem.isEmpty())
                it.capture = captures.at(row.code);
            r.items.push_back(std::move(it));
        }
        // Items whose error left no summary row (the connection went with them) are listed too.
        for (const ItemProblem &p : out.problems)
            if (std::none_of(r.items.begin(), r.items.end(), [&](const ItemResult &i) { return i.code == p.code; })) {
                ItemResult it;
                it.code = p.code;
                it.name = p.name;
                it.problem = p.message;
                r.items.push_back(std::move(it));
            }
        if (out.stopped)
            r.error = QStringLiteral("账套数据库连接已断开，其余项目未执行");
        else if (!s.error.isEmpty())
            r.error = s.error;
    }

    const Options &o;
    const QString &password;
    Worker &worker;
    const Progress &progress;
    std::unique_ptr<db::OdbcConnection> conn;
    std::unique_ptr<RunGuard> guard;
    CheckContext ctx;
    QMap<QString, QString> notRun;            // procedure items: why the procedure was not run (empty: it ran)
    std::map<QString, QString> problems;      // procedure or export errors by item
    QMap<QString, QString> exportFiles;
    std::map<QString, history::TableCapture> captures;
};

} // namespace

QString validateSelection(Options &o)
{
    if (o.selection != Selection::Listed && o.params.isEmpty())
        return {};
    std::unique_ptr<db::SqliteConnection> catalog;
    std::vector<TreeItemRef> nodes;
    try {
        catalog = loadCatalogue(o);
        nodes = loadCatalogueNodes(catalog.get(), o.catalogue);
    } catch (const db::DbError &e) {
        return QStringLiteral("无法读取检查目录：") + e.message();
    }
    const auto lookup = [&](const QString &code) -> const TreeItemRef * {
        for (const TreeItemRef &n : nodes)
            if (n.key.compare(code, Qt::CaseInsensitive) == 0)
                return &n;
        return nullptr;
    };
    QStringList items;
    for (const QString &code : o.items) {
        const TreeItemRef *n = lookup(code);
        if (!n)
            return QStringLiteral("--items：目录 %1 中没有编码为“%2”的项目").arg(o.catalogue, code);
        try {
            if (!isRunnableItem(o.catalogue, n->key, catalog.get()))
                return QStringLiteral("--items：“%1”（%2）是分组，不是可执行的检查项目").arg(n->key, n->text);
        } catch (const db::DbError &e) {
            return e.message();
        }
        items << n->key;
    }
    if (o.selection == Selection::Listed)
        o.items = items;
    QMap<QString, QStringList> params;
    for (auto it = o.params.begin(); it != o.params.end(); ++it) {
        const TreeItemRef *n = lookup(it.key());
        const bool inRun = n && (o.selection == Selection::All || (o.selection == Selection::Listed ? o.items.contains(n->key)
                                                                                                      : n->checked));
        if (!inRun)
            return QStringLiteral("--param：项目“%1”不在本次运行的项目中").arg(it.key());
        if (params.contains(n->key))
            return QStringLiteral("--param：项目“%1”的参数给了两次").arg(n->key);
        params.insert(n->key, it.value());
    }
    o.params = params;
    return {};
}

std::vector<AccountResult> runAll(const Options &options, const QString &password,
                                  const std::function<void(const QString &)> &progress,
                                  const std::function<void(const AccountResult &)> &finished)
{
    struct Target {
        QString server, account, year;
    };
    std::vector<Target> targets;
    for (const QString &y : options.years)
        for (int i = 0; i < options.accounts.size(); ++i)
            targets.push_back({options.accountServers.value(i, options.server), options.accounts[i], y});
    std::vector<AccountResult> results(targets.size());
    const int jobs = std::max(1, std::min<int>(options.jobs, int(targets.size())));
    std::mutex progressLock;
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    const Progress say = [&](const QString &line) {
        if (progress) {
            std::lock_guard<std::mutex> hold(progressLock);
            progress(line);
        }
    };

    // The catalogue is imported once per run; each worker thread copies it in memory.
    std::unique_ptr<db::SqliteConnection> imported;
    QString importError;
    try {
        imported = loadCatalogue(options);
    } catch (const db::DbError &e) {
        importError = e.message();
    }
    std::mutex copyLock, finishedLock;
    auto work = [&] {
        Worker worker;
        worker.imported = imported.get();
        worker.copyLock = &copyLock;
        worker.importError = importError;
        for (size_t i = next++; i < targets.size(); i = next++) {
            AccountJob job(options, password, worker, say);
            results[i] = job.run(targets[i].server, targets[i].account, targets[i].year);
            const AccountResult &r = results[i];
            say(QStringLiteral("[%1/%2] %3 %4").arg(++done).arg(targets.size()).arg(r.database,
                    r.error.isEmpty() ? QStringLiteral("完成") : QStringLiteral("失败：") + r.error));
            if (finished) {
                const std::lock_guard hold(finishedLock);
                finished(r);
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
            out += QStringLiteral("%1\t%2\t%3").arg(i.code, i.name, oneLine(i.finding));
            if (!i.problem.isEmpty())
                out += QStringLiteral("\t错误：") + oneLine(i.problem);
            if (!i.notRun.isEmpty())
                out += QStringLiteral("\t未检查：") + i.notRun;
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
    QString out = QStringLiteral("database,code,name,status,finding,count,error,reason,elapsed_ms");
    out += compared ? QStringLiteral(",previous_count,new,resolved\n") : QStringLiteral("\n");
    for (const AccountResult &r : results) {
        if (!r.error.isEmpty())
            out += QStringLiteral("%1,,,error,,,%2,,%3").arg(csvField(r.database), csvField(r.error)).arg(r.elapsedMs, 0, 'f', 1)
                   + (compared ? QStringLiteral(",,,\n") : QStringLiteral("\n"));
        for (const ItemResult &i : r.items) {
            out += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9")
                       .arg(csvField(r.database), csvField(i.code), csvField(i.name), i.status(), csvField(i.finding),
                            i.isCount ? QString::number(i.count) : QString(), csvField(i.problem), csvField(i.notRun))
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
        QJsonObject a{{QStringLiteral("server"), r.server}, {QStringLiteral("database"), r.database},
                      {QStringLiteral("account"), r.account},
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
                          {QStringLiteral("status"), i.status()}, {QStringLiteral("elapsed_ms"), i.elapsedMs}};
            if (i.notRun.isEmpty()) {
                o.insert(QStringLiteral("finding"), i.finding);
                if (i.isCount)
                    o.insert(QStringLiteral("count"), double(i.count));
                else
                    o.insert(QStringLiteral("error_text"), i.finding);
            } else {
                o.insert(QStringLiteral("reason"), i.notRun);
            }
            if (!i.problem.isEmpty())
                o.insert(QStringLiteral("error"), i.problem);
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
    bool findings = false, unchecked = false;
    for (const AccountResult &r : results) {
        if (r.hasErrors())
            return 2;
        findings = findings || r.hasFindings();
        unchecked = unchecked || r.hasUnchecked();
    }
    return findings ? 1 : unchecked ? 3 : 0;
}

} // namespace vireo::runner
