#include "ServerWatch.h"
#include "OffThread.h"
#include <QElapsedTimer>

namespace vireo {

ServerWatch::Settings &ServerWatch::settings()
{
    // The environment may shorten the probes (tests of a silent server do).
    static Settings s = [] {
        Settings d;
        bool ok = false;
        const int interval = qEnvironmentVariableIntValue("VIREO_PROBE_INTERVAL_MS", &ok);
        if (ok && interval > 0)
            d.probeIntervalMs = interval;
        const int timeout = qEnvironmentVariableIntValue("VIREO_PROBE_TIMEOUT_SECONDS", &ok);
        if (ok && timeout > 0)
            d.probeTimeoutSeconds = timeout;
        return d;
    }();
    return s;
}

ServerWatch::ServerWatch(db::AccountParams params, ProbeResult onProbe)
    : m_params(std::move(params)), m_onProbe(std::move(onProbe)), m_settings(settings())
{
    m_thread = std::thread([this] { loop(); });
}

ServerWatch::~ServerWatch()
{
    {
        const std::lock_guard lock(m_state->m);
        m_state->stop = true;
    }
    m_state->cv.notify_all();
    m_thread.join();
}

void ServerWatch::loop()
{
    const std::shared_ptr<State> st = m_state;
    int failed = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 firstFailedAt = 0;   // start of the first failed probe in a row, on clock
    std::unique_lock lock(st->m);
    for (;;) {
        if (st->cv.wait_for(lock, std::chrono::milliseconds(m_settings.probeIntervalMs), [&] { return st->stop; }))
            return;
        st->answered = false;
        const qint64 startedAt = clock.elapsed();
        // The probe runs detached: a login stuck in the driver must not hold up the destructor.
        std::thread([st, params = m_params, timeout = m_settings.probeTimeoutSeconds] {
            const DetachedCall running;
            bool ok = false;
            try {
                ok = db::OdbcConnection::open(params, timeout, false) != nullptr;
            } catch (const db::DbError &) {
            }
            const std::lock_guard l(st->m);
            st->ok = ok;
            st->answered = true;
            st->cv.notify_all();
        }).detach();
        // The driver's login time-out is not exact; a probe silent past twice that counts as failed.
        const bool answered = st->cv.wait_for(lock, std::chrono::seconds(2 * m_settings.probeTimeoutSeconds + 1),
                                              [&] { return st->stop || st->answered; });
        if (st->stop)
            return;
        if (answered && st->ok) {
            failed = 0;
        } else if (failed++ == 0) {
            firstFailedAt = startedAt;
        }
        const qint64 silentFor = failed ? clock.elapsed() - firstFailedAt : 0;
        lock.unlock();
        m_onProbe(failed, silentFor);
        lock.lock();
    }
}

} // namespace vireo
