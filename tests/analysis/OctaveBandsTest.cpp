// Octave bands: the standard's centres, edges and names, and band levels
// from a channel's spectrum: a sine reads its level in its band, noise its
// power in the band.

#include "analysis/OctaveBands.h"
#include "analysis/AnalysisChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kFullScale = 32768.0;
constexpr int kRate = 44100;

// A channel transforming blocks of nSize at kRate with window nWindow.
struct SBandRun {
    CAnalysisChannel chan;
    COctaveBands bands;
    int nSize;

    SBandRun(int nFftSize, int nWindow) : nSize(nFftSize) {
        chan.m_nWindowType = nWindow;
        EXPECT_TRUE(chan.Setup(nSize, double(nSize) / kRate));
        chan.SetWindow(nWindow, nSize);
        bands.Build(3, kRate, nSize, 20.0, kRate / 2.0, chan.PowerScale().NoiseBandwidthBins());
    }
    template <typename Sample> void Play(Sample fnSample) {
        for (int i = 0; i < nSize; ++i)
            chan.GetSamples()[i] = static_cast<int32_t>(std::lround(fnSample(i)));
        chan.Transform();
    }
    // Each band's level in dB relative to a full-scale sine.
    std::vector<double> LevelsDb() {
        const auto lock = chan.LockArrays();
        const SPowerScale scale = chan.PowerScale();
        std::vector<double> adPower;
        bands.Powers(chan.m_pPower, nSize / 2 + 1, scale.NoiseBandwidthBins(), adPower);
        std::vector<double> adDb;
        for (double d : adPower)
            adDb.push_back(10 * std::log10(d / scale.Gain(1.0)));
        return adDb;
    }
};

} // namespace

// Third-octave bands from 20 Hz to 20 kHz carry the standard's names, and
// the exact centres and edges of the base-10 system.
TEST(OctaveBands, CentresEdgesAndNamesAreTheStandards) {
    const std::vector<SOctaveBand> aThirds = COctaveBands::Bands(3, 17.7, 22400);
    std::vector<std::string> aNames;
    for (const SOctaveBand& band : aThirds)
        aNames.push_back(band.strNominal);
    const std::vector<std::string> aStandard = {
        "20",    "25",  "31.5", "40",   "50",  "63",  "80",    "100",   "125",  "160", "200",
        "250",   "315", "400",  "500",  "630", "800", "1k",    "1.25k", "1.6k", "2k",  "2.5k",
        "3.15k", "4k",  "5k",   "6.3k", "8k",  "10k", "12.5k", "16k",   "20k"};
    EXPECT_EQ(aNames, aStandard);
    const SOctaveBand& kilo = aThirds[17];
    EXPECT_DOUBLE_EQ(kilo.dCentreHz, 1000.0);
    EXPECT_NEAR(kilo.dLowHz, 891.2509, 1e-4);   // 1000 G^(-1/6)
    EXPECT_NEAR(kilo.dHighHz, 1122.0185, 1e-4); // 1000 G^(1/6)
    EXPECT_NEAR(aThirds[18].dCentreHz, 1258.9254, 1e-4);
    // Neighbours share their edges.
    for (std::size_t i = 1; i < aThirds.size(); ++i)
        EXPECT_NEAR(aThirds[i].dLowHz, aThirds[i - 1].dHighHz, 1e-9 * aThirds[i].dLowHz);

    std::vector<std::string> aOctaves;
    for (const SOctaveBand& band : COctaveBands::Bands(1, 22, 22400))
        aOctaves.push_back(band.strNominal);
    EXPECT_EQ(aOctaves, (std::vector<std::string>{"31.5", "63", "125", "250", "500", "1k", "2k",
                                                  "4k", "8k", "16k"}));
    EXPECT_EQ(COctaveBands::Name(1), "1/1 octave");
    EXPECT_EQ(COctaveBands::Name(3), "1/3 octave");
}

