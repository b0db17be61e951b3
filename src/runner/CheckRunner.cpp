#include "CheckRunner.h"
#include "AccountWorker.h"
#include "RunGuard.h"
#include "CatalogueImport.h"
#include "CatalogueTree.h"
#include "Export.h"
#include "FileHelpers.h"
#include "ItemActions.h"
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
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>
#include <optional>
#include <set>

namespace vireo::runner {

bool ItemResult::failed() const
{
    // A check that answered with an Error text left its stamped result table; a failure did not.
    return outcome.state == ItemState::Error && (outcome.scriptFailed || !outcome.result.present());
}

QString ItemResult::finding() const
{
    if (outcome.state != ItemState::Cancelled)
        return outcome.finding();
    return outcome.reason.isEmpty() ? kStoppedReason : outcome.reason;
}

bool AccountResult::hasFindings() const
{
    for (const ItemResult &i : items)
        if (i.outcome.hasFindings() || (i.outcome.state == ItemState::Error && !i.failed()))
            return true;
    return false;
}

bool AccountResult::hasErrors() const
{
    if (!error.isEmpty())
        return true;
    for (const ItemResult &i : items)
        if (i.failed() || i.outcome.state == ItemState::Cancelled)
            return true;
    return false;
}

bool AccountResult::hasUnchecked() const
{
    for (const ItemResult &i : items)
        if (i.outcome.state == ItemState::NotRun || i.outcome.state == ItemState::Cancelled)
            return true;
    return false;
}

namespace {
// The guards of the accounts that run now, for a stop asked from another thread.
struct StopState {
    std::mutex m;
    std::set<RunGuard *> guards;
    QString reason;
    std::atomic_bool requested = false;
};

StopState &stopState()
{
    static StopState s;
    return s;
}

// Registers a guard for the life of a job; a stop already asked for reaches it at once.
class GuardEntry {
public:
    explicit GuardEntry(RunGuard *g) : m_g(g)
    {
        StopState &s = stopState();
        const std::lock_guard hold(s.m);
        s.guards.insert(g);
        if (s.requested)
            g->cancel(s.reason);
    }
    ~GuardEntry()
    {
        StopState &s = stopState();
        const std::lock_guard hold(s.m);
        s.guards.erase(m_g);
    }
    GuardEntry(const GuardEntry &) = delete;
    GuardEntry &operator=(const GuardEntry &) = delete;

private:
    RunGuard *m_g;
};
} // namespace

void requestStop(const QString &reason)
{
    StopState &s = stopState();
    const std::lock_guard hold(s.m);
    if (s.requested)
        return;
    s.reason = reason;
    s.requested = true;
    for (RunGuard *g : s.guards)
        g->cancel(reason);
}

bool stopRequested() { return stopState().requested; }

QString interruptReason(int signalNumber)
{
    return signalNumber == SIGINT ? QStringLiteral("已被中断（Ctrl-C）") : QStringLiteral("已被中断（SIGTERM）");
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

// The accounts of a run, queued per server: a worker takes the next account of a server that no
// other worker is checking, servers in turn, and waits while every server with accounts left is
// busy. Accounts of one server would only queue on its check lock, while another server idles.
class ServerQueues {
public:
    void add(const QString &server, size_t index)
    {
        const QString key = server.toLower();
        auto it = std::find_if(m_servers.begin(), m_servers.end(), [&](const Server &s) { return s.key == key; });
        if (it == m_servers.end())
            it = m_servers.insert(m_servers.end(), Server{key, {}, false});
        it->waiting.push_back(index);
    }

    // The next account to check and marks its server busy; none when every queue is empty.
    std::optional<size_t> take()
    {
        std::unique_lock hold(m_lock);
        for (;;) {
            bool left = false;
            for (size_t n = 0; n < m_servers.size(); ++n) {
                Server &s = m_servers[(m_turn + n) % m_servers.size()];
                left = left || !s.waiting.empty();
                if (s.busy || s.waiting.empty())
                    continue;
                const size_t index = s.waiting.front();
                s.waiting.pop_front();
                s.busy = true;
                m_turn = (m_turn + n + 1) % m_servers.size();
                return index;
            }
            if (!left)
                return std::nullopt;
            m_free.wait(hold);
        }
    }

    void release(const QString &server)
    {
        {
            const std::lock_guard hold(m_lock);
            for (Server &s : m_servers)
                if (s.key == server.toLower())
                    s.busy = false;
        }
        m_free.notify_all();
    }

private:
    struct Server {
        QString key;
        std::deque<size_t> waiting;
        bool busy;
    };
    std::mutex m_lock;
    std::condition_variable m_free;
    std::vector<Server> m_servers;
    size_t m_turn = 0;
};

// A worker's hold on a server, given back once: when the account's items are done (its history is
// written after) or however the account ends.
class ServerTurn {
public:
    ServerTurn(ServerQueues &queues, const QString &server) : m_queues(queues), m_server(server) {}
    ~ServerTurn() { end(); }
    ServerTurn(const ServerTurn &) = delete;
    ServerTurn &operator=(const ServerTurn &) = delete;
    void end()
    {
        if (!m_ended)
            m_queues.release(m_server);
        m_ended = true;
    }

private:
    ServerQueues &m_queues;
    QString m_server;
    bool m_ended = false;
};

class AccountJob {
public:
    AccountJob(const Options &o, const QString &password, Worker &worker, const Progress &progress,
               std::function<void()> itemsDone = {})
        : o(o), password(password), worker(worker), progress(progress), itemsDone(std::move(itemsDone))
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
        bool ran = false;
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
            if (stopRequested()) {
                notStarted(nodes, r);
            } else {
                const db::AccountParams params{server, r.database, QStringLiteral("SA"), password};
                conn = db::OdbcConnection::open(params);
                ctx = CheckContext{o.programFolder, worker.catalog.get(), conn.get()};
                guard = std::make_unique<RunGuard>(conn.get(), params, o.itemTimeoutSeconds,
                                                   AccountWorker::settings().cancelWaitMs);
                const GuardEntry entry(guard.get());
                runItems(nodes, r);
                ran = true;
            }
        } catch (const db::DbError &e) {
            r.error = e.message();
        }
        guard.reset();
        r.elapsedMs = double(clock.nsecsElapsed()) / 1e6;
        r.ended = QDateTime::currentDateTime();
        if (itemsDone)
            itemsDone();
        if (ran && r.error.isEmpty())
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

    // A run stopped before this account began: its items are listed as not run.
    void notStarted(const std::vector<TreeItemRef> &nodes, AccountResult &r) const
    {
        for (const TreeItemRef &n : nodes)
            if (n.checked && isRunnableItem(o.catalogue, n.key, worker.catalog.get())) {
                ItemResult it;
                it.outcome.code = n.key;
                it.outcome.name = n.text;
                it.outcome.reason = QStringLiteral("检查已停止，本项目未执行");
                r.items.push_back(std::move(it));
            }
        r.end = RunEnd::Cancelled;
    }

    // Runs the stored procedure of an item with the values given for it, or says why not. Called
    // while the item holds the server lock, so the result read next is the procedure's.
    bool runProcedure(ItemOutcome &item, db::Connection *account)
    {
        const QString script = o.programFolder + QStringLiteral("/File/") + item.code + QStringLiteral("/检查.SQL");
        if (!o.params.contains(item.code)) {
            item.reason = QStringLiteral("存储过程未执行：没有用 --param %1:值 给出参数").arg(item.code);
            return false;
        }
        const QStringList values = o.params.value(item.code);
        const QString why = validateParameters(script, values);
        if (!why.isEmpty()) {
            item.reason = QStringLiteral("存储过程未执行：") + why;
            return false;
        }
        try {
            account->execute(buildExecStatement(item.code, values));
            return true;
        } catch (const db::DbError &e) {
            if (account->cancelRequested() || !account->isOpen())
                throw;   // a stop or a lost connection is the run's to record
            item.state = ItemState::Error;
            item.errorText = e.message();
            item.reason.clear();
            item.result = {};
            return false;
        }
    }

    // An item checked in this run, still under its lock: its findings go to an export file, its
    // first rows to the json output and its result table's fingerprints to the history.
    void checked(const QString &database, ItemOutcome &item, db::Connection *account)
    {
        if (item.state != ItemState::Checked)
            return;
        const bool exporting = !o.exportDir.isEmpty() && item.count > 0;
        if (exporting || o.findingRows >= 0) {
            QString err;
            try {
                // An export takes every row; the json output only its first ones.
                const db::Recordset rs = account->query(reportRowsSql(item.code), exporting ? -1 : o.findingRows);
                if (o.findingRows >= 0)
                    findingRows[item.code] = findingsJson(rs, o.findingRows);
                if (exporting) {
                    const QString path = o.exportDir + QLatin1Char('/') + database + QLatin1Char('/') + item.code
                                         + QLatin1Char('.') + findingsExtension(o.exportFormat);
                    err = writeFindings(rs, path, o.exportFormat, o.csvByteOrderMark);
                    if (err.isEmpty())
                        exportFiles[item.code] = path;
                }
            } catch (const db::DbError &e) {
                if (account->cancelRequested() || !account->isOpen())
                    throw;
                err = e.message();
            }
            if (!err.isEmpty()) {
                // The findings were not delivered: the item is an error of this run, no baseline.
                item.state = ItemState::Error;
                item.errorText = err;
                item.result = {};
                findingRows.erase(item.code);
                return;
            }
        }
        captures[item.code] = captureFindings(o, account, item);
    }

    void runItems(const std::vector<TreeItemRef> &nodes, AccountResult &r)
    {
        int waits = 0;
        RunHooks hooks;
        hooks.waiting = [&] {
            // Said once per account.
            if (++waits == 1 && progress)
                progress(QStringLiteral("%1：%2").arg(r.database, kLockWaitText));
            return true;
        };
        hooks.progress = [this](const TreeItemRef &, int, int) {
            guard->startItem();
            // A stop asked for between two items reaches the statements of the next one.
            if (stopRequested())
                conn->cancel();
        };
        hooks.procedure = [this](ItemOutcome &item, db::Connection *account) { return runProcedure(item, account); };
        // Findings are read under the lock only when something wants them.
        if (!o.exportDir.isEmpty() || o.history || !o.compare.isEmpty() || o.captureRows || o.findingRows >= 0)
            hooks.checked = [&](ItemOutcome &item, db::Connection *account) { checked(r.database, item, account); };
        // The guard says why it stopped the item; after a time-out of one item the next one runs
        // (RunChecks goes on only while the connection lasts), after a stop none does.
        hooks.cancelled = [this](ItemOutcome &item) {
            const QString why = guard->reason();
            if (!why.isEmpty())
                item.reason = why;
            if (stopRequested())
                return false;
            guard->clear();
            return true;
        };
        RunIdentity identity;
        identity.address = r.server;
        identity.database = r.database;
        identity.operatorName = o.operatorName;
        identity.catalogue = o.catalogue;
        CheckRunRecord record = RunChecks(nodes, o.catalogue, ctx, identity, hooks);
        r.identity = record.identity;
        r.end = record.end;
        for (ItemOutcome &outcome : record.items) {
            ItemResult it;
            it.exportFile = exportFiles.value(outcome.code);
            if (outcome.state == ItemState::Checked && captures.count(outcome.code))
                it.capture = captures.at(outcome.code);
            if (outcome.state == ItemState::Checked && findingRows.count(outcome.code))
                it.findingRows = findingRows.at(outcome.code);
            it.outcome = std::move(outcome);
            r.items.push_back(std::move(it));
        }
        if (record.end == RunEnd::ConnectionLost)
            r.error = conn->isOpen() ? record.endText : QStringLiteral("账套数据库连接已断开，其余项目未执行");
        else if (record.end == RunEnd::LockAbandoned)
            r.error = record.endText;
    }

    const Options &o;
    const QString &password;
    Worker &worker;
    const Progress &progress;
    std::function<void()> itemsDone;
    std::unique_ptr<db::OdbcConnection> conn;
    std::unique_ptr<RunGuard> guard;
    CheckContext ctx;
    QMap<QString, QString> exportFiles;
    std::map<QString, history::TableCapture> captures;
    std::map<QString, QJsonObject> findingRows;
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

QStringList accountsOfYear(const QStringList &databases, const QString &year)
{
    const QRegularExpression pattern(QStringLiteral("^QZdata_([0-9]+)_%1$").arg(QRegularExpression::escape(year)),
                                     QRegularExpression::CaseInsensitiveOption);
    QStringList accounts;
    for (const QString &name : databases)
        if (const QRegularExpressionMatch m = pattern.match(name); m.hasMatch())
            accounts << m.captured(1);
    std::sort(accounts.begin(), accounts.end(), [](const QString &a, const QString &b) {
        const qulonglong x = a.toULongLong(), y = b.toULongLong();
        return x != y ? x < y : a < b;
    });
    return accounts;
}

std::vector<AccountTarget> resolveTargets(const Options &o, const QString &password, QString *error)
{
    if (!o.targets.empty())
        return o.targets;
    std::vector<AccountTarget> targets;
    std::map<QString, QStringList> listed;   // the databases of each server asked, by its address
    for (const QString &y : o.years)
        for (int i = 0; i < o.accounts.size(); ++i) {
            const QString server = o.accountServers.value(i, o.server);
            if (o.accounts[i].compare(QLatin1String("all"), Qt::CaseInsensitive) != 0) {
                targets.push_back({server, o.accounts[i], y});
                continue;
            }
            auto it = listed.find(server.toLower());
            if (it == listed.end()) {
                try {
                    const auto conn = db::OdbcConnection::open({server, QStringLiteral("master"), QStringLiteral("SA"), password});
                    const db::Recordset rs = conn->query(QStringLiteral("select name from sys.databases"));
                    QStringList names;
                    for (qint64 r = 0; r < rs.rowCount(); ++r)
                        names << rs.text(r, 0);
                    it = listed.emplace(server.toLower(), names).first;
                } catch (const db::DbError &e) {
                    *error = QStringLiteral("无法列出服务器 %1 上的账套数据库：%2").arg(server, e.message());
                    return {};
                }
            }
            const QStringList accounts = accountsOfYear(it->second, y);
            if (accounts.isEmpty()) {
                *error = QStringLiteral("服务器 %1 上没有 %2 年度的账套数据库（QZdata_账套号_%2）").arg(server, y);
                return {};
            }
            for (const QString &a : accounts)
                targets.push_back({server, a, y});
        }
    return targets;
}

std::vector<AccountResult> runAll(const Options &options, const QString &password,
                                  const std::function<void(const QString &)> &progress,
                                  const std::function<void(const AccountResult &)> &finished)
{
    std::vector<AccountTarget> targets = options.targets;
    if (targets.empty())
        for (const QString &y : options.years)
            for (int i = 0; i < options.accounts.size(); ++i)
                targets.push_back({options.accountServers.value(i, options.server), options.accounts[i], y});
    std::vector<AccountResult> results(targets.size());
    const int jobs = std::max(1, std::min<int>(options.jobs, int(targets.size())));
    std::mutex progressLock;
    std::atomic<size_t> done{0};
    ServerQueues queues;
    for (size_t i = 0; i < targets.size(); ++i)
        queues.add(targets[i].server, i);
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
        for (std::optional<size_t> taken = queues.take(); taken; taken = queues.take()) {
            const size_t i = *taken;
            ServerTurn turn(queues, targets[i].server);
            AccountJob job(options, password, worker, say, [&turn] { turn.end(); });
            results[i] = job.run(targets[i].server, targets[i].account, targets[i].year);
            turn.end();
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
            const ItemOutcome &x = i.outcome;
            const bool shown = x.state == ItemState::Checked || (x.state == ItemState::Error && (!i.failed() || x.scriptFailed));
            out += QStringLiteral("%1\t%2\t%3").arg(x.code, x.name, shown ? oneLine(i.finding()) : QString());
            if (i.failed())
                out += QStringLiteral("\t错误：") + oneLine(x.errorText);
            if (x.state == ItemState::NotRun)
                out += QStringLiteral("\t未检查：") + x.reason;
            if (x.state == ItemState::Cancelled)
                out += QStringLiteral("\t未完成：") + oneLine(i.finding());
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
            const ItemOutcome &x = i.outcome;
            const bool unchecked = x.state == ItemState::NotRun || x.state == ItemState::Cancelled;
            out += QStringLiteral("%1,%2,%3,%4,%5,%6,%7,%8,%9")
                       .arg(csvField(r.database), csvField(x.code), csvField(x.name), i.status(), csvField(i.finding()),
                            x.state == ItemState::Checked ? QString::number(x.count) : QString(),
                            i.failed() ? csvField(x.errorText) : QString(), unchecked ? csvField(x.state == ItemState::Cancelled ? i.finding() : x.reason) : QString())
                       .arg(x.elapsedMs, 0, 'f', 1);
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
    // Every account and every item carries the same keys whatever happened to it: null where a
    // key does not apply, so that scripts need no test for a key's presence.
    const auto text = [](const QString &s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
    QJsonArray accounts;
    for (const AccountResult &r : results) {
        QJsonArray items;
        for (const ItemResult &i : r.items) {
            const ItemOutcome &x = i.outcome;
            const bool checked = x.state == ItemState::Checked || x.state == ItemState::Repaired;
            const bool compared = r.compared && i.change.kind == history::ItemChange::Compared;
            const bool changeShown = r.compared && i.change.kind != history::ItemChange::NotChecked;
            const auto comparedNumber = [&](qint64 n) { return compared ? QJsonValue(double(n)) : QJsonValue(); };
            QJsonValue reason;
            if (x.state == ItemState::NotRun)
                reason = x.reason;
            else if (x.state == ItemState::Cancelled)
                reason = i.finding();
            items.append(QJsonObject{
                {QStringLiteral("code"), x.code},
                {QStringLiteral("name"), x.name},
                {QStringLiteral("status"), i.status()},
                {QStringLiteral("elapsed_ms"), x.elapsedMs},
                {QStringLiteral("finding"), x.state == ItemState::NotRun ? QJsonValue() : QJsonValue(i.finding())},
                {QStringLiteral("count"), checked ? QJsonValue(double(x.count)) : QJsonValue()},
                {QStringLiteral("error_text"), x.state == ItemState::Error ? QJsonValue(x.errorText) : QJsonValue()},
                {QStringLiteral("error"), i.failed() ? QJsonValue(x.errorText) : QJsonValue()},
                {QStringLiteral("reason"), reason},
                {QStringLiteral("export"), text(i.exportFile)},
                {QStringLiteral("previous_count"), comparedNumber(i.change.previousCount)},
                {QStringLiteral("new"), comparedNumber(i.change.added)},
                {QStringLiteral("resolved"), comparedNumber(i.change.resolved)},
                {QStringLiteral("change"), changeShown ? QJsonValue(i.change.text()) : QJsonValue()},
                {QStringLiteral("compared_run"), compared ? QJsonValue(double(i.change.earlier->id)) : QJsonValue()},
                {QStringLiteral("columns"), i.findingRows ? i.findingRows->value(QStringLiteral("columns")) : QJsonValue()},
                {QStringLiteral("rows"), i.findingRows ? i.findingRows->value(QStringLiteral("rows")) : QJsonValue()},
            });
        }
        accounts.append(QJsonObject{
            {QStringLiteral("server"), r.server},
            {QStringLiteral("server_name"), text(r.identity.server)},
            {QStringLiteral("database"), r.database},
            {QStringLiteral("account"), r.account},
            {QStringLiteral("year"), r.year},
            {QStringLiteral("elapsed_ms"), r.elapsedMs},
            {QStringLiteral("error"), text(r.error)},
            {QStringLiteral("history_run"), r.historyRun ? QJsonValue(double(r.historyRun)) : QJsonValue()},
            {QStringLiteral("history_error"), text(r.historyError)},
            {QStringLiteral("items"), items},
        });
    }
    return QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("schema_version"), kJsonSchemaVersion},
                                                       {QStringLiteral("accounts"), accounts}})
                                 .toJson());
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
