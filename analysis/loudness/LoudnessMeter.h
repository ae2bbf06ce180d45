#pragma once

#include "analysis/loudness/KWeighting.h"
#include "analysis/loudness/LoudnessHistogram.h"
#include "analysis/loudness/TruePeak.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>

// What a loudness meter shows. A figure without a value has had too little
// sound to stand on: no window full yet, or no block above the gates.
// Loudness in LUFS (digital silence reads minus infinity), the range in LU,
// true peaks in dBTP.
struct SLoudnessFigures {
    std::optional<double> oMomentary;                // the last 400 ms
    std::optional<double> oShortTerm;                // the last 3 s
    std::optional<double> oIntegrated;               // gated, since the reset
    std::optional<double> oRange;                    // LRA since the reset
    bool bRangeSettled = false;                      // 60 s measured since the reset
    std::optional<double> oMaxMomentary;             // since the reset
    std::optional<double> oMaxShortTerm;             // since the reset
    std::array<std::optional<double>, 2> aoTruePeak; // left, right, since the reset
    double dMeasuredSeconds = 0.0;                   // fed since the reset
    double dGapSeconds = 0.0;                        // since the reset, that brought no samples

    // The higher of the channels' true peaks.
    std::optional<double> TruePeak() const;
};

// A loudness meter after EBU R128: both channels of a stereo signal through
// the K weighting, weighted 1.0 each, into sub-blocks of 100 ms, from which
// every 100 ms come the momentary loudness (the last 4), the short-term (the
// last 30), a 400 ms gating block for the integrated loudness and a short-term
// value for the loudness range. Blocks and values are kept as histograms, so
// that a measurement of hours takes no more memory than one of seconds. The
// true peak is each channel's, interpolated to four times the rate.
//
// Time that brought no samples is told as a gap: it is counted and left out,
// and the windows start afresh after it, so that no block spans it. The
// figures "since the reset" take only windows that lie wholly after it.
//
// Threads: Feed and AddGap run on the acquisition thread and allocate
// nothing; the rest run on any.
class CLoudnessMeter {
public:
    static constexpr int kFullScale = 32768;
    static constexpr int kLowestRate = 8000;
    static constexpr int kHighestRate = 96000;
    static constexpr int kSubBlocksPerSecond = 10;
    static constexpr int kMomentarySubBlocks = 4;
    static constexpr int kShortTermSubBlocks = 30;
    static constexpr double kIntegratedGateLu = -10.0;
    static constexpr double kRangeGateLu = -20.0;
    static constexpr double kRangeLow = 0.10;
    static constexpr double kRangeHigh = 0.95;
    static constexpr double kRangeSettledSeconds = 60.0;

    CLoudnessMeter();

    // The rate (8000 to 96000 Hz; the default 48000). A new rate starts a
    // new measurement; outside that range the meter takes no samples.
    void Configure(int nSampleRate);
    int SampleRate() const;

    // The next nCount samples of each channel, 16-bit values.
    void Feed(const std::int32_t* pLeft, const std::int32_t* pRight, int nCount);
    // dSeconds passed that brought no samples.
    void AddGap(double dSeconds);

    SLoudnessFigures Figures() const;

    // Starts a new integrated loudness, range, true peak, maxima and time
    // counts; the momentary and short-term windows carry on.
    void Reset();
    // A new measurement from the next sample on, windows and all: for a
    // meter that was not fed for a while.
    void Restart();

private:
    struct SSubBlock {
        double dSquares = 0.0; // both channels' squares summed
        int nSamples = 0;
    };

    void Accumulate(const std::int32_t* pLeft, const std::int32_t* pRight, int nCount);
    void EndSubBlock();
    void StartSubBlock(int nInSecond);
    double MeanSquareOfLast(int nSubBlocks) const;
    void RestartWindows();
    void ClearSinceReset();

    mutable std::mutex m_mutex;
    int m_nSampleRate = 0;
    std::array<CKWeighting, 2> m_aWeighting;
    std::array<CTruePeak, 2> m_aTruePeak;

    SSubBlock m_current;
    int m_nSubBlockLength = 0;                              // samples in the one under way
    int m_nSubBlockInSecond = 0;                            // which of the second's ten it is
    std::array<SSubBlock, kShortTermSubBlocks> m_aRecent{}; // a ring
    int m_nNewest = 0;
    int m_nContiguous = 0; // sub-blocks since the windows started, up to 30
    int m_nSinceReset = 0; // of those, wholly after the reset (-1: one under way before it)

    std::optional<double> m_oMomentary; // mean squares
    std::optional<double> m_oShortTerm;
    std::optional<double> m_oMaxMomentary;
    std::optional<double> m_oMaxShortTerm;
    CLoudnessHistogram m_blocks;     // 400 ms gating blocks
    CLoudnessHistogram m_shortTerms; // short-term values for the range
    long long m_nMeasuredSamples = 0;
    double m_dGapSeconds = 0.0;
};
