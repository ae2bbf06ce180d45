#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

#include "capture/CaptureEngine.h"
#include "capture/PeriodicTimer.h"
#include "platform/Clock.h"
#include "tests/capture/EngineTestSupport.h"

namespace {

// Reference count of a capture object, seen from outside.
template <typename T> uint32_t References(T& object) {
    object.AddRef();
    return object.Release();
}

void FillRing(SScriptedEngine& s) {
    s.Buffer().Fill(LeftOf, RightOf);
}

void SetReadFrame(SScriptedEngine& s, uint32_t nFrame) {
    s.Buffer().SetPositions(nFrame * 4, nFrame * 4);
}

// The block must hold the L frames that end at the read position, then zeros.
void ExpectBlockEndsAt(SScriptedEngine& s, uint32_t nReadFrame, int nFrames) {
    const uint32_t ring = s.RingFrames();
    const int32_t* pLeft = s.engine.m_chanLeft.GetSamples();
    const int32_t* pRight = s.engine.m_chanRight.GetSamples();
    const uint32_t first = (nReadFrame + ring - static_cast<uint32_t>(nFrames)) % ring;
    for (int k = 0; k < nFrames; ++k) {
        const uint32_t frame = (first + static_cast<uint32_t>(k)) % ring;
        ASSERT_EQ(pLeft[k], LeftOf(frame)) << "frame " << k;
        ASSERT_EQ(pRight[k], RightOf(frame)) << "frame " << k;
    }
    for (int k = nFrames; k < s.engine.m_nFftSize; ++k) {
        ASSERT_EQ(pLeft[k], 0) << "sample " << k;
        ASSERT_EQ(pRight[k], 0) << "sample " << k;
    }
}

double PowerSum(const CAnalysisChannel& chan) {
    double sum = 0.0;
    for (int i = 0; i < chan.m_nSize; ++i)
        sum += chan.m_pPower[i];
    return sum;
}

} // namespace

// ---- Open, Start and Stop ------------------------------------------------

TEST(CaptureEngineOpen, TwoSecondRingAt44100HzIs352800Bytes) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.engine.m_nBufferBytes, 352800u);
    EXPECT_EQ(s.Buffer().BufferBytes(), 352800u);
    const SWaveFormat& wfx = s.Buffer().m_wfx;
    EXPECT_EQ(wfx.wFormatTag, 1);
    EXPECT_EQ(wfx.nChannels, 2);
    EXPECT_EQ(wfx.nSamplesPerSec, 44100u);
    EXPECT_EQ(wfx.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(wfx.nBlockAlign, 4);
    EXPECT_EQ(wfx.wBitsPerSample, 16);
    EXPECT_EQ(s.Buffer().m_desc.dwSize, 28u);
    EXPECT_EQ(s.engine.m_nReadOffset, 0u);
}

TEST(CaptureEngineOpen, TwoSecondRingAt8000HzIs64000Bytes) {
    SScriptedEngine s(8000, 1024, 93);
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.engine.m_nBufferBytes, 64000u);
    EXPECT_EQ(s.Buffer().BufferBytes(), 64000u);
}

TEST(CaptureEngineOpen, TwoSecondRingAt96000HzIs768000Bytes) {
    SScriptedEngine s(96000, 16384, 93);
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(s.engine.m_nBufferBytes, 768000u);
    EXPECT_EQ(s.Buffer().BufferBytes(), 768000u);
    EXPECT_EQ(s.Buffer().m_wfx.nAvgBytesPerSec, 384000u);
    EXPECT_DOUBLE_EQ(s.engine.m_chanLeft.m_dBinsPerHz, 16384.0 / 96000.0);
}

