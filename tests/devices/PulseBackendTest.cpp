// The native sound-server backend end to end, against a private PulseAudio
// server and a private PipeWire session: what it lists, what it records, and
// what happens when the server goes away under a running capture.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "devices/CaptureBuffer.h"
#include "devices/CaptureDevice.h"
#include "devices/CaptureDevices.h"
#include "devices/PortAudioDevice.h"
#include "devices/PulseCaptureDevice.h"
#include "tests/devices/OnEachServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

struct SListed {
    bool bPrimary;
    SCaptureGuid guid;
    std::string description;
    std::string module;
};

std::vector<SListed> Enumerate() {
    std::vector<SListed> listed;
    CaptureEnumerate(
        [](const SCaptureGuid* pGuid, const char* pszDescription, const char* pszModule,
           void* pContext) {
            SListed entry{pGuid == nullptr, pGuid ? *pGuid : SCaptureGuid{}, pszDescription,
                          pszModule};
            static_cast<std::vector<SListed>*>(pContext)->push_back(entry);
            return true;
        },
        &listed);
    return listed;
}

const SListed* Find(const std::vector<SListed>& listed, const std::string& description) {
    for (const SListed& entry : listed)
        if (entry.description == description)
            return &entry;
    return nullptr;
}

std::string Describe(const std::vector<SListed>& listed) {
    std::string text;
    for (const SListed& entry : listed)
        text += "  [" + entry.description + "] " + entry.module + "\n";
    return text;
}

SWaveFormat Format(uint32_t nRate) {
    return SWaveFormat{kWaveFormatPcm, 2, nRate, 4 * nRate, 4, 16, 0};
}

// A device and a started two-second ring on it; released at the end.
struct SCapture {
    ICaptureDevice* pDevice = nullptr;
    ICaptureBuffer* pBuffer = nullptr;
    SWaveFormat wfx{};
    uint32_t nBytes = 0;
    int nResult = kCaptureErrGeneric;

    SCapture(ICaptureDevice* pOpened, uint32_t nRate) : pDevice(pOpened), wfx(Format(nRate)) {
        if (!pDevice)
            return;
        nBytes = 2 * wfx.nAvgBytesPerSec;
        const SCaptureBufferDesc desc{kCaptureBufferDescSize, 0, nBytes, 0, &wfx, 0, nullptr};
        nResult = pDevice->CreateCaptureBuffer(&desc, &pBuffer);
        if (nResult == kCaptureOk)
            nResult = pBuffer->Start(kCaptureStartLooping);
    }
    ~SCapture() {
        if (pBuffer) {
            pBuffer->Stop();
            pBuffer->Release();
        }
        if (pDevice)
            pDevice->Release();
    }
    bool Ok() const { return nResult == kCaptureOk; }
};

ICaptureDevice* Create(const SCaptureGuid* pGuid) {
    ICaptureDevice* pDevice = nullptr;
    return CaptureCreate(pGuid, &pDevice) == kCaptureOk ? pDevice : nullptr;
}

// Interleaved stereo frames of sound, from the first loud frame on.
struct SSound {
    std::vector<int16_t> frames;
    int nLastResult = kCaptureOk;
    // Whether it runs without a break (see RunsWithoutABreak).
    bool bSteady = false;
    size_t Frames() const { return frames.size() / 2; }
};

// The rising zero crossings of one channel, each placed between its two
// samples by linear interpolation: far finer than a transform's bins.
std::vector<double> RisingCrossings(const SSound& sound, int nChannel) {
    std::vector<double> crossings;
    for (size_t i = 1; i < sound.Frames(); ++i) {
        const double x0 = sound.frames[2 * (i - 1) + nChannel];
        const double x1 = sound.frames[2 * i + nChannel];
        if (x0 < 0 && x1 >= 0)
            crossings.push_back(static_cast<double>(i - 1) + (-x0) / (x1 - x0));
    }
    return crossings;
}

double ZeroCrossingHz(const SSound& sound, int nChannel, uint32_t nRate) {
    const std::vector<double> crossings = RisingCrossings(sound, nChannel);
    if (crossings.size() < 2)
        return 0.0;
    return static_cast<double>(crossings.size() - 1) / (crossings.back() - crossings.front()) *
           nRate;
}

