#include "QueryHelpers.h"
#include <QRegularExpression>
#include <algorithm>

namespace vireo {

namespace {
db::Connection *need(db::Connection *conn)
{
    if (!conn)
        throw db::DbError(QStringLiteral("没有打开的数据库连接"));
    return conn;
}

QVariant firstRowField(const QString &field, const QString &sql, db::Connection *conn, const QVariant &noRow)
{
    const db::Recordset rs = need(conn)->query(sql, 1);
    const int col = rs.columnIndex(field);
    if (col < 0)
        throw db::DbError(QStringLiteral("查询结果中没有字段“%1”").arg(field));
    if (rs.isEmpty())
        return noRow;
    return rs.value(0, col);
}
} // namespace

QVariant QueryValue(const QString &field, const QString &select, db::Connection *conn)
{
    return firstRowField(field, select, conn, QVariant(QString(QLatin1String(""))));
}

QVariant SelectField(const QString &field, const QString &table, const QString &condition, db::Connection *conn)
{
    return firstRowField(field, QStringLiteral("select ") + field + QStringLiteral(" from ") + table
                                    + QStringLiteral(" where 1=1 and ") + condition,
                         conn, QVariant());
}

bool isTrue(const QVariant &v)
{
    if (v.isNull())
        return false;
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::QString: {
        const QString s = v.toString().trimmed();
        return s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 || (!s.isEmpty() && s.toLongLong() != 0);
    }
    default: return v.toLongLong() != 0;
    }
}

QString sqlLiteral(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

bool isRunnableItem(const QString &table, const QString &code, db::Connection *catalog)
{
    return isTrue(QueryValue(QStringLiteral("bEnd"),
                             QStringLiteral("Select bEnd from ") + table + QStringLiteral(" where cCode=") + sqlLiteral(code),
                             catalog));
}

std::vector<AccountDatabase> listAccountDatabases(db::Connection *server)
{
    static const QRegularExpression accountName(QStringLiteral("^QZdata_([0-9A-Za-z]{1,10})_([0-9]{4})$"),
                                                QRegularExpression::CaseInsensitiveOption);
    const db::Recordset rs = need(server)->query(QStringLiteral("select name from sys.databases"));
    std::vector<AccountDatabase> found;
    for (qint64 row = 0; row < rs.rowCount(); ++row) {
        const QString name = rs.text(row, 0);
        const QRegularExpressionMatch m = accountName.match(name);
        if (m.hasMatch())
            found.push_back({name, m.captured(1), m.captured(2)});
    }
    std::sort(found.begin(), found.end(), [](const AccountDatabase &a, const AccountDatabase &b) {
        return std::pair(a.account, a.year) < std::pair(b.account, b.year);
    });
    return found;
}

} // namespace vireo
