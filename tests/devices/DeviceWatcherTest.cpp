// The device watcher without a sound server: it lists on its own thread, lists
// again when asked, never keeps its owner waiting, and looks for a server
// that is not there at a pace that backs off.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

#include "devices/DeviceWatcher.h"
#include "devices/TestSignalDevice.h"
#include "tests/devices/ListRecorder.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

std::atomic<int> g_nListings{0};

int TwoDevices(CaptureEnumCallback pfnCallback, void* pContext) {
    ++g_nListings;
    SCaptureGuid mic{};
    mic.bytes[0] = 0xC0;
    const SCaptureGuid builtIn = CTestSignalDevice::Guid();
    pfnCallback(nullptr, "Primary capture device (Mic)", "", pContext);
    pfnCallback(&mic, "Mic", "scripted", pContext);
    pfnCallback(&builtIn, CTestSignalDevice::kDescription, CTestSignalDevice::kModule, pContext);
    return 0;
}

// An enumeration that waits for the test: a sound system that does not answer.
struct SHold {
    std::mutex lock;
    std::condition_variable released;
    bool bReleased = false;
    std::atomic<bool> bEntered{false};
};
SHold* g_pHold = nullptr;

int HeldUp(CaptureEnumCallback pfnCallback, void* pContext) {
    SHold* pHold = g_pHold;
    pHold->bEntered = true;
    {
        std::unique_lock guard(pHold->lock);
        pHold->released.wait(guard, [pHold] { return pHold->bReleased; });
    }
    return TwoDevices(pfnCallback, pContext);
}

class DeviceWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_nListings = 0;
        // Nothing answers here, whatever this machine runs.
        setenv("PULSE_SERVER", "unix:/nonexistent/vemra/native", 1);
    }
    CListRecorder m_recorder;
};

} // namespace

TEST_F(DeviceWatcherTest, ListsAtOnceAndAgainWhenAsked) {
    CDeviceWatcher watcher(&TwoDevices, m_recorder.Listener(), false);
    CListRecorder::Devices devices;
    ASSERT_TRUE(m_recorder.WaitFor([](const auto&) { return true; }, 2000, 0, &devices));
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_TRUE(devices[0].bPrimary);
    EXPECT_EQ(devices[0].description, "Primary capture device (Mic)");
    EXPECT_FALSE(devices[1].bPrimary);
    EXPECT_EQ(devices[1].guid.bytes[0], 0xC0);
    EXPECT_EQ(devices[2].description, CTestSignalDevice::kDescription);

    watcher.Rescan();
    EXPECT_TRUE(m_recorder.WaitFor([](const auto&) { return true; }, 2000, 1));
    EXPECT_FALSE(watcher.IsFollowingServer());
}

TEST_F(DeviceWatcherTest, TheOwnerNeverWaitsForAListingThatHangs) {
    SHold hold;
    g_pHold = &hold;
    const auto start = Clock::now();
    {
        CDeviceWatcher watcher(&HeldUp, m_recorder.Listener(), true);
        const auto deadline = Clock::now() + Ms(2000);
        while (!hold.bEntered && Clock::now() < deadline)
            std::this_thread::sleep_for(Ms(5));
        ASSERT_TRUE(hold.bEntered);
    }
    EXPECT_LT(Clock::now() - start, Ms(CDeviceWatcher::kStopWaitMs + 500));
    // The listing finishes after its owner left and reaches nobody.
    {
        std::lock_guard guard(hold.lock);
        hold.bReleased = true;
        hold.released.notify_all();
    }
    const auto deadline = Clock::now() + Ms(2000);
    while (g_nListings.load() == 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(Ms(5));
    EXPECT_EQ(g_nListings.load(), 1);
    std::this_thread::sleep_for(Ms(100));
    EXPECT_EQ(m_recorder.Count(), 0u);
    g_pHold = nullptr;
}

// Looking for a server that is not there costs a few attempts a second at
// first and fewer later: 250, 500, 1000, 2000 ms apart.
TEST_F(DeviceWatcherTest, LooksForAServerBackingOff) {
    CDeviceWatcher watcher(&TwoDevices, m_recorder.Listener(), true);
    std::this_thread::sleep_for(Ms(2600));
    const CDeviceWatcher::SStats stats = watcher.Stats();
    EXPECT_GE(stats.nConnectAttempts, 3);
    EXPECT_LE(stats.nConnectAttempts, 6);
    EXPECT_EQ(stats.nConnections, 0);
    EXPECT_FALSE(watcher.IsFollowingServer());
    // Failed attempts make no new lists.
    EXPECT_EQ(m_recorder.Count(), 1u);
}
