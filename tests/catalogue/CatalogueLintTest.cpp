#include "CatalogueImport.h"
#include "CatalogueLint.h"
#include "TestPaths.h"

#include <QMap>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

LintReport lintFolder(const QString &dir)
{
    const auto catalog = openCatalogue(dir + QStringLiteral("/VUZ.mdb"));
    return lintCatalogue(catalog.get(), dir, {QStringLiteral("Tools"), QStringLiteral("NjaTree")});
}

// Per code, each finding as "错误 3" (severity, line when there is one), in report order.
QMap<QString, QStringList> byCode(const LintReport &r)
{
    QMap<QString, QStringList> out;
    for (const LintFinding &f : r.findings)
        out[f.code] << lintSeverityText(f.severity) + (f.line ? QStringLiteral(" %1").arg(f.line) : QString());
    return out;
}

// tests/data/lint: one mistake of each kind beside clean items (tools/test-data/make_catalogues.py).
const QMap<QString, QStringList> &found()
{
    static const QMap<QString, QStringList> f = byCode(lintFolder(test::dataDir() + QStringLiteral("/lint")));
    return f;
}

QStringList list(std::initializer_list<const char *> texts)
{
    QStringList l;
    for (const char *t : texts)
        l << QString::fromUtf8(t);
    return l;
}

} // namespace

TEST(CatalogueLint, CatalogueRowMistakesAndCleanRowsPass)
{
    EXPECT_EQ(found().value(QStringLiteral("DUP")), list({"错误"}));     // the second DUP row only
    EXPECT_EQ(found().value(QStringLiteral("dup")), list({"警告"}));     // differs in letter case
    EXPECT_EQ(found().value(QStringLiteral("ORPH")), list({"错误"}));
    EXPECT_EQ(found().value(QStringLiteral("CYA")), list({"错误"}));     // one finding per cycle
    EXPECT_FALSE(found().contains(QStringLiteral("CYB")));
    EXPECT_EQ(found().value(QStringLiteral("LEAF")), list({"警告"}));
    EXPECT_EQ(found().value(QStringLiteral("B\u0001D")), list({"错误"}));
    EXPECT_EQ(found().value(QStringLiteral("NONAME")), list({"警告"}));
    for (const char *clean : {"OK", "OK01", "OK02", "LEAF01", "N"})
        EXPECT_FALSE(found().contains(QLatin1String(clean))) << clean;
}

TEST(CatalogueLint, MissingScriptAndFolderWithoutEntry)
{
    EXPECT_EQ(found().value(QStringLiteral("NOSCRIPT")), list({"警告"}));
    EXPECT_EQ(found().value(QStringLiteral("STRAY")), list({"警告"}));
}

TEST(CatalogueLint, UndecodableTextAndNulCharacters)
{
    // 描述.txt is a warning, a script that cannot run an error; OK01 is UTF-8 with a BOM and passes.
    EXPECT_EQ(found().value(QStringLiteral("BADGB")), list({"警告 1", "错误 2"}));
    EXPECT_EQ(found().value(QStringLiteral("NUL")), list({"错误 2"}));
}

TEST(CatalogueLint, SeparatorLookAlikesAndRepeatCounts)
{
    // GO; GO 0 GO2 GO. and an indented GO; "GO 3" repeats; goods = 1, GOTO label and go pass.
    EXPECT_EQ(found().value(QStringLiteral("SEP")), list({"错误 2", "错误 3", "错误 4", "错误 5", "错误 6", "警告 9"}));
}

TEST(CatalogueLint, CheckScriptWithoutVuzAndEmptyRepairScript)
{
    EXPECT_EQ(found().value(QStringLiteral("NOVUZ")), list({"错误"}));   // a mention in a comment or a drop does not write
    EXPECT_EQ(found().value(QStringLiteral("EMPTYFIX")), list({"警告"}));
}

TEST(CatalogueLint, ProcedureMarkerAndParameterLines)
{
    EXPECT_EQ(found().value(QStringLiteral("PROC")), list({"错误 1", "错误 3"}));   // no name; three fields
    EXPECT_EQ(found().value(QStringLiteral("PROC2")), list({"警告 1"}));           // another name than the code
    EXPECT_EQ(found().value(QStringLiteral("NOPROC")), list({"警告 5"}));          // parameters, no marker
}

TEST(CatalogueLint, DemoCatalogueHasNoErrors)
{
    const LintReport demo = lintFolder(test::sourceDir() + QStringLiteral("/demo"));
    EXPECT_EQ(demo.exitStatus(), 1);
    EXPECT_EQ(byCode(demo), (QMap<QString, QStringList>{{QStringLiteral("GJ02"), list({"警告"})}}));   // a tool without a script
    EXPECT_EQ(demo.items.size(), 22u);
}
