#include "CheckRun.h"
#include "CheckRunner.h"
#include "CommandLine.h"
#include "HistoryStore.h"
#include "StandIn.h"
#include "TestPaths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <arpa/inet.h>
#include <QElapsedTimer>
#include <QThread>
#include <QMap>
#include <csignal>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vireo;

namespace {

// Command-line words written as one line.
QStringList words(const char *line)
{
    return QString::fromUtf8(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

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

// The violations of docs/vireo-check.schema.json that a json text or findings file shows; empty when none.
QString schemaViolations(const QByteArray &json, bool findings = false)
{
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"), QStringList{test::sourceDir() + QStringLiteral("/tests/runner/check_json.py"),
                                                             test::sourceDir() + QStringLiteral("/docs/vireo-check.schema.json")}
                                                     + (findings ? words("--findings") : QStringList()));
    py.write(json);
    py.closeWriteChannel();
    const bool done = py.waitForFinished(30000) && py.exitCode() == 0;
    return done ? QString() : QString::fromUtf8(py.readAllStandardOutput() + py.readAllStandardError()) + QStringLiteral(" (failed)");
}

// The rows of a CSV text as Python's csv module reads them.
QJsonArray csvRows(const QString &text)
{
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"),
             {QStringLiteral("-c"), QStringLiteral("import csv, io, json, sys; print(json.dumps(list(csv.reader("
                                                   "io.TextIOWrapper(sys.stdin.buffer, encoding='utf-8-sig', newline='')))))")});
    py.write(text.toUtf8());
    py.closeWriteChannel();
    py.waitForFinished(20000);
    return QJsonDocument::fromJson(py.readAllStandardOutput()).array();
}

// Lays out a program folder with the demo's VUZ.mdb and the files of the given items; the check
// script of the last one is replaced by the given text.
void demoSubset(const QString &to, const QStringList &codes, const QByteArray &lastScript)
{
    const QString demo = test::sourceDir() + QStringLiteral("/demo");
    ASSERT_TRUE(QFile::copy(demo + QStringLiteral("/VUZ.mdb"), to + QStringLiteral("/VUZ.mdb")));
    for (const QString &code : codes) {
        const QString from = demo + QStringLiteral("/File/") + code, into = to + QStringLiteral("/File/") + code;
        QDir().mkpath(into);
        for (const QString &f : QDir(from).entryList(QDir::Files))
            ASSERT_TRUE(QFile::copy(from + QLatin1Char('/') + f, into + QLatin1Char('/') + f));
    }
    QFile script(to + QStringLiteral("/File/") + codes.last() + QStringLiteral("/检查.SQL"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(lastScript);
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

    // Starts vireo-check on the given server address (the suite's server when empty); the history
    // goes to a folder of the test unless args name a file.
    void start(QProcess &p, QStringList args, bool withPassword = true, const QString &on = {}, const QString &folder = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VIREO_SA_PASSWORD"));
        if (withPassword)
            env.insert(QStringLiteral("VIREO_SA_PASSWORD"), QStringLiteral("Run#secret-42"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome.path());
        for (auto it = extraEnv.cbegin(); it != extraEnv.cend(); ++it)
            env.insert(it.key(), it.value());
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        // The test's own server connections do not live on in the child (they would hold its locks).
        p.setChildProcessModifier([] {
            struct stat st;
            for (int fd = 3; fd < 1024; ++fd)
                if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode))
                    close(fd);
        });
        args << QStringLiteral("--server") << (on.isEmpty() ? server->server() : on) << QStringLiteral("--year") << QStringLiteral("2024")
             << QStringLiteral("--program-folder") << (folder.isEmpty() ? test::sourceDir() + QStringLiteral("/demo") : folder);
        p.start(test::binDir() + QStringLiteral("/vireo-check"), args);
    }

    Outcome finish(QProcess &p)
    {
        EXPECT_TRUE(p.waitForFinished(120000));
        const QByteArray raw = p.readAllStandardOutput();
        Outcome r{p.exitCode(), QString::fromUtf8(raw), QString::fromUtf8(p.readAllStandardError()), raw};
        EXPECT_FALSE((r.out + r.err).contains(QStringLiteral("Run#secret-42")));
        if (r.out.startsWith(QLatin1Char('{')))   // every json output of these tests follows the schema
            EXPECT_EQ(schemaViolations(r.rawOut).toStdString(), "") << r.out.toStdString();
        return r;
    }

    Outcome run(const QStringList &args, bool withPassword = true, const QString &folder = {})
    {
        QProcess p;
        start(p, args, withPassword, {}, folder);
        return finish(p);
    }

    QTemporaryDir dataHome;

    // Each item's finding (count or Error text) by account and code, from the JSON output.
    static QMap<QString, QString> findings(const QString &json)
    {
        QMap<QString, QString> out;
        for (const QJsonValue &a : QJsonDocument::fromJson(json.toUtf8()).object().value(QStringLiteral("accounts")).toArray())
            for (const QJsonValue &i : a.toObject().value(QStringLiteral("items")).toArray())
                out.insert(a.toObject().value(QStringLiteral("database")).toString() + QLatin1Char('/')
                               + i.toObject().value(QStringLiteral("code")).toString(),
                           i.toObject().value(QStringLiteral("status")).toString() + QLatin1Char(' ')
                               + i.toObject().value(QStringLiteral("finding")).toString());
        return out;
    }

    QMap<QString, QString> extraEnv;
    static test::StandIn *server;
};
test::StandIn *Runner::server = nullptr;

TEST_F(Runner, JsonMatchesTheExpectedFindingsOfBothAccountsAndExportsOpen)
{
    QTemporaryDir out;
    const Outcome r = run(words("--account 001,002 --all --format json --jobs 2 --export") << out.path());
    EXPECT_EQ(r.status, 1) << r.err.toStdString();   // findings; GJ01 without --param is skipped, not an error
    const QJsonArray accounts = QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("accounts")).toArray();
    ASSERT_EQ(accounts.size(), 2) << r.out.toStdString();

    for (const QJsonValue &a : accounts) {
        const QJsonObject account = a.toObject();
        // One count and one error text per account (DemoTest holds every item's expectation).
        EXPECT_EQ(itemOf(account, QStringLiteral("WL01")).value(QStringLiteral("count")).toInt(-1), 4);
        EXPECT_EQ(itemOf(account, QStringLiteral("CH02")).value(QStringLiteral("error_text")).toString(),
                  QStringLiteral("未启用存货核算模块，无法检查"));
        const QJsonObject gj01 = itemOf(account, QStringLiteral("GJ01"));
        EXPECT_TRUE(gj01.value(QStringLiteral("status")).toString() == QStringLiteral("not_run") && gj01.value(QStringLiteral("count")).isNull());
        EXPECT_TRUE(gj01.value(QStringLiteral("reason")).toString().contains(QStringLiteral("--param")));
        // Each item's time is its own: together they stay within the account's.
        double sum = 0;
        QSet<double> times;
        for (const QJsonValue &i : account.value(QStringLiteral("items")).toArray()) {
            sum += i.toObject().value(QStringLiteral("elapsed_ms")).toDouble();
            times << i.toObject().value(QStringLiteral("elapsed_ms")).toDouble();
        }
        EXPECT_LE(sum, account.value(QStringLiteral("elapsed_ms")).toDouble());
        EXPECT_GT(times.size(), 1);
    }

    // Every item with findings was exported (ExportTest reads the workbooks back).
    EXPECT_TRUE(QFile::exists(out.path() + QStringLiteral("/QZdata_002_2024/WL01.xlsx")));
}

