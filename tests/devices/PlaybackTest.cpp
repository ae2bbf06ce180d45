// The signal generator's playback end to end, on a private PulseAudio server
// and a private PipeWire session: it plays into the default output, a null
// sink whose monitor is the default input, and the test records that input.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "devices/CaptureBuffer.h"
#include "devices/CaptureDevice.h"
#include "devices/CaptureDevices.h"
#include "devices/generator/GeneratorPlayer.h"
#include "tests/devices/OnEachServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr uint32_t kRate = 48000;
// -60 dBFS: the fades' tails lie below it within a millisecond.
constexpr int kSilence = 33;

// Records the default input into one growing list of stereo frames.
class CRecorder {
public:
    CRecorder() {
        if (CaptureCreate(nullptr, &m_pDevice) != kCaptureOk)
            return;
        const SCaptureBufferDesc desc{kCaptureBufferDescSize, 0, m_nBytes, 0, &m_wfx, 0, nullptr};
        if (m_pDevice->CreateCaptureBuffer(&desc, &m_pBuffer) == kCaptureOk)
            m_bOk = m_pBuffer->Start(kCaptureStartLooping) == kCaptureOk;
    }
    ~CRecorder() {
        if (m_pBuffer) {
            m_pBuffer->Stop();
            m_pBuffer->Release();
        }
        if (m_pDevice)
            m_pDevice->Release();
    }
    bool Ok() const { return m_bOk; }

    // Takes what has arrived since the last call.
    void Gather() {
        uint32_t read = 0;
        if (m_pBuffer->GetCurrentPosition(nullptr, &read) < 0 || read == m_nLast)
            return;
        const uint32_t bytes = (read + m_nBytes - m_nLast) % m_nBytes;
        void* ap[2] = {};
        uint32_t an[2] = {};
        if (m_pBuffer->Lock(m_nLast, bytes, &ap[0], &an[0], &ap[1], &an[1], 0) != kCaptureOk)
            return;
        for (int r = 0; r < 2; ++r)
            if (ap[r])
                m_samples.insert(m_samples.end(), static_cast<const int16_t*>(ap[r]),
                                 static_cast<const int16_t*>(ap[r]) + an[r] / 2);
        m_pBuffer->Unlock(ap[0], an[0], ap[1], an[1]);
        m_nLast = read;
    }
    // Gathers for a while.
    void GatherFor(Ms duration) {
        for (const auto end = Clock::now() + duration; Clock::now() < end;) {
            Gather();
            std::this_thread::sleep_for(Ms(5));
        }
        Gather();
    }
    // Gathers until the frames have arrived, however late the capture runs.
    void GatherUntil(long nFrames, Ms timeout) {
        for (const auto end = Clock::now() + timeout; Frames() < nFrames && Clock::now() < end;) {
            std::this_thread::sleep_for(Ms(5));
            Gather();
        }
    }
    // Gathers until a frame beyond silence has arrived; its index, or -1.
    long WaitForSound(Ms timeout) {
        for (const auto end = Clock::now() + timeout; Clock::now() < end;) {
            Gather();
            if (const long n = FirstLoud(0); n >= 0)
                return n;
            std::this_thread::sleep_for(Ms(2));
        }
        return -1;
    }

