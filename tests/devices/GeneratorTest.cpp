// The built-in signal generator, judged by what it renders: the noises'
// spectra and levels, the periodic noise's period, the sweep's law, and fades
// that never step.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <numeric>
#include <vector>

#include "analysis/Fft.h"
#include "devices/generator/SignalGenerator.h"

namespace {

using Samples = std::vector<double>;
constexpr double kPi = std::numbers::pi;

void Start(CSignalGenerator& gen, ESignal eSignal, double dLevelDbfs, int nRate, int nPeriod = 4096,
           SGeneratorSettings settings = {}) {
    settings.eSignal = eSignal;
    settings.dLevelDbfs = dLevelDbfs;
    gen.Prepare(nRate, nPeriod);
    gen.SetSettings(settings);
    gen.Play();
}

// One channel in full scales, rendered in blocks of changing size as a sound
// server asks for them.
Samples Render(CSignalGenerator& gen, int nFrames, int nChannel = 0) {
    constexpr int kBlocks[] = {480, 1, 1024, 37, 256};
    std::vector<int16_t> frames(2 * std::size_t(nFrames));
    for (int nDone = 0, i = 0; nDone < nFrames; nDone += kBlocks[i++ % 5])
        gen.Render(frames.data() + 2 * nDone, std::min(kBlocks[i % 5], nFrames - nDone));
    Samples x;
    for (std::size_t i = std::size_t(nChannel); i < frames.size(); i += 2)
        x.push_back(frames[i] / 32767.0);
    return x;
}

// Re a full-scale sine's mean square, one half, as the level meter reads.
double RmsDbfs(const Samples& x) {
    return 10.0 * std::log10(2.0 * std::inner_product(x.begin(), x.end(), x.begin(), 0.0) /
                             x.size());
}

double PeakOf(const Samples& x) {
    return std::abs(std::ranges::max(x, {}, [](double d) { return std::abs(d); }));
}

// Welch's power per bin: Hann windows overlapping by half, two sharing a
// transform as its real and imaginary parts, whose powers add up to
// (|X_k|^2 + |X_N-k|^2) / 2.
Samples WelchPower(const Samples& x, std::size_t n) {
    Samples adPower(n / 2 + 1, 0.0), adWindow(n);
    for (std::size_t i = 0; i < n; ++i)
        adWindow[i] = 0.5 - 0.5 * std::cos(2.0 * kPi * double(i) / double(n));
    std::vector<std::complex<double>> bins(n);
    for (std::size_t nAt = 0; nAt + 3 * n / 2 <= x.size(); nAt += n) {
        for (std::size_t i = 0; i < n; ++i)
            bins[i] = {adWindow[i] * x[nAt + i], adWindow[i] * x[nAt + n / 2 + i]};
        ForwardFft(bins);
        for (std::size_t k = 0; k <= n / 2; ++k)
            adPower[k] += std::norm(bins[k]) + std::norm(bins[(n - k) % n]);
    }
    return adPower;
}

// Over the base-10 third-octave bands 10^(b/10) Hz, edges a twentieth of a
// decade either side, up to 20 kHz: each band's power over what a density
// f^-dExponent puts into the same bins, in dB; the largest departure from
// their mean.
double LargestBandDeviationDb(ESignal eSignal, int nRate, double dSeconds, int nLowBand,
                              double dExponent) {
    constexpr std::size_t kSize = 32768;
    CSignalGenerator gen;
    Start(gen, eSignal, -20.0, nRate);
    Render(gen, nRate / 10); // past the fade in
    const Samples adPower = WelchPower(Render(gen, int(dSeconds * nRate)), kSize);
    const double dBinHz = double(nRate) / kSize;
    Samples adDb;
    for (int b = nLowBand; b <= 43; ++b) {
        const double dCentre = std::pow(10.0, b / 10.0);
        double dMeasured = 0.0, dIdeal = 0.0;
        for (std::size_t k = 1; k <= kSize / 2; ++k) {
            const double dHz = double(k) * dBinHz;
            if (std::abs(std::log10(dHz / dCentre)) <= 0.05) {
                dMeasured += adPower[k];
                dIdeal += std::pow(dHz, -dExponent);
            }
        }
        adDb.push_back(10.0 * std::log10(dMeasured / dIdeal));
    }
    const double dMean = std::accumulate(adDb.begin(), adDb.end(), 0.0) / double(adDb.size());
    const auto [itLow, itHigh] = std::ranges::minmax_element(adDb);
    return std::max(*itHigh - dMean, dMean - *itLow);
}

// A sine's amplitude at each sample from its neighbours (Teager and Kaiser's
// energy operator): x[n]^2 - x[n-1] x[n+1] = a^2 sin^2(w) for a step of w.
Samples SineAmplitude(const Samples& x, double dHz, int nRate) {
    Samples a(x.size(), 0.0);
    for (std::size_t n = 1; n + 1 < x.size(); ++n)
        a[n] = std::sqrt(std::max(0.0, x[n] * x[n] - x[n - 1] * x[n + 1])) /
               std::sin(2.0 * kPi * dHz / nRate);
    return a;
}

double LargestStep(const Samples& a) {
    double dLargest = 0.0;
    for (std::size_t n = 2; n + 2 < a.size(); ++n)
        dLargest = std::max(dLargest, std::abs(a[n] - a[n - 1]));
    return dLargest;
}

} // namespace

