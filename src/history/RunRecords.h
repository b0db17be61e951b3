#pragma once
#include "HistoryStore.h"
#include "ItemOutcome.h"

namespace vireo::history {

// The history's record of an item's outcome, with the rows captured while it held the lock. Only
// a checked item is a baseline of later comparisons; stopped and unreached items are kept as such.
ItemRecord itemRecordOf(const ItemOutcome &item, const TableCapture &capture);

// The header of a run as the history keeps it: the server's own name and the address typed.
RunHeader runHeaderOf(const RunIdentity &run);

// The capture of the newest run of the same server and database that checked the item, when it
// recorded the digest the server gives now: its rows need not be read again.
CarryOver carryOverFrom(const QString &historyFile, const ResultStamp &result, const QString &code);

} // namespace vireo::history
