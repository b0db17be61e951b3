// Opening a 1,000,000-row result table in the report window, against the plain query of the
// same rows on the same connection (the transfer alone), measured in the same run. Before that,
// the client CPU of reading a table of date and time columns through our ODBC layer, against
// pyodbc reading the same rows through the same driver and stand-in, in turns.
//
//     bench_report_load [ROWS [PAIRS]]     (1,000,000 rows and 5 pairs when not given)
#include "ReportWindow.h"
#include "Session.h"
#include "SqliteConnection.h"
#include "StandIn.h"
#include "WindowJobs.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

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
double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// pyodbc in a child process reads the rows and prints the CPU seconds of its own read.
constexpr const char *kPyodbcRead = R"(
import os, resource, sys, pyodbc
c = pyodbc.connect('Driver=FreeTDS;Server=127.0.0.1;Port=%s;Database=%s;UID=SA;PWD=%s;TDS_Version=7.4;ClientCharset=UTF-8'
                   % (sys.argv[1], sys.argv[2], os.environ['BENCH_SA_PASSWORD']), autocommit=True)
cur = c.cursor()
u = resource.getrusage(resource.RUSAGE_SELF)
cur.execute(sys.argv[3])
n = 0
while True:
    rows = cur.fetchmany(10000)
    if not rows:
        break
    n += len(rows)
v = resource.getrusage(resource.RUSAGE_SELF)
print(n, v.ru_utime + v.ru_stime - u.ru_utime - u.ru_stime)
)";

void printSpread(const char *what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::printf("  %s: min %.2f, median %.2f, max %.2f\n", what, v.front(), v[v.size() / 2], v.back());
}

// Client CPU of reading `rows` rows with four date and time columns: our layer against pyodbc.
void compareWithPyodbc(test::StandIn &standIn, db::Connection *conn, qint64 rows, int pairs)
{
    conn->execute(QStringLiteral(
        "select top %1 a.d + 10*b.d + 100*c.d + 1000*e.d + 10000*f.d + 100000*g.d as 序号, "
        "dateadd(day, f.d * 10 + g.d, '2024-01-01') as 日期, "
        "dateadd(second, c.d * 3600 + e.d * 60 + a.d, '2024-03-05 08:00:00') as 制单时间, "
        "dateadd(millisecond, b.d * 10, '2024-03-10 02:30:00') as 审核时间, "
        "dateadd(minute, g.d, '1990-04-15 01:59:00') as 记账时间 "
        "into tempdb..DT from tempdb..D10 a cross join tempdb..D10 b cross join tempdb..D10 c "
        "cross join tempdb..D10 e cross join tempdb..D10 f cross join tempdb..D10 g").arg(rows));
    const QString sql = QStringLiteral("select * from tempdb..DT");
    std::vector<double> ours, theirs, ratio;
    for (int i = 0; i < pairs; ++i) {
        const double before = cpuSeconds();
        const qint64 got = conn->query(sql).rowCount();
        ours.push_back(cpuSeconds() - before);

        QProcess py;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("BENCH_SA_PASSWORD"), standIn.params().password);
        py.setProcessEnvironment(env);
        py.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kPyodbcRead),
                                                      QString::number(standIn.port()), standIn.params().database, sql});
        if (!py.waitForFinished(-1) || py.exitCode() != 0) {
            std::printf("bench_report_load: pyodbc failed: %s\n", py.readAllStandardError().constData());
            return;
        }
        const QList<QByteArray> out = py.readAllStandardOutput().trimmed().split(' ');
        if (out.size() != 2 || out[0].toLongLong() != got) {
            std::printf("bench_report_load: pyodbc read %s rows, we read %lld\n", out.value(0).constData(), got);
            return;
        }
        theirs.push_back(out[1].toDouble());
        ratio.push_back(ours.back() / theirs.back());
        std::printf("  pair %d: ours %.2f s CPU, pyodbc %.2f s CPU, ratio %.2f\n", i + 1, ours.back(), theirs.back(),
                    ratio.back());
        std::fflush(stdout);
    }
    std::printf("client CPU reading %lld rows of 4 datetime columns and an int, %d pairs:\n", rows, pairs);
    printSpread("ours (s)  ", ours);
    printSpread("pyodbc (s)", theirs);
    printSpread("ratio ours / pyodbc (goal <= 1.2)", ratio);
    conn->execute(QStringLiteral("drop table tempdb..DT"));
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 rows = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    const int pairs = argc > 2 ? QByteArray(argv[2]).toInt() : 5;

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
    compareWithPyodbc(standIn, conn, rows, pairs);
    t.restart();
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
