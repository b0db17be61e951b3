#pragma once
#include "HistoryStore.h"
#include "ItemOutcome.h"

namespace vireo::history {

// The history's record of an item's outcome, with the rows captured while it held the lock. Only
// a checked item is a baseline of later comparisons; stopped and unreached items are kept as such.
ItemRecord itemRecordOf(const ItemOutcome &item, const TableCapture &capture);

// The header of a run as the history keeps it: the server's own name and the address typed.
RunHeader runHeaderOf(const RunIdentity &run);

} // namespace vireo::history
