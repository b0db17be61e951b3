#pragma once
#include "CheckRunner.h"
#include "HistoryStore.h"

namespace vireo::runner {

// The history record of an item as the run left it.
history::ItemRecord historyRecord(const ItemResult &item);

// Reads a checked item's result table (fingerprints and first rows) when the options want history,
// a comparison or a report. A failing read gives a capture marked incomplete; a stop or a lost
// connection is thrown on.
history::TableCapture captureFindings(const Options &o, db::Connection *conn, const ItemOutcome &item);

// Compares the account's items with the earlier run the options name and records the run, unless
// the options say not to. Failures end up in r.historyError; the results stay as they are.
void recordHistory(const Options &o, AccountResult &r);

// One self-contained HTML report of every account checked.
QString formatHtml(const std::vector<AccountResult> &results, const Options &o);

// The lines of `vireo-check history --database NAME [--server-name NAME]` (empty: every server).
QString formatHistoryList(const QString &historyFile, const QString &database, const QString &serverName, QString *error);

} // namespace vireo::runner
