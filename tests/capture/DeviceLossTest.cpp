// A device that stops delivering while the engine runs: the cycle goes on, the
// view is told (once per change), Stop still ends the run at once, and a new
// engine on a working device starts without the message.
#include <gtest/gtest.h>

#include <vector>

#include "capture/CaptureEngine.h"
#include "platform/Clock.h"
#include "tests/capture/EngineTestSupport.h"

namespace {

// Waits on the test's thread, up to nTimeoutMs, for a condition the timer
// thread brings about.
template <typename Condition> bool WaitFor(Condition done, uint32_t nTimeoutMs = 5000) {
    const uint32_t start = TimeGetTime();
    while (!done()) {
        if (TimeGetTime() - start > nTimeoutMs)
            return false;
        SleepMs(1);
    }
    return true;
}

using States = std::vector<bool>;

} // namespace

TEST(DeviceLoss, AFailedDeviceIsToldToTheViewWhileTheCycleGoesOn) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    ASSERT_EQ(s.engine.Start(), 1);
    ASSERT_TRUE(WaitFor([&] { return s.view.m_nPasses.load() >= 3; })) << "no cycle ran";
    EXPECT_EQ(s.view.SignalStates(), States({false})); // Start cleared it

    // What a backend does when its server goes away or its device is unplugged.
    s.Buffer().MarkFailed();
    ASSERT_TRUE(WaitFor([&] { return s.view.SignalStates().size() == 2; }));
    EXPECT_EQ(s.view.SignalStates(), States({false, true}));
    // The frames go on past the end of the cycle in progress (a cycle makes at
    // most 80 passes of 10 ms): the next tick starts another.
    const int atLoss = s.view.PassesAtSignalChange();
    const int locksAtLoss = s.Buffer().m_nLocks.load();
    ASSERT_TRUE(WaitFor([&] { return s.view.m_nPasses.load() >= atLoss + 120; }))
        << "the cycle stopped drawing after the loss";
    EXPECT_EQ(s.Buffer().m_nLocks.load(), locksAtLoss);      // nothing more is read
    EXPECT_EQ(s.view.SignalStates(), States({false, true})); // told once

    const uint32_t before = TimeGetTime();
    s.engine.m_bStopCycle = 1;
    s.engine.m_nPassCount = 20000;
    EXPECT_EQ(s.engine.Stop(), 0);
    EXPECT_LT(TimeGetTime() - before, 500u) << "Stop waited for more than a pass";
    EXPECT_EQ(s.view.m_nInside.load(), 0);
}

TEST(DeviceLoss, ANewEngineOnAWorkingDeviceShowsNoMessage) {
    SScriptedEngine lost(44100, 4096, 93);
    ASSERT_EQ(lost.Open(), 1);
    lost.Buffer().MarkFailed();
    ASSERT_EQ(lost.engine.Start(), 1);
    ASSERT_TRUE(WaitFor([&] { return lost.view.SignalStates().size() == 2; }));
    lost.engine.Stop();

    // The same view, a new engine on the device, which delivers again: Start
    // takes the message away before the first frame, and no pass brings it back.
    SScriptedEngine again(44100, 4096, 93);
    again.engine.m_pView = &lost.view;
    ASSERT_EQ(again.Open(), 1);
    ASSERT_EQ(again.engine.Start(), 1);
    const int renders = lost.view.m_nPasses.load();
    ASSERT_TRUE(WaitFor([&] { return lost.view.m_nPasses.load() >= renders + 5; }));
    again.engine.Stop();
    EXPECT_EQ(lost.view.SignalStates(), States({false, true, false}));
    EXPECT_LT(lost.view.PassesAtSignalChange(), renders + 1);
}

TEST(DeviceLoss, PositionsThatComeBackTakeTheMessageAway) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    s.Buffer().m_nPositionResult = kCaptureErrDeviceLost;
    s.StopAfter(3);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.SignalStates(), States({true})); // three failing passes, told once
    EXPECT_EQ(s.view.PassesAtSignalChange(), 0);      // before the first frame

    s.Buffer().m_nPositionResult = 0;
    s.StopAfter(s.view.m_nPasses.load() + 1);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.SignalStates(), States({true, false}));
    EXPECT_EQ(s.Buffer().m_nLocks.load(), 1);
}

TEST(DeviceLoss, AFailedLockIsNoLossOfTheDevice) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    s.Buffer().m_nLockResult = kCaptureErrBusy;
    s.StopAfter(2);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_TRUE(s.view.SignalStates().empty());
}

TEST(DeviceLoss, AWorkingDeviceIsNeverReportedLost) {
    SScriptedEngine s(8000, 1024, 50);
    ASSERT_EQ(s.Open(), 1);
    s.Buffer().SetPositions(4000, 4000);
    s.StopAfter(5);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_TRUE(s.view.SignalStates().empty());
}
