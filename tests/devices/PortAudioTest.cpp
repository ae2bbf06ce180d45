// The PortAudio backend against ALSA's null devices, which need no sound card:
// the program gives ALSA a configuration of its own (through HOME) before
// PortAudio first looks at it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "capture/CaptureEngine.h"
#include "devices/CaptureBuffer.h"
#include "devices/CaptureDevice.h"
#include "devices/CaptureDevices.h"
#include "devices/PortAudioSession.h"
#include "devices/generator/GeneratorPlayer.h"
#include "platform/Clock.h"
#include "tests/capture/RecordingEngineView.h"

namespace {

struct SListedDevice {
    bool bHasGuid;
    SCaptureGuid guid;
    std::string description;
};

bool Collect(const SCaptureGuid* pGuid, const char* pszDescription, const char*, void* pContext) {
    static_cast<std::vector<SListedDevice>*>(pContext)->push_back(
        SListedDevice{pGuid != nullptr, pGuid ? *pGuid : SCaptureGuid{}, pszDescription});
    return true;
}

std::vector<SListedDevice> ListDevices() {
    std::vector<SListedDevice> devices;
    EXPECT_EQ(CaptureEnumerate(Collect, &devices), 0);
    return devices;
}

int IndexOf(const std::vector<SListedDevice>& devices, const std::string& description) {
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].description == description)
            return static_cast<int>(i);
    return -1;
}

SCaptureGuid GuidOf(const std::string& description) {
    const std::vector<SListedDevice> devices = ListDevices();
    const int i = IndexOf(devices, description);
    EXPECT_GE(i, 0) << description;
    return i >= 0 ? devices[static_cast<size_t>(i)].guid : SCaptureGuid{};
}

} // namespace

TEST(PortAudioDevices, ListsEveryInputWithItsHostApiBeforeTheTestSignal) {
    const std::vector<SListedDevice> devices = ListDevices();
    ASSERT_GE(devices.size(), 4u);
    EXPECT_EQ(devices.front().description, "Primary capture device (default (ALSA))");
    EXPECT_GE(IndexOf(devices, "vemranull (ALSA)"), 1);
    EXPECT_EQ(devices.back().description, "Test signal (built-in)");
}

TEST(PortAudioDevices, TheDefaultDeviceComesFirstAfterThePrimary) {
    const std::vector<SListedDevice> devices = ListDevices();
    EXPECT_EQ(IndexOf(devices, "default (ALSA)"), 1);
}

TEST(PortAudioDevices, IdentifiersStayTheSameFromOneListingToTheNext) {
    const SCaptureGuid first = GuidOf("vemranull (ALSA)");
    const SCaptureGuid second = GuidOf("vemranull (ALSA)");
    EXPECT_EQ(std::memcmp(first.bytes, second.bytes, 16), 0);
    EXPECT_NE(std::memcmp(first.bytes, GuidOf("default (ALSA)").bytes, 16), 0);
}

TEST(PortAudioDevices, AnIdentifierOfADeviceThatIsGoneFails) {
    SCaptureGuid guid = GuidOf("vemranull (ALSA)");
    guid.bytes[6] ^= 0x5A;
    ICaptureDevice* pCapture = nullptr;
    EXPECT_LT(CaptureCreate(&guid, &pCapture), 0);
    EXPECT_EQ(pCapture, nullptr);
}