TEST(CaptureEngineOpen, SetsUpBothChannelsWithTheWindowTypeAndInertia) {
    SScriptedEngine s(22050, 2048, 93);
    s.engine.m_nWindowType = 1; // triangular: 0 at both ends, 1 in the middle
    s.engine.m_nInertia = 7;
    ASSERT_EQ(s.Open(), 1);
    for (CAnalysisChannel* pChan : {&s.engine.m_chanLeft, &s.engine.m_chanRight}) {
        EXPECT_EQ(pChan->m_nSize, 2048);
        EXPECT_DOUBLE_EQ(pChan->m_dBinsPerHz, 2048.0 / 22050.0);
        EXPECT_EQ(pChan->m_nWindowType, 1);
        EXPECT_EQ(pChan->m_nWindowLength, 2048);
        EXPECT_EQ(pChan->m_pWindow[0], 0.0);
        EXPECT_EQ(pChan->m_pWindow[1024], 1.0);
        EXPECT_EQ(pChan->m_nInertia, 7);
    }
}

TEST(CaptureEngineOpen, PassesTheDevicesFailureCodeOnUnchanged) {
    SScriptedEngine s(44100, 4096, 93);
    s.pDevice->m_nOpenResult = -2005401480;
    EXPECT_EQ(s.Open(), -2005401480);
    EXPECT_EQ(s.engine.m_pCapture, nullptr);
    EXPECT_EQ(s.engine.m_pCaptureBuffer, nullptr);
    EXPECT_EQ(s.engine.m_chanLeft.m_nSize, 0);
    EXPECT_EQ(s.engine.m_chanRight.m_nSize, 0);
    EXPECT_LT(s.engine.Start(), 0);
    EXPECT_EQ(s.engine.m_pTimer, nullptr);
    EXPECT_EQ(s.view.m_nBinds, 0);
}

TEST(CaptureEngineOpen, FailsWhenTheRingCannotBeCreatedAndLetsGoOfTheDevice) {
    SScriptedEngine s(44100, 4096, 93);
    s.pDevice->m_nCreateBufferResult = -7;
    EXPECT_EQ(s.Open(), -7);
    EXPECT_EQ(s.engine.m_pCapture, nullptr);
    EXPECT_EQ(References(*s.pDevice), 1u);
    EXPECT_LT(s.engine.Start(), 0);
    EXPECT_EQ(s.engine.m_pTimer, nullptr);
}

TEST(CaptureEngineOpen, FailsWhenAChannelCannotBeSetUp) {
    SScriptedEngine s(44100, 3000, 93); // not a power of two
    EXPECT_LT(s.Open(), 0);
    EXPECT_EQ(s.engine.m_pCaptureBuffer, nullptr);
    EXPECT_EQ(References(*s.pDevice), 1u);
    EXPECT_LT(s.engine.Start(), 0);
}

TEST(CaptureEngineOpen, AnUnknownDeviceFails) {
    CCaptureEngine engine;
    SCaptureGuid nowhere{};
    nowhere.bytes[0] = 0xEE;
    EXPECT_LT(engine.Open(&nowhere), 0);
    EXPECT_EQ(engine.m_pCapture, nullptr);
}

TEST(CaptureEngineStart, BindsTheViewStartsTheRingAndDrawsTheScaleOnce) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    ASSERT_EQ(s.engine.Start(), 1);
    EXPECT_EQ(s.view.m_pLeft, &s.engine.m_chanLeft);
    EXPECT_EQ(s.view.m_pRight, &s.engine.m_chanRight);
    EXPECT_EQ(s.view.m_nFftSize, 4096);
    EXPECT_EQ(s.view.m_nSampleRate, 44100);
    EXPECT_EQ(s.view.m_nScaleDraws, 1);
    EXPECT_EQ(s.Buffer().m_nStarts, 1);
    EXPECT_EQ(s.Buffer().m_nStartFlags.load(), kCaptureStartLooping);
    ASSERT_NE(s.engine.m_pTimer, nullptr);
    EXPECT_EQ(s.engine.m_pTimer->m_nDelayMs, 600u);
    EXPECT_EQ(s.engine.m_pTimer->m_nResolutionMs, 1u);
    EXPECT_EQ(s.engine.m_pTimer->m_pOwner, &s.engine);
    EXPECT_NE(s.engine.m_pTimer->m_nTimerId, 0u);
}

