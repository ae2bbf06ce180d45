#include "analysis/Calibration.h"

#include "analysis/LevelScale.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <numbers>

#include "analysis/Fft.h"

namespace {

constexpr double kThirdOctave = 1.2599210498948732; // 2^(1/3)

// Each point stands for its share of the spacing between points; a sine's
// power is spread over the window's noise bandwidth.
double PointShare(const CReferenceSpectrum& spectrum) {
    const auto& points = spectrum.Points();
    if (points.size() < 2 || !(spectrum.NoiseBandwidthHz() > 0.0)) {
        return 0.0;
    }
    return (points[1].dHz - points[0].dHz) / spectrum.NoiseBandwidthHz();
}

// The peak of a parabola through three levels in dB, as an offset in points.
double PeakOffset(double dLeft, double dMiddle, double dRight) {
    const double a = CLevelScale::Db(dLeft), b = CLevelScale::Db(dMiddle),
                 c = CLevelScale::Db(dRight);
    const double dDenominator = a - 2 * b + c;
    return dDenominator < 0.0 ? std::clamp(0.5 * (a - c) / dDenominator, -0.5, 0.5) : 0.0;
}

std::string Formatted(const char* pszFormat, double d1, double d2 = 0.0) {
    char sz[200];
    std::snprintf(sz, sizeof sz, pszFormat, d1, d2);
    return sz;
}

// A calibration passes only where full scale lands at a plausible level.
SCalibrationResult Plausible(SCalibrationResult result, double dFullScaleDbSpl) {
    if (!SCalibrationRange::Holds(dFullScaleDbSpl)) {
        result.strWhy = Formatted("This would put full scale at %.1f dB SPL, outside %.0f",
                                  dFullScaleDbSpl, SCalibrationRange::kLowestDbSpl) +
                        Formatted(" to %.0f dB SPL: check the level given and the input's gain.",
                                  SCalibrationRange::kHighestDbSpl);
        return result;
    }
    result.bOk = true;
    result.dFullScaleDbSpl = dFullScaleDbSpl;
    return result;
}

} // namespace

int CalibrationSamples(int nSampleRate) {
    int n = 4096;
    while (n < nSampleRate / 3 && n < 32768) {
        n *= 2;
    }
    return n;
}

CReferenceSpectrum CalibrationSpectrum(const std::vector<double>& adSamples, int nSampleRate) {
    const std::size_t n = adSamples.size();
    if (n < 8 || (n & (n - 1)) != 0 || nSampleRate <= 0) {
        return {};
    }
    constexpr double a[] = {0.35875, 0.48829, 0.14128, 0.01168};
    std::vector<std::complex<double>> x(n);
    double dSum = 0.0;
    double dSumSquares = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = 2.0 * std::numbers::pi * double(i) / double(n);
        const double w =
            a[0] - a[1] * std::cos(t) + a[2] * std::cos(2 * t) - a[3] * std::cos(3 * t);
        dSum += w;
        dSumSquares += w * w;
        x[i] = adSamples[i] * w;
    }
    ForwardFft(x);
    // A full-scale sine at a bin's centre has the magnitude 32768 / 2 times
    // the window's sum there: the common level's 1.
    const double dFullScale = SPowerScale::kFullScale / 2 * dSum;
    const double dBinHz = double(nSampleRate) / double(n);
    std::vector<CReferenceSpectrum::SPoint> points(n / 2 + 1);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        points[k] = {double(k) * dBinHz, std::norm(x[k]) / (dFullScale * dFullScale)};
    }
    const double dNoiseBandwidthHz = double(n) * dSumSquares / (dSum * dSum) * dBinHz;
    return CReferenceSpectrum(std::move(points), dNoiseBandwidthHz, "calibration");
}