// The sound libraries say nothing on standard error while the devices are
// probed, again and again; what another thread writes meanwhile gets through.
TEST(PortAudioDevices, ProbingSaysNothingOnStandardError) {
    std::fflush(stderr);
    char path[] = "/tmp/vemra-stderr-XXXXXX";
    const int file = mkstemp(path);
    ASSERT_GE(file, 0);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    std::atomic<bool> bDone{false};
    size_t nWritten = 0;
    std::thread other([&] {
        for (; !bDone; ++nWritten) {
            EXPECT_EQ(write(STDERR_FILENO, "w", 1), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    for (int i = 0; i < 3; ++i) {
        CaptureRescan();
        ListDevices();
    }
    const std::vector<SListedDevice> devices = ListDevices();
    ICaptureDevice* pCapture = nullptr;
    const int created = CaptureCreate(nullptr, &pCapture);
    if (pCapture)
        pCapture->Release();
    bDone = true;
    other.join();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    std::string text(static_cast<size_t>(lseek(file, 0, SEEK_END)), '\0');
    EXPECT_EQ(pread(file, text.data(), text.size(), 0), static_cast<ssize_t>(text.size()));
    close(file);
    unlink(path);
    EXPECT_EQ(created, 0);
    EXPECT_GE(devices.size(), 2u);
    EXPECT_EQ(text, std::string(nWritten, 'w')) << "the sound libraries wrote to the terminal";
}

// Opening, as the user interface does, keeps to the devices as last probed,
// however stale: it never probes; the next listing, off that thread, does.
TEST(PortAudioDevices, AStreamOpensFromTheLastProbeAndFillsTheRing) {
    const SCaptureGuid guid = GuidOf("vemranull (ALSA)");
    std::weak_ptr<CPortAudioSession> listed;
    {
        std::lock_guard lock(CPortAudioSession::Lock());
        listed = CPortAudioSession::Probed();
    }
    CaptureRescan();
    ICaptureDevice* pCapture = nullptr;
    ASSERT_EQ(CaptureCreate(&guid, &pCapture), 0);
    const SWaveFormat wfx{1, 2, 22050, 88200, 4, 16, 0};
    const SCaptureBufferDesc desc{28, 0, 176400, 0, &wfx, 0, nullptr};
    ICaptureBuffer* pBuffer = nullptr;
    ASSERT_EQ(pCapture->CreateCaptureBuffer(&desc, &pBuffer), 0);
    uint32_t before = 1;
    ASSERT_EQ(pBuffer->GetCurrentPosition(nullptr, &before), 0);
    EXPECT_EQ(before, 0u);
    ASSERT_EQ(pBuffer->Start(kCaptureStartLooping), 0);
    uint32_t read = 0;
    const uint32_t start = TimeGetTime();
    while (read == 0 && TimeGetTime() - start < 3000) {
        SleepMs(10);
        ASSERT_EQ(pBuffer->GetCurrentPosition(nullptr, &read), 0);
    }
    EXPECT_NE(read, 0u);
    EXPECT_EQ(read % 4, 0u);
    EXPECT_LT(read, 176400u);
    EXPECT_EQ(pBuffer->Stop(), 0);
    EXPECT_EQ(pBuffer->Release(), 0u);
    EXPECT_EQ(pCapture->Release(), 0u);
    EXPECT_FALSE(listed.expired());
    ListDevices();
    EXPECT_TRUE(listed.expired());
}

TEST(PortAudioDevices, AnEngineRunsOnARealDevice) {
    const SCaptureGuid guid = GuidOf("vemranull (ALSA)");
    CRecordingEngineView view;
    CCaptureEngine engine;
    engine.m_pView = &view;
    engine.m_nSampleRate = 8000;
    engine.m_nFftSize = 1024;
    engine.m_nLengthMs = 128;
    ASSERT_EQ(engine.Open(&guid), 1);
    ASSERT_EQ(engine.Start(), 1);
    const uint32_t start = TimeGetTime();
    while (view.m_nPasses.load() < 3 && TimeGetTime() - start < 5000)
        SleepMs(5);
    engine.m_bStopCycle = 1;
    engine.m_nPassCount = 20000;
    EXPECT_EQ(engine.Stop(), 0);
    EXPECT_GE(view.m_nPasses.load(), 3);
}

// Without a sound server the generator plays through PortAudio: its outputs
// are the last probe's, the default first, and a stream on one renders until
// Stop has faded it out.
TEST(PortAudioDevices, TheGeneratorPlaysOnAnOutputOfTheLastProbe) {
    ListDevices();
    const std::vector<SPlaybackOutput> outputs = CGeneratorPlayer::ListOutputs();
    ASSERT_GE(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].description, "default (ALSA)");
    const auto null = std::find_if(outputs.begin(), outputs.end(), [](const SPlaybackOutput& o) {
        return o.description == "vemranull (ALSA)";
    });
    ASSERT_NE(null, outputs.end());
    EXPECT_EQ(null->eKind, SPlaybackOutput::EKind::PortAudio);

    CGeneratorPlayer player;
    SGeneratorSettings settings;
    settings.eSignal = ESignal::Sine;
    ASSERT_EQ(player.Play(*null, 48000, 4096, settings), kCaptureOk);
    const uint32_t start = TimeGetTime();
    while (player.FramesRendered() < 4800 && TimeGetTime() - start < 2000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_GE(player.FramesRendered(), 4800);
    EXPECT_GT(player.LatencySeconds(), 0.0);
    player.Stop();
    while (player.Poll() == CGeneratorPlayer::EState::Stopping && TimeGetTime() - start < 4000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(player.State(), CGeneratorPlayer::EState::Stopped);

    const SPlaybackOutput gone{SPlaybackOutput::EKind::PortAudio, "ALSA\tunplugged", "Gone"};
    EXPECT_EQ(player.Play(gone, 48000, 4096, settings), kCaptureErrNoDevice);
}

int main(int argc, char** argv) {
    // ALSA reads ~/.asoundrc: null devices, one of them the default.
    char home[] = "/tmp/vemra-alsa-XXXXXX";
    if (!mkdtemp(home))
        return 1;
    const std::string rc = std::string(home) + "/.asoundrc";
    if (FILE* f = std::fopen(rc.c_str(), "w")) {
        std::fputs("pcm.!default { type null }\n"
                   "pcm.vemranull { type null hint { show on description \"Null\" } }\n",
                   f);
        std::fclose(f);
    }
    setenv("HOME", home, 1);
    // ALSA's JACK device names its client after the program, and says on the
    // terminal when the name is too long for JACK: "vemra2" is short enough.
    program_invocation_short_name = const_cast<char*>("vemra2-test");
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    unlink(rc.c_str());
    rmdir(home);
    return result;
}
