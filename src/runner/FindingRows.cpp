#include "FindingRows.h"
#include "Export.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

namespace vireo::runner {

bool parseFindingsFormat(const QString &name, FindingsFormat *format)
{
    for (const FindingsFormat f : {FindingsFormat::Xlsx, FindingsFormat::Csv, FindingsFormat::Json})
        if (name == findingsExtension(f)) {
            *format = f;
            return true;
        }
    return false;
}

QString findingsExtension(FindingsFormat format)
{
    switch (format) {
    case FindingsFormat::Csv: return QStringLiteral("csv");
    case FindingsFormat::Json: return QStringLiteral("json");
    case FindingsFormat::Xlsx: break;
    }
    return QStringLiteral("xlsx");
}

QString csvField(const QString &s)
{
    if (!s.contains(QLatin1Char(',')) && !s.contains(QLatin1Char('"')) && !s.contains(QLatin1Char('\n'))
        && !s.contains(QLatin1Char('\r')))
        return s;
    QString q = s;
    q.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + q + QLatin1Char('"');
}

namespace {
QJsonValue jsonValue(const db::Recordset &rs, qint64 row, int col)
{
    if (rs.isNull(row, col))
        return QJsonValue::Null;
    switch (rs.column(col).type) {
    case db::ColumnType::Integer:
        return double(rs.integer(row, col));
    case db::ColumnType::Real:
    case db::ColumnType::Decimal:
        return rs.number(row, col);
    case db::ColumnType::Boolean:
        return rs.integer(row, col) != 0;
    case db::ColumnType::DateTime:
    {
        // The wall-clock value the server holds, without a time zone: 2024-01-31T08:30:00.
        const QDateTime t = rs.value(row, col).toDateTime();
        if (rs.column(col).sqlType == QLatin1String("date"))
            return t.date().toString(Qt::ISODate);
        return t.toString(t.time().msec() ? QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz") : QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    }
    case db::ColumnType::Text:
    case db::ColumnType::Binary:
        break;
    }
    return rs.text(row, col);
}
} // namespace

QJsonObject findingsJson(const db::Recordset &rs, qint64 maxRows)
{
    QJsonArray columns, rows;
    for (int c = 0; c < rs.columnCount(); ++c)
        columns.append(QJsonObject{{QStringLiteral("name"), rs.column(c).name},
                                   {QStringLiteral("type"), rs.column(c).sqlType.isEmpty() ? QJsonValue() : rs.column(c).sqlType}});
    const qint64 n = maxRows < 0 ? rs.rowCount() : std::min(maxRows, rs.rowCount());
    for (qint64 r = 0; r < n; ++r) {
        QJsonArray values;
        for (int c = 0; c < rs.columnCount(); ++c)
            values.append(jsonValue(rs, r, c));
        rows.append(values);
    }
    return {{QStringLiteral("columns"), columns}, {QStringLiteral("rows"), rows}};
}

QString findingsCsv(const db::Recordset &rs, bool byteOrderMark)
{
    QString out = byteOrderMark ? QString(QChar(0xFEFF)) : QString();
    QStringList fields;
    for (int c = 0; c < rs.columnCount(); ++c)
        fields << csvField(rs.column(c).name);
    out += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (qint64 r = 0; r < rs.rowCount(); ++r) {
        fields.clear();
        for (int c = 0; c < rs.columnCount(); ++c)
            fields << csvField(rs.text(r, c));
        out += fields.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out;
}

QString writeFindings(const db::Recordset &rs, const QString &path, FindingsFormat format, bool csvByteOrderMark)
{
    if (format == FindingsFormat::Xlsx)
        return exportRecordset(rs, path, {});
    const QString folderError = createFolder(QFileInfo(path).absolutePath());
    if (!folderError.isEmpty())
        return folderError;
    const QByteArray bytes = format == FindingsFormat::Csv
                                 ? findingsCsv(rs, csvByteOrderMark).toUtf8()
                                 : QJsonDocument(findingsJson(rs)).toJson();
    const QFileInfo target(path);
    if (target.exists() && !target.isWritable())
        return QStringLiteral("文件 %1 是只读的，没有覆盖它").arg(QDir::toNativeSeparators(path));
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        return QStringLiteral("无法写入 %1：%2").arg(path, f.errorString());
    return {};
}

} // namespace vireo::runner
