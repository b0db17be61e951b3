#pragma once
#include "CheckRun.h"
#include "FindingRows.h"
#include "HistoryStore.h"
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QJsonObject>
#include <functional>
#include <optional>
#include <vector>

namespace vireo::runner {

enum class Selection { Ticked, All, Listed };

// One account database of a run: QZdata_{account}_{year} on server.
struct AccountTarget {
    QString server;
    QString account;
    QString year;
};

// The number of the JSON output's layout; raised whenever a key changes.
constexpr int kJsonSchemaVersion = 2;

struct Options {
    QString server;
    QStringList accounts;
    QStringList accountServers;            // the server of each entry of accounts; empty: all on server
    QStringList years;
    QString operatorName;
    QString catalogue = QStringLiteral("Tools");
    Selection selection = Selection::Ticked;
    QStringList items;                     // with Selection::Listed
    QMap<QString, QStringList> params;     // stored-procedure values by item code, in row order
                                           // (validateSelection gives codes the catalogue's spelling)
    QString exportDir;                     // empty: no export
    FindingsFormat exportFormat = FindingsFormat::Xlsx;
    bool csvByteOrderMark = true;          // CSV files and output start with a UTF-8 byte-order mark
    int findingRows = -1;                  // finding rows per item in json (--rows); -1: none read
    std::vector<AccountTarget> targets = {};   // the databases to check; empty: accounts × years
    int jobs = 1;
    QString programFolder;
    QString importerPath;                  // empty: beside the executable
    // Run history.
    bool history = true;                   // record the run (--no-history: false)
    QString historyFile;                   // empty: the shared default file
    int historyKeep = 100;                 // runs kept per database
    QString compare;                       // "last", a run id, or empty: no comparison output
    bool captureRows = false;              // read the finding rows (for an HTML report)
    int reportRows = 200;                  // finding rows per item in the HTML report
    int itemTimeoutSeconds = 0;            // an item running longer is stopped, the next one runs; 0: no limit
};

// One item of an account's run: the run's outcome of the item and what only the runner adds.
struct ItemResult {
    ItemOutcome outcome;
    QString exportFile;
    history::TableCapture capture;        // fingerprints and first rows of the result table
    history::ItemChange change;           // against the earlier run
    std::optional<QJsonObject> findingRows; // the first --rows rows of the result table (findingsJson)

    // "checked", "error", "not_run" or "cancelled".
    QString status() const { return itemStateName(outcome.state); }
    // Error: the check could not be made or its result not used (script, statement, export, bad
    // code); not when the check itself answered with an Error text in its result table.
    bool failed() const;
    // What the item came to, never empty: "记录数：N", the Error text, or why it was not checked.
    QString finding() const;
};

struct AccountResult {
    QString server;           // the address typed
    QString account;
    QString year;
    QString database;
    RunIdentity identity;     // the run as the core recorded it: server name, run id, times
    RunEnd end = RunEnd::Completed;
    QString error;            // the account could not be checked at all, or its connection was lost
    std::vector<ItemResult> items;
    double elapsedMs = 0;
    QDateTime started;
    QDateTime ended;
    qint64 historyRun = 0;    // the run's id in the history
    QString historyError;     // why the history was not written or read
    bool compared = false;    // items carry a comparison with an earlier run (--compare)

    bool hasFindings() const;
    bool hasErrors() const;    // account errors, failed items, items stopped by a time-out or a silent server
    bool hasUnchecked() const;
};

// Stops the run as 停止 does: each account's running statement is cancelled on the server through
// its RunGuard, that item is cancelled with the reason, the account's other items and the accounts
// not yet started are not run. Any thread may call it, not a signal handler.
void requestStop(const QString &reason);
bool stopRequested();

// Splits the values of --param CODE:values at commas. A value in double quotes may hold commas;
// "" inside it is one quote. Sets *error when a quote is not closed.
QStringList splitParameterValues(const QString &text, QString *error);

// Checks the selection against the catalogue before anything runs: every --items code must be a
// runnable item and every --param code an item of the run; codes are matched without regard to
// case and given the catalogue's spelling. Returns the error, empty when all is well.
QString validateSelection(Options &options);

// Why the given values do not fit the item's parameter lines; empty when they do.
QString validateParameters(const QString &scriptPath, const QStringList &values);

// The databases of a run: options.targets when given, else each year × each account. An account
// "all" stands for every QZdata_{digits}_{year} database its server lists in sys.databases, in the
// order of the account numbers; they are read over a login to master. Sets *error (and returns
// nothing) when a server cannot be asked or holds no database of a year.
std::vector<AccountTarget> resolveTargets(const Options &options, const QString &password, QString *error);

// The account numbers of the QZdata_{digits}_{year} names among databases, in numeric order.
QStringList accountsOfYear(const QStringList &databases, const QString &year);

// Checks every account database (resolveTargets) with up to options.jobs in parallel. A worker
// takes the next account of a server that no other worker is checking (servers in turn, each
// server's accounts in command-line order), so that the workers spread over the servers rather
// than queue on one server's check lock; with fewer servers than workers some wait their turn.
// Another tool on the same server still takes turns per item through the lock. progress receives one line
// per finished account and a line when an account waits for another tool on its server.
// finished receives the account's result as soon as it is complete (from the thread that checked
// it, one call at a time).
std::vector<AccountResult> runAll(const Options &options, const QString &password,
                                  const std::function<void(const QString &)> &progress = {},
                                  const std::function<void(const AccountResult &)> &finished = {});

QString formatTable(const std::vector<AccountResult> &results);
QString formatCsv(const std::vector<AccountResult> &results);
QString formatJson(const std::vector<AccountResult> &results);

// 2 errors; else 1 findings; else 3 some requested items were not checked; else 0.
int exitStatus(const std::vector<AccountResult> &results);

// The reason a stopped item is given: "已被中断（Ctrl-C）" for SIGINT, "已被中断（SIGTERM）" otherwise.
QString interruptReason(int signalNumber);

} // namespace vireo::runner
