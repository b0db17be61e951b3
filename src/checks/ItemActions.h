#pragma once
#include "CheckRun.h"

namespace vireo {

// What one item's actions outside a check run come to: a re-check, a repair, a procedure run and
// the read of its findings. Each reads or writes the result table under the rules of the run:
// the server lock while it writes, and the stamp, so that another database's rows are never
// taken for this one's. No widgets here: the windows call these on the account worker.

// Called under the lock once a check outside a run has read its result (the history's capture).
using ItemHook = std::function<void(ItemOutcome &item, db::Connection *account)>;

// The item's rows and count when the stamp still says they are `expected`'s.
struct FindingsRead {
    QString refused;   // why nothing was read (the table was overwritten or is gone); empty when read
    qint64 count = 0;
};

// The rows of the item's result table, or one column 空 with one empty row when it is missing.
QString reportRowsSql(const QString &code);

// Reads the stamp, the rows into sink and the stamp again: rows that another session replaced
// while they were read are refused too. Without a lock, so a long read never holds the server.
FindingsRead readFindings(db::Connection *account, const ResultStamp &expected, const QString &code,
                          db::RowSink &sink);

// Checks one item again under the server lock: its new outcome, with a new run id in `run`'s
// identity (server, database). Thrown: LockAbandoned; db::DbError for a lost connection or a stop.
ItemOutcome recheckItem(db::Connection *account, const RunIdentity &run, const QString &programFolder,
                        const QString &code, const QString &name, const ServerLock::Waiting &waiting = {},
                        const ItemHook &checked = {});

struct RepairResult {
    QString refused;       // nothing was run: the findings are not `expected`'s any more
    bool finished = false; // every batch of 修复.sql ran
    QString error;         // the server's message or why it stopped, when it did not finish
    int batchesDone = 0;   // batches that completed
    bool stopped = false;  // stopped by request (the remaining batches were not sent)
};

// Runs 修复.sql of the item folder under the server lock, once the stamp has shown that the
// result table still holds `expected`'s findings (repair scripts may read them).
RepairResult repairItem(db::Connection *account, const ResultStamp &expected, const QString &code,
                        const QString &itemFolder, const ServerLock::Waiting &waiting = {});

// Executes a stored-procedure item's Exec statement under the server lock and reads the table it
// wrote: the item's new outcome, stamped with a new run id in `run`'s identity.
ItemOutcome runProcedureItem(db::Connection *account, const RunIdentity &run, const QString &code,
                             const QString &name, const QString &execSql, const ServerLock::Waiting &waiting = {},
                             const ItemHook &checked = {});

} // namespace vireo