TEST_F(Runner, ABadAccountIsReportedAndTheOthersGoOn)
{
    const Outcome r = run(words("--account 009,001 --items ZZ05,WL02 --format csv"));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.rawOut.startsWith("\xEF\xBB\xBF"));   // Excel on Windows reads the CSV as UTF-8
    const QJsonArray rows = csvRows(r.out);
    ASSERT_GE(rows.size(), 4) << r.out.toStdString();
    const auto cell = [&](int row, int col) { return rows[row].toArray()[col].toString(); };
    EXPECT_EQ(cell(1, 0) + QLatin1Char(',') + cell(1, 3), QStringLiteral("QZdata_009_2024,error"));
    EXPECT_TRUE(cell(1, 6).contains(QStringLiteral("Cannot open database"))) << r.out.toStdString();   // the server says why
    EXPECT_EQ(QStringList({cell(2, 0), cell(2, 1), cell(3, 0), cell(3, 1)}).join(QLatin1Char(',')), QStringLiteral("QZdata_001_2024,ZZ05,QZdata_001_2024,WL02"));
}

// CSV follows RFC 4180: a finding with a line break, a quote and a comma reads back whole through
// Python's csv module.
TEST_F(Runner, CsvKeepsLineBreaksInsideQuotedFields)
{
    QTemporaryDir dir;
    demoSubset(dir.path(), {QStringLiteral("WL02")},
               "\xef\xbb\xbfif exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ\r\nGO\r\n"
               "select N'\xe7\xac\xac\xe4\xb8\x80\xe8\xa1\x8c' + char(13) + char(10) + N'\"b\", c' as Error into tempdb..VUZ\r\n");
    const Outcome r = run(words("--account 001 --items WL02 --format csv --no-csv-bom"), true, dir.path());
    const QJsonArray rows = csvRows(r.out);
    ASSERT_EQ(rows.size(), 2) << r.out.toStdString();
    EXPECT_EQ(rows[1].toArray()[4].toString(), QStringLiteral("第一行\r\n\"b\", c"));
}

