// Saves a picture of the report window showing rows from the stand-in: report_screenshot OUT.png
#include "ReportWindow.h"
#include "Session.h"
#include "SqliteConnection.h"
#include "StandIn.h"
#include "WindowJobs.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

using namespace vireo;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("report-window.png");
    int rc = 1;
    {
        test::StandIn standIn;
        session().accountConn = standIn.connect();
        auto catalog = std::make_unique<db::SqliteConnection>(QStringLiteral(":memory:"));
        catalog->execute(QStringLiteral("create table Tools (cID integer, cParentID text, cCode text, cName text, bSign boolean, bEnd boolean)"));
        catalog->execute(QStringLiteral("insert into Tools values (1, '', 'PZ001', '凭证借贷不平衡检查', 0, 1)"));
        session().catalogConn = std::move(catalog);
        QTemporaryDir folder;
        session().programFolder = folder.path();
        QDir().mkpath(folder.path() + QStringLiteral("/File/PZ001"));
        QFile repair(folder.path() + QStringLiteral("/File/PZ001/修复.sql"));
        repair.open(QIODevice::WriteOnly);
        repair.write("print 1\r\n");
        repair.close();

        QString sql = QStringLiteral("create table tempdb..PZ001 (iYear int, iPeriod int, csign nvarchar(4), ino_id int, "
                                     "借方金额 decimal(12,2), 贷方金额 decimal(12,2), 差额 decimal(12,2), 摘要 nvarchar(40));"
                                     "insert into tempdb..PZ001 values ");
        const char *memo[] = {"收到货款", "支付差旅费", "计提折旧", "结转成本", "购入原材料", "销售商品"};
        for (int i = 0; i < 40; ++i) {
            const double d = 1000 + i * 137.5, c = d - (i % 3 ? 0.01 * (i + 1) : 10);
            sql += QStringLiteral("%1(2024, %2, N'记', %3, %4, %5, %6, N'%7')")
                       .arg(i ? QStringLiteral(",") : QString())
                       .arg(1 + i / 4)
                       .arg(i * 3 + 1)
                       .arg(d, 0, 'f', 2)
                       .arg(c, 0, 'f', 2)
                       .arg(d - c, 0, 'f', 2)
                       .arg(QString::fromUtf8(memo[i % 6]));
        }
        session().accountConn->execute(sql);

        openReportWindow(test::stampResult(session().accountConn.get(), QStringLiteral("PZ001")), QStringLiteral("Tools"));
    test::waitForWorker();
        QPointer<ReportWindow> w = ReportWindow::instance();
        QTimer::singleShot(300, &app, [&] {
            rc = w->grab().save(out) ? 0 : 1;
            app.quit();
        });
        app.exec();
        if (w)
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        session().accountConn.reset();
        session().catalogConn.reset();
    }
    std::printf("%s %s\n", rc ? "could not write" : "wrote", qPrintable(out));
    return rc;
}