TEST(GeneratorSpectrumTest, PinkNoiseFallsThreeDbPerOctaveIn44100And48000Hz) {
    for (int nRate : {44100, 48000})
        EXPECT_LT(LargestBandDeviationDb(ESignal::PinkNoise, nRate, 180.0, 13, 1.0), 0.5) << nRate;
}

TEST(GeneratorSpectrumTest, WhiteNoiseIsFlatFrom100Hz) {
    EXPECT_LT(LargestBandDeviationDb(ESignal::WhiteNoise, 48000, 40.0, 20, 0.0), 0.5);
}

// Asked for more than it may give, a signal gives its most unclipped: the
// noises stay off the rails, the tones reach them without going past.
TEST(GeneratorLevelTest, RmsIsTheLevelAskedUpToTheMostWithoutClipping) {
    for (ESignal eSignal : {ESignal::PinkNoise, ESignal::WhiteNoise, ESignal::PeriodicPinkNoise,
                            ESignal::Sine, ESignal::LogSweep}) {
        const double dMost = CSignalGenerator::MaxLevelDbfs(eSignal);
        for (auto [dAsked, dExpected] : {std::pair{-20.0, -20.0}, {dMost, dMost}, {20.0, dMost}}) {
            CSignalGenerator gen;
            Start(gen, eSignal, dAsked, 48000);
            Render(gen, 4800);
            // Pink noise's power lies low: a minute holds a few thousand of
            // its slowest cycles. The sweep's edges take a little of its.
            const Samples x = Render(gen, (eSignal == ESignal::PinkNoise ? 60 : 5) * 48000);
            if (eSignal != ESignal::LogSweep) {
                EXPECT_NEAR(RmsDbfs(x), dExpected, 0.1) << int(eSignal) << " " << dAsked;
            }
            if (dAsked < dMost)
                continue;
            if (eSignal == ESignal::Sine || eSignal == ESignal::LogSweep) {
                EXPECT_GT(PeakOf(x), 0.999) << int(eSignal);
                EXPECT_GE(*std::min_element(x.begin(), x.end()), -1.0) << int(eSignal);
            } else {
                EXPECT_LT(PeakOf(x), 1.0) << int(eSignal);
            }
        }
    }
}

TEST(GeneratorLevelTest, OnlyTheChannelsChosenSound) {
    for (int nChannels : {1, 2, 3}) {
        for (int nChannel : {0, 1}) {
            CSignalGenerator gen;
            Start(gen, ESignal::WhiteNoise, -20.0, 48000, 4096, {.nChannels = nChannels});
            const bool bChosen = nChannels & (1 << nChannel);
            EXPECT_EQ(PeakOf(Render(gen, 9600, nChannel)) > 0.0, bChosen) << nChannels;
        }
    }
}

// A period's worth of samples is all there is, so that a transform of that
// size sees whole cycles only: each bin at 1/sqrt(f) exactly.
TEST(GeneratorPeriodicNoiseTest, RepeatsEachPeriodWithNothingBetweenItsBins) {
    for (auto [nRate, nSize] : {std::pair{44100, 4096}, std::pair{48000, 32768}}) {
        CSignalGenerator gen;
        Start(gen, ESignal::PeriodicPinkNoise, -20.0, nRate, nSize);
        Render(gen, nRate / 10);
        const Samples x = Render(gen, 2 * nSize);
        EXPECT_TRUE(std::equal(x.begin(), x.begin() + nSize, x.begin() + nSize));

        std::vector<std::complex<double>> bins(x.begin(), x.begin() + nSize);
        ForwardFft(bins);
        const int nFirst = int(std::ceil(20.0 * nSize / nRate));
        double dLargest = 0.0;
        for (int k = nFirst; k < nSize / 2; ++k) {
            const double dRatio = std::norm(bins[std::size_t(k)]) * k /
                                  (std::norm(bins[std::size_t(nFirst)]) * nFirst);
            dLargest = std::max(dLargest, std::abs(10.0 * std::log10(dRatio)));
        }
        EXPECT_LT(dLargest, 0.1) << nSize;
    }
}

