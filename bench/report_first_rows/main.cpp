// The report window's first rows: time until the grid shows rows and until the load is complete
// for a 1,000,000-row result table, each against the plain query of the same rows on the same
// connection (the transfer alone), measured in the same run.
#include "ReportWindow.h"
#include "Session.h"
#include "SqliteConnection.h"
#include "StandIn.h"
#include "WindowJobs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace vireo;

namespace {
long currentKb()
{
    FILE *f = std::fopen("/proc/self/statm", "r");
    long pages = 0, resident = 0;
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;

    test::StandIn standIn;
    session().accountConn = standIn.connect();
    auto catalog = std::make_unique<db::SqliteConnection>(QStringLiteral(":memory:"));
    catalog->execute(QStringLiteral("create table Tools (cID integer, cParentID text, cCode text, cName text, bSign boolean, bEnd boolean)"));
    catalog->execute(QStringLiteral("insert into Tools values (1, '', 'BIG', '一百万行', 0, 1)"));
    session().catalogConn = std::move(catalog);
    QTemporaryDir folder;
    session().programFolder = folder.path();

    db::Connection *conn = session().accountConn.get();
    conn->execute(QStringLiteral("create table tempdb..D10 (d int); insert into tempdb..D10 values (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)"));
    conn->execute(QStringLiteral(
        "select top %1 a.d + 10*b.d + 100*c.d + 1000*e.d + 10000*f.d + 100000*g.d as 序号, "
        "'KM' + cast(a.d * 100 + b.d as varchar(10)) as 科目编码, N'应收账款—客户往来' as 科目名称, "
        "cast(c.d * 1234.5 + e.d as decimal(12, 2)) as 金额, dateadd(day, f.d * 10 + g.d, '2024-01-01') as 日期 "
        "into tempdb..BIG from tempdb..D10 a cross join tempdb..D10 b cross join tempdb..D10 c "
        "cross join tempdb..D10 e cross join tempdb..D10 f cross join tempdb..D10 g").arg(rows));

    // Baseline: the same rows fetched into a snapshot without a window.
    QElapsedTimer t;
    t.start();
    qint64 dataBytes = 0;
    {
        const db::Recordset rs = conn->query(reportRowsSql(QStringLiteral("BIG")));
        dataBytes = rs.memoryBytes();
    }
    const double plain = t.nsecsElapsed() / 1e9;

    // The window: the first painted rows, then the whole load.
    const long rss1 = currentKb();
    double first = -1;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        ReportWindow *w = ReportWindow::instance();
        auto *grid = w ? w->findChild<QTableView *>(QStringLiteral("reportGrid")) : nullptr;
        if (first < 0 && grid && grid->model()->rowCount() > 0) {
            grid->viewport()->grab();
            first = t.nsecsElapsed() / 1e9;
        }
    });
    watch.start(1);
    t.restart();
    openReportWindow(test::stampResult(session().accountConn.get(), QStringLiteral("BIG")), QStringLiteral("Tools"));
    test::waitForWorker();
    ReportWindow *w = ReportWindow::instance();
    w->grab();
    const double full = t.nsecsElapsed() / 1e9;
    watch.stop();
    const long rssOpen = currentKb();
    auto *grid = w->findChild<QTableView *>(QStringLiteral("reportGrid"));

    std::printf("bench_report_first_rows: %lld rows, %d in the grid at the end\n", rows, grid->model()->rowCount());
    std::printf("  plain query (baseline)   : %.2f s\n", plain);
    std::printf("  first rows painted       : %.3f s  (ratio %.3f to the plain query)\n", first, first / plain);
    std::printf("  whole load painted       : %.2f s  (ratio %.2f to the plain query)\n", full, full / plain);
    std::printf("  first rows / whole load  : %.3f  (target <= 0.05)\n", first / full);
    std::printf("  memory held by the window: %.1f MB (%.2f x the %.1f MB of data)\n", (rssOpen - rss1) / 1024.0,
                (rssOpen - rss1) * 1024.0 / double(dataBytes), dataBytes / 1048576.0);
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    session().catalogConn.reset();
    session().accountConn.reset();
    return 0;
}
