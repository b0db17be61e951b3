#pragma once
#include "AccountWorker.h"
#include "CheckRun.h"
#include <QApplication>
#include <QDeadlineTimer>

namespace vireo::test {

// No job is queued or running on the account connection and no window asks a question (the
// windows ask window-modal, so a job's result may open one after the job has ended).
inline bool windowsIdle()
{
    return !accountWorker().isBusy() && !QApplication::activeModalWidget();
}

// For programs that drive the windows (screenshots, benchmarks): serves events until the windows
// are idle, at most timeoutMs. False on time-out.
inline bool waitForWorker(int timeoutMs = 600000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!windowsIdle() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    QCoreApplication::processEvents();
    return windowsIdle();
}

// Stamps a result table made by hand as a check's result, as a check run would: the outcome the
// report window then holds the table against.
inline ItemOutcome stampResult(db::Connection *conn, const QString &code, const QString &name = {})
{
    RunIdentity run;
    run.runId = newRunId();
    readServerIdentity(conn, run);
    ItemOutcome o;
    o.code = code;
    o.name = name;
    finishItemResult(conn, run, o, ResultSource::AsWritten);
    return o;
}

} // namespace vireo::test