// Whether a tone in each channel runs without a break: its crossings come at
// steady intervals, none more than half a sample off the usual one. A server
// on a busy machine now and then drops a few milliseconds of sound or fills
// them with silence, and one such break would throw the frequency far off.
bool RunsWithoutABreak(const SSound& sound) {
    for (const int channel : {0, 1}) {
        const std::vector<double> crossings = RisingCrossings(sound, channel);
        if (crossings.size() < 3)
            return false;
        std::vector<double> intervals(crossings.size() - 1);
        for (size_t i = 0; i < intervals.size(); ++i)
            intervals[i] = crossings[i + 1] - crossings[i];
        std::vector<double> sorted = intervals;
        std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
        const double usual = sorted[sorted.size() / 2];
        for (const double interval : intervals)
            if (std::abs(interval - usual) > 0.5)
                return false;
    }
    return true;
}

// Follows the ring's read position, gathering every new frame, until nFrames
// frames of sound without a break have arrived or the deadline passes. The
// first 100 ms of sound are skipped (the player's start-up); a stretch with a
// break is passed over for one starting a tenth of a second later. Without a
// stretch that runs on, the last one looked at, bSteady false.
SSound CollectSound(ICaptureBuffer* pBuffer, uint32_t nRingBytes, uint32_t nRate, size_t nFrames,
                    uint32_t nTimeoutMs = 8000) {
    SSound sound;
    std::vector<int16_t> all;
    uint32_t last = 0;
    size_t start = SIZE_MAX;
    const auto deadline = Clock::now() + Ms(nTimeoutMs);
    while (Clock::now() < deadline) {
        uint32_t read = 0;
        sound.nLastResult = pBuffer->GetCurrentPosition(nullptr, &read);
        if (sound.nLastResult < 0)
            break;
        if (read != last) {
            const uint32_t bytes = (read + nRingBytes - last) % nRingBytes;
            void* p1 = nullptr;
            void* p2 = nullptr;
            uint32_t n1 = 0;
            uint32_t n2 = 0;
            if (pBuffer->Lock(last, bytes, &p1, &n1, &p2, &n2, 0) == kCaptureOk) {
                const auto* s1 = static_cast<const int16_t*>(p1);
                const auto* s2 = static_cast<const int16_t*>(p2);
                all.insert(all.end(), s1, s1 + n1 / 2);
                if (s2)
                    all.insert(all.end(), s2, s2 + n2 / 2);
                pBuffer->Unlock(p1, n1, p2, n2);
                last = read;
            }
        }
        for (size_t i = 0; start == SIZE_MAX && i < all.size(); ++i)
            if (std::abs(all[i]) > 2000)
                start = i / 2 * 2 + 2 * size_t{nRate / 10};
        for (; start != SIZE_MAX && all.size() >= start + 2 * nFrames;
             start += 2 * size_t{nRate / 10}) {
            sound.frames.assign(all.begin() + static_cast<std::ptrdiff_t>(start),
                                all.begin() + static_cast<std::ptrdiff_t>(start + 2 * nFrames));
            sound.bSteady = RunsWithoutABreak(sound);
            if (sound.bSteady)
                return sound;
        }
        std::this_thread::sleep_for(Ms(20));
    }
    return sound;
}

int PeakLevel(const SSound& sound, int nChannel) {
    int peak = 0;
    for (size_t i = 0; i < sound.Frames(); ++i)
        peak = std::max(peak, std::abs(static_cast<int>(sound.frames[2 * i + nChannel])));
    return peak;
}

// The tone arrived: at its frequency, near the level it was played at (16000).
void ExpectTone(const SSound& sound, int nChannel, double dHz, uint32_t nRate) {
    ASSERT_GT(sound.Frames(), 0u) << "no sound arrived; last result " << sound.nLastResult;
    EXPECT_TRUE(sound.bSteady) << "no stretch of sound ran without a break";
    EXPECT_NEAR(ZeroCrossingHz(sound, nChannel, nRate), dHz, 0.1) << "channel " << nChannel;
    EXPECT_NEAR(PeakLevel(sound, nChannel), 16000, 1600) << "channel " << nChannel;
}

