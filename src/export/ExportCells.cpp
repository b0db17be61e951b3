#include "ExportCells.h"
#include "Export.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace vireo::exportcells {

namespace {
constexpr qint64 kDayMs = 86400000;

int digits(qint64 v)
{
    int n = v < 0 ? 2 : 1;
    quint64 u = v < 0 ? quint64(0) - quint64(v) : quint64(v);
    while (u >= 10) {
        u /= 10;
        ++n;
    }
    return n;
}
} // namespace

int numberWidth(double v)
{
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    return int(res.ptr - buf);
}

void toUtf8(const QString &text, qsizetype maxChars, std::string &out, int *width)
{
    const qsizetype n = std::min(text.size(), maxChars);
    const char16_t *p = reinterpret_cast<const char16_t *>(text.utf16());
    out.resize(size_t(n) * 3 + 1);
    char *o = out.data();
    int w = 0;
    for (qsizetype i = 0; i < n; ++i) {
        char32_t u = p[i];
        if (u < 0x80) {
            *o++ = char(u);
            ++w;
            continue;
        }
        if (width)
            w += isDoubleByte(char16_t(u)) ? 2 : 1;
        if (u < 0x800) {
            *o++ = char(0xC0 | (u >> 6));
            *o++ = char(0x80 | (u & 0x3F));
            continue;
        }
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            if (width)
                w += 1;
            u = 0x10000 + ((u - 0xD800) << 10) + (p[++i] - 0xDC00);
            *o++ = char(0xF0 | (u >> 18));
            *o++ = char(0x80 | ((u >> 12) & 0x3F));
            *o++ = char(0x80 | ((u >> 6) & 0x3F));
            *o++ = char(0x80 | (u & 0x3F));
            continue;
        }
        if (u >= 0xD800 && u <= 0xDFFF)
            u = 0xFFFD;   // a lone surrogate
        *o++ = char(0xE0 | (u >> 12));
        *o++ = char(0x80 | ((u >> 6) & 0x3F));
        *o++ = char(0x80 | (u & 0x3F));
    }
    *o = '\0';
    out.resize(size_t(o - out.data()));
    if (width)
        *width = w;
}

bool excelSerial(qint64 msecs, double &serial, bool &dateOnly)
{
    const qint64 rem = ((msecs % kDayMs) + kDayMs) % kDayMs;
    dateOnly = rem == 0;
    serial = double(msecs) / double(kDayMs) + 25569.0;   // days since 1899-12-30
    if (serial < 61.0)                                    // Excel counts a 29 February 1900
        serial -= 1.0;
    return serial >= 1.0;
}

CellReader::CellReader(const db::Recordset &rs, bool textWidthByCaller) : m_rs(rs), m_textWidthByCaller(textWidthByCaller)
{
    m_widths.assign(size_t(std::min(rs.columnCount(), kFittedColumns)), 0);
}

void CellReader::noteHeader(int col, const QString &name)
{
    note(col, DisplayWidth(name));
}

void CellReader::read(qint64 row, int col, Cell &cell)
{
    const bool fitted = col < int(m_widths.size());
    if (m_rs.isNull(row, col)) {
        cell.kind = Kind::Empty;
        return;
    }
    switch (m_rs.column(col).type) {
    case db::ColumnType::Integer: {
        const qint64 v = m_rs.integer(row, col);
        cell.kind = Kind::Number;
        cell.number = double(v);
        if (fitted)
            note(col, digits(v));
        return;
    }
    case db::ColumnType::Real: {
        cell.kind = Kind::Number;
        cell.number = m_rs.number(row, col);
        if (!std::isfinite(cell.number)) {
            cell.kind = Kind::Text;
            cell.text = m_rs.text(row, col);
            if (fitted)
                note(col, DisplayWidth(cell.text));
        } else if (fitted) {
            note(col, numberWidth(cell.number));
        }
        return;
    }
    case db::ColumnType::Decimal: {
        cell.text = m_rs.text(row, col);
        bool ok = false;
        const double v = cell.text.toDouble(&ok);
        if (ok && std::isfinite(v)) {
            cell.kind = Kind::Number;
            cell.number = v;
        } else {
            cell.kind = Kind::Text;
        }
        if (fitted)
            note(col, DisplayWidth(cell.text));
        return;
    }
    case db::ColumnType::Boolean:
        cell.kind = Kind::Boolean;
        cell.flag = m_rs.integer(row, col) != 0;
        if (fitted)
            note(col, cell.flag ? 4 : 5);   // TRUE / FALSE
        return;
    case db::ColumnType::DateTime: {
        bool dateOnly = false;
        if (excelSerial(m_rs.integer(row, col), cell.number, dateOnly)) {
            cell.kind = dateOnly ? Kind::Date : Kind::DateTime;
            if (fitted)
                note(col, dateOnly ? 10 : 19);
            return;
        }
        cell.kind = Kind::Text;
        cell.text = m_rs.text(row, col);
        if (fitted)
            note(col, DisplayWidth(cell.text));
        return;
    }
    default:
        cell.kind = Kind::Text;
        cell.text = m_rs.text(row, col);
        if (fitted && !m_textWidthByCaller)
            note(col, DisplayWidth(cell.text));
        return;
    }
}

void checkCellText(const QString &text, qint64 sheetRow, const QString &column)
{
    if (text.size() > kMaxCellText)
        throw ExportError(QStringLiteral("第 %1 行“%2”列的文字有 %3 个字符，超出 Excel 单元格最多能保存的 %4 个字符")
                              .arg(sheetRow)
                              .arg(column)
                              .arg(text.size())
                              .arg(kMaxCellText));
}

int decimalPlaces(const QString &text)
{
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (dot < 0)
        return 0;
    qsizetype end = dot + 1;
    while (end < text.size() && text[end].isDigit())
        ++end;
    return int(std::min<qsizetype>(end - dot - 1, kMaxDecimals));
}

QString decimalFormatCode(int places)
{
    return places > 0 ? QStringLiteral("0.") + QString(places, QLatin1Char('0')) : QStringLiteral("0");
}

} // namespace vireo::exportcells
