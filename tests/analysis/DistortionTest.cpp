#include "analysis/distortion/BlackmanHarris7.h"
#include "analysis/distortion/DistortionAnalyser.h"

#include "analysis/AnalysisChannel.h"
#include "analysis/Fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

// Named, so that the unity build keeps these helpers apart from other files'.
namespace distortion_test {
namespace {

constexpr double kFullScale = 32768.0;
constexpr double kNone = -std::numeric_limits<double>::infinity();

// A tone at dDbfs (re a full-scale sine) with harmonics H2, H3, ... at their
// levels re the tone (kNone leaves one out), plus white Gaussian noise whose
// RMS is dNoiseDbfs re a full-scale sine's RMS, 32768 / sqrt(2), spread from
// DC to half the rate.
struct SSignal {
    double dHz = 1000.0;
    double dDbfs = -3.0;
    std::vector<double> adHarmonicDb{};
    double dNoiseDbfs = kNone;
};

double Amplitude(double dDbfs) {
    return kFullScale * std::pow(10.0, dDbfs / 20.0);
}

double Power(double dDb) {
    return std::pow(10.0, dDb / 10.0);
}

double Db(double dPower) {
    return 10.0 * std::log10(dPower);
}

// The share of white noise's power inside 20 Hz to 20 kHz.
double BandShare(int nRate) {
    const double dTop = std::min(CDistortionAnalyser::kBandHighHz, nRate / 2.0);
    return (dTop - CDistortionAnalyser::kBandLowHz) / (nRate / 2.0);
}

std::vector<double> Synthesise(const SSignal& signal, int nRate, int nSamples) {
    std::mt19937 rng(1);
    std::normal_distribution<double> gauss;
    const double dNoiseRms = Amplitude(signal.dNoiseDbfs) / std::sqrt(2.0);
    const double dAmplitude = Amplitude(signal.dDbfs);
    std::vector<double> ad(std::size_t(nSamples), 0.0);
    for (int n = 0; n < nSamples; ++n) {
        const double dPhase = 2.0 * std::numbers::pi * signal.dHz * n / nRate;
        double d = dAmplitude * std::sin(dPhase);
        for (std::size_t i = 0; i < signal.adHarmonicDb.size(); ++i) {
            const double k = double(i + 2);
            d += dAmplitude * std::pow(10.0, signal.adHarmonicDb[i] / 20.0) *
                 std::sin(k * dPhase + 0.7 * k);
        }
        ad[std::size_t(n)] = d + (dNoiseRms > 0.0 ? dNoiseRms * gauss(rng) : 0.0);
    }
    return ad;
}

std::vector<std::int32_t> Quantise(const std::vector<double>& ad) {
    std::vector<std::int32_t> an(ad.size());
    std::transform(ad.begin(), ad.end(), an.begin(), [](double d) {
        return std::int32_t(std::clamp(std::lround(d), -32768L, 32767L));
    });
    return an;
}

// Consecutive blocks of nSize, each fed whole.
template <typename T>
void FeedBlocks(CDistortionAnalyser& analyser, const std::vector<T>& a, int nSize) {
    for (std::size_t i = 0; i + std::size_t(nSize) <= a.size(); i += std::size_t(nSize)) {
        analyser.Feed(a.data() + i, nSize);
    }
}

SDistortion Analyse(const std::vector<double>& ad, int nRate, int nSize, bool bQuantise) {
    CDistortionAnalyser analyser;
    EXPECT_TRUE(analyser.Configure(nRate, nSize));
    analyser.SetAveraging(4, false);
    if (bQuantise) {
        FeedBlocks(analyser, Quantise(ad), nSize);
    } else {
        FeedBlocks(analyser, ad, nSize);
    }
    return analyser.Result();
}

double ThdDb(const std::vector<double>& adHarmonicDb) {
    double dSum = 0.0;
    for (double d : adHarmonicDb) {
        dSum += Power(d);
    }
    return Db(dSum);
}

// ---------------------------------------------------------------------------

// Zero-padded sixteen times, the transform shows the window's response between
// bins: whatever lies beyond the main lobe must stay below what any reading
// here resolves, or a tone's skirt would read as harmonics and noise.
TEST(DistortionWindow, LeaksNothingBeyondItsMainLobe) {
    constexpr int kLength = 512;
    constexpr int kPad = 16;
    std::vector<double> adWindow(kLength);
    FillBlackmanHarris7(adWindow.data(), kLength);
    std::vector<std::complex<double>> aSpectrum(kLength * kPad, 0.0);
    std::copy(adWindow.begin(), adWindow.end(), aSpectrum.begin());
    ForwardFft(aSpectrum);
    double dWorst = 0.0;
    for (int k = kBlackmanHarris7HalfWidthBins * kPad; k <= kLength * kPad / 2; ++k) {
        dWorst = std::max(dWorst, std::norm(aSpectrum[std::size_t(k)]));
    }
    EXPECT_LT(Db(dWorst / std::norm(aSpectrum[0])), -170.0);
}

// H2 at -60 dB and H3 at -70 dB re a -9 dBFS tone, with noise at -70 dBFS,
// in 16 bits: THD counts the harmonics, THD+N and SNR the noise in the band
// as well, and nothing is near what 16 bits allow.
TEST(DistortionReadout, ThdAndThdnOfKnownHarmonicsAndNoise) {
    constexpr int kRate = 44100;
    constexpr int kSize = 16384;
    const SSignal signal{997.0, -9.0, {-60.0, -70.0}, -70.0};
    const SDistortion result =
        Analyse(Synthesise(signal, kRate, 8 * kSize), kRate, kSize, /*bQuantise=*/true);
    ASSERT_EQ(result.eStatus, EDistortionStatus::Ok);

    const double dNoise = Power(signal.dNoiseDbfs - signal.dDbfs) * BandShare(kRate);
    const double dQuantisation =
        BandShare(kRate) / 12.0 / (Power(signal.dDbfs) * kFullScale * kFullScale / 2.0);
    const double dResidual = Power(-60.0) + Power(-70.0) + dNoise + dQuantisation;
    const double dExpectedThdn = Db(dResidual / (1.0 + dResidual));
    EXPECT_NEAR(dExpectedThdn, -57.4, 0.3);

    EXPECT_NEAR(result.dThdDb, -59.6, 0.2);
    EXPECT_NEAR(result.dThdPercent, 100.0 * std::sqrt(1.1e-6), 0.005);
    EXPECT_NEAR(result.dThdnDb, -57.4, 0.3);
    EXPECT_NEAR(result.dThdnDb, dExpectedThdn, 0.1);
    EXPECT_NEAR(result.dThdnPercent, 100.0 * std::sqrt(dResidual / (1.0 + dResidual)), 0.01);
    EXPECT_NEAR(result.dSnrDb, -Db(dNoise + dQuantisation), 0.2);
    EXPECT_NEAR(result.Harmonic(2).dDb, -60.0, 0.1);
    EXPECT_NEAR(result.Harmonic(3).dDb, -70.0, 0.2);
    EXPECT_NEAR(result.dFundamentalHz, 997.0, 0.01);
    EXPECT_NEAR(result.dFundamentalDbfs, -9.0, 0.02);
    EXPECT_EQ(result.nHarmonics, 9);
    EXPECT_FALSE(result.bAtInputLimit);
}

// The lobe sums read a tone and its harmonics alike at a bin centre, half-way
// between bins and anywhere else; a harmonic that is not there reads nothing.
TEST(DistortionReadout, TonesAndHarmonicsWhereverTheyFallBetweenBins) {
    constexpr int kRate = 44100;
    constexpr int kSize = 16384;
    constexpr double kHzPerBin = double(kRate) / kSize;
    const std::vector<double> adHarmonics = {-60.0, -75.0, -90.0, -100.0};
    for (double dHz : {372.0 * kHzPerBin, 372.5 * kHzPerBin, 997.0}) {
        const SSignal signal{dHz, -3.0, adHarmonics};
        const SDistortion result =
            Analyse(Synthesise(signal, kRate, kSize), kRate, kSize, /*bQuantise=*/false);
        ASSERT_EQ(result.eStatus, EDistortionStatus::Ok) << dHz;
        EXPECT_NEAR(result.dFundamentalHz, dHz, 1e-3);
        EXPECT_NEAR(result.dFundamentalDbfs, -3.0, 1e-3) << dHz;
        for (int k = 2; k <= 10; ++k) {
            ASSERT_TRUE(result.Harmonic(k).bPresent) << dHz << " H" << k;
            EXPECT_NEAR(result.Harmonic(k).dHz, k * dHz, k * 1e-3);
            if (k - 2 < int(adHarmonics.size())) {
                EXPECT_NEAR(result.Harmonic(k).dDb, adHarmonics[std::size_t(k - 2)], 0.01)
                    << dHz << " H" << k;
            } else {
                EXPECT_LT(result.Harmonic(k).dDb, -170.0) << dHz << " H" << k;
            }
        }
        EXPECT_NEAR(result.dThdDb, ThdDb(adHarmonics), 0.01) << dHz;
    }
}

// At 44.1 kHz a 10 kHz tone has only H2 (20 kHz) below half the rate; a
// 15 kHz tone has none, so THD has nothing to read while THD+N still does.
TEST(DistortionReadout, HarmonicsAboveHalfTheRateAreLeftOut) {
    constexpr int kRate = 44100;
    constexpr int kSize = 16384;
    const SDistortion ten = Analyse(Synthesise({10000.0, -3.0, {-60.0}}, kRate, kSize), kRate,
                                    kSize, /*bQuantise=*/false);
    ASSERT_EQ(ten.eStatus, EDistortionStatus::Ok);
    EXPECT_EQ(ten.nHarmonics, 1);
    EXPECT_TRUE(ten.Harmonic(2).bPresent);
    EXPECT_FALSE(ten.Harmonic(3).bPresent);
    EXPECT_NEAR(ten.dThdDb, -60.0, 0.01);

    const SSignal fifteen{15000.0, -3.0, {}, -80.0};
    const SDistortion result =
        Analyse(Synthesise(fifteen, kRate, 4 * kSize), kRate, kSize, /*bQuantise=*/false);
    ASSERT_EQ(result.eStatus, EDistortionStatus::Ok);
    EXPECT_EQ(result.nHarmonics, 0);
    for (const SHarmonic& harmonic : result.aHarmonics) {
        EXPECT_FALSE(harmonic.bPresent);
    }
    EXPECT_TRUE(std::isnan(result.dThdDb));
    EXPECT_NEAR(result.dThdnDb, -80.0 + 3.0 + Db(BandShare(kRate)), 0.2);
}

// The span decides which harmonics THD counts; the band's figures, THD+N and
// SNR, are the same whatever the view shows. At 4096 points the lobes cover
// a tenth of the band: SNR still reads all the band's noise, and none of the
// harmonics.
TEST(DistortionReadout, SpanLeavesHarmonicsOutOfThdOnly) {
    constexpr int kRate = 48000;
    constexpr int kSize = 4096;
    const SSignal signal{1000.0, -6.0, {-60.0, -50.0, -70.0}, -80.0};
    CDistortionAnalyser analyser;
    ASSERT_TRUE(analyser.Configure(kRate, kSize));
    analyser.SetAveraging(4, false);
    FeedBlocks(analyser, Synthesise(signal, kRate, 16 * kSize), kSize);
    const SDistortion whole = analyser.Result();
    analyser.SetSpan(20.0, 2500.0);
    const SDistortion narrow = analyser.Result();
    ASSERT_EQ(whole.eStatus, EDistortionStatus::Ok);
    ASSERT_EQ(narrow.eStatus, EDistortionStatus::Ok);

    EXPECT_NEAR(whole.dThdDb, ThdDb(signal.adHarmonicDb), 0.05);
    EXPECT_NEAR(narrow.dThdDb, -60.0, 0.05);
    EXPECT_EQ(narrow.nHarmonics, 1);
    EXPECT_FALSE(narrow.Harmonic(3).bPresent);
    EXPECT_DOUBLE_EQ(narrow.dThdnDb, whole.dThdnDb);
    EXPECT_DOUBLE_EQ(narrow.dSnrDb, whole.dSnrDb);

    const double dNoise = Power(signal.dNoiseDbfs - signal.dDbfs) * BandShare(kRate);
    EXPECT_NEAR(whole.dSnrDb, -Db(dNoise), 0.2);
    const double dResidual = Power(ThdDb(signal.adHarmonicDb)) + dNoise;
    EXPECT_NEAR(whole.dThdnDb, Db(dResidual / (1.0 + dResidual)), 0.1);
}

// Unquantised, harmonics from -110 dB down re a full-scale tone read within
// a dB; quantised to 16 bits, the same signal's THD+N is what 16 bits allow.
TEST(DistortionLimits, HarmonicsAt110DbAndTheSixteenBitLimit) {
    constexpr int kRate = 48000;
    constexpr int kSize = 16384;
    const std::vector<double> adHarmonics = {-110.0, -110.0, -112.0, -112.0, -114.0,
                                             -114.0, -116.0, -116.0, -118.0};
    // 32766: the harmonics' peaks stay inside 16 bits.
    const SSignal signal{997.0, 20.0 * std::log10(32766.0 / kFullScale), adHarmonics};
    const std::vector<double> ad = Synthesise(signal, kRate, 4 * kSize);

    const SDistortion exact = Analyse(ad, kRate, kSize, /*bQuantise=*/false);
    ASSERT_EQ(exact.eStatus, EDistortionStatus::Ok);
    for (int k = 2; k <= 10; ++k) {
        EXPECT_NEAR(exact.Harmonic(k).dDb, adHarmonics[std::size_t(k - 2)], 1.0) << "H" << k;
    }
    EXPECT_NEAR(exact.dThdDb, ThdDb(adHarmonics), 0.5);
    EXPECT_FALSE(exact.bAtInputLimit);

    const SDistortion quantised = Analyse(ad, kRate, kSize, /*bQuantise=*/true);
    ASSERT_EQ(quantised.eStatus, EDistortionStatus::Ok);
    const double dLimitDb = Db(BandShare(kRate) / 12.0 / (32766.0 * 32766.0 / 2.0));
    EXPECT_NEAR(quantised.dInputLimitDb, dLimitDb, 0.05);
    EXPECT_TRUE(quantised.bAtInputLimit) << quantised.dThdnDb << " dB";
}

// ---------------------------------------------------------------------------

SDistortion StatusOf(const SSignal& signal, int nRate, int nSize, double dSpanLowHz = 0.0,
                     double dSpanHighHz = 1e9) {
    CDistortionAnalyser analyser;
    EXPECT_TRUE(analyser.Configure(nRate, nSize));
    analyser.SetSpan(dSpanLowHz, dSpanHighHz);
    FeedBlocks(analyser, Quantise(Synthesise(signal, nRate, 2 * nSize)), nSize);
    return analyser.Result();
}

// Figures come from whole blocks only: none before the first, after a Reset
// or a failed Configure, or while the run's blocks are shorter than the
// transform; blocks fed in pieces slide on, reading as the last N samples
// fed at once.
TEST(DistortionStatus, FiguresComeFromWholeBlocksOnly) {
    constexpr int kSize = 4096;
    const std::vector<double> ad =
        Synthesise({1234.5, -6.0, {-50.0, -65.0}, -80.0}, 48000, 3 * kSize);
    CDistortionAnalyser pieces;
    EXPECT_EQ(pieces.Result().eStatus, EDistortionStatus::NoData);
    ASSERT_TRUE(pieces.Configure(48000, kSize));
    pieces.Feed(ad.data(), kSize - 1);
    EXPECT_EQ(pieces.Result().eStatus, EDistortionStatus::NoData);
    for (std::size_t i = kSize - 1; i < ad.size(); i += 1000) {
        pieces.Feed(ad.data() + i, int(std::min<std::size_t>(1000, ad.size() - i)));
    }
    CDistortionAnalyser whole;
    ASSERT_TRUE(whole.Configure(48000, kSize));
    whole.Feed(ad.data() + ad.size() - kSize, kSize);
    const SDistortion a = pieces.Result();
    ASSERT_EQ(a.eStatus, EDistortionStatus::Ok);
    EXPECT_DOUBLE_EQ(a.dThdnDb, whole.Result().dThdnDb);
    EXPECT_DOUBLE_EQ(a.dFundamentalHz, whole.Result().dFundamentalHz);

    whole.MarkBlockShort();
    EXPECT_EQ(whole.Result().eStatus, EDistortionStatus::BlockTooShort);
    whole.Feed(ad.data(), kSize);
    EXPECT_EQ(whole.Result().eStatus, EDistortionStatus::Ok);
    whole.Reset();
    EXPECT_EQ(whole.Result().eStatus, EDistortionStatus::NoData);
    whole.Feed(ad.data(), kSize);
    EXPECT_FALSE(whole.Configure(48000, 3000));
    EXPECT_EQ(whole.Result().eStatus, EDistortionStatus::NoData);
    whole.Feed(ad.data(), kSize);
    EXPECT_EQ(whole.Result().eStatus, EDistortionStatus::NoData);
}

// A tone's own harmonics are not what it must stand out from: a fuzz
// pedal's, 10 dB down, still give figures.
TEST(DistortionReadout, AHeavilyDistortedToneStillReads) {
    const SDistortion d =
        Analyse(Synthesise({1000.0, -6.0, {-10.0, -15.0}}, 48000, 4 * 8192), 48000, 8192, false);
    ASSERT_EQ(d.eStatus, EDistortionStatus::Ok);
    EXPECT_NEAR(d.dThdDb, Db(Power(-10.0) + Power(-15.0)), 0.05);
    EXPECT_NEAR(d.dThdPercent, 100.0 * std::sqrt(Power(-10.0) + Power(-15.0)), 0.2);
}

// Whatever bin noise or silence peaks at, even one whose lobe would reach DC,
// the reason is that there is no tone.
TEST(DistortionStatus, NoToneUnless20DbAboveTheRest) {
    constexpr int kRate = 48000;
    CDistortionAnalyser silent;
    ASSERT_TRUE(silent.Configure(kRate, 8192));
    silent.Feed(std::vector<std::int32_t>(8192, 0).data(), 8192);
    EXPECT_EQ(silent.Result().eStatus, EDistortionStatus::NoTone);
    EXPECT_EQ(StatusOf({1000.0, kNone, {}, -20.0}, kRate, 8192).eStatus, EDistortionStatus::NoTone);
    // The noise's share of the band brings its level there to -x dB re the tone.
    auto noiseAt = [&](double dBelowTone) { return -20.0 - dBelowTone - Db(BandShare(kRate)); };
    EXPECT_EQ(StatusOf({1000.0, -20.0, {}, noiseAt(18.0)}, kRate, 8192).eStatus,
              EDistortionStatus::NoTone);
    EXPECT_EQ(StatusOf({1000.0, -20.0, {}, noiseAt(22.0)}, kRate, 8192).eStatus,
              EDistortionStatus::Ok);
}

// The lobe must fit the span and the transform: a span that cuts it, a span
// beside the tone that holds only its skirt, and a tone whose lobe reaches
// the second harmonic's at 4096 points but not at 16384.
TEST(DistortionStatus, LobeTheSpanOrTransformCannotHold) {
    constexpr int kRate = 48000;
    constexpr int kSize = 16384;
    constexpr double kHzPerBin = double(kRate) / kSize;
    const SSignal tone{1000.0, -6.0, {-60.0}, -100.0};
    EXPECT_EQ(StatusOf(tone, kRate, kSize, 20.0, 1000.0 + 5 * kHzPerBin).eStatus,
              EDistortionStatus::SpanTooNarrow);
    EXPECT_EQ(StatusOf(tone, kRate, kSize, 1000.0 + 3 * kHzPerBin, 5000.0).eStatus,
              EDistortionStatus::SpanTooNarrow);
    EXPECT_EQ(StatusOf(tone, kRate, kSize, 20.0, 1000.0 + 10 * kHzPerBin).eStatus,
              EDistortionStatus::Ok);

    const SSignal low{100.0, -6.0, {}, -100.0};
    EXPECT_EQ(StatusOf(low, kRate, 4096).eStatus, EDistortionStatus::TransformTooShort);
    EXPECT_EQ(StatusOf(low, kRate, kSize).eStatus, EDistortionStatus::Ok);
}

TEST(DistortionStatus, FundamentalAboveTheBand) {
    const SDistortion result = StatusOf({21000.0, -6.0, {}, -100.0}, 48000, 16384);
    EXPECT_EQ(result.eStatus, EDistortionStatus::AboveBand);
    EXPECT_NEAR(result.dFundamentalHz, 21000.0, 0.01);
    EXPECT_TRUE(std::isnan(result.dThdnDb));
}

// ---------------------------------------------------------------------------

// The readout's fundamental follows a level step as the bars' peak does, with
// and without fast attack: a Hann channel's peak bin reads a tone at its
// centre at the tone's level.
TEST(DistortionAveraging, FollowsTheBarsThroughALevelStep) {
    constexpr int kRate = 48000;
    constexpr int kSize = 4096;
    constexpr int kBin = 100;
    for (bool bFastAttack : {false, true}) {
        CAnalysisChannel channel;
        ASSERT_TRUE(channel.Setup(kSize, double(kSize) / kRate));
        channel.m_nWindowType = 2;
        channel.SetWindow(2, 0);
        channel.m_nInertia = 4;
        channel.m_bFastAttack = bFastAttack ? 1 : 0;
        CDistortionAnalyser analyser;
        ASSERT_TRUE(analyser.Configure(kRate, kSize));
        analyser.SetAveraging(4, bFastAttack);
        auto pass = [&](double dDbfs) {
            const std::vector<std::int32_t> an =
                Quantise(Synthesise({kBin * double(kRate) / kSize, dDbfs}, kRate, kSize));
            std::copy(an.begin(), an.end(), channel.GetSamples());
            channel.Transform();
            analyser.Feed(an.data(), kSize);
        };
        // Long enough for the bars' rise from nothing to fade below 0.001 dB;
        // the readout starts from its first pass.
        for (int i = 0; i < 32; ++i) {
            pass(-6.0);
        }
        for (double dDbfs : {-26.0, -26.0, -26.0, -6.0, -6.0, -30.0}) {
            pass(dDbfs);
            const double dBars = Db(channel.GetPower()[kBin] / channel.PowerScale().Gain(kBin));
            EXPECT_NEAR(analyser.Result().dFundamentalDbfs, dBars, 0.01)
                << (bFastAttack ? "fast attack, " : "") << dDbfs << " dBFS";
        }
    }
}

} // namespace
} // namespace distortion_test
