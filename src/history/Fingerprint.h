#pragma once
#include "Connection.h"
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace vireo::history {

// How much of a result table is kept per item and run.
struct Limits {
    qint64 fingerprintRows = 100000;   // rows whose fingerprint is kept
    qint64 valueRows = 1000;           // rows whose values are kept
};

// One finding row: its values as display text (a null QString stands for NULL) and its fingerprint.
struct FindingRow {
    quint64 fingerprint = 0;
    QStringList values;
};

// What a result table held: the fingerprint of each of its first rows and the values of fewer rows.
struct TableCapture {
    QStringList columns;
    std::vector<quint64> fingerprints;   // sorted ascending (a multiset)
    std::vector<FindingRow> rows;        // in the order the server returned them
    qint64 rowsRead = 0;                 // rows fingerprinted
    bool complete = true;                // false when the table held more rows than were fingerprinted
};

// The fingerprint of row `row` of rs: a 64-bit hash of its values in column order. Types are
// normalised first, so that 5, 5.0 and '5' (and 'a' and 'a  ') give the same value; NULL differs
// from every value, the empty text included.
quint64 rowFingerprint(const db::Recordset &rs, qint64 row);

// The canonical text that a value is hashed as (numbers without trailing zeros, text without
// trailing blanks, times as ISO text); a null QString for NULL.
QString canonicalValue(const db::Recordset &rs, qint64 row, int col);

// Reads tempdb..{code} as it streams in and fingerprints it.
TableCapture captureResultTable(db::Connection *conn, const QString &code, const Limits &limits = {});

// Multiset difference: how many of `later` are not in `earlier`, both sorted.
qint64 countMissingFrom(const std::vector<quint64> &later, const std::vector<quint64> &earlier);
// The fingerprints themselves, with their multiplicity.
std::vector<quint64> missingFrom(const std::vector<quint64> &later, const std::vector<quint64> &earlier);

} // namespace vireo::history