TEST(CaptureEngineStart, ASecondStartChangesNothing) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    ASSERT_EQ(s.engine.Start(), 1);
    CPeriodicTimer* pTimer = s.engine.m_pTimer;
    EXPECT_EQ(s.engine.Start(), 1);
    EXPECT_EQ(s.engine.m_pTimer, pTimer);
    EXPECT_EQ(s.Buffer().m_nStarts, 1);
    EXPECT_EQ(s.view.m_nBinds, 1);
    EXPECT_EQ(s.view.m_nScaleDraws, 1);
}

TEST(CaptureEngineStop, OnAnOpenedNeverStartedEngineReleasesBufferAndDevice) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    EXPECT_EQ(References(s.Buffer()), 2u); // the engine's and the device's
    EXPECT_EQ(References(*s.pDevice), 2u); // the engine's and the test's
    EXPECT_EQ(s.engine.Stop(), 0);
    EXPECT_EQ(s.engine.m_pCaptureBuffer, nullptr);
    EXPECT_EQ(s.engine.m_pCapture, nullptr);
    EXPECT_EQ(s.engine.m_pTimer, nullptr);
    EXPECT_EQ(References(s.Buffer()), 1u);
    EXPECT_EQ(References(*s.pDevice), 1u);
    EXPECT_EQ(s.Buffer().m_nStops, 0); // never started, so never stopped
    EXPECT_EQ(s.engine.Stop(), 0);     // holds nothing: nothing more happens
}

TEST(CaptureEngineStop, EndsARunningCycleWithinAPassAndNothingRunsAfterIt) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    ASSERT_EQ(s.engine.Start(), 1);
    const uint32_t start = TimeGetTime();
    while (s.view.m_nPasses.load() < 3 && TimeGetTime() - start < 5000)
        SleepMs(1);
    ASSERT_GE(s.view.m_nPasses.load(), 3) << "no cycle ran";
    const int before = s.view.m_nPasses.load();
    s.engine.m_bStopCycle = 1;
    s.engine.m_nPassCount = 20000;
    EXPECT_EQ(s.engine.Stop(), 0);
    EXPECT_EQ(s.view.m_nInside.load(), 0);
    const int after = s.view.m_nPasses.load();
    EXPECT_LE(after - before, 1);
    SleepMs(700);
    EXPECT_EQ(s.view.m_nPasses.load(), after);
    EXPECT_EQ(s.Buffer().m_nStops, 1);
    EXPECT_NE(s.view.m_passThread, std::this_thread::get_id());
}

TEST(CaptureEngineStop, DestroyingARunningEngineStopsItFirst) {
    auto* pDevice = CScriptedCaptureDevice::Create();
    CRecordingEngineView view;
    {
        CCaptureEngine engine;
        engine.m_pView = &view;
        const SCaptureGuid guid = pDevice->Guid();
        ASSERT_EQ(engine.Open(&guid), 1);
        ASSERT_EQ(engine.Start(), 1);
        const uint32_t start = TimeGetTime();
        while (view.m_nPasses.load() < 1 && TimeGetTime() - start < 5000)
            SleepMs(1);
    }
    EXPECT_GE(view.m_nPasses.load(), 1);
    EXPECT_EQ(view.m_nInside.load(), 0);
    EXPECT_EQ(References(*pDevice), 1u);
    pDevice->Release();
}

// ---- The acquisition cycle ------------------------------------------------

TEST(CaptureCycle, FiftyMsAt44100HzLocks8820BytesAndZeroPadsFrom2205) {
    SScriptedEngine s(44100, 4096, 50);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 10000);
    s.StopAfter(1);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.Buffer().m_nLastLockBytes, 8820u);
    EXPECT_EQ(s.Buffer().m_nLastLockOffset, 40000u - 8820u);
    EXPECT_EQ(s.Buffer().m_nLastUnlockBytes, 8820u);
    ExpectBlockEndsAt(s, 10000, 2205);
    EXPECT_EQ(s.engine.m_nReadOffset, 40000u);
    EXPECT_EQ(s.engine.m_chanLeft.m_nWindowLength, 2205);
}

