#include "ParameterLines.h"
#include "QtPrinters.h"

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
        {"INT", u"整数"}, {"long", u"整数"}, {"5", u"实数"}, {"Double", u"实数"}, {"valchar", u"字符"},
        {"3", u"短日期"}, {"smalldatetime", u"短日期"}, {"BIT", u"布尔型"}, {"X", u"长日期"}, {"datetime", u"长日期"},
        {"varchar", u""}, {"nvarchar", u""}, {"smallint", u""}, {"", u""},
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

TEST(ParameterLines, ExecStatementQuotesEveryValue)
{
    EXPECT_EQ(buildExecStatement(QStringLiteral("K01"), {QStringLiteral("2024"), QStringLiteral("3")}),
              QStringLiteral("Exec [K01] '2024','3'"));
    EXPECT_EQ(buildExecStatement(QStringLiteral("K]1;"), {QString()}), QStringLiteral("Exec [K]]1;] ''"));
    EXPECT_EQ(buildExecStatement(QStringLiteral("K01"), {QStringLiteral(" a "), QStringLiteral("x',''); drop table t--")}),
              QStringLiteral("Exec [K01] ' a ','x'',''''); drop table t--'"));
}

TEST(ParameterLines, DateTexts)
{
    EXPECT_EQ(sqlDateText(QDateTime(QDate(2024, 3, 5), QTime(0, 0))), QStringLiteral("20240305"));
    EXPECT_EQ(sqlDateText(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 1))), QStringLiteral("2024-03-05T09:07:01"));
    EXPECT_EQ(parseDateText(QStringLiteral("2024-3-5")), QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
    EXPECT_EQ(parseDateText(QStringLiteral("2024/03/05 9:07")), QDateTime(QDate(2024, 3, 5), QTime(9, 7)));
    EXPECT_FALSE(parseDateText(QStringLiteral("昨天")).isValid());
    EXPECT_FALSE(parseDateText(QStringLiteral("2024-02-30")).isValid());
}