TEST_F(Runner, ExitStatusAndSelectionErrorsAreHonest)
{
    struct Case {
        QStringList args;
        int status;
        QString inOut;   // expected on standard output ("" = nothing there)
        QString inErr;
    };
    const Case cases[] = {
        {{"--items", "ZZ05,WL02"}, 0, "ZZ05\t", ""},
        {{"--items", "zz01"}, 1, "记录数：2", ""},
        {{"--items", "GJ01,GJ02"}, 3, "未检查：缺少 检查.SQL", ""},
        {{"--items", "GJ01", "--param", "GJ01:20240101,20240331,5e4,,"}, 3, "只能是整数", ""},
        // A negative integer, a quoted value, codes in any case.
        {{"--items", "gj01", "--param", "Gj01:20240501,20240630,-1,,\"李娜\""}, 1, "记录数：4", ""},
        // A comma inside quotes stays in the value: five values, no matching maker.
        {{"--items", "GJ01", "--param", "GJ01:20240501,20240630,0,,\"李娜,王\""}, 0, "记录数：0", ""},
        {{"--items", "ZZ05,ZZ5"}, 2, "", "ZZ5"},
        {{"--items", "ZZ"}, 2, "", "不是可执行的检查项目"},
        {{"--items", "ZZ05", "--param", "GJ01:1"}, 2, "", "不在本次运行的项目中"},
        {{"--items", "GJ01", "--param", "GJ01:\"1"}, 2, "", "引号"},
        {{"--items", ""}, 2, "", "--items 没有给出项目编码"},
        {{"--items", ",,"}, 2, "", "--items 没有给出项目编码"},
        {{"--items", "ZZ05", "--export", "out", "--export-format", "pdf"}, 2, "", "--export-format"},
        {{"--items", "ZZ05", "--format", "json", "--rows", "-1"}, 2, "", "--rows"},
        {{"--items", "ZZ05", "--account", "all,002"}, 2, "", "--account all"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const Outcome r = run(QStringList{QStringLiteral("--account"), QStringLiteral("001")} + c.args);
        EXPECT_EQ(r.status, c.status) << r.out.toStdString() << r.err.toStdString();
        EXPECT_TRUE(c.inOut.isEmpty() ? r.out.isEmpty() : r.out.contains(c.inOut)) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(c.inErr)) << r.err.toStdString();
    }
    Outcome r = run(words("--account 001 --items ZZ05"), false);
    EXPECT_TRUE(r.status == 2 && r.err.contains(QStringLiteral("VIREO_SA_PASSWORD"))) << r.err.toStdString();
    r = run({QStringLiteral("--version")});
    EXPECT_TRUE(r.status == 0 && r.out.startsWith(QStringLiteral("vireo-check "))) << r.out.toStdString();
}

// A check script that fails after one that found rows: the error, never the earlier rows, in
// both accounts and in the exports.
TEST_F(Runner, FailedScriptGivesAnErrorNeverTheRowsOfTheItemBefore)
{
    QTemporaryDir folder;
    demoSubset(folder.path(), {QStringLiteral("ZZ01"), QStringLiteral("WL02")}, "select * from NoSuchTable\r\n");
    QTemporaryDir out;
    const Outcome r = run(words("--account 001,002 --items ZZ01,WL02 --format json --export") << out.path(), true,
                          folder.path());
    EXPECT_EQ(r.status, 2);
    const QJsonArray accounts = QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("accounts")).toArray();
    ASSERT_EQ(accounts.size(), 2) << r.out.toStdString();
    for (const QJsonValue &a : accounts) {
        const QString db = a.toObject().value(QStringLiteral("database")).toString();
        EXPECT_EQ(itemOf(a.toObject(), QStringLiteral("ZZ01")).value(QStringLiteral("count")).toInt(), 2);
        const QJsonObject wl02 = itemOf(a.toObject(), QStringLiteral("WL02"));
        EXPECT_TRUE(wl02.value(QStringLiteral("status")).toString() == QStringLiteral("error") && wl02.value(QStringLiteral("count")).isNull());
        EXPECT_TRUE(wl02.value(QStringLiteral("error_text")).toString().startsWith(QStringLiteral("检查脚本执行出错：")));
        EXPECT_EQ(QDir(out.path() + QLatin1Char('/') + db).entryList(QDir::Files), QStringList{"ZZ01.xlsx"});
    }
}

// Two vireo-check processes on one server at once find what they find one after the other; while
// another session holds the server's check lock they say that they wait.
TEST_F(Runner, TwoProcessesOnOneServerDoNotMixTheirResults)
{
    // The second account differs from the first, so that a mix would show.
    auto second = server->connect(QStringLiteral("QZdata_002_2024"));
    second->execute(QStringLiteral("delete from Customer"));
    second->execute(QStringLiteral("delete from VoucherLine"));
    const auto args = [](const char *account) { return words("--all --format json --account") << QLatin1String(account); };
    QMap<QString, QString> alone = findings(run(args("001")).out);
    alone.insert(findings(run(args("002")).out));
    ASSERT_GT(alone.size(), 20);
    ASSERT_NE(alone.value(QStringLiteral("QZdata_001_2024/WL01")), alone.value(QStringLiteral("QZdata_002_2024/WL01")));

    // Both start while another session holds the lock, then run side by side.
    auto holder = server->connect();
    holder->execute(QStringLiteral("exec tempdb..sp_getapplock @Resource = N'Vireo数据体检:tempdb..VUZ', "
                                   "@LockMode = 'Exclusive', @LockOwner = 'Session'"));
    QProcess one, two;
    start(one, args("001"));
    start(two, args("002"));
    QString err1, err2;
    for (int i = 0; i < 200 && !(err1.contains(kLockWaitText) && err2.contains(kLockWaitText)); ++i) {
        one.waitForReadyRead(50);
        two.waitForReadyRead(50);
        err1 += QString::fromUtf8(one.readAllStandardError());
        err2 += QString::fromUtf8(two.readAllStandardError());
    }
    EXPECT_TRUE(err1.contains(kLockWaitText) && err2.contains(kLockWaitText)) << err1.toStdString() << err2.toStdString();
    holder.reset();   // a session that ends lets its lock go
    const Outcome r1 = finish(one), r2 = finish(two);
    QMap<QString, QString> together = findings(r1.out);
    together.insert(findings(r2.out));
    EXPECT_EQ(together, alone);
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
    start(p, {QStringLiteral("--account"), QStringLiteral("001"), QStringLiteral("--items"), QStringLiteral("ZZ05")}, true,
          QStringLiteral("127.0.0.1,%1").arg(ntohs(a.sin_port)));
    ASSERT_TRUE(p.waitForStarted());
    pollfd waiting{fd, POLLIN, 0};
    EXPECT_EQ(poll(&waiting, 1, 60000), 1);   // vireo-check is connecting
    QFile procEnv(QStringLiteral("/proc/%1/environ").arg(p.processId()));
    ASSERT_TRUE(procEnv.open(QIODevice::ReadOnly));
    const QByteArray seen = procEnv.readAll();
    EXPECT_TRUE(seen.contains("PATH=") && !seen.contains("Run#secret-42"));
    p.kill();
    p.waitForFinished();
    close(fd);
}

