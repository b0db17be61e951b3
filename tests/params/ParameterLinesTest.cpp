#include "ParameterLines.h"
#include "QtPrinters.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

using namespace vireo;

namespace {
ParameterLine parsed(const QString &line)
{
    ParameterLine p;
    bool bad = false;
    EXPECT_TRUE(parseParameterLine(line, 1, &p, &bad)) << line.toStdString();
    EXPECT_FALSE(bad);
    return p;
}
} // namespace

TEST(ParameterLines, TypeTableFirstMatchAndFallThrough)
{
    const std::pair<const char *, const char16_t *> cases[] = {
        {"1", u"整数"},      {"INT", u"整数"},     {"Long", u"整数"},     {"tinyint", u"整数"},
        {"5", u"实数"},      {"Float", u"实数"},   {"double", u"实数"},   {"2", u"字符"},
        {"char", u"字符"},   {"valchar", u"字符"}, {"3", u"短日期"},      {"smalldatetime", u"短日期"},
        {"4", u"布尔型"},    {"BIT", u"布尔型"},   {"X", u"长日期"},      {"x", u"长日期"},
        {"datetime", u"长日期"}, {"varchar", u""}, {"nvarchar", u""},     {"money", u""},
        {"smallint", u""},   {"decimal", u""},     {"", u""},             {" int", u""},
    };
    for (const auto &[type, shown] : cases)
        EXPECT_EQ(TypeDisplayName(QString::fromUtf8(type)), QString::fromUtf16(shown)) << type;
}

TEST(ParameterLines, FieldsAreCutAtEachSeparator)
{
    const ParameterLine d = parsed(QStringLiteral("--参数&&@dBegin&&开始日期&&smalldatetime&&1&&&&"));
    EXPECT_EQ(d.name, QStringLiteral("@dBegin"));
    EXPECT_EQ(d.caption, QStringLiteral("开始日期"));
    EXPECT_EQ(d.rawType, QStringLiteral("smalldatetime"));
    EXPECT_EQ(d.typeText, QStringLiteral("短日期"));
    EXPECT_TRUE(d.required);
    EXPECT_EQ(allowEmptyText(d.required), QStringLiteral("否"));
    EXPECT_EQ(d.defaultValue, QString());

    // Fields are trimmed; text before the marker is ignored.
    const ParameterLine t = parsed(QStringLiteral("  exec x --参数&& @n && 年 度 && INT && 1 && 120 &&  "));
    EXPECT_EQ(t.name, QStringLiteral("@n"));
    EXPECT_EQ(t.caption, QStringLiteral("年 度"));
    EXPECT_EQ(t.typeText, QStringLiteral("整数"));
    EXPECT_EQ(t.defaultValue, QStringLiteral("120"));

    // Required only for exactly "1".
    EXPECT_FALSE(parsed(QStringLiteral("参数&&a&&b&&c&&0&&")).required);
    EXPECT_FALSE(parsed(QStringLiteral("参数&&a&&b&&c&&&&")).required);
    EXPECT_FALSE(parsed(QStringLiteral("参数&&a&&b&&c&&Y&&")).required);
    EXPECT_FALSE(parsed(QStringLiteral("参数&&a&&b&&c&&11&&")).required);

    // A default counts only when closed by its own separator; text after it is ignored.
    EXPECT_EQ(parsed(QStringLiteral("参数&&a&&b&&c&&1&&2024")).defaultValue, QString());
    EXPECT_EQ(parsed(QStringLiteral("参数&&a&&b&&c&&1&&2024&&rest")).defaultValue, QStringLiteral("2024"));
}

TEST(ParameterLines, MalformedAndOrdinaryLines)
{
    ParameterLine p;
    bool bad = false;
    EXPECT_FALSE(parseParameterLine(QStringLiteral("参数&&a&&b&&c"), 3, &p, &bad));
    EXPECT_TRUE(bad);
    EXPECT_FALSE(parseParameterLine(QStringLiteral("--存储过程&&K01"), 1, &p, &bad));
    EXPECT_FALSE(bad);
    EXPECT_FALSE(parseParameterLine(QStringLiteral("参数 && a&&b&&c&&d&&"), 1, &p, &bad));
    EXPECT_FALSE(bad);
}

TEST(ParameterLines, ScriptInFileOrderWithSkippedLines)
{
    // Lower-case file name, backslashes, code page 936.
    const ParameterScript s = readParameterLines(test::dataDir() + QStringLiteral("/params\\File\\P01\\检查.SQL"));
    ASSERT_TRUE(s.fileFound);
    QStringList names, types;
    for (const ParameterLine &p : s.parameters) {
        names << p.name;
        types << p.typeText;
    }
    EXPECT_EQ(names, (QStringList{"@dBegin", "@nYear", "@dEnd", "@cName", "@cMemo", "@nRate", "@bFlag"}));
    EXPECT_EQ(types, (QStringList{"短日期", "整数", "长日期", "", "字符", "实数", "布尔型"}));
    EXPECT_EQ(s.parameters.at(1).lineNumber, 3);
    ASSERT_EQ(s.skipped.size(), 1);
    EXPECT_EQ(s.skipped.at(0).lineNumber, 8);
    EXPECT_EQ(s.skipped.at(0).text, QStringLiteral("-- 参数&&@bad&&缺字段&&int"));

    const ParameterScript none = readParameterLines(test::dataDir() + QStringLiteral("/params/File/NONE/检查.SQL"));
    EXPECT_FALSE(none.fileFound);
    EXPECT_TRUE(none.parameters.isEmpty());
}

TEST(ParameterLines, ExecStatementQuotesEveryValue)
{
    EXPECT_EQ(buildExecStatement(QStringLiteral("K01"), {QStringLiteral("2024"), QStringLiteral("3")}),
              QStringLiteral("Exec K01 '2024','3'"));
    EXPECT_EQ(buildExecStatement(QStringLiteral("K01"), {QString()}), QStringLiteral("Exec K01 ''"));
    EXPECT_EQ(buildExecStatement(QStringLiteral("K01"), {QStringLiteral(" a "), QStringLiteral("x',''); drop table t--")}),
              QStringLiteral("Exec K01 ' a ','x'',''''); drop table t--'"));
}

TEST(ParameterLines, DateTexts)
{
    EXPECT_EQ(sqlDateText(QDateTime(QDate(2024, 3, 5), QTime(0, 0))), QStringLiteral("2024-03-05"));
    EXPECT_EQ(sqlDateText(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 1))), QStringLiteral("2024-03-05 09:07:01"));
    EXPECT_EQ(parseDateText(QStringLiteral("2024-3-5")), QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
    EXPECT_EQ(parseDateText(QStringLiteral("2024/03/05 9:07")), QDateTime(QDate(2024, 3, 5), QTime(9, 7)));
    EXPECT_EQ(parseDateText(QStringLiteral("2024-03-05 09:07:01")), QDateTime(QDate(2024, 3, 5), QTime(9, 7, 1)));
    EXPECT_FALSE(parseDateText(QStringLiteral("昨天")).isValid());
    EXPECT_FALSE(parseDateText(QStringLiteral("2024-02-30")).isValid());
}