// With an even fraction 1 kHz is an edge, not a centre; finer bands are named
// by their centres to three figures.
TEST(OctaveBands, EvenFractionsHaveOneKilohertzAsAnEdge) {
    for (int nFraction : {6, 12}) {
        const std::vector<SOctaveBand> aBands = COctaveBands::Bands(nFraction, 500, 2000);
        bool bEdge = false;
        for (const SOctaveBand& band : aBands) {
            EXPECT_GT(std::abs(band.dCentreHz - 1000.0), 1.0) << nFraction;
            bEdge = bEdge || std::abs(band.dHighHz - 1000.0) < 1e-9;
        }
        EXPECT_TRUE(bEdge) << nFraction;
        EXPECT_EQ(int(aBands.size()), 2 * nFraction) << nFraction; // two octaves
    }
    const std::vector<SOctaveBand> aSixths = COctaveBands::Bands(6, 1000, 1200);
    ASSERT_FALSE(aSixths.empty());
    EXPECT_NEAR(aSixths[0].dCentreHz, 1000 * std::pow(10.0, 0.3 / 12), 1e-9); // 1059.25
    EXPECT_EQ(aSixths[0].strNominal, "1.06k");
}

// A run's bands lie wholly in the span and under half the rate, even where
// the span is given up to the rate; a band is resolved where it is at least
// twice as wide as the window's noise bandwidth at its length: two bins for
// the rectangular window over the whole block, three for Hann's, and N/L
// times as many over a length L.
TEST(OctaveBands, ARunResolvesTheBandsItsWindowResolvesAtItsLength) {
    struct SCase {
        int nWindow;
        int nLength;
        double dFirstResolvedHz; // the lowest centre resolved, at 48 kHz and 4096 points
    } cases[] = {{0, 4096, 125.0}, {2, 4096, 160.0}, {2, 480, 1600.0}, {0, 480, 1000.0}};
    for (const SCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "window " << c.nWindow << ", length " << c.nLength);
        COctaveBands bands;
        bands.Build(3, 48000, 4096, 20, 48000,
                    SPowerScale::OfWindow(c.nWindow, c.nLength, 4096, false).NoiseBandwidthBins());
        ASSERT_GT(bands.Count(), 20);
        EXPECT_GE(bands.Band(0).dLowHz, 20.0);
        EXPECT_LE(bands.Band(bands.Count() - 1).dHighHz, 24000.0);
        EXPECT_EQ(bands.Band(bands.Count() - 1).strNominal, "20k");
        for (int i = 0; i < bands.Count(); ++i)
            EXPECT_EQ(bands.IsResolved(i), bands.Band(i).dNominalHz >= c.dFirstResolvedHz)
                << bands.Band(i).strNominal;
    }
}

// A sine at the centre of a third-octave band, and a quarter of the band from
// either edge, reads its own level within 0.2 dB wherever the band is wide
// enough to hold the window's main lobe and the leakage that matters: at least
// 4 bins with Hann's window, 12 with the rectangular one, whose leakage falls
// slowly: with Hann's window every band from 100 Hz (16384 points) or 200 Hz
// (4096 points) to 10 kHz, with the rectangular one from 160 Hz or 630 Hz.
TEST(OctaveBands, ASineReadsItsLevelInItsBand) {
    const double dAmplitude = 0.1 * kFullScale; // -20 dB
    struct SCase {
        int nSize;
        int nWindow; // 2 Hann, 0 rectangular
        double dMinBins;
    };
    for (const SCase c :
         {SCase{4096, 2, 4}, SCase{16384, 2, 4}, SCase{4096, 0, 12}, SCase{16384, 0, 12}}) {
        SBandRun run(c.nSize, c.nWindow);
        const double dBinHz = double(kRate) / c.nSize;
        int nChecked = 0;
        for (int i = 0; i < run.bands.Count(); ++i) {
            const SOctaveBand& band = run.bands.Band(i);
            const double dBins = (band.dHighHz - band.dLowHz) / dBinHz;
            if (band.dCentreHz < 99 || band.dCentreHz > 10500 || dBins < c.dMinBins)
                continue;
            ++nChecked;
            const double dQuarter = (band.dHighHz - band.dLowHz) / 4;
            for (double dHz : {band.dCentreHz, band.dLowHz + dQuarter, band.dHighHz - dQuarter}) {
                run.Play([&](int n) {
                    return dAmplitude * std::sin(2 * std::numbers::pi * dHz * n / kRate);
                });
                EXPECT_NEAR(run.LevelsDb()[std::size_t(i)], -20.0, 0.2)
                    << dHz << " Hz in " << band.strNominal << " (" << dBins << " bins), " << c.nSize
                    << " points, window " << c.nWindow;
            }
        }
        EXPECT_GE(nChecked, c.nWindow == 2 && c.nSize == 16384 ? 21 : 13) << c.nSize;
    }
}

