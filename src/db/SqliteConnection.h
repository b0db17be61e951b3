#pragma once
#include "Connection.h"
#include <QSqlDatabase>

namespace vireo::db {

// Connection to an SQLite database through Qt's QSQLITE driver (the catalogue copy).
// Columns declared BOOLEAN read back as yes/no values.
class SqliteConnection : public Connection {
public:
    // path may be ":memory:".
    explicit SqliteConnection(const QString &path);
    ~SqliteConnection() override;

    bool isOpen() const override;
    void execute(const QString &sql) override;
    Recordset query(const QString &sql, qint64 maxRows = -1) override;

    QSqlDatabase database() const;
    // The sqlite3* behind the connection (for bulk copies into and out of it), from any thread.
    void *nativeHandle() const;

private:
    QString m_name;
    void *m_handle = nullptr;
};

} // namespace vireo::db
