#include "analysis/AnalysisChannel.h"
#include "analysis/LobePeak.h"
#include "analysis/PitchName.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace {

// Scientific pitch at two reference pitches: A4 itself, middle C, a tone
// between notes, the piano's lowest A and a tone below C0, each worked out
// by hand from 12 log2(f / A4).
TEST(PitchName, NamesTheNearestNoteWithOctaveAndCents) {
    struct SCase {
        double dHz;
        double dA4;
        const char* szNote;
        int nCents;
    };
    const SCase aCases[] = {
        {440.0, 440.0, "A4", 0},   {261.63, 440.0, "C4", 0}, {1000.0, 440.0, "B5", 21},
        {27.5, 440.0, "A0", 0},    {440.0, 415.0, "A#4", 1}, {261.63, 415.0, "C#4", 1},
        {1000.0, 415.0, "C6", 23}, {27.5, 415.0, "A#0", 1},  {15.0, 440.0, "B-1", -49},
        {466.16, 466.0, "A4", 1},
    };
    for (const SCase& c : aCases) {
        const SPitchName name = SPitchName::Of(c.dHz, c.dA4);
        EXPECT_EQ(name.strNote, c.szNote) << c.dHz << " Hz at A4 = " << c.dA4;
        EXPECT_EQ(name.nCents, c.nCents) << c.dHz << " Hz at A4 = " << c.dA4;
    }
}

TEST(PitchName, ReadoutTextAndNoFrequency) {
    EXPECT_EQ(SPitchName::Readout(1000.0, 440.0), "B5 +21 cents  1000.00 Hz");
    EXPECT_EQ(SPitchName::Readout(987.0, 440.0), "B5 -1 cents  987.00 Hz");
    EXPECT_EQ(SPitchName::Readout(0.0, 440.0), "0.00 Hz");
    EXPECT_TRUE(SPitchName::Of(std::nan(""), 440.0).strNote.empty());
}

// The windowed power spectrum of tones (amplitude, frequency in bins) over
// bins 0 to nBins - 1, as a channel would hold it after one pass.
std::vector<double> TonePower(int nType, int nSize, int nBins,
                              const std::vector<std::pair<double, double>>& aTones) {
    std::vector<double> w(std::size_t(nSize), 0.0);
    CAnalysisChannel::FillWindow(nType, nSize, w.data());
    const double kPi = std::acos(-1.0);
    std::vector<double> x(std::size_t(nSize), 0.0);
    for (int n = 0; n < nSize; ++n) {
        for (const auto& [dAmplitude, dBin] : aTones) {
            x[std::size_t(n)] += dAmplitude * std::sin(2 * kPi * dBin * n / nSize);
        }
        x[std::size_t(n)] *= w[std::size_t(n)];
    }
    std::vector<double> p(std::size_t(nBins), 0.0);
    for (int k = 0; k < nBins; ++k) {
        std::complex<double> sum = 0.0;
        for (int n = 0; n < nSize; ++n) {
            sum += x[std::size_t(n)] * std::polar(1.0, -2 * kPi * k * n / double(nSize));
        }
        p[std::size_t(k)] = std::norm(sum);
    }
    return p;
}

double NoiseBandwidth(int nType, int nSize, double* pCentrePower) {
    std::vector<double> w(std::size_t(nSize), 0.0);
    CAnalysisChannel::FillWindow(nType, nSize, w.data());
    double dSum = 0.0;
    double dSquares = 0.0;
    for (double v : w) {
        dSum += v;
        dSquares += v * v;
    }
    *pCentrePower = dSum * dSum / 4; // a unit sine at a bin centre
    return nSize * dSquares / (dSum * dSum);
}

// Between bin centres the peak bin loses up to 1.4 dB (Hann) and its index is
// up to half a bin off; the lobe reads the tone's own frequency and power.
TEST(LobePeak, ReadsAToneBetweenBinsWhateverItsOffset) {
    constexpr int kSize = 1024;
    for (int nType : {2, 3, 1}) {
        double dCentre = 0.0;
        const double dBandwidth = NoiseBandwidth(nType, kSize, &dCentre);
        for (double dOffset : {0.0, 0.13, 0.25, 0.41, 0.5}) {
            const double dBin = 60.0 + dOffset;
            const std::vector<double> p = TonePower(nType, kSize, 120, {{1.0, dBin}});
            const int nPeak = StrongestBinIn(p.data(), 120, 50, 70);
            const SLobePeak peak = LobePeakAt(p.data(), 120, nPeak, dBandwidth);
            ASSERT_TRUE(peak.bFound);
            EXPECT_NEAR(peak.dBin, dBin, 0.005) << "window " << nType << " offset " << dOffset;
            EXPECT_NEAR(10 * std::log10(peak.dPower / dCentre), 0.0, 0.02)
                << "window " << nType << " offset " << dOffset;
            // Climbing from the lobe's flank reaches the same peak.
            EXPECT_DOUBLE_EQ(LobePeakAt(p.data(), 120, nPeak - 1, dBandwidth).dBin, peak.dBin);
        }
    }
}

TEST(LobePeak, RangesAndEmptySpectraFindNothing) {
    const std::vector<double> p = {5.0, 1.0, 3.0, 2.0};
    EXPECT_EQ(StrongestBinIn(p.data(), 4, -3, 10), 2); // bin 0 (DC) is never a tone
    EXPECT_EQ(StrongestBinIn(p.data(), 4, 3, 3), -1);
    const std::vector<double> zero(16, 0.0);
    EXPECT_FALSE(LobePeakAt(zero.data(), 16, 5, 1.5).bFound);
    EXPECT_FALSE(LobePeakAt(p.data(), 4, 9, 1.5).bFound);
    EXPECT_FALSE(LobePeakAt(p.data(), 4, 2, 0.0).bFound);
}

} // namespace