TEST(CaptureCycle, FiftyMsAt48000HzLocks9600BytesAndZeroPadsFrom2400) {
    SScriptedEngine s(48000, 4096, 50);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 1000); // the block wraps round the end of the ring
    s.StopAfter(1);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.Buffer().m_nLastLockBytes, 9600u);
    EXPECT_EQ(s.Buffer().m_nLastLockOffset, 384000u - 4u * 1400u);
    ExpectBlockEndsAt(s, 1000, 2400);
    EXPECT_EQ(s.engine.m_chanLeft.m_nWindowLength, 2400);
}

TEST(CaptureCycle, NinetyThreeMsIsLimitedToTheTransformSize) {
    SScriptedEngine s(44100, 4096, 93); // 4101 frames
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 50000);
    s.StopAfter(1);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.Buffer().m_nLastLockBytes, 4u * 4096u);
    ExpectBlockEndsAt(s, 50000, 4096);
}

TEST(CaptureCycle, ABlockThatWrapsTakesRegionTwoAfterRegionOne) {
    SScriptedEngine s(44100, 4096, 50);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 100); // below L = 2205 frames
    s.StopAfter(1);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.Buffer().m_nLastLockOffset, 352800u - 8820u + 400u);
    ExpectBlockEndsAt(s, 100, 2205);
    EXPECT_EQ(s.engine.m_nReadOffset, 400u);
}

TEST(CaptureCycle, ABlockLongerThanTheRingTakesTheWholeRingThenZeros) {
    // 2048 ms at 8000 Hz is 16384 frames; the two-second ring holds 16000.
    SScriptedEngine s(8000, 16384, 2048);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 5000);
    s.StopAfter(1);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.Buffer().m_nLastLockBytes, 64000u);
    EXPECT_EQ(s.Buffer().m_nLastLockOffset, 20000u);
    ExpectBlockEndsAt(s, 5000, 16000);
}

TEST(CaptureCycle, ABlockLongerThanTheRingAtReadPositionZero) {
    SScriptedEngine s(8000, 16384, 2048);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 0);
    s.StopAfter(1);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.Buffer().m_nLastLockOffset, 0u);
    ExpectBlockEndsAt(s, 0, 16000);
}

TEST(CaptureCycle, MonoFillsButDoesNotTransformTheRightChannel) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 9000);
    s.StopAfter(2);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    ExpectBlockEndsAt(s, 9000, 4096);
    EXPECT_GT(PowerSum(s.engine.m_chanLeft), 0.0);
    EXPECT_EQ(PowerSum(s.engine.m_chanRight), 0.0);
    EXPECT_EQ(s.view.Flags(), (std::vector<int>{2, 2}));

    s.engine.m_bStereo = 1;
    s.view.m_nPasses = 0;
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_GT(PowerSum(s.engine.m_chanRight), 0.0);
    EXPECT_EQ(s.view.Flags(), (std::vector<int>{2, 2, 3, 3}));
}

TEST(CaptureCycle, SwitchingStereoOnRebuildsTheRightWindowForTheCurrentLength) {
    SScriptedEngine s(44100, 4096, 50); // L = 2205
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 9000);
    s.StopAfter(1);
    EXPECT_EQ(s.engine.RunCycle(), 1); // mono: only the left window follows L
    const CAnalysisChannel& right = s.engine.m_chanRight;
    EXPECT_EQ(right.m_nWindowLength, 2205);
    EXPECT_NE(right.m_pWindow[3000], 0.0); // still the full-block window

    s.engine.m_bStereo = 1;
    s.view.m_nPasses = 0;
    EXPECT_EQ(s.engine.RunCycle(), 1); // same L: the cycle start rebuilds nothing
    const CAnalysisChannel& left = s.engine.m_chanLeft;
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(right.m_pWindow[i], left.m_pWindow[i]) << i;
    EXPECT_EQ(right.m_pWindow[3000], 0.0);
}

