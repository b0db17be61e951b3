#pragma once
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <vector>

namespace vireo::db {

enum class ColumnType { Text, Integer, Real, Decimal, Boolean, DateTime, Binary };

struct Column {
    QString name;
    ColumnType type = ColumnType::Text;
    QString sqlType = {};   // as the server declares it, e.g. "nvarchar(50)", "decimal(18,2)"; empty when unknown
};

// A client-side snapshot of one result set, stored column by column so that large
// tables cost little more than their data. NULL stays distinct from an empty text.
class Recordset {
public:
    Recordset() = default;
    explicit Recordset(std::vector<Column> columns);

    int columnCount() const { return int(m_cols.size()); }
    qint64 rowCount() const { return m_rows; }
    bool isEmpty() const { return m_rows == 0; }
    const Column &column(int c) const { return m_cols[size_t(c)].meta; }
    // Index of a column by name, compared without regard to letter case; -1 when absent.
    int columnIndex(const QString &name) const;

    bool isNull(qint64 row, int col) const;
    // The value as the database delivered it; a NULL gives a null QVariant. Date and time values
    // come as QDateTime in UTC holding the wall-clock value, so that no time zone is looked up.
    QVariant value(qint64 row, int col) const;
    // Display text; NULL gives an empty text.
    QString text(qint64 row, int col) const;
    double number(qint64 row, int col) const;   // numeric columns only
    qint64 integer(qint64 row, int col) const;  // Integer and Boolean columns

    // Building, one row at a time: each column receives exactly one append per row.
    void appendNull(int col);
    void appendText(int col, const char16_t *data, qsizetype len);
    void appendText(int col, const QString &s) { appendText(col, reinterpret_cast<const char16_t *>(s.utf16()), s.size()); }
    void appendInteger(int col, qint64 v);
    void appendReal(int col, double v);
    // A date and time as the wall-clock value it is: no time zone is looked up or applied.
    void appendDateTime(int col, QDate date, QTime time);
    void appendDateTime(int col, const QDateTime &dt) { appendDateTime(col, dt.date(), dt.time()); }
    void appendVariant(int col, const QVariant &v);
    void endRow() { ++m_rows; }

    // Bytes held by the snapshot's buffers.
    qint64 memoryBytes() const;
    void squeeze();

private:
    struct Store {
        Column meta;
        std::vector<uint64_t> nulls;     // bit per row
        std::vector<qint64> ints;        // Integer, Boolean, DateTime (wall-clock ms since 1970-01-01T00:00)
        std::vector<double> reals;       // Real
        std::vector<char16_t> chars;     // Text, Decimal, Binary (hex)
        std::vector<uint64_t> ends;      // end offset of each row's text in chars
        qint64 count = 0;
    };
    void markNull(Store &s, bool isNull);
    bool usesText(ColumnType t) const;

    std::vector<Store> m_cols;
    qint64 m_rows = 0;
};

} // namespace vireo::db
