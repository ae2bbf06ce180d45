// The loudness meter as EBU R128 defines one: the K weighting of BS.1770,
// momentary, short-term and gated integrated loudness, the loudness range
// of EBU Tech 3342 and the true peak. EBU Tech 3341's and 3342's cases are
// synthesised here at both of the program's usual rates, with their
// tolerances, and fed to the meter directly, far faster than real time.
// Their levels are a sine's RMS re a full-scale sine: a 1 kHz sine at
// -23 dBFS in both channels reads -23 LUFS.

#include "analysis/loudness/LoudnessHistogram.h"
#include "analysis/loudness/LoudnessMeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kRates[] = {48000, 44100};

struct STone {
    double dSeconds;
    double dDbfs;
    int nHz = 1000;
    double dPhaseDegrees = 0.0;
};

// One repeat of a tone's 16-bit samples: its frequency and the rate meet
// again after rate / gcd(rate, frequency) samples.
std::vector<std::int32_t> Cycle(const STone& tone, int nRate) {
    const int nLength = nRate / std::gcd(nRate, tone.nHz);
    const double dAmplitude = CLoudnessMeter::kFullScale * std::pow(10.0, tone.dDbfs / 20.0);
    const double dPhase = tone.dPhaseDegrees * std::numbers::pi / 180.0;
    std::vector<std::int32_t> an(std::size_t(nLength), 0);
    for (int i = 0; i < nLength; ++i) {
        const double d =
            dAmplitude * std::sin(2 * std::numbers::pi * tone.nHz * i / nRate + dPhase);
        an[std::size_t(i)] = std::int32_t(std::clamp(std::lround(d), -32768L, 32767L));
    }
    return an;
}

// Plays tones one after another in both channels, the sine's phase running
// on from one to the next, and hands the figures to look(seconds played,
// figures) every dEverySeconds.
template <typename Look>
void Play(CLoudnessMeter& meter, int nRate, const std::vector<STone>& tones, double dEverySeconds,
          Look look) {
    const long nStep = dEverySeconds > 0.0 ? std::lround(dEverySeconds * nRate) : 0;
    long nNextLook = nStep > 0 ? nStep : -1;
    std::vector<std::int32_t> an(4096);
    long nPlayed = 0;
    for (const STone& tone : tones) {
        const std::vector<std::int32_t> cycle = Cycle(tone, nRate);
        const long nEnd = nPlayed + std::lround(tone.dSeconds * nRate);
        std::size_t j = std::size_t(nPlayed % long(cycle.size()));
        while (nPlayed < nEnd) {
            long n = std::min(nEnd - nPlayed, long(an.size()));
            if (nNextLook > 0) {
                n = std::min(n, nNextLook - nPlayed);
            }
            for (long k = 0; k < n; ++k) {
                an[std::size_t(k)] = cycle[j];
                j = j + 1 == cycle.size() ? 0 : j + 1;
            }
            meter.Feed(an.data(), an.data(), int(n));
            nPlayed += n;
            if (nPlayed == nNextLook) {
                look(double(nPlayed) / nRate, meter.Figures());
                nNextLook += nStep;
            }
        }
    }
}

void Play(CLoudnessMeter& meter, int nRate, const std::vector<STone>& tones) {
    Play(meter, nRate, tones, 0.0, [](double, const SLoudnessFigures&) {});
}

SLoudnessFigures Measure(int nRate, const std::vector<STone>& tones) {
    CLoudnessMeter meter;
    meter.Configure(nRate);
    Play(meter, nRate, tones);
    return meter.Figures();
}

// A figure that must have a value near dExpected.
void ExpectNear(const std::optional<double>& o, double dExpected, double dTolerance,
                const std::string& strWhat) {
    ASSERT_TRUE(o.has_value()) << strWhat;
    EXPECT_NEAR(*o, dExpected, dTolerance) << strWhat;
}