TEST(CaptureCycle, ALengthChangeRebuildsBothWindowsInStereo) {
    SScriptedEngine s(44100, 4096, 93);
    s.engine.m_bStereo = 1;
    ASSERT_EQ(s.Open(), 1);
    s.StopAfter(1);
    s.engine.m_nLengthMs = 20; // 882 frames
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.engine.m_chanLeft.m_nWindowLength, 882);
    EXPECT_EQ(s.engine.m_chanRight.m_nWindowLength, 882);
    EXPECT_EQ(s.engine.m_chanRight.m_pWindow[882], 0.0);
    EXPECT_NE(s.engine.m_chanRight.m_pWindow[441], 0.0);
}

// A new length, or a window the user interface rebuilt over the whole block,
// reaches the very next pass's transform, not the next cycle's.
TEST(CaptureCycle, ANewLengthOrWindowReachesTheNextPass) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 9000);
    CAnalysisChannel& left = s.engine.m_chanLeft;
    std::vector<std::tuple<int, double, double>> seen; // length, window at 100 and at 1000
    s.view.m_onPass = [&](int nPass) {
        seen.emplace_back(left.m_nWindowLength.load(), left.m_pWindow[100], left.m_pWindow[1000]);
        if (nPass == 1)
            s.engine.m_nLengthMs = 20; // 882 frames
        if (nPass == 2) {
            // As the dialog changes the window type: over the whole block.
            left.m_nWindowType = 0;
            left.SetWindow(0, 0);
        }
        if (nPass == 3)
            s.engine.m_bStopCycle = 1;
    };
    EXPECT_EQ(s.engine.RunCycle(), 1);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(std::get<0>(seen[0]), 4096);
    EXPECT_NE(std::get<2>(seen[0]), 0.0);
    EXPECT_EQ(std::get<0>(seen[1]), 882);
    EXPECT_EQ(std::get<2>(seen[1]), 0.0);
    EXPECT_LT(std::get<1>(seen[1]), 1.0); // still Hanning
    EXPECT_EQ(std::get<0>(seen[2]), 882);
    EXPECT_EQ(std::get<1>(seen[2]), 1.0); // rectangular
    EXPECT_EQ(std::get<2>(seen[2]), 0.0); // and still over the 882 frames
}

TEST(CaptureCycle, ABusyScaleEndsTheCycleWithoutDrawingAndKeepsTheCount) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    g_nLastCyclePasses = 57;
    s.view.m_bScaleBusy = true;
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.m_nPasses, 0);
    EXPECT_TRUE(s.view.PassCounts().empty());
    EXPECT_EQ(g_nLastCyclePasses, 57);
    EXPECT_EQ(s.engine.m_nPassCount, 0);
    EXPECT_GT(PowerSum(s.engine.m_chanLeft), 0.0); // the pass did its analysis
}

TEST(CaptureCycle, AForcedStopStoresThePassesReallyMade) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    // What the owner does to end a run, here during the third pass.
    s.view.m_onPass = [&s](int nPasses) {
        if (nPasses == 3) {
            s.engine.m_bStopCycle = 1;
            s.engine.m_nPassCount = 20000;
        }
    };
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.m_nPasses, 3);
    EXPECT_EQ(g_nLastCyclePasses, 3);

    // The next cycle shows that figure, not the forced count.
    s.StopAfter(4);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.PassCounts().back(), 3);
}

TEST(CaptureCycle, EndsAfterItsTimeBudgetAndHandsOnThePassCount) {
    SScriptedEngine s(44100, 1024, 23);
    ASSERT_EQ(s.Open(), 1);
    const uint32_t start = TimeGetTime();
    EXPECT_EQ(s.engine.RunCycle(), 1);
    const uint32_t took = TimeGetTime() - start;
    EXPECT_GE(took, 800u);
    const int passes = s.view.m_nPasses;
    EXPECT_GT(passes, 1);
    EXPECT_LT(passes, CCaptureEngine::kMaxPasses);
    EXPECT_EQ(g_nLastCyclePasses, passes);
    EXPECT_EQ(s.engine.m_nPassCount, passes);

    s.StopAfter(1);
    s.view.m_nPasses = 0;
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.PassCounts().back(), passes);
}