namespace {
QJsonObject firstAccount(const QString &json)
{
    return QJsonDocument::fromJson(json.toUtf8()).object().value(QStringLiteral("accounts")).toArray().first().toObject();
}
QStringList keys(const std::vector<history::FindingRow> &rows)   // period, sign, number, maker of ZZ01 rows
{
    QStringList out;
    for (const history::FindingRow &r : rows)
        out << QStringList{r.values.mid(0, 3).join(QLatin1Char('|')), r.values.value(4)}.join(QLatin1Char('|'));
    return out;
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
        const QStringList args = QStringList{QStringLiteral("--account"), c.account}
                                 + words("--items ZZ01 --format json --compare last --history") << file;
        const QJsonObject first = firstAccount(run(args).out);
        EXPECT_EQ(itemOf(first, QStringLiteral("ZZ01")).value(QStringLiteral("change")).toString(), QStringLiteral("首次检查"));
        const auto conn = server->connect(QStringLiteral("QZdata_") + c.account + QStringLiteral("_2024"));
        conn->execute(c.change);
        const Outcome r = run(args);
        conn->execute(c.undo);
        const QJsonObject second = firstAccount(r.out);
        const QJsonObject item = itemOf(second, QStringLiteral("ZZ01"));
        EXPECT_EQ(QStringLiteral("%1 %2 %3").arg(item.value(QStringLiteral("previous_count")).toInt()).arg(item.value(QStringLiteral("new")).toInt())
                      .arg(item.value(QStringLiteral("resolved")).toInt()), QStringLiteral("2 1 1")) << r.out.toStdString();   // before, new, resolved
        EXPECT_TRUE(item.value(QStringLiteral("change")).toString().startsWith(QStringLiteral("新增 1 · 消除 1（对比 ")));

        QFile raw(file);
        ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
        EXPECT_FALSE(raw.readAll().contains("Run#secret-42"));
        history::HistoryStore store(file);
        const qint64 earlier = first.value(QStringLiteral("history_run")).toInteger();
        const qint64 later = second.value(QStringLiteral("history_run")).toInteger();
        ASSERT_GT(later, earlier);
        const history::RowDiff d = history::diffRuns(store, earlier, later, QStringLiteral("ZZ01"));
        EXPECT_EQ(keys(d.added) << QStringLiteral("/") << keys(d.resolved), (QStringList{c.added, "/", c.resolved}));
    }
}

// Two processes, two accounts each in parallel, write one history file at the same time (each on
// a server of its own, so that their tempdb tables stay apart).
TEST_F(Runner, ConcurrentRunsLoseNoHistory)
{
    const test::StandIn other(standInOptions());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("history.sqlite"));
    const QStringList args = words("--account 001,002 --jobs 2 --items ZZ01,WL01 --history") << file;
    QProcess a, b;
    start(a, args);
    start(b, args, true, other.server());
    for (QProcess *p : {&a, &b}) {
        const Outcome r = finish(*p);
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("历史记录"))) << r.err.toStdString();
    }
    history::HistoryStore store(file);
    for (const QString &db : {QStringLiteral("QZdata_001_2024"), QStringLiteral("QZdata_002_2024")}) {
        const auto runs = store.runs(QStringLiteral("VIREOTEST"), db);
        ASSERT_EQ(runs.size(), 2u) << db.toStdString();
        for (const auto &h : runs) {
            const auto items = store.items(h.id);
            ASSERT_EQ(items.size(), 2u);
            EXPECT_EQ(items[0].count + items[1].count, 6);   // ZZ01 2, WL01 4
            EXPECT_EQ(store.fingerprints(h.id, QStringLiteral("WL01")).size(), 4u);
        }
    }
}

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
        const Outcome r = run(words("--account 001 --items ZZ01 --format json --history") << file);
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        const QJsonObject a = firstAccount(r.out);
        EXPECT_EQ(itemOf(a, QStringLiteral("ZZ01")).value(QStringLiteral("count")).toInt(), 2) << r.out.toStdString();
        EXPECT_TRUE(a.value(QStringLiteral("history_error")).toString().startsWith(QStringLiteral("历史记录未写入"))
                    && r.err.contains(QStringLiteral("历史记录未写入"))) << r.err.toStdString();
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        if (corrupt)
            EXPECT_EQ(f.readAll(), before);
        else
            EXPECT_TRUE(history::HistoryStore(file).runs({}, QStringLiteral("QZdata_001_2024")).empty());
    }
}

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
    const Outcome r = run(words("--account 001 --items WL01,ZZ01,CH02 --format html --output")
                          << html << QStringLiteral("--history") << dir.filePath(QStringLiteral("h.sqlite")));
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

