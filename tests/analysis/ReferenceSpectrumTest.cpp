// A reference laid onto the bins of other runs: what it reads where the bins
// fall between its points, and where its points are finer than the bins.
#include "analysis/ReferenceSpectrum.h"
#include "analysis/AnalysisChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace {

double PowerDb(double dPower) {
    return 10 * std::log10(dPower);
}

// A channel that has analysed a steady sine of amplitude dAmplitude at bin
// dBin of nSize points, through a Hanning window over the whole block.
void AnalyseSine(CAnalysisChannel& chan, int nSize, double dBin, double dAmplitude) {
    ASSERT_TRUE(chan.Setup(nSize, nSize / 44100.0));
    chan.m_nInertia = 1;
    chan.SetWindow(2, nSize);
    for (int i = 0; i < nSize; ++i)
        chan.m_pSamples[i] =
            int32_t(dAmplitude * std::sin(2 * std::numbers::pi * dBin * i / nSize));
    chan.Transform();
}

CReferenceSpectrum Kept(const CAnalysisChannel& chan) {
    return CReferenceSpectrum::FromBins(chan.m_pPower, chan.m_nSize / 2 + 1, 44100.0 / chan.m_nSize,
                                        chan.PowerScale(), "kept");
}

} // namespace

// Where the bins lie between the reference's points, the level is
// interpolated in dB, weighted by how near each point is; a bin on a point
// takes its level, and none is made up beyond the points.
TEST(ReferenceSpectrum, BetweenItsPointsTheLevelIsInterpolatedInDb) {
    const CReferenceSpectrum reference({{100.0, 1.0}, {200.0, 100.0}, {300.0, 1e-4}}, 0.0, "");
    std::vector<double> levels;
    reference.MapOntoBins(25.0, 14, levels);
    EXPECT_TRUE(std::isnan(levels[3]) && std::isnan(levels[13]));
    EXPECT_DOUBLE_EQ(levels[4], 1.0);
    EXPECT_NEAR(PowerDb(levels[5]), 5.0, 1e-9);  // a quarter of the way to 20 dB
    EXPECT_NEAR(PowerDb(levels[7]), 15.0, 1e-9); // three quarters
    EXPECT_DOUBLE_EQ(levels[8], 100.0);
    EXPECT_NEAR(PowerDb(levels[10]), -10.0, 1e-9); // halfway down to -40 dB
}

// Points finer than the bins are combined over each bin's width: the power
// mean where the reference's run spread a tone as wide as a bin, so that a
// peak between two bin centres counts; and neither a tone at a bin's centre
// nor one between two centres loses its level where that run spread it
// narrower, as one point taken at each centre, or a plain mean, would.
TEST(ReferenceSpectrum, FinerPointsAreCombinedOverEachBinKeepingTonesAndPeaks) {
    std::vector<CReferenceSpectrum::SPoint> points;
    for (int i = 0; i <= 12; ++i)
        points.push_back({double(i), i == 5 ? 18.0 : 2.0});
    std::vector<double> levels;
    CReferenceSpectrum(points, 4.0, "").MapOntoBins(4.0, 4, levels);
    EXPECT_DOUBLE_EQ(levels[2], 2.0);
    EXPECT_DOUBLE_EQ(levels[1], (2.0 * 3 + 18.0) / 4); // the peak at 5 Hz, off the centre 4 Hz

    for (double dCoarseBin : {93.0, 92.75}) {
        SCOPED_TRACE(dCoarseBin);
        CAnalysisChannel fine;
        CAnalysisChannel coarse;
        AnalyseSine(fine, 16384, dCoarseBin * 4, 10000.0);
        AnalyseSine(coarse, 4096, dCoarseBin, 10000.0);
        Kept(fine).MapOntoBins(44100.0 / 4096, 2049, levels);
        // The tone's bin: the finer reference reads what the run itself
        // reads there, within the window's scalloping of a quarter bin.
        EXPECT_NEAR(PowerDb(levels[93]),
                    PowerDb(coarse.m_pPower[93] / coarse.PowerScale().Gain(93)), 1.0);
    }
}
