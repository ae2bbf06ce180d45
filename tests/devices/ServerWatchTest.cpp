// The device list following a real sound server: sources that come and go,
// the default source moving, the server restarting, and a server that froze
// before the program started.

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "devices/CaptureDevices.h"
#include "devices/DeviceWatcher.h"
#include "devices/PortAudioDevice.h"
#include "devices/PulseCaptureDevice.h"
#include "tests/devices/ChildProcesses.h"
#include "tests/devices/ListRecorder.h"
#include "tests/devices/OnEachServer.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;
using Devices = CListRecorder::Devices;

const std::string kMic = CPrivateSoundServer::kMicDescription;
const std::string kUsbMonitor = "Monitor of Vemra-USB";

bool HasServerSources(const Devices& devices) {
    for (const SCaptureDeviceEntry& device : devices)
        if (!device.bPrimary && CPulseCaptureDevice::IsGuid(device.guid))
            return true;
    return false;
}

class ServerWatch : public OnEachServer<> {
protected:
    // A watcher whose first list, with the server's sources, has come.
    void StartWatching() {
        m_pWatcher =
            std::make_unique<CDeviceWatcher>(&CaptureEnumerate, m_recorder.Listener(), true);
        ASSERT_TRUE(
            m_recorder.WaitFor([](const Devices& d) { return CListRecorder::Has(d, kMic); }, 5000));
        const auto deadline = Clock::now() + Ms(3000);
        while (!m_pWatcher->IsFollowingServer() && Clock::now() < deadline)
            std::this_thread::sleep_for(Ms(10));
        ASSERT_TRUE(m_pWatcher->IsFollowingServer());
    }
    // Makes a change on the server, then waits up to a second from its end (the
    // promise to the user) for a list that shows it; a list that came while
    // the change was being made counts too.
    bool ListedWithin1s(const std::function<void()>& fnChange,
                        const std::function<bool(const Devices&)>& bWanted,
                        Devices* pFound = nullptr, Ms* pTook = nullptr) {
        const size_t from = m_recorder.Count();
        fnChange();
        const auto changed = Clock::now();
        const bool bCame = m_recorder.WaitFor(bWanted, 1000, from, pFound);
        if (pTook)
            *pTook = std::chrono::duration_cast<Ms>(Clock::now() - changed);
        return bCame;
    }

    CListRecorder m_recorder;
    std::unique_ptr<CDeviceWatcher> m_pWatcher;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(OnEachServer, ServerWatch, ::testing::Combine(kEachServer), SServerName());

TEST_P(ServerWatch, ASourceThatComesAndGoesIsListedWithinASecond) {
    StartWatching();
    int module = -1;
    Ms took{};
    EXPECT_TRUE(ListedWithin1s(
        [&] {
            module = Server().LoadModule("module-null-sink sink_name=vemra_usb "
                                         "sink_properties=device.description=Vemra-USB");
        },
        [](const Devices& d) { return CListRecorder::Has(d, kUsbMonitor); }, nullptr, &took))
        << CListRecorder::Describe(m_recorder.Last());
    ASSERT_GE(module, 0);
    std::printf("a new source was in the list %lld ms after the command that made it returned\n",
                static_cast<long long>(took.count()));

    EXPECT_TRUE(
        ListedWithin1s([&] { EXPECT_TRUE(Server().UnloadModule(module)); },
                       [](const Devices& d) { return !CListRecorder::Has(d, kUsbMonitor); }))
        << CListRecorder::Describe(m_recorder.Last());
}

TEST_P(ServerWatch, ThePrimaryEntryFollowsTheDefaultSource) {
    StartWatching();
    const std::string monitor = std::string("Monitor of ") + CPrivateSoundServer::kSinkDescription;
    Devices devices;
    EXPECT_TRUE(ListedWithin1s(
        [] {
            const char* argv[] = {"pactl", "set-default-source", "vemra_sink.monitor", nullptr};
            EXPECT_EQ(RunQuietly(argv), 0);
        },
        [&](const Devices& d) {
            return !d.empty() && d[0].description == "Primary capture device (" + monitor + ")";
        },
        &devices))
        << CListRecorder::Describe(m_recorder.Last());
    // The new default comes first after the primary entry.
    ASSERT_GE(devices.size(), 2u);
    EXPECT_EQ(devices[1].description, monitor);
}

// The server goes away: its sources leave the list at once; the watcher finds
// it again by itself when it is back, and lists its sources again.
TEST_P(ServerWatch, AServerThatRestartsIsFoundAgain) {
    StartWatching();
    EXPECT_TRUE(ListedWithin1s([&] { Server().Stop(); },
                               [](const Devices& d) { return !HasServerSources(d); }))
        << CListRecorder::Describe(m_recorder.Last());
    const auto deadline = Clock::now() + Ms(1000);
    while (m_pWatcher->IsFollowingServer() && Clock::now() < deadline)
        std::this_thread::sleep_for(Ms(10));
    EXPECT_FALSE(m_pWatcher->IsFollowingServer());

    std::this_thread::sleep_for(Ms(1000));
    ASSERT_TRUE(Server().Start()) << Server().Log();
    const size_t from = m_recorder.Count();
    EXPECT_TRUE(m_recorder.WaitFor([](const Devices& d) { return CListRecorder::Has(d, kMic); },
                                   CDeviceWatcher::kLongestRetryMs + 2000, from))
        << CListRecorder::Describe(m_recorder.Last());
    EXPECT_TRUE(m_pWatcher->IsFollowingServer());
}

// A server frozen before the program starts: the first list comes within the
// server probe's timeouts, without the server's sources and without probing
// ALSA's routes to it, each of which would wait half a minute; and the owner
// can leave while the watcher still waits on the server.
TEST_P(ServerWatch, AFrozenServerHoldsUpNeitherTheOwnerNorTheList) {
    Server().Pause();
    const auto start = Clock::now();
    auto pWatcher =
        std::make_unique<CDeviceWatcher>(&CaptureEnumerate, m_recorder.Listener(), true);
    EXPECT_LT(Clock::now() - start, Ms(100));
    Devices devices;
    ASSERT_TRUE(m_recorder.WaitFor([](const Devices&) { return true; }, 6000, 0, &devices));
    std::printf(
        "first list with a frozen server after %lld ms\n",
        static_cast<long long>(std::chrono::duration_cast<Ms>(Clock::now() - start).count()));
    EXPECT_FALSE(HasServerSources(devices)) << CListRecorder::Describe(devices);
    for (const SCaptureDeviceEntry& device : devices)
        EXPECT_FALSE(CPulseCaptureDevice::RoutesToServer(device.description, device.module))
            << device.description;
    const auto leaving = Clock::now();
    pWatcher.reset();
    EXPECT_LT(Clock::now() - leaving, Ms(CDeviceWatcher::kStopWaitMs + 200));

    // Thawed, the server is listed again, and ALSA's routes to it are probed again.
    Server().Resume();
    CListRecorder again;
    CDeviceWatcher watcher(&CaptureEnumerate, again.Listener(), false);
    ASSERT_TRUE(again.WaitFor([](const Devices&) { return true; }, 5000, 0, &devices));
    EXPECT_TRUE(CListRecorder::Has(devices, kMic)) << CListRecorder::Describe(devices);
    bool bRoutes = false;
    for (const CPortAudioDevice::SInput& input : CPortAudioDevice::ListInputs())
        bRoutes = bRoutes || input.description == "pulse (ALSA)";
    EXPECT_TRUE(bRoutes);
}