TEST_F(Runner, AnItemThatRunsTooLongOrAFrozenServerEndsWithAnErrorByItself)
{
    // The demo's ZZ05 made to wait; WL02 after it is quick.
    QTemporaryDir dir;
    demoSubset(dir.path(), {QStringLiteral("WL02"), QStringLiteral("ZZ05")}, "waitfor delay '00:01:00'\r\n");
    const QStringList args = words("--account 001 --items ZZ05,WL02");

    extraEnv = {{QStringLiteral("VIREO_PROBE_INTERVAL_MS"), QStringLiteral("300")},
                {QStringLiteral("VIREO_PROBE_TIMEOUT_SECONDS"), QStringLiteral("1")}};
    QElapsedTimer clock;
    clock.start();
    // Two accounts, one after the other: the first one's lines come out while the second still runs.
    QProcess first;
    start(first, words("--account 001,002 --items ZZ05,WL02 --timeout 1"), true, {}, dir.path());
    QByteArray early;
    while (!early.contains("== QZdata_001_2024") && first.waitForReadyRead(20000))
        early += first.readAllStandardOutput();
    EXPECT_TRUE(early.contains("== QZdata_001_2024") && !early.contains("== QZdata_002_2024") && first.state() == QProcess::Running);
    Outcome r = finish(first);
    r.out.prepend(QString::fromUtf8(early));
    EXPECT_TRUE(r.out.contains(QStringLiteral("== QZdata_002_2024")));
    EXPECT_TRUE(clock.elapsed() < 30000 && r.status == 2) << r.status;
    EXPECT_EQ(r.out.count(QStringLiteral("\t未完成：超过了 --timeout 给定的 1 秒")), 2) << r.out.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("WL02\t客户名称为空检查\t记录数：0")), 2) << r.out.toStdString();   // the next item ran

    // A server that stops answering during the wait: the probes find it silent and the item ends.
    test::StandIn frozen(standInOptions());
    clock.restart();
    QProcess second;
    start(second, args, true, frozen.server(), dir.path());
    QThread::msleep(1000);
    ::kill(pid_t(frozen.pid()), SIGSTOP);
    r = finish(second);
    ::kill(pid_t(frozen.pid()), SIGCONT);
    EXPECT_TRUE(clock.elapsed() < 60000 && r.status == 2) << r.status;
    EXPECT_TRUE(r.out.contains(QStringLiteral("ZZ05\t")) && r.out.contains(QStringLiteral("未完成：服务器没有响应")))
        << r.out.toStdString();
}

// Ctrl-C or SIGTERM while an item's statement runs does what 停止 does: the statement is cancelled
// on the server, that item is cancelled with its time, the rest is not run, what was finished is
// printed and recorded, and the server lock is free.
TEST_F(Runner, CtrlCOrSigtermStopsTheRunningItemAndRecordsTheRun)
{
    QTemporaryDir dir;
    demoSubset(dir.path(), {QStringLiteral("WL02"), QStringLiteral("ZZ05")}, "waitfor delay '00:00:05'\r\n");
    const auto watcher = server->connect();
    const auto lockTaken = [&] { return !test::checkLockIsFree(*watcher); };   // by vireo-check
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        const QString file = dir.filePath(QStringLiteral("h%1.sqlite").arg(sig));
        QProcess p;
        start(p, words("--account 001 --items ZZ05,WL02 --format json --history") << file, true, {}, dir.path());
        QElapsedTimer clock;
        clock.start();
        while (!lockTaken() && clock.elapsed() < 20000)
            QThread::msleep(50);
        QThread::msleep(1000);   // ZZ05 is waiting on the server
        clock.restart();
        ::kill(pid_t(p.processId()), sig);
        const Outcome r = finish(p);
        EXPECT_LT(clock.elapsed(), 3500);
        EXPECT_TRUE(r.status == 128 + sig && r.err.contains(QStringLiteral("已被中断"))) << r.status << r.err.toStdString();
        const QJsonObject a = firstAccount(r.out);
        const QJsonObject zz05 = itemOf(a, QStringLiteral("ZZ05")), wl02 = itemOf(a, QStringLiteral("WL02"));
        EXPECT_EQ(zz05.value(QStringLiteral("status")).toString() + QLatin1Char('|') + wl02.value(QStringLiteral("status")).toString(),
                  QStringLiteral("cancelled|not_run")) << r.out.toStdString();
        EXPECT_GT(zz05.value(QStringLiteral("elapsed_ms")).toDouble(), 500);
        EXPECT_TRUE(zz05.value(QStringLiteral("finding")).toString().startsWith(QStringLiteral("已被中断")));
        EXPECT_FALSE(lockTaken());

        history::HistoryStore store(file);
        const auto runs = store.runs(QStringLiteral("VIREOTEST"), QStringLiteral("QZdata_001_2024"));
        ASSERT_EQ(runs.size(), 1u);
        const auto items = store.items(runs[0].id);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_TRUE(items[0].status == history::ItemStatus::Cancelled && items[1].status == history::ItemStatus::NotChecked);
    }
}

