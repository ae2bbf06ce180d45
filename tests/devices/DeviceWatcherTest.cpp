// The device watcher without a sound server: it lists on its own thread, lists
// again when asked, never keeps its owner waiting, and looks for a server
// that is not there at a pace that backs off.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

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

// A socket where the server's would be that takes each connection and closes
// it at once, as a server that is going away does; it counts the connections.
class CClosingSocket {
public:
    CClosingSocket() {
        char templ[] = "/tmp/vemra-socket.XXXXXX";
        if (!mkdtemp(templ))
            return;
        m_sDir = templ;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/native", templ);
        m_nFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (bind(m_nFd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 ||
            listen(m_nFd, 8) < 0)
            return;
        m_sAddress = std::string("unix:") + address.sun_path;
        m_acceptor = std::thread([this] {
            for (int client; (client = accept(m_nFd, nullptr, nullptr)) >= 0;) {
                ++m_nConnections;
                close(client);
            }
        });
    }
    ~CClosingSocket() {
        shutdown(m_nFd, SHUT_RDWR);
        if (m_acceptor.joinable())
            m_acceptor.join();
        close(m_nFd);
        std::filesystem::remove_all(m_sDir);
    }
    const std::string& Address() const { return m_sAddress; }
    int Connections() const { return m_nConnections.load(); }

private:
    std::string m_sDir;
    std::string m_sAddress;
    int m_nFd = -1;
    std::atomic<int> m_nConnections{0};
    std::thread m_acceptor;
};

// Looking for a server that is not there costs a few attempts a second at
// first and fewer later: 250, 500, 1000, 2000 ms apart.
TEST_F(DeviceWatcherTest, LooksForAServerBackingOff) {
    CClosingSocket socket;
    ASSERT_FALSE(socket.Address().empty());
    setenv("PULSE_SERVER", socket.Address().c_str(), 1);
    CDeviceWatcher watcher(&TwoDevices, m_recorder.Listener(), true);
    std::this_thread::sleep_for(Ms(2600));
    EXPECT_GE(socket.Connections(), 3);
    EXPECT_LE(socket.Connections(), 6);
    EXPECT_FALSE(watcher.IsFollowingServer());
    // Failed attempts make no new lists.
    EXPECT_EQ(m_recorder.Count(), 1u);
}
