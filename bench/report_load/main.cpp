// Opening a 1,000,000-row result table in the report window, against the plain query of the
// same rows on the same connection (the transfer alone), measured in the same run.
#include "ReportWindow.h"
#include "Session.h"
#include "SqliteConnection.h"
#include "StandIn.h"
#include "WindowJobs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

using namespace vireo;

namespace {
long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}
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

    QElapsedTimer t;
    t.start();
    db::Connection *conn = session().accountConn.get();
    conn->execute(QStringLiteral("create table tempdb..D10 (d int); insert into tempdb..D10 values (0),(1),(2),(3),(4),(5),(6),(7),(8),(9)"));
    conn->execute(QStringLiteral(
        "select top %1 a.d + 10*b.d + 100*c.d + 1000*e.d + 10000*f.d + 100000*g.d as 序号, "
        "'KM' + cast(a.d * 100 + b.d as varchar(10)) as 科目编码, N'应收账款—客户往来' as 科目名称, "
        "cast(c.d * 1234.5 + e.d as decimal(12, 2)) as 金额, dateadd(day, f.d * 10 + g.d, '2024-01-01') as 日期 "
        "into tempdb..BIG from tempdb..D10 a cross join tempdb..D10 b cross join tempdb..D10 c "
        "cross join tempdb..D10 e cross join tempdb..D10 f cross join tempdb..D10 g").arg(rows));
    std::printf("bench_report_load: filled tempdb..BIG with %lld rows in %.1f s\n", rows, t.nsecsElapsed() / 1e9);
    std::fflush(stdout);

    // Baseline: the same rows fetched into a snapshot without a window.
    const long rss0 = currentKb();
    t.restart();
    qint64 dataBytes = 0;
    {
        const db::Recordset rs = conn->query(reportRowsSql(QStringLiteral("BIG")));
        dataBytes = rs.memoryBytes();
    }
    const double plain = t.nsecsElapsed() / 1e9;
    const long peakPlain = peakKb();

    // The window's own loading path: open, load, paint.
    const long rss1 = currentKb();
    t.restart();
    openReportWindow(test::stampResult(session().accountConn.get(), QStringLiteral("BIG")), QStringLiteral("Tools"));
    test::waitForWorker();
    ReportWindow *w = ReportWindow::instance();
    w->grab();
    const double open = t.nsecsElapsed() / 1e9;
    const long rssOpen = currentKb();
    auto *grid = w->findChild<QTableView *>(QStringLiteral("reportGrid"));

    // Scrolling: 200 page steps through the table, each painted.
    t.restart();
    QScrollBar *bar = grid->verticalScrollBar();
    for (int i = 0; i < 200; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * i / 199));
        grid->viewport()->grab();
    }
    const double scroll = t.nsecsElapsed() / 1e9;

    std::printf("  rows in the grid            : %d\n", grid->model()->rowCount());
    std::printf("  snapshot data               : %.1f MB\n", dataBytes / 1048576.0);
    std::printf("  plain query (baseline)      : %.2f s\n", plain);
    std::printf("  report window open + paint  : %.2f s  (ratio %.2f to the plain query)\n", open, open / plain);
    std::printf("  200 scroll positions painted: %.3f s  (%.2f ms each)\n", scroll, scroll * 1000 / 200);
    std::printf("  memory held by the open window: %.1f MB (%.2f x the snapshot data)\n", (rssOpen - rss1) / 1024.0,
                (rssOpen - rss1) * 1024.0 / double(dataBytes));
    std::printf("  peak RSS: before %.1f MB, after plain query %.1f MB, overall %.1f MB\n", rss0 / 1024.0,
                peakPlain / 1024.0, peakKb() / 1024.0);
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    session().catalogConn.reset();
    session().accountConn.reset();
    return 0;
}
