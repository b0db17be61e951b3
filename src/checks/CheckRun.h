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

// Receives stored-procedure items (code, catalogue table) as the run meets them.
using ProcedureHandOff = std::function<void(const QString &key, const QString &treeName)>;

// Progress of a run: the item about to run, its position among the nodes and the node count.
using RunProgress = std::function<void(const TreeItemRef &item, int position, int count)>;

struct ItemProblem {
    QString code;
    QString name;
    QString message;
};

struct RunOutcome {
    std::vector<ItemProblem> problems;  // errors of the run's own statements, one per item
    std::vector<ItemProblem> scriptFailures;  // check scripts that stopped on an error (the run goes on)
    bool stopped = false;               // the account connection was lost; later items were not run
    int itemsRun = 0;
};

// The procedure name after the last "存储过程&&" marker line of a check script; empty when none.
QString GetProcedureName(const QString &scriptPath);

// The statements that turn the staging table into the item's result table.
QString dropResultSql(const QString &code);
QString copyResultSql(const QString &code);

// The item check: run 检查.SQL from the item folder, drop the old result table, copy tempdb..VUZ.
// Returns the script runner's result; the statements' own errors are thrown as db::DbError.
QString runItemCheck(const QString &code, const QString &itemFolder, db::Connection *account);

// Runs every ticked runnable item of the tree in pre-order.
RunOutcome RunChecks(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx,
                     const ProcedureHandOff &handOff = {}, const RunProgress &progress = {});

// One row of the result summary.
struct SummaryRow {
    QString code;
    QString name;
    QString finding;           // "记录数：" + count, or the Error text
    bool isCount = false;      // the finding is a row count
    qint64 count = 0;
};

struct Summary {
    std::vector<SummaryRow> rows;
    QString error;             // the query that stopped the summary, when one failed
};

QString errorProbeSql(const QString &code);
QString countSql(const QString &code);

// The summary rows of every ticked runnable item, in pre-order.
Summary BuildSummary(const std::vector<TreeItemRef> &nodes, const QString &treeName, const CheckContext &ctx);

} // namespace vireo