// Half a second of the newest sound of a started capture.
SSound Record(SCapture& capture, uint32_t nRate) {
    return CollectSound(capture.pBuffer, capture.nBytes, nRate, nRate / 2);
}

const SListed& Listed(const std::vector<SListed>& listed, const std::string& description) {
    const SListed* pEntry = Find(listed, description);
    EXPECT_NE(pEntry, nullptr) << description << " is not listed:\n" << Describe(listed);
    static const SListed s_none{};
    return pEntry ? *pEntry : s_none;
}

using PulseBackend = OnEachServer<>;

const std::string kMonitor = std::string("Monitor of ") + CPrivateSoundServer::kSinkDescription;
const std::string kOtherMonitor =
    std::string("Monitor of ") + CPrivateSoundServer::kOtherSinkDescription;

} // namespace

INSTANTIATE_TEST_SUITE_P(OnEachServer, PulseBackend, ::testing::Combine(kEachServer),
                         SServerName());

TEST_P(PulseBackend, ListsTheServersSourcesWithTheDefaultSourceFirstAfterThePrimary) {
    const std::vector<SListed> listed = Enumerate();
    // The primary device, the microphone, two monitors and the built-in signal at least.
    ASSERT_GE(listed.size(), 5u) << Describe(listed);
    EXPECT_TRUE(listed[0].bPrimary);
    EXPECT_EQ(listed[0].description,
              std::string("Primary capture device (") + CPrivateSoundServer::kMicDescription + ")");
    EXPECT_EQ(listed[1].description, CPrivateSoundServer::kMicDescription) << Describe(listed);
    EXPECT_TRUE(CPulseCaptureDevice::IsGuid(listed[1].guid));
    // The server names itself: this is the server the test meant to reach.
    EXPECT_EQ(listed[1].module.find("PipeWire") != std::string::npos,
              ServerKind() == ESoundServer::PipeWire)
        << listed[1].module;
    // What the desktop plays comes next: the default output's monitor.
    EXPECT_EQ(listed[2].description, kMonitor) << Describe(listed);
    EXPECT_TRUE(CPulseCaptureDevice::IsGuid(Listed(listed, kOtherMonitor).guid));
    EXPECT_EQ(listed.back().description, "Test signal (built-in)");
    for (size_t i = 1; i < listed.size(); ++i)
        for (size_t j = i + 1; j < listed.size(); ++j)
            EXPECT_NE(std::memcmp(listed[i].guid.bytes, listed[j].guid.bytes, 16), 0)
                << listed[i].description << " and " << listed[j].description;
}

TEST_P(PulseBackend, LeavesOutPortAudioDevicesThatOnlyRouteToTheServer) {
    std::vector<std::string> portAudio;
    for (const CPortAudioDevice::SInput& input : CPortAudioDevice::ListInputs())
        portAudio.push_back(input.description);
    // PortAudio itself does offer them: the server is reachable through ALSA.
    ASSERT_NE(std::find(portAudio.begin(), portAudio.end(), "pulse (ALSA)"), portAudio.end());
    ASSERT_NE(std::find(portAudio.begin(), portAudio.end(), "default (ALSA)"), portAudio.end());

    const std::vector<SListed> listed = Enumerate();
    for (const SListed& entry : listed) {
        EXPECT_FALSE(CPulseCaptureDevice::RoutesToServer(entry.description, entry.module))
            << entry.description;
        EXPECT_NE(entry.description, "pulse (ALSA)");
        EXPECT_NE(entry.description, "default (ALSA)");
    }
    // Everything else PortAudio offers stays.
    for (const CPortAudioDevice::SInput& input : CPortAudioDevice::ListInputs())
        if (!CPulseCaptureDevice::RoutesToServer(input.description, input.module)) {
            EXPECT_NE(Find(listed, input.description), nullptr) << input.description;
        }
}