// A stage's gain in dB at dHz, the sine measured over whole periods once the
// filter has settled.
double MeasuredGainDb(int nRate, double dHz) {
    CKWeighting k;
    k.Design(nRate);
    const auto x = [&](long i) { return std::sin(2 * std::numbers::pi * dHz * double(i) / nRate); };
    long i = 0;
    for (; i < nRate / 2; ++i) {
        k.Process(x(i));
    }
    const long nPeriods = std::max(1L, std::lround(dHz / 2));
    const long nCount = std::lround(double(nPeriods) * nRate / dHz);
    double dSquares = 0.0;
    for (const long nEnd = i + nCount; i < nEnd; ++i) {
        const double y = k.Process(x(i));
        dSquares += y * y;
    }
    return 10.0 * std::log10(2.0 * dSquares / double(nCount));
}

std::string At(int nRate, const std::string& strCase) {
    return std::to_string(nRate) + " Hz, " + strCase;
}

} // namespace

// BS.1770's table at 48 kHz, which the prototypes must reproduce.
TEST(LoudnessKWeighting, CoefficientsAt48kHzAreTheStandardsTable) {
    CKWeighting k;
    k.Design(48000);
    const SBiquadCoefficients& s = k.Shelf();
    EXPECT_NEAR(s.b0, 1.53512485958697, 1e-6);
    EXPECT_NEAR(s.b1, -2.69169618940638, 1e-6);
    EXPECT_NEAR(s.b2, 1.19839281085285, 1e-6);
    EXPECT_NEAR(s.a1, -1.69065929318241, 1e-6);
    EXPECT_NEAR(s.a2, 0.73248077421585, 1e-6);
    const SBiquadCoefficients& h = k.HighPass();
    EXPECT_NEAR(h.b0, 1.0, 1e-6);
    EXPECT_NEAR(h.b1, -2.0, 1e-6);
    EXPECT_NEAR(h.b2, 1.0, 1e-6);
    EXPECT_NEAR(h.a1, -1.99004745483398, 1e-6);
    EXPECT_NEAR(h.a2, 0.99007225036621, 1e-6);
}

// The same curve at 44.1 kHz as at 48 kHz: the table's coefficients used at
// 44.1 kHz would move it by up to 1.1 dB over these frequencies.
TEST(LoudnessKWeighting, ResponseAt44100HzFollowsThatAt48000Hz) {
    for (double dHz : {20.0, 40.0, 100.0, 500.0, 1000.0, 1500.0, 3000.0, 10000.0}) {
        EXPECT_NEAR(MeasuredGainDb(44100, dHz), MeasuredGainDb(48000, dHz), 0.01) << dHz << " Hz";
    }
}

// Tech 3341's first two cases: a steady tone reads its level on every figure.
TEST(LoudnessMeter, SteadyTonesReadTheirLevel) {
    for (int nRate : kRates) {
        for (double dDbfs : {-23.0, -33.0}) {
            const SLoudnessFigures f = Measure(nRate, {{20.0, dDbfs}});
            const std::string strCase = At(nRate, std::to_string(dDbfs) + " dBFS");
            ExpectNear(f.oMomentary, dDbfs, 0.1, strCase + ", M");
            ExpectNear(f.oShortTerm, dDbfs, 0.1, strCase + ", S");
            ExpectNear(f.oIntegrated, dDbfs, 0.1, strCase + ", I");
            ExpectNear(f.oMaxMomentary, dDbfs, 0.1, strCase + ", max M");
            ExpectNear(f.oMaxShortTerm, dDbfs, 0.1, strCase + ", max S");
        }
    }
}

// Tech 3341's gating cases: quieter parts fall under the relative gate,
// those under -70 LUFS under the absolute one, and a louder part between two
// quieter ones is weighed by its energy.
TEST(LoudnessMeter, IntegratedLoudnessIsGated) {
    const std::vector<std::vector<STone>> cases = {
        {{10.0, -36.0}, {60.0, -23.0}, {10.0, -36.0}},
        {{10.0, -72.0}, {10.0, -36.0}, {60.0, -23.0}, {10.0, -36.0}, {10.0, -72.0}},
        {{20.0, -26.0}, {20.1, -20.0}, {20.0, -26.0}},
    };
    for (int nRate : kRates) {
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const SLoudnessFigures f = Measure(nRate, cases[i]);
            ExpectNear(f.oIntegrated, -23.0, 0.1, At(nRate, "case " + std::to_string(i)));
        }
    }
}

