#pragma once
#include "Connection.h"
#include <atomic>
#include <memory>

namespace vireo::db {

// What a login yields about the account database; the password is held only in memory.
struct AccountParams {
    QString server;     // "host", "host,port" or "host\instance"
    QString database;
    QString user = QStringLiteral("SA");
    QString password;
};

// Connection to SQL Server through unixODBC and the FreeTDS ODBC driver. Plain text batches
// on a forward-only statement: no server cursors, no prepared statements.
class OdbcConnection : public Connection {
public:
    ~OdbcConnection() override;

    // Opens the connection; throws DbError with the driver's message when it cannot.
    // identifySocket: find the driver's socket (for abort() and keep-alive); a probe login skips it.
    static std::unique_ptr<OdbcConnection> open(const AccountParams &params, int loginTimeoutSeconds = 15,
                                                bool identifySocket = true);

    // The DSN-less connection string for these parameters (the password in braces).
    static QString connectionString(const AccountParams &params, const QString &driver);

    bool isOpen() const override;
    void execute(const QString &sql) override;
    Recordset query(const QString &sql, qint64 maxRows = -1) override;
    void queryChunks(const QString &sql, qint64 chunkRows, const std::function<bool(const Recordset &)> &sink) override;
    void queryInto(const QString &sql, RowSink &sink) override;
    std::vector<Recordset> queryAll(const QString &sql) override;
    QStringList messages() const override { return m_messages; }

    void cancel() override;
    void resetCancel() override { m_cancel = false; }
    bool cancelRequested() const override { return m_cancel; }
    void abort() override;

    // TCP keep-alive on the driver's sockets: first probe after idleSeconds, then every
    // intervalSeconds, the connection given up after count unanswered probes.
    struct KeepAlive {
        int idleSeconds = 30;
        int intervalSeconds = 10;
        int count = 6;
    };
    static KeepAlive &keepAlive();

private:
    OdbcConnection();
    bool connectionDead() const;
    Recordset run(const QString &sql, qint64 maxRows, qint64 chunkRows, const std::function<bool(const Recordset &)> *sink,
                  RowSink *rowSink = nullptr, std::vector<Recordset> *all = nullptr);
    struct Handles;
    std::unique_ptr<Handles> h;
    QStringList m_messages;
    std::atomic_bool m_broken = false;
    std::atomic_bool m_cancel = false;
};

// A connection that failed to open: every statement sent on it fails with the reason.
class ClosedConnection : public Connection {
public:
    explicit ClosedConnection(QString reason) : m_reason(std::move(reason)) {}
    bool isOpen() const override { return false; }
    void execute(const QString &) override { throw DbError(m_reason); }
    Recordset query(const QString &, qint64 = -1) override { throw DbError(m_reason); }
    std::vector<Recordset> queryAll(const QString &) override { throw DbError(m_reason); }

private:
    QString m_reason;
};

} // namespace vireo::db
