#pragma once

#include <mutex>

// What a level meter shows. Levels are dB re the mean square of a full-scale sine, so a
// full-scale sine reads 0 dB (AES17); the peak is dB re a sample of amplitude 1.0.
struct SMeterFigures {
    double dLevelDb; // time-weighted mean square
    double dLeqDb;   // energy mean since the last reset
    double dMaxDb;   // the highest time-weighted level since the last reset
    double dPeakDb;  // sample peak, held and falling at the time weighting's rate
    bool bValid;     // false before the first pass
};

// A sound level meter with Fast or Slow exponential time weighting, fed once per analysis
// pass on the analysis thread and read from the drawing and GUI threads.
class CLevelMeter {
public:
    static constexpr double kFastSeconds = 0.125;
    static constexpr double kSlowSeconds = 1.0;

    // Slow (1 s) or Fast (125 ms, the default) time constant.
    void SetSlow(bool bSlow);

    // One pass. dMeanSquare is re a full-scale sine's mean square, dPeak the largest |sample|
    // among the pass's new samples re full scale, dSeconds the time since the previous pass
    // (ignored on the first).
    void Feed(double dMeanSquare, double dPeak, double dSeconds);

    SMeterFigures Figures() const;

    // Starts a new Leq and maximum; the running level and peak carry on.
    void Reset();

private:
    mutable std::mutex m_mutex;
    double m_dTau = kFastSeconds;
    double m_dLevel = 0.0;      // mean square
    double m_dPeakSquare = 0.0; // held, decaying
    double m_dMax = 0.0;        // mean square
    double m_dEnergy = 0.0;     // sum of mean square * seconds since the reset
    double m_dSeconds = 0.0;    // time since the reset
    bool m_bValid = false;
};
