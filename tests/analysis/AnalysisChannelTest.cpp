#include "analysis/AnalysisChannel.h"

#include "ReferenceTransform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <new>
#include <random>
#include <thread>

// Failure injection for the channel's allocations: while g_nFailAfter is 0 every
// nothrow array allocation fails; above 0 it counts down the ones that succeed.
namespace {
std::atomic<int> g_nFailAfter{-1};
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    int left = g_nFailAfter.load();
    if (left == 0)
        return nullptr;
    if (left > 0)
        g_nFailAfter.store(left - 1);
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

const int kSizes[] = {1024, 2048, 4096, 8192, 16384};

bool SameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Fills the first `length` samples of both blocks with the same random 16-bit
// values and the rest with zeros, as the acquisition cycle does.
void FillRandomBlock(CAnalysisChannel& chan, SReferenceChannel& ref, int length,
                     std::mt19937& rng) {
    std::uniform_int_distribution<int> dist(-32768, 32767);
    for (int i = 0; i < chan.m_nSize; ++i) {
        const int32_t v = i < length ? dist(rng) : 0;
        chan.GetSamples()[i] = v;
        ref.samples[i] = v;
    }
}

std::vector<long double> WindowedBlock(const CAnalysisChannel& chan) {
    std::vector<long double> x(chan.m_nSize);
    for (int i = 0; i < chan.m_nSize; ++i)
        x[i] = static_cast<long double>(chan.m_pSamples[i]) * chan.m_pWindow[i];
    return x;
}

// ---------------------------------------------------------------------------
// Window tables

class WindowTable : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(chan.Setup(16, 0.25)); }
    CAnalysisChannel chan;
};

TEST_F(WindowTable, RectangularCoversLengthThenZeros) {
    chan.SetWindow(0, 5);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(chan.m_pWindow[i], i < 5 ? 1.0 : 0.0) << "entry " << i;
    EXPECT_EQ(chan.m_nWindowLength.load(), 5);
}