    long Frames() const { return long(m_samples.size() / 2); }
    int Sample(long nFrame, int nChannel) const { return m_samples[2 * nFrame + nChannel]; }
    long FirstLoud(long nFrom) const {
        for (long i = nFrom; i < Frames(); ++i)
            if (std::abs(Sample(i, 0)) > kSilence || std::abs(Sample(i, 1)) > kSilence)
                return i;
        return -1;
    }
    long LastLoud() const {
        for (long i = Frames() - 1; i >= 0; --i)
            if (std::abs(Sample(i, 0)) > kSilence || std::abs(Sample(i, 1)) > kSilence)
                return i;
        return -1;
    }
    // The channel's RMS over the frames, in dBFS re a full-scale sine.
    double LevelDbfs(long nFrom, long nCount, int nChannel) const {
        double dSum = 0.0;
        for (long i = nFrom; i < nFrom + nCount; ++i)
            dSum += double(Sample(i, nChannel)) * Sample(i, nChannel);
        return 10.0 * std::log10(2.0 * dSum / nCount / (32768.0 * 32768.0));
    }
    // Rising zero crossings, interpolated, over the frames: the tone's frequency.
    double ToneHz(long nFrom, long nCount, int nChannel) const {
        double dFirst = -1.0, dLast = -1.0;
        int nCrossings = 0;
        for (long i = nFrom + 1; i < nFrom + nCount; ++i) {
            const double x0 = Sample(i - 1, nChannel), x1 = Sample(i, nChannel);
            if (x0 < 0 && x1 >= 0) {
                dLast = double(i - 1) + -x0 / (x1 - x0);
                if (nCrossings++ == 0)
                    dFirst = dLast;
            }
        }
        return nCrossings > 1 ? (nCrossings - 1) / (dLast - dFirst) * kRate : 0.0;
    }

private:
    SWaveFormat m_wfx{kWaveFormatPcm, 2, kRate, 4 * kRate, 4, 16, 0};
    uint32_t m_nBytes = 2 * 4 * kRate;
    ICaptureDevice* m_pDevice = nullptr;
    ICaptureBuffer* m_pBuffer = nullptr;
    bool m_bOk = false;
    uint32_t m_nLast = 0;
    std::vector<int16_t> m_samples;
};

SGeneratorSettings Sine(double dHz, double dLevelDbfs, int nChannels = 3) {
    return {
        .eSignal = ESignal::Sine, .dLevelDbfs = dLevelDbfs, .dSineHz = dHz, .nChannels = nChannels};
}

const SPlaybackOutput kDefaultOutput{};

// Polls until the player leaves the state, at most the time given.
CGeneratorPlayer::EState PollWhile(CGeneratorPlayer& player, CGeneratorPlayer::EState eState,
                                   Ms timeout) {
    for (const auto end = Clock::now() + timeout; Clock::now() < end;) {
        if (player.Poll() != eState)
            break;
        std::this_thread::sleep_for(Ms(10));
    }
    return player.State();
}

using GeneratorPlayback = OnEachServer<>;

} // namespace

INSTANTIATE_TEST_SUITE_P(OnEachServer, GeneratorPlayback, ::testing::Combine(kEachServer),
                         SServerName());

TEST_P(GeneratorPlayback, ListsTheServersOutputsWithTheDefaultFirst) {
    const std::vector<SPlaybackOutput> outputs = CGeneratorPlayer::ListOutputs();
    ASSERT_GE(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].id, CPrivateSoundServer::kSink);
    EXPECT_EQ(outputs[0].description, CPrivateSoundServer::kSinkDescription);
    EXPECT_TRUE(std::ranges::any_of(outputs, [](const SPlaybackOutput& output) {
        return output.id == CPrivateSoundServer::kOtherSink &&
               output.description == CPrivateSoundServer::kOtherSinkDescription;
    }));
    for (const SPlaybackOutput& output : outputs)
        EXPECT_EQ(output.eKind, SPlaybackOutput::EKind::Server) << output.description;
}

