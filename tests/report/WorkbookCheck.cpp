#include "WorkbookCheck.h"
#include "TestPaths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace vireo::test {

namespace {
QJsonValue cellJson(const db::Recordset &rs, qint64 r, int c)
{
    if (rs.isNull(r, c))
        return QJsonValue::Null;
    QJsonValue v;
    switch (rs.column(c).type) {
    case db::ColumnType::Integer: case db::ColumnType::Real: case db::ColumnType::Decimal:
        v = rs.number(r, c);
        break;
    case db::ColumnType::Boolean: v = rs.integer(r, c) != 0; break;
    case db::ColumnType::DateTime:
        v = QJsonObject{{QStringLiteral("date"), rs.value(r, c).toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))}};
        break;
    default: v = rs.text(r, c); break;
    }
    return QJsonObject{{QStringLiteral("v"), v}, {QStringLiteral("text"), rs.text(r, c)}};
}
} // namespace

::testing::AssertionResult workbookMatches(const QString &path, const db::Recordset &rs, const std::vector<qint64> &rows)
{
    QJsonArray header;
    for (int c = 0; c < rs.columnCount(); ++c)
        header.append(rs.column(c).name);
    QJsonArray list;
    auto add = [&](qint64 r) {
        QJsonArray cells;
        for (int c = 0; c < rs.columnCount(); ++c)
            cells.append(cellJson(rs, r, c));
        list.append(QJsonArray{double(r), cells});
    };
    if (rows.empty())
        for (qint64 r = 0; r < rs.rowCount(); ++r)
            add(r);
    else
        for (qint64 r : rows)
            add(r);
    QTemporaryDir dir;
    const QString expected = dir.filePath(QStringLiteral("expected.json"));
    QFile f(expected);
    if (!f.open(QIODevice::WriteOnly))
        return ::testing::AssertionFailure() << "cannot write " << expected.toStdString();
    f.write(QJsonDocument(QJsonObject{{QStringLiteral("header"), header},
                                      {QStringLiteral("nrows"), double(rs.rowCount())},
                                      {QStringLiteral("complete"), rows.empty()},
                                      {QStringLiteral("rows"), list}})
                .toJson(QJsonDocument::Compact));
    f.close();

    QProcess py;
    py.setProcessChannelMode(QProcess::MergedChannels);
    py.start(QStringLiteral("/usr/bin/python3"),
             {sourceDir() + QStringLiteral("/tests/report/check_workbook.py"), path, expected});
    if (!py.waitForFinished(240000)) {
        py.kill();
        py.waitForFinished(2000);
        return ::testing::AssertionFailure() << "the workbook reader did not finish";
    }
    const QString out = QString::fromUtf8(py.readAll());
    if (py.exitStatus() != QProcess::NormalExit || py.exitCode() != 0)
        return ::testing::AssertionFailure() << "reader found differences in " << path.toStdString() << ":\n"
                                             << out.toStdString();
    return ::testing::AssertionSuccess();
}

db::Recordset makeRecordset(const std::vector<db::Column> &columns, const std::vector<std::vector<QVariant>> &rows)
{
    db::Recordset rs(columns);
    for (const auto &row : rows) {
        for (int c = 0; c < int(columns.size()); ++c)
            rs.appendVariant(c, row[size_t(c)]);
        rs.endRow();
    }
    return rs;
}

} // namespace vireo::test
