#pragma once

#include "analysis/MicResponse.h"
#include "analysis/PowerScale.h"
#include "analysis/Weighting.h"

#include <memory>
#include <string>
#include <vector>

// The unit levels are read in. "As designed" is the grid's own arithmetic,
// whose numbers depend on the transform size, the length, Y-scale and Offset;
// in dBFS a sine of amplitude A (1.0 = full scale) reads 20 log10 A at its
// bin whatever the run's settings; dB SPL is dBFS plus a device's calibration.
enum class ELevelUnit { AsDesigned = 0, Dbfs = 1, DbSpl = 2 };

// How levels are read: the unit, the frequency weighting (not in "As
// designed"), and in dB SPL the calibration: the level a full-scale sine
// stands for, and the microphone's response, which is taken off each bin.
struct SLevelSettings {
    ELevelUnit eUnit = ELevelUnit::AsDesigned;
    EWeighting eWeighting = EWeighting::Z;
    double dFullScaleDbSpl = 0.0;
    std::shared_ptr<const CMicResponse> pMic;

    bool IsDesigned() const { return eUnit == ELevelUnit::AsDesigned; }
    bool operator==(const SLevelSettings&) const = default;
};

// The one conversion of levels: a channel's power (or a common-level power,
// or a meter's mean square) to the unit's linear scale and on to the unit's
// dB. Per bin, the weighting and the microphone's correction are power
// factors, built once per unit, rate and size; a channel's power takes the
// factor of its window and Pink 2 Flat on top. With Pink 2 Flat the tilt
// stays, centred so that a 1 kHz sine reads the same with and without it.
class CLevelScale {
public:
    // What the 16-bit input can show: a level below this many dB re full
    // scale reads as below it, not as a number.
    static constexpr double kLowestDbfs = -150.0;

    // Builds the per-bin factors anew when the settings, the rate or the size
    // changed (and only then allocates).
    void Update(const SLevelSettings& settings, int nSampleRate, int nFftSize);
    const SLevelSettings& Settings() const { return m_settings; }
    bool IsDesigned() const { return m_settings.IsDesigned(); }

    // The factor on power at dHz of a weighting and a microphone's response
    // (null for none), which is taken off the level.
    static double PowerGainAt(EWeighting eWeighting, const CMicResponse* pMic, double dHz);
    // Bins 0 to N/2: the weighting, and in dB SPL the microphone's
    // correction, as factors on power.
    const std::vector<double>& BinGains() const { return m_adGain; }
    // The weighting alone per bin.
    const std::vector<double>& WeightingGains() const { return m_adWeighting; }
    // Takes a channel's power to the unit's linear scale, where 1.0 is 0 dB
    // before the calibration: a full-scale sine at a bin centre then stands
    // at 1.0.
    double ChannelFactor(const SPowerScale& scale) const;
    // BinGains times ChannelFactor: a channel's power to the unit's linear
    // scale in one factor per bin, kept while the factor stays.
    const std::vector<double>& ChannelGains(const SPowerScale& scale);
    // A value on the unit's linear scale in the unit's dB.
    double LevelDb(double dUnitPower) const { return Db(dUnitPower) + DbOffset(); }
    // Whether a value lies below what the input can show (kLowestDbfs).
    static bool IsBelowInput(double dUnitPower) { return Db(dUnitPower) < kLowestDbfs; }
    // The level as a readout shows it: "-20.4", or "< -150" below what the
    // input can show (in dB SPL, the calibration added to both).
    std::string LevelText(double dUnitPower) const;
    // 10 log10 of a linear value, -300 for nothing at all.
    static double Db(double dLinear);
    // What the unit adds to 10 log10 of a linear value: the calibration in
    // dB SPL, else nothing.
    double DbOffset() const;
    // A round level near full scale that the plot's top grid line stands
    // for at Offset 100.
    double TopDb() const;
    // The unit's short name as the plot and the saved spectrum show it:
    // "dBFS", "dBFS (A)", "dB SPL", "dB(A) SPL"; empty as designed.
    std::string Caption() const;

    static std::string Caption(const SLevelSettings& settings);

private:
    SLevelSettings m_settings;
    int m_nSampleRate = 0;
    int m_nFftSize = 0;
    std::vector<double> m_adGain;
    std::vector<double> m_adWeighting;
    std::vector<double> m_adChannelGain;
    double m_dChannelFactor = 0.0; // the factor m_adChannelGain holds
};