// The tone arrives at its level and frequency in the channel chosen only;
// after Stop the sound ends within 100 ms of the moment Stop was heard to be
// pressed: the frame playing then is the frames rendered less the latency.
TEST_P(GeneratorPlayback, PlaysAToneAtItsLevelAndStopSilencesItWithin100ms) {
    CRecorder recorder;
    ASSERT_TRUE(recorder.Ok());
    recorder.GatherFor(Ms(200));
    ASSERT_EQ(recorder.FirstLoud(0), -1) << "the output was not silent before playing";

    CGeneratorPlayer player;
    const auto played = Clock::now();
    ASSERT_EQ(player.Play(kDefaultOutput, kRate, 4096, Sine(1000.0, -20.0, 1)), kCaptureOk);
    const long nStart = recorder.WaitForSound(Ms(2000));
    ASSERT_GE(nStart, 0) << "nothing arrived";
    const double dFirstSoundMs =
        std::chrono::duration<double, std::milli>(Clock::now() - played).count();
    const long nSteady = nStart + long(kRate) / 5;
    recorder.GatherUntil(nSteady + long(kRate) + 1, Ms(4000));
    ASSERT_GT(recorder.Frames(), nSteady + long(kRate));
    EXPECT_NEAR(recorder.LevelDbfs(nSteady, kRate, 0), -20.0, 0.2);
    EXPECT_LT(recorder.LevelDbfs(nSteady, kRate, 1), -90.0) << "the right channel sounded";
    EXPECT_NEAR(recorder.ToneHz(nSteady, kRate, 0), 1000.0, 0.1);
    const double dLatency = player.LatencySeconds();
    EXPECT_GT(dLatency, 0.0);
    EXPECT_LT(dLatency, 0.2);

    const long nRenderedAtStop = player.FramesRendered();
    player.Stop();
    EXPECT_EQ(PollWhile(player, CGeneratorPlayer::EState::Stopping, Ms(1000)),
              CGeneratorPlayer::EState::Stopped);
    const long nHeardAtStop = nStart + nRenderedAtStop - long(std::lround(dLatency * kRate));
    recorder.GatherUntil(nHeardAtStop + long(kRate) * 3 / 10, Ms(3000));
    const double dSilentAfterMs = 1000.0 * double(recorder.LastLoud() - nHeardAtStop) / kRate;
    EXPECT_LT(dSilentAfterMs, 100.0);
    EXPECT_GT(dSilentAfterMs, 40.0) << "the fade-out was cut short";
    std::printf("[ figures  ] latency %.1f ms, first sound %.1f ms after Play, silent %.1f ms "
                "after Stop, %lld underruns\n",
                1000.0 * dLatency, dFirstSoundMs, dSilentAfterMs, player.Underruns());
}

TEST_P(GeneratorPlayback, AnOutputThatIsNotThereIsSaidAndNothingPlays) {
    CGeneratorPlayer player;
    const SPlaybackOutput gone{SPlaybackOutput::EKind::Server, "vemra_unplugged", "Gone"};
    EXPECT_EQ(player.Play(gone, kRate, 4096, Sine(440.0, -20.0)), kCaptureErrNoDevice);
    EXPECT_EQ(player.State(), CGeneratorPlayer::EState::Stopped);
    EXPECT_EQ(player.FramesRendered(), 0);
}

// Killed or told to end, the server takes the stream with it: the player
// says so within a second, and ending it waits for nothing.
TEST_P(GeneratorPlayback, AServerThatGoesAwayFailsThePlayerQuickly) {
    for (const int nSignal : {SIGTERM, SIGKILL}) {
        if (!Server().IsRunning()) {
            ASSERT_TRUE(Server().Start()) << Server().Log();
        }
        CGeneratorPlayer player;
        ASSERT_EQ(player.Play(kDefaultOutput, kRate, 4096, Sine(440.0, -30.0)), kCaptureOk);
        std::this_thread::sleep_for(Ms(200));
        Server().Stop(nSignal);
        const auto stopped = Clock::now();
        EXPECT_EQ(PollWhile(player, CGeneratorPlayer::EState::Playing, Ms(3000)),
                  CGeneratorPlayer::EState::Failed)
            << nSignal;
        EXPECT_LT(Clock::now() - stopped, Ms(1000)) << nSignal;
        const auto ending = Clock::now();
        player.Shutdown();
        EXPECT_LT(Clock::now() - ending, Ms(200)) << nSignal;
    }
}
