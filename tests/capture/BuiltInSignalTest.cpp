#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

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
    while (view.m_nPasses.load() < 100 && TimeGetTime() - start < 2900)
        SleepMs(5);
    const double peak = engine.m_chanLeft.m_dPeakHz.load();
    engine.m_bStopCycle = 1;
    engine.m_nPassCount = 20000;
    engine.Stop();
    EXPECT_GT(view.m_nPasses.load(), 20);
    EXPECT_NEAR(peak, CTestSignal::LeftToneHz(2.0), 0.5);
    for (int flags : view.Flags())
        EXPECT_EQ(flags, 2);
}

INSTANTIATE_TEST_SUITE_P(Rates, BuiltInSignal, ::testing::Values(44100, 96000),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::to_string(info.param) + "Hz";
                         });

// The left channel against its definition, a sine per harmonic of a phase that
// adds up the tone's frequency sample by sample: over half a minute, through
// ten notes and their glides, no sample is more than one step off, so neither
// pitch nor level has moved.
TEST(BuiltInSignalSamples, TheLeftToneIsTheSumOfItsHarmonicsAtTheTunesPitch) {
    constexpr uint32_t kRate = 8000;
    constexpr double kTwoPi = 6.283185307179586;
    const double aHarmonic[] = {0.30, 0.12, 0.06, 0.03};
    CTestSignal signal(kRate);
    std::vector<int16_t> frames(2 * kRate);
    double dPhase = 0.0;
    int nWorst = 0;
    for (uint32_t nSecond = 0; nSecond < 30; ++nSecond) {
        signal.Render(frames.data(), kRate);
        for (uint32_t i = 0; i < kRate; ++i) {
            const double f0 = CTestSignal::LeftToneHz((nSecond * kRate + i) / double(kRate));
            double dLeft = 0.0;
            for (int h = 0; h < 4; ++h)
                if (f0 * (h + 1) < kRate / 2.0)
                    dLeft += aHarmonic[h] * std::sin(dPhase * (h + 1));
            dPhase = std::fmod(dPhase + kTwoPi * f0 / kRate, kTwoPi);
            const long nExpected = std::lround(dLeft * 32767.0);
            nWorst = std::max(nWorst, static_cast<int>(std::labs(frames[2 * i] - nExpected)));
        }
    }
    EXPECT_LE(nWorst, 1);
}
