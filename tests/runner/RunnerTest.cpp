#include "HistoryStore.h"
#include "StandIn.h"
#include "TestPaths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vireo;

namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
    QByteArray rawOut;
};

QJsonObject itemOf(const QJsonObject &account, const QString &code)
{
    for (const QJsonValue &v : account.value(QStringLiteral("items")).toArray())
        if (v.toObject().value(QStringLiteral("code")).toString() == code)
            return v.toObject();
    return {};
}

} // namespace

// vireo-check on the demo catalogue against two account databases of one stand-in server.
class Runner : public ::testing::Test {
protected:
    static test::StandIn::Options standInOptions()
    {
        test::StandIn::Options o;
        o.databases = {QStringLiteral("QZdata_001_2024"), QStringLiteral("QZdata_002_2024")};
        o.password = QStringLiteral("Run#secret-42");
        o.initEachFiles = {test::sourceDir() + QStringLiteral("/demo/account.sql")};   // both accounts
        return o;
    }
    static void SetUpTestSuite() { server = new test::StandIn(standInOptions()); }
    static void TearDownTestSuite() { delete server; server = nullptr; }

    // Starts vireo-check; the history goes to a folder of the test unless args name a file.
    void start(QProcess &p, QStringList args, bool withPassword = true, const test::StandIn *on = nullptr)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VIREO_SA_PASSWORD"));
        if (withPassword)
            env.insert(QStringLiteral("VIREO_SA_PASSWORD"), QStringLiteral("Run#secret-42"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        args << QStringLiteral("--server") << (on ? on : server)->server() << QStringLiteral("--year") << QStringLiteral("2024")
             << QStringLiteral("--program-folder") << test::sourceDir() + QStringLiteral("/demo");
        p.start(test::binDir() + QStringLiteral("/vireo-check"), args);
    }

    Outcome finish(QProcess &p)
    {
        EXPECT_TRUE(p.waitForFinished(120000));
        const QByteArray raw = p.readAllStandardOutput();
        Outcome r{p.exitCode(), QString::fromUtf8(raw), QString::fromUtf8(p.readAllStandardError()), raw};
        EXPECT_FALSE(r.out.contains(QStringLiteral("Run#secret-42")));
        EXPECT_FALSE(r.err.contains(QStringLiteral("Run#secret-42")));
        return r;
    }

    Outcome run(QStringList args, bool withPassword = true)
    {
        QProcess p;
        start(p, args, withPassword);
        return finish(p);
    }

    QTemporaryDir dataHome;
    static test::StandIn *server;
};
test::StandIn *Runner::server = nullptr;

TEST_F(Runner, JsonMatchesTheExpectedFindingsOfBothAccountsAndExportsOpen)
{
    QTemporaryDir out;
    const Outcome r = run({QStringLiteral("--account"), QStringLiteral("001,002"), QStringLiteral("--all"),
                       QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--jobs"), QStringLiteral("2"),
                       QStringLiteral("--export"), out.path()});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();   // findings; GJ01 without --param is skipped, not an error
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &pe);
    ASSERT_EQ(pe.error, QJsonParseError::NoError) << r.out.toStdString();
    const QJsonArray accounts = doc.object().value(QStringLiteral("accounts")).toArray();
    ASSERT_EQ(accounts.size(), 2);

    QFile f(test::sourceDir() + QStringLiteral("/demo/expected.json"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject expected = QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("items")).toObject();
    for (const QJsonValue &a : accounts) {
        const QJsonObject account = a.toObject();
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            const QJsonObject want = it.value().toObject();
            if (!want.value(QStringLiteral("script")).toBool(true) || it.key().startsWith(QStringLiteral("NJ")))
                continue;   // no script, or another catalogue
            const QJsonObject got = itemOf(account, it.key());
            ASSERT_FALSE(got.isEmpty()) << it.key().toStdString();
            if (want.contains(QStringLiteral("error")))
                EXPECT_EQ(got.value(QStringLiteral("error_text")).toString(), want.value(QStringLiteral("error")).toString());
            else
                EXPECT_EQ(got.value(QStringLiteral("count")).toInt(-1), want.value(QStringLiteral("count")).toInt())
                    << account.value(QStringLiteral("database")).toString().toStdString() << " " << it.key().toStdString();
        }
        EXPECT_TRUE(itemOf(account, QStringLiteral("GJ01")).value(QStringLiteral("skipped")).toString().contains(QStringLiteral("--param")));
    }

