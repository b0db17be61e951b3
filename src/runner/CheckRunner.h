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
    QStringList years;
    QString operatorName;
    QString catalogue = QStringLiteral("Tools");
    Selection selection = Selection::Ticked;
    QStringList items;                     // with Selection::Listed
    QMap<QString, QStringList> params;     // stored-procedure values by item code, in row order
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
};

struct ItemResult {
    QString code;
    QString name;
    QString finding;          // "记录数：N", the Error text, or empty
    bool isCount = false;
    qint64 count = 0;
    QString problem;          // an error of this item's own statements
    QString skipped;          // why a stored-procedure item's procedure was not run
    QString exportFile;
    double elapsedMs = 0;
    history::TableCapture capture;        // fingerprints and first rows of the result table
    history::ItemChange change;           // against the earlier run
};

struct AccountResult {
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
};

// Why the given values do not fit the item's parameter lines; empty when they do.
QString validateParameters(const QString &scriptPath, const QStringList &values);

// Checks every account database (accounts × years) with up to options.jobs in parallel.
// progress receives one line per finished account.
std::vector<AccountResult> runAll(const Options &options, const QString &password,
                                  const std::function<void(const QString &)> &progress = {});

QString formatTable(const std::vector<AccountResult> &results);
QString formatCsv(const std::vector<AccountResult> &results);
QString formatJson(const std::vector<AccountResult> &results);

// 0 no findings, 1 findings, 2 errors.
int exitStatus(const std::vector<AccountResult> &results);

} // namespace vireo::runner
