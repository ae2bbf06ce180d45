// Probe harness: how long listing the capture devices takes when the sound
// system's own devices (ALSA, JACK through PortAudio) are probed anew, as
// opening the device list without a sound server does, and when they are not.
// A Start made meanwhile waits for the probe (CPortAudioSession::kUserWait at
// most), so this is the time a Start right after opening the list may wait.
//
//   bench_probe [listings, default 10]
//
// Run it under the sound server to measure (PULSE_SERVER names another one).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "devices/CaptureDevices.h"
#include "devices/PortAudioSession.h"

namespace {

bool CountEntry(const SCaptureGuid*, const char*, const char*, void* pContext) {
    ++*static_cast<int*>(pContext);
    return true;
}

// One listing in milliseconds, and its number of entries.
double ListingMs(int* pEntries) {
    const auto start = std::chrono::steady_clock::now();
    CaptureEnumerate(&CountEntry, pEntries);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    const int nListings = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::vector<double> probed, listed;
    int nEntries = 0;
    ListingMs(&nEntries); // the first probe also loads the sound libraries
    for (int i = 0; i < nListings; ++i) {
        CaptureRescan();
        nEntries = 0;
        probed.push_back(ListingMs(&nEntries));
        nEntries = 0;
        listed.push_back(ListingMs(&nEntries));
    }
    std::printf("%d entries listed\n", nEntries);
    std::printf("listing with a new probe: median %.1f ms, largest %.1f ms\n", Median(probed),
                *std::max_element(probed.begin(), probed.end()));
    std::printf("listing without a probe:  median %.1f ms, largest %.1f ms\n", Median(listed),
                *std::max_element(listed.begin(), listed.end()));
    std::printf("a Start waits for a probe under way at most %lld ms\n",
                static_cast<long long>(CPortAudioSession::kUserWait.count()));
    return 0;
}
