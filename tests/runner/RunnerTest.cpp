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
    static void SetUpTestSuite()
    {
        test::StandIn::Options o;
        o.databases = {QStringLiteral("QZdata_001_2024"), QStringLiteral("QZdata_002_2024")};
        o.password = QStringLiteral("Run#secret-42");
        o.initEachFiles = {test::sourceDir() + QStringLiteral("/demo/account.sql")};   // both accounts
        server = new test::StandIn(o);
    }
    static void TearDownTestSuite() { delete server; server = nullptr; }

    Outcome run(QStringList args, bool withPassword = true)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("VIREO_SA_PASSWORD"));
        if (withPassword)
            env.insert(QStringLiteral("VIREO_SA_PASSWORD"), QStringLiteral("Run#secret-42"));
        p.setProcessEnvironment(env);
        p.setStandardInputFile(QProcess::nullDevice());
        args << QStringLiteral("--server") << server->server() << QStringLiteral("--year") << QStringLiteral("2024")
             << QStringLiteral("--program-folder") << test::sourceDir() + QStringLiteral("/demo");
        p.start(test::binDir() + QStringLiteral("/vireo-check"), args);
        EXPECT_TRUE(p.waitForFinished(120000));
        Outcome r{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()), QString::fromUtf8(p.readAllStandardError())};
        EXPECT_FALSE(r.out.contains(QStringLiteral("Run#secret-42")));
        EXPECT_FALSE(r.err.contains(QStringLiteral("Run#secret-42")));
        return r;
    }

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