    // Every item with findings was exported; an independent reader opens one.
    const QString xlsx = out.path() + QStringLiteral("/QZdata_002_2024/WL01.xlsx");
    ASSERT_TRUE(QFile::exists(xlsx));
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"), QStringLiteral("import openpyxl,sys; ws=openpyxl.load_workbook(sys.argv[1]).active; "
                                                   "print(ws.max_row-1)"),
              xlsx});
    ASSERT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ(QString::fromUtf8(py.readAllStandardOutput()).trimmed(), QStringLiteral("4"))
        << py.readAllStandardError().toStdString();
}

TEST_F(Runner, ABadAccountIsReportedAndTheOthersGoOn)
{
    const Outcome r = run({QStringLiteral("--account"), QStringLiteral("009,001"), QStringLiteral("--items"),
                       QStringLiteral("ZZ05,WL02"), QStringLiteral("--format"), QStringLiteral("csv")});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.rawOut.startsWith("\xEF\xBB\xBF"));   // Excel on Windows reads the CSV as UTF-8
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 4) << r.out.toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("QZdata_009_2024,,,,,"))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("4060")) || lines[1].contains(QStringLiteral("QZdata_009_2024"), Qt::CaseInsensitive));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("QZdata_001_2024,ZZ05,")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("QZdata_001_2024,WL02,")));
}

TEST_F(Runner, StoredProcedureItemRunsOnlyWithValidParameters)
{
    Outcome r = run({QStringLiteral("--account"), QStringLiteral("001"), QStringLiteral("--items"), QStringLiteral("GJ01"),
                 QStringLiteral("--param"), QStringLiteral("GJ01:20240101,20240331,50000,,")});
    EXPECT_EQ(r.status, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("GJ01\t")));
    EXPECT_TRUE(r.out.contains(QStringLiteral("记录数：14"))) << r.out.toStdString();

    r = run({QStringLiteral("--account"), QStringLiteral("001"), QStringLiteral("--items"), QStringLiteral("GJ01"),
             QStringLiteral("--param"), QStringLiteral("GJ01:20240101,20240331,5e4,,")});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("只能是数字"))) << r.out.toStdString();

    r = run({QStringLiteral("--account"), QStringLiteral("001"), QStringLiteral("--items"), QStringLiteral("ZZ05")}, false);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("VIREO_SA_PASSWORD")));
}

