#include "Fingerprint.h"
#include "CheckRun.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace vireo::history {

namespace {

QString trimmedNumber(QString t)
{
    t = t.trimmed();
    if (t.startsWith(QLatin1Char('+')))
        t.remove(0, 1);
    if (t.contains(QLatin1Char('.')) && !t.contains(QLatin1Char('e'), Qt::CaseInsensitive)) {
        while (t.endsWith(QLatin1Char('0')))
            t.chop(1);
        if (t.endsWith(QLatin1Char('.')))
            t.chop(1);
    }
    if (t == QLatin1String("-0") || t.isEmpty())
        t = QStringLiteral("0");
    return t;
}

// FNV-1a over the bytes, then a SplitMix64 finish so that close inputs spread.
struct Hasher {
    quint64 h = 1469598103934665603ull;
    void bytes(const void *p, size_t n)
    {
        const auto *b = static_cast<const unsigned char *>(p);
        for (size_t i = 0; i < n; ++i) {
            h ^= b[i];
            h *= 1099511628211ull;
        }
    }
    quint64 finish() const
    {
        quint64 z = h + 0x9e3779b97f4a7c15ull;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
};

// An empty text that is not NULL.
QString present(QString s)
{
    if (s.isNull())
        s = QStringLiteral("");
    return s;
}

} // namespace

static QString canonicalOf(const db::Recordset &rs, qint64 row, int col)
{
    switch (rs.column(col).type) {
    case db::ColumnType::Integer:
    case db::ColumnType::Boolean:
        return QString::number(rs.integer(row, col));
    case db::ColumnType::Real: {
        const double v = rs.number(row, col);
        if (!std::isfinite(v))
            return QString::number(v);
        return trimmedNumber(QString::number(v, 'f', QLocale::FloatingPointShortest));
    }
    case db::ColumnType::Decimal:
        return trimmedNumber(rs.text(row, col));
    case db::ColumnType::DateTime:
        // The stored wall-clock time, formatted without a time-zone lookup.
        return QDateTime::fromMSecsSinceEpoch(rs.integer(row, col), Qt::UTC).toString(Qt::ISODateWithMs).chopped(1);
    case db::ColumnType::Text: {
        QString t = rs.text(row, col);
        qsizetype e = t.size();
        while (e > 0 && t[e - 1] == QLatin1Char(' '))
            --e;
        t.truncate(e);
        return t;
    }
    case db::ColumnType::Binary:
        return rs.text(row, col).toUpper();
    }
    return rs.text(row, col);
}

QString canonicalValue(const db::Recordset &rs, qint64 row, int col)
{
    if (rs.isNull(row, col))
        return {};
    return present(canonicalOf(rs, row, col));
}

quint64 rowFingerprint(const db::Recordset &rs, qint64 row)
{
    Hasher h;
    for (int c = 0; c < rs.columnCount(); ++c) {
        const QString v = canonicalValue(rs, row, c);
        // A tag and the length keep NULL, '' and the split between columns apart.
        const char tag = v.isNull() ? 'z' : 'v';
        h.bytes(&tag, 1);
        const quint32 len = quint32(v.size());
        h.bytes(&len, sizeof len);
        h.bytes(v.utf16(), size_t(v.size()) * sizeof(char16_t));
    }
    return h.finish();
}

TableCapture captureResultTable(db::Connection *conn, const QString &code, const Limits &limits)
{
    TableCapture cap;
    const QString sql = QStringLiteral("select * from tempdb..") + sqlIdentifier(code);
    conn->queryChunks(sql, 2048, [&](const db::Recordset &rs) {
        if (cap.columns.isEmpty())
            for (int c = 0; c < rs.columnCount(); ++c)
                cap.columns << rs.column(c).name;
        for (qint64 r = 0; r < rs.rowCount(); ++r) {
            if (cap.rowsRead >= limits.fingerprintRows) {
                cap.complete = false;
                return false;
            }
            const quint64 fp = rowFingerprint(rs, r);
            cap.fingerprints.push_back(fp);
            if (qint64(cap.rows.size()) < limits.valueRows) {
                FindingRow fr{fp, {}};
                fr.values.reserve(rs.columnCount());
                for (int c = 0; c < rs.columnCount(); ++c)
                    fr.values << (rs.isNull(r, c) ? QString() : present(rs.text(r, c)));
                cap.rows.push_back(std::move(fr));
            }
            ++cap.rowsRead;
        }
        return true;
    });
    std::sort(cap.fingerprints.begin(), cap.fingerprints.end());
    return cap;
}

std::vector<quint64> missingFrom(const std::vector<quint64> &later, const std::vector<quint64> &earlier)
{
    std::vector<quint64> out;
    std::set_difference(later.begin(), later.end(), earlier.begin(), earlier.end(), std::back_inserter(out));
    return out;
}

qint64 countMissingFrom(const std::vector<quint64> &later, const std::vector<quint64> &earlier)
{
    qint64 n = 0;
    auto a = later.begin();
    auto b = earlier.begin();
    while (a != later.end()) {
        if (b == earlier.end() || *a < *b) {
            ++n;
            ++a;
        } else if (*b < *a) {
            ++b;
        } else {
            ++a;
            ++b;
        }
    }
    return n;
}

} // namespace vireo::history
