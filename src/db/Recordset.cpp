#include "Recordset.h"

namespace vireo::db {

namespace {
constexpr qint64 kDayMs = 86400000;
constexpr qint64 kEpochJulianDay = 2440588;   // 1970-01-01

// "yyyy-MM-dd" or "yyyy-MM-dd HH:mm:ss" of a wall-clock value, the latter unless it is midnight
// to the millisecond; written digit by digit, as this runs for every cell shown or exported.
QString wallClockText(qint64 ms)
{
    const qint64 days = ms >= 0 ? ms / kDayMs : -((-ms + kDayMs - 1) / kDayMs);
    const qint64 rem = ms - days * kDayMs;
    const QDate date = QDate::fromJulianDay(days + kEpochJulianDay);
    if (date.year() < 1 || date.year() > 9999) {
        const QDateTime dt = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
        return dt.toString(rem == 0 ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    }
    char16_t out[19];
    const auto put = [&out](int at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            out[at + i] = char16_t(u'0' + value % 10);
    };
    put(0, date.year(), 4);
    out[4] = u'-';
    put(5, date.month(), 2);
    out[7] = u'-';
    put(8, date.day(), 2);
    if (rem == 0)
        return QString(reinterpret_cast<const QChar *>(out), 10);
    const int secs = int(rem / 1000);
    out[10] = u' ';
    put(11, secs / 3600, 2);
    out[13] = u':';
    put(14, secs / 60 % 60, 2);
    out[16] = u':';
    put(17, secs % 60, 2);
    return QString(reinterpret_cast<const QChar *>(out), 19);
}
} // namespace

Recordset::Recordset(std::vector<Column> columns)
{
    m_cols.resize(columns.size());
    for (size_t i = 0; i < columns.size(); ++i)
        m_cols[i].meta = std::move(columns[i]);
}

int Recordset::columnIndex(const QString &name) const
{
    for (size_t i = 0; i < m_cols.size(); ++i)
        if (m_cols[i].meta.name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

bool Recordset::usesText(ColumnType t) const
{
    return t == ColumnType::Text || t == ColumnType::Decimal || t == ColumnType::Binary;
}

void Recordset::markNull(Store &s, bool isNull)
{
    const qint64 row = s.count++;
    if (size_t(row / 64) >= s.nulls.size())
        s.nulls.push_back(0);
    if (isNull)
        s.nulls[size_t(row / 64)] |= uint64_t(1) << (row % 64);
}

bool Recordset::isNull(qint64 row, int col) const
{
    const Store &s = m_cols[size_t(col)];
    return (s.nulls[size_t(row / 64)] >> (row % 64)) & 1;
}

void Recordset::appendNull(int col)
{
    Store &s = m_cols[size_t(col)];
    markNull(s, true);
    switch (s.meta.type) {
    case ColumnType::Real: s.reals.push_back(0); break;
    case ColumnType::Integer: case ColumnType::Boolean: case ColumnType::DateTime: s.ints.push_back(0); break;
    default: s.ends.push_back(s.chars.size()); break;
    }
}

void Recordset::appendText(int col, const char16_t *data, qsizetype len)
{
    Store &s = m_cols[size_t(col)];
    if (!usesText(s.meta.type)) {
        appendVariant(col, QString(reinterpret_cast<const QChar *>(data), len));
        return;
    }
    markNull(s, false);
    s.chars.insert(s.chars.end(), data, data + len);
    s.ends.push_back(s.chars.size());
}

void Recordset::appendInteger(int col, qint64 v)
{
    Store &s = m_cols[size_t(col)];
    if (s.meta.type == ColumnType::Real) {
        appendReal(col, double(v));
        return;
    }
    if (usesText(s.meta.type)) {
        appendText(col, QString::number(v));
        return;
    }
    markNull(s, false);
    s.ints.push_back(v);
}

void Recordset::appendReal(int col, double v)
{
    Store &s = m_cols[size_t(col)];
    if (s.meta.type != ColumnType::Real) {
        if (usesText(s.meta.type))
            appendText(col, QString::number(v, 'g', 17));
        else
            appendInteger(col, qint64(v));
        return;
    }
    markNull(s, false);
    s.reals.push_back(v);
}

void Recordset::appendDateTime(int col, QDate date, QTime time)
{
    if (!date.isValid()) {
        appendNull(col);
        return;
    }
    Store &s = m_cols[size_t(col)];
    if (s.meta.type != ColumnType::DateTime) {
        appendText(col, QDateTime(date, time, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")));
        return;
    }
    markNull(s, false);
    s.ints.push_back((date.toJulianDay() - kEpochJulianDay) * kDayMs + (time.isValid() ? time.msecsSinceStartOfDay() : 0));
}

void Recordset::appendVariant(int col, const QVariant &v)
{
    if (v.isNull()) {
        appendNull(col);
        return;
    }
    switch (m_cols[size_t(col)].meta.type) {
    case ColumnType::Integer: case ColumnType::Boolean:
        appendInteger(col, v.typeId() == QMetaType::Bool ? qint64(v.toBool()) : v.toLongLong());
        break;
    case ColumnType::Real: appendReal(col, v.toDouble()); break;
    case ColumnType::DateTime: appendDateTime(col, v.toDateTime()); break;
    default: appendText(col, v.toString()); break;
    }
}

QVariant Recordset::value(qint64 row, int col) const
{
    const Store &s = m_cols[size_t(col)];
    switch (s.meta.type) {
    case ColumnType::Integer:
        return isNull(row, col) ? QVariant(QMetaType::fromType<qint64>()) : QVariant(s.ints[size_t(row)]);
    case ColumnType::Boolean:
        return isNull(row, col) ? QVariant(QMetaType::fromType<bool>()) : QVariant(s.ints[size_t(row)] != 0);
    case ColumnType::Real:
        return isNull(row, col) ? QVariant(QMetaType::fromType<double>()) : QVariant(s.reals[size_t(row)]);
    case ColumnType::DateTime:
        if (isNull(row, col))
            return QVariant(QMetaType::fromType<QDateTime>());
        return QDateTime::fromMSecsSinceEpoch(s.ints[size_t(row)], Qt::UTC);
    default:
        if (isNull(row, col))
            return QVariant(QMetaType::fromType<QString>());
        return text(row, col);
    }
}

QString Recordset::text(qint64 row, int col) const
{
    if (isNull(row, col))
        return QString();
    const Store &s = m_cols[size_t(col)];
    switch (s.meta.type) {
    case ColumnType::Integer: return QString::number(s.ints[size_t(row)]);
    case ColumnType::Boolean: return s.ints[size_t(row)] ? QStringLiteral("True") : QStringLiteral("False");
    case ColumnType::Real: return QString::number(s.reals[size_t(row)], 'g', 15);
    case ColumnType::DateTime: return wallClockText(s.ints[size_t(row)]);
    default: {
        const uint64_t begin = row == 0 ? 0 : s.ends[size_t(row - 1)];
        const uint64_t end = s.ends[size_t(row)];
        return QString(reinterpret_cast<const QChar *>(s.chars.data() + begin), qsizetype(end - begin));
    }
    }
}

double Recordset::number(qint64 row, int col) const
{
    const Store &s = m_cols[size_t(col)];
    switch (s.meta.type) {
    case ColumnType::Real: return s.reals[size_t(row)];
    case ColumnType::Integer: case ColumnType::Boolean: return double(s.ints[size_t(row)]);
    default: return text(row, col).toDouble();
    }
}

qint64 Recordset::integer(qint64 row, int col) const
{
    const Store &s = m_cols[size_t(col)];
    if (s.meta.type == ColumnType::Real)
        return qint64(s.reals[size_t(row)]);
    if (usesText(s.meta.type))
        return text(row, col).toLongLong();
    return s.ints[size_t(row)];
}

qint64 Recordset::memoryBytes() const
{
    qint64 n = 0;
    for (const Store &s : m_cols)
        n += qint64(s.nulls.capacity() * 8 + s.ints.capacity() * 8 + s.reals.capacity() * 8
                    + s.chars.capacity() * 2 + s.ends.capacity() * 8);
    return n;
}

void Recordset::squeeze()
{
    for (Store &s : m_cols) {
        s.nulls.shrink_to_fit();
        s.ints.shrink_to_fit();
        s.reals.shrink_to_fit();
        s.chars.shrink_to_fit();
        s.ends.shrink_to_fit();
    }
}

} // namespace vireo::db
