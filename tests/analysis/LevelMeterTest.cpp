// The level meter as IEC 61672-1 defines one: every sample through the
// frequency weighting, then the exponential time weighting; its Leq over the
// time metered, its maximum of the time-weighted level. The standard's own
// cases are synthesised here and run far faster than real time.

#include "analysis/LevelMeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "tests/analysis/Iec61672Table.h"

namespace {

double Db(double d) {
    return 10.0 * std::log10(d);
}

// Feeds a meter with samples a generator gives for sample indices from nFirst on.
template <typename Signal> void Play(CLevelMeter& meter, long nFirst, long nCount, Signal signal) {
    std::vector<std::int32_t> an(4096);
    for (long i = 0; i < nCount;) {
        const int n = static_cast<int>(std::min<long>(nCount - i, long(an.size())));
        for (int k = 0; k < n; ++k)
            an[std::size_t(k)] = static_cast<std::int32_t>(std::lround(signal(nFirst + i + k)));
        meter.Feed(an.data(), n);
        i += n;
    }
}

auto Sine(double dAmplitude, double dHz, int nRate) {
    return [=](long i) { return dAmplitude * std::sin(2 * std::numbers::pi * dHz * i / nRate); };
}

auto Silence() {
    return [](long) { return 0.0; };
}

// What an A-weighted meter reads: the steady 4 kHz tone's level, and the
// maximum for a burst of it dMs long after silence.
double SteadyLevel(int nRate, bool bSlow) {
    CLevelMeter meter;
    meter.Configure(EWeighting::A, nRate);
    meter.SetSlow(bSlow);
    Play(meter, 0, 8L * nRate, Sine(10000.0, 4000.0, nRate));
    return meter.Figures().dLevel;
}

double BurstMaximum(int nRate, bool bSlow, double dMs) {
    CLevelMeter meter;
    meter.Configure(EWeighting::A, nRate);
    meter.SetSlow(bSlow);
    Play(meter, 0, nRate / 10, Silence());
    Play(meter, 0, std::lround(dMs * 1e-3 * nRate), Sine(10000.0, 4000.0, nRate));
    Play(meter, 0, nRate / 10, Silence());
    return meter.Figures().dMax;
}

} // namespace

// Table 4's bursts on Fast and Slow, at both rates of the standard's tests;
// the bursts start and end where they fall, as a generator's would.
TEST(LevelMeter, ToneBurstsReadAsTheStandardsTable) {
    for (int nRate : {44100, 48000}) {
        for (bool bSlow : {false, true}) {
            const double dSteady = SteadyLevel(nRate, bSlow);
            for (const SToneBurstRow& row : kIec61672Table4) {
                const double dExpected = bSlow ? row.dSlow : row.dFast;
                const double dRead = Db(BurstMaximum(nRate, bSlow, row.dMs) / dSteady);
                EXPECT_LE(dRead - dExpected, row.dUpper)
                    << nRate << " Hz, " << row.dMs << " ms, " << (bSlow ? "Slow" : "Fast");
                EXPECT_GE(dRead - dExpected, row.dLower)
                    << nRate << " Hz, " << row.dMs << " ms, " << (bSlow ? "Slow" : "Fast");
            }
        }
    }
}

// Table 3 at every rate the program records at, up to 90 % of half the rate:
// steady sines of whole periods, each re the meter's reading at 1 kHz.
TEST(LevelMeter, WeightingsReadAsTheStandardsTableAtEveryRate) {
    for (int nRate : {8000, 11025, 22050, 44100, 48000, 96000}) {
        for (EWeighting w : {EWeighting::A, EWeighting::C, EWeighting::Z}) {
            auto LeqDb = [&](double dHz) {
                CLevelMeter meter;
                meter.Configure(w, nRate);
                const auto tone = Sine(16000.0, dHz, nRate);
                Play(meter, 0, nRate / 2, tone);
                meter.Reset();
                const long nPeriods = std::max(1L, std::lround(dHz));
                Play(meter, nRate / 2, std::lround(nPeriods * nRate / dHz), tone);
                return Db(meter.Figures().dLeq);
            };
            const double dAt1k = LeqDb(1000.0);
            for (const SIec61672Row& row : kIec61672Table3) {
                if (row.Hz() > 0.45 * nRate) {
                    break;
                }
                const double dNominal = w == EWeighting::A   ? row.dA
                                        : w == EWeighting::C ? row.dC
                                                             : 0;
                const double dDeviation = LeqDb(row.Hz()) - dAt1k - dNominal;
                EXPECT_LE(dDeviation, row.dUpper)
                    << nRate << " Hz, " << WeightingLetter(w) << ", " << row.Hz() << " Hz";
                EXPECT_GE(dDeviation, row.dLower)
                    << nRate << " Hz, " << WeightingLetter(w) << ", " << row.Hz() << " Hz";
            }
        }
    }
}