TEST_P(PulseBackend, EachIdentifierRecordsItsOwnSource) {
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 440, 440));
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kOtherSink, 1000, 1000));
    const std::vector<SListed> listed = Enumerate();
    const SListed& other = Listed(listed, kOtherMonitor);
    const SListed& monitor = Listed(listed, kMonitor);
    SCapture otherCapture(Create(&other.guid), 44100);
    SCapture monitorCapture(Create(&monitor.guid), 44100);
    ASSERT_TRUE(otherCapture.Ok()) << otherCapture.nResult;
    ASSERT_TRUE(monitorCapture.Ok()) << monitorCapture.nResult;
    ExpectTone(Record(otherCapture, 44100), 0, 1000, 44100);
    ExpectTone(Record(monitorCapture, 44100), 0, 440, 44100);
}

TEST_P(PulseBackend, AnIdentifierOfAnUnknownSourceOpensNothing) {
    const SCaptureGuid gone = CPulseCaptureDevice::GuidOf("no_such_source");
    ICaptureDevice* pDevice = reinterpret_cast<ICaptureDevice*>(this);
    EXPECT_EQ(CaptureCreate(&gone, &pDevice), kCaptureErrNoDevice);
    EXPECT_EQ(pDevice, nullptr);
}

// A tone played into the null sink, recorded through the primary device (the
// server's default source) and through the sink's monitor, at several rates.
struct STone {
    double dHz;
    uint32_t nRate;
};

class PulseTone : public OnEachServer<STone> {};

TEST_P(PulseTone, ArrivesThroughThePrimaryDeviceAndTheMonitor) {
    const STone tone = TestCase();
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, tone.dHz, tone.dHz));
    {
        SCapture primary(Create(nullptr), tone.nRate);
        ASSERT_TRUE(primary.Ok()) << primary.nResult;
        const SSound sound = Record(primary, tone.nRate);
        ExpectTone(sound, 0, tone.dHz, tone.nRate);
        ExpectTone(sound, 1, tone.dHz, tone.nRate);
    }
    const SListed& monitor = Listed(Enumerate(), kMonitor);
    SCapture capture(Create(&monitor.guid), tone.nRate);
    ASSERT_TRUE(capture.Ok()) << capture.nResult;
    ExpectTone(Record(capture, tone.nRate), 0, tone.dHz, tone.nRate);
}

INSTANTIATE_TEST_SUITE_P(TonesAndRates, PulseTone,
                         ::testing::Combine(kEachServer,
                                            ::testing::Values(STone{440, 44100}, STone{1000, 44100},
                                                              STone{440, 48000}, STone{1000, 48000},
                                                              STone{440, 8000}, STone{1000, 8000})),
                         SServerToneName());

TEST_P(PulseBackend, TwoTonesKeepTheirChannels) {
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 440, 1000));
    const SListed& monitor = Listed(Enumerate(), kMonitor);
    SCapture capture(Create(&monitor.guid), 22050);
    ASSERT_TRUE(capture.Ok()) << capture.nResult;
    const SSound sound = Record(capture, 22050);
    ExpectTone(sound, 0, 440, 22050);
    ExpectTone(sound, 1, 1000, 22050);
}

TEST_P(PulseBackend, ToneArrivesThroughPortAudiosPulseDevice) {
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 1000, 440));
    const SCaptureGuid* pGuid = nullptr;
    const std::vector<CPortAudioDevice::SInput> inputs = CPortAudioDevice::ListInputs();
    for (const CPortAudioDevice::SInput& input : inputs)
        if (input.description == "pulse (ALSA)")
            pGuid = &input.guid;
    ASSERT_NE(pGuid, nullptr);
    SCapture capture(Create(pGuid), 44100);
    ASSERT_TRUE(capture.Ok()) << capture.nResult;
    const SSound sound = Record(capture, 44100);
    ExpectTone(sound, 0, 1000, 44100);
    ExpectTone(sound, 1, 440, 44100);
}