TEST_F(Runner, PasswordLeavesTheEnvironmentOnceRead)
{
    // A server that never answers holds vireo-check in its login, long after it read the password.
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_TRUE(bind(fd, reinterpret_cast<sockaddr *>(&a), len) == 0 && listen(fd, 4) == 0
                && getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VIREO_SA_PASSWORD"), QStringLiteral("Run#secret-42"));
    p.setProcessEnvironment(env);
    p.start(test::binDir() + QStringLiteral("/vireo-check"),
            {QStringLiteral("--server"), QStringLiteral("127.0.0.1,%1").arg(ntohs(a.sin_port)), QStringLiteral("--year"),
             QStringLiteral("2024"), QStringLiteral("--account"), QStringLiteral("001"), QStringLiteral("--items"),
             QStringLiteral("ZZ05"), QStringLiteral("--program-folder"), test::sourceDir() + QStringLiteral("/demo")});
    ASSERT_TRUE(p.waitForStarted());
    pollfd waiting{fd, POLLIN, 0};
    EXPECT_EQ(poll(&waiting, 1, 60000), 1);   // vireo-check is connecting
    QFile procEnv(QStringLiteral("/proc/%1/environ").arg(p.processId()));
    ASSERT_TRUE(procEnv.open(QIODevice::ReadOnly));
    const QByteArray seen = procEnv.readAll();
    EXPECT_TRUE(seen.contains("PATH="));
    EXPECT_FALSE(seen.contains("Run#secret-42"));
    p.kill();
    p.waitForFinished();
    close(fd);
}

namespace {
QJsonObject firstAccount(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object().value(QStringLiteral("accounts")).toArray().first().toObject();
}
QString key(const history::FindingRow &r)   // period, sign, number, maker of a ZZ01 row
{
    return QStringList{r.values.mid(0, 3).join(QLatin1Char('|')), r.values.value(4)}.join(QLatin1Char('|'));
}
} // namespace

// Between two runs one voucher becomes unbalanced and another is repaired; or the one column 制单人
// of an unbalanced voucher changes. Either way the item shows exactly one new and one resolved row.
TEST_F(Runner, HistoryComparesFindingsRowByRow)
{
    struct Case {
        QString account, change, undo, added, resolved;
    };
    const Case cases[] = {
        {QStringLiteral("001"),
         QStringLiteral("update VoucherLine set mCredit = 19999.00 where iVoucherID = 2 and iRow = 2 "
                        "update VoucherLine set mCredit = 3860.00 where iVoucherID = 10 and iRow = 2"),
         QStringLiteral("update VoucherLine set mCredit = 20000.00 where iVoucherID = 2 and iRow = 2 "
                        "update VoucherLine set mCredit = 3680.00 where iVoucherID = 10 and iRow = 2"),
         QStringLiteral("1|记|2|张丽"), QStringLiteral("3|记|4|李娜")},
        {QStringLiteral("002"), QStringLiteral("update Voucher set cMaker = N'王五' where iID = 16"),
         QStringLiteral("update Voucher set cMaker = N'李娜' where iID = 16"), QStringLiteral("6|记|2|王五"),
         QStringLiteral("6|记|2|李娜")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.account.toStdString());
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("history.sqlite"));
        const QStringList args{QStringLiteral("--account"), c.account, QStringLiteral("--items"), QStringLiteral("ZZ01"),
                               QStringLiteral("--format"), QStringLiteral("json"), QStringLiteral("--history"), file,
                               QStringLiteral("--compare"), QStringLiteral("last")};
        const QJsonObject first = firstAccount(run(args).out);
        EXPECT_EQ(itemOf(first, QStringLiteral("ZZ01")).value(QStringLiteral("change")).toString(), QStringLiteral("首次检查"));
        const auto conn = server->connect(QStringLiteral("QZdata_") + c.account + QStringLiteral("_2024"));
        conn->execute(c.change);
        const Outcome r = run(args);
        conn->execute(c.undo);
        const QJsonObject second = firstAccount(r.out);
        const QJsonObject item = itemOf(second, QStringLiteral("ZZ01"));
        EXPECT_EQ(item.value(QStringLiteral("previous_count")).toInt(), 2) << r.out.toStdString();
        EXPECT_EQ(item.value(QStringLiteral("new")).toInt(), 1);
        EXPECT_EQ(item.value(QStringLiteral("resolved")).toInt(), 1);
        EXPECT_TRUE(item.value(QStringLiteral("change")).toString().startsWith(QStringLiteral("新增 1 · 消除 1（对比 ")));

        QFile raw(file);
        ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
        EXPECT_FALSE(raw.readAll().contains("Run#secret-42"));
        history::HistoryStore store(file);
        const qint64 earlier = first.value(QStringLiteral("history_run")).toInteger();
        const qint64 later = second.value(QStringLiteral("history_run")).toInteger();
        ASSERT_GT(later, earlier);
        const history::RowDiff d = history::diffRuns(store, earlier, later, QStringLiteral("ZZ01"));
        ASSERT_EQ(d.added.size(), 1u);
        ASSERT_EQ(d.resolved.size(), 1u);
        EXPECT_EQ(key(d.added[0]), c.added);
        EXPECT_EQ(key(d.resolved[0]), c.resolved);
    }
}

