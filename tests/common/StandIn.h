#pragma once
#include "OdbcConnection.h"
#include <QProcess>
#include <QStringList>
#include <memory>

namespace vireo::test {

// The SQL Server stand-in, started on a free port for the life of this object.
class StandIn {
public:
    struct Options {
        QStringList databases{QStringLiteral("QZdata_001_2024")};
        QString password = QStringLiteral("Vireo#2024");
        QStringList initFiles;   // T-SQL run against the first database at start
        QStringList initEachFiles;   // T-SQL run against every database at start
        bool log = false;            // log every batch (read with log())
        QString serverName;          // @@SERVERNAME and the name in server messages; empty: VIREOTEST
    };
    StandIn();
    explicit StandIn(Options options);
    ~StandIn();
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    int port() const { return m_port; }
    qint64 pid() const { return m_proc.processId(); }
    QString server() const;   // "127.0.0.1,PORT"
    db::AccountParams params(const QString &database = {}) const;
    std::unique_ptr<db::OdbcConnection> connect(const QString &database = {}) const;
    // What the stand-in logged so far (batches when Options::log is set).
    QString log();

private:
    Options m_options;
    QProcess m_proc;
    int m_port = 0;
    QByteArray m_log;
};

// The server's check lock is free: another session takes it at once (and lets it go again).
bool checkLockIsFree(db::Connection &other);

} // namespace vireo::test