TEST(CaptureCycle, AFailedLockCopiesNothing) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    SetReadFrame(s, 9000);
    s.view.m_onPass = [&s](int nPasses) {
        if (nPasses == 1) {
            // New contents the second pass would find, were its lock to work.
            s.Buffer().Fill([](uint32_t) { return int16_t{5}; },
                            [](uint32_t) { return int16_t{6}; });
            s.Buffer().m_nLockResult = -1;
        } else {
            s.engine.m_bStopCycle = 1;
        }
    };
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.view.m_nPasses, 2);
    EXPECT_EQ(s.Buffer().m_nLocks, 2);
    EXPECT_EQ(s.Buffer().m_nUnlocks, 1);
    s.Buffer().Fill(LeftOf, RightOf);
    ExpectBlockEndsAt(s, 9000, 4096); // the first pass's block, untouched
}

TEST(CaptureCycle, APositionFailureReadsNothingButStillAnalysesAndDraws) {
    SScriptedEngine s(44100, 4096, 93);
    ASSERT_EQ(s.Open(), 1);
    FillRing(s);
    s.Buffer().m_nPositionResult = -6;
    s.StopAfter(2);
    EXPECT_EQ(s.engine.RunCycle(), 1);
    EXPECT_EQ(s.Buffer().m_nLocks, 0);
    EXPECT_EQ(s.view.m_nPasses, 2);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(s.engine.m_chanLeft.m_pSamples[i], 0);
}

TEST(CaptureCycle, TracksThePeakOnTheLeftChannelInsideTheSpan) {
    SScriptedEngine s(8000, 4096, 512); // L = N
    s.engine.m_nSpanLowHz = 100;
    s.engine.m_nSpanHighHz = 2000;
    ASSERT_EQ(s.Open(), 1);
    // On the left 1000.3 Hz and, outside the span, a louder 3000 Hz; on the right
    // a still louder 1500 Hz that the tracker must not see.
    s.Buffer().Fill(
        [](uint32_t i) {
            return static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000.3 * i / 8000) +
                                        20000 * std::sin(2 * M_PI * 3000 * i / 8000));
        },
        [](uint32_t i) {
            return static_cast<int16_t>(30000 * std::sin(2 * M_PI * 1500 * i / 8000));
        });
    SetReadFrame(s, 8000);
    s.StopAfter(120);
    s.engine.m_bStereo = 1;
    while (s.view.m_nPasses < 120) // however many cycles that takes
        ASSERT_EQ(s.engine.RunCycle(), 1);
    // Within a quarter bin: the tracker's refinement works off table phases.
    EXPECT_NEAR(s.engine.m_chanLeft.m_dPeakHz.load(), 1000.3, 0.5);
    EXPECT_EQ(s.engine.m_chanRight.m_dPeakHz.load(), 0.0);
}

TEST(CaptureCycle, WithoutACaptureBufferReturnsZero) {
    CCaptureEngine engine;
    EXPECT_EQ(engine.RunCycle(), 0);
}

// ---- The level meter ------------------------------------------------------

namespace {

// A device as the cycle sees it: before each pass, the next frames of a
// signal are written to the ring and the read position moves past them.
struct SPlayedRing {
    SScriptedEngine& s;
    long nWritten = 0;

