// The device watcher without a sound server: it lists on its own thread, lists
// again when asked, never keeps its owner waiting, looks for a server that is
// not there, or will not report its changes, at a pace that backs off, and
// has the devices probed anew when a card comes or goes.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <pulse/def.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "devices/DeviceWatcher.h"
#include "devices/TestSignalDevice.h"
#include "tests/devices/ListRecorder.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

std::atomic<int> g_nListings{0};
std::atomic<int> g_nRescans{0};
void CountRescan() {
    ++g_nRescans;
}

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
        g_nRescans = 0;
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
// Given how to answer a subscription, it lets the client connect instead,
// with just enough of the server's protocol, answers so, and can then report
// changes to it.
class CClosingSocket {
public:
    // How to answer a subscription: PA_COMMAND_ERROR, PA_COMMAND_REPLY.
    static constexpr uint32_t kRefuse = 0, kGrant = 2, kNone = 1;

    explicit CClosingSocket(uint32_t nSubscription = kNone) : m_nSubscription(nSubscription) {
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
                m_nClient = client;
                // The client's requests are tagged 0, 1, 2: authentication
                // (granted: protocol 32, no shared memory), its name (client
                // 1), its subscription.
                for (uint32_t tag = 0; m_nSubscription != kNone && SkipRequest(client); ++tag) {
                    if (tag < 2)
                        Send(client, {kGrant, tag, tag == 0 ? 32u : 1u});
                    m_nSubscriptions += tag == 2 ? 1 : 0;
                    if (tag == 2 && m_nSubscription == kGrant)
                        Send(client, {kGrant, tag});
                    if (tag == 2 && m_nSubscription == kRefuse)
                        Send(client, {kRefuse, tag, PA_ERR_ACCESS});
                }
                m_nClient = -1;
                close(client);
            }
        });
    }
    ~CClosingSocket() {
        shutdown(m_nFd, SHUT_RDWR);
        if (const int client = m_nClient.load(); client >= 0)
            shutdown(client, SHUT_RDWR);
        if (m_acceptor.joinable())
            m_acceptor.join();
        close(m_nFd);
        std::filesystem::remove_all(m_sDir);
    }
    const std::string& Address() const { return m_sAddress; }
    int Connections() const { return m_nConnections.load(); }
    int Subscriptions() const { return m_nSubscriptions.load(); }
    // Tells the subscribed client of a change (PA_COMMAND_SUBSCRIBE_EVENT).
    void Report(uint32_t nEvent) { Send(m_nClient.load(), {66, 0xFFFFFFFF, nEvent, 0}); }

private:
    static bool SkipRequest(int nClient) {
        uint32_t header[5];
        if (recv(nClient, header, sizeof header, MSG_WAITALL) != sizeof header)
            return false;
        std::vector<char> payload(ntohl(header[0]));
        return recv(nClient, payload.data(), payload.size(), MSG_WAITALL) > 0;
    }
    // A packet: its length, channel -1, three zeros, then the tagged words.
    static void Send(int nClient, std::initializer_list<uint32_t> words) {
        std::string packet =
            Word(uint32_t(5 * words.size())) + Word(0xFFFFFFFF) + std::string(12, '\0');
        for (uint32_t word : words)
            packet += 'L' + Word(word);
        send(nClient, packet.data(), packet.size(), MSG_NOSIGNAL);
    }
    static std::string Word(uint32_t nValue) {
        nValue = htonl(nValue);
        return {reinterpret_cast<const char*>(&nValue), 4};
    }

    const uint32_t m_nSubscription;
    std::atomic<int> m_nClient{-1};
    std::atomic<int> m_nSubscriptions{0};
    std::string m_sDir;
    std::string m_sAddress;
    int m_nFd = -1;
    std::atomic<int> m_nConnections{0};
    std::thread m_acceptor;
};

// Looking for a server that is not there, or that lets the watcher connect
// but refuses to report its changes, costs a few attempts a second at first
// and fewer later, each wait twice the last up to the longest: here 50, 100,
// 100 ... ms, where no limit would make it 50, 100, 200, 400, 800 ms.
TEST_F(DeviceWatcherTest, LooksForAServerBackingOffUpToTheLongestWait) {
    for (const uint32_t nSubscription : {CClosingSocket::kNone, CClosingSocket::kRefuse}) {
        CClosingSocket socket(nSubscription);
        ASSERT_FALSE(socket.Address().empty());
        setenv("PULSE_SERVER", socket.Address().c_str(), 1);
        CListRecorder recorder;
        CDeviceWatcher watcher(&TwoDevices, recorder.Listener(),
                               {.nFirstRetryMs = 50, .nLongestRetryMs = 100});
        std::this_thread::sleep_for(Ms(1500));
        EXPECT_GE(socket.Connections(), 9) << nSubscription;
        EXPECT_LE(socket.Connections(), 20) << nSubscription;
        EXPECT_FALSE(watcher.IsFollowingServer());
        // Failed attempts make no new lists.
        EXPECT_EQ(recorder.Count(), 1u);
    }
}

// A followed server reports its sources, not the devices of ALSA or JACK: a
// card that comes or goes, and a request, have those probed anew; a source
// that comes is only listed.
TEST_F(DeviceWatcherTest, ACardThatComesOrGoesAndARequestProbeTheDevicesAnew) {
    CClosingSocket server(CClosingSocket::kGrant);
    setenv("PULSE_SERVER", server.Address().c_str(), 1);
    CDeviceWatcher watcher(&TwoDevices, m_recorder.Listener(), {.pfnRescan = &CountRescan});
    const auto any = [](const auto&) { return true; };
    ASSERT_TRUE(m_recorder.WaitFor(any, 3000, 1)); // listed again once following
    const auto listedAfter = [&](const std::function<void()>& fnChange) {
        const size_t nListed = m_recorder.Count();
        fnChange();
        return m_recorder.WaitFor(any, 2000, nListed);
    };
    EXPECT_TRUE(listedAfter([&] { server.Report(PA_SUBSCRIPTION_EVENT_SOURCE); }));
    EXPECT_EQ(g_nRescans.load(), 0);
    EXPECT_TRUE(listedAfter([&] { server.Report(PA_SUBSCRIPTION_EVENT_CARD); }));
    EXPECT_EQ(g_nRescans.load(), 1);
    EXPECT_TRUE(listedAfter([&] { watcher.Rescan(); }));
    EXPECT_EQ(g_nRescans.load(), 2);
}
