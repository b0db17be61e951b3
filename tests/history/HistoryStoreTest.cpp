#include "HistoryStore.h"
#include "SqliteConnection.h"

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

// A run of one item ZZ01 with a finding row per fingerprint.
RunRecord oneItemRun(const QString &serverName, const QString &address, ItemStatus status, std::vector<quint64> fps,
                     const QString &database = QStringLiteral("QZdata_001_2024"))
{
    RunRecord run;
    run.header.serverName = serverName;
    run.header.server = address;
    run.header.database = database;
    run.header.started = QDateTime::currentDateTime();
    ItemRecord item;
    item.code = QStringLiteral("ZZ01");
    item.status = status;
    item.count = qint64(fps.size());
    for (const quint64 fp : fps)
        item.capture.rows.push_back(FindingRow{fp, {QString::number(fp)}});
    item.capture.fingerprints = std::move(fps);
    run.items.push_back(item);
    return run;
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
        // A datetime hashes as its ISO text, as it always has, so that earlier runs still compare.
        {{{T::DateTime, QDateTime(QDate(2024, 3, 10), QTime(2, 30, 0, 500), Qt::UTC)}}, {{T::Text, QStringLiteral("2024-03-10T02:30:00.500")}}, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(rowFingerprint(oneRow(c.a), 0) == rowFingerprint(oneRow(c.b), 0), c.same);
}

TEST(HistoryStore, PruningKeepsTheNewestRunsOfEachDatabase)
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("h.sqlite")));
    std::vector<qint64> ids;
    std::vector<quint64> fps;   // run i has i findings
    for (int i = 0; i < 7; ++i, fps.push_back(quint64(i))) {
        ids.push_back(store.addRun(oneItemRun(QStringLiteral("SRV-A"), {}, ItemStatus::Checked, fps,
                                              i < 5 ? QStringLiteral("QZdata_001_2024") : QStringLiteral("QZdata_002_2024")), 3));
        ASSERT_GT(ids.back(), 0) << store.error().toStdString();
    }
    std::vector<qint64> kept;
    for (const RunHeader &h : store.runs(QStringLiteral("SRV-A"), QStringLiteral("QZdata_001_2024")))
        kept.push_back(h.id);
    EXPECT_EQ(kept, (std::vector<qint64>{ids[4], ids[3], ids[2]}));
    EXPECT_EQ(store.runs(QStringLiteral("SRV-A"), QStringLiteral("QZdata_002_2024")).size(), 2u);
    EXPECT_TRUE(store.rows(ids[1], QStringLiteral("ZZ01")).empty() && store.fingerprints(ids[1], QStringLiteral("ZZ01")).empty());
    EXPECT_EQ(store.rows(ids[2], QStringLiteral("ZZ01")).size(), 2u);
    EXPECT_EQ(store.trend(QStringLiteral("SRV-A"), QStringLiteral("QZdata_001_2024"), QStringLiteral("ZZ01")).front().count, 2);
}

