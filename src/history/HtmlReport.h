#pragma once
#include "HistoryStore.h"
#include <QString>
#include <vector>

namespace vireo::history {

// One item as the report shows it.
struct ReportItem {
    ItemRecord record;                 // status, count or error text, and the first rows
    ItemChange change;                 // against the earlier run, when known
    QString description;               // 描述.txt
    QString plan;                      // 方案.txt
    std::vector<TrendPoint> trend;     // recorded counts, oldest first
    std::vector<RepairRecord> repairs;
};

// One account database checked.
struct ReportSection {
    RunHeader header;
    QString account;
    QString year;
    QString error;                     // the account could not be checked
    QString historyNote;               // e.g. the history was not written
    std::vector<ReportItem> items;
};

struct ReportOptions {
    int rowLimit = 200;                // finding rows shown per item
};

// The texts of an item folder for the report: 描述.txt and 方案.txt (code page 936), lines joined.
void readItemTexts(const QString &programFolder, ReportItem &item);

// A whole report: one self-contained HTML page (inline CSS, no scripts, nothing fetched), every
// value escaped.
QString renderHtmlReport(const std::vector<ReportSection> &sections, const ReportOptions &options = {});

// A small line chart of the counts as inline SVG, with repairs marked.
QString trendSvg(const std::vector<TrendPoint> &points, const std::vector<RepairRecord> &repairs);

} // namespace vireo::history
