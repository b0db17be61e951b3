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
#include <QStringEncoder>
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

    QTemporaryDir dir;
    QJsonObject expected;
    std::unique_ptr<db::SqliteConnection> catalog;
    std::unique_ptr<test::StandIn> server;
    std::unique_ptr<db::OdbcConnection> account;
    CheckContext ctx;
};

// The catalogue, the item folders and expected.json describe the same items, and the demo
// offers every kind of item the tool handles.
TEST_F(DemoTest, CatalogueFoldersAndExpectationsAgree)
{
    QSet<QString> runnable;
    for (const QString &table : kCatalogues)
        for (const TreeItemRef &n : loadCatalogueNodes(catalog.get(), table))
            if (isRunnableItem(table, n.key, catalog.get()))
                runnable.insert(n.key);
    const QStringList keys = expected.keys();
    EXPECT_EQ(runnable, QSet<QString>(keys.begin(), keys.end()));

    QSet<QString> kinds;
    for (const QString &code : keys) {
        SCOPED_TRACE(code.toStdString());
        const QJsonObject e = expected.value(code).toObject();
        const bool hasScript = itemHas(code, QStringLiteral("检查.SQL"));
        EXPECT_EQ(hasScript, e.value(QStringLiteral("script")).toBool(true));
        EXPECT_EQ(itemHas(code, QStringLiteral("修复.sql")), e.value(QStringLiteral("repair")).toBool());
        EXPECT_EQ(itemHas(code, QStringLiteral("方案.txt")), e.value(QStringLiteral("plan")).toBool());
        EXPECT_TRUE(itemHas(code, QStringLiteral("描述.txt")));
        EXPECT_TRUE(itemHas(code, QStringLiteral("说明.txt")));
        const bool procedure = hasScript
            && !GetProcedureName(itemFolder(code) + QStringLiteral("/检查.SQL")).isEmpty();
        EXPECT_EQ(procedure, e.contains(QStringLiteral("procedure")));
        const qint64 count = e.value(QStringLiteral("count")).toInteger(-1);
        if (!hasScript) kinds << QStringLiteral("no script");
        else if (procedure) kinds << QStringLiteral("procedure");
        else if (e.contains(QStringLiteral("error"))) kinds << QStringLiteral("error");
        else if (count == 0) kinds << QStringLiteral("no findings");
        else if (e.value(QStringLiteral("repair")).toBool()) kinds << QStringLiteral("repair");
        else if (e.value(QStringLiteral("plan")).toBool()) kinds << QStringLiteral("plan only");
    }
    EXPECT_EQ(kinds.size(), 6) << kinds.values().join(QStringLiteral(", ")).toStdString();

    // Item files are the sources in items-src/ saved in code page 936 with CR LF line ends, as a
    // real catalogue ships them (demo/make_items.py writes them).
    const QString sources = demoDir() + QStringLiteral("/items-src");
    QDirIterator it(sources, QDir::Files, QDirIterator::Subdirectories);
    int files = 0;
    while (it.hasNext()) {
        const QString src = it.next();
        const QString rel = QDir(sources).relativeFilePath(src);
        SCOPED_TRACE(rel.toStdString());
        QFile a(src), b(demoDir() + QStringLiteral("/File/") + rel);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly));
        ASSERT_TRUE(b.open(QIODevice::ReadOnly));
        QString text = QString::fromUtf8(a.readAll());
        text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
        QStringEncoder gb("GB18030");
        EXPECT_TRUE(b.readAll() == QByteArray(gb(text))) << "differs from its source: run demo/make_items.py";
        ++files;
    }
    int shipped = 0;
    for (QDirIterator f(demoDir() + QStringLiteral("/File"), QDir::Files, QDirIterator::Subdirectories); f.hasNext(); f.next())
        ++shipped;
    EXPECT_EQ(shipped, files);   // no file without a source
}

