#include "OffThread.h"
#include <QProcess>
#include <QProcessEnvironment>
#include <QCoreApplication>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

using namespace vireo;

// A program that ends while a detached login still waits inside the driver leaves without running
// its static destructors (which would free the driver's environment under that thread), with the
// status it meant to return; the side of the test that plays that program runs in a child process.
TEST(EndProgram, LeavesWithoutDestructorsWhileADetachedCallWaits)
{
    if (qEnvironmentVariableIsSet("VIREO_END_PROGRAM_CHILD")) {
        std::atexit([] { std::puts("destructors ran"); });
        std::thread([] {
            const DetachedCall running;
            std::this_thread::sleep_for(std::chrono::seconds(30));
        }).detach();
        while (detachedCallsRunning() == 0)
            std::this_thread::yield();
        endProgram(7);
        std::puts("endProgram returned");
        return;
    }
    EXPECT_EQ(endProgram(5), 5);   // nothing detached here: an ordinary return
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("VIREO_END_PROGRAM_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=EndProgram.*")});
    ASSERT_TRUE(child.waitForFinished(10000));
    const QByteArray out = child.readAllStandardOutput();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 7) << out.toStdString();
    EXPECT_FALSE(out.contains("destructors ran") || out.contains("endProgram returned")) << out.toStdString();
}
