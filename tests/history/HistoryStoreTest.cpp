#include "HistoryStore.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vireo;
using namespace vireo::history;

namespace {
// A one-row snapshot with the given column types and values (a null QVariant for NULL).
db::Recordset oneRow(const std::vector<std::pair<db::ColumnType, QVariant>> &cells)
{
    std::vector<db::Column> cols;
    for (const auto &c : cells)
        cols.push_back({QStringLiteral("c"), c.first});
    db::Recordset rs(cols);
    for (int i = 0; i < int(cells.size()); ++i)
        rs.appendVariant(i, cells[size_t(i)].second);
    rs.endRow();
    return rs;
}
} // namespace

TEST(Fingerprint, NormalisesTypesButKeepsValuesApart)
{
    using T = db::ColumnType;
    struct Case {
        std::vector<std::pair<T, QVariant>> a, b;
        bool same;
    };
    const Case cases[] = {
        {{{T::Integer, 5}, {T::Text, QStringLiteral("a")}}, {{T::Decimal, QStringLiteral("5.00")}, {T::Text, QStringLiteral("a  ")}}, true},
        {{{T::Real, 12.5}}, {{T::Decimal, QStringLiteral("12.50")}}, true},
        {{{T::Text, QStringLiteral("5")}}, {{T::Integer, 5}}, true},
        {{{T::Text, QVariant()}}, {{T::Text, QStringLiteral("")}}, false},
        {{{T::Text, QStringLiteral("ab")}, {T::Text, QStringLiteral("")}}, {{T::Text, QStringLiteral("a")}, {T::Text, QStringLiteral("b")}}, false},
        {{{T::Decimal, QStringLiteral("3860.00")}}, {{T::Decimal, QStringLiteral("3680.00")}}, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rowFingerprint(oneRow(c.a), 0) == rowFingerprint(oneRow(c.b), 0), c.same);
}

TEST(HistoryStore, PruningKeepsTheNewestRunsOfEachDatabase)
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("h.sqlite")));
    std::vector<qint64> ids;
    for (int i = 0; i < 7; ++i) {
        RunRecord run;
        run.header.database = i < 5 ? QStringLiteral("QZdata_001_2024") : QStringLiteral("QZdata_002_2024");
        run.header.started = QDateTime(QDate(2026, 11, 1 + i), QTime(9, 0));
        ItemRecord item;
        item.code = QStringLiteral("ZZ01");
        item.status = ItemStatus::Checked;
        item.count = i;
        item.capture.fingerprints = {quint64(i)};
        item.capture.rows = {FindingRow{quint64(i), {QString::number(i)}}};
        run.items.push_back(item);
        ids.push_back(store.addRun(run, 3));
        ASSERT_GT(ids.back(), 0) << store.error().toStdString();
    }
    std::vector<qint64> kept;
    for (const RunHeader &h : store.runs(QStringLiteral("QZdata_001_2024")))
        kept.push_back(h.id);
    EXPECT_EQ(kept, (std::vector<qint64>{ids[4], ids[3], ids[2]}));
    EXPECT_EQ(store.runs(QStringLiteral("QZdata_002_2024")).size(), 2u);
    EXPECT_TRUE(store.rows(ids[0], QStringLiteral("ZZ01")).empty());
    EXPECT_TRUE(store.fingerprints(ids[1], QStringLiteral("ZZ01")).empty());
    EXPECT_EQ(store.trend(QStringLiteral("QZdata_001_2024"), QStringLiteral("ZZ01")).front().count, 2);
}
