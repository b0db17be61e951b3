#pragma once
#include "OdbcConnection.h"
#include "ServerWatch.h"
#include <QElapsedTimer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vireo {

// Ends a statement that waits too long, for a caller without a window (vireo-check): the
// statement is cancelled when the item has run longer than its time-out, or when three probe
// logins in a row found the server silent; when the server does not acknowledge the cancel
// within the cancel wait, the connection is dropped.
class RunGuard {
public:
    RunGuard(db::Connection *conn, std::optional<db::AccountParams> params, int itemTimeoutSeconds, int cancelWaitMs);
    ~RunGuard();
    RunGuard(const RunGuard &) = delete;
    RunGuard &operator=(const RunGuard &) = delete;

    // An item starts: its time-out counts from now.
    void startItem();
    // Why the guard cancelled the statement; empty when it did not.
    QString reason() const;
    // Forgets an earlier cancel, for the items that follow.
    void clear();

    static constexpr int kFailedProbesToGiveUp = 3;

private:
    void loop();
    db::Connection *m_conn;
    int m_timeoutMs;
    int m_cancelWaitMs;
    mutable std::mutex m_m;
    std::condition_variable m_cv;
    bool m_stop = false;
    QElapsedTimer m_item;
    QElapsedTimer m_cancelled;
    bool m_aborted = false;
    QString m_reason;
    int m_failed = 0;
    qint64 m_silentMs = 0;
    std::unique_ptr<ServerWatch> m_watch;
    std::thread m_thread;
};

} // namespace vireo
