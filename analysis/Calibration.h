#pragma once

#include "analysis/MicResponse.h"
#include "analysis/ReferenceSpectrum.h"
#include "analysis/Weighting.h"

#include <string>
#include <vector>

// A spectrum's levels in dBFS (a full-scale sine is 0 dBFS), from a pass
// taken in the common level: each point's power over the noise bandwidth its
// window spread a sine over, so that a tone reads its own level and noise its
// power in the band.
struct SBandReading {
    double dBandDbfs = -200.0; // the band's power
    double dRestDbfs = -200.0; // everything else but the DC bin
    double dToneHz = 0.0;      // the loudest point in the band, between points
};
SBandReading ReadBand(const CReferenceSpectrum& spectrum, double dLowHz, double dHighHz);
// The whole spectrum through a weighting and a microphone's correction (null
// for none), as a sound level meter with that weighting reads it, in dBFS.
double WeightedLevelDbfs(const CReferenceSpectrum& spectrum, EWeighting eWeighting,
                         const CMicResponse* pMic);

// The levels a full-scale sine can plausibly stand for, in dB SPL: a
// calibration outside them (or not a number at all) is a mistake, never
// applied.
struct SCalibrationRange {
    static constexpr double kLowestDbSpl = 60.0;
    static constexpr double kHighestDbSpl = 200.0;
    static bool Holds(double dFullScaleDbSpl) {
        return dFullScaleDbSpl >= kLowestDbSpl && dFullScaleDbSpl <= kHighestDbSpl;
    }
};

// A spectrum of a calibration's own, whatever window the run uses: the
// newest samples (a power of two of them) through a 4-term Blackman-Harris
// window, whose sidelobes lie 92 dB down, so that a clean calibrator's tone
// stands clear of the rest; in the common level, at nSampleRate.
CReferenceSpectrum CalibrationSpectrum(const std::vector<double>& adSamples, int nSampleRate);
// How many samples it takes at a rate: a third of a second or more, from
// 4096 to 32768.
int CalibrationSamples(int nSampleRate);

// What a measurement found: on success the level measured and the
// calibration it gives (the dB SPL a full-scale sine stands for); else which
// check failed.
struct SCalibrationResult {
    bool bOk = false;
    std::string strWhy;
    double dMeasuredDbfs = 0.0;
    double dFullScaleDbSpl = 0.0;
};

// A calibrator's tone measured over a few seconds: readings of the band
// within a third of an octave of its frequency, taken as they come, then
// the checks a trustworthy calibration passes.
class CCalibrationRun {
public:
    static constexpr double kToneAboveRestDb = 20.0;
    static constexpr double kFrequencyTolerance = 0.05;
    static constexpr double kLargestSpreadDb = 0.2;

    // dMicDb: the microphone's response at the tone, which the levels shown
    // take off, so that the calibrator then reads its own level.
    CCalibrationRun(double dToneHz, double dCalibratorDbSpl, double dMicDb);
    void Add(const CReferenceSpectrum& spectrum);
    int Readings() const { return static_cast<int>(m_aReadings.size()); }
    // bClipped: a sample reached full scale while it measured.
    SCalibrationResult Finish(bool bClipped) const;

    // The calibration that makes a steady signal read what a sound level
    // meter of the given weighting shows for it.
    static SCalibrationResult FromMeterReading(const CReferenceSpectrum& spectrum,
                                               double dMeterDbSpl, EWeighting eWeighting,
                                               const CMicResponse* pMic);

private:
    double m_dToneHz;
    double m_dCalibratorDbSpl;
    double m_dMicDb;
    std::vector<SBandReading> m_aReadings;
};
