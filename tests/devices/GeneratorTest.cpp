// The built-in signal generator, judged by what it renders: the noises'
// spectra and levels, the periodic noise's period, the sweep's law, and fades
// that never step.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <gtest/gtest.h>
#include <numbers>
#include <vector>

#include "analysis/Fft.h"
#include "devices/generator/SignalGenerator.h"

namespace {

constexpr double kFullScale = 32767.0;
constexpr double kPi = std::numbers::pi;

SGeneratorSettings Signal(ESignal eSignal, double dLevelDbfs) {
    SGeneratorSettings settings;
    settings.eSignal = eSignal;
    settings.dLevelDbfs = dLevelDbfs;
    return settings;
}

void Start(CSignalGenerator& gen, const SGeneratorSettings& settings, int nRate,
           int nPeriod = 4096) {
    gen.Prepare(nRate, nPeriod);
    gen.SetSettings(settings);
    gen.Play();
}

// One channel, in full scales, rendered in blocks of changing size as a
// sound server asks for them.
std::vector<double> Render(CSignalGenerator& gen, int nFrames, int nChannel = 0) {
    constexpr int kBlocks[] = {480, 1, 1024, 37, 256};
    std::vector<int16_t> frames(2 * std::size_t(nFrames));
    for (int nDone = 0, i = 0; nDone < nFrames; ++i) {
        const int n = std::min(kBlocks[i % 5], nFrames - nDone);
        gen.Render(frames.data() + 2 * nDone, n);
        nDone += n;
    }
    std::vector<double> channel(static_cast<std::size_t>(nFrames));
    for (std::size_t i = 0; i < channel.size(); ++i)
        channel[i] = frames[2 * i + std::size_t(nChannel)] / kFullScale;
    return channel;
}

double RmsDbfs(const std::vector<double>& x, std::size_t nFrom = 0) {
    double dSum = 0.0;
    for (std::size_t i = nFrom; i < x.size(); ++i)
        dSum += x[i] * x[i];
    return 10.0 * std::log10(dSum / double(x.size() - nFrom));
}

double PeakOf(const std::vector<double>& x) {
    double dPeak = 0.0;
    for (double d : x)
        dPeak = std::max(dPeak, std::abs(d));
    return dPeak;
}

// Welch's mean power per bin, 0 to N/2: Hann windows overlapping by half,
// two of them sharing a transform as its real and imaginary parts, whose
// powers add up to (|X_k|^2 + |X_N-k|^2) / 2.
std::vector<double> WelchPower(const std::vector<double>& x, int n) {
    std::vector<double> adPower(std::size_t(n / 2 + 1), 0.0);
    std::vector<double> adWindow(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        adWindow[std::size_t(i)] = 0.5 - 0.5 * std::cos(2.0 * kPi * i / n);
    std::vector<std::complex<double>> bins(static_cast<std::size_t>(n));
    for (std::size_t nStart = 0; nStart + 3 * n / 2 <= x.size(); nStart += std::size_t(n)) {
        for (std::size_t i = 0; i < bins.size(); ++i)
            bins[i] = {adWindow[i] * x[nStart + i], adWindow[i] * x[nStart + n / 2 + i]};
        ForwardFft(bins);
        for (int k = 0; k <= n / 2; ++k)
            adPower[std::size_t(k)] +=
                std::norm(bins[std::size_t(k)]) + std::norm(bins[(n - k) % n]);
    }
    return adPower;
}

// The base-10 third-octave bands 10^(b/10) Hz, edges a twentieth of a decade
// either side: each band's power over the power a density f^-dExponent puts
// into the same bins, in dB, less the mean over the bands.
std::vector<double> BandDeviationsDb(const std::vector<double>& adPower, int n, int nRate,
                                     int nLowBand, int nHighBand, double dExponent) {
    const double dBinHz = double(nRate) / n;
    std::vector<double> adDeviation;
    for (int b = nLowBand; b <= nHighBand; ++b) {
        const double dCentre = std::pow(10.0, b / 10.0);
        const int nLow = int(std::ceil(dCentre * std::pow(10.0, -0.05) / dBinHz));
        const int nHigh = std::min(n / 2, int(std::floor(dCentre * std::pow(10.0, 0.05) / dBinHz)));
        double dMeasured = 0.0;
        double dIdeal = 0.0;
        for (int k = nLow; k <= nHigh; ++k) {
            dMeasured += adPower[std::size_t(k)];
            dIdeal += std::pow(k * dBinHz, -dExponent);
        }
        adDeviation.push_back(10.0 * std::log10(dMeasured / dIdeal));
    }
    double dMean = 0.0;
    for (double d : adDeviation)
        dMean += d / double(adDeviation.size());
    for (double& d : adDeviation)
        d -= dMean;
    return adDeviation;
}

double LargestDeviationDb(ESignal eSignal, int nRate, double dSeconds, int nLowBand,
                          double dExponent) {
    constexpr int kSize = 32768;
    CSignalGenerator gen;
    Start(gen, Signal(eSignal, -20.0), nRate);
    Render(gen, nRate / 10); // past the fade in
    const auto adPower = WelchPower(Render(gen, int(dSeconds * nRate)), kSize);
    double dLargest = 0.0;
    for (double d : BandDeviationsDb(adPower, kSize, nRate, nLowBand, 43, dExponent))
        dLargest = std::max(dLargest, std::abs(d));
    return dLargest;
}

// A sine's amplitude at every sample from its neighbours (Teager and Kaiser's
// energy operator): x[n]^2 - x[n-1] x[n+1] = a^2 sin^2(w) for a step of w.
std::vector<double> SineAmplitude(const std::vector<double>& x, double dHz, int nRate) {
    const double dSin = std::sin(2.0 * kPi * dHz / nRate);
    std::vector<double> adAmplitude(x.size(), 0.0);
    for (std::size_t n = 1; n + 1 < x.size(); ++n)
        adAmplitude[n] = std::sqrt(std::max(0.0, x[n] * x[n] - x[n - 1] * x[n + 1])) / dSin;
    return adAmplitude;
}

double LargestStep(const std::vector<double>& adAmplitude) {
    double dLargest = 0.0;
    for (std::size_t n = 2; n + 2 < adAmplitude.size(); ++n)
        dLargest = std::max(dLargest, std::abs(adAmplitude[n] - adAmplitude[n - 1]));
    return dLargest;
}

} // namespace

TEST(GeneratorSpectrumTest, PinkNoiseFallsThreeDbPerOctaveIn44100And48000Hz) {
    for (int nRate : {44100, 48000})
        EXPECT_LT(LargestDeviationDb(ESignal::PinkNoise, nRate, 180.0, 13, 1.0), 0.5) << nRate;
}

TEST(GeneratorSpectrumTest, WhiteNoiseIsFlatFrom100Hz) {
    EXPECT_LT(LargestDeviationDb(ESignal::WhiteNoise, 48000, 40.0, 20, 0.0), 0.5);
}

TEST(GeneratorLevelTest, RmsIsTheLevelAsked) {
    for (ESignal eSignal :
         {ESignal::PinkNoise, ESignal::WhiteNoise, ESignal::PeriodicPinkNoise, ESignal::Sine}) {
        for (double dLevel : {-20.0, CSignalGenerator::MaxLevelDbfs(eSignal)}) {
            // Pink noise's power lies low: a minute holds a few thousand of
            // its slowest cycles.
            const int nSeconds = eSignal == ESignal::PinkNoise ? 60 : 5;
            CSignalGenerator gen;
            Start(gen, Signal(eSignal, dLevel), 48000);
            Render(gen, 4800);
            EXPECT_NEAR(RmsDbfs(Render(gen, nSeconds * 48000)), dLevel, 0.1) << int(eSignal);
        }
    }
}

// Asked for more than it may give, each signal gives its most, unclipped:
// the noises stay off the rails, the tones reach them without going past.
TEST(GeneratorLevelTest, AtTheirMostNoSignalClips) {
    for (ESignal eSignal : {ESignal::PinkNoise, ESignal::WhiteNoise, ESignal::PeriodicPinkNoise,
                            ESignal::Sine, ESignal::LogSweep}) {
        CSignalGenerator gen;
        Start(gen, Signal(eSignal, 20.0), 48000);
        const auto x = Render(gen, 20 * 48000);
        if (eSignal != ESignal::LogSweep) { // whose edges take a little of its power
            EXPECT_NEAR(RmsDbfs(x, 4800), CSignalGenerator::MaxLevelDbfs(eSignal), 0.2);
        }
        if (eSignal == ESignal::Sine || eSignal == ESignal::LogSweep) {
            EXPECT_GT(PeakOf(x), 0.999) << int(eSignal);
            EXPECT_GE(*std::min_element(x.begin(), x.end()), -1.0) << int(eSignal);
        } else {
            EXPECT_LT(PeakOf(x), 1.0) << int(eSignal);
        }
    }
}

TEST(GeneratorLevelTest, LevelsBelowTheLeastAreRaisedToIt) {
    SGeneratorSettings settings = Signal(ESignal::Sine, -200.0);
    settings.dSineHz = 997.0;
    CSignalGenerator gen;
    Start(gen, settings, 48000);
    Render(gen, 4800);
    EXPECT_NEAR(RmsDbfs(Render(gen, 48000)), CSignalGenerator::kMinLevelDbfs, 0.3);
}

TEST(GeneratorChannelTest, OnlyTheChannelsChosenSound) {
    for (int nChannels : {1, 2, 3}) {
        SGeneratorSettings settings = Signal(ESignal::WhiteNoise, -20.0);
        settings.nChannels = nChannels;
        for (int nChannel : {0, 1}) {
            CSignalGenerator gen;
            Start(gen, settings, 48000);
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
        Start(gen, Signal(ESignal::PeriodicPinkNoise, -20.0), nRate, nSize);
        Render(gen, nRate / 10);
        const auto x = Render(gen, 2 * nSize);
        EXPECT_TRUE(std::equal(x.begin(), x.begin() + nSize, x.begin() + nSize));

        std::vector<std::complex<double>> bins(x.begin(), x.begin() + nSize);
        ForwardFft(bins);
        const double dBinHz = double(nRate) / nSize;
        const int nFirst = int(std::ceil(20.0 / dBinHz));
        const double dReference = std::norm(bins[std::size_t(nFirst)]) * nFirst;
        double dLargest = 0.0;
        for (int k = nFirst; k < nSize / 2; ++k) {
            const double dDb = 10.0 * std::log10(std::norm(bins[std::size_t(k)]) * k / dReference);
            dLargest = std::max(dLargest, std::abs(dDb));
        }
        EXPECT_LT(dLargest, 0.1) << nSize;
    }
}

// The frequency at t is f1 (f2/f1)^(t/T), read from the upward zero crossings
// about t: a cycle either side at least, 20 ms at least.
TEST(GeneratorSweepTest, FrequencyRisesExponentiallyAndEachSweepStartsAgain) {
    constexpr int kRate = 48000;
    constexpr double kSeconds = 2.0;
    SGeneratorSettings settings = Signal(ESignal::LogSweep, -10.0);
    settings.dSweepSeconds = kSeconds;
    CSignalGenerator gen;
    Start(gen, settings, kRate);
    const auto x = Render(gen, int(3 * kSeconds * kRate));
    std::vector<double> adCrossing;
    for (std::size_t n = 1; n < x.size(); ++n) {
        if (x[n - 1] < 0.0 && x[n] >= 0.0)
            adCrossing.push_back((double(n) - x[n] / (x[n] - x[n - 1])) / kRate);
    }
    for (double dAt : {0.05, 0.5, 0.95, 1.05}) {
        const double t = dAt * kSeconds;
        const auto at = std::lower_bound(adCrossing.begin(), adCrossing.end(), t);
        auto from = at - 1, to = at + 1;
        while (*to - *from < 0.02) {
            --from;
            ++to;
        }
        const double dMeasured = double(to - from) / (*to - *from);
        const double dExpected =
            20.0 * std::pow(1000.0, std::fmod((*to + *from) / 2.0, kSeconds) / kSeconds);
        EXPECT_NEAR(dMeasured / dExpected, 1.0, 0.01) << dAt;
    }
    const std::size_t nSweep = std::size_t(kSeconds * kRate);
    EXPECT_TRUE(std::equal(x.begin() + nSweep, x.begin() + 2 * nSweep, x.begin() + 2 * nSweep));
    for (std::size_t n = 2 * nSweep - 48; n < 2 * nSweep + 48; ++n)
        EXPECT_LT(std::abs(x[n]), 0.05) << "a click where one sweep meets the next";
}

class GeneratorFadeTest : public ::testing::Test {
protected:
    static constexpr int kRate = 48000;
    static constexpr int kFade = kRate / 20; // 50 ms
    static constexpr double kHz = 6000.0;

    void SetUp() override {
        m_settings = Signal(ESignal::Sine, CSignalGenerator::MaxLevelDbfs(ESignal::Sine));
        m_settings.dSineHz = kHz;
        Start(m_gen, m_settings, kRate);
    }
    std::vector<double> Amplitude(int nFrames) {
        return SineAmplitude(Render(m_gen, nFrames), kHz, kRate);
    }

    SGeneratorSettings m_settings;
    CSignalGenerator m_gen;
};

TEST_F(GeneratorFadeTest, PlayRisesSmoothlyFromSilenceOver50ms) {
    const auto a = Amplitude(2 * kFade);
    EXPECT_LT(a[1], 1e-3);
    EXPECT_NEAR(a[kFade / 2], 0.5, 0.1);
    EXPECT_NEAR(a[kFade + 1], 1.0, 1e-3);
    EXPECT_LT(LargestStep(a), 1e-3);
    for (int n = 2; n < kFade; ++n)
        ASSERT_GE(a[std::size_t(n)], a[std::size_t(n) - 1] - 1e-4) << n;
}

TEST_F(GeneratorFadeTest, StopFallsSmoothlyToSilenceIn50ms) {
    Render(m_gen, kRate / 10);
    m_gen.Stop();
    const auto x = Render(m_gen, kFade + 480);
    EXPECT_LT(LargestStep(SineAmplitude(x, kHz, kRate)), 1e-3);
    EXPECT_GT(PeakOf({x.begin() + kFade - 480, x.begin() + kFade - 240}), 0.0);
    EXPECT_EQ(PeakOf({x.begin() + kFade + 1, x.end()}), 0.0);
    std::vector<int16_t> frames(2 * 480);
    EXPECT_EQ(m_gen.Render(frames.data(), 480), 0);
}

TEST_F(GeneratorFadeTest, NewLevelGlidesThereWithoutFadingOut) {
    Render(m_gen, kRate / 10);
    m_settings.dLevelDbfs = -20.0;
    m_gen.SetSettings(m_settings);
    const auto a = Amplitude(2 * kFade);
    const double dQuiet = std::sqrt(2.0) * 0.1;
    EXPECT_LT(LargestStep(a), 1e-3);
    EXPECT_GT(*std::min_element(a.begin() + 1, a.end() - 1), dQuiet - 1e-3);
    EXPECT_GT(a[kFade / 4], dQuiet + 0.1);
    EXPECT_NEAR(a[kFade + 1], dQuiet, 1e-3);
}

// A new frequency: the old one falls silent over 50 ms before the new rises.
TEST_F(GeneratorFadeTest, NewSignalFadesOutTheOldOneFirst) {
    Render(m_gen, kRate / 10);
    m_settings.dSineHz = 1500.0;
    m_gen.SetSettings(m_settings);
    const auto x = Render(m_gen, 4 * kFade);
    const auto old = SineAmplitude({x.begin(), x.begin() + kFade}, kHz, kRate);
    EXPECT_LT(LargestStep(old), 1e-3);
    EXPECT_GT(old[kFade * 3 / 4], 0.1);
    EXPECT_LT(PeakOf({x.begin() + kFade - 24, x.begin() + kFade + 24}), 1e-3);
    const auto next = SineAmplitude({x.begin() + kFade, x.end()}, 1500.0, kRate);
    EXPECT_LT(next[kFade / 4], 0.5);
    EXPECT_NEAR(next[2 * kFade], 1.0, 1e-3);
}