// Two servers hold an account database of the same name: each keeps its own runs, trend, pruning
// and comparison baseline; a stopped or unrun item is never a baseline.
TEST(HistoryStore, EachServerKeepsItsOwnHistoryOfADatabase)
{
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("h.sqlite")));
    const QString db = QStringLiteral("QZdata_001_2024");
    const qint64 onA = store.addRun(oneItemRun(QStringLiteral("SRV-A"), QStringLiteral("10.0.0.1"), ItemStatus::Checked, {1, 2}));
    const qint64 onB = store.addRun(oneItemRun(QStringLiteral("SRV-B"), QStringLiteral("10.0.0.2"), ItemStatus::Checked, {7}), 1);
    store.addRun(oneItemRun(QStringLiteral("srv-a"), QStringLiteral("10.0.0.1"), ItemStatus::Cancelled, {}));
    store.addRun(oneItemRun(QStringLiteral("SRV-A"), QStringLiteral("10.0.0.1"), ItemStatus::NotChecked, {}));
    ASSERT_GT(onB, onA) << store.error().toStdString();

    // Run on A again: compared with A's run before B's, not with B's.
    const RunRecord again = oneItemRun(QStringLiteral("SRV-A"), QStringLiteral("10.0.0.1"), ItemStatus::Checked, {1, 2});
    const ItemChange c = compareWithPrevious(store, QStringLiteral("SRV-A"), db, again.items[0]);
    ASSERT_EQ(c.kind, ItemChange::Compared);
    EXPECT_EQ(c.earlier->id, onA);
    EXPECT_EQ(c.text(), QStringLiteral("无变化"));
    EXPECT_EQ(compareWithPrevious(store, QStringLiteral("SRV-C"), db, again.items[0]).kind, ItemChange::First);

    const auto runsOnA = store.runs(QStringLiteral("SRV-A"), db);
    ASSERT_EQ(runsOnA.size(), 3u);   // the server's own name matches in any letter case
    EXPECT_EQ(runsOnA.back().server, QStringLiteral("10.0.0.1"));
    EXPECT_EQ(store.runs(QString(), db).size(), 4u);
    EXPECT_TRUE(store.trend(QStringLiteral("SRV-B"), db, QStringLiteral("ZZ01")).size() == 1
                && store.trend(QStringLiteral("SRV-A"), db, QStringLiteral("ZZ01")).size() == 1);

    // Pruning to one run on B leaves A's runs alone.
    store.addRun(oneItemRun(QStringLiteral("SRV-B"), QStringLiteral("10.0.0.2"), ItemStatus::Checked, {7}), 1);
    EXPECT_TRUE(store.runs(QStringLiteral("SRV-B"), db).size() == 1 && store.runs(QStringLiteral("SRV-A"), db).size() == 3);
    // Without the server's own name a run is kept under the typed address.
    const qint64 typed = store.addRun(oneItemRun(QString(), QStringLiteral("10.0.0.9"), ItemStatus::Checked, {}));
    EXPECT_EQ(store.run(typed)->serverName, QStringLiteral("10.0.0.9"));
}

// A file of schema version 2 (runs without the server's name) opens at version 3: each run is kept
// under its recorded server text, and its items and repairs stay.
TEST(HistoryStore, OlderFileGetsServerNamesFromItsRecordedServer)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("h.sqlite"));
    {
        db::SqliteConnection old(file);
        for (const char *sql : {
                 "create table runs(id integer primary key autoincrement, started text not null, ended text, operator text, "
                 "server text, database text not null, catalogue text, tool_version text)",
                 "create index runs_database on runs(database, id)",
                 "create table items(run_id integer not null, seq integer not null, code text not null, name text, "
                 "status text not null, count integer, error text, elapsed_ms real, columns text, rows_hashed integer, "
                 "complete integer, fingerprints blob, primary key(run_id, code))",
                 "create table repairs(id integer primary key autoincrement, time text not null, operator text, server text, "
                 "database text, code text, name text, script_sha256 text, succeeded integer not null, message text, "
                 "findings_before integer, findings_after integer)",
                 "insert into runs(started, server, database) values ('2026-11-01T09:00:00.000', 'SRV-A', 'QZdata_001_2024')",
                 "insert into runs(started, server, database) values ('2026-11-02T09:00:00.000', 'SRV-B', 'QZdata_001_2024')",
                 "insert into items(run_id, seq, code, status, count, complete) values (1, 0, 'ZZ01', 'checked', 2, 1)",
                 "insert into items(run_id, seq, code, status, count, complete) values (2, 0, 'ZZ01', 'checked', 5, 1)",
                 "insert into repairs(time, server, database, code, succeeded) values ('2026-11-01T10:00:00.000', 'SRV-A', "
                 "'QZdata_001_2024', 'ZZ01', 1)",
                 "pragma user_version = 2"})
            old.execute(QString::fromUtf8(sql));
    }
    HistoryStore store(file);
    ASSERT_TRUE(store.open()) << store.error().toStdString();
    const auto onA = store.runs(QStringLiteral("SRV-A"), QStringLiteral("QZdata_001_2024"));
    ASSERT_EQ(onA.size(), 1u);
    EXPECT_EQ(onA[0].serverName, QStringLiteral("SRV-A"));
    EXPECT_EQ(store.previousRunWithItem(QStringLiteral("SRV-A"), QStringLiteral("QZdata_001_2024"), QStringLiteral("ZZ01"))->id, 1);
    EXPECT_TRUE(store.items(2).at(0).count == 5 && store.repairs().size() == 1);
    db::SqliteConnection check(file);
    EXPECT_EQ(check.query(QStringLiteral("pragma user_version")).integer(0, 0), 3);
}
