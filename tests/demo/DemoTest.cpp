// The bundled demo: its catalogue, item folders and account data, run through the real check run.
#include "CatalogueImport.h"
#include "CatalogueTree.h"
#include "CheckRun.h"
#include "FileHelpers.h"
#include "ParameterLines.h"
#include "QueryHelpers.h"
#include "ScriptRunner.h"
#include "StandIn.h"
#include "TestPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

const QStringList kCatalogues{QStringLiteral("Tools"), QStringLiteral("NjaTree")};

QString demoDir() { return test::sourceDir() + QStringLiteral("/demo"); }

QJsonObject expectedItems()
{
    QFile f(demoDir() + QStringLiteral("/expected.json"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object().value(QStringLiteral("items")).toObject();
}

// Copies demo/File and demo/VUZ.mdb into a program folder, as scripts/demo lays them out.
bool layOutProgramFolder(const QString &target)
{
    const QString src = demoDir() + QStringLiteral("/File");
    QDirIterator it(src, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString dest = target + QStringLiteral("/File/") + QDir(src).relativeFilePath(file);
        if (!QDir().mkpath(QFileInfo(dest).path()) || !QFile::copy(file, dest))
            return false;
    }
    return QDir().mkpath(target + QStringLiteral("/报表"))
           && QFile::copy(demoDir() + QStringLiteral("/VUZ.mdb"), target + QStringLiteral("/VUZ.mdb"));
}

std::vector<TreeItemRef> allTicked(std::vector<TreeItemRef> nodes)
{
    for (auto &n : nodes)
        n.checked = true;
    return nodes;
}

} // namespace

class DemoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(layOutProgramFolder(dir.path()));
        expected = expectedItems();
        ASSERT_FALSE(expected.isEmpty()) << "demo/expected.json is missing or empty";
        catalog = openCatalogue(dir.path() + QStringLiteral("/VUZ.mdb"),
                                test::binDir() + QLatin1Char('/') + catalogueImporterName());
        test::StandIn::Options opt;
        opt.initFiles << demoDir() + QStringLiteral("/account.sql");
        server = std::make_unique<test::StandIn>(opt);
        account = server->connect();
        ctx = {dir.path(), catalog.get(), account.get()};
    }

    QString itemFolder(const QString &code) const { return dir.path() + QStringLiteral("/File/") + code; }
    bool itemHas(const QString &code, const QString &file) const
    {
        return FileExists(resolvePath(itemFolder(code) + QLatin1Char('/') + file));
    }
    qint64 resultCount(const QString &code) const
    {
        return QueryValue(QStringLiteral("number"), countSql(code), account.get()).toLongLong();
    }
    // The item's check script and result table, as one item of a run makes them; its error, if any.
    QString check(const QString &code) const
    {
        ItemOutcome item;
        item.code = code;
        const ServerLock lock(account.get());
        checkItem(account.get(), run, itemFolder(code), item);
        return item.scriptFailed ? item.errorText : QString();
    }
    RunIdentity run{newRunId(), QStringLiteral("VIREOTEST"), {}, QStringLiteral("QZdata_001_2024")};

    QTemporaryDir dir;
    QJsonObject expected;
    std::unique_ptr<db::SqliteConnection> catalog;
    std::unique_ptr<test::StandIn> server;
    std::unique_ptr<db::OdbcConnection> account;
    CheckContext ctx;
};

TEST_F(DemoTest, CatalogueFoldersAndExpectationsAgree)
{
    QSet<QString> runnable;
    for (const QString &table : kCatalogues)
        for (const TreeItemRef &n : loadCatalogueNodes(catalog.get(), table))
            if (isRunnableItem(table, n.key, catalog.get()))
                runnable.insert(n.key);
    const QStringList keys = expected.keys();
    EXPECT_EQ(runnable, QSet<QString>(keys.begin(), keys.end()));
    for (const QString &code : keys) {
        const QJsonObject e = expected.value(code).toObject();
        const QString has = QStringLiteral("%1%2%3").arg(itemHas(code, QStringLiteral("检查.SQL"))).arg(itemHas(code, QStringLiteral("修复.sql"))).arg(itemHas(code, QStringLiteral("方案.txt")));
        EXPECT_EQ(has, QStringLiteral("%1%2%3").arg(e.value(QStringLiteral("script")).toBool(true)).arg(e.value(QStringLiteral("repair")).toBool()).arg(e.value(QStringLiteral("plan")).toBool()))
            << code.toStdString();
    }
}

