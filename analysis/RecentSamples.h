#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

// The newest samples of a channel, for analyses of their own beside the run's
// (a calibration's). Fed with every sample in order on the acquisition
// thread; copied out on any.
class CRecentSamples {
public:
    // Room for the newest nSamples (allocated here only).
    void SetSize(int nSamples);
    int Size() const;
    void Feed(const std::int32_t* pSamples, int nCount);
    // The newest Size() samples, oldest first, into an (false while fewer
    // have come).
    bool Newest(std::vector<double>& ad) const;

private:
    mutable std::mutex m_mutex;
    std::vector<std::int32_t> m_anRing;
    std::size_t m_nNext = 0;
    long long m_nFed = 0;
};
