#pragma once
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vireo {

// Threads left to end on their own: a login to a silent server can block inside the driver for
// its whole time-out. Each holds a DetachedCall from its first to its last statement.
inline std::atomic<int> &detachedCallsRunning()
{
    static std::atomic<int> running{0};
    return running;
}

struct DetachedCall {
    DetachedCall() { ++detachedCallsRunning(); }
    ~DetachedCall() { --detachedCallsRunning(); }
    DetachedCall(const DetachedCall &) = delete;
    DetachedCall &operator=(const DetachedCall &) = delete;
};

// The end of a program's main: while a detached call is still inside the driver, static
// destructors (the ODBC environment's among them) must not run under it, so the program leaves
// through quick_exit; otherwise it returns code.
inline int endProgram(int code)
{
    if (detachedCallsRunning().load() > 0) {
        std::fflush(nullptr);
        std::quick_exit(code);
    }
    return code;
}

// Runs f on a detached thread of its own while loop runs in the calling thread, so windows keep
// repainting during a blocking call such as a login. Returns f's result (its exception rethrown),
// or nothing when the loop was quit before f ended: the caller gave up, and the late result is
// dropped on that thread.
template <class F>
auto runOffThread(F f, QEventLoop &loop) -> std::optional<decltype(f())>
{
    using Result = decltype(f());
    struct Shared {
        std::mutex m;
        bool done = false;
        std::optional<Result> result;
        std::exception_ptr error;
    };
    auto shared = std::make_shared<Shared>();
    const QPointer<QEventLoop> wake(&loop);
    std::thread([shared, f = std::move(f), wake]() mutable {
        const DetachedCall running;
        std::optional<Result> result;
        std::exception_ptr error;
        try {
            result.emplace(f());
        } catch (...) {
            error = std::current_exception();
        }
        {
            const std::lock_guard lock(shared->m);
            shared->result = std::move(result);
            shared->error = error;
            shared->done = true;
        }
        QMetaObject::invokeMethod(qApp, [wake] {
            if (wake)
                wake->quit();
        }, Qt::QueuedConnection);
    }).detach();
    bool done = false;
    {
        const std::lock_guard lock(shared->m);
        done = shared->done;
    }
    if (!done)
        loop.exec();
    const std::lock_guard lock(shared->m);
    if (!shared->done)
        return std::nullopt;
    if (shared->error)
        std::rethrow_exception(shared->error);
    return std::move(shared->result);
}

} // namespace vireo
