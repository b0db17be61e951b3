#include "SqliteConnection.h"

#include <QAtomicInt>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <sqlite3.h>

namespace vireo::db {

namespace {
QAtomicInt counter;

DbError toError(const QSqlError &e)
{
    QString text = e.databaseText().isEmpty() ? e.text() : e.databaseText();
    return DbError(text, e.nativeErrorCode().toInt());
}

ColumnType typeOf(sqlite3_stmt *stmt, int col, const QVariant &sample)
{
    const char *decl = stmt ? sqlite3_column_decltype(stmt, col) : nullptr;
    if (decl) {
        const QByteArray d = QByteArray(decl).toUpper();
        if (d.contains("BOOL"))
            return ColumnType::Boolean;
        if (d.contains("INT"))
            return ColumnType::Integer;
        if (d.contains("REAL") || d.contains("DOUB") || d.contains("FLOA"))
            return ColumnType::Real;
        if (d.contains("DATE") || d.contains("TIME"))
            return ColumnType::DateTime;
        return ColumnType::Text;
    }
    switch (sample.typeId()) {
    case QMetaType::LongLong: case QMetaType::Int: return ColumnType::Integer;
    case QMetaType::Double: return ColumnType::Real;
    default: return ColumnType::Text;
    }
}
} // namespace

SqliteConnection::SqliteConnection(const QString &path)
    : m_name(QStringLiteral("vireo-sqlite-%1").arg(counter.fetchAndAddRelaxed(1)))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    if (!db.open())
        throw toError(db.lastError());
    const QVariant v = db.driver()->handle();
    m_handle = v.isValid() ? *static_cast<sqlite3 *const *>(v.data()) : nullptr;
}

SqliteConnection::~SqliteConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase SqliteConnection::database() const { return QSqlDatabase::database(m_name, false); }

void *SqliteConnection::nativeHandle() const { return m_handle; }

bool SqliteConnection::isOpen() const { return database().isOpen(); }

void SqliteConnection::execute(const QString &sql)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw toError(q.lastError());
}

Recordset SqliteConnection::query(const QString &sql, qint64 maxRows)
{
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.exec(sql))
        throw toError(q.lastError());
    const QSqlRecord rec = q.record();
    sqlite3_stmt *stmt = nullptr;
    {
        const QVariant h = q.result()->handle();
        if (h.isValid() && qstrcmp(h.typeName(), "sqlite3_stmt*") == 0)
            stmt = *static_cast<sqlite3_stmt *const *>(h.data());
    }
    const bool hasRow = q.next();
    std::vector<Column> cols;
    for (int c = 0; c < rec.count(); ++c)
        cols.push_back({rec.fieldName(c), typeOf(stmt, c, hasRow ? q.value(c) : QVariant())});
    Recordset rs(std::move(cols));
    for (bool ok = hasRow; ok && (maxRows < 0 || rs.rowCount() < maxRows); ok = q.next()) {
        for (int c = 0; c < rs.columnCount(); ++c)
            rs.appendVariant(c, q.value(c));
        rs.endRow();
    }
    if (q.lastError().isValid())
        throw toError(q.lastError());
    return rs;
}

} // namespace vireo::db
