#include "analysis/PeakTracker.h"

#include "analysis/AnalysisChannel.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include <cmath>
#include <iostream>
#include <random>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Which bins are searched

TEST(PeakSearchBins, DefaultSpanAt44100With4096Points) {
    const SPeakBins bins = PeakSearchBins(4096, 44100, 40, 16000);
    EXPECT_EQ(bins.loBin, 4);
    EXPECT_EQ(bins.hiBin, 1486);
}

TEST(PeakSearchBins, UpperEdgeAboveNyquistStopsAtHalfTheSize) {
    const SPeakBins bins = PeakSearchBins(4096, 8000, 100, 20000);
    EXPECT_EQ(bins.hiBin, 2048);
    std::vector<double> power(4096, 1.0);
    power[2047] = 5.0;
    power[2048] = 9.0; // hiBin itself is never searched
    EXPECT_EQ(FindStrongestBin(power.data(), bins), 2047);
}

TEST(PeakSearchBins, InvertedOrEmptySpanSearchesTwoBins) {
    for (auto [low, high] : {std::pair{5000, 1000}, std::pair{1000, 1000}}) {
        const SPeakBins bins = PeakSearchBins(4096, 44100, low, high);
        EXPECT_EQ(bins.loBin, bins.hiBin - 2) << low << "-" << high;
    }
    // The floors: never below bin 2, never an upper bin below 6.
    const SPeakBins tiny = PeakSearchBins(1024, 44100, 0, 0);
    EXPECT_EQ(tiny.hiBin, 6);
    EXPECT_EQ(tiny.loBin, 2);
    const SPeakBins low = PeakSearchBins(1024, 44100, 0, 2000);
    EXPECT_EQ(low.loBin, 2);
}

// ---------------------------------------------------------------------------
// The strongest bin

int PlainScan(const std::vector<double>& p, SPeakBins bins) {
    double best = 0.0;
    int bestBin = 0;
    for (int i = bins.loBin; i < bins.hiBin; ++i)
        if (p[i] > best) {
            best = p[i];
            bestBin = i;
        }
    return bestBin;
}

TEST(FindStrongestBin, FourAtATimeAgreesWithPlainScan) {
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> level(0, 6); // few levels: many ties
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<double> p(64);
        for (double& v : p)
            v = level(rng);
        const int lo = 2 + trial % 9;
        const int hi = lo + trial % 23; // includes 0 to 3 bins: no four-block at all
        const SPeakBins bins{lo, hi};
        ASSERT_EQ(FindStrongestBin(p.data(), bins), PlainScan(p, bins)) << lo << ".." << hi;
    }
}

TEST(FindStrongestBin, FirstOfEqualMaximaWinsAndSilenceGivesBinZero) {
    std::vector<double> p(32, 0.0);
    EXPECT_EQ(FindStrongestBin(p.data(), {4, 20}), 0);
    p[9] = p[13] = p[17] = 3.0;
    EXPECT_EQ(FindStrongestBin(p.data(), {4, 20}), 9);
}

// ---------------------------------------------------------------------------
// Bracket and bisection

TEST(PeakBracket, LowerNeighbourStrongerPutsBracketBelowTheBin) {
    std::vector<double> p(4096, 0.0);
    p[99] = 5.0;
    p[100] = 10.0;
    p[101] = 4.0;
    const SPeakBracket b = PeakBracket(p.data(), 100, 4096, 44100);
    EXPECT_EQ(b.hi, 1076.66015625);
    // Midway to bin 99 at 1065.8935546875 Hz, not to that frequency truncated.
    EXPECT_EQ(b.lo, 1071.27685546875);
}

TEST(PeakBracket, StaysOnTheStrongSideWhenBinsAreNarrowerThanOneHertz) {
    // 8000 Hz, 16384 points: 0.48828125 Hz per bin.
    std::vector<double> p(16384, 1.0);
    p[4422] = 10.0;
    p[4423] = 5.0;
    const SPeakBracket up = PeakBracket(p.data(), 4422, 16384, 8000);
    EXPECT_EQ(up.lo, 4422 * 0.48828125);
    EXPECT_EQ(up.hi, 4422.5 * 0.48828125);
    p[4421] = 6.0;
    const SPeakBracket down = PeakBracket(p.data(), 4422, 16384, 8000);
    EXPECT_EQ(down.lo, 4421.5 * 0.48828125);
    EXPECT_EQ(down.hi, 4422 * 0.48828125);
}

TEST(PeakBracket, EqualNeighboursPutBracketAboveTheBin) {
    std::vector<double> p(4096, 1.0);
    p[100] = 10.0;
    const SPeakBracket b = PeakBracket(p.data(), 100, 4096, 44100);
    EXPECT_EQ(b.lo, 1076.66015625);
    EXPECT_EQ(b.hi, (1087.4267578125 + 1076.66015625) * 0.5);
}

TEST(RefinePeak, TenStepsShrinkTheBracketBy1024AndStayInside) {
    const SPeakBracket start{1071.27685546875, 1076.66015625};
    int evaluations = 0;
    // A magnitude that peaks at 1073 Hz inside the bracket.
    auto magnitude = [&](double hz) {
        ++evaluations;
        return 1.0 / (1.0 + (hz - 1073.0) * (hz - 1073.0));
    };
    const SPeakBracket end = RefinePeak(magnitude, start);
    EXPECT_EQ(evaluations, 12);
    EXPECT_EQ(end.hi - end.lo, 5.38330078125 / 1024);
    EXPECT_GE(end.lo, start.lo);
    EXPECT_LE(end.hi, start.hi);
    EXPECT_LE(end.lo, 1073.0);
    EXPECT_GE(end.hi, 1073.0);
}

