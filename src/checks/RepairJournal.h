#pragma once
#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

namespace vireo::db {
class SqliteConnection;
}

namespace vireo {

// The program's own SQLite file in the user's data folder. It holds the repair journal and may hold
// other local records; each part of the program keeps its tables' schema version in
// schema_version(component, version), so that parts can evolve their tables independently.
class LocalStore {
public:
    // The file in QStandardPaths::AppDataLocation, unless setDefaultPath() chose another one.
    static QString defaultPath();
    static void setDefaultPath(const QString &path);   // empty: back to the standard location

    // Opens (creating folder and file when needed); throws db::DbError when it cannot.
    explicit LocalStore(const QString &path = defaultPath());
    ~LocalStore();

    db::SqliteConnection &connection() { return *m_conn; }
    // The version a component's tables are at; 0 when the component has none yet.
    int schemaVersion(const QString &component);
    void setSchemaVersion(const QString &component, int version);

private:
    std::unique_ptr<db::SqliteConnection> m_conn;
};

// One repair as the journal keeps it. A count of -1 means "not known" (no re-check yet).
struct RepairRecord {
    qint64 id = 0;
    QDateTime time;          // local time the repair started
    QString operatorName;
    QString server;
    QString database;
    QString code;            // item code
    QString name;            // item name
    QString scriptSha256;    // hex SHA-256 of 修复.sql as it was read from disk
    bool succeeded = false;
    QString message;         // the server's message when the repair stopped; empty on success
    qint64 before = -1;      // findings before the repair
    qint64 after = -1;       // findings after the re-check
};

// The repair journal in the local store. Never holds a password: nothing here receives one.
namespace RepairJournal {
// Appends a record and returns its id.
qint64 append(LocalStore &store, const RepairRecord &record);
// Records the findings of the re-check that followed a repair.
void setAfter(LocalStore &store, qint64 id, qint64 after);
// Every record, newest first.
std::vector<RepairRecord> list(LocalStore &store);
// Hex SHA-256 of a file's bytes; empty when it cannot be read.
QString fileSha256(const QString &path);
} // namespace RepairJournal

} // namespace vireo