    explicit SPlayedRing(SScriptedEngine& engine) : s(engine) {
        Run([](int) { return true; }); // a first pass: where the meter begins
    }
    // Runs cycles until fnPass (called after each pass) says to stop.
    void Run(const std::function<bool(int)>& fnPass) {
        bool bDone = false;
        s.view.m_onPass = [&](int nPass) {
            if (fnPass(nPass)) {
                bDone = true;
                s.engine.m_bStopCycle = 1;
            }
        };
        while (!bDone)
            ASSERT_EQ(s.engine.RunCycle(), 1);
    }
    // Plays nFrames of fnSignal(frame index) in steps of nStep frames, until
    // the meter has taken them all.
    void Play(long nFrames, const std::function<double(long)>& fnSignal, long nStep) {
        long nLeft = nFrames;
        Run([&](int) {
            if (nLeft == 0)
                return true;
            const long n = std::min(nStep, nLeft);
            Write(n, fnSignal);
            nLeft -= n;
            return false;
        });
    }
    void Write(long nFrames, const std::function<double(long)>& fnSignal) {
        const uint32_t nRing = s.RingFrames();
        for (long i = 0; i < nFrames; ++i, ++nWritten) {
            const auto v = static_cast<int16_t>(std::lround(fnSignal(nWritten)));
            s.Buffer().WriteFrameAt(static_cast<uint32_t>(nWritten % nRing), v, v);
        }
        SetReadFrame(s, static_cast<uint32_t>(nWritten % nRing));
    }
    const CLevelMeter& Meter() const { return s.engine.m_chanLeft.m_meter; }
};

std::function<double(long)> Tone(double dAmplitude, double dHz, int nRate) {
    return [=](long i) { return dAmplitude * std::sin(2 * M_PI * dHz * i / nRate); };
}

const std::function<double(long)> kSilence = [](long) { return 0.0; };

SLevelSettings WeightedDbfs(EWeighting eWeighting) {
    SLevelSettings settings;
    settings.eUnit = ELevelUnit::Dbfs;
    settings.eWeighting = eWeighting;
    return settings;
}

double Db(double d) {
    return 10.0 * std::log10(d);
}

struct SMeterRun {
    int nRate;
    int nFftSize;
    int nLengthMs;
};

} // namespace

// Tone bursts (IEC 61672-1, 4 kHz, Fast) read their table however large the
// transform and however short the analysis length: the meter takes the
// samples, not the blocks.
TEST(CaptureMeter, ToneBurstsReadTheirTableWhateverTheBlocks) {
    for (const SMeterRun run : {SMeterRun{44100, 1024, 23}, SMeterRun{48000, 16384, 341},
                                SMeterRun{44100, 16384, 10}, SMeterRun{48000, 1024, 10}}) {
        SCOPED_TRACE(testing::Message() << run.nRate << " Hz, " << run.nFftSize << " points, "
                                        << run.nLengthMs << " ms");
        SScriptedEngine s(run.nRate, run.nFftSize, run.nLengthMs);
        ASSERT_EQ(s.Open(), 1);
        s.engine.SetMeterLevels(WeightedDbfs(EWeighting::A), false);
        SPlayedRing ring(s);
        const long nStep = run.nRate / 5; // 200 ms a pass
        const auto tone = Tone(10000.0, 4000.0, run.nRate);
        ring.Play(2L * run.nRate, tone, nStep);
        const double dSteady = ring.Meter().Figures().dLevel;
        for (auto [dMs, dExpected, dUpper, dLower] : {std::tuple{200.0, -1.0, 0.5, -0.5},
                                                      {10.0, -11.1, 1.0, -1.0},
                                                      {2.0, -18.0, 1.0, -1.5}}) {
            ring.Play(run.nRate, kSilence, nStep);
            s.engine.m_chanLeft.m_meter.Reset();
            ring.Play(std::lround(dMs * run.nRate / 1000), tone, nStep);
            ring.Play(run.nRate / 2, kSilence, nStep);
            const double dRead = Db(ring.Meter().Figures().dMax / dSteady);
            EXPECT_LE(dRead - dExpected, dUpper) << dMs << " ms";
            EXPECT_GE(dRead - dExpected, dLower) << dMs << " ms";
        }
    }
}

