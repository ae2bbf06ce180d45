#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

enum class ESignal { PinkNoise, WhiteNoise, PeriodicPinkNoise, Sine, LogSweep };

struct SGeneratorSettings {
    ESignal eSignal = ESignal::PinkNoise;
    double dLevelDbfs = -20.0; // RMS re a full-scale sine's, as the level meter reads
    double dSineHz = 1000.0;
    double dSweepStartHz = 20.0;
    double dSweepEndHz = 20000.0;
    double dSweepSeconds = 10.0;
    int nChannels = 3; // bit 0 left, bit 1 right: 3 both

    bool operator==(const SGeneratorSettings&) const = default;
};

// The built-in signal generator's synthesis, for a playback stream whose
// callback runs on the sound server's thread. The user interface sets,
// plays and stops from its own thread; Render picks that up without ever
// waiting for it, and allocates nothing. Both channels selected carry the
// same signal.
//
// Nothing starts, stops or changes with a step: Play fades in over 50 ms and
// Stop fades out over 50 ms; a new signal (or frequency, sweep or channels)
// fades the old one out and the new one in; a new level alone glides there
// over 50 ms. Every fade is a raised cosine.
//
// A level is the RMS in dBFS as the level meter reads it, re a full-scale
// sine: a tone's highest is 0 dBFS. The noises never reach full scale:
// their highest level, -9 dBFS (an RMS 12 dB under full scale), leaves them
// a crest factor of 12 dB: the random pink noise passes a soft limiter
// bounded there (it bends the one sample in 500 beyond three times the RMS),
// white noise is uniform (4.8 dB), and the periodic noise is built under
// 10.9 dB.
class CSignalGenerator {
public:
    CSignalGenerator() = default;
    CSignalGenerator(const CSignalGenerator&) = delete;
    CSignalGenerator& operator=(const CSignalGenerator&) = delete;

    // The highest RMS level a signal takes without clipping at 16 bits.
    static double MaxLevelDbfs(ESignal eSignal);
    static constexpr double kMinLevelDbfs = -80.0;
    static constexpr double kMaxNoiseLevelDbfs = -9.0;
    static constexpr double kFadeSeconds = 0.05;
    static constexpr double kSweepEdgeSeconds = 0.01;
    static constexpr double kMinSweepSeconds = 0.1;
    static constexpr double kMaxSweepSeconds = 600.0;
    static constexpr double kMinHz = 1.0;
    static constexpr double kMaxHzOfRate = 0.49;
    // The periodic noise's lowest bin, an octave below the audible band.
    static constexpr double kPeriodicLowestHz = 10.0;

    // Allocates and resets everything, silent; not while Render may run.
    // nPeriodSize, the periodic noise's period, is a power of two (the
    // analyser's transform size); another is taken down to one.
    void Prepare(int nSampleRate, int nPeriodSize);

    // From any thread. Levels and frequencies outside their range are
    // clamped when the audio thread takes them.
    void SetSettings(const SGeneratorSettings& settings);
    void Play() { m_bPlayWanted.store(true, std::memory_order_relaxed); }
    void Stop() { m_bPlayWanted.store(false, std::memory_order_relaxed); }

    // On the audio thread: the next nFrames stereo frames, left and right
    // interleaved. Returns how many of them carried sound: 0 once stopped
    // and faded out, when the stream may be corked or drained.
    int Render(int16_t* pInterleavedStereo, int nFrames);

private:
    // Vigna's xorshift64* (Marsaglia's xorshift, its output multiplied),
    // uniform in [-1, 1): a fixed seed makes every run's noise the same.
    struct SRandom {
        uint64_t nState = 0x9E3779B97F4A7C15ull;
        double Next();
    };
    // Paul Kellet's refined pink filter: white noise through parallel
    // one-pole filters, -3 dB/octave within 0.05 dB from 9.2 Hz at
    // 44.1 kHz. Its coefficients are fixed, so its corner scales with the
    // rate: still below 20 Hz at 96 kHz.
    struct SPinkFilter {
        double adState[7] = {};
        double Next(double dWhite);
        static double PowerGain(); // output power over input power
    };
    // An exponential sweep's phase 2 pi f1 T / ln(f2/f1) ((f2/f1)^(t/T) - 1),
    // sample by sample, with raised-cosine edges so that its repetitions
    // join without a click.
    struct SSweep {
        double dPhaseScale = 0.0; // radians
        double dGrowthPerFrame = 0.0;
        double dRadiansPerFrame = 0.0; // when start and end meet
        int64_t nFrames = 1;
        int64_t nEdgeFrames = 1;
        int64_t nFrame = 0;
        void Set(double dStartHz, double dEndHz, double dSeconds, int nSampleRate);
        double Next(); // unit RMS away from the edges
    };

    static double RaisedCosine(int nStep, int nSteps);
    static bool SameSignal(const SGeneratorSettings& a, const SGeneratorSettings& b);
    SGeneratorSettings Clamped(const SGeneratorSettings& settings) const;
    void BuildPeriodicNoise(int nPeriodSize);

    // The audio thread's own.
    void PickUpSettings();
    void Steer();
    void Adopt(const SGeneratorSettings& settings);
    void StartLevelRamp(double dGain);
    double Gain() const;
    double NextSample();
    double NextLimitedNoise(double dUnitRmsNoise) const;
    void Advance();

    // Shared with the user interface.
    std::mutex m_lockPending;
    SGeneratorSettings m_pending;                  // under m_lockPending
    std::atomic<uint64_t> m_nPendingGeneration{0}; // written under m_lockPending
    std::atomic<bool> m_bPlayWanted{false};

    // Set by Prepare.
    int m_nSampleRate = 0;
    int m_nFadeFrames = 1;
    double m_dPinkScale = 1.0;
    double m_dNoisePeak = 1.0;        // the pink noise's bound, unit RMS
    std::vector<double> m_adPeriodic; // unit RMS

    // The audio thread's.
    uint64_t m_nTakenGeneration = 0;
    bool m_bPlaying = false;
    SGeneratorSettings m_wanted;
    SGeneratorSettings m_active;
    bool m_bFadingIn = false;
    int m_nFade = 0; // 0 silent, m_nFadeFrames fully in
    double m_dGainFrom = 0.0;
    double m_dGainTo = 0.0;
    int m_nRamp = 0; // m_nFadeFrames when the gain has arrived
    SRandom m_random;
    SPinkFilter m_pink;
    std::size_t m_nPeriodic = 0;
    double m_dSinePhase = 0.0;
    double m_dSineStep = 0.0;
    SSweep m_sweep;
};
