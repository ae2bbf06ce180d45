#pragma once

#include <string>
#include <vector>

// How much later the measurement channel hears what the reference channel
// carries: the arrival of the largest peak of the impulse response between
// the two, found over one long block of each (a power of two of samples, the
// longest the two-second ring holds: 65536 at 44.1 and 48 kHz). The response
// is the measurement's spectrum over the reference's (a deconvolution, so
// that a coloured signal such as pink noise or music gives a sharp peak),
// transformed back; its peak is sought from -50 ms to at least +300 ms (up
// to half the block), to the sample.
//
// A peak less than kMinPeakToRestDb above the rest of the response (no
// correlated signal, or none at all) is no delay: the result says why. The
// rest's level is its RMS elsewhere times sqrt(2 ln M), M the lags it spans:
// about the largest value noise alone reaches there, so that two unrelated
// signals stand near 0 dB.
struct SDelayResult {
    bool bFound = false;
    int nSamples = 0;           // positive: the measurement comes later
    double dPeakToRestDb = 0.0; // how far the peak stands above the rest
    std::string strWhy;         // empty when found: why none was found
};

class CDelayFinder {
public:
    static constexpr double kMinPeakToRestDb = 10.0;
    static constexpr double kEarliestMs = -50.0;
    static constexpr double kLatestMs = 300.0;

    // The longest power of two of samples a ring of nRingFrames holds.
    static int BlockLength(int nRingFrames);
    // The delay between two blocks of the same nLength samples (a power of
    // two), ending at the same moment, at nSampleRate.
    static SDelayResult Find(const std::vector<double>& adReference,
                             const std::vector<double>& adMeasurement, int nSampleRate);
};