// After the input stops, level and peak fall 10 lg(e) / tau dB per second:
// 34.7 on Fast, 4.34 on Slow (the standard asks at least 25 on Fast, and 3.4
// to 5.3 on Slow).
TEST(LevelMeter, FallsAtTheTimeWeightingsRate) {
    constexpr int kRate = 48000;
    for (auto [bSlow, dSeconds, dRate] : {std::tuple{false, 0.5, 34.74}, {true, 3.0, 4.343}}) {
        CLevelMeter meter;
        meter.SetSlow(bSlow);
        meter.Configure(EWeighting::Z, kRate);
        Play(meter, 0, 10L * kRate, Sine(3277.0, 1000.0, kRate)); // -20 dB
        const SMeterFigures before = meter.Figures();
        EXPECT_NEAR(Db(before.dLevel), -20.0, 0.05);
        EXPECT_NEAR(Db(before.dPeak), -20.0, 0.05); // a sine's peak reads as its RMS
        Play(meter, 0, std::lround(dSeconds * kRate), Silence());
        const SMeterFigures after = meter.Figures();
        EXPECT_NEAR(Db(before.dLevel / after.dLevel) / dSeconds, dRate, 0.05) << bSlow;
        EXPECT_NEAR(Db(before.dPeak / after.dPeak) / dSeconds, dRate, 0.05) << bSlow;
    }
}

// The energy over the time metered: a gap neither dilutes Leq nor counts as
// sound, and Reset starts Leq, maximum and gaps anew.
TEST(LevelMeter, LeqIsTheEnergyOverTheTimeMeteredAndGapsStayOutOfIt) {
    constexpr int kRate = 8000;
    CLevelMeter meter;
    meter.Configure(EWeighting::Z, kRate);
    EXPECT_FALSE(meter.Figures().bValid);
    Play(meter, 0, kRate, Sine(10362.0, 500.0, kRate));         // -10 dB
    Play(meter, kRate, 2L * kRate, Sine(1036.2, 500.0, kRate)); // -30 dB
    const double dLeq = Db((0.1 + 2 * 0.001) / 3.0);
    EXPECT_NEAR(Db(meter.Figures().dLeq), dLeq, 0.02);
    EXPECT_NEAR(Db(meter.Figures().dMax), -10.0, 0.02);
    meter.AddGap(30.0);
    EXPECT_NEAR(Db(meter.Figures().dLeq), dLeq, 0.02);
    EXPECT_EQ(meter.Figures().dGapSeconds, 30.0);

    meter.Reset();
    EXPECT_EQ(meter.Figures().dGapSeconds, 0.0);
    EXPECT_NEAR(Db(meter.Figures().dLeq), -30.0, 0.02); // nothing since: the running level
    Play(meter, 3L * kRate, kRate / 2, Sine(1036.2, 500.0, kRate));
    EXPECT_NEAR(Db(meter.Figures().dLeq), -30.0, 0.02);
    EXPECT_NEAR(Db(meter.Figures().dMax), -30.0, 0.02);
}

// An interface's DC offset is no sound: Z takes it off (from the first sample
// on), as A and C do, and 10 Hz stays.
TEST(LevelMeter, ADcOffsetDoesNotMoveTheLevel) {
    constexpr int kRate = 44100;
    for (EWeighting w : {EWeighting::Z, EWeighting::A, EWeighting::C}) {
        CLevelMeter meter;
        meter.Configure(w, kRate);
        const auto tone = Sine(32.77, 1000.0, kRate); // -60 dB
        Play(meter, 0, kRate, [&](long i) { return 3000.0 + tone(i); });
        EXPECT_NEAR(Db(meter.Figures().dLeq), -60.0, 0.1) << WeightingLetter(w);
        EXPECT_NEAR(Db(meter.Figures().dMax), -60.0, 0.1) << WeightingLetter(w);
    }
}

// AES17: a full-scale square wave's RMS is +3 dB, its peak full scale, and a
// feed that reaches full scale is counted.
TEST(LevelMeter, ASquareReadsPlusThreeAndItsPeakIsFullScale) {
    constexpr int kRate = 48000;
    CLevelMeter meter;
    meter.Configure(EWeighting::Z, kRate);
    Play(meter, 0, kRate, [](long i) { return (i / 24) % 2 == 0 ? 32767.0 : -32768.0; });
    EXPECT_NEAR(Db(meter.Figures().dLevel), Db(2.0), 0.05);
    EXPECT_NEAR(Db(meter.Figures().dPeak), 0.0, 0.02); // held from its last full-scale sample
    const long long nClipped = meter.ClippedFeeds();
    EXPECT_GT(nClipped, 0);
    Play(meter, 0, kRate / 10, Sine(100.0, 1000.0, kRate));
    EXPECT_EQ(meter.ClippedFeeds(), nClipped);
}
