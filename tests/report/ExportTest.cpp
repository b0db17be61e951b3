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
#include <functional>
#include <numeric>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vireo;
using vireo::db::Column;
using vireo::db::ColumnType;

namespace {

// Every column kind, Chinese text, NULLs and empty texts, and 30 columns (A to AD).
db::Recordset mixedTable()
{
    std::vector<Column> cols{{QStringLiteral("编号"), ColumnType::Integer}, {QStringLiteral("名称"), ColumnType::Text},
                             {QStringLiteral("金额"), ColumnType::Decimal}, {QStringLiteral("ratio"), ColumnType::Real},
                             {QStringLiteral("有效"), ColumnType::Boolean}, {QStringLiteral("日期"), ColumnType::DateTime},
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

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

class ExportFormats : public ::testing::TestWithParam<const char *> {};

// Runs f in a child process and returns its text: the child may give up root or mount a small
// disk without touching this process.
QString inChild(const std::function<QString()> &f)
{
    int fds[2];
    if (pipe(fds) != 0)
        return QStringLiteral("skip: no pipe");
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const QByteArray out = f().toUtf8();
        const ssize_t n = write(fds[1], out.constData(), size_t(out.size()));
        _exit(n == out.size() ? 0 : 1);
    }
    close(fds[1]);
    QByteArray got;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        got.append(buf, n);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return QString::fromUtf8(got);
}

bool writeProc(const char *path, const QByteArray &text)
{
    const int fd = open(path, O_WRONLY);
    const bool ok = fd >= 0 && write(fd, text.constData(), size_t(text.size())) == text.size();
    if (fd >= 0)
        close(fd);
    return ok;
}

// In a child: a private mount of a tmpfs of `size` over folder (as root, or in a user namespace).
bool mountSmallDisk(const QString &folder, const char *size)
{
    if (unshare(CLONE_NEWNS) != 0) {
        const QByteArray uid = QByteArray::number(getuid()), gid = QByteArray::number(getgid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0 || !writeProc("/proc/self/setgroups", "deny")
            || !writeProc("/proc/self/uid_map", "0 " + uid + " 1") || !writeProc("/proc/self/gid_map", "0 " + gid + " 1"))
            return false;
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
           && mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, (QByteArray("size=") + size).constData()) == 0;
}

} // namespace

TEST(DisplayWidthTest, CountsDoubleByteCharactersOfCodePage936AsTwo)
{
    // Full-width punctuation counts 2, é too (a double-byte character in GBK); ÿ and Hangul are outside GBK.
    const std::pair<const char16_t *, int> widths[] = {{u"", 0}, {u"a中", 3}, {u"cCode", 5}, {u"记录数：，", 10},
                                                       {u"é", 2}, {u"ÿ", 1}, {u"한", 1}};
    for (const auto &[text, width] : widths)
        EXPECT_EQ(DisplayWidth(QString::fromUtf16(text)), width) << QString::fromUtf16(text).toStdString();
}

TEST_P(ExportFormats, WritesEveryRecordAndColumnWithTypesFillAndWidths)
{
    const db::Recordset rs = mixedTable();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("结果.") + QLatin1String(GetParam()));
    ASSERT_TRUE(writeFile(path, QByteArray(1000000, 'x')));   // an earlier, larger file of that name is replaced
    std::vector<qint64> seen, each(size_t(rs.rowCount()));
    const QString err = exportRecordset(rs, path, [&](qint64 done) { seen.push_back(done); });
    ASSERT_TRUE(err.isEmpty()) << err.toStdString();
    std::iota(each.begin(), each.end(), 1);
    EXPECT_EQ(seen, each);   // progress after every record
    EXPECT_TRUE(test::workbookMatches(path, rs));
    // Nothing but the workbook is left in the folder.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
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
    EXPECT_FALSE(exportRecordset(big, path).isEmpty());
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("报表.xls")});

    // A text longer than a cell holds is refused rather than cut, in either format.
    const db::Recordset longText = test::makeRecordset(
        {{QStringLiteral("说明"), ColumnType::Text}},
        {{QVariant(QString(QChar(u'长')).repeated(32767))}, {QVariant(QString(QChar(u'长')).repeated(32768))}});
    const QString tooLong = exportRecordset(longText, path);
    EXPECT_TRUE(tooLong.contains(QStringLiteral("第 3 行")) && tooLong.contains(QStringLiteral("32768"))) << tooLong.toStdString();
    EXPECT_EQ(readAll(path), before);
    const QString xlsx = dir.filePath(QStringLiteral("长.xlsx"));
    EXPECT_TRUE(exportRecordset(longText, xlsx).contains(QStringLiteral("第 3 行")));
    EXPECT_FALSE(QFile::exists(xlsx));

    EXPECT_FALSE(exportRecordset(small, dir.path()).isEmpty());   // a folder, not a file name
}