TEST_F(Runner, EachServerOfARunIsRecordedWithItsAccount)
{
    test::StandIn::Options named = standInOptions();
    named.serverName = QStringLiteral("SRV-B");
    const test::StandIn other(named);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("history.sqlite"));
    const Outcome r = run(words("--account 001 --server") << other.server()
                          << words("--account 002 --items ZZ01 --format json --history") << file);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    history::HistoryStore store(file);
    QStringList seen;
    for (const QJsonValue &v : QJsonDocument::fromJson(r.out.toUtf8()).object().value(QStringLiteral("accounts")).toArray()) {
        const QJsonObject a = v.toObject();
        const auto h = store.run(a.value(QStringLiteral("history_run")).toInteger());
        ASSERT_TRUE(h.has_value());
        EXPECT_EQ(h->serverName, a.value(QStringLiteral("server_name")).toString());
        seen << h->database + QLatin1Char('@') + h->server + QLatin1Char('/') + h->serverName;
    }
    // The suite's --server comes last on the command line: the i-th --server goes with the i-th --account.
    EXPECT_EQ(seen, (QStringList{QStringLiteral("QZdata_001_2024@") + other.server() + QStringLiteral("/SRV-B"),
                                 QStringLiteral("QZdata_002_2024@") + server->server() + QStringLiteral("/VIREOTEST")}));
}

// --jobs 2, two accounts on each of two servers (001's item waits 0.6 s, 002's 0.1 s): a worker takes an
// account of a server no other worker is checking, so each server's accounts run in turn, servers at once.
TEST_F(Runner, JobsSpreadOverServersOneAccountPerServerAtATime)
{
    const test::StandIn other(standInOptions());
    QTemporaryDir dir;
    demoSubset(dir.path(), {QStringLiteral("ZZ05")}, "if db_name() = 'QZdata_001_2024' waitfor delay '00:00:00.6' else waitfor delay '00:00:00.1'\r\n");
    const QString a = server->server(), b = other.server();
    const runner::Options o{.server = a, .accounts = {"001", "002", "002", "001"}, .accountServers = {a, a, b, b},
                            .years = {"2024"}, .selection = runner::Selection::Listed, .items = {"ZZ05"}, .jobs = 2,
                            .programFolder = dir.path(), .importerPath = test::binDir() + "/vireo-mdb-import", .history = false};
    const std::vector<runner::AccountResult> r = runner::runAll(o, QStringLiteral("Run#secret-42"));
    ASSERT_EQ(r.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(r[i].server, o.accountServers[int(i)]);   // results stay in command-line order
        ASSERT_EQ(r[i].items.size(), 1u) << r[i].error.toStdString();
        EXPECT_GE(r[i].items[0].outcome.elapsedMs, 100);
    }
    const auto apart = [](const runner::AccountResult &x, const runner::AccountResult &y) { return x.ended <= y.started || y.ended <= x.started; };
    EXPECT_TRUE(apart(r[0], r[1]) && apart(r[2], r[3]));
    EXPECT_FALSE(apart(r[0], r[2]));   // each server's first account was taken at once
}

