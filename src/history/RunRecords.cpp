#include "RunRecords.h"

namespace vireo::history {

ItemRecord itemRecordOf(const ItemOutcome &item, const TableCapture &capture)
{
    ItemRecord rec;
    rec.code = item.code;
    rec.name = item.name;
    rec.elapsedMs = item.elapsedMs;
    switch (item.state) {
    case ItemState::Checked:
        rec.status = ItemStatus::Checked;
        rec.count = item.count;
        rec.capture = capture;
        break;
    case ItemState::Error:
        rec.status = ItemStatus::Error;
        rec.errorText = item.errorText;
        break;
    case ItemState::Cancelled:
        rec.status = ItemStatus::Cancelled;
        rec.errorText = item.reason;
        break;
    case ItemState::NotRun:
    case ItemState::Repaired:
        rec.status = ItemStatus::NotChecked;
        rec.errorText = item.reason;
        break;
    }
    return rec;
}

RunHeader runHeaderOf(const RunIdentity &run)
{
    RunHeader h;
    h.started = run.started;
    h.ended = run.ended.isValid() ? run.ended : QDateTime::currentDateTime();
    h.operatorName = run.operatorName;
    h.server = run.address;
    h.serverName = run.server;
    h.database = run.database;
    h.catalogue = run.catalogue;
    return h;
}

} // namespace vireo::history
