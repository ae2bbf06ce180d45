#include "analysis/transfer/TransferFunction.h"
#include "analysis/transfer/DelayFinder.h"

#include "analysis/AnalysisChannel.h"
#include "analysis/Fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

// Named, so that the unity build keeps these helpers apart from other files'.
namespace transfer_test {
namespace {

constexpr int kRate = 44100;
constexpr int kN = 4096;
constexpr double kBlockSeconds = double(kN) / kRate;

using Signal = std::vector<double>;
using Spectrum = std::vector<SComplex>;

Signal WhiteNoise(std::size_t n, unsigned nSeed) {
    std::mt19937 rng(nSeed);
    std::normal_distribution<double> gauss;
    Signal ad(n);
    for (double& d : ad) {
        d = gauss(rng);
    }
    return ad;
}

// White noise through three leaky integrators spread over the band: within
// a dB or so of -3 dB per octave.
Signal PinkNoise(std::size_t n, unsigned nSeed) {
    Signal ad = WhiteNoise(n, nSeed);
    double b0 = 0.0, b1 = 0.0, b2 = 0.0;
    for (double& d : ad) {
        b0 = 0.99765 * b0 + d * 0.0990460;
        b1 = 0.96300 * b1 + d * 0.2965164;
        b2 = 0.57000 * b2 + d * 1.0526913;
        d = b0 + b1 + b2 + d * 0.1848;
    }
    return ad;
}

// The audio-EQ-cookbook peaking filter at 1 kHz, +6 dB, an octave wide, with
// its exact response.
struct SPeakingEq {
    double b0, b1, b2, a1, a2;

