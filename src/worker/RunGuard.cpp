#include "RunGuard.h"

namespace vireo {

RunGuard::RunGuard(db::Connection *conn, std::optional<db::AccountParams> params, int itemTimeoutSeconds, int cancelWaitMs)
    : RunGuard(conn, std::move(params), Options{itemTimeoutSeconds, cancelWaitMs, kFailedProbesToGiveUp, {}})
{
}

RunGuard::RunGuard(db::Connection *conn, std::optional<db::AccountParams> params, Options options)
    : m_conn(conn), m_timeoutMs(options.itemTimeoutSeconds > 0 ? options.itemTimeoutSeconds * 1000 : 0),
      m_cancelWaitMs(options.cancelWaitMs), m_giveUpAfter(options.failedProbesToGiveUp),
      m_onProbe(std::move(options.onProbe))
{
    m_item.start();
    if (params)
        m_watch = std::make_unique<ServerWatch>(*params, [this](int failed, qint64 silentMs) {
            {
                const std::lock_guard lock(m_m);
                m_failed = failed;
                m_silentMs = silentMs;
            }
            m_cv.notify_all();
            if (m_onProbe)
                m_onProbe(failed, silentMs);
        });
    m_thread = std::thread([this] { loop(); });
}

void RunGuard::cancel(const QString &reason)
{
    const std::lock_guard lock(m_m);
    if (!m_reason.isEmpty())
        return;
    m_reason = reason;
    m_cancelled.start();
    if (m_conn)
        m_conn->cancel();
    m_cv.notify_all();
}

bool RunGuard::cancelled() const
{
    const std::lock_guard lock(m_m);
    return !m_reason.isEmpty();
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
            else if (m_giveUpAfter > 0 && m_failed >= m_giveUpAfter)
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
