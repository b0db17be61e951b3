#pragma once
#include "SqliteConnection.h"
#include <QHash>
#include <QString>
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
    };
    Statement *prepared(const QString &shape);
    QHash<QString, Statement> m_statements;
};

} // namespace vireo