TEST(RefinePeak, TiesMoveTheLowerEnd) {
    int evaluations = 0;
    const SPeakBracket end = RefinePeak(
        [&](double) {
            ++evaluations;
            return 0.0;
        },
        SPeakBracket{0.0, 5.0});
    EXPECT_EQ(evaluations, 12);
    EXPECT_EQ(end.hi, 5.0);
    EXPECT_EQ(end.lo, 5.0 - 5.0 / 1024);
}

// Two evaluations at a time give the very brackets of one at a time, with
// the same twelve evaluations, ties included.
TEST(RefinePeak, InPairsGivesTheBracketOfOneAtATime) {
    std::mt19937 rng(9);
    std::uniform_int_distribution<int> level(0, 3); // coarse: ties come often
    for (int nCase = 0; nCase < 200; ++nCase) {
        std::map<double, double> values;
        auto magnitude = [&](double hz) {
            auto [it, bNew] = values.try_emplace(hz, level(rng));
            return it->second;
        };
        const SPeakBracket start{1000.0 + nCase, 1005.5 + nCase};
        int nPaired = 0;
        const SPeakBracket one = RefinePeak(magnitude, start);
        const SPeakBracket two = RefinePeakInPairs(
            [&](double hz1, double hz2, double& e1, double& e2) {
                nPaired += 2;
                e1 = magnitude(hz1);
                e2 = magnitude(hz2);
            },
            start);
        EXPECT_EQ(one.lo, two.lo) << nCase;
        EXPECT_EQ(one.hi, two.hi) << nCase;
        EXPECT_EQ(nPaired, 12);
    }
}

// ---------------------------------------------------------------------------
// The whole step on a channel

class TrackPeakOnChannel : public ::testing::Test {
protected:
    // A channel of N points at `rate` holding a steady 16-bit tone at `hz`.
    static void SetUpTone(CAnalysisChannel& chan, int n, int rate, double hz, int windowType) {
        chan.m_nWindowType = windowType;
        ASSERT_TRUE(chan.Setup(n, static_cast<double>(n) / rate));
        for (int i = 0; i < n; ++i)
            chan.GetSamples()[i] =
                static_cast<int32_t>(std::lround(12000.0 * std::sin(2 * M_PI * hz * i / rate)));
    }
};

TEST_F(TrackPeakOnChannel, SilenceClimbsTowardsHalfTheFirstBin) {
    CAnalysisChannel chan;
    ASSERT_TRUE(chan.Setup(4096, 4096 / 44100.0));
    chan.Transform();
    TrackPeak(chan, 4096, 44100, 40, 16000);
    // v = 0: the bracket runs from 0 to half of bin 1; every tie moves the
    // lower end, which ends 1/1024 of the bracket below the upper one.
    const double hi = 44100.0 / 4096 / 2;
    const double lo = hi - hi / 1024;
    EXPECT_DOUBLE_EQ(chan.m_dPeakHz.load(), (lo + hi) * 0.05);
}

TEST_F(TrackPeakOnChannel, SmoothingApproachesByOneTenthPerPass) {
    CAnalysisChannel chan;
    SetUpTone(chan, 4096, 44100, 1000.0, 2);
    std::vector<double> track;
    for (int pass = 0; pass < 30; ++pass) {
        chan.Transform();
        TrackPeak(chan, 4096, 44100, 40, 16000);
        track.push_back(chan.m_dPeakHz.load());
    }
    const double target = track.back() / (1 - std::pow(0.9, 30));
    // Each pass closes a tenth of the remaining distance.
    for (size_t i = 1; i < track.size(); ++i)
        EXPECT_NEAR(target - track[i], 0.9 * (target - track[i - 1]), 1e-9 * target) << i;
    EXPECT_NEAR(target, 1000.0, 0.02 * 44100 / 4096);
}

TEST_F(TrackPeakOnChannel, ToneOutsideTheSpanIsNotTracked) {
    CAnalysisChannel chan;
    SetUpTone(chan, 4096, 44100, 5000.0, 2);
    chan.Transform();
    for (int pass = 0; pass < 100; ++pass)
        TrackPeak(chan, 4096, 44100, 40, 3000);
    EXPECT_LT(chan.m_dPeakHz.load(), 3000.0);
}

// After 200 passes of a steady tone the tracked value lies within 0.02 bin of
// the tone, for every rate and size, at random frequencies.
TEST_F(TrackPeakOnChannel, ConvergesOnPureTonesAtEveryRateAndSize) {
    std::mt19937 rng(2026);
    double worstBins = 0.0;
    std::string worstCase;
    for (int rate : {8000, 11025, 22050, 44100}) {
        for (int n : {1024, 2048, 4096, 8192, 16384}) {
            std::uniform_real_distribution<double> bin(20.0, n / 2.0 - 20.0);
            for (int trial = 0; trial < 3; ++trial) {
                const double hz = bin(rng) * rate / n;
                CAnalysisChannel chan;
                SetUpTone(chan, n, rate, hz, 2);
                for (int pass = 0; pass < 200; ++pass) {
                    chan.Transform();
                    TrackPeak(chan, n, rate, 0, rate);
                }
                const double errBins = std::fabs(chan.m_dPeakHz.load() - hz) * n / rate;
                if (errBins > worstBins) {
                    worstBins = errBins;
                    worstCase = std::to_string(rate) + " Hz, N " + std::to_string(n) + ", " +
                                std::to_string(hz) + " Hz";
                }
                EXPECT_LT(errBins, 0.02) << rate << " Hz, N " << n << ", tone " << hz;
            }
        }
    }
    std::cout << "worst tracking error: " << worstBins << " bin (" << worstCase << ")\n";
    RecordProperty("worst_tracking_error_bins", std::to_string(worstBins));
}

} // namespace