// vireo-check lint needs no server: 0 clean, 1 warnings only, 2 errors or a bad argument; the json shape.
TEST(RunnerLint, ExitStatusesTableLinesAndJsonShape)
{
    const auto lint = [](const QStringList &args) {
        QProcess p;
        p.start(test::binDir() + QStringLiteral("/vireo-check"), QStringList{QStringLiteral("lint")} + args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return std::pair{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
    };
    const QString demo = test::sourceDir() + QStringLiteral("/demo"), data = test::dataDir() + QStringLiteral("/lint");
    const QString folder = QStringLiteral("--program-folder");
    EXPECT_EQ(lint({folder, demo, QStringLiteral("--catalogue"), QStringLiteral("NjaTree")}).first, 0);
    EXPECT_EQ(lint({folder, data, QStringLiteral("--catalogue"), QStringLiteral("tools")}).first, 2);
    const auto [warned, table] = lint({folder, demo});
    EXPECT_EQ(warned, 1);
    EXPECT_EQ(table.count(QLatin1Char('\n')), 22 + 1);   // a line per item, then the totals
    EXPECT_TRUE(table.contains(QStringLiteral("\nTools\tGJ02\t重建科目余额表\t警告\t警告 File/GJ02 "))) << table.toStdString();

    const auto [failed, json] = lint({folder, data, QStringLiteral("--format"), QStringLiteral("json")});
    EXPECT_EQ(failed, 2);
    const QJsonObject root = QJsonDocument::fromJson(json.toUtf8()).object();
    EXPECT_EQ(root.keys().join(QLatin1Char(',')), QStringLiteral("catalogue_findings,catalogues,errors,items,program_folder,status,warnings"));
    EXPECT_EQ(QStringLiteral("%1 %2 %3").arg(root.value(QStringLiteral("errors")).toInt()).arg(root.value(QStringLiteral("warnings")).toInt())
                  .arg(root.value(QStringLiteral("items")).toArray().size()), QStringLiteral("14 10 24"));   // errors, warnings, items
    const QJsonObject sep = itemOf(root, QStringLiteral("SEP"));
    EXPECT_EQ(sep.keys().join(QLatin1Char(',')), QStringLiteral("catalogue,code,findings,id,name,runnable"));
    const QJsonObject first = sep.value(QStringLiteral("findings")).toArray().first().toObject();
    EXPECT_EQ(first, (QJsonObject{{QStringLiteral("severity"), QStringLiteral("error")}, {QStringLiteral("catalogue"), QStringLiteral("Tools")},
                                  {QStringLiteral("code"), QStringLiteral("SEP")}, {QStringLiteral("file"), QStringLiteral("File/SEP/检查.SQL")},
                                  {QStringLiteral("line"), 2}, {QStringLiteral("message"), QStringLiteral("“GO;”像批分隔符但不是，会作为语句发给服务器")}}));
    const QJsonObject stray = root.value(QStringLiteral("catalogue_findings")).toArray().first().toObject();
    EXPECT_EQ(stray.value(QStringLiteral("code")).toString(), QStringLiteral("STRAY"));
    EXPECT_TRUE(stray.value(QStringLiteral("line")).isNull());
}

// One run with an item of each status (checked, error, not_run, cancelled by --timeout): every item
// has the same keys, --rows gives the first N rows with their SQL types and typed values, and
// --export-format csv writes each item's findings as CSV; a json export holds every row.
TEST_F(Runner, JsonItemsShareTheirKeysAndCarryTypedRowsAndExportsFollowTheFormat)
{
    QTemporaryDir dir;
    demoSubset(dir.path(), {QStringLiteral("WL01"), QStringLiteral("CH02"), QStringLiteral("GJ01"), QStringLiteral("ZZ02"),
                            QStringLiteral("ZZ05")}, "waitfor delay '00:01:00'\r\n");
    QFile typed(dir.filePath(QStringLiteral("File/ZZ02/检查.SQL")));
    ASSERT_TRUE(typed.open(QIODevice::WriteOnly | QIODevice::Truncate));
    typed.write("\xef\xbb\xbfif exists (select * from tempdb..sysobjects where name='VUZ') drop table tempdb..VUZ\r\nGO\r\n"
                "create table tempdb..VUZ (行号 int, 金额 decimal(18,2), 名称 nvarchar(20), 日期 datetime, 备注 varchar(10), 有效 bit)\r\n"
                "insert into tempdb..VUZ values (3, 3860.00, N'甲', '2024-01-31 08:30:00', null, 1)\r\n"
                "insert into tempdb..VUZ values (1, -2.5, N'乙,\"丙\"' + char(13) + char(10) + N'丁', '2024-02-29', 'x', 0)\r\n"
                "insert into tempdb..VUZ values (2, 0, N'戊', '2024-03-01', null, 1)\r\n");
    typed.close();   // ZZ02 gets a table of each type
    QTemporaryDir out;
    const Outcome r = run(words("--account 001 --items WL01,CH02,GJ01,ZZ02,ZZ05 --timeout 1 --format json --rows 2 "
                                "--no-history --export-format csv --export") << out.path(), true, dir.path());
    EXPECT_EQ(r.status, 2) << r.err.toStdString();   // the item stopped by --timeout
    const QJsonObject account = firstAccount(r.out);
    QMap<QString, QString> statuses;   // each with every key (the schema's check in finish())
    for (const QJsonValue &v : account.value(QStringLiteral("items")).toArray())
        statuses.insert(v[QStringLiteral("code")].toString(), v[QStringLiteral("status")].toString());
    EXPECT_EQ(statuses, (QMap<QString, QString>{{"WL01", "checked"}, {"CH02", "error"}, {"GJ01", "not_run"},
                                                {"ZZ02", "checked"}, {"ZZ05", "cancelled"}}));

    const QJsonObject zz02 = itemOf(account, QStringLiteral("ZZ02"));
    QStringList columns;
    for (const QJsonValue &c : zz02.value(QStringLiteral("columns")).toArray())
        columns << c[QStringLiteral("name")].toString() + QLatin1Char(' ') + c[QStringLiteral("type")].toString();
    EXPECT_EQ(columns, (QStringList{"行号 int", "金额 decimal(18,2)", "名称 nvarchar(20)", "日期 datetime", "备注 varchar(10)", "有效 bit"}));
    const QJsonArray rows = zz02.value(QStringLiteral("rows")).toArray();
    ASSERT_EQ(rows.size(), 2);   // --rows 2 of 3 (the schema has made sure of the count)
    EXPECT_EQ(rows[0].toArray(), (QJsonArray{3, 3860.0, "甲", "2024-01-31T08:30:00", QJsonValue(), true}));
    EXPECT_EQ(rows[1].toArray(), (QJsonArray{1, -2.5, "乙,\"丙\"\r\n丁", "2024-02-29T00:00:00", "x", false}));

    // The CSV files, read back by Python's csv module; no workbook.
    const QString folder = out.path() + QStringLiteral("/QZdata_001_2024/");
    EXPECT_EQ(zz02.value(QStringLiteral("export")).toString(), folder + QStringLiteral("ZZ02.csv"));
    QFile csv(folder + QStringLiteral("ZZ02.csv"));
    const QJsonArray lines = csvRows(csv.open(QIODevice::ReadOnly) ? QString::fromUtf8(csv.readAll()) : QString());
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[2].toArray()[2].toString(), QStringLiteral("乙,\"丙\"\r\n丁"));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"WL01.csv", "ZZ02.csv"}));

    // --export-format json: every row, as the schema's findings.
    QTemporaryDir asJson;
    const Outcome j = run(words("--account 001 --items ZZ02 --no-history --export-format json --export") << asJson.path(),
                          true, dir.path());
    EXPECT_EQ(j.status, 1) << j.err.toStdString();
    QFile file(asJson.path() + QStringLiteral("/QZdata_001_2024/ZZ02.json"));
    const QByteArray written = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    EXPECT_EQ(schemaViolations(written, true).toStdString(), "");
    const QJsonArray all = QJsonDocument::fromJson(written).object().value(QStringLiteral("rows")).toArray();
    EXPECT_EQ(all, (QJsonArray{rows[0], rows[1], QJsonArray{2, 0.0, "戊", "2024-03-01T00:00:00", QJsonValue(), true}}));
}