TEST_F(WindowTable, TriangularEvenLengthHasFlatTopOfTwoOnes) {
    chan.SetWindow(1, 8);
    const double expected[] = {0, 0.25, 0.5, 1, 1, 0.5, 0.25, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_DOUBLE_EQ(chan.m_pWindow[i], expected[i]) << "entry " << i;
    for (int i = 8; i < 16; ++i)
        EXPECT_EQ(chan.m_pWindow[i], 0.0);
}

TEST_F(WindowTable, TriangularOddLength) {
    chan.SetWindow(1, 5);
    const double expected[] = {0, 0.4, 0.8, 0.4, 0};
    for (int i = 0; i < 5; ++i)
        EXPECT_DOUBLE_EQ(chan.m_pWindow[i], expected[i]) << "entry " << i;
}

TEST_F(WindowTable, HanningPeaksAtHalfLengthAndIsSymmetric) {
    chan.SetWindow(2, 8);
    EXPECT_EQ(chan.m_pWindow[4], 1.0);
    EXPECT_NEAR(chan.m_pWindow[0], 0.0, 1e-9);
    for (int d = 1; d < 4; ++d)
        EXPECT_NEAR(chan.m_pWindow[4 - d], chan.m_pWindow[4 + d], 1e-9);
    EXPECT_NEAR(chan.m_pWindow[3], 0.8535533906, 1e-9);
}

TEST_F(WindowTable, HammingIsExactlyOneAtCentre) {
    chan.SetWindow(3, 8);
    EXPECT_EQ(chan.m_pWindow[4], 0.45999999999999996 + 0.54);
    EXPECT_EQ(chan.m_pWindow[4], 1.0);
    EXPECT_NEAR(chan.m_pWindow[0], 0.08, 1e-9);
}

TEST_F(WindowTable, LengthZeroCoversAllEntries) {
    chan.SetWindow(0, 3);
    chan.SetWindow(0, 0);
    EXPECT_EQ(chan.m_nWindowLength.load(), 16);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(chan.m_pWindow[i], 1.0);
}

TEST_F(WindowTable, SetupBuildsWindowOfTheChosenTypeOverAllEntries) {
    CAnalysisChannel hann;
    hann.m_nWindowType = 2;
    ASSERT_TRUE(hann.Setup(16, 0.25));
    EXPECT_EQ(hann.m_nWindowLength.load(), 16);
    EXPECT_EQ(hann.m_pWindow[8], 1.0);
    EXPECT_NEAR(hann.m_pWindow[0], 0.0, 1e-9);
}

// ---------------------------------------------------------------------------
// The transform computes exactly what the literal loops compute

struct SBitExactCase {
    int n;
    int windowType;
    bool shortBlock;
};

class TransformBitExact : public ::testing::TestWithParam<SBitExactCase> {};

TEST_P(TransformBitExact, MatchesLiteralLoopsOverSeveralPasses) {
    const SBitExactCase c = GetParam();
    const int length = c.shortBlock ? c.n * 3 / 5 + 1 : c.n;
    CAnalysisChannel chan;
    SReferenceChannel ref;
    chan.m_nWindowType = c.windowType;
    ASSERT_TRUE(chan.Setup(c.n, c.n / 44100.0));
    ref.Setup(c.n, c.n / 44100.0, c.windowType);
    chan.SetWindow(c.windowType, length);
    ref.SetWindow(c.windowType, length);
    ASSERT_EQ(0, std::memcmp(chan.m_pWindow, ref.window.data(), c.n * sizeof(double)));
    for (int i = 0; i < c.n; ++i) {
        ASSERT_TRUE(SameBits(chan.m_pCos[i], ref.cosTable[i])) << i;
        ASSERT_TRUE(SameBits(chan.m_pNegSin[i], ref.negSinTable[i])) << i;
        ASSERT_EQ(chan.m_pBitRev[i], ref.bitRev[i]) << i;
    }

    std::mt19937 rng(1000 * c.n + 10 * c.windowType + c.shortBlock);
    for (int pass = 0; pass < 4; ++pass) {
        const bool pink = pass == 2;
        const int fastAttack = pass % 2;
        const int inertia = 1 + pass;
        chan.m_bPinkToFlat = pink;
        chan.m_bFastAttack = fastAttack;
        chan.m_nInertia = inertia;
        ref.pinkToFlat = pink;
        ref.fastAttack = fastAttack;
        ref.inertia = inertia;
        FillRandomBlock(chan, ref, length, rng);
        chan.Transform();
        ref.Transform();
        for (int i = 0; i < c.n; ++i) {
            ASSERT_TRUE(SameBits(chan.m_pWork[i].re, ref.workRe[i]))
                << "pass " << pass << " bin " << i;
            ASSERT_TRUE(SameBits(chan.m_pWork[i].im, ref.workIm[i]))
                << "pass " << pass << " bin " << i;
            ASSERT_TRUE(SameBits(chan.m_pPower[i], ref.power[i]))
                << "pass " << pass << " bin " << i;
            ASSERT_TRUE(SameBits(chan.m_pHold[i], ref.hold[i])) << "pass " << pass << " bin " << i;
        }
    }
    std::uniform_real_distribution<double> bin(0.0, c.n / 2.0);
    for (int k = 0; k < 5; ++k) {
        const double hz = bin(rng) / chan.m_dBinsPerHz;
        ASSERT_TRUE(SameBits(chan.EvaluateAt(hz), ref.EvaluateAt(hz))) << hz;
    }
}

std::vector<SBitExactCase> AllSizesWindowsAndLengths() {
    std::vector<SBitExactCase> cases;
    for (int n : kSizes)
        for (int w = 0; w < 4; ++w)
            for (bool s : {false, true})
                cases.push_back({n, w, s});
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<SBitExactCase>& info) {
    return "N" + std::to_string(info.param.n) + "_window" + std::to_string(info.param.windowType) +
           (info.param.shortBlock ? "_short" : "_full");
}

INSTANTIATE_TEST_SUITE_P(AllSizes, TransformBitExact,
                         ::testing::ValuesIn(AllSizesWindowsAndLengths()), CaseName);

// ---------------------------------------------------------------------------
// The transform is the DFT

class TransformAccuracy : public ::testing::TestWithParam<SBitExactCase> {};

TEST_P(TransformAccuracy, PowerMatchesDirectDftOfWindowedBlock) {
    const SBitExactCase c = GetParam();
    const int length = c.shortBlock ? c.n / 3 : c.n;
    CAnalysisChannel chan;
    SReferenceChannel unused;
    unused.Setup(c.n, 1.0, 0);
    ASSERT_TRUE(chan.Setup(c.n, 1.0));
    chan.SetWindow(c.windowType, length);
    std::mt19937 rng(7 * c.n + c.windowType);
    FillRandomBlock(chan, unused, length, rng);
    chan.Transform();

    const auto dft = DirectDft(WindowedBlock(chan));
    long double maxPower = 0;
    for (const auto& x : dft)
        maxPower = std::max(maxPower, std::norm(x));
    ASSERT_GT(maxPower, 0);
    double worst = 0;
    for (int k = 0; k < c.n; ++k) {
        const double err =
            static_cast<double>(std::fabs(chan.m_pPower[k] - std::norm(dft[k])) / maxPower);
        worst = std::max(worst, err);
        ASSERT_LT(err, 1e-8) << "bin " << k;
    }
    // The ten-digit pi alone leaves an error; an exact match would mean the test
    // compared the transform with itself.
    EXPECT_GT(worst, 0.0);
}

INSTANTIATE_TEST_SUITE_P(AllSizes, TransformAccuracy,
                         ::testing::ValuesIn(AllSizesWindowsAndLengths()), CaseName);

// ---------------------------------------------------------------------------
// Averaging, fast attack, hold and pink weighting

class PowerAveraging : public ::testing::Test {
protected:
    void SetUp() override {
        for (CAnalysisChannel* c : {&chan, &other})
            ASSERT_TRUE(c->Setup(1024, 1024 / 44100.0));
        chan.SetWindow(2, 0);
        other.SetWindow(2, 0);
    }
    void Tone(CAnalysisChannel& c, double amplitude, double bin) {
        for (int i = 0; i < c.m_nSize; ++i)
            c.GetSamples()[i] = static_cast<int32_t>(
                std::lround(amplitude * std::sin(2 * M_PI * bin * i / c.m_nSize)));
    }
    void Silence(CAnalysisChannel& c) { std::fill(c.GetSamples(), c.GetSamples() + c.m_nSize, 0); }
    CAnalysisChannel chan;
    CAnalysisChannel other;
};

TEST_F(PowerAveraging, SilenceDecaysByInertiaFactorEachPass) {
    chan.m_nInertia = 4;
    chan.m_bFastAttack = 1;
    Tone(chan, 10000, 50);
    chan.Transform();
    const double start = chan.m_pPower[50];
    ASSERT_GT(start, 1e10);
    Silence(chan);
    double expected = start;
    for (int pass = 0; pass < 6; ++pass) {
        chan.Transform();
        expected *= 0.75;
        EXPECT_NEAR(chan.m_pPower[50], expected, expected * 1e-14) << "pass " << pass;
    }
    EXPECT_EQ(chan.m_pHold[50], start) << "the hold keeps the maximum while power decays";
}

TEST_F(PowerAveraging, FastAttackJumpsWhileSlowAttackAverages) {
    chan.m_nInertia = 5;
    other.m_nInertia = 5;
    chan.m_bFastAttack = 1;
    other.m_bFastAttack = 0;
    Tone(chan, 8000, 100);
    Tone(other, 8000, 100);
    chan.Transform();
    other.Transform();
    EXPECT_GT(chan.m_pPower[100], 1e9);
    EXPECT_NEAR(other.m_pPower[100], chan.m_pPower[100] / 5, chan.m_pPower[100] * 1e-14);
    // A second pass of the same block: the slow one climbs by a fifth of the gap.
    other.Transform();
    EXPECT_NEAR(other.m_pPower[100], chan.m_pPower[100] * (1 - 0.8 * 0.8),
                chan.m_pPower[100] * 1e-13);
}

TEST_F(PowerAveraging, InertiaBelowOneActsAsOne) {
    for (int inertia : {0, -3}) {
        CAnalysisChannel c;
        ASSERT_TRUE(c.Setup(1024, 1.0));
        c.m_nInertia = inertia;
        c.m_bFastAttack = 0;
        Tone(c, 5000, 30);
        c.Transform();
        c.Transform();
        Tone(c, 100, 30);
        c.Transform();
        EXPECT_TRUE(std::isfinite(c.m_pPower[30]));
        // With no averaging the spectrum is that of the latest block alone.
        CAnalysisChannel fresh;
        ASSERT_TRUE(fresh.Setup(1024, 1.0));
        Tone(fresh, 100, 30);
        fresh.Transform();
        EXPECT_EQ(c.m_pPower[30], fresh.m_pPower[30]) << "inertia " << inertia;
    }
}

TEST_F(PowerAveraging, ClearHoldForgetsTheOldMaximum) {
    Tone(chan, 10000, 200);
    chan.Transform();
    Tone(chan, 10, 200);
    chan.Transform();
    EXPECT_GT(chan.m_pHold[200], chan.m_pPower[200] * 1e5);
    chan.ClearHold();
    for (int i = 0; i < chan.m_nSize; ++i)
        ASSERT_EQ(chan.m_pHold[i], 0.0);
    chan.Transform();
    EXPECT_EQ(chan.m_pHold[200], chan.m_pPower[200]);
}

TEST_F(PowerAveraging, PinkWeightingMultipliesEachBinByItsIndex) {
    chan.m_bPinkToFlat = true;
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> dist(-20000, 20000);
    for (int i = 0; i < 1024; ++i)
        chan.GetSamples()[i] = other.GetSamples()[i] = dist(rng);
    chan.Transform();
    other.Transform();
    EXPECT_EQ(chan.m_pPower[0], 0.0);
    EXPECT_GT(other.m_pPower[0], 0.0);
    for (int i = 1; i < 1024; ++i)
        ASSERT_DOUBLE_EQ(chan.m_pPower[i], i * other.m_pPower[i]) << "bin " << i;
}

TEST_F(PowerAveraging, ConstantBlockPutsEverythingIntoBinZero) {
    chan.SetWindow(0, 0);
    std::fill(chan.GetSamples(), chan.GetSamples() + 1024, 1000);
    chan.Transform();
    EXPECT_EQ(chan.m_pPower[0], (1000.0 * 1024) * (1000.0 * 1024));
    for (int i = 1; i < 1024; ++i)
        ASSERT_EQ(chan.m_pPower[i], 0.0) << "bin " << i;
}

// ---------------------------------------------------------------------------
// Single-frequency evaluation

TEST(EvaluateAt, MatchesDftMagnitudeOfRawBlockAtWholeBins) {
    struct SCase {
        int n;
        double binsPerHz;
        double hz;
        int bin;
    } cases[] = {{1024, 0.25, 40.0, 10}, {4096, 1.0, 777.0, 777}, {16384, 0.5, 9000.0, 4500}};
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> dist(-32768, 32767);
    for (const SCase& c : cases) {
        CAnalysisChannel chan;
        chan.m_nWindowType = 2; // the evaluation ignores the window
        ASSERT_TRUE(chan.Setup(c.n, c.binsPerHz));
        std::vector<long double> raw(c.n);
        long double sumAbs = 0;
        for (int i = 0; i < c.n; ++i) {
            chan.GetSamples()[i] = i < c.n * 3 / 4 ? dist(rng) : 0;
            raw[i] = chan.GetSamples()[i];
            sumAbs += std::fabs(raw[i]);
        }
        const auto dft = DirectDft(raw);
        const long double expected = std::abs(dft[c.bin]);
        EXPECT_NEAR(chan.EvaluateAt(c.hz), static_cast<double>(expected),
                    static_cast<double>(sumAbs * 1e-8))
            << "N " << c.n << " bin " << c.bin;
    }
}

// The evaluation walks one table of pairs, skips the zero tail and can take
// two frequencies at once; it still gives, bit for bit, the sums the literal
// loop over the two tables and all N samples gives.
TEST(EvaluateAt, EqualsTheLiteralLoopBitForBitAlsoTwoAtATime) {
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::uniform_real_distribution<double> hz(0.0, 22050.0);
    for (int n : {1024, 4096, 16384}) {
        CAnalysisChannel chan;
        ASSERT_TRUE(chan.Setup(n, n / 44100.0));
        for (int nLength : {n, n / 3}) {
            for (int i = 0; i < n; ++i)
                chan.GetSamples()[i] = i < nLength ? sample(rng) : 0;
            auto Literal = [&](double dHz) {
                const double a = dHz * chan.m_dBinsPerHz;
                double phase = a, re = 0.0, im = 0.0;
                for (int k = 0; k < n; ++k) {
                    const int index = static_cast<int>(phase);
                    re += chan.m_pSamples[k] * chan.m_pCos[index];
                    im += chan.m_pSamples[k] * chan.m_pNegSin[index];
                    phase += a;
                    if (phase >= n)
                        phase -= n;
                }
                return std::sqrt(im * im + re * re);
            };
            for (int i = 0; i < 20; ++i) {
                const double dHz1 = hz(rng);
                const double dHz2 = hz(rng);
                double e1 = 0.0, e2 = 0.0;
                chan.EvaluateAt(dHz1, dHz2, e1, e2);
                ASSERT_TRUE(SameBits(chan.EvaluateAt(dHz1), Literal(dHz1))) << n << " " << dHz1;
                ASSERT_TRUE(SameBits(e1, Literal(dHz1))) << n << " " << dHz1;
                ASSERT_TRUE(SameBits(e2, Literal(dHz2))) << n << " " << dHz2;
            }
        }
    }
}

TEST(EvaluateAt, OutsideTheTablesOrWithoutSetupGivesZero) {
    CAnalysisChannel empty;
    EXPECT_EQ(empty.EvaluateAt(100.0), 0.0);
    CAnalysisChannel chan;
    ASSERT_TRUE(chan.Setup(1024, 0.25));
    std::fill(chan.GetSamples(), chan.GetSamples() + 1024, 100);
    EXPECT_EQ(chan.EvaluateAt(-1.0), 0.0);
    EXPECT_EQ(chan.EvaluateAt(4096.0), 0.0);
    EXPECT_GT(chan.EvaluateAt(0.0), 0.0);
}

// ---------------------------------------------------------------------------
// Set-up failures and use before set-up

TEST(ChannelSetup, RejectsSizesThatAreNotPowersOfTwo) {
    CAnalysisChannel chan;
    EXPECT_FALSE(chan.Setup(1000, 1.0));
    EXPECT_FALSE(chan.Setup(0, 1.0));
    EXPECT_FALSE(chan.Setup(-1024, 1.0));
    EXPECT_EQ(chan.GetPower(), nullptr);
    EXPECT_EQ(chan.m_nSize, 0);
}

TEST(ChannelSetup, FailedAllocationIsReportedAndLeavesNoArrays) {
    for (int failAt : {0, 3, 8}) {
        CAnalysisChannel chan;
        g_nFailAfter = failAt;
        const bool ok = chan.Setup(2048, 1.0);
        g_nFailAfter = -1;
        EXPECT_FALSE(ok) << "failing allocation " << failAt;
        EXPECT_EQ(chan.GetSamples(), nullptr);
        EXPECT_EQ(chan.GetPower(), nullptr);
        EXPECT_EQ(chan.m_nSize, 0);
        // Nothing to work on, and nothing crashes.
        chan.Transform();
        chan.ClearHold();
        chan.SetWindow(2, 100);
        EXPECT_EQ(chan.EvaluateAt(50.0), 0.0);
        // A later set-up with memory available works.
        EXPECT_TRUE(chan.Setup(2048, 1.0));
        EXPECT_NE(chan.GetPower(), nullptr);
    }
}

// ---------------------------------------------------------------------------
// The user interface changes windows and settings while the cycle transforms

TEST(ChannelThreads, SettingsAndTablesChangeWhileTransforming) {
    CAnalysisChannel chan;
    ASSERT_TRUE(chan.Setup(4096, 4096 / 44100.0));
    for (int i = 0; i < 4096; ++i)
        chan.GetSamples()[i] = static_cast<int32_t>(10000 * std::sin(i * 0.3));
    std::atomic<bool> done{false};
    std::thread ui([&] {
        int k = 0;
        while (!done) {
            chan.SetWindow(k % 4, 0);
            chan.ClearHold();
            chan.m_nInertia = k % 7;
            chan.m_bFastAttack = k % 2;
            chan.m_bPinkToFlat = (k % 3) == 0;
            chan.m_nWindowType = k % 4;
            ++k;
        }
    });
    for (int pass = 0; pass < 200; ++pass) {
        chan.SetWindow(chan.m_nWindowType, 2000 + pass);
        chan.Transform();
        ASSERT_TRUE(std::isfinite(chan.EvaluateAt(1000.0)));
        auto lock = chan.LockArrays();
        ASSERT_TRUE(std::isfinite(chan.m_pPower[120]));
        ASSERT_GE(chan.m_pHold[120], 0.0);
    }
    done = true;
    ui.join();
}

} // namespace

// Set-up takes every power of two from 2 on, and the smallest sizes
// transform like the DFT too.
TEST(ChannelSetup, TheSmallestSizesTransformLikeTheDft) {
    for (int n : {2, 4, 8}) {
        CAnalysisChannel chan;
        ASSERT_TRUE(chan.Setup(n, 1.0)) << n;
        chan.m_nInertia = 1;
        chan.SetWindow(0, 0);
        for (int i = 0; i < n; ++i)
            chan.GetSamples()[i] = 1000 * (i + 1) * (i % 2 ? -1 : 1);
        chan.Transform();
        const auto dft = DirectDft(WindowedBlock(chan));
        for (int k = 0; k < n; ++k)
            EXPECT_NEAR(chan.m_pPower[k] / std::norm(dft[k] + 1e-30L), 1.0, 1e-9) << n << " " << k;
    }
}