// Every runnable item of both catalogues, run as the main window runs them, finds what
// expected.json lists; every check script runs to its end.
TEST_F(DemoTest, CheckRunFindsTheExpectedFindings)
{
    for (const QString &table : kCatalogues) {
        SCOPED_TRACE(table.toStdString());
        const auto nodes = allTicked(loadCatalogueNodes(catalog.get(), table));
        for (const TreeItemRef &n : nodes) {
            if (isRunnableItem(table, n.key, catalog.get()) && itemHas(n.key, QStringLiteral("检查.SQL"))) {
                EXPECT_EQ(RunSqlFile(QStringLiteral("检查.SQL"), itemFolder(n.key), account.get()), QString())
                    << n.key.toStdString();
            }
            account->execute(dropResultSql(n.key));
        }

        QStringList handedOff;
        const RunOutcome run = RunChecks(nodes, table, ctx, [&](const QString &key, const QString &tree) {
            EXPECT_EQ(tree, table);
            handedOff << key;
        });
        EXPECT_TRUE(run.problems.empty()) << run.problems.front().message.toStdString();
        const Summary summary = BuildSummary(nodes, table, ctx);
        ASSERT_TRUE(summary.error.isEmpty()) << summary.error.toStdString();

        QStringList procedures;
        int rows = 0;
        for (const TreeItemRef &n : nodes) {
            if (!isRunnableItem(table, n.key, catalog.get()))
                continue;
            const auto found = std::find_if(summary.rows.begin(), summary.rows.end(),
                                            [&](const SummaryRow &r) { return r.code == n.key; });
            ASSERT_NE(found, summary.rows.end()) << n.key.toStdString();
            ++rows;
            const QJsonObject e = expected.value(n.key).toObject();
            if (e.contains(QStringLiteral("procedure")))
                procedures << n.key;
            if (e.contains(QStringLiteral("error"))) {
                EXPECT_FALSE(found->isCount) << n.key.toStdString();
                EXPECT_EQ(found->finding, e.value(QStringLiteral("error")).toString()) << n.key.toStdString();
            } else {
                EXPECT_TRUE(found->isCount) << n.key.toStdString() << " " << found->finding.toStdString();
                EXPECT_EQ(found->count, e.value(QStringLiteral("count")).toInteger(-1)) << n.key.toStdString();
            }
        }
        EXPECT_EQ(int(summary.rows.size()), rows);
        EXPECT_EQ(handedOff, procedures);
    }
}

// The stored-procedure item: its parameter lines cover the editors, and the procedure its check
// creates, executed as the parameter window executes it, finds the expected rows.
TEST_F(DemoTest, ProcedureItemTakesItsParameters)
{
    for (const QString &code : expected.keys()) {
        const QJsonArray calls = expected.value(code).toObject().value(QStringLiteral("procedure")).toArray();
        if (calls.isEmpty())
            continue;
        SCOPED_TRACE(code.toStdString());
        const ParameterScript script = readParameterLines(itemFolder(code) + QStringLiteral("/检查.SQL"));
        EXPECT_TRUE(script.skipped.isEmpty());
        QSet<QString> types;
        bool required = false, optionalWithDefault = false;
        for (const ParameterLine &p : script.parameters) {
            types << p.typeText;
            required |= p.required && p.defaultValue.isEmpty();
            optionalWithDefault |= !p.required && !p.defaultValue.isEmpty();
        }
        for (const char *t : {"短日期", "长日期", "整数", "字符"})
            EXPECT_TRUE(types.contains(QString::fromUtf8(t))) << t;
        EXPECT_TRUE(required);
        EXPECT_TRUE(optionalWithDefault);

        EXPECT_EQ(runItemCheck(code, itemFolder(code), account.get()), QString());
        for (const QJsonValue &call : calls) {
            QStringList args;
            for (const QJsonValue &a : call.toObject().value(QStringLiteral("args")).toArray())
                args << a.toString();
            ASSERT_EQ(args.size(), script.parameters.size());
            const QString exec = buildExecStatement(code, args);
            account->execute(exec);
            EXPECT_EQ(resultCount(code), call.toObject().value(QStringLiteral("count")).toInteger(-1))
                << exec.toStdString();
        }
    }
}

// Each repair script runs to its end, and the re-check that follows finds nothing.
TEST_F(DemoTest, RepairsLeaveNoFindings)
{
    int repaired = 0;
    for (const QString &code : expected.keys()) {
        const QJsonObject e = expected.value(code).toObject();
        if (!e.value(QStringLiteral("repair")).toBool())
            continue;
        SCOPED_TRACE(code.toStdString());
        EXPECT_EQ(runItemCheck(code, itemFolder(code), account.get()), QString());
        EXPECT_EQ(resultCount(code), e.value(QStringLiteral("count")).toInteger(-1));
        EXPECT_EQ(RunSqlFile(QStringLiteral("修复.sql"), itemFolder(code), account.get()), QString());
        EXPECT_EQ(runItemCheck(code, itemFolder(code), account.get()), QString());
        EXPECT_EQ(resultCount(code), 0);
        ++repaired;
    }
    EXPECT_GE(repaired, 3);
}
