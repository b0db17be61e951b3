#pragma once
#include "SqliteConnection.h"
#include <QHash>
#include <QString>
#include <string>
#include <vector>

struct sqlite3_stmt;

namespace vireo {

// The in-memory catalogue copy. Queries keep their text; a text literal that follows '=' is
// passed to SQLite as a bound text value instead, so the tree loader's one-query-per-node
// statements ("... where cParentID='12' order by cID") share one prepared statement.
// Binding a text value compares exactly as the literal does.
class CatalogueConnection : public db::SqliteConnection {
public:
    CatalogueConnection();
    ~CatalogueConnection() override;

    db::Recordset query(const QString &sql, qint64 maxRows = -1) override;

private:
    struct Statement {
        sqlite3_stmt *st = nullptr;
        std::vector<db::Column> columns; // names; types from the declared column types
        std::vector<bool> declared;      // false: type follows the first row's value
        std::vector<db::ColumnType> types;
        bool allDeclared = true;
    };
    Statement *prepared(const QString &shape);
    QHash<QString, Statement> m_statements;
    // buffers reused from query to query
    QString m_shape;
    std::vector<QString> m_literals;
    std::vector<std::string> m_utf8; // the bound literals
    std::vector<char16_t> m_utf16;   // text decoding
};

} // namespace vireo