TEST(ExportFailureTest, FailuresSayWhatHappenedToTheTarget)
{
    QTemporaryDir dir;
    const db::Recordset small = mixedTable();

    // A read-only file is refused, not replaced.
    const QString readOnly = dir.filePath(QStringLiteral("只读.xls"));
    ASSERT_TRUE(writeFile(readOnly, "keep"));
    ASSERT_TRUE(QFile::setPermissions(readOnly, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    const QString refused = exportRecordset(small, readOnly);
    EXPECT_TRUE(refused.contains(QStringLiteral("只读")) && refused.contains(readOnly)) << refused.toStdString();
    EXPECT_EQ(readAll(readOnly), QByteArray("keep"));

    // A missing folder is created; one that cannot be created says why.
    EXPECT_EQ(exportRecordset(small, dir.filePath(QStringLiteral("新/x.xlsx"))), QString());
    const QString locked = dir.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner));
    const QString denied = inChild([&] {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            return QStringLiteral("skip: cannot give up root");
        return exportRecordset(small, locked + QStringLiteral("/子/x.xls"));
    });
    EXPECT_TRUE(denied.contains(QStringLiteral("无法创建文件夹")) && denied.contains(QStringLiteral("没有权限"))
                && !denied.contains(QStringLiteral("不存在")))
        << denied.toStdString();

    // A full disk says so and names the target, not the temporary file; nothing is left behind.
    std::vector<std::vector<QVariant>> rows;
    for (int r = 0; r < 20000; ++r)
        rows.push_back({QVariant(QStringLiteral("第%1行的说明文字，足够把小磁盘写满").arg(r))});
    const db::Recordset big = test::makeRecordset({{QStringLiteral("说明"), ColumnType::Text}}, rows);
    const QString disk = dir.filePath(QStringLiteral("disk"));
    ASSERT_TRUE(QDir().mkdir(disk));
    for (const char *ext : {"xls", "xlsx"}) {
        const QString target = disk + QStringLiteral("/结果.") + QLatin1String(ext);
        const QString full = inChild([&] {
            if (!mountSmallDisk(disk, "128k"))
                return QStringLiteral("skip: no small tmpfs could be mounted");
            const QString err = exportRecordset(big, target);
            return err + QLatin1Char('|') + QDir(disk).entryList(QDir::Files | QDir::Hidden).join(QLatin1Char(','));
        });
        if (full.startsWith(QLatin1String("skip:")))
            GTEST_SKIP() << full.toStdString();
        EXPECT_EQ(full, QStringLiteral("磁盘空间不足，未能保存 ") + target + QLatin1Char('|')) << ext;
    }
}

TEST(ExportLargeTest, FullSizeXlsAndXlsxBeyondItsLimit)
{
    QTemporaryDir dir;
    // 65,535 records of long distinct texts and of repeated ones: the compound file needs more
    // allocation sectors than its header lists, the cell records go through a temporary file.
    std::vector<std::vector<QVariant>> rows;
    rows.reserve(65535);
    for (int r = 0; r < 65535; ++r)
        rows.push_back({QVariant(qint64(r)), QVariant(QStringLiteral("第%1行的一段较长的说明文字，用于填满工作簿的扇区").arg(r)),
                        QVariant(QString(QLatin1Char('a' + r % 26)).repeated(60) + QString::number(r)),
                        QVariant(QStringLiteral("类别%1").arg(r % 100))});
    const std::vector<Column> columns{{QStringLiteral("行"), ColumnType::Integer}, {QStringLiteral("说明"), ColumnType::Text},
                                      {QStringLiteral("t"), ColumnType::Text}, {QStringLiteral("类别"), ColumnType::Text}};
    const db::Recordset rs = test::makeRecordset(columns, rows);
    const QString xls = dir.filePath(QStringLiteral("big.xls"));
    ASSERT_TRUE(exportRecordset(rs, xls).isEmpty());
    EXPECT_GT(QFileInfo(xls).size(), 109 * 128 * 512);
    EXPECT_TRUE(test::workbookMatches(xls, rs, {0, 1, 99, 100, 32767, 65534}));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("big.xls")});

    rows.resize(70000, rows.front());
    const db::Recordset more = test::makeRecordset(columns, rows);
    const QString xlsx = dir.filePath(QStringLiteral("big.xlsx"));
    ASSERT_TRUE(exportRecordset(more, xlsx).isEmpty());
    EXPECT_TRUE(test::workbookMatches(xlsx, more, {0, 65535, 69999}));
}

