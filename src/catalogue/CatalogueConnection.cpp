#include "CatalogueConnection.h"

#include <QDateTime>
#include <sqlite3.h>

namespace vireo {

namespace {
constexpr int kMaxCachedStatements = 64;

// sql with every '...' literal that follows '=' replaced by ?; the literals' texts in order.
QString parameterise(const QString &sql, QStringList &literals)
{
    QString shape;
    shape.reserve(sql.size());
    const qsizetype n = sql.size();
    QChar lastSignificant;
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = sql[i];
        if (ch != QLatin1Char('\'')) {
            shape += ch;
            if (!ch.isSpace())
                lastSignificant = ch;
            continue;
        }
        // a quoted literal: '' inside stands for one quote
        QString text;
        qsizetype j = i + 1;
        bool closed = false;
        for (; j < n; ++j) {
            if (sql[j] == QLatin1Char('\'')) {
                if (j + 1 < n && sql[j + 1] == QLatin1Char('\'')) {
                    text += QLatin1Char('\'');
                    ++j;
                    continue;
                }
                closed = true;
                break;
            }
            text += sql[j];
        }
        if (!closed) { // leave a broken text for SQLite to report
            shape += QStringView(sql).mid(i);
            break;
        }
        if (lastSignificant == QLatin1Char('=')) {
            shape += QLatin1Char('?');
            literals << text;
        } else {
            shape += QStringView(sql).mid(i, j - i + 1);
        }
        lastSignificant = QLatin1Char('\'');
        i = j;
    }
    return shape;
}

// Same mapping as the SQLite connection: declared type first, else the value's storage class.
bool declaredType(sqlite3_stmt *st, int col, db::ColumnType &type)
{
    const char *decl = sqlite3_column_decltype(st, col);
    if (!decl)
        return false;
    const QByteArray d = QByteArray(decl).toUpper();
    if (d.contains("BOOL"))
        type = db::ColumnType::Boolean;
    else if (d.contains("INT"))
        type = db::ColumnType::Integer;
    else if (d.contains("REAL") || d.contains("DOUB") || d.contains("FLOA"))
        type = db::ColumnType::Real;
    else if (d.contains("DATE") || d.contains("TIME"))
        type = db::ColumnType::DateTime;
    else
        type = db::ColumnType::Text;
    return true;
}

db::ColumnType valueType(sqlite3_stmt *st, int col, bool hasRow)
{
    switch (hasRow ? sqlite3_column_type(st, col) : SQLITE_NULL) {
    case SQLITE_INTEGER: return db::ColumnType::Integer;
    case SQLITE_FLOAT: return db::ColumnType::Real;
    default: return db::ColumnType::Text;
    }
}

void appendValue(db::Recordset &rs, sqlite3_stmt *st, int c, db::ColumnType type)
{
    if (sqlite3_column_type(st, c) == SQLITE_NULL) {
        rs.appendNull(c);
        return;
    }
    switch (type) {
    case db::ColumnType::Integer:
    case db::ColumnType::Boolean: rs.appendInteger(c, sqlite3_column_int64(st, c)); break;
    case db::ColumnType::Real: rs.appendReal(c, sqlite3_column_double(st, c)); break;
    case db::ColumnType::DateTime: {
        const auto *text = static_cast<const char16_t *>(sqlite3_column_text16(st, c));
        const QString s = QString::fromUtf16(text, sqlite3_column_bytes16(st, c) / 2);
        rs.appendDateTime(c, QDateTime::fromString(s, Qt::ISODate));
        break;
    }
    default: {
        const auto *text = static_cast<const char16_t *>(sqlite3_column_text16(st, c));
        rs.appendText(c, text ? text : u"", sqlite3_column_bytes16(st, c) / 2);
        break;
    }
    }
}
} // namespace

CatalogueConnection::CatalogueConnection() : db::SqliteConnection(QStringLiteral(":memory:")) {}

CatalogueConnection::~CatalogueConnection()
{
    for (const Statement &s : std::as_const(m_statements))
        sqlite3_finalize(s.st);
}

CatalogueConnection::Statement *CatalogueConnection::prepared(const QString &shape)
{
    auto it = m_statements.find(shape);
    if (it != m_statements.end())
        return &it.value();
    auto *db = static_cast<sqlite3 *>(nativeHandle());
    Statement s;
    if (!db || sqlite3_prepare16_v3(db, shape.utf16(), int(shape.size() * 2), SQLITE_PREPARE_PERSISTENT, &s.st, nullptr)
                   != SQLITE_OK
        || !s.st) {
        sqlite3_finalize(s.st);
        return nullptr;
    }
    const int count = sqlite3_column_count(s.st);
    for (int c = 0; c < count; ++c) {
        db::Column col{QString::fromUtf16(static_cast<const char16_t *>(sqlite3_column_name16(s.st, c)))};
        s.declared.push_back(declaredType(s.st, c, col.type));
        s.columns.push_back(std::move(col));
    }
    if (m_statements.size() >= kMaxCachedStatements) {
        for (const Statement &old : std::as_const(m_statements))
            sqlite3_finalize(old.st);
        m_statements.clear();
    }
    return &m_statements.insert(shape, std::move(s)).value();
}

db::Recordset CatalogueConnection::query(const QString &sql, qint64 maxRows)
{
    QStringList literals;
    const QString shape = parameterise(sql, literals);
    const Statement *s = prepared(shape);
    // Anything SQLite cannot prepare this way (several statements, a syntax error) goes the
    // ordinary way and reports its own error.
    if (!s || sqlite3_bind_parameter_count(s->st) != literals.size() || s->columns.empty())
        return db::SqliteConnection::query(sql, maxRows);

    sqlite3_stmt *st = s->st;
    struct Reset {
        sqlite3_stmt *st;
        ~Reset()
        {
            sqlite3_reset(st);
            sqlite3_clear_bindings(st);
        }
    } reset{st};
    for (int i = 0; i < literals.size(); ++i)
        sqlite3_bind_text16(st, i + 1, literals[i].utf16(), int(literals[i].size() * 2), SQLITE_TRANSIENT);

    int rc = sqlite3_step(st);
    std::vector<db::Column> cols = s->columns;
    for (size_t c = 0; c < cols.size(); ++c)
        if (!s->declared[c])
            cols[c].type = valueType(st, int(c), rc == SQLITE_ROW);
    std::vector<db::ColumnType> types;
    for (const db::Column &c : cols)
        types.push_back(c.type);
    const int count = int(cols.size());
    db::Recordset rs(std::move(cols));
    for (; rc == SQLITE_ROW && (maxRows < 0 || rs.rowCount() < maxRows); rc = sqlite3_step(st)) {
        for (int c = 0; c < count; ++c)
            appendValue(rs, st, c, types[size_t(c)]);
        rs.endRow();
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        auto *db = static_cast<sqlite3 *>(nativeHandle());
        throw db::DbError(QString::fromUtf8(sqlite3_errmsg(db)), sqlite3_extended_errcode(db));
    }
    return rs;
}

} // namespace vireo