// Tech 3341's window cases: levels alternating with the window's own period
// read as their mean, the same wherever the window falls.
TEST(LoudnessMeter, ShortTermAndMomentaryHoldOnLevelsAlternatingWithTheirWindow) {
    for (int nRate : kRates) {
        CLoudnessMeter shortTerm;
        shortTerm.Configure(nRate);
        std::vector<STone> tones;
        for (int i = 0; i < 5; ++i) {
            tones.insert(tones.end(), {{1.34, -20.0}, {1.66, -30.0}});
        }
        int nLooks = 0;
        Play(shortTerm, nRate, tones, 0.1, [&](double dSeconds, const SLoudnessFigures& f) {
            if (dSeconds >= 3.0 - 1e-9) {
                ExpectNear(f.oShortTerm, -23.0, 0.1, At(nRate, "S at " + std::to_string(dSeconds)));
                ++nLooks;
            }
        });
        EXPECT_EQ(nLooks, 121);

        CLoudnessMeter momentary;
        momentary.Configure(nRate);
        tones.clear();
        for (int i = 0; i < 25; ++i) {
            tones.insert(tones.end(), {{0.18, -20.0}, {0.22, -30.0}});
        }
        nLooks = 0;
        Play(momentary, nRate, tones, 0.1, [&](double dSeconds, const SLoudnessFigures& f) {
            if (dSeconds >= 1.0 - 1e-9) {
                ExpectNear(f.oMomentary, -23.0, 0.1, At(nRate, "M at " + std::to_string(dSeconds)));
                ++nLooks;
            }
        });
        EXPECT_EQ(nLooks, 91);
    }
}

// Tech 3341's true-peak cases: a sine at a quarter of the rate peaking at
// half full scale (-6 dBFS), whose samples fall on its peaks at 0 degrees
// and 3 dB below them at 45; only the interpolation finds the latter.
TEST(LoudnessTruePeak, FindsThePeakBetweenSamples) {
    const double dHalfScaleDb = 20.0 * std::log10(0.5);
    for (int nRate : kRates) {
        for (double dPhase : {0.0, 45.0}) {
            const STone tone{1.0, dHalfScaleDb, nRate / 4, dPhase};
            const std::string strCase = At(nRate, std::to_string(dPhase) + " degrees");
            if (dPhase == 45.0) {
                const std::vector<std::int32_t> cycle = Cycle(tone, nRate);
                for (std::int32_t n : cycle) {
                    EXPECT_LE(20.0 * std::log10(std::abs(n) / 32768.0), -9.0) << strCase;
                }
            }
            const SLoudnessFigures f = Measure(nRate, {tone});
            for (const std::optional<double>& oPeak : f.aoTruePeak) {
                ASSERT_TRUE(oPeak.has_value()) << strCase;
                EXPECT_LE(*oPeak, -6.0 + 0.2) << strCase;
                EXPECT_GE(*oPeak, -6.0 - 0.4) << strCase;
            }
        }
    }
}

// Tech 3342's cases: the range between the 10th and the 95th percentile of
// the short-term levels above the gates; it settles after a minute.
TEST(LoudnessMeter, RangeIsTheSpreadOfShortTermLevels) {
    struct SCase {
        std::vector<STone> tones;
        double dRange;
    };
    const std::vector<SCase> cases = {
        {{{20.0, -20.0}, {20.0, -30.0}}, 10.0},
        {{{20.0, -20.0}, {20.0, -15.0}}, 5.0},
        {{{20.0, -40.0}, {20.0, -20.0}}, 20.0},
        {{{20.0, -50.0}, {20.0, -35.0}, {20.0, -20.0}, {20.0, -35.0}, {20.0, -50.0}}, 15.0},
    };
    for (int nRate : kRates) {
        for (const SCase& c : cases) {
            const SLoudnessFigures f = Measure(nRate, c.tones);
            const std::string strCase = At(nRate, std::to_string(c.dRange) + " LU");
            ExpectNear(f.oRange, c.dRange, 1.0, strCase);
            EXPECT_EQ(f.bRangeSettled, f.dMeasuredSeconds >= 60.0) << strCase;
        }
    }
}

