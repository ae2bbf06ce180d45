// Octave bands on the plot: a bar per band between its edges' columns, one
// pixel apart, at the band's power; hollow where the run cannot resolve it;
// the right channel over the left, and the reference at the band's power.

#include "ViewTestSupport.h"

#include "analysis/OctaveBands.h"
#include "analysis/ReferenceSpectrum.h"

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr COLORREF kReference = CSpectrumView::kReferenceColour;

class BandTest : public ViewTest {
protected:
    static constexpr int kRate = 44100;
    static constexpr int kFft = 4096;

    // A flat spectrum, the left channel at dLeft and the right at dRight,
    // with third-octave bands shown.
    void ShowBands(double dLeft, double dRight, bool bStereo) {
        Resize(784, 405);
        StartRun(kRate, kFft, 22, kRate / 2, dLeft, dLeft);
        for (CAnalysisChannel* pChannel : {&m_left, &m_right})
            pChannel->SetWindow(2, kFft); // Hann: 1.5 bins of noise bandwidth
        std::fill_n(m_right.m_pPower, kFft, dRight);
        m_bands.Build(3, kRate, kFft, Geometry().nBinLow * Geometry().dBinWidth,
                      Geometry().nBinMax * Geometry().dBinWidth, 1.5);
        m_pView->SetBands(3);
        m_pView->RenderFrame(bStereo ? 3 : 2);
    }
    // Band i's bar: first column, one past the last, and where a flat
    // spectrum of power dPower puts its top.
    int Left(int i) const { return Geometry().X(m_bands.Band(i).dLowHz / Geometry().dBinWidth); }
    int Right(int i) const {
        return Geometry().X(m_bands.Band(i).dHighHz / Geometry().dBinWidth) - 1;
    }
    int Top(int i, double dPower) const {
        const double dBins =
            (m_bands.Band(i).dHighHz - m_bands.Band(i).dLowHz) / Geometry().dBinWidth;
        return ExpectedLevels(m_pView->m_nPlotBottom, 100, 100).Y(dPower * dBins / 1.5);
    }
    int Band(const char* pszNominal) const {
        for (int i = 0; i < m_bands.Count(); ++i) {
            if (m_bands.Band(i).strNominal == pszNominal)
                return i;
        }
        ADD_FAILURE() << "no band " << pszNominal;
        return 0;
    }

    COctaveBands m_bands;
};

} // namespace

// Each resolved band fills its columns from the top its power gives down to
// the plot's floor; the column before the next band stays black.
TEST_F(BandTest, EachBandIsABarBetweenItsEdges) {
    ShowBands(1e9, 1e9, false);
    const int nBottom = m_pView->m_nPlotBottom;
    for (const char* pszBand : {"250", "1k", "4k", "12.5k"}) {
        const int i = Band(pszBand);
        ASSERT_TRUE(m_bands.IsResolved(i)) << pszBand;
        const int l = Left(i);
        const int r = Right(i);
        const int t = Top(i, 1e9);
        ASSERT_LT(t, nBottom - 20) << pszBand;
        EXPECT_EQ(Back((l + r) / 2, t + 3), kLeftFill) << pszBand;
        EXPECT_EQ(Back((l + r) / 2, nBottom - 3), kLeftFill) << pszBand;
        const COLORREF crAbove = Back((l + r) / 2, t - 3);
        EXPECT_TRUE(crAbove == kBlack || crAbove == kGridColour) << pszBand;
        EXPECT_EQ(Back(r, nBottom - 3), kBlack) << pszBand << ": no pixel between bands";
        // Its top is where its power puts it, to the pixel of rounding.
        EXPECT_NE(Back((l + r) / 2, t + 1), kBlack) << pszBand;
    }
}

