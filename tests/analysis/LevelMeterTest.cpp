#include "analysis/LevelMeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

constexpr double kSilence = 1e-12; // -120 dB, far below anything measured here

double Db(double d) {
    return 10.0 * std::log10(d);
}

// A sine of mean square dMeanSquare (its peak 3 dB above) in passes of dStep seconds.
void FeedFor(CLevelMeter& meter, double dMeanSquare, double dSeconds, double dStep = 0.01) {
    for (long i = 0; i < std::lround(dSeconds / dStep); ++i)
        meter.Feed(dMeanSquare, std::sqrt(2.0 * dMeanSquare), dStep);
}

TEST(LevelMeter, SteadyInputReadsItsOwnLevel) {
    CLevelMeter meter;
    EXPECT_FALSE(meter.Figures().bValid);
    FeedFor(meter, 0.01, 2.0);
    const SMeterFigures fig = meter.Figures();
    EXPECT_TRUE(fig.bValid);
    EXPECT_NEAR(fig.dLevelDb, -20.0, 1e-9);
    EXPECT_NEAR(fig.dMaxDb, -20.0, 1e-9);
    EXPECT_NEAR(fig.dPeakDb, -20.0 + Db(2.0), 1e-9);
}

// After the input stops, level and peak fall 10*log10(e)/tau dB/s: 34.7 on Fast, 4.34 on Slow
// (IEC 61672-1 asks at least 25, and 3.4 to 5.3), whether the passes come evenly or not.
TEST(LevelMeter, FallsAtTheTimeWeightingsRateHoweverPassesAreSpaced) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> step(0.001, 0.04);
    for (auto [bSlow, dSeconds, dRate] : {std::tuple{false, 0.5, 34.74}, {true, 3.0, 4.343}}) {
        CLevelMeter regular, irregular;
        regular.SetSlow(bSlow);
        irregular.SetSlow(bSlow);
        FeedFor(regular, 0.01, 10.0);
        FeedFor(irregular, 0.01, 10.0);
        FeedFor(regular, kSilence, dSeconds);
        for (double dLeft = dSeconds, dStep; dLeft > 0.0; dLeft -= dStep)
            irregular.Feed(kSilence, 0.0, dStep = std::min(step(rng), dLeft));
        for (const CLevelMeter* pMeter : {&regular, &irregular}) {
            const SMeterFigures fig = pMeter->Figures();
            EXPECT_NEAR((-20.0 - fig.dLevelDb) / dSeconds, dRate, 0.01) << bSlow;
            EXPECT_NEAR((-20.0 + Db(2.0) - fig.dPeakDb) / dSeconds, dRate, 0.01) << bSlow;
        }
    }
}

TEST(LevelMeter, LeqAndMaximumSinceReset) {
    CLevelMeter meter;
    meter.Feed(0.1, 0.0, 5.0); // the first pass has no previous one: its spacing is ignored
    FeedFor(meter, 0.1, 1.0);
    FeedFor(meter, 0.001, 1.0);
    EXPECT_NEAR(meter.Figures().dLeqDb, Db((0.1 + 0.001) / 2.0), 1e-9);
    EXPECT_NEAR(meter.Figures().dMaxDb, -10.0, 1e-9);

    FeedFor(meter, 0.001, 2.0); // the Fast level settles from -10 dB
    meter.Reset();
    EXPECT_NEAR(meter.Figures().dLeqDb, -30.0, 1e-6); // no time yet: the running level
    FeedFor(meter, 0.001, 0.5);
    EXPECT_NEAR(meter.Figures().dLeqDb, -30.0, 1e-9);
    EXPECT_NEAR(meter.Figures().dMaxDb, -30.0, 1e-6);
}

} // namespace
