#include "HistoryStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unordered_map>

namespace vireo::history {

namespace {

const char *const kSchema = R"(
create table if not exists runs(
  id integer primary key autoincrement,
  started text not null, ended text, operator text, server text,
  database text not null, catalogue text, tool_version text, server_name text);
create index if not exists runs_server_database on runs(server_name collate nocase, database, id);
create table if not exists items(
  run_id integer not null, seq integer not null, code text not null, name text,
  status text not null, count integer, error text, elapsed_ms real,
  columns text, rows_hashed integer, complete integer, fingerprints blob,
  primary key(run_id, code));
create table if not exists item_rows(
  run_id integer not null, code text not null, seq integer not null,
  fingerprint integer not null, vals text not null,
  primary key(run_id, code, seq)) without rowid;
create table if not exists repairs(
  id integer primary key autoincrement, time text not null, operator text, server text,
  database text, code text, name text, script_sha256 text, succeeded integer not null,
  message text, findings_before integer, findings_after integer);
create index if not exists repairs_database on repairs(database, code);
)";

// 1: runs, items, rows and repair marks (at, operator, database, code, outcome);
// 2: the repairs table holds the repair journal's columns;
// 3: runs carry the server's own name (server_name) and are kept per server name and database.
const int kSchemaVersion = 3;

QString timeText(const QDateTime &t) { return t.toString(Qt::ISODateWithMs); }
QDateTime timeOf(const QString &s) { return QDateTime::fromString(s, Qt::ISODateWithMs); }

// A prepared statement that finalizes itself.
class Stmt {
public:
    Stmt(sqlite3 *db, const char *sql) { m_rc = sqlite3_prepare_v2(db, sql, -1, &m_s, nullptr); }
    ~Stmt() { sqlite3_finalize(m_s); }
    bool ok() const { return m_rc == SQLITE_OK && m_s; }
    Stmt &bind(int i, const QString &v)
    {
        if (v.isNull()) {
            sqlite3_bind_null(m_s, i);
        } else {
            const QByteArray u = v.toUtf8();
            sqlite3_bind_text(m_s, i, u.constData(), int(u.size()), SQLITE_TRANSIENT);
        }
        return *this;
    }
    Stmt &bind(int i, qint64 v) { sqlite3_bind_int64(m_s, i, v); return *this; }
    Stmt &bind(int i, double v) { sqlite3_bind_double(m_s, i, v); return *this; }
    // A count, or null when it is not known (negative).
    Stmt &bindCount(int i, qint64 v) { v < 0 ? sqlite3_bind_null(m_s, i) : sqlite3_bind_int64(m_s, i, v); return *this; }
    Stmt &bindBlob(int i, const void *p, int n) { sqlite3_bind_blob(m_s, i, p, n, SQLITE_STATIC); return *this; }
    int step() { return sqlite3_step(m_s); }
    bool run() { const int rc = step(); sqlite3_reset(m_s); return rc == SQLITE_DONE || rc == SQLITE_ROW; }
    void reset() { sqlite3_reset(m_s); sqlite3_clear_bindings(m_s); }
    QString text(int c) const
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(m_s, c));
        return p ? QString::fromUtf8(p, sqlite3_column_bytes(m_s, c)) : QString();
    }
    qint64 integer(int c) const { return sqlite3_column_int64(m_s, c); }
    qint64 count(int c) const { return isNull(c) ? -1 : integer(c); }
    double real(int c) const { return sqlite3_column_double(m_s, c); }
    const void *blob(int c) const { return sqlite3_column_blob(m_s, c); }
    int bytes(int c) const { return sqlite3_column_bytes(m_s, c); }
    bool isNull(int c) const { return sqlite3_column_type(m_s, c) == SQLITE_NULL; }

private:
    sqlite3_stmt *m_s = nullptr;
    int m_rc = SQLITE_ERROR;
};

QString rowJson(const QStringList &values)
{
    QJsonArray a;
    for (const QString &v : values)
        a.append(v.isNull() ? QJsonValue() : QJsonValue(v));
    return QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Compact));
}

