#pragma once
#include "Connection.h"
#include <QVariant>
#include <vector>

namespace vireo {

// The named field of the first row of the SELECT text; an empty text when there is no row.
// A NULL field gives a null QVariant. Errors pass on as db::DbError.
QVariant QueryValue(const QString &field, const QString &select, db::Connection *conn);

// "select " + field + " from " + table + " where 1=1 and " + condition; null when there is no row.
QVariant SelectField(const QString &field, const QString &table, const QString &condition, db::Connection *conn);

// A database value compared with true: NULL, an empty text and no row are not true.
bool isTrue(const QVariant &v);

// A text as an SQL literal in single quotes, quotes inside doubled (no N prefix: the catalogue reads it too).
QString sqlLiteral(const QString &text);

// The runnable-item test: bEnd of the item's catalogue row is true.
bool isRunnableItem(const QString &table, const QString &code, db::Connection *catalog);

// An account database on a server: QZdata_{account}_{year}.
struct AccountDatabase {
    QString name, account, year;
};
// The account databases the server holds (sys.databases), ordered by account, then year.
// Errors pass on as db::DbError.
std::vector<AccountDatabase> listAccountDatabases(db::Connection *server);

} // namespace vireo