// Every runnable item of both catalogues, run as the main window runs them, finds what
// expected.json lists; every check script runs to its end.
TEST_F(DemoTest, CheckRunFindsTheExpectedFindings)
{
    for (const QString &table : kCatalogues) {
        SCOPED_TRACE(table.toStdString());
        const auto nodes = allTicked(loadCatalogueNodes(catalog.get(), table));
        QStringList handedOff, procedures;
        RunHooks hooks;
        hooks.procedure = [&](ItemOutcome &item, db::Connection *) { handedOff << item.code; return false; };
        const CheckRunRecord run = RunChecks(nodes, table, ctx, RunIdentity{}, hooks);
        ASSERT_EQ(run.end, RunEnd::Completed) << run.endText.toStdString();
        QStringList want, got;
        for (const TreeItemRef &n : nodes) {
            if (!isRunnableItem(table, n.key, catalog.get()))
                continue;
            const QJsonObject e = expected.value(n.key).toObject();
            if (e.contains(QStringLiteral("procedure")))
                procedures << n.key;
            want << n.key + QLatin1Char(' ')
                        + (e.contains(QStringLiteral("error")) ? e.value(QStringLiteral("error")).toString()
                                                               : QString::number(e.value(QStringLiteral("count")).toInteger(-1)));
        }
        for (const ItemOutcome &r : run.items) {
            EXPECT_FALSE(r.scriptFailed) << r.errorText.toStdString();
            got << r.code + QLatin1Char(' ') + (r.state == ItemState::Error ? r.errorText : QString::number(r.count));
        }
        EXPECT_EQ(got, want);
        EXPECT_EQ(handedOff, procedures);
    }
}

// The procedure item's check creates a procedure that, executed as the parameter window executes
// it, finds the expected rows; then each repair script runs to its end and the re-check finds nothing.
TEST_F(DemoTest, ProceduresAndRepairs)
{
    int procedures = 0, repaired = 0;
    for (const QString &code : expected.keys()) {
        SCOPED_TRACE(code.toStdString());
        const QJsonArray calls = expected.value(code).toObject().value(QStringLiteral("procedure")).toArray();
        if (calls.isEmpty())
            continue;
        const ParameterScript script = readParameterLines(itemFolder(code) + QStringLiteral("/检查.SQL"));
        EXPECT_TRUE(script.skipped.isEmpty());
        EXPECT_EQ(check(code), QString());
        for (const QJsonValue &call : calls) {
            QStringList args;
            for (const QJsonValue &a : call.toObject().value(QStringLiteral("args")).toArray())
                args << a.toString();
            ASSERT_EQ(args.size(), script.parameters.size());
            account->execute(buildExecStatement(code, args));
            EXPECT_EQ(resultCount(code), call.toObject().value(QStringLiteral("count")).toInteger(-1)) << args.join(',').toStdString();
        }
        ++procedures;
    }
    for (const QString &code : expected.keys()) {
        SCOPED_TRACE(code.toStdString());
        const QJsonObject e = expected.value(code).toObject();
        if (!e.value(QStringLiteral("repair")).toBool())
            continue;
        EXPECT_EQ(check(code), QString());
        EXPECT_EQ(resultCount(code), e.value(QStringLiteral("count")).toInteger(-1));
        EXPECT_EQ(RunSqlFile(QStringLiteral("修复.sql"), itemFolder(code), account.get()), QString());
        EXPECT_EQ(check(code), QString());
        EXPECT_EQ(resultCount(code), 0);
        ++repaired;
    }
    EXPECT_TRUE(procedures >= 1 && repaired >= 3);
}
