// Recording a check run with 100,000 finding rows in the history, against the same run without
// it, and comparing two such recorded runs; both measured in the same run against the stand-in.
// Also the reading of the rows alone, which is what recording costs on top of the run: the
// stand-in builds the findings inside its engine but sends each row through Python.
#include "CheckRun.h"
#include "HistoryStore.h"
#include "SqliteConnection.h"
#include "StandIn.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

using namespace vireo;

namespace {
double seconds(QElapsedTimer &t) { return double(t.nsecsElapsed()) / 1e9; }
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 100000;
    const int rounds = 3;

    test::StandIn standIn;
    const auto account = standIn.connect();
    db::SqliteConnection catalog(QStringLiteral(":memory:"));
    catalog.execute(QStringLiteral("create table Tools (cID integer, cParentID text, cCode text, cName text, bSign boolean, bEnd boolean)"));
    catalog.execute(QStringLiteral("insert into Tools values (1, '', 'BIG', '十万行', 0, 1)"));
    QTemporaryDir folder;
    QDir().mkpath(folder.filePath(QStringLiteral("File/BIG")));
    {
        QFile script(folder.filePath(QStringLiteral("File/BIG/检查.SQL")));
        script.open(QIODevice::WriteOnly);
        script.write("if exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ\r\nGO\r\n"
                     "select * into tempdb..VUZ from tempdb..SRC\r\nGO\r\n");
    }
    account->execute(QStringLiteral("create table tempdb..D10 (d int); insert into tempdb..D10 values (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)"));
    account->execute(QStringLiteral(
        "select top %1 a.d + 10*b.d + 100*c.d + 1000*e.d + 10000*f.d + 100000*g.d as 序号, "
        "'KM' + cast(a.d * 100 + b.d as varchar(10)) as 科目编码, N'应收账款—客户往来' as 科目名称, "
        "cast(c.d * 1234.5 + e.d as decimal(12, 2)) as 金额, dateadd(day, f.d * 10 + g.d, '2024-01-01') as 日期 "
        "into tempdb..SRC from tempdb..D10 a cross join tempdb..D10 b cross join tempdb..D10 c "
        "cross join tempdb..D10 e cross join tempdb..D10 f cross join tempdb..D10 g").arg(rows));

    const CheckContext ctx{folder.path(), &catalog, account.get()};
    const std::vector<TreeItemRef> nodes{{QStringLiteral("BIG"), QStringLiteral("十万行"), true}};
    auto checkRun = [&] { return RunChecks(nodes, QStringLiteral("Tools"), ctx, RunIdentity{}).items.at(0).count; };
    history::HistoryStore store(folder.filePath(QStringLiteral("history.sqlite")));
    double writing = 1e9;
    auto record = [&](qint64 count) {
        history::RunRecord run;
        run.header.database = QStringLiteral("QZdata_001_2024");
        run.header.started = QDateTime::currentDateTime();
        run.items.push_back(history::ItemRecord{QStringLiteral("BIG"), QStringLiteral("十万行"), history::ItemStatus::Checked,
                                                count, {}, 0, history::captureResultTable(account.get(), QStringLiteral("BIG"))});
        QElapsedTimer w;
        w.start();
        const qint64 id = store.addRun(run, 100);
        writing = std::min(writing, seconds(w));
        return std::make_pair(id, run.items.back());
    };

    // Alternate the two kinds so that drift of the machine falls on both alike; best of each.
    double plain = 1e9, recorded = 1e9;
    std::vector<std::pair<qint64, history::ItemRecord>> runs;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const qint64 n = checkRun();
        plain = std::min(plain, seconds(t));
        if (n != rows) {
            std::fprintf(stderr, "bench_history: the run found %lld rows, not %lld\n", n, rows);
            return 1;
        }
        // A few findings change between recorded runs, as between two real checks.
        account->execute(QStringLiteral("update tempdb..SRC set 金额 = 金额 + 1 where 序号 < %1").arg(10 + i));
        t.restart();
        runs.push_back(record(checkRun()));
        recorded = std::min(recorded, seconds(t));
        if (!runs.back().first) {
            std::fprintf(stderr, "bench_history: %s\n", qPrintable(store.error()));
            return 1;
        }
    }

    // The transfer alone: the same rows read into a snapshot, no fingerprints, nothing stored.
    double transfer = 1e9, capture = 1e9;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        const qint64 n = account->query(QStringLiteral("select * from tempdb..BIG")).rowCount();
        transfer = std::min(transfer, seconds(t));
        t.restart();
        const auto cap = history::captureResultTable(account.get(), QStringLiteral("BIG"));
        capture = std::min(capture, seconds(t));
        if (n != rows || cap.rowsRead != rows)
            return 1;
    }

    // Comparing the last two recorded runs: the change counts and the rows behind them.
    QElapsedTimer t;
    t.start();
    const history::ItemChange c = history::compareWithPrevious(store, QString(), QStringLiteral("QZdata_001_2024"),
                                                               runs.back().second, runs.back().first);
    const history::RowDiff d = history::diffRuns(store, runs[runs.size() - 2].first, runs.back().first, QStringLiteral("BIG"));
    const double compare = seconds(t);

    std::printf("bench_history: %lld finding rows, best of %d\n", rows, rounds);
    std::printf("  check run alone           %.3f s\n", plain);
    std::printf("  check run with history    %.3f s   ratio %.2f (goal <= 1.25)\n", recorded, recorded / plain);
    std::printf("  reading the rows alone    %.3f s;  reading and fingerprinting %.3f s   ratio %.2f\n", transfer, capture,
                capture / transfer);
    std::printf("  writing one run to the history file %.3f s\n", writing);
    std::printf("  comparing two runs        %.3f s   ratio to 1 s %.2f (goal < 1); %s, %zu new rows with values\n",
                compare, compare, qPrintable(c.text()), d.added.size());
    return 0;
}
