// A calibration's checks, on spectra as a running channel gives them: a tone
// in the band and what lies around it.

#include "analysis/Calibration.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A spectrum at 11.7 Hz per point with a Hann window's noise bandwidth, a
// tone of dDbfs spread over three points around dToneHz, and a floor of
// dFloorDbfs per point.
CReferenceSpectrum Spectrum(double dToneHz, double dDbfs, double dFloorDbfs = -140.0) {
    const double dSpacing = 48000.0 / 4096;
    const double dNoiseBandwidth = 1.5 * dSpacing;
    std::vector<CReferenceSpectrum::SPoint> points;
    const double dTone = std::pow(10.0, dDbfs / 10) * 1.5; // summed over the points it covers
    const int nTone = static_cast<int>(std::lround(dToneHz / dSpacing));
    for (int k = 1; k <= 2048; ++k) {
        double dLevel = std::pow(10.0, dFloorDbfs / 10);
        if (k == nTone)
            dLevel += dTone * 0.5;
        else if (std::abs(k - nTone) == 1)
            dLevel += dTone * 0.25;
        points.push_back({k * dSpacing, dLevel});
    }
    return CReferenceSpectrum(std::move(points), dNoiseBandwidth, "test");
}

SCalibrationResult Measure(double dToneHz, std::initializer_list<double> levels,
                           double dFloorDbfs = -140.0, bool bClipped = false) {
    CCalibrationRun run(1000.0, 94.0, 0.0);
    for (double dDbfs : levels)
        run.Add(Spectrum(dToneHz, dDbfs, dFloorDbfs));
    return run.Finish(bClipped);
}

} // namespace

TEST(Calibration, ASteadyToneGivesTheLevelAFullScaleSineStandsFor) {
    const SCalibrationResult r = Measure(1000.0, {-26.0, -26.05, -25.95});
    ASSERT_TRUE(r.bOk) << r.strWhy;
    EXPECT_NEAR(r.dMeasuredDbfs, -26.0, 0.02);
    EXPECT_NEAR(r.dFullScaleDbSpl, 120.0, 0.02);
    // The microphone's response at the tone is taken off as the levels take it.
    CCalibrationRun withMic(1000.0, 94.0, 1.5);
    withMic.Add(Spectrum(1000.0, -26.0));
    EXPECT_NEAR(withMic.Finish(false).dFullScaleDbSpl, 121.5, 0.02);
}

TEST(Calibration, EachFailedCheckStoresNothingAndSaysWhich) {
    const struct {
        SCalibrationResult result;
        const char* pszWhy;
    } cases[] = {
        {Measure(1000.0, {-26.0}, -140.0, true), "full scale"},
        {Measure(1000.0, {-26.0}, -50.0), "No tone stands 20 dB above"},
        {Measure(1060.0, {-26.0}), "more than 5 % away from 1000 Hz"},
        {Measure(1000.0, {-26.0, -26.25}), "spread 0.25 dB"},
        {CCalibrationRun(1000.0, 94.0, 0.0).Finish(false), "No sound arrived"},
        // 94 dB read at -140 dBFS would put full scale at 234 dB SPL.
        {Measure(1000.0, {-140.0}, -200.0), "full scale at 234.0 dB SPL, outside 60 to 200"},
        {CCalibrationRun::FromMeterReading(Spectrum(1000.0, -10.0), 40.0, EWeighting::Z, nullptr),
         "full scale at 50.0 dB SPL"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.result.bOk) << c.pszWhy;
        EXPECT_NE(c.result.strWhy.find(c.pszWhy), std::string::npos) << c.result.strWhy;
    }
    // Just inside the limits it passes.
    EXPECT_TRUE(Measure(1040.0, {-26.0, -26.19}, -105.0).bOk);
}

// What a sound level meter reads of a steady signal, through its weighting.
TEST(Calibration, AMeterReadingSetsTheLevelThroughItsWeighting) {
    const CReferenceSpectrum spectrum = Spectrum(10000.0, -30.0);
    const SCalibrationResult z =
        CCalibrationRun::FromMeterReading(spectrum, 80.0, EWeighting::Z, nullptr);
    ASSERT_TRUE(z.bOk);
    EXPECT_NEAR(z.dFullScaleDbSpl, 110.0, 0.1);
    const SCalibrationResult a =
        CCalibrationRun::FromMeterReading(spectrum, 80.0, EWeighting::A, nullptr);
    EXPECT_NEAR(a.dFullScaleDbSpl - z.dFullScaleDbSpl, 2.5, 0.1); // A at 10 kHz
    EXPECT_FALSE(
        CCalibrationRun::FromMeterReading(CReferenceSpectrum(), 80.0, EWeighting::Z, nullptr).bOk);
}
