#include "Export.h"
#include "ExportCells.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <xlsxwriter.h>
#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
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

// Why a file-system call failed, in the user's language where the cause is a common one.
QString reason(int err)
{
    switch (err) {
    case EACCES: case EPERM: return QStringLiteral("没有权限");
    case EROFS: return QStringLiteral("所在磁盘是只读的");
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return QStringLiteral("磁盘空间不足");
    case ENOTDIR: case EEXIST: return QStringLiteral("路径中有同名的文件");
    case ENAMETOOLONG: return QStringLiteral("路径太长");
    case ENOENT: return QStringLiteral("上级路径不存在");
    default: return QString::fromLocal8Bit(std::strerror(err));
    }
}

QString nativeError()
{
    return reason(errno);
}

// A disk counts as full when a write failed there and almost nothing is left on it.
bool diskFull(const QString &folder, int err)
{
#ifdef EDQUOT
    if (err == EDQUOT)
        return true;
#endif
    if (err == ENOSPC)
        return true;
    const QStorageInfo disk(folder);
    return disk.isValid() && disk.bytesAvailable() >= 0 && disk.bytesAvailable() < 64 * 1024;
}

// A file the user marked read-only: no write permission for its owner, or none for this user.
bool readOnlyFile(const QFileInfo &file)
{
    return !(file.permissions() & QFile::WriteOwner) || !file.isWritable();
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

QString createFolder(const QString &folder)
{
    const QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    if (QFileInfo(clean).isDir())
        return {};
    const QString shown = QDir::toNativeSeparators(clean);
#ifdef Q_OS_WIN
    if (!QDir().mkpath(clean))
        return QStringLiteral("无法创建文件夹 %1").arg(shown);
#else
    // Folder by folder, so that the cause of a failure is known.
    QString current;
    for (const QString &part : clean.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        current += QLatin1Char('/') + part;
        if (QFileInfo(current).isDir())
            continue;
        if (::mkdir(QFile::encodeName(current).constData(), 0777) != 0 && errno != EEXIST)
            return QStringLiteral("无法创建文件夹 %1：%2").arg(shown, nativeError());
        if (!QFileInfo(current).isDir())
            return QStringLiteral("无法创建文件夹 %1：%2").arg(shown, reason(EEXIST));
    }
#endif
    return {};
}

namespace {
void exportOrThrow(const db::Recordset &rs, const QString &path, const ExportProgress &progress, const RowOrder *order)
{
    const QFileInfo target(path);
    if (path.isEmpty() || target.fileName().isEmpty())
        throw ExportError(QStringLiteral("没有给出文件名"));
    if (target.isDir())
        throw ExportError(QStringLiteral("%1 是一个文件夹").arg(path));
    const QString shown = QDir::toNativeSeparators(target.absoluteFilePath());
    if (target.exists() && readOnlyFile(target))
        throw ExportError(QStringLiteral("文件 %1 是只读的，没有覆盖它").arg(shown));
    const QString folder = target.absolutePath();
    const QString noFolder = createFolder(folder);
    if (!noFolder.isEmpty())
        throw ExportError(noFolder);

    QTemporaryFile tmp(folder + QStringLiteral("/.vireo-export-XXXXXX.tmp"));
    if (!tmp.open()) {
        const int err = errno;
        throw ExportError(diskFull(folder, err) ? QStringLiteral("磁盘空间不足，未能保存 %1").arg(shown)
                                                : QStringLiteral("无法保存文件 %1：%2").arg(shown, reason(err)));
    }
    const QString tmpName = tmp.fileName();
    tmp.close();

    try {
        if (exportFormatFor(path) == ExportFormat::Xlsx)
            writeXlsx(rs, tmpName, progress, order);
        else
            writeXls(rs, tmpName, progress, order);
    } catch (const ExportError &e) {
        const int err = errno;
        // Checked while the unfinished file still takes its room on the disk.
        if (diskFull(folder, err))
            throw ExportError(QStringLiteral("磁盘空间不足，未能保存 %1").arg(shown));
        // The user knows the target, not the temporary file it is built in.
        QString text = e.message();
        text.replace(QDir::toNativeSeparators(tmpName), shown).replace(tmpName, shown);
        throw ExportError(text);
    }

    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    QFile::Permissions perms = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser
                               | QFile::ReadGroup | QFile::ReadOther;
    if (target.exists())
        perms = QFile::permissions(path);
    QFile::setPermissions(tmpName, perms);
    replaceFile(tmpName, target.absoluteFilePath());
}
} // namespace

QString exportRecordset(const db::Recordset &rs, const QString &path, const ExportProgress &progress, const RowOrder *order)
{
    try {
        exportOrThrow(rs, path, progress, order);
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

void writeXlsx(const db::Recordset &rs, const QString &path, const ExportProgress &progress, const RowOrder *order)
{
    const int cols = rs.columnCount();
    const qint64 rows = order ? qint64(order->size()) : rs.rowCount();
    if (rows + 1 > LXW_ROW_MAX || cols > LXW_COL_MAX)
        throw ExportError(QStringLiteral("记录太多：工作表最多容纳 %1 行、%2 列").arg(LXW_ROW_MAX).arg(LXW_COL_MAX));

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    // The worksheet's spool goes beside the workbook, onto the disk the workbook needs.
    const QByteArray spoolDir = QFile::encodeName(QFileInfo(path).absolutePath());
    options.tmpdir = const_cast<char *>(spoolDir.constData());
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
    lxw_format *integerFmt = workbook_add_format(book.wb);
    format_set_num_format(integerFmt, "0");
    // Decimals as the grid shows them: one format per number of decimal places.
    std::vector<lxw_format *> decimalFmts(size_t(kMaxDecimals) + 1, nullptr);
    decimalFmts[0] = integerFmt;
    const auto decimalFormat = [&](int places) {
        lxw_format *&f = decimalFmts[size_t(places)];
        if (!f) {
            f = workbook_add_format(book.wb);
            format_set_num_format(f, decimalFormatCode(places).toLatin1().constData());
        }
        return f;
    };

    CellReader reader(rs, true);
    std::string utf8;
    check(worksheet_set_row(ws, 0, LXW_DEF_ROW_HEIGHT, header), "row 1");
    for (int c = 0; c < cols; ++c) {
        const QString name = rs.column(c).name;
        reader.noteHeader(c, name);
        toUtf8(name, cellChars(name), utf8, nullptr);
        check(worksheet_write_string(ws, 0, lxw_col_t(c), utf8.c_str(), header), "header");
    }

    // The header stays in view and carries the filter buttons.
    worksheet_freeze_panes(ws, 1, 0);
    if (cols > 0)
        check(worksheet_autofilter(ws, 0, 0, lxw_row_t(rows), lxw_col_t(cols - 1)), "autofilter");

    Cell cell;
    for (qint64 r = 0; r < rows; ++r) {
        const auto sheetRow = lxw_row_t(r + 1);
        const qint64 record = order ? (*order)[size_t(r)] : r;
        for (int c = 0; c < cols; ++c) {
            reader.read(record, c, cell);
            const auto col = lxw_col_t(c);
            lxw_error err = LXW_NO_ERROR;
            lxw_format *numberFmt = nullptr;
            switch (rs.column(c).type) {
            case db::ColumnType::Integer: numberFmt = integerFmt; break;
            case db::ColumnType::Decimal: numberFmt = decimalFormat(decimalPlaces(cell.text)); break;
            default: break;
            }
            switch (cell.kind) {
            case Kind::Empty: break;
            case Kind::Number: err = worksheet_write_number(ws, sheetRow, col, cell.number, numberFmt); break;
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