// Values binned 0.01 LU wide gate and rank as the values themselves would, to
// within a bin.
TEST(LoudnessHistogram, GatesAndPercentilesAreWithinABinOfTheValuesOwn) {
    std::mt19937 random(1770);
    std::uniform_real_distribution<double> loudness(-90.0, 5.0);
    CLoudnessHistogram histogram;
    histogram.Allocate();
    std::vector<double> adLoudness;
    for (int i = 0; i < 20000; ++i) {
        const double d = loudness(random);
        histogram.Add(std::pow(10.0, (d + 0.691) / 10.0));
        if (d > -70.0) {
            adLoudness.push_back(d);
        }
    }
    const auto Above = [&](double dRelative) {
        double dMean = 0.0;
        for (double d : adLoudness) {
            dMean += std::pow(10.0, (d + 0.691) / 10.0) / double(adLoudness.size());
        }
        std::vector<double> adAbove;
        std::copy_if(adLoudness.begin(), adLoudness.end(), std::back_inserter(adAbove),
                     [&](double d) { return d > LoudnessOf(dMean) + dRelative; });
        std::sort(adAbove.begin(), adAbove.end());
        return adAbove;
    };
    const std::vector<double> adGated = Above(-10.0);
    double dMean = 0.0;
    for (double d : adGated) {
        dMean += std::pow(10.0, (d + 0.691) / 10.0) / double(adGated.size());
    }
    ASSERT_TRUE(histogram.GatedLoudness(-10.0).has_value());
    EXPECT_NEAR(*histogram.GatedLoudness(-10.0), LoudnessOf(dMean), 0.01);

    const std::vector<double> adRanged = Above(-20.0);
    const auto Rank = [&](double p) {
        return adRanged[std::size_t(std::lround(double(adRanged.size() - 1) * p))];
    };
    ASSERT_TRUE(histogram.Range(-20.0, 0.1, 0.95).has_value());
    EXPECT_NEAR(*histogram.Range(-20.0, 0.1, 0.95), Rank(0.95) - Rank(0.1), 0.01);
}

// A gap is counted and left out: the windows start afresh after it, so that
// no gating block spans it; a run of T seconds then gives 10 T - 3 blocks.
TEST(LoudnessMeter, AGapRestartsTheWindowsAndNoBlockSpansIt) {
    for (int nRate : kRates) {
        CLoudnessMeter meter;
        meter.Configure(nRate);
        Play(meter, nRate, {{1.0, -20.0}});
        meter.AddGap(1.5);
        SLoudnessFigures f = meter.Figures();
        EXPECT_FALSE(f.oMomentary.has_value()) << nRate;
        EXPECT_FALSE(f.oShortTerm.has_value()) << nRate;
        EXPECT_EQ(f.dGapSeconds, 1.5) << nRate;
        Play(meter, nRate, {{0.3, -30.0}});
        EXPECT_FALSE(meter.Figures().oMomentary.has_value()) << nRate;
        Play(meter, nRate, {{0.1, -30.0}});
        ExpectNear(meter.Figures().oMomentary, -30.0, 0.1, At(nRate, "M 400 ms after the gap"));
        Play(meter, nRate, {{1.6, -30.0}});
        f = meter.Figures();
        EXPECT_FALSE(f.oShortTerm.has_value()) << nRate;
        EXPECT_NEAR(f.dMeasuredSeconds, 3.0, 1e-9) << nRate;

        const double dBefore = 10.0 * 1.0 - 3.0;
        const double dAfter = 10.0 * 2.0 - 3.0;
        const double dEnergy = dBefore * std::pow(10.0, -2.0) + dAfter * std::pow(10.0, -3.0);
        ExpectNear(f.oIntegrated, 10.0 * std::log10(dEnergy / (dBefore + dAfter)), 0.05,
                   At(nRate, "I across the gap"));
    }
}

