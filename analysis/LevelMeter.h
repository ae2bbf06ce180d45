#pragma once

#include "analysis/WeightingFilter.h"

#include <atomic>
#include <cstdint>
#include <mutex>

// What a level meter shows, as linear values re the mean square of a
// full-scale sine, so that a full-scale sine reads 0 dB (AES17); the peak is
// the square of the largest sample re full scale. A level unit takes them to
// its dB.
struct SMeterFigures {
    double dLevel = 0.0;      // time-weighted mean square
    double dLeq = 0.0;        // mean square over the time metered since the reset
    double dMax = 0.0;        // the highest time-weighted mean square since the reset
    double dPeak = 0.0;       // sample peak squared, held and falling at the time weighting's rate
    double dGapSeconds = 0.0; // time since the reset that could not be metered
    bool bValid = false;      // false before the first sample
};

// A sound level meter that meters every sample once, in order: the
// frequency weighting as a filter on the samples, then the squared signal
// through the exponential time weighting, Fast (125 ms) or Slow (1 s). Leq
// is the energy over the time actually metered, the maximum that of the
// time-weighted level; time that brought no samples (a lost signal, an
// overrun of the ring) is told as a gap and left out.
//
// Threads: Feed and AddGap run on the acquisition thread; the rest on any.
class CLevelMeter {
public:
    static constexpr double kFastSeconds = 0.125;
    static constexpr double kSlowSeconds = 1.0;
    static constexpr int kFullScale = 32768;

    CLevelMeter();

    // The weighting at a rate (the default: Z at 44100 Hz). A new weighting
    // starts a new Leq and maximum, which would otherwise mix two.
    void Configure(EWeighting eWeighting, int nSampleRate);
    EWeighting Weighting() const;
    // Slow (1 s) or Fast (125 ms, the default) time constant.
    void SetSlow(bool bSlow);
    // A factor on the weighted mean square (1: none), for a microphone's
    // correction that the samples do not carry.
    void SetCorrection(double dFactor);

    // The next nCount samples of the channel, 16-bit values.
    void Feed(const std::int32_t* pSamples, int nCount);
    // dSeconds passed that brought no samples.
    void AddGap(double dSeconds);

    SMeterFigures Figures() const;
    // Feeds since the start whose samples reached full scale.
    long long ClippedFeeds() const { return m_nClippedFeeds.load(std::memory_order_relaxed); }

    // Starts a new Leq, maximum and gap count; the running level and peak
    // carry on.
    void Reset();

private:
    void UpdateKeep();

    mutable std::mutex m_mutex;
    CWeightingFilter m_filter;
    double m_dTau = kFastSeconds;
    double m_dKeep = 0.0; // per sample, exp(-1 / (rate tau))
    double m_dCorrection = 1.0;
    double m_dLevel = 0.0;
    double m_dPeakSquare = 0.0;
    double m_dMax = 0.0;
    double m_dEnergy = 0.0;   // the sum of mean squares since the reset
    long long m_nSamples = 0; // metered since the reset
    double m_dGapSeconds = 0.0;
    bool m_bValid = false;
    std::atomic<long long> m_nClippedFeeds{0};
};
