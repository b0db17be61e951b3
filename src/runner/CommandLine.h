#pragma once
#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

namespace vireo::runner {

// The options of `vireo-check` that checks accounts; the parser and --help take them from here.
struct CheckOptions {
    QCommandLineOption server, account, year, operatorName, catalogue, items, all, param, format, rows, exportDir,
        exportFormat, jobs, folder, noHistory, historyFile, historyKeep, compare, output, reportRows, bom, noBom, timeout;
    CheckOptions();
    QList<QCommandLineOption> list() const;
};

// `vireo-check history`: the recorded runs of one database.
struct HistoryOptions {
    QCommandLineOption database, historyFile, serverName;
    HistoryOptions();
    QList<QCommandLineOption> list() const;
};

// `vireo-check lint`: the catalogue's mistakes, without a server.
struct LintOptions {
    QCommandLineOption folder, catalogue, format;
    LintOptions();
    QList<QCommandLineOption> list() const;
};

// The values --format takes for a check run.
QStringList checkFormats();

// The subcommands, each with its usage line.
QStringList subcommandUsages();

// The text above the options of `vireo-check --help`: what it does, the subcommands with their
// options, the formats and the exit statuses.
QString checkDescription();

} // namespace vireo::runner