// The frequency at t is f1 (f2/f1)^(t/T), read from the upward zero crossings
// about t: a cycle either side at least, 20 ms at least.
TEST(GeneratorSweepTest, FrequencyRisesExponentiallyAndEachSweepStartsAgain) {
    constexpr int kRate = 48000;
    constexpr double kSeconds = 2.0;
    CSignalGenerator gen;
    Start(gen, ESignal::LogSweep, -10.0, kRate, 4096, {.dSweepSeconds = kSeconds});
    const Samples x = Render(gen, int(3 * kSeconds * kRate));
    Samples adCrossing;
    for (std::size_t n = 1; n < x.size(); ++n) {
        if (x[n - 1] < 0.0 && x[n] >= 0.0)
            adCrossing.push_back((double(n) - x[n] / (x[n] - x[n - 1])) / kRate);
    }
    for (double dAt : {0.05, 0.5, 0.95, 1.05}) {
        auto to = std::lower_bound(adCrossing.begin(), adCrossing.end(), dAt * kSeconds);
        auto from = to - 1;
        for (++to; *to - *from < 0.02; ++to)
            --from;
        const double dMeasured = double(to - from) / (*to - *from);
        const double t = std::fmod((*to + *from) / 2.0, kSeconds);
        EXPECT_NEAR(dMeasured / (20.0 * std::pow(1000.0, t / kSeconds)), 1.0, 0.01) << dAt;
    }
    const std::size_t nSweep = std::size_t(kSeconds * kRate);
    EXPECT_TRUE(std::equal(x.begin() + nSweep, x.begin() + 2 * nSweep, x.begin() + 2 * nSweep));
    EXPECT_LT(PeakOf({x.begin() + 2 * nSweep - 48, x.begin() + 2 * nSweep + 48}), 0.05)
        << "a click where one sweep meets the next";
}

// A full-scale sine, whose amplitude is the envelope in full scales.
class GeneratorFadeTest : public ::testing::Test {
protected:
    static constexpr int kRate = 48000;
    static constexpr int kFade = kRate / 20; // 50 ms
    void SetUp() override { Start(m_gen, ESignal::Sine, 20.0, kRate, 4096, {.dSineHz = 6000.0}); }
    Samples Amplitude(int nFrames) { return SineAmplitude(Render(m_gen, nFrames), 6000.0, kRate); }
    void Set(SGeneratorSettings settings) {
        Render(m_gen, kRate / 10);
        settings.eSignal = ESignal::Sine;
        m_gen.SetSettings(settings);
    }
    CSignalGenerator m_gen;
};

TEST_F(GeneratorFadeTest, PlayRisesFromSilenceAndStopFallsToItSmoothlyOver50ms) {
    const Samples a = Amplitude(2 * kFade);
    EXPECT_LT(a[1], 1e-3);
    EXPECT_NEAR(a[kFade / 2], 0.5, 0.1);
    EXPECT_NEAR(a[kFade + 1], 1.0, 1e-3);
    EXPECT_LT(LargestStep(a), 1e-3);
    for (std::size_t n = 2; n < kFade; ++n)
        ASSERT_GE(a[n], a[n - 1] - 1e-4) << n;

    m_gen.Stop();
    const Samples x = Render(m_gen, kFade + 480);
    EXPECT_LT(LargestStep(SineAmplitude(x, 6000.0, kRate)), 1e-3);
    EXPECT_GT(PeakOf({x.begin() + kFade - 480, x.begin() + kFade - 240}), 0.0);
    EXPECT_EQ(PeakOf({x.begin() + kFade + 1, x.end()}), 0.0);
    int16_t aFrames[2 * 480];
    EXPECT_EQ(m_gen.Render(aFrames, 480), 0);
}

TEST_F(GeneratorFadeTest, NewLevelGlidesThereWithoutFadingOut) {
    Set({.dLevelDbfs = -20.0, .dSineHz = 6000.0});
    const Samples a = Amplitude(2 * kFade);
    const double dQuiet = 0.1; // a -20 dBFS sine peaks at a tenth of full scale
    EXPECT_LT(LargestStep(a), 1e-3);
    EXPECT_GT(*std::min_element(a.begin() + 1, a.end() - 1), dQuiet - 1e-3);
    EXPECT_GT(a[kFade / 4], dQuiet + 0.1);
    EXPECT_NEAR(a[kFade + 1], dQuiet, 1e-3);
}

// A new frequency: the old one falls silent over 50 ms before the new rises.
TEST_F(GeneratorFadeTest, NewSignalFadesOutTheOldOneFirst) {
    Set({.dLevelDbfs = 20.0, .dSineHz = 1500.0});
    const Samples x = Render(m_gen, 4 * kFade);
    const Samples old = SineAmplitude({x.begin(), x.begin() + kFade}, 6000.0, kRate);
    EXPECT_LT(LargestStep(old), 1e-3);
    EXPECT_GT(old[kFade * 3 / 4], 0.1);
    EXPECT_LT(PeakOf({x.begin() + kFade - 24, x.begin() + kFade + 24}), 1e-3);
    const Samples next = SineAmplitude({x.begin() + kFade, x.end()}, 1500.0, kRate);
    EXPECT_LT(next[kFade / 4], 0.5);
    EXPECT_NEAR(next[2 * kFade], 1.0, 1e-3);
}
