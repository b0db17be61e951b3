// The workbook writers, read back by independent readers.
#include "DisplayWidth.h"
#include "Export.h"
#include "WorkbookCheck.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace vireo;
using vireo::db::Column;
using vireo::db::ColumnType;

namespace {

// Every column kind, Chinese text, NULLs and empty texts, and 30 columns (A to AD).
db::Recordset mixedTable()
{
    std::vector<Column> cols{{QStringLiteral("编号"), ColumnType::Integer},
                             {QStringLiteral("名称"), ColumnType::Text},
                             {QStringLiteral("金额"), ColumnType::Decimal},
                             {QStringLiteral("ratio"), ColumnType::Real},
                             {QStringLiteral("有效"), ColumnType::Boolean},
                             {QStringLiteral("日期"), ColumnType::DateTime},
                             {QStringLiteral("a rather long field name"), ColumnType::Text}};
    for (int c = int(cols.size()); c < 30; ++c)
        cols.push_back({QStringLiteral("c%1").arg(c + 1), ColumnType::Text});
    std::vector<std::vector<QVariant>> rows;
    const QString texts[] = {QStringLiteral("凭证号不连续"), QString(), QStringLiteral("é and ASCII"),
                             QStringLiteral("全角，标点。"), QStringLiteral("")};
    for (int r = 0; r < 12; ++r) {
        std::vector<QVariant> row;
        row.push_back(r == 3 ? QVariant() : QVariant(qint64(r * 1000003 - 5)));
        row.push_back(texts[r % 5].isNull() ? QVariant() : QVariant(texts[r % 5]));
        row.push_back(r == 4 ? QVariant() : QVariant(QStringLiteral("%1.50").arg(r * 37)));
        row.push_back(r % 6 == 5 ? QVariant() : QVariant(r / 7.0));
        row.push_back(r == 2 ? QVariant() : QVariant(r % 2 == 0));
        row.push_back(r == 6 ? QVariant()
                             : QVariant(QDateTime(QDate(2024, 1 + r % 12, 1 + r), r % 2 ? QTime(13, 5, 9) : QTime(0, 0))));
        row.push_back(QStringLiteral("x"));
        for (int c = 7; c < 30; ++c)
            row.push_back(QString(QChar(u'宽')).repeated((c + r) % 9) + QString::number(c));
        rows.push_back(row);
    }
    return test::makeRecordset(cols, rows);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class ExportFormats : public ::testing::TestWithParam<const char *> {};

} // namespace

TEST(DisplayWidthTest, CountsDoubleByteCharactersOfCodePage936AsTwo)
{
    EXPECT_EQ(DisplayWidth(QString()), 0);
    EXPECT_EQ(DisplayWidth(QStringLiteral("a中")), 3);
    EXPECT_EQ(DisplayWidth(QStringLiteral("cCode")), 5);
    EXPECT_EQ(DisplayWidth(QStringLiteral("记录数：，")), 10);   // full-width punctuation counts 2
    EXPECT_EQ(DisplayWidth(QStringLiteral("é")), 2);             // in GBK as a double-byte character
    EXPECT_EQ(DisplayWidth(QStringLiteral("ÿ")), 1);             // not in GBK
    EXPECT_EQ(DisplayWidth(QStringLiteral("한")), 1);            // Hangul syllables are outside GBK
}

TEST_P(ExportFormats, WritesEveryRecordAndColumnWithTypesFillAndWidths)
{
    const db::Recordset rs = mixedTable();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("结果.") + QLatin1String(GetParam()));
    std::vector<qint64> seen;
    const QString err = exportRecordset(rs, path, [&](qint64 done) { seen.push_back(done); });
    ASSERT_TRUE(err.isEmpty()) << err.toStdString();
    ASSERT_EQ(seen.size(), size_t(rs.rowCount()));
    for (size_t i = 0; i < seen.size(); ++i)
        EXPECT_EQ(seen[i], qint64(i + 1));
    EXPECT_TRUE(test::workbookMatches(path, rs));
    // Nothing but the workbook is left in the folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
}

TEST_P(ExportFormats, ReplacesAnEarlierFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.") + QLatin1String(GetParam()));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(100000, 'x'));
    }
    const db::Recordset rs = test::makeRecordset({{QStringLiteral("n"), ColumnType::Integer}}, {{qint64(7)}});
    ASSERT_TRUE(exportRecordset(rs, path).isEmpty());
    EXPECT_TRUE(test::workbookMatches(path, rs));
}

INSTANTIATE_TEST_SUITE_P(Workbook, ExportFormats, ::testing::Values("xlsx", "xls"));

