#pragma once
// Shared by the workbook writers: how a snapshot value becomes a worksheet cell.
#include "DisplayWidth.h"
#include "Export.h"
#include <QString>
#include <string>
#include <vector>

namespace vireo::exportcells {

enum class Kind { Empty, Text, Number, Boolean, Date, DateTime };

struct Cell {
    Kind kind = Kind::Empty;
    double number = 0;   // Number; Date/DateTime as an Excel serial (1900 date system)
    bool flag = false;   // Boolean
    QString text;        // Text
};

// Reads cells of one snapshot and keeps the widest display text of the fitted columns.
class CellReader {
public:
    // With textWidthByCaller the widths of Text cells are left to the caller (noteWidth).
    explicit CellReader(const db::Recordset &rs, bool textWidthByCaller = false);

    void read(qint64 row, int col, Cell &cell);
    void noteHeader(int col, const QString &name);
    bool fitted(int col) const { return col < int(m_widths.size()); }
    void noteWidth(int col, int cells) { note(col, cells); }
    // The widest display text seen per fitted column, in half-width cells.
    const std::vector<int> &widths() const { return m_widths; }

private:
    void note(int col, int cells)
    {
        if (col < int(m_widths.size()) && cells > m_widths[size_t(col)])
            m_widths[size_t(col)] = cells;
    }
    const db::Recordset &m_rs;
    bool m_textWidthByCaller;
    std::vector<int> m_widths;
};

// Excel serial of a date and time held as milliseconds since 1970-01-01 (no time zone);
// false when Excel cannot hold it (before 1900-01-01).
bool excelSerial(qint64 msecs, double &serial, bool &dateOnly);

// Characters of a number as Excel's General format shows it (at most 15 significant digits).
int numberWidth(double v);

// UTF-8 of a text into a reused buffer (NUL-terminated), with its display width when asked.
void toUtf8(const QString &text, qsizetype maxChars, std::string &out, int *width);

// Decimal places of a decimal's text as the grid shows it ("3860.00": 2), at most kMaxDecimals;
// its cells carry the number format decimalFormatCode(places): "0", "0.0", "0.00", ...
constexpr int kMaxDecimals = 30;
int decimalPlaces(const QString &text);
QString decimalFormatCode(int places);

// Characters a worksheet cell holds in either format.
constexpr qsizetype kMaxCellText = 32767;

// Throws ExportError when a cell text is longer than a cell holds: it is never cut silently.
void checkCellText(const QString &text, qint64 sheetRow, const QString &column);

} // namespace vireo::exportcells
