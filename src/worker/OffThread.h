#pragma once
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace vireo {

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