TEST(ExportFailureTest, FailedExportLeavesTheEarlierFileAsItWas)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("报表.xls"));
    const db::Recordset small = mixedTable();
    ASSERT_TRUE(exportRecordset(small, path).isEmpty());
    const QByteArray before = readAll(path);

    // More records than an Excel 97-2003 sheet holds.
    std::vector<std::vector<QVariant>> rows(70000, std::vector<QVariant>{QVariant(qint64(1))});
    const db::Recordset big = test::makeRecordset({{QStringLiteral("n"), ColumnType::Integer}}, rows);
    const QString err = exportRecordset(big, path);
    EXPECT_FALSE(err.isEmpty());
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("报表.xls")});

    // A text longer than an .xls cell record holds is refused rather than cut; .xlsx keeps it whole.
    const db::Recordset longText = test::makeRecordset(
        {{QStringLiteral("说明"), ColumnType::Text}},
        {{QVariant(QString(QChar(u'长')).repeated(4000))}, {QVariant(QString(QChar(u'长')).repeated(5000))}});
    const QString tooLong = exportRecordset(longText, path);
    EXPECT_TRUE(tooLong.contains(QStringLiteral(".xlsx"))) << tooLong.toStdString();
    EXPECT_EQ(readAll(path), before);
    const QString whole = dir.filePath(QStringLiteral("长文本.xlsx"));
    ASSERT_TRUE(exportRecordset(longText, whole).isEmpty());
    EXPECT_TRUE(test::workbookMatches(whole, longText));
    QFile::remove(whole);

    EXPECT_FALSE(exportRecordset(small, dir.filePath(QStringLiteral("missing/x.xlsx"))).isEmpty());
    EXPECT_FALSE(exportRecordset(small, dir.path()).isEmpty());   // a folder, not a file name
}

TEST(ExportLargeTest, FullSizeXlsAndXlsxBeyondItsLimit)
{
    QTemporaryDir dir;
    // 65,535 records of long text: the compound file needs more allocation sectors than its
    // header lists.
    std::vector<std::vector<QVariant>> rows;
    rows.reserve(65535);
    for (int r = 0; r < 65535; ++r)
        rows.push_back({QVariant(qint64(r)), QVariant(QStringLiteral("第%1行的一段较长的说明文字，用于填满工作簿的扇区").arg(r)),
                        QVariant(QString(QLatin1Char('a' + r % 26)).repeated(60))});
    const db::Recordset rs = test::makeRecordset(
        {{QStringLiteral("行"), ColumnType::Integer}, {QStringLiteral("说明"), ColumnType::Text}, {QStringLiteral("t"), ColumnType::Text}},
        rows);
    const QString xls = dir.filePath(QStringLiteral("big.xls"));
    ASSERT_TRUE(exportRecordset(rs, xls).isEmpty());
    EXPECT_GT(QFileInfo(xls).size(), 109 * 128 * 512);
    EXPECT_TRUE(test::workbookMatches(xls, rs, {0, 1, 32767, 65534}));

    rows.resize(70000, rows.front());
    const db::Recordset more = test::makeRecordset(
        {{QStringLiteral("行"), ColumnType::Integer}, {QStringLiteral("说明"), ColumnType::Text}, {QStringLiteral("t"), ColumnType::Text}},
        rows);
    const QString xlsx = dir.filePath(QStringLiteral("big.xlsx"));
    ASSERT_TRUE(exportRecordset(more, xlsx).isEmpty());
    EXPECT_TRUE(test::workbookMatches(xlsx, more, {0, 65535, 69999}));
}

TEST(ExportLibreOfficeTest, OpensInLibreOffice)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        GTEST_SKIP() << "LibreOffice (soffice) is not installed; the workbooks were checked with openpyxl and xlrd only";
    QTemporaryDir dir;
    const db::Recordset rs = mixedTable();
    for (const char *ext : {"xls", "xlsx"}) {
        const QString path = dir.filePath(QStringLiteral("lo_") + QLatin1String(ext) + QLatin1Char('.') + QLatin1String(ext));
        ASSERT_TRUE(exportRecordset(rs, path).isEmpty());
        const QString out = dir.filePath(QStringLiteral("csv_") + QLatin1String(ext));
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                          QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                          QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"), QStringLiteral("--outdir"), out, path});
        ASSERT_TRUE(p.waitForFinished(180000)) << "soffice did not finish";
        const QString csvPath = out + QLatin1Char('/') + QFileInfo(path).completeBaseName() + QStringLiteral(".csv");
        const QStringList lines = QString::fromUtf8(readAll(csvPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), rs.rowCount() + 1) << p.readAll().toStdString();
        EXPECT_TRUE(lines[0].startsWith(QStringLiteral("编号,名称,金额,ratio,有效,日期")));
        EXPECT_TRUE(lines[0].trimmed().endsWith(QStringLiteral("c30")));
        EXPECT_TRUE(lines[1].contains(QStringLiteral("凭证号不连续"))) << lines[1].toStdString();
    }
}