TEST_P(PulseBackend, StopAndStartAgainGoesOnRecording) {
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 440, 440));
    SCapture capture(Create(nullptr), 8000);
    ASSERT_TRUE(capture.Ok()) << capture.nResult;
    ExpectTone(Record(capture, 8000), 0, 440, 8000);
    ASSERT_EQ(capture.pBuffer->Stop(), kCaptureOk);
    uint32_t stoppedAt = 0;
    ASSERT_EQ(capture.pBuffer->GetCurrentPosition(nullptr, &stoppedAt), kCaptureOk);
    std::this_thread::sleep_for(Ms(200));
    uint32_t later = 0;
    ASSERT_EQ(capture.pBuffer->GetCurrentPosition(nullptr, &later), kCaptureOk);
    EXPECT_EQ(later, stoppedAt) << "a stopped buffer went on filling";

    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 1000, 1000));
    ASSERT_EQ(capture.pBuffer->Start(kCaptureStartLooping), kCaptureOk);
    // The ring still holds the 440 Hz tone: wait for the new one.
    const auto deadline = Clock::now() + Ms(5000);
    double hz = 0.0;
    while (Clock::now() < deadline && std::abs(hz - 1000) > 0.1)
        hz = ZeroCrossingHz(CollectSound(capture.pBuffer, capture.nBytes, 8000, 2000, 2000), 0,
                            8000);
    EXPECT_NEAR(hz, 1000, 0.1);
}

// A chosen source that goes away (a USB microphone unplugged) fails its
// capture instead of quietly recording something else.
TEST_P(PulseBackend, ASourceThatGoesAwayFailsItsCapture) {
    const int module = Server().LoadModule(
        "module-null-sink sink_name=vemra_usb sink_properties=device.description=Vemra-USB");
    ASSERT_GE(module, 0);
    const SListed& usb = Listed(Enumerate(), "Monitor of Vemra-USB");
    SCapture capture(Create(&usb.guid), 44100);
    ASSERT_TRUE(capture.Ok()) << capture.nResult;
    ASSERT_EQ(capture.pBuffer->GetCurrentPosition(nullptr, nullptr), kCaptureOk);

    ASSERT_TRUE(Server().UnloadModule(module));
    const auto unplugged = Clock::now();
    int result = kCaptureOk;
    while (result >= 0 && Clock::now() - unplugged < Ms(3000)) {
        result = capture.pBuffer->GetCurrentPosition(nullptr, nullptr);
        std::this_thread::sleep_for(Ms(5));
    }
    EXPECT_LT(result, 0);
    EXPECT_LT(Clock::now() - unplugged, Ms(1000));
    // Its identifier opens nothing now.
    ICaptureDevice* pDevice = nullptr;
    EXPECT_EQ(CaptureCreate(&usb.guid, &pDevice), kCaptureErrNoDevice);
}

// The server goes away in the middle of a capture, politely or not.
class PulseServerLoss : public OnEachServer<int> {};

TEST_P(PulseServerLoss, FailsTheBufferQuicklyAndANewDeviceWorksOnceItIsBack) {
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 440, 440));
    {
        SCapture capture(Create(nullptr), 44100);
        ASSERT_TRUE(capture.Ok()) << capture.nResult;
        ExpectTone(Record(capture, 44100), 0, 440, 44100);

        Server().Stop(TestCase());
        const auto stopped = Clock::now();
        int result = kCaptureOk;
        while (result >= 0 && Clock::now() - stopped < Ms(3000)) {
            result = capture.pBuffer->GetCurrentPosition(nullptr, nullptr);
            std::this_thread::sleep_for(Ms(5));
        }
        EXPECT_LT(result, 0);
        EXPECT_LT(Clock::now() - stopped, Ms(1000));
        // And stays failed.
        EXPECT_LT(capture.pBuffer->GetCurrentPosition(nullptr, nullptr), 0);
        const auto releasing = Clock::now();
        capture.pBuffer->Stop();
        capture.pBuffer->Release();
        capture.pBuffer = nullptr;
        EXPECT_LT(Clock::now() - releasing, Ms(1000));
    }
    // Without a server the primary device is no longer the server's.
    for (const SListed& entry : Enumerate())
        EXPECT_FALSE(CPulseCaptureDevice::IsGuid(entry.guid)) << entry.description;
    ICaptureDevice* pDevice = nullptr;
    ASSERT_EQ(CaptureCreate(nullptr, &pDevice), kCaptureOk);
    pDevice->Release();

    ASSERT_TRUE(Server().Start()) << Server().Log();
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 1000, 1000));
    SCapture again(Create(nullptr), 44100);
    ASSERT_TRUE(again.Ok()) << again.nResult;
    ExpectTone(Record(again, 44100), 0, 1000, 44100);
}

