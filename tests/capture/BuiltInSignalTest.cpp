#include <gtest/gtest.h>

#include "capture/CaptureEngine.h"
#include "devices/TestSignal.h"
#include "devices/TestSignalDevice.h"
#include "platform/Clock.h"
#include "tests/capture/RecordingEngineView.h"

// The real timer, the built-in device and the whole road of a pass, at the
// default rate and at the highest.
class BuiltInSignal : public ::testing::TestWithParam<int> {};

TEST_P(BuiltInSignal, AfterTwoSecondsTheTrackedPeakIsTheLeftTone) {
    CRecordingEngineView view;
    CCaptureEngine engine;
    engine.m_pView = &view;
    engine.m_nSampleRate = GetParam();
    engine.m_nFftSize = 4096;
    engine.m_nLengthMs = 93;
    engine.m_nWindowType = 2;
    engine.m_nSpanLowHz = 40;
    engine.m_nSpanHighHz = 16000;
    const SCaptureGuid guid = CTestSignalDevice::Guid();
    ASSERT_EQ(engine.Open(&guid), 1);
    ASSERT_EQ(engine.Start(), 1);
    // Two seconds; a slow (sanitizer) build gets until just before the tone
    // moves on at three seconds to make the hundred passes a fast one makes.
    const uint32_t start = TimeGetTime();
    SleepMs(2000);
    while (view.m_nRenders.load() < 100 && TimeGetTime() - start < 2900)
        SleepMs(5);
    const double peak = engine.m_chanLeft.m_dPeakHz.load();
    engine.m_bStopCycle = 1;
    engine.m_nPassCount = 20000;
    engine.Stop();
    EXPECT_GT(view.m_nRenders.load(), 20);
    EXPECT_NEAR(peak, CTestSignal::LeftToneHz(2.0), 0.5);
    for (int flags : view.Flags())
        EXPECT_EQ(flags, 2);
}

INSTANTIATE_TEST_SUITE_P(Rates, BuiltInSignal, ::testing::Values(44100, 96000),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "Hz";
                         });
