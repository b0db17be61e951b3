#pragma once
#include "Connection.h"
#include "ItemOutcome.h"
#include <QElapsedTimer>
#include <QString>
#include <functional>
#include <optional>
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

// Progress of a run: the item about to run, its position among the nodes and the node count.
using RunProgress = std::function<void(const TreeItemRef &item, int position, int count)>;

// The text shown while another session on the server holds the check lock.
extern const QString kLockWaitText;
// The start of the Error row that a failed check script leaves in its result table.
extern const QString kScriptErrorPrefix;
// The reason given for a stored-procedure item whose procedure has not been executed.
extern const QString kProcedureNotRun;
// The reason given for the item that was running when a run was stopped.
extern const QString kStoppedReason;

// Raised when the wait for the server lock was given up.
class LockAbandoned : public db::DbError {
public:
    LockAbandoned();
};

// Holds the server-wide exclusive application lock (sp_getapplock in tempdb, owned by the session)
// under which an item's staging table, script, result table and summary read stay apart from every
// other session on the server. Taking it drops a tempdb..VUZ that an earlier holder left. A
// session that ends releases it by itself.
//
// Within a run the lock goes from item to item without batches of its own: the closing batch of
// an item releases it and at once requests it again for the next item (handOverSql); SQL Server
// grants a released application lock to a session already waiting first, so others still get
// their turn between two items.
class ServerLock {
public:
    // Called while another session holds the lock, before each further wait of a fraction of a
    // second; returning false gives up (LockAbandoned). Unset: wait as long as it takes.
    using Waiting = std::function<bool()>;
    // Takes the lock now.
    explicit ServerLock(db::Connection *conn, const Waiting &waiting = {});
    // Not taken yet: acquire() takes it.
    struct Deferred {};
    ServerLock(db::Connection *conn, Deferred, Waiting waiting);
    ~ServerLock();
    ServerLock(const ServerLock &) = delete;
    ServerLock &operator=(const ServerLock &) = delete;

    // Takes the lock unless a closing batch already took it again for this item.
    void acquire();
    // T-SQL for the end of a closing batch: releases the lock and, when another item follows,
    // requests it again at once (dropping the staging table when granted). Ends with one result
    // set, `select @handover as handover`: NULL when the batch did not release (condition false),
    // else the request's status (-100: released, nothing requested). With a condition the hand-over
    // happens only when it holds.
    QString handOverSql(bool another, const QString &condition = {}) const;
    // What the closing batch's result said: true when it released the lock (and may hold it again
    // for the next item); a batch cut short (nullopt) leaves the lock unknown.
    bool handedOver(const std::optional<db::Recordset> &result);
    // Releases now, in a batch of its own (and requests again for another item).
    void handOver(bool another);
    // After an error or a stop in the locked part: lets go of the lock whatever its state.
    void reset();

private:
    void release();
    db::Connection *m_conn;
    Waiting m_waiting;
    bool m_held = false;
    bool m_unknown = false;
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

// The result stamps' table: one row per code, who wrote tempdb..{code} last.
extern const QString kStampTable;

// Reads the server's own name (@@SERVERNAME; the typed address when the server has none) into
// the identity.
void readServerIdentity(db::Connection *account, RunIdentity &identity);

// The stamp of an item's result table; absent (no run id) when there is none.
ResultStamp readResultStamp(db::Connection *account, const QString &code);

// Where the rows of an item's result table come from when it is finished.
enum class ResultSource { Staging, AsWritten };

// The closing batch of an item, under the server lock: with ResultSource::Staging the old result
// table is replaced by tempdb..VUZ, or by one Error row with kScriptErrorPrefix + scriptError when
// the script failed; with AsWritten (a stored procedure wrote it) the table stays. Either way the
// stamp is removed first and written last, so a batch cut short leaves no stamp, and the count,
// the Error text and the stamp are read back into item.
// With lockTail (ServerLock::handOverSql) the same batch hands the lock on; its result is returned.
std::optional<db::Recordset> finishItemResult(db::Connection *account, const RunIdentity &run, ItemOutcome &item,
                                              ResultSource source, const QString &scriptError = {},
                                              const QString &lockTail = {});

// Runs 检查.SQL of the item folder; empty when the whole script ran, else why it stopped. A
// connection lost by the script is thrown as db::DbError.
QString runCheckScript(const QString &itemFolder, db::Connection *account);

// One item's check under the lock the caller holds: script, result table, stamp and count. The
// caller has set item.code and item.name; a script error makes the item an Error.
void checkItem(db::Connection *account, const RunIdentity &run, const QString &itemFolder, ItemOutcome &item);

// Keeps an item's own time, start and end, however its check ends (from construction to the end
// of the scope, the lock wait before it excluded).
class ItemClock {
public:
    explicit ItemClock(ItemOutcome &item);
    ~ItemClock();
    ItemClock(const ItemClock &) = delete;
    ItemClock &operator=(const ItemClock &) = delete;

private:
    ItemOutcome &m_item;
    QElapsedTimer m_clock;
};

// What a caller adds to a run.
struct RunHooks {
    RunProgress progress;
    ServerLock::Waiting waiting;
    // A stored-procedure item whose check script ran, under its lock; the item says
    // kProcedureNotRun. Returns true when it executed the procedure (the result is then read
    // again); otherwise it may set the item's state and reason.
    std::function<bool(ItemOutcome &item, db::Connection *account)> procedure;
    // Each item with findings, still under its lock, after its result was read (captures,
    // exports). Without it the closing batch of every item hands the lock on.
    std::function<void(ItemOutcome &item, db::Connection *account)> checked;
    // The item that was running when the statement was cancelled, state Cancelled and reason
    // kStoppedReason: may set the reason; true goes on with the next item (a time-out of one item).
    std::function<bool(ItemOutcome &item)> cancelled;
};

// Runs every ticked runnable item of the tree in pre-order, each under the ServerLock, and keeps
// one outcome per ticked runnable item. identity names what the run describes: its server (read
// here), database, operator, catalogue; the run id and times are set here.
CheckRunRecord RunChecks(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                         RunIdentity identity, const RunHooks &hooks = {});

QString countSql(const QString &code);

} // namespace vireo
