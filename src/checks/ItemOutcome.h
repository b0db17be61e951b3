#pragma once
#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace vireo {

// What an item's check came to in one run. Every view (summary grid, change column, history, HTML
// report, runner output, report window, repair confirmation, re-check, export) reads this; display
// texts are made from it and never read back.
enum class ItemState {
    Checked,     // the check ran to its end; count is the result table's row count
    Error,       // the script or one of the run's statements failed, or the result holds an Error text
    NotRun,      // not checked in this run (no script, procedure not executed, not reached); reason says why
    Cancelled,   // the check was stopped while it ran (停止, Ctrl-C, a time-out, a silent server)
    Repaired,    // repaired since it was checked; the count is from before the repair
};

// "checked", "error", "not_run", "cancelled", "repaired"
QString itemStateName(ItemState state);

// Who wrote an item's result table tempdb..{code}: every database on a server shares that table,
// so the batch that writes it stamps it under the server lock (tempdb..VireoResult, keyed by code).
struct ResultStamp {
    QString server;        // @@SERVERNAME of the server that holds the table
    QString database;      // the account database the check ran on
    QString runId;         // the run that wrote it
    QDateTime checkedAt;   // the server's clock when it was written
    bool present() const { return !runId.isEmpty(); }
    bool sameResult(const ResultStamp &other) const
    {
        return present() && runId == other.runId && server.compare(other.server, Qt::CaseInsensitive) == 0
               && database.compare(other.database, Qt::CaseInsensitive) == 0;
    }
};

// The account number in a database name QZdata_{account}_{year}; the whole name otherwise.
QString accountOfDatabase(const QString &database);

// Why rows under `found` are not the result `expected` describes; empty when they are.
// "该结果已被账套 002 于 10:02 的检查覆盖，请重新检查" and the like.
QString resultOwnershipProblem(const ResultStamp &expected, const ResultStamp &found);

struct ItemOutcome {
    QString code;
    QString name;
    ItemState state = ItemState::NotRun;
    qint64 count = 0;        // Checked and Repaired: rows of the result table
    QString errorText;       // Error: the server's message or the result's Error text
    QString reason;          // NotRun, Cancelled, Repaired: why, for tool tips and outputs
    bool scriptFailed = false;  // Error because the check script stopped on an error
    bool procedure = false;     // the check script carries the stored-procedure marker
    double elapsedMs = 0;       // the item's own time (lock wait excluded), also when stopped
    QDateTime started;
    QDateTime ended;
    ResultStamp result;         // the result table this outcome describes; absent when none was written

    // "记录数：N", the error text, or empty.
    QString finding() const;
    bool hasFindings() const { return (state == ItemState::Checked || state == ItemState::Repaired) && count > 0; }
};

// What identifies a run and what it describes.
struct RunIdentity {
    QString runId;          // unique per run
    QString server;         // the server's own name (@@SERVERNAME); the address typed when it has none
    QString address;        // the address the user typed
    QString database;
    QString operatorName;
    QString catalogue;
    QDateTime started;
    QDateTime ended;
};

// A new run id: time and a random part, unique across processes and machines.
QString newRunId();

enum class RunEnd {
    Completed,
    Cancelled,        // stopped by request; the rest was not run
    ConnectionLost,   // the account connection went away; the rest was not run
    LockAbandoned,    // the wait for the server lock was given up; the rest was not run
};

// One run of the checks on one account database: every ticked runnable item, in tree order.
struct CheckRunRecord {
    RunIdentity identity;
    std::vector<ItemOutcome> items;
    RunEnd end = RunEnd::Completed;
    QString endText;         // why the run ended early

    ItemOutcome *find(const QString &code);
    const ItemOutcome *find(const QString &code) const;
};

} // namespace vireo
