#include "Export.h"
#include "ExportCells.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <xlsxwriter.h>
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace vireo {

using namespace exportcells;

ExportFormat exportFormatFor(const QString &path)
{
    return path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive) ? ExportFormat::Xlsx : ExportFormat::Xls;
}

double fittedColumnWidth(int cells)
{
    if (cells <= 0)
        return 0;
    return std::min(255, cells + 1);
}

namespace {

QString nativeError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

void replaceFile(const QString &from, const QString &to)
{
#ifdef Q_OS_WIN
    if (!MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(from).utf16()),
                     reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(to).utf16()),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw ExportError(QStringLiteral("无法保存文件 %1：文件可能正被其他程序打开").arg(QDir::toNativeSeparators(to)));
#else
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw ExportError(QStringLiteral("无法保存文件 %1：%2").arg(to, nativeError()));
#endif
}

} // namespace

namespace {
void exportOrThrow(const db::Recordset &rs, const QString &path, const ExportProgress &progress)
{
    const QFileInfo target(path);
    if (path.isEmpty() || target.fileName().isEmpty())
        throw ExportError(QStringLiteral("没有给出文件名"));
    if (target.isDir())
        throw ExportError(QStringLiteral("%1 是一个文件夹").arg(path));
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir())
        throw ExportError(QStringLiteral("文件夹 %1 不存在").arg(folder));

    QTemporaryFile tmp(folder + QStringLiteral("/.vireo-export-XXXXXX.tmp"));
    if (!tmp.open())
        throw ExportError(QStringLiteral("无法在 %1 中写入文件：%2").arg(folder, tmp.errorString()));
    const QString tmpName = tmp.fileName();
    tmp.close();

    if (exportFormatFor(path) == ExportFormat::Xlsx)
        writeXlsx(rs, tmpName, progress);
    else
        writeXls(rs, tmpName, progress);

    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                               | QFile::ReadGroup | QFile::ReadOther;
    if (target.exists())
        perms = QFile::permissions(path);
    QFile::setPermissions(tmpName, perms);
    replaceFile(tmpName, target.absoluteFilePath());
}
} // namespace

QString exportRecordset(const db::Recordset &rs, const QString &path, const ExportProgress &progress)
{
    try {
        exportOrThrow(rs, path, progress);
    } catch (const ExportError &e) {
        return e.message().isEmpty() ? QStringLiteral("导出失败") : e.message();
    } catch (const std::bad_alloc &) {
        return QStringLiteral("内存不足，导出失败");
    }
    return {};
}

// ---- .xlsx ------------------------------------------------------------------------------------

namespace {

struct XlsxBook {
    lxw_workbook *wb = nullptr;
    ~XlsxBook()
    {
        if (wb)
            workbook_close(wb);   // only reached on failure; its result is of no interest then
    }
};

void check(lxw_error err, const char *what)
{
    if (err != LXW_NO_ERROR)
        throw ExportError(QStringLiteral("写入工作簿失败（%1）：%2")
                              .arg(QString::fromLatin1(what), QString::fromUtf8(lxw_strerror(err))));
}

constexpr qsizetype kMaxCellChars = 32767;

// The characters of a cell text that a worksheet cell holds.
qsizetype cellChars(const QString &text)
{
    if (text.size() <= kMaxCellChars)
        return text.size();
    return text[kMaxCellChars - 1].isHighSurrogate() ? kMaxCellChars - 1 : kMaxCellChars;
}

} // namespace

void writeXlsx(const db::Recordset &rs, const QString &path, const ExportProgress &progress)
{
    const int cols = rs.columnCount();
    const qint64 rows = rs.rowCount();
    if (rows + 1 > LXW_ROW_MAX || cols > LXW_COL_MAX)
        throw ExportError(QStringLiteral("记录太多：工作表最多容纳 %1 行、%2 列").arg(LXW_ROW_MAX).arg(LXW_COL_MAX));

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    const QByteArray file = QFile::encodeName(path);
    XlsxBook book;
    book.wb = workbook_new_opt(file.constData(), &options);
    if (!book.wb)
        throw ExportError(QStringLiteral("无法创建工作簿 %1").arg(path));
    lxw_worksheet *ws = workbook_add_worksheet(book.wb, nullptr);
    if (!ws)
        throw ExportError(QStringLiteral("无法创建工作表"));

    lxw_format *header = workbook_add_format(book.wb);
    format_set_pattern(header, LXW_PATTERN_SOLID);
    format_set_bg_color(header, 0x00FF00);
    lxw_format *dateFmt = workbook_add_format(book.wb);
    format_set_num_format(dateFmt, "yyyy-mm-dd");
    lxw_format *dateTimeFmt = workbook_add_format(book.wb);
    format_set_num_format(dateTimeFmt, "yyyy-mm-dd hh:mm:ss");

    CellReader reader(rs, true);
    std::string utf8;
    check(worksheet_set_row(ws, 0, LXW_DEF_ROW_HEIGHT, header), "row 1");
    for (int c = 0; c < cols; ++c) {
        const QString name = rs.column(c).name;
        reader.noteHeader(c, name);
        toUtf8(name, cellChars(name), utf8, nullptr);
        check(worksheet_write_string(ws, 0, lxw_col_t(c), utf8.c_str(), header), "header");
    }

    Cell cell;
    for (qint64 r = 0; r < rows; ++r) {
        const auto sheetRow = lxw_row_t(r + 1);
        for (int c = 0; c < cols; ++c) {
            reader.read(r, c, cell);
            const auto col = lxw_col_t(c);
            lxw_error err = LXW_NO_ERROR;
            switch (cell.kind) {
            case Kind::Empty: break;
            case Kind::Number: err = worksheet_write_number(ws, sheetRow, col, cell.number, nullptr); break;
            case Kind::Boolean: err = worksheet_write_boolean(ws, sheetRow, col, cell.flag, nullptr); break;
            case Kind::Date: err = worksheet_write_number(ws, sheetRow, col, cell.number, dateFmt); break;
            case Kind::DateTime: err = worksheet_write_number(ws, sheetRow, col, cell.number, dateTimeFmt); break;
            case Kind::Text:
                if (!cell.text.isEmpty()) {
                    int width = 0;
                    const bool fitted = reader.fitted(c);
                    checkCellText(cell.text, sheetRow + 1, rs.column(c).name);
                    toUtf8(cell.text, cell.text.size(), utf8, fitted ? &width : nullptr);
                    if (fitted)
                        reader.noteWidth(c, width);
                    err = worksheet_write_string(ws, sheetRow, col, utf8.c_str(), nullptr);
                }
                break;
            }
            check(err, "cell");
        }
        if (progress)
            progress(r + 1);
    }

    const std::vector<int> &widths = reader.widths();
    for (size_t c = 0; c < widths.size(); ++c) {
        const double w = fittedColumnWidth(widths[c]);
        if (w > 0)
            check(worksheet_set_column(ws, lxw_col_t(c), lxw_col_t(c), w, nullptr), "column width");
    }

    lxw_workbook *wb = book.wb;
    book.wb = nullptr;
    const lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR)
        throw ExportError(QStringLiteral("无法保存工作簿 %1：%2")
                              .arg(QDir::toNativeSeparators(path), QString::fromUtf8(lxw_strerror(err))));
}

} // namespace vireo