INSTANTIATE_TEST_SUITE_P(Signals, PulseServerLoss,
                         ::testing::Combine(kEachServer, ::testing::Values(SIGTERM, SIGKILL)),
                         [](const auto& info) {
                             return SServerName()(info) + (std::get<1>(info.param) == SIGKILL
                                                               ? "_Killed"
                                                               : "_Terminated");
                         });

TEST_P(PulseBackend, AServerThatHangsFailsTheCaptureAndIsNotWaitedFor) {
    ASSERT_TRUE(Server().PlayTone(CPrivateSoundServer::kSink, 440, 440));
    SCapture capture(Create(nullptr), 8000);
    ASSERT_TRUE(capture.Ok()) << capture.nResult;
    ExpectTone(Record(capture, 8000), 0, 440, 8000);

    Server().Pause();
    const auto paused = Clock::now();
    int result = kCaptureOk;
    while (result >= 0 && Clock::now() - paused < Ms(6000)) {
        result = capture.pBuffer->GetCurrentPosition(nullptr, nullptr);
        std::this_thread::sleep_for(Ms(20));
    }
    EXPECT_LT(result, 0);
    // Asking the frozen server for its sources gives up after the short timeout.
    const auto listing = Clock::now();
    CPulseCaptureDevice::SServer server;
    EXPECT_EQ(CPulseCaptureDevice::ListSources(&server),
              CPulseCaptureDevice::EServer::NotAnswering);
    EXPECT_TRUE(server.sources.empty());
    EXPECT_LT(Clock::now() - listing, Ms(3000));
    // Opening says why, and within the second the user interface may wait.
    ICaptureDevice* pDevice = nullptr;
    const auto opening = Clock::now();
    EXPECT_EQ(CPulseCaptureDevice::Open(nullptr, &pDevice), kCaptureErrServerHung);
    EXPECT_EQ(CaptureCreate(nullptr, &pDevice), kCaptureErrServerHung);
    EXPECT_LT(Clock::now() - opening, Ms(2 * CPulseCaptureDevice::kOpenBudgetMs + 400));
    // Letting go of the capture does not wait for the frozen server either.
    const auto releasing = Clock::now();
    capture.pBuffer->Stop();
    capture.pBuffer->Release();
    capture.pBuffer = nullptr;
    EXPECT_LT(Clock::now() - releasing, Ms(1000));
    Server().Resume();
}

// No server at all: the list is what it was before the backend existed.
TEST(PulseBackendWithoutServer, ListsNoSourcesAndOpensThePrimaryDeviceElsewhere) {
    CPrivatePulseServer unstarted;
    ASSERT_TRUE(unstarted.HasFolder());
    CPulseCaptureDevice::SServer server;
    EXPECT_EQ(CPulseCaptureDevice::ListSources(&server), CPulseCaptureDevice::EServer::Absent);
    EXPECT_TRUE(server.sources.empty());
    const std::vector<SListed> listed = Enumerate();
    ASSERT_FALSE(listed.empty());
    EXPECT_TRUE(listed[0].bPrimary);
    for (const SListed& entry : listed)
        EXPECT_FALSE(CPulseCaptureDevice::IsGuid(entry.guid)) << entry.description;
    ICaptureDevice* pDevice = nullptr;
    ASSERT_EQ(CaptureCreate(nullptr, &pDevice), kCaptureOk);
    pDevice->Release();
    const SCaptureGuid guid = CPulseCaptureDevice::GuidOf(CPrivateSoundServer::kMic);
    pDevice = nullptr;
    EXPECT_EQ(CaptureCreate(&guid, &pDevice), kCaptureErrNoServer);
    EXPECT_EQ(pDevice, nullptr);
}