QStringList rowValues(const QString &json)
{
    QStringList out;
    for (const QJsonValue &v : QJsonDocument::fromJson(json.toUtf8()).array())
        out << (v.isNull() ? QString() : (v.toString().isNull() ? QStringLiteral("") : v.toString()));
    return out;
}

RunHeader headerOf(const Stmt &s)
{
    RunHeader h;
    h.id = s.integer(0);
    h.started = timeOf(s.text(1));
    h.ended = timeOf(s.text(2));
    h.operatorName = s.text(3);
    h.server = s.text(4);
    h.database = s.text(5);
    h.catalogue = s.text(6);
    h.toolVersion = s.text(7);
    h.serverName = s.text(8);
    return h;
}

const char *const kRunColumns =
    "select id, started, ended, operator, server, database, catalogue, tool_version, server_name from runs ";

// The server name a run is kept under: the typed address when the server's own name is unknown.
QString serverKey(const RunHeader &h) { return h.serverName.isEmpty() ? h.server : h.serverName; }

// True when the file exists and carries no write permission: it is then opened for reading
// only, whoever runs the tool.
bool markedReadOnly(const QString &path)
{
    struct stat st{};
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

QString statusName(ItemStatus s)
{
    switch (s) {
    case ItemStatus::Checked: return QStringLiteral("checked");
    case ItemStatus::Error: return QStringLiteral("error");
    case ItemStatus::NotChecked: return QStringLiteral("not_checked");
    case ItemStatus::Cancelled: return QStringLiteral("cancelled");
    }
    return {};
}

ItemStatus statusFromName(const QString &name)
{
    if (name == QLatin1String("checked"))
        return ItemStatus::Checked;
    if (name == QLatin1String("error"))
        return ItemStatus::Error;
    if (name == QLatin1String("cancelled"))
        return ItemStatus::Cancelled;
    return ItemStatus::NotChecked;
}

QString toolVersion() { return QStringLiteral(VIREO_TOOL_VERSION); }

static QString &pathOverride()
{
    static QString p;
    return p;
}

QString HistoryStore::defaultPath()
{
    if (!pathOverride().isEmpty())
        return pathOverride();
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Vireo数据体检工具/history.sqlite");
}

void HistoryStore::setDefaultPath(const QString &path) { pathOverride() = path; }

HistoryStore::HistoryStore(QString path) : m_path(std::move(path)) {}

HistoryStore::~HistoryStore()
{
    if (m_db)
        sqlite3_close_v2(m_db);
}

bool HistoryStore::fail(const QString &what)
{
    m_error = what;
    if (m_db && sqlite3_errcode(m_db) != SQLITE_OK)
        m_error += QStringLiteral("：") + QString::fromUtf8(sqlite3_errmsg(m_db));
    return false;
}

bool HistoryStore::exec(const char *sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool HistoryStore::open()
{
    if (m_db)
        return true;
    const bool readOnly = markedReadOnly(m_path);
    if (!readOnly) {
        const QString dir = QFileInfo(m_path).absolutePath();
        if (!QDir().mkpath(dir))
            return fail(QStringLiteral("无法创建文件夹 %1").arg(dir));
    }
    const int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
                      | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(QFile::encodeName(m_path).constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        fail(QStringLiteral("无法打开历史记录文件 %1").arg(m_path));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 15000);
    // A file that is not a database shows itself at the first read.
    if (!exec("select count(*) from sqlite_master")) {
        fail(QStringLiteral("历史记录文件已损坏 %1").arg(m_path));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    if (readOnly)
        return true;
    if (!exec("pragma journal_mode=wal") || !exec("begin immediate")) {
        fail(QStringLiteral("无法写入历史记录文件 %1").arg(m_path));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    if (!createTables() || !exec("commit")) {
        fail(QStringLiteral("无法建立历史记录表 %1").arg(m_path));
        exec("rollback");
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    return true;
}

// Inside open()'s transaction: the tables at kSchemaVersion, older ones brought up to it.
bool HistoryStore::createTables()
{
    const auto number = [this](const char *sql) {
        Stmt q(m_db, sql);
        return q.step() == SQLITE_ROW ? q.integer(0) : qint64(0);
    };
    if (number("pragma user_version") >= kSchemaVersion)
        return exec(kSchema);
    // Version 1 kept repair marks only; they become journal rows without script, counts or server.
    const bool oldRepairs = number("select count(*) from pragma_table_info('repairs') where name = 'at'") > 0;
    if (oldRepairs && !exec("drop index if exists repairs_database; alter table repairs rename to repairs_v1"))
        return false;
    // Before version 3 a run knew only the typed address: that becomes its server name.
    const bool oldRuns = number("select count(*) from sqlite_master where name = 'runs'") > 0
                         && number("select count(*) from pragma_table_info('runs') where name = 'server_name'") == 0;
    if (oldRuns
        && !exec("drop index if exists runs_database; alter table runs add column server_name text; "
                 "update runs set server_name = coalesce(server, '')"))
        return false;
    if (!exec(kSchema))
        return false;
    if (oldRepairs
        && !exec("insert into repairs(time, operator, database, code, succeeded, message) "
                 "select at, operator, database, code, outcome = '已成功修复', "
                 "case when outcome = '已成功修复' then null else outcome end from repairs_v1; "
                 "drop table repairs_v1"))
        return false;
    return exec(QByteArray("pragma user_version = ").append(QByteArray::number(kSchemaVersion)).constData());
}

qint64 HistoryStore::addRun(const RunRecord &run, int keepRuns)
{
    if (!open())
        return 0;
    if (!exec("begin immediate")) {
        fail(QStringLiteral("历史记录文件被占用或只读"));
        return 0;
    }
    auto abort = [&](const QString &what) {
        fail(what);
        exec("rollback");
        return qint64(0);
    };
    const RunHeader &h = run.header;
    Stmt ins(m_db, "insert into runs(started, ended, operator, server, database, catalogue, tool_version, server_name) "
                   "values(?,?,?,?,?,?,?,?)");
    if (!ins.ok())
        return abort(QStringLiteral("无法写入运行记录"));
    ins.bind(1, timeText(h.started)).bind(2, timeText(h.ended)).bind(3, h.operatorName).bind(4, h.server)
        .bind(5, h.database).bind(6, h.catalogue).bind(7, h.toolVersion.isEmpty() ? toolVersion() : h.toolVersion)
        .bind(8, serverKey(h));
    if (!ins.run())
        return abort(QStringLiteral("无法写入运行记录"));
    const qint64 id = sqlite3_last_insert_rowid(m_db);

    Stmt item(m_db, "insert or replace into items(run_id, seq, code, name, status, count, error, elapsed_ms, columns, "
                    "rows_hashed, complete, fingerprints) values(?,?,?,?,?,?,?,?,?,?,?,?)");
    Stmt row(m_db, "insert or replace into item_rows(run_id, code, seq, fingerprint, vals) values(?,?,?,?,?)");
    if (!item.ok() || !row.ok())
        return abort(QStringLiteral("无法写入检查项目"));
    qint64 seq = 0;
    for (const ItemRecord &it : run.items) {
        const TableCapture &cap = it.capture;
        item.reset();
        item.bind(1, id).bind(2, seq++).bind(3, it.code).bind(4, it.name).bind(5, statusName(it.status))
            .bind(6, it.count).bind(7, it.errorText).bind(8, it.elapsedMs);
        item.bind(9, rowJson(cap.columns)).bind(10, cap.rowsRead).bind(11, qint64(cap.complete ? 1 : 0));
        item.bindBlob(12, cap.fingerprints.data(), int(cap.fingerprints.size() * sizeof(quint64)));
        if (!item.run())
            return abort(QStringLiteral("无法写入检查项目 %1").arg(it.code));
        for (size_t r = 0; r < cap.rows.size(); ++r) {
            row.reset();
            row.bind(1, id).bind(2, it.code).bind(3, qint64(r)).bind(4, qint64(cap.rows[r].fingerprint))
                .bind(5, rowJson(cap.rows[r].values));
            if (!row.run())
                return abort(QStringLiteral("无法写入检查结果行 %1").arg(it.code));
        }
    }

    // Pruning: the newest keepRuns of this database on this server stay.
    if (keepRuns > 0) {
        Stmt old(m_db, "select id from runs where server_name = ?1 collate nocase and database = ?2 "
                       "order by id desc limit -1 offset ?3");
        old.bind(1, serverKey(h)).bind(2, h.database).bind(3, qint64(keepRuns));
        std::vector<qint64> ids;
        while (old.step() == SQLITE_ROW)
            ids.push_back(old.integer(0));
        Stmt d1(m_db, "delete from item_rows where run_id = ?");
        Stmt d2(m_db, "delete from items where run_id = ?");
        Stmt d3(m_db, "delete from runs where id = ?");
        for (qint64 gone : ids) {
            for (Stmt *d : {&d1, &d2, &d3}) {
                d->reset();
                d->bind(1, gone);
                if (!d->run())
                    return abort(QStringLiteral("无法清理旧的历史记录"));
            }
        }
    }
    if (!exec("commit"))
        return abort(QStringLiteral("无法提交历史记录"));
    return id;
}

std::vector<RunHeader> HistoryStore::runs(const QString &serverName, const QString &database)
{
    std::vector<RunHeader> out;
    if (!open())
        return out;
    Stmt s(m_db, (QByteArray(kRunColumns) + "where (?1 = '' or server_name = ?1 collate nocase) and database = ?2 "
                                            "order by id desc").constData());
    s.bind(1, serverName.isNull() ? QStringLiteral("") : serverName).bind(2, database);
    while (s.step() == SQLITE_ROW)
        out.push_back(headerOf(s));
    return out;
}

std::optional<RunHeader> HistoryStore::run(qint64 id)
{
    if (!open())
        return std::nullopt;
    Stmt s(m_db, (QByteArray(kRunColumns) + "where id = ?").constData());
    s.bind(1, id);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return headerOf(s);
}

std::vector<StoredItem> HistoryStore::items(qint64 runId)
{
    std::vector<StoredItem> out;
    if (!open())
        return out;
    Stmt s(m_db, "select code, name, status, count, error, elapsed_ms, complete from items where run_id = ? order by seq");
    s.bind(1, runId);
    while (s.step() == SQLITE_ROW)
        out.push_back(StoredItem{s.text(0), s.text(1), statusFromName(s.text(2)), s.integer(3), s.text(4), s.real(5),
                                 s.integer(6) != 0});
    return out;
}

std::optional<StoredItem> HistoryStore::item(qint64 runId, const QString &code)
{
    for (StoredItem &i : items(runId))
        if (i.code == code)
            return i;
    return std::nullopt;
}

std::vector<quint64> HistoryStore::fingerprints(qint64 runId, const QString &code)
{
    std::vector<quint64> out;
    if (!open())
        return out;
    Stmt s(m_db, "select fingerprints from items where run_id = ? and code = ?");
    s.bind(1, runId).bind(2, code);
    if (s.step() == SQLITE_ROW && s.bytes(0) > 0) {
        out.resize(size_t(s.bytes(0)) / sizeof(quint64));
        memcpy(out.data(), s.blob(0), out.size() * sizeof(quint64));
    }
    return out;
}

QStringList HistoryStore::columns(qint64 runId, const QString &code)
{
    if (!open())
        return {};
    Stmt s(m_db, "select columns from items where run_id = ? and code = ?");
    s.bind(1, runId).bind(2, code);
    return s.step() == SQLITE_ROW ? rowValues(s.text(0)) : QStringList();
}

std::vector<FindingRow> HistoryStore::rows(qint64 runId, const QString &code)
{
    std::vector<FindingRow> out;
    if (!open())
        return out;
    Stmt s(m_db, "select fingerprint, vals from item_rows where run_id = ? and code = ? order by seq");
    s.bind(1, runId).bind(2, code);
    while (s.step() == SQLITE_ROW)
        out.push_back(FindingRow{quint64(s.integer(0)), rowValues(s.text(1))});
    return out;
}

std::optional<RunHeader> HistoryStore::previousRunWithItem(const QString &serverName, const QString &database,
                                                          const QString &code, qint64 beforeRunId)
{
    if (!open())
        return std::nullopt;
    Stmt s(m_db, (QByteArray(kRunColumns)
                  + "where (?4 = '' or server_name = ?4 collate nocase) and database = ?1 and (?2 = 0 or id < ?2) and exists "
                    "(select 1 from items i where i.run_id = runs.id and i.code = ?3 and i.status = 'checked') "
                    "order by id desc limit 1")
                     .constData());
    s.bind(1, database).bind(2, beforeRunId).bind(3, code).bind(4, serverName.isNull() ? QStringLiteral("") : serverName);
    if (s.step() != SQLITE_ROW)
        return std::nullopt;
    return headerOf(s);
}

std::vector<TrendPoint> HistoryStore::trend(const QString &serverName, const QString &database, const QString &code)
{
    std::vector<TrendPoint> out;
    if (!open())
        return out;
    Stmt s(m_db, "select r.id, r.started, i.count from runs r join items i on i.run_id = r.id "
                 "where (?3 = '' or r.server_name = ?3 collate nocase) and r.database = ?1 and i.code = ?2 and i.status = 'checked' "
                 "order by r.id");
    s.bind(1, database).bind(2, code).bind(3, serverName.isNull() ? QStringLiteral("") : serverName);
    while (s.step() == SQLITE_ROW)
        out.push_back(TrendPoint{s.integer(0), timeOf(s.text(1)), s.integer(2)});
    return out;
}

qint64 HistoryStore::addRepair(const RepairRecord &r)
{
    if (!open())
        return 0;
    Stmt s(m_db, "insert into repairs(time, operator, server, database, code, name, script_sha256, succeeded, message, "
                 "findings_before, findings_after) values(?,?,?,?,?,?,?,?,?,?,?)");
    if (!s.ok()) {
        fail(QStringLiteral("无法写入修复记录"));
        return 0;
    }
    s.bind(1, timeText(r.time)).bind(2, r.operatorName).bind(3, r.server).bind(4, r.database).bind(5, r.code)
        .bind(6, r.name).bind(7, r.scriptSha256).bind(8, qint64(r.succeeded ? 1 : 0)).bind(9, r.message)
        .bindCount(10, r.before).bindCount(11, r.after);
    if (!s.run()) {
        fail(QStringLiteral("无法写入修复记录"));
        return 0;
    }
    return sqlite3_last_insert_rowid(m_db);
}

bool HistoryStore::setRepairAfter(qint64 id, qint64 after)
{
    if (!open())
        return false;
    Stmt s(m_db, "update repairs set findings_after = ? where id = ?");
    if (!s.ok())
        return fail(QStringLiteral("无法写入修复记录"));
    s.bindCount(1, after).bind(2, id);
    return s.run() ? true : fail(QStringLiteral("无法写入修复记录"));
}

std::vector<RepairRecord> HistoryStore::repairs(const QString &database, const QString &code)
{
    std::vector<RepairRecord> out;
    if (!open())
        return out;
    Stmt s(m_db, "select id, time, operator, server, database, code, name, script_sha256, succeeded, message, "
                 "findings_before, findings_after from repairs "
                 "where (?1 is null or database = ?1) and (?2 is null or code = ?2) order by id desc");
    if (!s.ok()) {
        fail(QStringLiteral("无法读取修复记录"));
        return out;
    }
    s.bind(1, database.isEmpty() ? QString() : database).bind(2, code.isEmpty() ? QString() : code);
    while (s.step() == SQLITE_ROW) {
        RepairRecord r;
        r.id = s.integer(0);
        r.time = timeOf(s.text(1));
        r.operatorName = s.text(2);
        r.server = s.text(3);
        r.database = s.text(4);
        r.code = s.text(5);
        r.name = s.text(6);
        r.scriptSha256 = s.text(7);
        r.succeeded = s.integer(8) != 0;
        r.message = s.text(9);
        r.before = s.count(10);
        r.after = s.count(11);
        out.push_back(r);
    }
    return out;
}

QString fileSha256(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    h.addData(&f);
    return QString::fromLatin1(h.result().toHex());
}

QString shortTime(const QDateTime &t) { return t.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

QString ItemChange::text() const
{
    switch (kind) {
    case NotChecked:
        return {};
    case First:
        return QStringLiteral("首次检查");
    case Compared:
        break;
    }
    if (added == 0 && resolved == 0)
        return QStringLiteral("无变化");
    QString t = QStringLiteral("新增 %1 · 消除 %2（对比 %3）").arg(added).arg(resolved).arg(earlier ? shortTime(earlier->started) : QString());
    return t;
}

QString ItemChange::toolTip() const
{
    if (kind != Compared || !earlier)
        return {};
    QString t = QStringLiteral("对比第 %1 次记录：%2，操作员 %3，记录数 %4")
                    .arg(QString::number(earlier->id), shortTime(earlier->started), earlier->operatorName,
                         QString::number(previousCount));
    if (partial)
        t += QStringLiteral("；结果超过指纹上限，只比较了前面的行");
    return t;
}

ItemChange compareFingerprints(const RunHeader &earlier, qint64 earlierCount, const std::vector<quint64> &earlierFps,
                               bool earlierComplete, const std::vector<quint64> &laterFps, bool laterComplete)
{
    ItemChange c;
    c.kind = ItemChange::Compared;
    c.earlier = earlier;
    c.previousCount = earlierCount;
    c.added = countMissingFrom(laterFps, earlierFps);
    c.resolved = countMissingFrom(earlierFps, laterFps);
    c.partial = !earlierComplete || !laterComplete;
    return c;
}

ItemChange compareWithRun(HistoryStore &store, qint64 earlierRunId, const ItemRecord &later)
{
    ItemChange c;
    if (later.status != ItemStatus::Checked)
        return c;
    const auto header = store.run(earlierRunId);
    const auto stored = header ? store.item(earlierRunId, later.code) : std::nullopt;
    if (!stored || stored->status != ItemStatus::Checked) {
        c.kind = ItemChange::First;
        return c;
    }
    return compareFingerprints(*header, stored->count, store.fingerprints(earlierRunId, later.code), stored->complete,
                               later.capture.fingerprints, later.capture.complete);
}

ItemChange compareWithPrevious(HistoryStore &store, const QString &serverName, const QString &database,
                               const ItemRecord &later, qint64 laterRunId)
{
    ItemChange c;
    if (later.status != ItemStatus::Checked)
        return c;
    const auto prev = store.previousRunWithItem(serverName, database, later.code, laterRunId);
    if (!prev) {
        c.kind = ItemChange::First;
        return c;
    }
    return compareWithRun(store, prev->id, later);
}

namespace {
// The rows whose fingerprints are in `wanted` (a sorted multiset), each taken as often as it is wanted.
std::vector<FindingRow> pick(const std::vector<quint64> &wanted, const std::vector<FindingRow> &rows, qint64 &left)
{
    std::unordered_map<quint64, qint64> need;
    for (quint64 f : wanted)
        ++need[f];
    std::vector<FindingRow> out;
    for (const FindingRow &r : rows) {
        auto it = need.find(r.fingerprint);
        if (it != need.end() && it->second > 0) {
            --it->second;
            out.push_back(r);
        }
    }
    left = qint64(wanted.size()) - qint64(out.size());
    return out;
}
} // namespace

RowDiff diffRows(const std::vector<quint64> &earlierFps, const std::vector<FindingRow> &earlierRows,
                 const std::vector<quint64> &laterFps, const std::vector<FindingRow> &laterRows)
{
    RowDiff d;
    d.added = pick(missingFrom(laterFps, earlierFps), laterRows, d.addedWithoutValues);
    d.resolved = pick(missingFrom(earlierFps, laterFps), earlierRows, d.resolvedWithoutValues);
    return d;
}

RowDiff diffRuns(HistoryStore &store, qint64 earlierRunId, qint64 laterRunId, const QString &code)
{
    RowDiff d = diffRows(store.fingerprints(earlierRunId, code), store.rows(earlierRunId, code),
                         store.fingerprints(laterRunId, code), store.rows(laterRunId, code));
    d.columns = store.columns(laterRunId, code);
    if (d.columns.isEmpty())
        d.columns = store.columns(earlierRunId, code);
    return d;
}

} // namespace vireo::history
