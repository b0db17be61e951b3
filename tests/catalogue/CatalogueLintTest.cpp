#include "CatalogueImport.h"
#include "CatalogueLint.h"
#include "TestPaths.h"

#include <QMap>
#include <gtest/gtest.h>

using namespace vireo;

namespace {

// Per code, each finding as "错误 3" (severity, line when there is one), in report order; then the
// report's exit status and item count.
QMap<QString, QStringList> lintFolder(const QString &dir)
{
    const auto catalog = openCatalogue(dir + QStringLiteral("/VUZ.mdb"));
    const LintReport report = lintCatalogue(catalog.get(), dir, {QStringLiteral("Tools"), QStringLiteral("NjaTree")});
    QMap<QString, QStringList> out;
    for (const LintFinding &f : report.findings)
        out[f.code] << lintSeverityText(f.severity) + (f.line ? QStringLiteral(" %1").arg(f.line) : QString());
    out[QStringLiteral("(exit status, items)")] << QString::number(report.exitStatus()) << QString::number(report.items.size());
    return out;
}

} // namespace

// tests/data/lint (tools/test-data/make_catalogues.py): one mistake of each kind beside clean items
// (OK, OK01 in UTF-8 with a BOM, OK02, LEAF01, N), which have no findings.
TEST(CatalogueLint, EachKindOfMistakeIsFoundAndCleanItemsPass)
{
    const QMap<QString, QStringList> want{
        // Catalogue rows: the second DUP row only; dup differs in letter case; one finding per cycle (CYA, not CYB).
        {"DUP", {"错误"}}, {"dup", {"警告"}}, {"ORPH", {"错误"}}, {"CYA", {"错误"}}, {"LEAF", {"警告"}},
        {"B\u0001D", {"错误"}}, {"NONAME", {"警告"}},
        // A missing script; a folder without a catalogue entry.
        {"NOSCRIPT", {"警告"}}, {"STRAY", {"警告"}},
        // 描述.txt that cannot be decoded is a warning, a script that cannot run an error.
        {"BADGB", {"警告 1", "错误 2"}}, {"NUL", {"错误 2"}},
        // GO; GO 0 GO2 GO. and an indented GO; "GO 3" repeats; goods = 1, GOTO label and go pass.
        {"SEP", {"错误 2", "错误 3", "错误 4", "错误 5", "错误 6", "警告 9"}},
        // A mention of VUZ in a comment or a drop does not write it; an empty repair script.
        {"NOVUZ", {"错误"}}, {"EMPTYFIX", {"警告"}},
        // A marker without a name, a parameter line of three fields; another name than the code;
        // parameters without a marker.
        {"PROC", {"错误 1", "错误 3"}}, {"PROC2", {"警告 1"}}, {"NOPROC", {"警告 5"}},
        {"(exit status, items)", {"2", "24"}}};
    EXPECT_EQ(lintFolder(test::dataDir() + QStringLiteral("/lint")), want);
}

TEST(CatalogueLint, DemoCatalogueHasNoErrors)
{
    // Warnings only: a tool without a script.
    EXPECT_EQ(lintFolder(test::sourceDir() + QStringLiteral("/demo")),
              (QMap<QString, QStringList>{{"GJ02", {"警告"}}, {"(exit status, items)", {"1", "22"}}}));
}
