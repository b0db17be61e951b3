#include "CatalogueConnection.h"

#include <QDateTime>
#include <sqlite3.h>

namespace vireo {

namespace {
constexpr int kMaxCachedStatements = 64;

// Finds every '...' literal that follows '=' in sql. When there is one, shape receives sql with
// each such literal replaced by ? and literals their texts in order ('' inside stands for one
// quote); returns false when sql has none.
bool parameterise(const QString &sql, QString &shape, std::vector<QString> &literals, int &count)
{
    const QStringView in(sql);
    const qsizetype n = in.size();
    count = 0;
    qsizetype from = 0; // start of the text not yet copied into shape
    for (qsizetype i = in.indexOf(QLatin1Char('\'')); i >= 0;) {
        qsizetype j = i + 1;
        bool doubled = false;
        for (;;) {
            j = in.indexOf(QLatin1Char('\''), j);
            if (j < 0 || j + 1 >= n || in[j + 1] != QLatin1Char('\''))
                break;
            doubled = true;
            j += 2;
        }
        if (j < 0) // leave a broken text for SQLite to report
            break;
        qsizetype k = i - 1;
        while (k >= 0 && in[k].isSpace())
            --k;
        if (k >= 0 && in[k] == QLatin1Char('=')) {
            if (count == 0)
                shape.resize(0); // keeps the buffer of the previous query
            shape.append(in.mid(from, i - from));
            shape.append(QLatin1Char('?'));
            if (size_t(count) == literals.size())
                literals.emplace_back();
            QString &text = literals[size_t(count++)];
            text.resize(0);
            text.append(in.mid(i + 1, j - i - 1));
            if (doubled)
                text.replace(QStringLiteral("''"), QStringLiteral("'"));
            from = j + 1;
        }
        i = in.indexOf(QLatin1Char('\''), j + 1);
    }
    if (count == 0)
        return false;
    shape.append(in.mid(from));
    return true;
}

// UTF-16 -> UTF-8 into out (its buffer kept between calls); false when the text holds a lone
// surrogate, which the caller leaves to SQLite's own translation.
bool utf16ToUtf8(QStringView text, std::string &out)
{
    out.resize(size_t(text.size()) * 3);
    char *o = out.data();
    const char16_t *p = text.utf16(), *const end = p + text.size();
    while (p < end) {
        char32_t cp = *p++;
        if (cp < 0x80) {
            *o++ = char(cp);
            continue;
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            if (cp > 0xDBFF || p == end || *p < 0xDC00 || *p > 0xDFFF)
                return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (char32_t(*p++) - 0xDC00);
            *o++ = char(0xF0 | (cp >> 18));
            *o++ = char(0x80 | ((cp >> 12) & 0x3F));
            *o++ = char(0x80 | ((cp >> 6) & 0x3F));
            *o++ = char(0x80 | (cp & 0x3F));
        } else if (cp < 0x800) {
            *o++ = char(0xC0 | (cp >> 6));
            *o++ = char(0x80 | (cp & 0x3F));
        } else {
            *o++ = char(0xE0 | (cp >> 12));
            *o++ = char(0x80 | ((cp >> 6) & 0x3F));
            *o++ = char(0x80 | (cp & 0x3F));
        }
    }
    out.resize(size_t(o - out.data()));
    return true;
}

// Well-formed UTF-8 -> UTF-16 into out; false for anything else (the caller then lets SQLite
// translate, so odd bytes come out exactly as SQLite makes them).
bool utf8ToUtf16(const unsigned char *p, qsizetype n, std::vector<char16_t> &out, qsizetype &len)
{
    if (out.size() < size_t(n))
        out.resize(size_t(n));
    char16_t *o = out.data();
    const unsigned char *const end = p + n;
    while (p < end) {
        const unsigned b = *p;
        if (b >= 0x01 && b < 0x80) {
            *o++ = char16_t(b);
            ++p;
            continue;
        }
        char32_t cp;
        int more;
        if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            more = 1;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            more = 2;
        } else if (b >= 0xF0 && b <= 0xF4) {
            cp = b & 0x07;
            more = 3;
        } else {
            return false; // NUL, stray continuation byte, overlong lead, past U+10FFFF
        }
        if (end - p <= more)
            return false;
        for (int k = 1; k <= more; ++k) {
            if ((p[k] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[k] & 0x3F);
        }
        if ((more == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        p += more + 1;
        if (cp >= 0x10000) { // a 4-byte sequence gives two units: still no more units than bytes
            *o++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            *o++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            *o++ = char16_t(cp);
        }
    }
    len = o - out.data();
    return true;
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

void appendValue(db::Recordset &rs, sqlite3_stmt *st, int c, db::ColumnType type, std::vector<char16_t> &scratch)
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
        // the copy keeps its text as UTF-8: decode it here rather than have SQLite make a
        // UTF-16 copy of every value
        const unsigned char *utf8 = sqlite3_column_text(st, c);
        const int bytes = sqlite3_column_bytes(st, c);
        qsizetype len = 0;
        if (utf8 && utf8ToUtf16(utf8, bytes, scratch, len)) {
            rs.appendText(c, scratch.data(), len);
            break;
        }
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
        const bool declared = declaredType(s.st, c, col.type);
        s.declared.push_back(declared);
        s.allDeclared = s.allDeclared && declared;
        s.types.push_back(col.type);
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
    int literalCount = 0;
    const bool parameterised = parameterise(sql, m_shape, m_literals, literalCount);
    const Statement *s = prepared(parameterised ? m_shape : sql);
    // Anything SQLite cannot prepare this way (several statements, a syntax error) goes the
    // ordinary way and reports its own error.
    if (!s || sqlite3_bind_parameter_count(s->st) != literalCount || s->columns.empty())
        return db::SqliteConnection::query(sql, maxRows);

    sqlite3_stmt *st = s->st;
    // Every parameter is bound anew on each use, so the bindings need no clearing; the bound
    // UTF-8 texts live in m_utf8 until the statement is reset.
    struct Reset {
        sqlite3_stmt *st;
        ~Reset() { sqlite3_reset(st); }
    } reset{st};
    if (m_utf8.size() < size_t(literalCount))
        m_utf8.resize(size_t(literalCount));
    for (int i = 0; i < literalCount; ++i) {
        const QString &text = m_literals[size_t(i)];
        std::string &utf8 = m_utf8[size_t(i)];
        if (utf16ToUtf8(text, utf8))
            sqlite3_bind_text(st, i + 1, utf8.data(), int(utf8.size()), SQLITE_STATIC);
        else
            sqlite3_bind_text16(st, i + 1, text.utf16(), int(text.size() * 2), SQLITE_TRANSIENT);
    }

    int rc = sqlite3_step(st);
    const std::vector<db::ColumnType> *types = &s->types;
    std::vector<db::ColumnType> actual;
    std::vector<db::Column> cols = s->columns;
    if (!s->allDeclared) {
        actual = s->types;
        for (size_t c = 0; c < cols.size(); ++c)
            if (!s->declared[c])
                cols[c].type = actual[c] = valueType(st, int(c), rc == SQLITE_ROW);
        types = &actual;
    }
    const int count = int(cols.size());
    db::Recordset rs(std::move(cols));
    for (; rc == SQLITE_ROW && (maxRows < 0 || rs.rowCount() < maxRows); rc = sqlite3_step(st)) {
        for (int c = 0; c < count; ++c)
            appendValue(rs, st, c, (*types)[size_t(c)], m_utf16);
        rs.endRow();
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        auto *db = static_cast<sqlite3 *>(nativeHandle());
        throw db::DbError(QString::fromUtf8(sqlite3_errmsg(db)), sqlite3_extended_errcode(db));
    }
    return rs;
}

} // namespace vireo