// A click between two passes' blocks (10 ms each, 200 ms apart) is metered:
// its peak is the sample peak, and it counts as reaching full scale.
TEST(CaptureMeter, AClickBetweenTwoBlocksIsMetered) {
    SScriptedEngine s(48000, 1024, 10);
    ASSERT_EQ(s.Open(), 1);
    SPlayedRing ring(s);
    // 600 samples before the end of the frames a pass brings: not in its block.
    const long nClick = ring.nWritten + 9000;
    ring.Play(
        9600, [nClick](long i) { return i == nClick ? 32767.0 : 0.0; }, 9600);
    // The held peak has fallen at the time weighting's rate since.
    const double dFall = 10.0 * std::log10(std::exp(1.0)) * 599 / (48000 * 0.125);
    EXPECT_NEAR(Db(ring.Meter().Figures().dPeak), -dFall, 0.01);
    EXPECT_EQ(ring.Meter().ClippedFeeds(), 1);
    EXPECT_GT(ring.Meter().Figures().dMax, 0.0);
}

// Time that brought no samples is left out of Leq and counted as a gap: an
// outage of the device's positions, and a pause so long that the ring may
// have gone round meanwhile.
TEST(CaptureMeter, GapsStayOutOfLeqAndAreCounted) {
    constexpr int kRate = 8000;
    SScriptedEngine s(kRate, 4096, 100);
    ASSERT_EQ(s.Open(), 1);
    SPlayedRing ring(s);
    ring.Play(kRate, Tone(10362.0, 500.0, kRate), 800); // -10 dB
    s.Buffer().m_nPositionResult = -6;
    int nPasses = 0;
    ring.Run([&](int) { return ++nPasses >= 30; }); // 300 ms and more without positions
    s.Buffer().m_nPositionResult = 0;
    ring.Play(kRate, Tone(1036.2, 500.0, kRate), 800); // -30 dB
    SMeterFigures m = ring.Meter().Figures();
    EXPECT_NEAR(Db(m.dLeq), Db((0.1 + 0.001) / 2), 0.05);
    EXPECT_GT(m.dGapSeconds, 0.29);
    EXPECT_LT(m.dGapSeconds, 1.5);

    const double dGapBefore = m.dGapSeconds;
    ring.Run([&](int) {
        // 2.5 s of sound arrive while the cycle is held up 1.6 s: the ring
        // (2 s) went round, and its distance says 0.5 s.
        ring.Write(kRate * 5 / 2, Tone(1036.2, 500.0, kRate));
        std::this_thread::sleep_for(std::chrono::milliseconds(1600));
        return true;
    });
    ring.Run([](int) { return true; });
    m = ring.Meter().Figures();
    EXPECT_GT(m.dGapSeconds - dGapBefore, 0.9);
    EXPECT_LT(m.dGapSeconds - dGapBefore, 1.5);
    EXPECT_NEAR(Db(m.dLeq), Db((0.1 + 0.001 * 1.5) / 2.5), 0.05);
}

// In dB SPL with a microphone's response, the meter takes off what the
// response does to the sound as the bars do: here 3 dB at the tone.
TEST(CaptureMeter, AMicrophonesResponseIsTakenOffAsForTheBars) {
    constexpr int kRate = 48000;
    SScriptedEngine s(kRate, 4096, 85);
    ASSERT_EQ(s.Open(), 1);
    auto pMic = std::make_shared<CMicResponse>();
    pMic->m_aPoints = {{100.0, 0.0}, {1000.0, 3.0}, {10000.0, 3.0}};
    SLevelSettings spl;
    spl.eUnit = ELevelUnit::DbSpl;
    spl.dFullScaleDbSpl = 120.0;
    spl.pMic = pMic;
    SPlayedRing ring(s);
    ring.Play(kRate, Tone(3277.0, 2000.0, kRate), 4800);
    const double dWithout = ring.Meter().Figures().dLevel;
    s.engine.SetMeterLevels(spl, false);
    ring.Play(kRate, Tone(3277.0, 2000.0, kRate), 4800);
    EXPECT_NEAR(Db(ring.Meter().Figures().dLevel / dWithout), -3.0, 0.05);
}
