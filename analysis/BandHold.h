#pragma once

#include "analysis/LevelScale.h"
#include "analysis/OctaveBands.h"
#include "analysis/PowerScale.h"

#include <mutex>
#include <vector>

// The bands a hold is kept for: a new one of these starts the hold anew.
struct SBandHoldKey {
    int nFraction = 0;
    int nSampleRate = 0;
    int nFftSize = 0;
    double dSpanLowHz = 0.0;
    double dSpanHighHz = 0.0;
    bool operator==(const SBandHoldKey&) const = default;
};

// Each octave band's held maximum: the highest level the band itself has
// had since the hold began, fed by every pass. (The sum of its bins' held
// maxima stands 4 to 5 dB above anything a band of noise ever reaches.) The
// levels are the bars': on the unit's linear scale, or as designed the
// channel's power.
//
// Threads: Pass on the acquisition thread; the rest on any.
class CBandHold {
public:
    // The unit the bars are in; a new one starts the hold anew.
    void SetLevels(const SLevelSettings& settings);
    void Clear();
    // A pass over a channel's power, bins 0 to N/2.
    void Pass(const SBandHoldKey& key, const double* pPower, int nBins, const SPowerScale& scale);
    // The held levels of the bands of key, one per band, into adOut; false
    // while it holds none for them.
    bool Take(const SBandHoldKey& key, std::vector<double>& adOut) const;

private:
    mutable std::mutex m_lock;
    // Under m_lock.
    SLevelSettings m_settings;
    SBandHoldKey m_key;
    std::vector<double> m_adHold;
    bool m_bHolding = false;

    // The acquisition thread's own.
    COctaveBands m_bands;
    CLevelScale m_levels;
    std::vector<double> m_adUnit;
    std::vector<double> m_adBand;
};