namespace {

// Texts for the shared string table of an .xls: its first record filled exactly, so that the
// next string starts a CONTINUE record; strings across many CONTINUE boundaries at every kind of
// offset, one-byte and two-byte characters, texts of a whole cell, repeats, empty texts, NULLs.
db::Recordset sharedStringsTable()
{
    std::vector<std::vector<QVariant>> rows;
    auto add = [&](const QVariant &a, const QVariant &b) { rows.push_back({a, b}); };
    // The SST record: 8 bytes of counts, the headers "t" and "u" (3 + 1 bytes each), then four
    // one-byte strings of 3 + 2049 bytes fill its 8224 bytes.
    for (int i = 0; i < 4; ++i)
        add(QString(QLatin1Char('A' + i)).repeated(2049), QVariant());
    // The first CONTINUE: 28 + 8193 bytes leave 3, room for the header of the next string but
    // not for its first character.
    add(QStringLiteral("starts the first CONTINUE"), QString(QChar(0xE9)).repeated(8190));
    add(QString(QChar(u'汉')).repeated(32767), QString(QChar(0xE9)).repeated(32767));
    add(QStringLiteral("Latin-1 ÿ ") + QString(QChar(u'混')).repeated(9000) + QStringLiteral(" end"), QString());
    quint32 seed = 12345;
    auto next = [&seed](quint32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (int r = 0; r < 1500; ++r) {
        QString t;
        const int len = int(next(700)) + 1;
        const bool wide = next(3) == 0;
        for (int k = 0; k < len; ++k)
            t += wide && k % 5 == 0 ? QChar(u'表' + next(50)) : QChar(u'a' + next(26));
        t += QString::number(r);
        add(t, r % 7 == 0 ? QVariant() : QVariant(r % 3 ? QStringLiteral("重复的文字") : QStringLiteral("dup")));
    }
    add(rows[5][0], rows[6][0]);   // repeats of long texts
    add(QString(), rows[0][0]);
    return test::makeRecordset({{QStringLiteral("t"), ColumnType::Text}, {QStringLiteral("u"), ColumnType::Text}}, rows);
}

} // namespace

TEST(ExportXlsTextTest, SharedStringsAcrossContinueRecords)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("文字.xls"));
    const db::Recordset rs = sharedStringsTable();
    const QString err = exportRecordset(rs, path);
    ASSERT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_TRUE(test::workbookMatches(path, rs));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(path).fileName()});
}

TEST(ExportLibreOfficeTest, OpensInLibreOffice)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        GTEST_SKIP() << "LibreOffice (soffice) is not installed; the workbooks were checked with openpyxl and xlrd only";
    QTemporaryDir dir;
    auto convert = [&](const QString &path) {
        const QString out = dir.filePath(QStringLiteral("csv_") + QFileInfo(path).fileName());
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(soffice, {QStringLiteral("-env:UserInstallation=file://") + dir.filePath(QStringLiteral("profile")),
                          QStringLiteral("--headless"), QStringLiteral("--convert-to"),
                          QStringLiteral("csv:Text - txt - csv (StarCalc):44,34,76"), QStringLiteral("--outdir"), out, path});
        EXPECT_TRUE(p.waitForFinished(180000)) << "soffice did not finish";
        const QString csvPath = out + QLatin1Char('/') + QFileInfo(path).completeBaseName() + QStringLiteral(".csv");
        return QString::fromUtf8(readAll(csvPath)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    };
    // The shared string table's texts are read back by ExportXlsTextTest; here every format opens.
    const db::Recordset rs = mixedTable();
    for (const char *ext : {"xls", "xlsx"}) {
        const QString path = dir.filePath(QStringLiteral("lo_") + QLatin1String(ext) + QLatin1Char('.') + QLatin1String(ext));
        ASSERT_TRUE(exportRecordset(rs, path).isEmpty());
        const QStringList lines = convert(path);
        ASSERT_EQ(lines.size(), rs.rowCount() + 1);
        EXPECT_TRUE(lines[0].startsWith(QStringLiteral("编号,名称,金额,ratio,有效,日期")) && lines[0].trimmed().endsWith(QStringLiteral("c30")))
            << lines[0].toStdString();
        EXPECT_TRUE(lines[1].contains(QStringLiteral("凭证号不连续"))) << lines[1].toStdString();
    }
}
