#pragma once
#include "Connection.h"
#include <QString>
#include <functional>
#include <vector>

namespace vireo {

// A node of the catalogue tree, in the tree's pre-order.
struct TreeItemRef {
    QString key;   // cCode
    QString text;  // cName
    bool checked = false;
};

// Where the run reads and writes.
struct CheckContext {
    QString programFolder;
    db::Connection *catalog = nullptr;
    db::Connection *account = nullptr;
};

// Receives stored-procedure items (code, catalogue table) as the run meets them, while the item
// holds the server lock: a handler that executes the procedure does so before the result is read.
using ProcedureHandOff = std::function<void(const QString &key, const QString &treeName)>;

// Progress of a run: the item about to run, its position among the nodes and the node count.
using RunProgress = std::function<void(const TreeItemRef &item, int position, int count)>;

struct ItemProblem {
    QString code;
    QString name;
    QString message;
};

// One row of the result summary.
struct SummaryRow {
    QString code;
    QString name;
    QString finding;           // "记录数：" + count, or the Error text
    bool isCount = false;      // the finding is a row count
    qint64 count = 0;
    QString notChecked;        // why the item was not checked in this run; empty when it was
    bool staleResult = false;  // with notChecked: the finding is what an earlier run left
    bool procedure = false;    // the check script carries the stored-procedure marker
    double elapsedMs = 0;      // the item's own time in the run (lock wait excluded)
};

struct RunOutcome {
    std::vector<ItemProblem> problems;  // errors of the run's own statements, one per item
    std::vector<ItemProblem> scriptFailures;  // check scripts that stopped on an error (the run goes on)
    std::vector<ItemProblem> notRun;    // runnable ticked items that were not checked, with the reason
    std::vector<SummaryRow> rows;       // each checked item's summary row, read while it held the lock
    bool stopped = false;               // the account connection was lost; later items were not run
    bool abandoned = false;             // the wait for the server lock was given up; later items were not run
    int itemsRun = 0;
    bool cancelled = false;             // the run was stopped by request (cancel on the account connection)
    TreeItemRef cancelledAt;            // the item that was running then; later items were not run
};

// The text shown while another session on the server holds the check lock.
extern const QString kLockWaitText;
// The start of the Error row that a failed check script leaves in its result table.
extern const QString kScriptErrorPrefix;
// The reason given for a stored-procedure item whose procedure has not been executed.
extern const QString kProcedureNotRun;

// Raised when the wait for the server lock was given up.
class LockAbandoned : public db::DbError {
public:
    LockAbandoned();
};

// Holds the server-wide exclusive application lock (sp_getapplock in tempdb, owned by the session)
// under which an item's staging table, script, result table and summary read stay apart from every
// other session on the server. Taking it drops a tempdb..VUZ that an earlier holder left. A
// session that ends releases it by itself.
class ServerLock {
public:
    // Called while another session holds the lock, before each further wait of a fraction of a
    // second; returning false gives up (LockAbandoned). Unset: wait as long as it takes.
    using Waiting = std::function<bool()>;
    explicit ServerLock(db::Connection *conn, const Waiting &waiting = {});
    ~ServerLock();
    ServerLock(const ServerLock &) = delete;
    ServerLock &operator=(const ServerLock &) = delete;

private:
    db::Connection *m_conn;
};

// SQL text of a name as a bracketed identifier ([co]]de]) and of a text as an N'' literal.
QString sqlIdentifier(const QString &name);
QString sqlText(const QString &text);

// Why a catalogue code cannot name a result table (empty, over 116 characters, control
// characters); empty when it can.
QString invalidCodeReason(const QString &code);

// The procedure name after the last "存储过程&&" marker line of a check script; empty when none.
QString GetProcedureName(const QString &scriptPath);

// The statements that turn the staging table into the item's result table.
QString dropStagingSql();
QString dropResultSql(const QString &code);
QString copyResultSql(const QString &code);
// The result table holding one Error row with the message.
QString errorResultSql(const QString &code, const QString &message);

// The item check: run 检查.SQL from the item folder, drop the old result table, then copy
// tempdb..VUZ — or, when the script failed, leave one Error row with kScriptErrorPrefix + the
// server's message. Returns the script runner's result; the statements' own errors, and a
// connection lost by the script, are thrown as db::DbError. The caller holds the ServerLock,
// which starts by dropping a tempdb..VUZ left by an earlier holder.
QString runItemCheck(const QString &code, const QString &itemFolder, db::Connection *account);

// Called for each checked item while it still holds the lock, after its summary row was read.
using ItemChecked = std::function<void(SummaryRow &row)>;

// Runs every ticked runnable item of the tree in pre-order, each under the ServerLock, and reads
// each checked item's summary row before letting the lock go.
RunOutcome RunChecks(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                     const ProcedureHandOff &handOff = {}, const RunProgress &progress = {},
                     const ServerLock::Waiting &waiting = {}, const ItemChecked &checked = {});

struct Summary {
    std::vector<SummaryRow> rows;
    QString error;             // the query that stopped the summary, when one failed
};

QString errorProbeSql(const QString &code);
QString countSql(const QString &code);

// The summary row of one item from its result table. Errors pass on as db::DbError.
SummaryRow readSummaryRow(const TreeItemRef &node, db::Connection *account);

// The summary rows of every ticked runnable item, in pre-order. With the outcome of the run just
// made, the rows read during the run are used and items the run did not check are marked so.
Summary BuildSummary(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                     const RunOutcome *run = nullptr);

} // namespace vireo