    SPeakingEq() {
        const double A = std::pow(10.0, 6.0 / 40.0);
        const double w = 2.0 * std::numbers::pi * 1000.0 / kRate;
        const double alpha = std::sin(w) / (2.0 * std::numbers::sqrt2);
        const double a0 = 1.0 + alpha / A;
        b0 = (1.0 + alpha * A) / a0;
        b1 = a1 = -2.0 * std::cos(w) / a0;
        b2 = (1.0 - alpha * A) / a0;
        a2 = (1.0 - alpha / A) / a0;
    }
    Signal Filter(const Signal& x) const {
        Signal y(x.size());
        double z1 = 0.0, z2 = 0.0;
        for (std::size_t i = 0; i < x.size(); ++i) {
            y[i] = b0 * x[i] + z1;
            z1 = b1 * x[i] - a1 * y[i] + z2;
            z2 = b2 * x[i] - a2 * y[i];
        }
        return y;
    }
    std::complex<double> Response(double dHz) const {
        const std::complex<double> z = std::polar(1.0, -2.0 * std::numbers::pi * dHz / kRate);
        return (b0 + z * (b1 + z * b2)) / (1.0 + z * (a1 + z * a2));
    }
};

Signal Times(Signal ad, double dGain) {
    for (double& d : ad) {
        d *= dGain;
    }
    return ad;
}

Spectrum HannSpectrum(const double* pSamples) {
    Signal adWindow(kN);
    CAnalysisChannel::FillWindow(2, kN, adWindow.data());
    std::vector<std::complex<double>> work(kN);
    for (std::size_t i = 0; i < kN; ++i) {
        work[i] = pSamples[i] * adWindow[i];
    }
    ForwardFft(work);
    Spectrum spectrum;
    for (const auto& c : work) {
        spectrum.push_back({c.real(), c.imag()});
    }
    return spectrum;
}

// The plain mean over consecutive blocks of both signals.
CTransferFunction::SResults Measured(const Signal& x, const Signal& y,
                                     int nSmoothing = CTransferFunction::kDefaultSmoothing) {
    CTransferFunction tf;
    tf.Setup(kN, kRate);
    tf.SetAveragingSeconds(0.0);
    tf.SetSmoothing(nSmoothing);
    for (std::size_t i = 0; i + kN <= x.size(); i += kN) {
        tf.Pass(HannSpectrum(&x[i]).data(), HannSpectrum(&y[i]).data(), kBlockSeconds);
    }
    CTransferFunction::SResults results;
    EXPECT_TRUE(tf.Results(results));
    return results;
}

std::size_t Bin(double dHz) {
    return std::size_t(std::lround(dHz * kN / kRate));
}

} // namespace

TEST(TransferFunction, FollowsPeakingEqualiser) {
    const SPeakingEq eq;
    const Signal x = PinkNoise(32 * kN, 1);
    const auto results = Measured(x, eq.Filter(x));
    for (double dHz : {250.0, 1000.0, 4000.0}) {
        const std::size_t k = Bin(dHz);
        const std::complex<double> h = eq.Response(double(k) * kRate / kN);
        EXPECT_NEAR(results.adMagnitudeDb[k], 20.0 * std::log10(std::abs(h)), 0.5) << dHz;
        EXPECT_NEAR(results.adPhaseDeg[k], std::arg(h) * 180.0 / std::numbers::pi, 10.0) << dHz;
    }
    for (std::size_t k = Bin(200.0); k <= Bin(10000.0); ++k) {
        EXPECT_GE(results.adCoherence[k], 0.95) << k;
    }
}

TEST(TransferFunction, GainAndPolarityReadAtEveryBin) {
    const Signal x = WhiteNoise(4 * kN, 2);
    const auto attenuated = Measured(x, Times(x, std::pow(10.0, -6.0 / 20.0)));
    const auto inverted = Measured(x, Times(x, -1.0));
    EXPECT_TRUE(std::isnan(attenuated.adMagnitudeDb[0])) << "DC";
    for (std::size_t k = 1; k <= kN / 2; ++k) {
        EXPECT_NEAR(attenuated.adMagnitudeDb[k], -6.0, 0.05) << k;
        EXPECT_NEAR(attenuated.adPhaseDeg[k], 0.0, 1.0) << k;
        EXPECT_GT(std::abs(inverted.adPhaseDeg[k]), 179.0) << k;
        EXPECT_LE(inverted.adPhaseDeg[k], 180.0) << k;
    }
}

TEST(TransferFunction, UnrelatedNoiseOfEqualPowerHalvesCoherence) {
    const Signal x = WhiteNoise(400 * kN, 3);
    Signal y = WhiteNoise(x.size(), 4);
    for (std::size_t i = 0; i < y.size(); ++i) {
        y[i] += x[i];
    }
    // A third of an octave pools enough bins for the estimate to settle.
    const auto results = Measured(x, y, 3);
    for (double dHz : {250.0, 1000.0, 4000.0, 16000.0}) {
        EXPECT_NEAR(results.adCoherence[Bin(dHz)], 0.5, 0.05) << dHz;
    }
}

TEST(TransferFunction, NoPassOrNoSignalGivesNoResult) {
    CTransferFunction tf;
    tf.Setup(kN, kRate);
    CTransferFunction::SResults results;
    EXPECT_FALSE(tf.Results(results));
    EXPECT_TRUE(results.adMagnitudeDb.empty());

    const Spectrum silence(kN, SComplex{0.0, 0.0});
    const Spectrum noise = HannSpectrum(WhiteNoise(kN, 5).data());
    for (const auto& [pX, pY] : {std::pair{&silence, &noise}, std::pair{&noise, &silence}}) {
        tf.Reset();
        tf.Pass(pX->data(), pY->data(), kBlockSeconds);
        ASSERT_TRUE(tf.Results(results));
        for (std::size_t k = 0; k <= kN / 2; ++k) {
            EXPECT_TRUE(std::isnan(results.adMagnitudeDb[k])) << k;
            EXPECT_TRUE(std::isnan(results.adCoherence[k])) << k;
        }
    }
}

TEST(TransferFunction, SmoothingSpreadsANotchOverItsFraction) {
    const int k0 = 1000;
    const Spectrum flat(kN, SComplex{1.0, 0.0});
    Spectrum notched = flat;
    notched[k0] = {0.0, 0.0};
    CTransferFunction tf;
    tf.Setup(kN, kRate);
    tf.SetSmoothing(0);
    tf.Pass(flat.data(), notched.data(), kBlockSeconds);
    CTransferFunction::SResults results;
    ASSERT_TRUE(tf.Results(results));
    auto at = [&](double dBin) { return results.adMagnitudeDb[std::size_t(dBin)]; };
    EXPECT_EQ(at(k0 - 1), 0.0);
    EXPECT_EQ(at(k0 + 1), 0.0);

    // A third of an octave: the notch reaches a sixth of an octave either side.
    tf.SetSmoothing(3);
    ASSERT_TRUE(tf.Results(results));
    const double dInside = std::exp2(0.9 / 6.0);
    const double dOutside = std::exp2(1.1 / 6.0);
    EXPECT_LT(at(k0 * dInside), -0.01);
    EXPECT_LT(at(k0 / dInside), -0.01);
    EXPECT_EQ(at(k0 * dOutside), 0.0);
    EXPECT_EQ(at(k0 / dOutside), 0.0);
}

TEST(TransferFunction, AveragesForgetWithTheTimeConstantOrNotAtAll) {
    const Signal x = WhiteNoise(kN, 6);
    const Spectrum before = HannSpectrum(x.data());
    const Spectrum after = HannSpectrum(Times(x, 0.5).data());
    CTransferFunction tf;
    tf.Setup(kN, kRate);
    tf.SetAveragingSeconds(1.0);
    tf.Pass(before.data(), before.data(), 0.1);
    CTransferFunction::SResults results;
    for (int nPass = 1; nPass <= 50; ++nPass) {
        tf.Pass(before.data(), after.data(), 0.1);
        ASSERT_TRUE(tf.Results(results));
        const double dExpected = 20.0 * std::log10(0.5 + 0.5 * std::exp(-0.1 * nPass));
        ASSERT_NEAR(results.adMagnitudeDb[100], dExpected, 0.01) << nPass;
    }
    EXPECT_NEAR(results.adMagnitudeDb[100], 20.0 * std::log10(0.5), 0.1);

    // Reset forgets at once; with no time constant, every pass counts alike.
    tf.Reset();
    tf.Pass(before.data(), before.data(), 0.1);
    ASSERT_TRUE(tf.Results(results));
    EXPECT_NEAR(results.adMagnitudeDb[100], 0.0, 1e-9);
    tf.SetAveragingSeconds(0.0);
    for (const Spectrum* pMeasurement : {&before, &before, &after}) {
        tf.Pass(before.data(), pMeasurement->data(), 0.1);
    }
    ASSERT_TRUE(tf.Results(results));
    EXPECT_NEAR(results.adMagnitudeDb[100], 20.0 * std::log10(3.5 / 4.0), 1e-9);
}

constexpr int kBlock = 65536;

TEST(DelayFinder, BlockIsTheLongestPowerOfTwoInTheRing) {
    EXPECT_EQ(CDelayFinder::BlockLength(88200), 65536);
    EXPECT_EQ(CDelayFinder::BlockLength(96000), 65536);
    EXPECT_EQ(CDelayFinder::BlockLength(65536), 65536);
    EXPECT_EQ(CDelayFinder::BlockLength(65535), 32768);
    EXPECT_EQ(CDelayFinder::BlockLength(16000), 8192);
}

TEST(DelayFinder, FindsEqualisedPinkNoiseLaterOrEarlier) {
    const int nMargin = 1000;
    const Signal source = PinkNoise(kBlock + 2 * nMargin, 8);
    const Signal filtered = SPeakingEq().Filter(source);
    // Both blocks end at the same moment.
    const Signal x(source.begin() + nMargin, source.end() - nMargin);
    for (int nDelay : {220, -100}) {
        const Signal y(filtered.begin() + nMargin - nDelay, filtered.end() - nMargin - nDelay);
        const SDelayResult result = CDelayFinder::Find(x, y, kRate);
        EXPECT_TRUE(result.bFound) << result.strWhy;
        EXPECT_EQ(result.nSamples, nDelay);
    }
}

TEST(DelayFinder, NoDelayBetweenUnrelatedOrSilentChannels) {
    const Signal noise = PinkNoise(kBlock, 9);
    const Signal silence(kBlock, 0.0);
    const SDelayResult unrelated = CDelayFinder::Find(noise, PinkNoise(kBlock, 10), kRate);
    EXPECT_FALSE(unrelated.bFound);
    EXPECT_LT(unrelated.dPeakToRestDb, CDelayFinder::kMinPeakToRestDb);
    EXPECT_FALSE(unrelated.strWhy.empty());

    const SDelayResult noReference = CDelayFinder::Find(silence, noise, kRate);
    const SDelayResult noMeasurement = CDelayFinder::Find(noise, silence, kRate);
    EXPECT_FALSE(noReference.bFound);
    EXPECT_FALSE(noMeasurement.bFound);
    EXPECT_NE(noReference.strWhy, noMeasurement.strWhy);
    EXPECT_FALSE(CDelayFinder::Find(noise, Signal(kBlock / 2, 1.0), kRate).bFound);
}

} // namespace transfer_test
