#include "ParameterLines.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

using namespace vireo;

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

// Each line: parsed fields "name|caption|type shown|required|default", "malformed", or "" (no parameter).
TEST(ParameterLines, FieldsRequiredFlagAndDefault)
{
    const std::pair<const char16_t *, const char16_t *> cases[] = {
        {u"--参数&&@dBegin&&开始日期&&smalldatetime&&1&&&&", u"@dBegin|开始日期|短日期|1|"},
        // fields are trimmed; text before the marker is ignored
        {u"  exec x --参数&& @n && 年 度 && INT && 1 && 120 &&  ", u"@n|年 度|整数|1|120"},
        // required only for exactly "1"
        {u"参数&&a&&b&&c&&0&&", u"a|b||0|"}, {u"参数&&a&&b&&c&&&&", u"a|b||0|"},
        {u"参数&&a&&b&&c&&Y&&", u"a|b||0|"}, {u"参数&&a&&b&&c&&11&&", u"a|b||0|"},
        // a default counts only when closed by its own separator; text after it is ignored
        {u"参数&&a&&b&&c&&1&&2024", u"a|b||1|"}, {u"参数&&a&&b&&c&&1&&2024&&rest", u"a|b||1|2024"},
        {u"参数&&a&&b&&c", u"malformed"}, {u"--存储过程&&K01", u""}, {u"参数 && a&&b&&c&&d&&", u""},
    };
    for (const auto &[line, want] : cases) {
        ParameterLine p;
        bool bad = false;
        const bool found = parseParameterLine(QString::fromUtf16(line), 1, &p, &bad);
        const QString got = bad ? QStringLiteral("malformed")
                          : found ? QStringList{p.name, p.caption, p.typeText, QString::number(p.required), p.defaultValue}.join('|')
                                  : QString();
        EXPECT_EQ(got, QString::fromUtf16(want)) << QString::fromUtf16(line).toStdString();
        EXPECT_FALSE(found && bad);
    }
    EXPECT_EQ(allowEmptyText(true) + allowEmptyText(false), QStringLiteral("否是"));
}

TEST(ParameterLines, ExecStatementAndDateTexts)
{
    EXPECT_EQ(buildExecStatement(QStringLiteral("K01"), {QStringLiteral("2024"), QStringLiteral("3")}),
              QStringLiteral("Exec [K01] '2024','3'"));
    EXPECT_EQ(buildExecStatement(QStringLiteral("K]1;"), {QString()}), QStringLiteral("Exec [K]]1;] ''"));
    EXPECT_EQ(buildExecStatement(QStringLiteral("K01"), {QStringLiteral(" a "), QStringLiteral("x',''); drop table t--")}),
              QStringLiteral("Exec [K01] ' a ','x'',''''); drop table t--'"));

    EXPECT_EQ(sqlDateText(QDateTime(QDate(2024, 3, 5), QTime(0, 0))), QStringLiteral("20240305"));
    EXPECT_EQ(sqlDateText(QDateTime(QDate(2024, 3, 5), QTime(9, 7, 1))), QStringLiteral("2024-03-05T09:07:01"));
    EXPECT_EQ(parseDateText(QStringLiteral("2024-3-5")), QDateTime(QDate(2024, 3, 5), QTime(0, 0)));
    EXPECT_EQ(parseDateText(QStringLiteral("2024/03/05 9:07")), QDateTime(QDate(2024, 3, 5), QTime(9, 7)));
    EXPECT_FALSE(parseDateText(QStringLiteral("昨天")).isValid() || parseDateText(QStringLiteral("2024-02-30")).isValid());
}