SBandReading ReadBand(const CReferenceSpectrum& spectrum, double dLowHz, double dHighHz) {
    SBandReading reading;
    const auto& points = spectrum.Points();
    const double dShare = PointShare(spectrum);
    double dBand = 0.0;
    double dRest = 0.0;
    std::size_t nLoudest = points.size();
    for (std::size_t i = 0; i < points.size(); ++i) {
        const auto& pt = points[i];
        if (pt.dHz >= dLowHz && pt.dHz <= dHighHz) {
            dBand += pt.dLevel;
            if (nLoudest == points.size() || pt.dLevel > points[nLoudest].dLevel) {
                nLoudest = i;
            }
        } else if (pt.dHz > 0.0) {
            dRest += pt.dLevel;
        }
    }
    reading.dBandDbfs = CLevelScale::Db(dBand * dShare);
    reading.dRestDbfs = CLevelScale::Db(dRest * dShare);
    if (nLoudest < points.size()) {
        double dOffset = 0.0;
        if (nLoudest > 0 && nLoudest + 1 < points.size()) {
            dOffset = PeakOffset(points[nLoudest - 1].dLevel, points[nLoudest].dLevel,
                                 points[nLoudest + 1].dLevel);
        }
        const double dSpacing = points.size() > 1 ? points[1].dHz - points[0].dHz : 0.0;
        reading.dToneHz = points[nLoudest].dHz + dOffset * dSpacing;
    }
    return reading;
}

double WeightedLevelDbfs(const CReferenceSpectrum& spectrum, EWeighting eWeighting,
                         const CMicResponse* pMic) {
    double dPower = 0.0;
    for (const auto& pt : spectrum.Points()) {
        dPower += pt.dLevel * CLevelScale::PowerGainAt(eWeighting, pMic, pt.dHz);
    }
    return CLevelScale::Db(dPower * PointShare(spectrum));
}

CCalibrationRun::CCalibrationRun(double dToneHz, double dCalibratorDbSpl, double dMicDb)
    : m_dToneHz(dToneHz), m_dCalibratorDbSpl(dCalibratorDbSpl), m_dMicDb(dMicDb) {}

void CCalibrationRun::Add(const CReferenceSpectrum& spectrum) {
    if (!spectrum.IsEmpty()) {
        m_aReadings.push_back(
            ReadBand(spectrum, m_dToneHz / kThirdOctave, m_dToneHz * kThirdOctave));
    }
}

// The checks in the order a user mends them: the input's gain, a tone at
// all, the right tone, a steady one.
SCalibrationResult CCalibrationRun::Finish(bool bClipped) const {
    SCalibrationResult result;
    if (bClipped) {
        result.strWhy = "A sample reached full scale: turn the input down and measure again.";
        return result;
    }
    if (m_aReadings.empty()) {
        result.strWhy = "No sound arrived while measuring.";
        return result;
    }
    double dEnergy = 0.0;
    double dLowest = m_aReadings.front().dBandDbfs;
    double dHighest = dLowest;
    for (const SBandReading& r : m_aReadings) {
        if (r.dBandDbfs - r.dRestDbfs < kToneAboveRestDb) {
            result.strWhy = Formatted("No tone stands %.0f dB above the rest of the spectrum.",
                                      kToneAboveRestDb);
            return result;
        }
        if (std::abs(r.dToneHz - m_dToneHz) > kFrequencyTolerance * m_dToneHz) {
            result.strWhy = Formatted("The tone is at %.0f Hz, more than 5 %% away from %.0f Hz.",
                                      r.dToneHz, m_dToneHz);
            return result;
        }
        dEnergy += std::pow(10.0, r.dBandDbfs / 10.0);
        dLowest = std::min(dLowest, r.dBandDbfs);
        dHighest = std::max(dHighest, r.dBandDbfs);
    }
    if (dHighest - dLowest > kLargestSpreadDb) {
        result.strWhy = Formatted("The level spread %.2f dB while measuring, more than %.1f dB: "
                                  "hold the calibrator steady and measure again.",
                                  dHighest - dLowest, kLargestSpreadDb);
        return result;
    }
    result.dMeasuredDbfs = 10.0 * std::log10(dEnergy / static_cast<double>(m_aReadings.size()));
    return Plausible(result, m_dCalibratorDbSpl - (result.dMeasuredDbfs - m_dMicDb));
}

SCalibrationResult CCalibrationRun::FromMeterReading(const CReferenceSpectrum& spectrum,
                                                     double dMeterDbSpl, EWeighting eWeighting,
                                                     const CMicResponse* pMic) {
    SCalibrationResult result;
    if (spectrum.IsEmpty()) {
        result.strWhy = "No sound arrives: start the analyser and play a steady signal.";
        return result;
    }
    result.dMeasuredDbfs = WeightedLevelDbfs(spectrum, eWeighting, pMic);
    if (result.dMeasuredDbfs <= -150.0) {
        result.strWhy = "No sound arrives: play a steady signal.";
        return result;
    }
    return Plausible(result, dMeterDbSpl - result.dMeasuredDbfs);
}