// Two processes, two accounts each in parallel, write one history file at the same time (each on
// a server of its own, so that their tempdb tables stay apart).
TEST_F(Runner, ConcurrentRunsLoseNoHistory)
{
    const test::StandIn other(standInOptions());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("history.sqlite"));
    const QStringList args{QStringLiteral("--account"), QStringLiteral("001,002"), QStringLiteral("--jobs"), QStringLiteral("2"),
                           QStringLiteral("--items"), QStringLiteral("ZZ01,WL01"), QStringLiteral("--history"), file};
    QProcess a, b;
    start(a, args);
    start(b, args, true, &other);
    for (QProcess *p : {&a, &b}) {
        const Outcome r = finish(*p);
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("历史记录"))) << r.err.toStdString();
    }
    history::HistoryStore store(file);
    for (const QString &db : {QStringLiteral("QZdata_001_2024"), QStringLiteral("QZdata_002_2024")}) {
        const auto runs = store.runs(db);
        ASSERT_EQ(runs.size(), 2u) << db.toStdString();
        for (const auto &h : runs) {
            const auto items = store.items(h.id);
            ASSERT_EQ(items.size(), 2u);
            EXPECT_EQ(items[0].count + items[1].count, 6);   // ZZ01 2, WL01 4
            EXPECT_EQ(store.fingerprints(h.id, QStringLiteral("WL01")).size(), 4u);
        }
    }
}

// A history file that cannot be written leaves the results as they are and says so.
TEST_F(Runner, UnwritableHistoryLeavesResultsIntact)
{
    for (const bool corrupt : {false, true}) {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("history.sqlite"));
        QByteArray before;
        if (corrupt) {
            QFile f(file);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            before = QByteArray("SQLite format 3").append(4096, '\x5a');
            f.write(before);
        } else {
            history::HistoryStore(file).open();
            QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        }
        const Outcome r = run({QStringLiteral("--account"), QStringLiteral("001"), QStringLiteral("--items"),
                               QStringLiteral("ZZ01"), QStringLiteral("--format"), QStringLiteral("json"),
                               QStringLiteral("--history"), file});
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        const QJsonObject a = firstAccount(r.out);
        EXPECT_EQ(itemOf(a, QStringLiteral("ZZ01")).value(QStringLiteral("count")).toInt(), 2) << r.out.toStdString();
        EXPECT_TRUE(a.value(QStringLiteral("history_error")).toString().startsWith(QStringLiteral("历史记录未写入")));
        EXPECT_TRUE(r.err.contains(QStringLiteral("历史记录未写入"))) << r.err.toStdString();
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        if (corrupt)
            EXPECT_EQ(f.readAll(), before);
        else
            EXPECT_TRUE(history::HistoryStore(file).runs(QStringLiteral("QZdata_001_2024")).empty());
    }
}

// The HTML report: parsed strictly, every value escaped, at most 200 rows per item.
TEST_F(Runner, HtmlReportIsStrictEscapedAndLimited)
{
    QString insert = QStringLiteral("insert into Customer (iID, cCode, cName, cAbbName, cContact, cPhone, cAddress) values "
                                    "(900, 'C001', N'<script>alert(\"x\")</script> & Co', N'A&B', null, '', null)");
    for (int i = 0; i < 250; ++i)
        insert += QStringLiteral(", (%1, 'C900', N'客户%1', null, null, null, null)").arg(1000 + i);
    const auto conn = server->connect(QStringLiteral("QZdata_001_2024"));
    conn->execute(insert);
    QTemporaryDir dir;
    const QString html = dir.filePath(QStringLiteral("report.html"));
    const Outcome r = run({QStringLiteral("--account"), QStringLiteral("001"), QStringLiteral("--items"),
                           QStringLiteral("WL01,ZZ01,CH02"), QStringLiteral("--format"), QStringLiteral("html"),
                           QStringLiteral("--output"), html, QStringLiteral("--history"),
                           dir.filePath(QStringLiteral("h.sqlite"))});
    conn->execute(QStringLiteral("delete from Customer where iID >= 900"));
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    QProcess py;
    // WL01: 4 + 2 (C001) + 250 rows, 200 shown; the customer name comes back as text.
    py.start(QStringLiteral("/usr/bin/python3"), {test::sourceDir() + QStringLiteral("/tests/runner/check_html.py"), html,
                                                  QStringLiteral("WL01"), QStringLiteral("256"), QStringLiteral("200"),
                                                  QStringLiteral("<script>alert(\"x\")</script> & Co")});
    ASSERT_TRUE(py.waitForFinished(60000));
    EXPECT_EQ(py.exitCode(), 0) << py.readAllStandardOutput().toStdString() << py.readAllStandardError().toStdString();
}
