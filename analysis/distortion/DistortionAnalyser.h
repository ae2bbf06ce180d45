#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

// Why a distortion reading has no figures, or that it has them.
enum class EDistortionStatus {
    Ok = 0,
    NoData = 1,            // no full block since Configure or Reset
    SpanTooNarrow = 2,     // the fundamental's lobe reaches past the span's edge
    TransformTooShort = 3, // its lobe reaches DC or the second harmonic's
    NoTone = 4,            // no tone 20 dB above the rest of the band
    AboveBand = 5,         // the fundamental lies above the 20 Hz - 20 kHz band
    BlockTooShort = 6,     // the run's blocks are shorter than its transform
};

struct SHarmonic {
    bool bPresent = false; // below half the rate and inside the span
    double dHz = std::numeric_limits<double>::quiet_NaN();
    double dDb = std::numeric_limits<double>::quiet_NaN(); // re the fundamental
};

// Levels in dBFS are re a full-scale sine (amplitude 32768); ratios in dB are
// of powers, 10 log10. Figures are NaN where the status gives no reading;
// the fundamental's frequency and level are there with AboveBand as well.
struct SDistortion {
    static constexpr int kFirstHarmonic = 2;
    static constexpr int kLastHarmonic = 10;
    static constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

    EDistortionStatus eStatus = EDistortionStatus::NoData;
    double dFundamentalHz = kNaN;
    double dFundamentalDbfs = kNaN;
    // Over the harmonics present; NaN with none present (nHarmonics 0).
    double dThdPercent = kNaN;
    double dThdDb = kNaN;
    int nHarmonics = 0;
    double dThdnPercent = kNaN;
    double dThdnDb = kNaN;
    double dSinadDb = kNaN;
    double dSnrDb = kNaN;
    // The THD+N that 16-bit quantisation alone gives at this fundamental's
    // level, and whether 16-bit input reads within kInputLimitMarginDb of it.
    double dInputLimitDb = kNaN;
    bool bAtInputLimit = false;
    std::array<SHarmonic, kLastHarmonic - kFirstHarmonic + 1> aHarmonics{};

    const SHarmonic& Harmonic(int k) const { return aHarmonics[std::size_t(k - kFirstHarmonic)]; }
};

// The distortion of the strongest tone inside the view's span, read off a
// power spectrum averaged as the bars' is:
//   THD (IEC 60268-3 THD_F): sqrt(sum of H2..H10 powers / fundamental power),
//     over the harmonics below half the rate and inside the span;
//   THD+N (AES17): the RMS of all but the fundamental over 20 Hz to 20 kHz
//     (or half the rate), re the whole signal's RMS over the band; SINAD is
//     its negative in dB;
//   SNR: the fundamental's power over the band's noise, what is neither the
//     fundamental nor a harmonic H2..H10 (span or not).
// The window is the seven-term Blackman-Harris, whose sidelobes (-180 dB)
// keep a tone's leakage out of the figures. Each tone's power is its whole
// main lobe, so that it reads the same wherever it lies between bins.
//
// Threads: Feed on the frame thread, the rest on any; one lock guards all.
// Configure allocates; Feed and Result do not.
class CDistortionAnalyser {
public:
    static constexpr double kBandLowHz = 20.0;
    static constexpr double kBandHighHz = 20000.0;
    static constexpr double kMinToneAboveRestDb = 20.0;
    static constexpr double kInputLimitMarginDb = 3.0;
    static constexpr double kFullScale = 32768.0;
    // Bins summed either side of a tone's peak bin: the main lobe's, and one
    // more for a tone that lies between two bins.
    static constexpr int kLobeHalfWidth = 8;

    // N = nSize points (a power of two, 64 or more) at nSampleRate; forgets
    // the averages and the samples. False, leaving no analysis, otherwise.
    bool Configure(int nSampleRate, int nSize);
    // The bars' averaging: each bin's new power p joins the average a as
    // (p + (nInertia - 1) a) / nInertia, or replaces it where fast attack is
    // on and p > a; the first pass after Configure or Reset is the average.
    // With fast attack the noise's average leans to its peaks, so THD+N and
    // SNR then read more noise than a plain mean would. 1 and on by default.
    void SetAveraging(int nInertia, bool bFastAttack);
    // The view's span: the fundamental is the strongest tone inside it, and
    // THD counts the harmonics inside it. The whole band by default.
    void SetSpan(double dLowHz, double dHighHz);
    // The newest nLength samples (16-bit values, full scale 32768), the last
    // the newest: N or more replace the block, fewer push its oldest out.
    // Each feed that leaves a full block makes one pass.
    void Feed(const std::int32_t* pSamples, int nLength);
    // The same with samples unquantised, which never read as at the limit.
    void Feed(const double* pSamples, int nLength);
    void Reset();
    // The run's newest block is shorter than the transform (its Length is
    // less than the whole): a zero-padded block would read its own edges as
    // distortion, so there is no reading until a whole block comes.
    void MarkBlockShort();
    SDistortion Result() const;

private:
    // A run of bins, both ends included; empty where nLast < nFirst.
    struct SBins {
        int nFirst = 0;
        int nLast = -1;
        int Count() const { return nLast >= nFirst ? nLast - nFirst + 1 : 0; }
    };
    struct SLobes;

    template <typename T> void Take(const T* pSamples, int nLength);
    void Pass();
    void Accumulate();
    int Bins() const { return m_nSize / 2; }
    double HzPerBin() const { return double(m_nSampleRate) / m_nSize; }
    SBins Band() const;
    SBins Span() const;
    SBins LobeAt(double dBin) const;
    double Sum(SBins bins) const;
    static SBins Overlap(SBins a, SBins b);
    double MeanSquare(double dPowerSum) const;
    bool StandsOut(SBins lobe, int nPeak) const;
    EDistortionStatus CheckLobe(int nPeak, SBins span) const;
    SLobes LobesOf(int nPeak) const;
    void ReadBand(const SLobes& lobes, SDistortion& result) const;
    void ReadHarmonics(const SLobes& lobes, SDistortion& result) const;

    mutable std::mutex m_lock;
    int m_nSampleRate = 0;
    int m_nSize = 0;
    int m_nInertia = 1;
    bool m_bFastAttack = true;
    double m_dSpanLowHz = 0.0;
    double m_dSpanHighHz = std::numeric_limits<double>::infinity();
    std::vector<double> m_adWindow;
    double m_dWindowSumSquares = 0.0;
    std::vector<double> m_adSamples; // the newest N, oldest first
    int m_nFilled = 0;
    bool m_bQuantised = false;
    std::vector<std::complex<double>> m_aWork;
    std::vector<double> m_adPower; // bins 0 to N/2, averaged
    int m_nPasses = 0;
    bool m_bBlockShort = false;
};
