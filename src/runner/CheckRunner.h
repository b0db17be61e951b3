#pragma once
#include "CheckRun.h"
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
};

struct AccountResult {
    QString account;
    QString year;
    QString database;
    QString error;            // the account could not be checked at all
    std::vector<ItemResult> items;
    double elapsedMs = 0;

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
