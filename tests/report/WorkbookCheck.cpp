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
    QJsonObject cell{{QStringLiteral("v"), v}, {QStringLiteral("text"), rs.text(r, c)}};
    // Integers and decimals keep their look: 0, or 0.00 for a decimal shown with two places.
    const QString text = rs.text(r, c);
    if (rs.column(c).type == db::ColumnType::Integer)
        cell.insert(QStringLiteral("fmt"), QStringLiteral("0"));
    else if (rs.column(c).type == db::ColumnType::Decimal && text.contains(QLatin1Char('.')))
        cell.insert(QStringLiteral("fmt"), QStringLiteral("0.") + QString(text.size() - text.indexOf(QLatin1Char('.')) - 1, QLatin1Char('0')));
    else if (rs.column(c).type == db::ColumnType::Decimal)
        cell.insert(QStringLiteral("fmt"), QStringLiteral("0"));
    return cell;
}
} // namespace

::testing::AssertionResult workbookMatches(const QString &path, const db::Recordset &rs, const std::vector<qint64> &rows,
                                           const std::vector<qint64> *order)
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
    if (order)   // sheet row i holds record order[i]
        for (size_t i = 0; i < order->size(); ++i) {
            QJsonArray cells;
            for (int c = 0; c < rs.columnCount(); ++c)
                cells.append(cellJson(rs, (*order)[i], c));
            list.append(QJsonArray{double(i), cells});
        }
    else if (rows.empty())
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
                                      {QStringLiteral("nrows"), double(order ? qint64(order->size()) : rs.rowCount())},
                                      {QStringLiteral("complete"), order || rows.empty()},
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
