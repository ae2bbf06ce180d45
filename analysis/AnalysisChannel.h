#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "analysis/LevelMeter.h"
#include "analysis/PowerScale.h"
#include "analysis/RecentSamples.h"

// One complex value of the transform's work array.
struct SComplex {
    double re;
    double im;
};

// The per-channel analyser: a block of samples, its window, a radix-2 FFT, the
// time-averaged power spectrum with its held maxima, and the exact evaluation of
// the block's transform at a single frequency.
//
// Threads: the acquisition cycle calls Transform and EvaluateAt; the user
// interface may call SetWindow and ClearHold at any time and writes the
// settings. The settings are atomics; m_lockArrays keeps the window table, the
// power spectrum and the hold array from being rewritten while another thread
// uses them. Whoever reads m_pPower or m_pHold from another thread than the
// acquisition cycle's holds LockArrays() while doing so.
class CAnalysisChannel {
public:
    CAnalysisChannel();
    virtual ~CAnalysisChannel();
    CAnalysisChannel(const CAnalysisChannel&) = delete;
    CAnalysisChannel& operator=(const CAnalysisChannel&) = delete;

    // Allocates the arrays for N = nSize points and builds the tables. Returns
    // false, leaving the channel without arrays, when N is not a power of two
    // of at least 2 or memory runs out. Runs once per channel.
    bool Setup(int nSize, double dBinsPerHz);
    // Builds the window table over the first nLength entries (0 means N).
    void SetWindow(int nType, int nLength);
    // Writes the first nLength entries of a window of type nType into w, as
    // SetWindow builds them.
    static void FillWindow(int nType, int nLength, double* w);
    // How the power this channel holds relates to the level no setting
    // changes; the caller holds LockArrays().
    SPowerScale PowerScale() const;
    void Transform();
    // One pass over a block of nLength samples: the window is first rebuilt
    // for that length, and for the window type set now, where it was built
    // for others.
    void Transform(int nLength);
    // Magnitude of the raw block's transform at dHz; expects 0 <= dHz * bins-per-Hz < N.
    double EvaluateAt(double dHz) const;
    // The magnitudes at two frequencies at once, each exactly as the single
    // evaluation gives it, in little more than the time of one.
    void EvaluateAt(double dHz1, double dHz2, double& dMagnitude1, double& dMagnitude2) const;
    void ClearHold();
    // The level meter's correction for a microphone, after Transform: the
    // factor the response makes on the weighted power of the block's
    // spectrum, from the per-bin gains 0 to N/2 of the weighting with and
    // without the microphone (both empty: none). Any thread.
    void SetMeterGains(std::vector<double> adWeighted, std::vector<double> adWithMic);
    void CorrectMeter();
    int32_t* GetSamples() { return m_pSamples; }
    double* GetPower() { return m_pPower; }

    std::unique_lock<std::mutex> LockArrays() const { return std::unique_lock(m_lockArrays); }

    int32_t* m_pSamples = nullptr;
    int m_nSize = 0;
    double m_dBinsPerHz = 0.0;
    double* m_pPower = nullptr;
    double* m_pHold = nullptr;
    SComplex* m_pWork = nullptr;
    double* m_pWindow = nullptr;
    double* m_pCos = nullptr;
    double* m_pNegSin = nullptr;
    int* m_pBitRev = nullptr;
    std::atomic<bool> m_bPinkToFlat{false};
    std::atomic<double> m_dPeakHz{0.0};
    std::atomic<int> m_nWindowLength{0};
    std::atomic<int> m_nWindowType{0};
    std::atomic<int> m_bFastAttack{1};
    std::atomic<int> m_nInertia{1};
    // Fed with the channel's samples by the acquisition cycle; read from
    // any thread.
    CLevelMeter m_meter;
    // The newest samples the meter took, for a calibration's own spectrum.
    CRecentSamples m_recentSamples;

    // The ten-digit values of 2*pi and pi that every table and twiddle uses.
    static constexpr double kTwoPi = 6.283185308;
    static constexpr double kPi = 3.141592654;
    // 1 - 0.54 as evaluated in double precision.
    static constexpr double kHammingFactor = 0.45999999999999996;

private:
    void FreeArrays();
    void BuildWindow(int nType, int nLength);
    int BlockEnd() const;
    void BuildTwiddles();
    void LoadWindowedBlock();
    void Butterflies();
    void AccumulatePower();

    // The butterflies' twiddles, stage after stage (1 + 2 + ... + N/2 entries),
    // each the value the twiddle recurrence reaches at that point of its stage,
    // spread into vector lanes: (re, re) and (-im, im).
    SComplex* m_pTwiddleRe = nullptr;
    SComplex* m_pTwiddleIm = nullptr;
    // m_pCos and m_pNegSin side by side, for EvaluateAt.
    SComplex* m_pRotor = nullptr;
    // The window table's sum and sum of squares over its length.
    double m_dWindowSum = 0.0;
    double m_dWindowSumSquares = 0.0;
    // The type and length the window table was built for.
    int m_nBuiltType = -1;
    int m_nBuiltLength = 0;
    std::vector<double> m_adMeterWeighted;
    std::vector<double> m_adMeterWithMic;
    mutable std::mutex m_lockArrays;
};