// Bands under twice the window's noise bandwidth (three bins for Hann's
// window) are outlined only; the plot shows through.
TEST_F(BandTest, BandsTheRunCannotResolveAreHollow) {
    ShowBands(1e9, 1e9, false);
    const int i = Band("50");
    ASSERT_FALSE(m_bands.IsResolved(i));
    const int l = Left(i);
    const int r = Right(i);
    ASSERT_GE(r - l, 4) << "too narrow to look inside";
    const int y = m_pView->m_nPlotBottom - 5;
    EXPECT_EQ(Back(l, y), kLeftPen);
    EXPECT_EQ(Back(r - 1, y), kLeftPen);
    EXPECT_EQ(Back((l + r) / 2, y), kBlack);
    EXPECT_EQ(Back((l + r) / 2, Top(i, 1e9)), kLeftPen) << "its top edge";
}

// In stereo the right channel's bars stand over the left's; the reference
// line crosses each band's bar at the reference's band power.
TEST_F(BandTest, StereoAndTheReferenceTakeTheBands) {
    CAnalysisChannel kept;
    ASSERT_TRUE(kept.Setup(kFft, double(kFft) / kRate));
    kept.SetWindow(2, kFft);
    std::fill_n(kept.m_pPower, kFft, 1e11);
    ShowBands(1e9, 1e8, true);
    m_pView->SetReference(std::make_shared<const CReferenceSpectrum>(CReferenceSpectrum::FromBins(
        kept.m_pPower, kFft / 2 + 1, double(kRate) / kFft, kept.PowerScale(), "kept")));
    m_pView->RenderFrame(3);
    const int i = Band("1k");
    const int x = (Left(i) + Right(i)) / 2;
    const int tLeft = Top(i, 1e9);
    const int tRight = Top(i, 1e8);
    ASSERT_GT(tRight, tLeft + 10);
    EXPECT_EQ(Back(x, tLeft + 3), kLeftFill);
    EXPECT_EQ(Back(x, tRight + 3), kRightFill);
    const int tReference = Top(i, 1e11);
    bool bCrossed = false;
    for (int y = tReference - 1; y <= tReference + 1; ++y)
        bCrossed = bCrossed || Back(x, y) == kReference;
    EXPECT_TRUE(bCrossed) << "no reference line at y " << tReference;
}

// A band's hold is the highest level the band itself had: white noise held
// for 300 passes keeps it within 1.5 dB of the band's largest level (the sum
// of its bins' held maxima would stand 4 to 5 dB above), and the frame draws
// it there.
TEST_F(BandTest, ABandsHoldIsTheBandsOwnMaximum) {
    ShowBands(0.0, 0.0, false);
    m_pView->m_bHold = 1;
    std::mt19937 rng(5);
    std::exponential_distribution<double> noise(1.0 / 1e9); // white noise's power per bin
    std::vector<double> adBand, adHighest;
    for (int nPass = 0; nPass < 300; ++nPass) {
        {
            const auto lock = m_left.LockArrays();
            for (int k = 0; k < kFft; ++k)
                m_left.m_pPower[k] = noise(rng);
            m_bands.Powers(m_left.m_pPower, kFft / 2 + 1, 1.5, adBand);
        }
        adHighest.resize(adBand.size(), 0.0);
        for (std::size_t i = 0; i < adBand.size(); ++i)
            adHighest[i] = std::max(adHighest[i], adBand[i]);
        m_pView->NewArrays(2);
    }
    std::vector<double> adHold;
    ASSERT_TRUE(m_pView->BandHold(0, adHold));
    ASSERT_EQ(adHold.size(), adHighest.size());
    for (const char* pszBand : {"100", "1k", "10k"}) {
        const int i = Band(pszBand);
        EXPECT_NEAR(10 * std::log10(adHold[std::size_t(i)] / adHighest[std::size_t(i)]), 0.0, 1.5)
            << pszBand;
    }
    m_pView->RenderFrame(2);
    const int i = Band("1k");
    const int y = ExpectedLevels(m_pView->m_nPlotBottom, 100, 100).Y(adHighest[std::size_t(i)]);
    bool bLine = false;
    for (int dy = -1; dy <= 1; ++dy)
        bLine = bLine || Back((Left(i) + Right(i)) / 2, y + dy) == kLeftPen;
    EXPECT_TRUE(bLine) << "no hold line at y " << y;
}
