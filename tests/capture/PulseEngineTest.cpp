// The capture engine on the native sound-server backend, against a private
// PulseAudio server and a private PipeWire session: a tone played into the
// desktop's output is what the analyser finds, and a server that goes away
// mid-run stops nothing.

#include <chrono>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "analysis/PeakTracker.h"
#include "capture/CaptureEngine.h"
#include "devices/CaptureBuffer.h"
#include "tests/capture/RecordingEngineView.h"
#include "tests/devices/OnEachServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

struct SRun {
    double dHz;
    int nRate;
    int nFftSize;
};

// An engine with a recording view, set up as the dialog does for a run.
struct SPulseEngine {
    CRecordingEngineView view;
    CCaptureEngine engine;

    SPulseEngine(int nRate, int nFftSize) {
        engine.m_pView = &view;
        engine.m_nSampleRate = nRate;
        engine.m_nFftSize = nFftSize;
        engine.m_nLengthMs = static_cast<int>(1000.0 * nFftSize / nRate + 0.5);
        engine.m_nWindowType = 2;
        engine.m_nInertia = 2;
        engine.m_chanLeft.m_nInertia = 2;
        engine.m_chanRight.m_nInertia = 2;
        engine.m_nSpanLowHz = 20;
        engine.m_nSpanHighHz = nRate / 2;
    }
    ~SPulseEngine() { End(); }
    void End() {
        engine.m_bStopCycle = 1;
        engine.m_nPassCount = 20000;
        engine.Stop();
    }
    // Waits until the tracked peak has settled on dHz (within 0.1 Hz).
    bool Converges(double dHz, uint32_t nTimeoutMs) {
        const auto deadline = Clock::now() + Ms(nTimeoutMs);
        while (Clock::now() < deadline) {
            if (std::abs(engine.m_chanLeft.m_dPeakHz.load() - dHz) <= 0.1)
                return true;
            std::this_thread::sleep_for(Ms(50));
        }
        return false;
    }
    int StrongestBin() {
        const int n = engine.m_nFftSize;
        auto arrays = engine.m_chanLeft.LockArrays();
        return FindStrongestBin(engine.m_chanLeft.m_pPower, SPeakBins{1, n / 2});
    }
};

class PulseEngine : public OnEachServer<SRun> {};

using PulseEngineServerLoss = OnEachServer<>;

} // namespace

TEST_P(PulseEngine, FindsTheTonePlayedIntoTheDesktopsOutput) {
    const SRun run = TestCase();
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, run.dHz, run.dHz));
    SPulseEngine pulse(run.nRate, run.nFftSize);
    ASSERT_EQ(pulse.engine.Open(nullptr), 1);
    ASSERT_EQ(pulse.engine.Start(), 1);
    EXPECT_TRUE(pulse.Converges(run.dHz, 5000))
        << "peak at " << pulse.engine.m_chanLeft.m_dPeakHz.load() << " Hz";
    const double binHz = static_cast<double>(run.nRate) / run.nFftSize;
    EXPECT_EQ(pulse.StrongestBin(), std::lround(run.dHz / binHz));
    EXPECT_GT(pulse.view.m_nPasses.load(), 0);
    pulse.End();
}

INSTANTIATE_TEST_SUITE_P(Runs, PulseEngine,
                         ::testing::Combine(kEachServer, ::testing::Values(SRun{440, 44100, 4096},
                                                                           SRun{1000, 8000, 4096})),
                         SServerToneName());

TEST_P(PulseEngineServerLoss, TheRunEndsCleanlyWhenTheServerGoesAway) {
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 1000, 1000));
    SPulseEngine pulse(44100, 4096);
    ASSERT_EQ(pulse.engine.Open(nullptr), 1);
    ASSERT_EQ(pulse.engine.Start(), 1);
    ASSERT_TRUE(pulse.Converges(1000, 5000));

    Server().Stop(SIGKILL);
    // The ring reports the loss, which is what the run can tell the user by;
    // the cycles meanwhile neither crash nor hang.
    const auto killed = Clock::now();
    int result = kCaptureOk;
    while (result >= 0 && Clock::now() - killed < Ms(3000)) {
        result = pulse.engine.m_pCaptureBuffer->GetCurrentPosition(nullptr, nullptr);
        std::this_thread::sleep_for(Ms(10));
    }
    EXPECT_LT(result, 0);
    EXPECT_LT(Clock::now() - killed, Ms(1000));
    std::this_thread::sleep_for(Ms(2 * CCaptureEngine::kTimerPeriodMs));

    const auto stopping = Clock::now();
    pulse.End();
    EXPECT_LT(Clock::now() - stopping, Ms(2000));
}

INSTANTIATE_TEST_SUITE_P(OnEachServer, PulseEngineServerLoss, ::testing::Combine(kEachServer),
                         SServerName());
