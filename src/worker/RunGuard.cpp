#include "RunGuard.h"

namespace vireo {

RunGuard::RunGuard(db::Connection *conn, std::optional<db::AccountParams> params, int itemTimeoutSeconds, int cancelWaitMs)
    : m_conn(conn), m_timeoutMs(itemTimeoutSeconds > 0 ? itemTimeoutSeconds * 1000 : 0), m_cancelWaitMs(cancelWaitMs)
{
    m_item.start();
    if (params)
        m_watch = std::make_unique<ServerWatch>(*params, [this](int failed, qint64 silentMs) {
            const std::lock_guard lock(m_m);
            m_failed = failed;
            m_silentMs = silentMs;
            m_cv.notify_all();
        });
    m_thread = std::thread([this] { loop(); });
}

RunGuard::~RunGuard()
{
    m_watch.reset();
    {
        const std::lock_guard lock(m_m);
        m_stop = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void RunGuard::startItem()
{
    const std::lock_guard lock(m_m);
    m_item.restart();
}

QString RunGuard::reason() const
{
    const std::lock_guard lock(m_m);
    return m_reason;
}

void RunGuard::clear()
{
    const std::lock_guard lock(m_m);
    m_reason.clear();
    m_cancelled.invalidate();
    m_item.restart();
}

void RunGuard::loop()
{
    std::unique_lock lock(m_m);
    while (!m_stop) {
        m_cv.wait_for(lock, std::chrono::milliseconds(100));
        if (m_stop)
            break;
        if (m_reason.isEmpty()) {
            if (m_timeoutMs && m_item.elapsed() > m_timeoutMs)
                m_reason = QStringLiteral("超过了 --timeout 给定的 %1 秒，已停止").arg(m_timeoutMs / 1000);
            else if (m_failed >= kFailedProbesToGiveUp)
                m_reason = QStringLiteral("服务器没有响应（已 %1 秒），已停止").arg(m_silentMs / 1000);
            if (!m_reason.isEmpty()) {
                m_cancelled.start();
                m_conn->cancel();
            }
        } else if (m_cancelled.isValid() && !m_aborted && m_cancelled.elapsed() > m_cancelWaitMs) {
            // The server did not acknowledge the cancel: the statement would wait for ever.
            m_aborted = true;
            m_conn->abort();
        }
    }
}

} // namespace vireo
