#pragma once
#include "OdbcConnection.h"
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vireo {

// Watches a server while a statement runs on it: every interval a short second login (a probe)
// checks that the server still answers. TCP keep-alive cannot see a server process that hangs
// while its host still answers; a login that gets no reply can.
class ServerWatch {
public:
    struct Settings {
        int probeIntervalMs = 30000;
        int probeTimeoutSeconds = 10;
    };
    static Settings &settings();

    // onProbe(failedInARow, silentForMs) runs on the watch's own thread after every probe;
    // silentForMs counts from the start of the first failed probe in a row (0 when it answered).
    using ProbeResult = std::function<void(int failedInARow, qint64 silentForMs)>;
    ServerWatch(db::AccountParams params, ProbeResult onProbe);
    // Stops at once; a probe login still waiting ends on its own thread.
    ~ServerWatch();
    ServerWatch(const ServerWatch &) = delete;
    ServerWatch &operator=(const ServerWatch &) = delete;

private:
    void loop();
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool stop = false;
        int pending = 0;      // probes started and not yet answered
        bool answered = false;
        bool ok = false;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    db::AccountParams m_params;
    ProbeResult m_onProbe;
    Settings m_settings;
    std::thread m_thread;
};

} // namespace vireo
