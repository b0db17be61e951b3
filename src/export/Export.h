#pragma once
#include "Recordset.h"
#include <QString>
#include <functional>
#include <stdexcept>
#include <vector>

namespace vireo {

// A failed export; message() says why, in the user's language.
class ExportError : public std::runtime_error {
public:
    explicit ExportError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// Called after each record has been written with the number of records written so far.
using ExportProgress = std::function<void(qint64 done)>;

enum class ExportFormat { Xls, Xlsx };

// The records to write, as row numbers of the snapshot in the order they are written; a null
// order writes every record in the snapshot's order.
using RowOrder = std::vector<qint64>;

// .xlsx by its extension (any letter case); every other name gets an Excel 97-2003 workbook.
ExportFormat exportFormatFor(const QString &path);

// Only the columns A to Z are fitted to their contents.
constexpr int kFittedColumns = 26;

// Column width, in character units, for a column whose widest display text (header included)
// is `cells` half-width cells wide. 0 means the column keeps its default width.
double fittedColumnWidth(int cells);

// Creates the folder and any missing folders above it. Empty when the folder exists afterwards,
// otherwise why it could not be created ("无法创建文件夹 …：没有权限" and the like).
QString createFolder(const QString &folder);

// Writes the snapshot as one worksheet: field names in row 1 on a bright green fill (colour 4 of
// the standard palette), every record from row 2 down, numbers as numbers, NULL as an empty cell,
// columns A to Z fitted. In .xlsx the header row is frozen and carries an autofilter, decimal
// values keep the decimals they have in the grid (3860.00 is the number 3860 formatted 0.00) and
// integers are formatted as integers. The workbook is built under a temporary name in the target folder and
// renamed over the target at the end, so on failure an earlier file keeps its content. A missing
// target folder is created; a read-only target file is refused, never replaced. Failures name the
// target file, and a full disk says "磁盘空间不足".
// Returns an empty text on success, otherwise why the export failed.
QString exportRecordset(const db::Recordset &rs, const QString &path, const ExportProgress &progress = {},
                        const RowOrder *order = nullptr);

// The writers themselves, writing straight to the path; they throw ExportError.
void writeXlsx(const db::Recordset &rs, const QString &path, const ExportProgress &progress = {}, const RowOrder *order = nullptr);
void writeXls(const db::Recordset &rs, const QString &path, const ExportProgress &progress = {}, const RowOrder *order = nullptr);

} // namespace vireo