// --account all checks every QZdata_{digits}_{year} database each server lists, in account order:
// another year and names of another shape are left out; a year without databases is an error.
TEST_F(Runner, AccountAllChecksEveryAccountDatabaseOfTheYearOnEachServer)
{
    const auto serving = [](const char *databases) {
        test::StandIn::Options o = standInOptions();
        o.initEachFiles.clear();
        o.databases = words(databases);
        return std::make_unique<test::StandIn>(o);
    };
    const auto first = serving("QZdata_010_2024 QZdata_001_2023 QZdata_002_2024 QZdata_x01_2024 QZdata_001_2024_old QZdata_001_2024");
    const auto second = serving("QZdata_005_2024"), third = serving("QZdata_007_2025 QZdata__2024");
    QTemporaryDir dir;
    demoSubset(dir.path(), {QStringLiteral("ZZ05")}, "select db_name() as name into tempdb..VUZ\r\n");
    QProcess p;
    // The i-th --server goes with the i-th --account; the one start() adds comes last.
    start(p, words("--account all --items ZZ05 --format json --rows 1 --no-history --server") << second->server()
                   << words("--account all"), true, first->server(), dir.path());
    const Outcome r = finish(p);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    QStringList checked;
    for (const QJsonValue &a : QJsonDocument::fromJson(r.rawOut).object().value(QStringLiteral("accounts")).toArray()) {
        const QString db = a[QStringLiteral("database")].toString();
        checked << (a[QStringLiteral("server")].toString() == first->server() ? QStringLiteral("1:") : QStringLiteral("2:")) + db;
        // The item ran in the database it is reported under.
        EXPECT_EQ(itemOf(a.toObject(), QStringLiteral("ZZ05")).value(QStringLiteral("rows")).toArray().first().toArray().first().toString(), db);
    }
    EXPECT_EQ(checked, (QStringList{"2:QZdata_005_2024", "1:QZdata_001_2024", "1:QZdata_002_2024", "1:QZdata_010_2024"}));

    start(p, words("--account all --items ZZ05"), true, third->server(), dir.path());
    const Outcome none = finish(p);
    EXPECT_TRUE(none.status == 2 && none.err.contains(QStringLiteral("没有 2024 年度的账套数据库"))) << none.err.toStdString();
}

// --help names every option the parser takes, both subcommands with their options and every
// format; the man page has its extra sections and never breaks VIREO_SA_PASSWORD with a hyphen.
TEST(RunnerHelp, HelpAndManPageAreComplete)
{
    QProcess p;
    p.start(test::binDir() + QStringLiteral("/vireo-check"), {QStringLiteral("--help")});
    const QString help = p.waitForFinished(30000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
    for (const QCommandLineOption &o : runner::CheckOptions().list() + runner::HistoryOptions().list() + runner::LintOptions().list())
        EXPECT_TRUE(help.contains(QStringLiteral("--") + o.names().first() + QLatin1Char(' '))) << o.names().first().toStdString();
    for (const QString &sub : {QStringLiteral("\n  vireo-check history --database"), QStringLiteral("\n  vireo-check lint [")})
        EXPECT_TRUE(help.contains(sub)) << sub.toStdString();
    EXPECT_TRUE(help.contains(QStringLiteral("--format <%1>").arg(runner::checkFormats().join(QLatin1Char('|')))));

    QFile man(test::binDir() + QStringLiteral("/../vireo-check.1"));
    const QString roff = man.open(QIODevice::ReadOnly) ? QString::fromUtf8(man.readAll()) : QString();
    for (const char *section : {".SH \"EXIT STATUS\"", ".SH ENVIRONMENT", ".SH FILES", ".SH EXAMPLES"})
        EXPECT_TRUE(roff.contains(QLatin1String(section))) << section;
    const QString exits = roff.section(QStringLiteral(".SH \"EXIT STATUS\""), 1).section(QStringLiteral(".SH"), 0, 0);
    for (const char *code : {"0", "1", "2", "3", "130", "143"})
        EXPECT_TRUE(exits.contains(QStringLiteral(".B %1\n").arg(QLatin1String(code)))) << code;
    // Rendered at many widths, the name lands at a line's end in some; it must stay whole there.
    for (int width = 30; width <= 80; width += 5) {
        QProcess groff;
        groff.start(QStringLiteral("groff"), {QStringLiteral("-k"), QStringLiteral("-man"), QStringLiteral("-Tutf8"),
                                             QStringLiteral("-rLL=%1n").arg(width), man.fileName()});
        const QString text = groff.waitForFinished(30000) ? QString::fromUtf8(groff.readAllStandardOutput()) : QString();
        EXPECT_EQ(text.count(QStringLiteral("VIREO_SA_PASSWORD")), text.count(QStringLiteral("VIREO_SA_"))) << width;
        EXPECT_GE(text.count(QStringLiteral("VIREO_SA_PASSWORD")), 2) << width;
    }
}
