#pragma once
#include "Fingerprint.h"
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

struct sqlite3;

namespace vireo::history {

enum class ItemStatus { Checked, Error, NotChecked, Cancelled };
QString statusName(ItemStatus s);   // "checked", "error", "not_checked", "cancelled"
ItemStatus statusFromName(const QString &name);

// The version of the tool that recorded a run.
QString toolVersion();

struct RunHeader {
    qint64 id = 0;
    QDateTime started;
    QDateTime ended;
    QString operatorName;
    QString server;            // the address typed
    QString database;
    QString catalogue;
    QString toolVersion;
    // The server's own name (@@SERVERNAME): runs are kept, listed and compared per server name and
    // database, so two servers with an account database of the same name keep apart. addRun takes
    // the typed address when it is empty.
    QString serverName;
};

// One item of a run as recorded.
struct ItemRecord {
    QString code;
    QString name;
    ItemStatus status = ItemStatus::NotChecked;
    qint64 count = 0;          // rows of the result table, when checked
    QString errorText;         // when status is Error
    double elapsedMs = 0;
    TableCapture capture;      // the finding rows, when checked
};

struct RunRecord {
    RunHeader header;
    std::vector<ItemRecord> items;
};

// An item as stored, without its fingerprints and rows.
struct StoredItem {
    QString code;
    QString name;
    ItemStatus status = ItemStatus::NotChecked;
    qint64 count = 0;
    QString errorText;
    double elapsedMs = 0;
    bool complete = true;
};

// One run's count of an item, for the trend.
struct TrendPoint {
    qint64 runId = 0;
    QDateTime started;
    qint64 count = 0;
};

// One repair as the journal keeps it (the repairs table of the history file). A count of -1
// means "not known" (no re-check yet). Never holds a password: nothing here receives one.
// Every member has its default, so designated initializers may leave any out.
struct RepairRecord {
    qint64 id = 0;
    QDateTime time{};          // local time the repair started
    QString operatorName{};
    QString server{};
    QString database{};
    QString code{};            // item code
    QString name{};            // item name
    QString scriptSha256{};    // hex SHA-256 of 修复.sql as it was read from disk
    bool succeeded = false;
    QString message{};         // the server's message when the repair stopped; empty on success
    qint64 before = -1;        // findings before the repair
    qint64 after = -1;         // findings after the re-check
};

// Hex SHA-256 of a file's bytes; empty when it cannot be read.
QString fileSha256(const QString &path);

// The local history of check runs and the repair journal: one SQLite file (WAL, busy time-out)
// that the window and any number of vireo-check processes write at the same time. Its schema
// version is the file's user_version. Every call reports failure through its
// return value and error(); nothing here throws, so a damaged, locked or read-only file can never
// stop a check. The password is not among what is stored.
class HistoryStore {
public:
    // {AppDataLocation of the window}/history.sqlite: the window and vireo-check share it.
    // setDefaultPath() puts it elsewhere (empty: back to the standard place).
    static QString defaultPath();
    static void setDefaultPath(const QString &path);

    explicit HistoryStore(QString path);
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    const QString &path() const { return m_path; }
    QString error() const { return m_error; }

    // Opens (creating the file and its tables when absent). False with error() when it cannot.
    bool open();

    // Records a run and prunes the runs of its server name and database to the newest keepRuns.
    // The run's id, or 0.
    qint64 addRun(const RunRecord &run, int keepRuns = 100);

    // Runs of one database on the server of that name (empty: on any server), newest first.
    std::vector<RunHeader> runs(const QString &serverName, const QString &database);
    std::optional<RunHeader> run(qint64 id);
    std::vector<StoredItem> items(qint64 runId);
    std::optional<StoredItem> item(qint64 runId, const QString &code);
    std::vector<quint64> fingerprints(qint64 runId, const QString &code);
    QStringList columns(qint64 runId, const QString &code);
    std::vector<FindingRow> rows(qint64 runId, const QString &code);

    // The newest run of the database on the named server (empty: any) before `beforeRunId` (0: any)
    // in which the item was checked (not in error, not run or stopped).
    std::optional<RunHeader> previousRunWithItem(const QString &serverName, const QString &database, const QString &code,
                                                 qint64 beforeRunId = 0);

    // The item's count over the runs of the database on the named server (empty: any) that checked
    // it, oldest first.
    std::vector<TrendPoint> trend(const QString &serverName, const QString &database, const QString &code);

    // The repair journal: repairs run from the report window, kept beside the runs (the trend
    // charts mark them). addRepair returns the record's id, or 0 with error().
    qint64 addRepair(const RepairRecord &record);
    // Records the findings of the re-check that followed a repair.
    bool setRepairAfter(qint64 id, qint64 after);
    // The repairs of a database (empty: of all) and item (empty: all items), newest first.
    std::vector<RepairRecord> repairs(const QString &database = {}, const QString &code = {});

private:
    bool fail(const QString &what);
    bool exec(const char *sql);
    bool createTables();
    sqlite3 *m_db = nullptr;
    QString m_path;
    QString m_error;
};

// How an item of a later run compares with the same item of an earlier one.
struct ItemChange {
    enum Kind { NotChecked, First, Compared };
    Kind kind = NotChecked;
    std::optional<RunHeader> earlier;
    qint64 previousCount = 0;
    qint64 added = 0;
    qint64 resolved = 0;
    bool partial = false;   // one side held more rows than were fingerprinted

    // "新增 3 · 消除 1（对比 2026-11-30 14:02）", "无变化", "首次检查", or empty.
    QString text() const;
    // Names the earlier run.
    QString toolTip() const;
};

ItemChange compareFingerprints(const RunHeader &earlier, qint64 earlierCount, const std::vector<quint64> &earlierFps,
                               bool earlierComplete, const std::vector<quint64> &laterFps, bool laterComplete);

// Compares an item just checked (not necessarily recorded) with its newest earlier recorded run
// of the same server name and database.
ItemChange compareWithPrevious(HistoryStore &store, const QString &serverName, const QString &database,
                               const ItemRecord &later, qint64 laterRunId = 0);
// Compares an item of a run with the same item of a given earlier run.
ItemChange compareWithRun(HistoryStore &store, qint64 earlierRunId, const ItemRecord &later);

// The rows behind a change: those only in the later run and those only in the earlier one.
struct RowDiff {
    QStringList columns;
    std::vector<FindingRow> added;
    std::vector<FindingRow> resolved;
    qint64 addedWithoutValues = 0;      // counted by fingerprint only (beyond the rows kept)
    qint64 resolvedWithoutValues = 0;
};

RowDiff diffRows(const std::vector<quint64> &earlierFps, const std::vector<FindingRow> &earlierRows,
                 const std::vector<quint64> &laterFps, const std::vector<FindingRow> &laterRows);
RowDiff diffRuns(HistoryStore &store, qint64 earlierRunId, qint64 laterRunId, const QString &code);

// "2026-11-30 14:02"
QString shortTime(const QDateTime &t);

} // namespace vireo::history
