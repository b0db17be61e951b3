// Renders the history window on the demo data: four vireo-check runs with faults added and
// repaired between them, one repair recorded; also writes the HTML report of the last run.
//   history_screenshot OUTDIR   (run under Xvfb; writes history-window.png, history-rows.png, history-report.html)
#include "HistoryWindow.h"
#include "HistoryStore.h"
#include "StandIn.h"
#include "TestPaths.h"
#include <QApplication>
#include <QProcess>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QUuid>
#include <QTest>
#include <cstdio>

using namespace vireo;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    test::StandIn::Options o;
    o.password = QUuid::createUuid().toString(QUuid::WithoutBraces);   // a new one each run, in no file
    o.initFiles = {test::sourceDir() + QStringLiteral("/demo/account.sql")};
    test::StandIn server(o);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("history.sqlite"));
    auto run = [&](const QStringList &extra) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VIREO_SA_PASSWORD"), o.password);
        p.setProcessEnvironment(env);
        p.start(test::binDir() + QStringLiteral("/vireo-check"),
                QStringList{QStringLiteral("--server"), server.server(), QStringLiteral("--account"), QStringLiteral("001"),
                            QStringLiteral("--year"), QStringLiteral("2024"), QStringLiteral("--all"), QStringLiteral("--operator"),
                            QStringLiteral("demo"), QStringLiteral("--program-folder"), test::sourceDir() + QStringLiteral("/demo"),
                            QStringLiteral("--history"), file}
                    + extra);
        p.waitForFinished(120000);
        QTest::qWait(1100);   // runs a second apart
    };
    const auto conn = server.connect();
    const char *between[] = {
        "update VoucherLine set mCredit = 19999.00 where iVoucherID = 2 and iRow = 2 "
        "insert into Customer (iID, cCode, cName) values (30, 'C004', N'杭州西湖茶业')",
        "insert into Customer (iID, cCode, cName) values (31, 'C004', N'杭州西湖茶业（重复）')",
        "update VoucherLine set mCredit = 20000.00 where iVoucherID = 2 and iRow = 2 "
        "update VoucherLine set mCredit = 3860.00 where iVoucherID = 10 and iRow = 2 "
        "delete from Customer where iID in (30, 31)",
    };
    run({});
    history::HistoryStore store(file);
    for (const char *change : between) {
        conn->execute(QString::fromUtf8(change));
        if (change == between[2])
        {
            QTest::qWait(600);
            store.addRepair({.time = QDateTime::currentDateTime(), .operatorName = QStringLiteral("demo"),
                             .database = QStringLiteral("QZdata_001_2024"), .code = QStringLiteral("ZZ01"), .succeeded = true});
            QTest::qWait(1100);
        }
        run(change == between[2] ? QStringList{QStringLiteral("--format"), QStringLiteral("html"), QStringLiteral("--output"),
                                               out + QStringLiteral("/history-report.html")}
                                 : QStringList{});
    }

    HistoryWindow w(file, QString(), QStringLiteral("QZdata_001_2024"));
    w.setAttribute(Qt::WA_DeleteOnClose, false);
    w.resize(1000, 760);
    w.show();
    QTest::qWait(300);
    w.grab().save(out + QStringLiteral("/history-window.png"));
    const auto runs = store.runs(QString(), QStringLiteral("QZdata_001_2024"));
    const history::RowDiff d = history::diffRuns(store, runs[3].id, runs[2].id, QStringLiteral("ZZ01"));
    RowDiffWindow rows(QStringLiteral("ZZ01 新增与消除的行"), d);
    rows.setAttribute(Qt::WA_DeleteOnClose, false);
    rows.show();
    QTest::qWait(200);
    rows.grab().save(out + QStringLiteral("/history-rows.png"));
    std::printf("history_screenshot: %zu runs, pictures in %s\n", runs.size(), qPrintable(out));
    return 0;
}
