#pragma once
#include "CheckRun.h"
#include "HistoryStore.h"
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace vireo::runner {

enum class Selection { Ticked, All, Listed };

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
    int itemTimeoutSeconds = 0;            // an item running longer is stopped with an error; 0: no limit
};

struct ItemResult {
    QString code;
    QString name;
    QString finding;          // "记录数：N", the Error text, or empty
    bool isCount = false;
    qint64 count = 0;
    QString problem;          // an error of this item: its script failed, a statement or the export failed
    QString notRun;           // why the item was not checked in this run (no finding, no count then)
    QString exportFile;
    double elapsedMs = 0;     // this item's own time
    history::TableCapture capture;        // fingerprints and first rows of the result table
    history::ItemChange change;           // against the earlier run

    // "error", "not_run" or "checked".
    QString status() const;
};

struct AccountResult {
    QString server;
    QString account;
    QString year;
    QString database;
    QString error;            // the account could not be checked at all
    std::vector<ItemResult> items;
    double elapsedMs = 0;
    QDateTime started;
    QDateTime ended;
    qint64 historyRun = 0;    // the run's id in the history
    QString historyError;     // why the history was not written or read
    bool compared = false;    // items carry a comparison with an earlier run (--compare)

    bool hasFindings() const;
    bool hasErrors() const;
    bool hasUnchecked() const;
};

// Splits the values of --param CODE:values at commas. A value in double quotes may hold commas;
// "" inside it is one quote. Sets *error when a quote is not closed.
QStringList splitParameterValues(const QString &text, QString *error);

// Checks the selection against the catalogue before anything runs: every --items code must be a
// runnable item and every --param code an item of the run; codes are matched without regard to
// case and given the catalogue's spelling. Returns the error, empty when all is well.
QString validateSelection(Options &options);

// Why the given values do not fit the item's parameter lines; empty when they do.
QString validateParameters(const QString &scriptPath, const QStringList &values);

// Checks every account database (accounts × years) with up to options.jobs in parallel; accounts
// on one server take turns per item through the server's check lock. progress receives one line
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

} // namespace vireo::runner
