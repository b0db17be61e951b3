// Export of 200,000 records x 10 columns to .xlsx, against a plain loop that writes the same
// cells with libxlsxwriter directly from prepared C data.
#include "Export.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <vector>
#include <xlsxwriter.h>

using namespace vireo;

namespace {

constexpr int kRows = 200000;
constexpr int kCols = 10;

long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

struct Plain {
    std::vector<std::string> names;
    std::vector<std::string> text;   // kRows x text columns
    std::vector<double> numbers;     // kRows x number columns
};

bool isNumberColumn(int c) { return c % 2 == 0; }

db::Recordset buildRecordset(Plain &plain)
{
    std::vector<db::Column> cols;
    for (int c = 0; c < kCols; ++c) {
        const QString name = isNumberColumn(c) ? QStringLiteral("金额%1").arg(c) : QStringLiteral("摘要%1").arg(c);
        cols.push_back({name, isNumberColumn(c) ? (c % 4 ? db::ColumnType::Real : db::ColumnType::Integer)
                                                : db::ColumnType::Text});
        plain.names.push_back(name.toStdString());
    }
    db::Recordset rs(cols);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            if (!isNumberColumn(c)) {
                const QString s = QStringLiteral("凭证%1-第%2行 abc").arg(c).arg(r);
                rs.appendText(c, s);
                plain.text.push_back(s.toStdString());
            } else if (c % 4) {
                const double v = r * 1.25 + c;
                rs.appendReal(c, v);
                plain.numbers.push_back(v);
            } else {
                rs.appendInteger(c, qint64(r) * 7 + c);
                plain.numbers.push_back(double(qint64(r) * 7 + c));
            }
        }
        rs.endRow();
    }
    rs.squeeze();
    return rs;
}

// What a program using libxlsxwriter by hand would do: the same cells, formats and widths.
void plainLoop(const Plain &p, const char *path)
{
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *wb = workbook_new_opt(path, &options);
    lxw_worksheet *ws = workbook_add_worksheet(wb, nullptr);
    lxw_format *header = workbook_add_format(wb);
    format_set_pattern(header, LXW_PATTERN_SOLID);
    format_set_bg_color(header, 0x00FF00);
    worksheet_set_row(ws, 0, LXW_DEF_ROW_HEIGHT, header);
    for (int c = 0; c < kCols; ++c)
        worksheet_write_string(ws, 0, lxw_col_t(c), p.names[size_t(c)].c_str(), header);
    size_t t = 0, n = 0;
    for (int r = 0; r < kRows; ++r)
        for (int c = 0; c < kCols; ++c) {
            if (isNumberColumn(c))
                worksheet_write_number(ws, lxw_row_t(r + 1), lxw_col_t(c), p.numbers[n++], nullptr);
            else
                worksheet_write_string(ws, lxw_row_t(r + 1), lxw_col_t(c), p.text[t++].c_str(), nullptr);
        }
    for (int c = 0; c < kCols; ++c)
        worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), 20, nullptr);
    if (workbook_close(wb) != LXW_NO_ERROR)
        std::fprintf(stderr, "plain loop: workbook_close failed\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    Plain plain;
    const long rssStart = peakKb();
    const db::Recordset rs = buildRecordset(plain);
    const long rssData = peakKb();

    const QByteArray plainPath = dir.filePath(QStringLiteral("plain.xlsx")).toLocal8Bit();
    const QString ourPath = dir.filePath(QStringLiteral("export.xlsx"));
    double bestPlain = 1e30, bestOurs = 1e30;
    long rssAfterOurs = 0;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer t;
        t.start();
        plainLoop(plain, plainPath.constData());
        bestPlain = std::min(bestPlain, t.nsecsElapsed() / 1e9);

        qint64 last = 0;
        t.restart();
        const QString err = exportRecordset(rs, ourPath, [&](qint64 done) { last = done; });
        bestOurs = std::min(bestOurs, t.nsecsElapsed() / 1e9);
        if (!err.isEmpty() || last != kRows) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(err));
            return 1;
        }
        rssAfterOurs = peakKb();
    }
    std::printf("bench_export: %d records x %d columns to .xlsx (constant-memory mode)\n", kRows, kCols);
    std::printf("  plain libxlsxwriter loop : %.3f s  (%lld bytes)\n", bestPlain,
                QFileInfo(QString::fromLocal8Bit(plainPath)).size());
    std::printf("  exportRecordset          : %.3f s  (%lld bytes)\n", bestOurs, QFileInfo(ourPath).size());
    std::printf("  ratio                    : %.2f  (target <= 1.5)\n", bestOurs / bestPlain);
    std::printf("  snapshot                 : %.1f MB\n", rs.memoryBytes() / 1048576.0);
    std::printf("  peak RSS: start %.1f MB, with data %.1f MB, after exports %.1f MB (export adds %.1f MB)\n",
                rssStart / 1024.0, rssData / 1024.0, rssAfterOurs / 1024.0, (rssAfterOurs - rssData) / 1024.0);
    return 0;
}
