#pragma once

#include "analysis/AnalysisChannel.h"

#include <mutex>
#include <vector>

// The transfer function between two channels of one pass: the reference x
// (what goes into the system) and the measurement y (what comes out). Each
// pass brings both channels' transforms of the same ring position; the
// cross-spectrum G_xy = conj(X) Y and the auto-spectra G_xx = |X|^2,
// G_yy = |Y|^2 are averaged over time, exponentially with a time constant
// or, with none, as the plain mean since the last reset. The results are
// the averages smoothed over a fractional octave around each bin (G_xy, G_xx
// and G_yy alike, before dividing, so that magnitude, phase and coherence
// are smoothed the same way), then
//   H = G_xy / G_xx, in dB and in degrees wrapped to (-180, 180],
//   coherence = |G_xy|^2 / (G_xx G_yy), from 0 to 1.
// A bin where the reference holds no power has no result (NaN in every
// array); so does a bin where the measurement holds none for the coherence.
//
// Threads: Pass runs on the acquisition cycle's thread; the settings, Reset
// and Results on any thread. One lock guards the averages.
class CTransferFunction {
public:
    // Bins 0 to N/2 of an N-point transform at nSampleRate; forgets the
    // averages. Allocates; the passes after it do not.
    void Setup(int nFftSize, int nSampleRate);
    int FftSize() const;

    // The exponential time constant in seconds; 0 for the plain mean since
    // the last reset ("Infinite"). 2 s by default.
    void SetAveragingSeconds(double dSeconds);
    double AveragingSeconds() const;
    // Smoothing over 1/nFraction octave around each bin (48, 24, 12, 6 or
    // 3); 0 for none. 1/24 by default.
    void SetSmoothing(int nFraction);
    int Smoothing() const;
    // The averages start again with the next pass.
    void Reset();
    // Passes averaged since Setup or Reset.
    int Passes() const;

    // One pass: N complex values of each channel's transform (only bins 0 to
    // N/2 are read), dSeconds after the previous pass (its weight in the
    // exponential average is 1 - exp(-dSeconds / time constant); the first
    // pass after a reset takes weight 1).
    void Pass(const SComplex* pReference, const SComplex* pMeasurement, double dSeconds);

    // The smoothed results at bins 0 to N/2, written into the arrays given
    // (resized; they allocate only when they grow). False, with the arrays
    // empty, before the first pass.
    struct SResults {
        std::vector<double> adMagnitudeDb;
        std::vector<double> adPhaseDeg;
        std::vector<double> adCoherence;
    };
    // With panBins, only those bins get their values (the rest NaN): a
    // picture needs one bin per column, and the logarithms and angles are
    // what the results cost.
    bool Results(SResults& results, const std::vector<int>* panBins = nullptr) const;

    static constexpr double kDefaultSeconds = 2.0;
    static constexpr int kDefaultSmoothing = 24;

private:
    // The new pass's weight in the averages; the caller holds the lock.
    double PassWeight(double dSeconds) const;
    // Smooths the four scratch arrays in place; the caller holds the lock.
    void SmoothScratch(int nFraction) const;

    mutable std::mutex m_lock;
    int m_nFftSize = 0;
    int m_nSampleRate = 0;
    double m_dSeconds = kDefaultSeconds;
    int m_nSmoothing = kDefaultSmoothing;
    int m_nPasses = 0;
    std::vector<double> m_adCrossRe; // G_xy, bins 0 to N/2
    std::vector<double> m_adCrossIm;
    std::vector<double> m_adRef;  // G_xx
    std::vector<double> m_adMeas; // G_yy
    // Results' copies of the averages, smoothed there; used under the lock.
    mutable std::vector<double> m_adSmoothRe;
    mutable std::vector<double> m_adSmoothIm;
    mutable std::vector<double> m_adSmoothRef;
    mutable std::vector<double> m_adSmoothMeas;
    mutable std::vector<long double> m_adPrefix;
};