// White noise: the powers of neighbouring resolved bands add up to the power
// of the bins they cover.
TEST(OctaveBands, NoiseInTheBandsAddsUpToTheNoiseInTheirBins) {
    SBandRun run(16384, 2);
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0.0, 3000.0);
    run.Play([&](int) { return noise(rng); });
    const auto lock = run.chan.LockArrays();
    const SPowerScale scale = run.chan.PowerScale();
    std::vector<double> adPower;
    run.bands.Powers(run.chan.m_pPower, run.nSize / 2 + 1, scale.NoiseBandwidthBins(), adPower);
    double dBands = 0.0;
    double dLowHz = 0.0;
    double dHighHz = 0.0;
    for (int i = 0; i < run.bands.Count(); ++i) {
        if (!run.bands.IsResolved(i))
            continue;
        dBands += adPower[std::size_t(i)];
        dLowHz = dLowHz == 0.0 ? run.bands.Band(i).dLowHz : dLowHz;
        dHighHz = run.bands.Band(i).dHighHz;
    }
    const double dBinHz = double(kRate) / run.nSize;
    double dBins = 0.0;
    for (int k = 0; k <= run.nSize / 2; ++k) {
        if (k * dBinHz >= dLowHz && k * dBinHz < dHighHz)
            dBins += run.chan.m_pPower[k];
    }
    EXPECT_NEAR(10 * std::log10(dBands), 10 * std::log10(dBins / scale.NoiseBandwidthBins()), 0.1);
}

// Pink noise (equal power per octave) reads flat within 1 dB across the
// resolved third-octave bands from 200 Hz to 10 kHz, averaged over blocks.
TEST(OctaveBands, PinkNoiseReadsFlat) {
    SBandRun run(16384, 2);
    std::mt19937 rng(11);
    std::normal_distribution<double> white(0.0, 1.0);
    // Paul Kellet's filter: white noise to pink within 0.05 dB above 9 Hz.
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    auto Pink = [&] {
        const double w = white(rng);
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        const double p = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
        return 600.0 * p;
    };
    for (int i = 0; i < 44100; ++i)
        Pink(); // the filter settles
    std::vector<double> adSum;
    constexpr int kBlocks = 64;
    for (int nBlock = 0; nBlock < kBlocks; ++nBlock) {
        run.Play([&](int) { return Pink(); });
        const std::vector<double> adDb = run.LevelsDb();
        adSum.resize(adDb.size(), 0.0);
        for (std::size_t i = 0; i < adDb.size(); ++i)
            adSum[i] += std::pow(10.0, adDb[i] / 10) / kBlocks;
    }
    std::vector<double> adFlat;
    for (int i = 0; i < run.bands.Count(); ++i) {
        const double dCentre = run.bands.Band(i).dCentreHz;
        if (run.bands.IsResolved(i) && dCentre >= 199 && dCentre <= 10100)
            adFlat.push_back(10 * std::log10(adSum[std::size_t(i)]));
    }
    ASSERT_EQ(adFlat.size(), 18u); // 200 Hz to 10 kHz
    double dMean = 0.0;
    for (double d : adFlat)
        dMean += d / double(adFlat.size());
    for (std::size_t i = 0; i < adFlat.size(); ++i)
        EXPECT_NEAR(adFlat[i], dMean, 1.0) << "band " << i;
}
