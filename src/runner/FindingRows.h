#pragma once
#include "Recordset.h"
#include <QJsonObject>
#include <QString>

namespace vireo::runner {

// How an item's findings are written by --export.
enum class FindingsFormat { Xlsx, Csv, Json };

// "xlsx", "csv" or "json"; false for anything else.
bool parseFindingsFormat(const QString &name, FindingsFormat *format);
QString findingsExtension(FindingsFormat format);

// RFC 4180: a field with a comma, a quote or a line break goes in quotes, its quotes doubled; the
// line breaks stay, as spreadsheets and CSV readers expect.
QString csvField(const QString &s);

// Up to maxRows rows of a result table for scripts: {"columns": [{"name", "type"}], "rows": [[...]]}
// with numbers as numbers, bit as true/false, NULL as null, dates as ISO text and the rest as text.
QJsonObject findingsJson(const db::Recordset &rs, qint64 maxRows = -1);

// Every row as CSV: a header line with the column names, then one line per row (NULL is empty).
QString findingsCsv(const db::Recordset &rs, bool byteOrderMark);

// Writes the findings to path in the format; empty on success, otherwise why not. A missing folder
// is created; an earlier file of that name keeps its content when writing fails.
QString writeFindings(const db::Recordset &rs, const QString &path, FindingsFormat format, bool csvByteOrderMark);

} // namespace vireo::runner
