#pragma once
#include "Connection.h"
#include "OdbcConnection.h"
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace vireo {

// The one owner of the session's account connection: every statement on it runs on a thread of
// the worker's, one job at a time, while the calling (window) thread keeps serving its events.
// The worker cancels the running statement on request, watches the server while a job runs,
// drops a connection whose server does not acknowledge a cancel, and opens a lost connection
// again with the credentials held in memory before the next job.
class AccountWorker : public QObject {
    Q_OBJECT
public:
    using Job = std::function<void(db::Connection *account)>;

    struct Settings {
        int cancelWaitMs = 4000;   // how long a cancel may go unacknowledged before the connection is dropped
    };
    static Settings &settings();

    explicit AccountWorker(QObject *parent = nullptr);
    ~AccountWorker() override;

    // Runs job with the session's account connection on the worker's thread and returns when it
    // has ended (jobs of other callers queued before it run first). The calling thread's event
    // loop runs meanwhile. label names the job in status texts. Exceptions of the job reach the
    // caller. False when the job was cancelled.
    bool run(const QString &label, const Job &job);

    bool isBusy() const { return m_busy; }
    QString label() const { return m_label; }
    qint64 elapsedMs() const { return m_busy ? m_clock.elapsed() : 0; }
    // Milliseconds the server has not answered probe logins; 0 while it answers.
    qint64 silentForMs() const { return m_silentForMs; }
    int failedProbes() const { return m_failedProbes; }

    // Stops the running job: the server is asked to cancel the statement; when it has not
    // answered within settings().cancelWaitMs the connection is dropped.
    void cancel();
    bool cancelRequested() const { return m_cancelRequested; }

signals:
    void started(const QString &label);
    void finished(const QString &label, bool cancelled);
    // A probe login failed (failedInARow >= 1) or answered again (0).
    void serverSilent(int failedInARow, qint64 silentForMs);
    // What the worker did to the connection by itself, for the status bar.
    void notice(const QString &text);
    // A lost connection could not be opened again with the credentials in memory.
    void reconnectFailed(const QString &reason);

private:
    bool m_busy = false;
    QString m_label;
    QElapsedTimer m_clock;
    std::atomic_bool m_cancelRequested = false;
    qint64 m_silentForMs = 0;
    int m_failedProbes = 0;
    struct Running;
    std::shared_ptr<Running> m_running;
};

// The worker of the session's account connection.
AccountWorker &accountWorker();

} // namespace vireo

namespace vireo {

// A connection that lives in another thread (Qt's SQLite connections belong to the thread that
// opened them): statements from any thread are run by that thread's event loop, which the
// caller waits for.
class HomeThreadConnection : public db::Connection {
public:
    HomeThreadConnection(QObject *home, db::Connection *real) : m_home(home), m_real(real) {}
    bool isOpen() const override;
    void execute(const QString &sql) override;
    db::Recordset query(const QString &sql, qint64 maxRows = -1) override;

private:
    QObject *m_home;
    db::Connection *m_real;
};

} // namespace vireo
