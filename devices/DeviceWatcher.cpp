#include "devices/DeviceWatcher.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>

#include "devices/PulseSession.h"

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

bool Collect(const SCaptureGuid* pGuid, const char* pszDescription, const char* pszModule,
             void* pContext) {
    auto* pDevices = static_cast<std::vector<SCaptureDeviceEntry>*>(pContext);
    SCaptureDeviceEntry entry;
    entry.bPrimary = pGuid == nullptr;
    if (pGuid)
        entry.guid = *pGuid;
    entry.description = pszDescription ? pszDescription : "";
    entry.module = pszModule ? pszModule : "";
    pDevices->push_back(std::move(entry));
    return true;
}

} // namespace

bool SCaptureDeviceEntry::operator==(const SCaptureDeviceEntry& other) const {
    return bPrimary == other.bPrimary &&
           std::memcmp(guid.bytes, other.guid.bytes, sizeof guid.bytes) == 0 &&
           description == other.description && module == other.module;
}

// What the owner and the watcher's thread share, and the thread's own work.
// The thread keeps it alive for as long as it runs, so an owner that leaves
// first takes nothing from under it.
struct CDeviceWatcher::SShared {
    SShared(CaptureEnumerateFn pfn, ListedFn fn, const SOptions& opts)
        : pfnEnumerate(pfn), options(opts), fnListed(std::move(fn)) {}

    void Run();

    const CaptureEnumerateFn pfnEnumerate;
    const SOptions options;

    // Guards everything below; the server's event thread takes it too, inside
    // its own lock, so the watcher's thread never holds it while it calls the server.
    mutable std::mutex lock;
    std::condition_variable wake;
    ListedFn fnListed; // cleared when the owner leaves
    bool bStop = false;
    bool bExited = false;
    bool bChanged = false;      // the server reported a change
    bool bCardsChanged = false; // among them, a card that came or went
    bool bLost = false;         // the server connection ended
    bool bRescan = false;
    bool bFollowing = false;

private:
    void List();
    void Connect();
    void RetryLater();
    void Disconnect();
    // Waits for a request, a change of the server or the next reconnection;
    // false once the owner has left.
    bool WaitForWork(bool& bList);
    void Raise(bool SShared::*pFlag);

    // The watcher's thread only.
    std::unique_ptr<CPulseSession> m_pSession;
    uint32_t m_nRetryMs = options.nFirstRetryMs;
    Clock::time_point m_nextConnect = Clock::now();
};

CDeviceWatcher::CDeviceWatcher(CaptureEnumerateFn pfnEnumerate, ListedFn fnListed,
                               bool bFollowServer)
    : CDeviceWatcher(pfnEnumerate, std::move(fnListed), SOptions{.bFollowServer = bFollowServer}) {}

CDeviceWatcher::CDeviceWatcher(CaptureEnumerateFn pfnEnumerate, ListedFn fnListed,
                               const SOptions& options)
    : m_pShared(std::make_shared<SShared>(pfnEnumerate, std::move(fnListed), options)) {
    std::thread([pShared = m_pShared] { pShared->Run(); }).detach();
}

CDeviceWatcher::~CDeviceWatcher() {
    std::unique_lock lock(m_pShared->lock);
    m_pShared->bStop = true;
    m_pShared->fnListed = nullptr;
    m_pShared->wake.notify_all();
    // A thread stuck in a probe is left to finish by itself: it holds its own
    // reference to what it uses, and nobody hears from it any more.
    m_pShared->wake.wait_for(lock, Ms(kStopWaitMs), [this] { return m_pShared->bExited; });
}

void CDeviceWatcher::Rescan() {
    std::lock_guard lock(m_pShared->lock);
    m_pShared->bRescan = true;
    m_pShared->wake.notify_all();
}

bool CDeviceWatcher::IsFollowingServer() const {
    std::lock_guard lock(m_pShared->lock);
    return m_pShared->bFollowing;
}

void CDeviceWatcher::SShared::Run() {
    bool bList = true;
    for (;;) {
        if (bList)
            List();
        if (options.bFollowServer && !m_pSession && Clock::now() >= m_nextConnect)
            Connect();
        if (!WaitForWork(bList))
            break;
    }
    Disconnect();
    std::lock_guard guard(lock);
    bExited = true;
    wake.notify_all();
}

void CDeviceWatcher::SShared::List() {
    std::vector<SCaptureDeviceEntry> devices;
    pfnEnumerate(&Collect, &devices);
    std::lock_guard guard(lock);
    if (fnListed)
        fnListed(std::move(devices));
}

// A server that comes (back) is listed at once; one that cannot be reached,
// or will not report its changes, is tried again later, each wait twice the
// last, up to the longest.
void CDeviceWatcher::SShared::Connect() {
    auto pSession = std::make_unique<CPulseSession>();
    if (!pSession->IsConnected()) {
        RetryLater();
        return;
    }
    {
        CPulseSession::CLock pulse(*pSession);
        pSession->SetLostHandler([this] { Raise(&SShared::bLost); });
        const auto changed = [this](bool bCard) {
            Raise(bCard ? &SShared::bCardsChanged : &SShared::bChanged);
        };
        if (!pSession->Subscribe(changed)) {
            RetryLater();
            return;
        }
    }
    m_pSession = std::move(pSession);
    m_nRetryMs = options.nFirstRetryMs;
    std::lock_guard guard(lock);
    bFollowing = true;
    // Whatever changed while there was no connection is listed now.
    bChanged = true;
}

void CDeviceWatcher::SShared::RetryLater() {
    m_nextConnect = Clock::now() + Ms(m_nRetryMs);
    m_nRetryMs = std::min(2 * m_nRetryMs, options.nLongestRetryMs);
}

void CDeviceWatcher::SShared::Disconnect() {
    // Ends the event thread; no callback reaches this object afterwards.
    m_pSession.reset();
    std::lock_guard guard(lock);
    bFollowing = false;
}

// Server event thread, under its lock.
void CDeviceWatcher::SShared::Raise(bool SShared::*pFlag) {
    std::lock_guard guard(lock);
    this->*pFlag = true;
    wake.notify_all();
}

bool CDeviceWatcher::SShared::WaitForWork(bool& bList) {
    std::unique_lock guard(lock);
    const auto hasWork = [this] { return bStop || bChanged || bCardsChanged || bLost || bRescan; };
    if (options.bFollowServer && !m_pSession)
        wake.wait_until(guard, m_nextConnect, hasWork);
    else
        wake.wait(guard, hasWork);
    const bool bLostNow = std::exchange(bLost, false);
    const bool bAsked = std::exchange(bRescan, false);
    const bool bServerChanged = std::exchange(bChanged, false);
    bool bCards = std::exchange(bCardsChanged, false);
    if ((bServerChanged || bCards) && !bLostNow && !bAsked) {
        // Let the rest of the burst arrive; the list is asked for once.
        wake.wait_for(guard, Ms(kSettleMs), [this] { return bStop; });
        bChanged = false;
        bCards = std::exchange(bCardsChanged, false) || bCards;
    }
    bList = bLostNow || bAsked || bServerChanged || bCards;
    if (bStop)
        return false;
    guard.unlock();
    if (bLostNow) {
        Disconnect();
        m_nRetryMs = options.nFirstRetryMs;
        m_nextConnect = Clock::now() + Ms(m_nRetryMs);
    }
    // A card that came or went may have brought or taken devices of ALSA or
    // JACK, which the server does not report.
    if (bAsked || bCards)
        options.pfnRescan();
    return true;
}
