// The device-event monitor against the scriptable fake driver: what it stores, what it
// signals, how it ends.
#include "cmonitor.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <string>

namespace {

class Monitor : public testing::Test
{
protected:
    void SetUp() override
    {
        FakeSkf_Reset();
        cDevMgr::getInst()->resetForTests();
        cDevMgr::setDriverPath(FAKE_SCRIPTED_DRIVER);
    }

    void TearDown() override { EXPECT_TRUE(monitor.stop()); }

    // Waits, with the event loop running, until the spy has seen `count` signals.
    bool waitForSignals(QSignalSpy& spy, int count, int timeoutMs = 5000)
    {
        QElapsedTimer timer;
        timer.start();
        while (spy.count() < count && timer.elapsed() < timeoutMs) {
            spy.wait(50);
        }
        return spy.count() >= count;
    }

    cMonitor monitor;
};

} // namespace

TEST_F(Monitor, anInsertion_storesEventOneAndTheNameAndSignalsOnce)
{
    QSignalSpy spy(&monitor, &cMonitor::notifyTokenEvent);
    monitor.start();
    FakeSkf_PushEvent("TOKEN-A", 1);
    ASSERT_TRUE(waitForSignals(spy, 1));
    spy.wait(100);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_EQ(cDevMgr::getInst()->GetEvent(), 1u);
    EXPECT_EQ(cDevMgr::getInst()->GetDevName(), "TOKEN-A");
}

TEST_F(Monitor, aRemoval_storesEventTwoAndKeepsTheLastInsertedName)
{
    QSignalSpy spy(&monitor, &cMonitor::notifyTokenEvent);
    monitor.start();
    FakeSkf_PushEvent("TOKEN-A", 1);
    FakeSkf_PushEvent("TOKEN-B", 2);
    ASSERT_TRUE(waitForSignals(spy, 2));
    EXPECT_EQ(cDevMgr::getInst()->GetEvent(), 2u);
    EXPECT_EQ(cDevMgr::getInst()->GetDevName(), "TOKEN-A");
    // Each signal carries its own event, whatever the stored fields say by then.
    EXPECT_EQ(spy[0], (QList<QVariant>{1u, QStringLiteral("TOKEN-A")}));
    EXPECT_EQ(spy[1], (QList<QVariant>{2u, QStringLiteral("TOKEN-B")}));
}

TEST_F(Monitor, aLongNameAfterShortOnes_isStillReceived)
{
    QSignalSpy spy(&monitor, &cMonitor::notifyTokenEvent);
    monitor.start();
    FakeSkf_PushEvent("A", 1);
    FakeSkf_PushEvent("BB", 1);
    const std::string longName(60, 'L');
    FakeSkf_PushEvent(longName.c_str(), 1);
    ASSERT_TRUE(waitForSignals(spy, 3));
    EXPECT_EQ(cDevMgr::getInst()->GetDevName(), longName);
}

TEST_F(Monitor, anUnloadableDriver_endsTheThreadAtOnceWithoutASignal)
{
    cDevMgr::setDriverPath("/nonexistent/libdriver.so");
    QSignalSpy spy(&monitor, &cMonitor::notifyTokenEvent);
    testing::internal::CaptureStderr();
    monitor.start();
    EXPECT_TRUE(monitor.wait(5000));
    testing::internal::GetCapturedStderr();
    QCoreApplication::processEvents();
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(Monitor, aWaitThatFailsAtOnce_pausesInsteadOfSpinning)
{
    FakeSkf_SetResult("SKF_WaitForDevEvent", 0xFFFFFFFFu);
    QElapsedTimer timer;
    timer.start();
    monitor.start();
    // Three failed waits lie two pauses apart; a monitor that spins makes them at once.
    ASSERT_TRUE(QTest::qWaitFor([] { return FakeSkf_CallCount("SKF_WaitForDevEvent") >= 3u; }, 5000));
    EXPECT_GE(timer.elapsed(), 2 * cMonitor::FailedWaitPauseMs);
    EXPECT_LE(FakeSkf_CallCount("SKF_WaitForDevEvent"), 4u);
}

TEST_F(Monitor, stop_cancelsThePendingWaitAndJoins)
{
    monitor.start();
    // The monitor's wait is inside the driver before the stop.
    ASSERT_TRUE(QTest::qWaitFor([] { return FakeSkf_CallCount("SKF_WaitForDevEvent") >= 1u; }, 5000));
    QElapsedTimer timer;
    timer.start();
    EXPECT_TRUE(monitor.stop());
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_TRUE(monitor.isFinished());
    EXPECT_GE(FakeSkf_CallCount("SKF_CancelWaitForDevEvent"), 1u);
}

TEST_F(Monitor, stopBeforeTheThreadRuns_returnsAtOnce)
{
    EXPECT_TRUE(monitor.stop());
}

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
