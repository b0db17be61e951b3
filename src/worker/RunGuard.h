#pragma once
#include "OdbcConnection.h"
#include "ServerWatch.h"
#include <QElapsedTimer>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vireo {

// The one way a running statement is stopped, for the window and for vireo-check alike: by
// request (停止, Esc, Ctrl-C), when the item has run longer than its time-out, or when probe
// logins found the server silent too often in a row; when the server does not acknowledge the
// cancel within the cancel wait, the connection is dropped.
class RunGuard {
public:
    struct Options {
        int itemTimeoutSeconds = 0;      // 0: no limit
        int cancelWaitMs = 4000;
        int failedProbesToGiveUp = 3;    // 0: never give up, only report
        // After every probe, on the guard's watch thread (failedInARow 0: the server answered).
        std::function<void(int failedInARow, qint64 silentForMs)> onProbe;
    };
    RunGuard(db::Connection *conn, std::optional<db::AccountParams> params, Options options);
    RunGuard(db::Connection *conn, std::optional<db::AccountParams> params, int itemTimeoutSeconds, int cancelWaitMs);
    ~RunGuard();
    RunGuard(const RunGuard &) = delete;
    RunGuard &operator=(const RunGuard &) = delete;

    // An item starts: its time-out counts from now.
    void startItem();
    // Stops the running statement by request; reason is what the stopped item is told.
    void cancel(const QString &reason);
    bool cancelled() const;
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
    int m_giveUpAfter;
    std::function<void(int, qint64)> m_onProbe;
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
