#pragma once
#include "AccountWorker.h"
#include "CheckRun.h"
#include <QCoreApplication>
#include <QDeadlineTimer>

namespace vireo::test {

// For programs that drive the windows (screenshots, benchmarks): serves events until no job is
// queued or running on the account connection, at most timeoutMs. False on time-out.
inline bool waitForWorker(int timeoutMs = 600000)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (accountWorker().isBusy() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    QCoreApplication::processEvents();
    return !accountWorker().isBusy();
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
