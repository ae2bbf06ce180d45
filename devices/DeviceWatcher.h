#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/CaptureDevices.h"

// One listed capture device, as CaptureEnumerate reports it.
struct SCaptureDeviceEntry {
    bool bPrimary = false; // the default input, which has no identifier
    SCaptureGuid guid{};
    std::string description;
    std::string module;

    bool operator==(const SCaptureDeviceEntry& other) const;
};

// Keeps the list of capture devices current without ever making its owner
// wait. A thread of its own lists the devices, then follows the sound server:
// a connection subscribed to the server's source, card and server events has
// the devices listed again whenever a source comes or goes or the default
// source changes, and the sound system's own devices probed anew when a card
// comes or goes. When the server goes away, or will not report its changes,
// the list is made without following it, and the watcher connects again by
// itself, backing off, until the server is back.
//
// The owner hears of each list through a function called on the watcher's
// thread; it must hand the list on to its own thread and return.
class CDeviceWatcher {
public:
    using ListedFn = std::function<void(std::vector<SCaptureDeviceEntry> devices)>;

    // One change of the server arrives as a burst of events: list once they settle.
    static constexpr uint32_t kSettleMs = 40;
    // Reconnection waits double from the first to the longest.
    static constexpr uint32_t kFirstRetryMs = 250;
    static constexpr uint32_t kLongestRetryMs = 2000;
    static constexpr uint32_t kStopWaitMs = 300;

    // How the watcher works; tests give their own.
    struct SOptions {
        // False: lists only when asked (Rescan), never following a server.
        bool bFollowServer = true;
        // Has the next listing probe the sound system's devices anew.
        void (*pfnRescan)() = &CaptureRescan;
        uint32_t nFirstRetryMs = kFirstRetryMs;
        uint32_t nLongestRetryMs = kLongestRetryMs;
    };

    // Starts listing at once with pfnEnumerate; bFollowServer false lists only
    // when asked (Rescan).
    CDeviceWatcher(CaptureEnumerateFn pfnEnumerate, ListedFn fnListed, bool bFollowServer = true);
    CDeviceWatcher(CaptureEnumerateFn pfnEnumerate, ListedFn fnListed, const SOptions& options);
    // Returns within kStopWaitMs whatever the server does; a listing still
    // under way then finishes on its own and reaches nobody.
    ~CDeviceWatcher();
    CDeviceWatcher(const CDeviceWatcher&) = delete;
    CDeviceWatcher& operator=(const CDeviceWatcher&) = delete;

    // Lists the devices again, the sound system's own probed anew: one plugged
    // in since appears, one taken away goes. A followed server reports its own
    // sources, but not the devices of ALSA or JACK.
    void Rescan();
    // Whether a sound server is connected and followed.
    bool IsFollowingServer() const;

private:
    struct SShared;
    std::shared_ptr<SShared> m_pShared;
};