// Reset starts the measurement anew: what came before, even in a window
// still open, counts no more; the momentary and short-term levels go on.
TEST(LoudnessMeter, ResetForgetsWhatCameBefore) {
    for (int nRate : kRates) {
        CLoudnessMeter meter;
        meter.Configure(nRate);
        Play(meter, nRate, {{5.05, -20.0}});
        meter.AddGap(0.5);
        Play(meter, nRate, {{5.05, -20.0}});
        meter.Reset();
        SLoudnessFigures f = meter.Figures();
        EXPECT_FALSE(f.oIntegrated || f.oRange || f.oMaxMomentary || f.oMaxShortTerm) << nRate;
        EXPECT_FALSE(f.TruePeak().has_value()) << nRate;
        EXPECT_EQ(f.dGapSeconds, 0.0) << nRate;
        EXPECT_EQ(f.dMeasuredSeconds, 0.0) << nRate;
        ExpectNear(f.oMomentary, -20.0, 0.1, At(nRate, "M on"));
        ExpectNear(f.oShortTerm, -20.0, 0.1, At(nRate, "S on"));

        // The sub-block under way at the reset began before it: the first
        // block wholly after it ends 450 ms later.
        Play(meter, nRate, {{0.4, -30.0}});
        EXPECT_FALSE(meter.Figures().oIntegrated.has_value()) << nRate;
        Play(meter, nRate, {{4.6, -30.0}});
        f = meter.Figures();
        ExpectNear(f.oIntegrated, -30.0, 0.05, At(nRate, "I"));
        ExpectNear(f.oMaxMomentary, -30.0, 0.05, At(nRate, "max M"));
        ExpectNear(f.oMaxShortTerm, -30.0, 0.05, At(nRate, "max S"));
        ExpectNear(f.oRange, 0.0, 0.05, At(nRate, "LRA"));
        ExpectNear(f.TruePeak(), -30.0, 0.1, At(nRate, "TP"));

        // A restart forgets the windows too: no momentary value until 400 ms
        // of the new sound, which alone it then reads.
        meter.Restart();
        Play(meter, nRate, {{0.3, -40.0}});
        EXPECT_FALSE(meter.Figures().oMomentary.has_value()) << nRate;
        Play(meter, nRate, {{0.2, -40.0}});
        ExpectNear(meter.Figures().oMomentary, -40.0, 0.1, At(nRate, "M after a restart"));
    }
}

// No figure without the sound it needs: a full window for M and S, a block
// above -70 LUFS for the integrated loudness and the range.
TEST(LoudnessMeter, FiguresWithoutEnoughSoundHaveNoValue) {
    for (int nRate : kRates) {
        CLoudnessMeter meter;
        meter.Configure(nRate);
        SLoudnessFigures f = meter.Figures();
        EXPECT_FALSE(f.oMomentary || f.oShortTerm || f.oIntegrated || f.oRange) << nRate;
        EXPECT_FALSE(f.TruePeak() || f.bRangeSettled) << nRate;

        Play(meter, nRate, {{0.39, -23.0}});
        f = meter.Figures();
        EXPECT_FALSE(f.oMomentary || f.oIntegrated || f.oMaxMomentary) << nRate;
        ExpectNear(f.TruePeak(), -23.0, 0.1, At(nRate, "TP"));
        Play(meter, nRate, {{2.6, -23.0}});
        f = meter.Figures();
        ExpectNear(f.oMomentary, -23.0, 0.1, At(nRate, "M"));
        ExpectNear(f.oIntegrated, -23.0, 0.1, At(nRate, "I"));
        EXPECT_FALSE(f.oShortTerm || f.oRange || f.oMaxShortTerm) << nRate;

        const SLoudnessFigures quiet = Measure(nRate, {{5.0, -72.0}});
        ASSERT_TRUE(quiet.oShortTerm.has_value()) << nRate;
        EXPECT_LT(*quiet.oShortTerm, CLoudnessHistogram::kAbsoluteGate) << nRate;
        EXPECT_FALSE(quiet.oIntegrated || quiet.oRange) << nRate;
    }
    CLoudnessMeter meter;
    meter.Configure(CLoudnessMeter::kLowestRate / 2);
    Play(meter, CLoudnessMeter::kLowestRate / 2, {{1.0, -23.0}});
    EXPECT_FALSE(meter.Figures().oMomentary.has_value());
}
