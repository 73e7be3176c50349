// The device-event monitor against the scriptable fake driver: what it stores, what it
// signals, how it ends.
#include "cmonitor.h"

#include "cdevmgr.h"
#include "fakeskf_control.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

// Records the monitor's signals in the thread that waits for them: the connection is
// queued to this object, which lives in the test thread, so nothing of the test's runs in
// the monitor's thread (a QSignalSpy there would race the waiting thread).
class EventRecorder : public QObject
{
public:
    explicit EventRecorder(cMonitor& monitor)
    {
        connect(
            &monitor, &cMonitor::notifyTokenEvent, this,
            [this](unsigned int event, const QString& name) { events.emplace_back(event, name); },
            Qt::QueuedConnection);
    }

    // Runs the event loop until `count` events have arrived.
    bool waitFor(size_t count, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return events.size() >= count; }, timeoutMs);
    }

    std::vector<std::pair<unsigned int, QString>> events;
};

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

    cMonitor monitor;
};

} // namespace

TEST_F(Monitor, anInsertion_storesEventOneAndTheNameAndSignalsOnce)
{
    EventRecorder recorder(monitor);
    monitor.start();
    FakeSkf_PushEvent("TOKEN-A", 1);
    ASSERT_TRUE(recorder.waitFor(1));
    // A second signal would follow the first at once: the monitor's next wait has begun by
    // the time it has been asked for again.
    ASSERT_TRUE(QTest::qWaitFor([] { return FakeSkf_CallCount("SKF_WaitForDevEvent") >= 2u; }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(recorder.events.size(), 1u);
    EXPECT_EQ(cDevMgr::getInst()->GetEvent(), 1u);
    EXPECT_EQ(cDevMgr::getInst()->GetDevName(), "TOKEN-A");
}

TEST_F(Monitor, aRemoval_storesEventTwoAndKeepsTheLastInsertedName)
{
    EventRecorder recorder(monitor);
    monitor.start();
    FakeSkf_PushEvent("TOKEN-A", 1);
    FakeSkf_PushEvent("TOKEN-B", 2);
    ASSERT_TRUE(recorder.waitFor(2));
    EXPECT_EQ(cDevMgr::getInst()->GetEvent(), 2u);
    EXPECT_EQ(cDevMgr::getInst()->GetDevName(), "TOKEN-A");
    // Each signal carries its own event, whatever the stored fields say by then.
    EXPECT_EQ(recorder.events[0], std::make_pair(1u, QStringLiteral("TOKEN-A")));
    EXPECT_EQ(recorder.events[1], std::make_pair(2u, QStringLiteral("TOKEN-B")));
}

TEST_F(Monitor, aLongNameAfterShortOnes_isStillReceived)
{
    EventRecorder recorder(monitor);
    monitor.start();
    FakeSkf_PushEvent("A", 1);
    FakeSkf_PushEvent("BB", 1);
    const std::string longName(60, 'L');
    FakeSkf_PushEvent(longName.c_str(), 1);
    ASSERT_TRUE(recorder.waitFor(3));
    EXPECT_EQ(cDevMgr::getInst()->GetDevName(), longName);
}

TEST_F(Monitor, anUnloadableDriver_endsTheThreadAtOnceWithoutASignal)
{
    cDevMgr::setDriverPath("/nonexistent/libdriver.so");
    EventRecorder recorder(monitor);
    testing::internal::CaptureStderr();
    monitor.start();
    EXPECT_TRUE(monitor.wait(5000));
    testing::internal::GetCapturedStderr();
    QCoreApplication::processEvents();
    EXPECT_TRUE(recorder.events.empty());
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
