// The aids to reading the picture: a frozen picture stands still while the
// passes go on; markers snap to tones and read their levels off the whole
// lobe; the difference from the reference stands around its own 0 dB line;
// the note readout in cents; and round labels on the axis.

#include "ViewTestSupport.h"

#include "analysis/OctaveBands.h"
#include "analysis/ReferenceSpectrum.h"
#include "view/DifferenceBars.h"
#include "view/MarkerOverlay.h"
#include "view/RoundLabels.h"

#include <QSignalSpy>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr COLORREF kFrozenText = RGB(230, 200, 90);
constexpr COLORREF kDifferenceZero = CSpectrumView::kReferenceColour;

std::string FormatA(double dDb) {
    char sz[64];
    std::snprintf(sz, sizeof sz, "A  500.0 Hz  %.1f dB", dDb);
    return sz;
}

class ReadingAidsTest : public ViewTest {
protected:
    static constexpr int kRate = 44100;
    static constexpr int kFft = 4096;
    static constexpr int kWidth = 784;

    // Tones (frequency in Hz, level in dBFS) in both channels' blocks, one
    // pass through the Hann window, and a frame.
    void ShowTones(const std::vector<std::pair<double, double>>& aTones) {
        if (!m_bRunning) {
            Resize(kWidth, 405);
            StartRun(kRate, kFft, 22, kRate / 2);
            m_bRunning = true;
        }
        const double kPi = std::acos(-1.0);
        for (CAnalysisChannel* pChannel : {&m_left, &m_right}) {
            pChannel->SetWindow(2, kFft);
            for (int n = 0; n < kFft; ++n) {
                double v = 0.0;
                for (const auto& [dHz, dDbfs] : aTones)
                    v += 32767.0 * std::pow(10.0, dDbfs / 20) * std::sin(2 * kPi * dHz * n / kRate);
                pChannel->GetSamples()[n] = static_cast<int32_t>(std::lround(v));
            }
            pChannel->Transform();
        }
        m_pView->RenderFrame(2);
    }
    int XOfHz(double dHz) const { return Geometry().X(dHz / Geometry().dBinWidth); }
    // The picture as a frame left it, copied.
    QImage Picture() const { return Back().copy(); }

    bool m_bRunning = false;
};

// Frozen, the picture stays pixel for pixel what it was however the passes
// change, with "Frozen" at the top left; unfrozen, it follows them again.
TEST_F(ReadingAidsTest, AFrozenPictureStandsStillWhileThePassesGoOn) {
    ShowTones({{500.0, -20.0}});
    ASSERT_TRUE(m_pView->SetFrozen(true));
    ShowTones({{700.0, -20.0}}); // the frame that takes the frozen record
    const QImage frozen = Picture();
    EXPECT_TRUE(ShowsText(frozen, 33, 4, "Frozen", kFrozenText, kMargin));
    for (double dHz : {900.0, 1300.0, 2100.0}) {
        ShowTones({{dHz, -20.0}});
        EXPECT_EQ(Picture(), frozen) << "the picture moved at " << dHz << " Hz";
    }
    m_pView->SetFrozen(false);
    m_pView->RenderFrame(2);
    EXPECT_NE(Picture(), frozen);
    EXPECT_FALSE(ShowsText(Picture(), 33, 4, "Frozen", kFrozenText, kMargin));
}

// Stop, a new span, size or mode end a freeze, and the view says so.
TEST_F(ReadingAidsTest, AFreezeEndsOnSpanSizeModeAndStop) {
    ShowTones({{500.0, -20.0}});
    QSignalSpy ended(m_pView.get(), &CSpectrumView::FreezeEnded);
    const auto frozenThen = [&](const std::function<void()>& change) {
        EXPECT_TRUE(m_pView->SetFrozen(true));
        change();
        return m_pView->IsFrozen();
    };
    SViewSettings settings{kRate, kFft, 100, 5000};
    EXPECT_FALSE(frozenThen([&] { m_pView->ApplySettings(settings); }));
    EXPECT_FALSE(frozenThen([&] {
        m_pView->resize(700, 400);
        m_pView->OnSize(0, 700, 400);
    }));
    EXPECT_FALSE(frozenThen([&] { m_pView->OnLButtonDblClk(0, QPoint(300, 100)); }));
    // Y-scale is not a change of the picture's moment.
    settings.nYScale = 150;
    EXPECT_TRUE(frozenThen([&] { m_pView->ApplySettings(settings); }));
    EXPECT_FALSE(frozenThen([&] { m_pView->BindChannels(nullptr, nullptr, 0, 0); }));
    EXPECT_EQ(ended.count(), 4);
    EXPECT_FALSE(m_pView->SetFrozen(true)) << "nothing to freeze while stopped";
}

// Two tones 12 dB apart, neither at a bin centre: a click a few pixels off
// each places its marker on the tone, and the readouts give the difference.
TEST_F(ReadingAidsTest, MarkersSnapToTonesAndReadTheirDifference) {
    ShowTones({{500.0, -20.0}, {2000.0, -32.0}});
    ASSERT_TRUE(m_pView->PlaceMarker(0, XOfHz(500.0) + 3));
    ASSERT_TRUE(m_pView->PlaceMarker(1, XOfHz(2000.0) - 4));
    EXPECT_NEAR(m_pView->MarkerHz(0), 500.0, 0.05);
    EXPECT_NEAR(m_pView->MarkerHz(1), 2000.0, 0.05);
    m_pView->RenderFrame(2);
    const CSpectrumView::SMarkerFigures figures = m_pView->MarkerFigures();
    EXPECT_NEAR(figures.adDb[1] - figures.adDb[0], -12.0, 0.2);
    const std::string strDelta = "\xCE\x94 1500.0 Hz  -12.0 dB  2.00 oct";
    EXPECT_TRUE(
        ShowsText(Back(), kWidth - TextWidth(strDelta) - 5, 60, strDelta, kLabelText, kMargin));
    const std::string strA = FormatA(figures.adDb[0]);
    EXPECT_TRUE(ShowsText(Back(), kWidth - TextWidth(strA) - 5, 32, strA, kLabelText, kMargin));

    // A new span keeps both markers' frequencies, and their triangles move
    // with the axis.
    m_pView->ApplySettings(SViewSettings{kRate, kFft, 300, 3000});
    m_pView->RenderFrame(2);
    EXPECT_NEAR(m_pView->MarkerHz(0), 500.0, 0.05);
    EXPECT_NEAR(m_pView->MarkerHz(1), 2000.0, 0.05);
    EXPECT_TRUE(
        ShowsText(Back(), kWidth - TextWidth(strDelta) - 5, 60, strDelta, kLabelText, kMargin));
    bool bTriangle = false;
    for (int y = 20; y < m_pView->m_nPlotBottom && !bTriangle; ++y)
        bTriangle = Back(XOfHz(2000.0), y) == kCursorColour;
    EXPECT_TRUE(bTriangle) << "no marker over the 2 kHz bar";
}

// A reference kept flat to 10 kHz; the live spectrum 6 dB above it below
// 1 kHz and 3 dB under it above. The bars stand up and down from the 0 dB
// line in the middle of the plot, 10 dB as high as Y-scale makes it, and
// beyond the reference there is no bar.
TEST_F(ReadingAidsTest, TheDifferenceStandsAroundItsOwnZeroLine) {
    Resize(kWidth, 405);
    StartRun(kRate, kFft, 22, kRate / 2);
    constexpr double kPower = 1e12;
    const double dBinWidth = double(kRate) / kFft;
    const int nReferenceBins = static_cast<int>(10000 / dBinWidth);
    std::vector<double> adKept(std::size_t(nReferenceBins), kPower);
    m_pView->SetReference(std::make_shared<const CReferenceSpectrum>(CReferenceSpectrum::FromBins(
        adKept.data(), nReferenceBins, dBinWidth, m_left.PowerScale(), "kept")));
    for (int k = 0; k <= kFft / 2; ++k)
        m_left.m_pPower[k] = k * dBinWidth < 1000 ? 4 * kPower : kPower / 2;
    m_pView->SetDifference(true);
    m_pView->RenderFrame(2);

    const int nPlotH = m_pView->m_nPlotBottom;
    const int nZero = nPlotH / 2;
    const double dPixelsPerDb = std::log(10.0) * nPlotH * 100 * 0.0005 / 10;
    const int x300 = XOfHz(300.0);
    const int x5k = XOfHz(5000.0);
    const int nUp = static_cast<int>(6.02 * dPixelsPerDb);
    const int nDown = static_cast<int>(3.01 * dPixelsPerDb);
    EXPECT_EQ(Back(x300, nZero - nUp + 3), kLeftFill);
    EXPECT_EQ(Back(x300, nZero - nUp - 4), kBlack);
    // Bars this narrow are all outline.
    EXPECT_TRUE(Back(x5k, nZero + nDown - 3) == kLeftFill ||
                Back(x5k, nZero + nDown - 3) == kLeftPen);
    EXPECT_EQ(Back(x5k, nZero + nDown + 4), kBlack);
    // Beyond the reference: the 0 dB line, no bar.
    const int x15k = XOfHz(15000.0);
    EXPECT_EQ(Back(x15k, nZero), kDifferenceZero);
    EXPECT_EQ(Back(x15k, nZero + 3), kBlack);
    EXPECT_EQ(Back(x15k, nZero - 3), kBlack);
    // The grid's labels: 0 on the line, every 3 dB above and below.
    EXPECT_TRUE(ShowsText(Back(), 26 - TextWidth("0"), nZero - 13 / 2, "0", kLabelText, kMargin));
    const int y6 = static_cast<int>(std::lround(nZero - 6 * dPixelsPerDb));
    EXPECT_TRUE(ShowsText(Back(), 26 - TextWidth("+6"), y6 - 13 / 2, "+6", kLabelText, kMargin));
    // The cursor reads the difference.
    m_pView->OnMouseMove(0, QPoint(x300, 100));
    m_pView->RenderFrame(2);
    EXPECT_TRUE(
        ShowsText(Back(), kWidth - TextWidth("+6.0 dB") - 5, 18, "+6.0 dB", kLabelText, kMargin));
    // Off, the bars are levels again, the reference a line.
    m_pView->SetDifference(false);
    m_pView->RenderFrame(2);
    EXPECT_NE(Back(x15k, nZero), kDifferenceZero);
}

// Round labels never come near each other, from the smallest plot to a
// 1920-pixel one, at both ends of the sizes and for a narrow span; the
// round frequencies come first, and the bands' names stand under bands.
TEST(RoundLabels, NoLabelOverlapsAnother) {
    const auto width = [](const std::string& str) { return TextWidth(str); };
    for (int nWidth : {240, 784, 1920}) {
        for (auto [nFft, nLow, nHigh] :
             {std::tuple{4096, 20, 22050}, std::tuple{16384, 5, 22050}, std::tuple{1024, 50, 20000},
              std::tuple{4096, 900, 1100}}) {
            const SSpanGeometry geo = SSpanGeometry::Of(44100, nFft, nLow, nHigh, nWidth);
            const std::vector<SAxisLabel> labels = CRoundLabels::Choose(geo, nWidth, width);
            EXPECT_GE(labels.size(), 3u) << nWidth << " px, " << nLow << " to " << nHigh;
            for (std::size_t i = 1; i < labels.size(); ++i) {
                const int nRightOfLast = labels[i - 1].x - width(labels[i - 1].strText) / 2 +
                                         width(labels[i - 1].strText);
                const int nLeft = labels[i].x - width(labels[i].strText) / 2;
                EXPECT_GE(nLeft - nRightOfLast, CRoundLabels::kGap)
                    << labels[i - 1].strText << " and " << labels[i].strText << " at " << nWidth;
            }
            for (const SAxisLabel& label : labels) {
                EXPECT_GE(label.x - width(label.strText) / 2, 0);
                EXPECT_LE(label.x - width(label.strText) / 2 + width(label.strText), nWidth);
            }
        }
    }
    // The full span on a wide plot shows the round ten.
    const SSpanGeometry geo = SSpanGeometry::Of(44100, 4096, 20, 22050, 1920);
    std::vector<std::string> texts;
    for (const SAxisLabel& label : CRoundLabels::Choose(geo, 1920, width))
        texts.push_back(label.strText);
    for (const char* psz : {"50", "100", "200", "500", "1k", "2k", "5k", "10k", "20k", "30", "300"})
        EXPECT_NE(std::find(texts.begin(), texts.end(), psz), texts.end()) << psz;
    EXPECT_EQ(CRoundLabels::Text(1500.0), "1.5k");
    EXPECT_EQ(CRoundLabels::Text(50.0), "50");
}

TEST(RoundLabels, BandsShowTheirNominalNamesOctavesFirst) {
    const auto width = [](const std::string& str) { return TextWidth(str); };
    for (int nWidth : {240, 1920}) {
        const SSpanGeometry geo = SSpanGeometry::Of(44100, 4096, 20, 22050, nWidth);
        COctaveBands bands;
        bands.Build(3, 44100, 4096, geo.nBinLow * geo.dBinWidth, geo.nBinMax * geo.dBinWidth, 1.5);
        const std::vector<SAxisLabel> labels = CRoundLabels::Choose(geo, nWidth, width, &bands);
        std::vector<std::string> texts;
        for (const SAxisLabel& label : labels)
            texts.push_back(label.strText);
        EXPECT_NE(std::find(texts.begin(), texts.end(), "1k"), texts.end()) << nWidth;
        if (nWidth == 1920) {
            EXPECT_NE(std::find(texts.begin(), texts.end(), "1.25k"), texts.end());
        }
        for (std::size_t i = 1; i < labels.size(); ++i) {
            EXPECT_GE(labels[i].x - width(labels[i].strText) / 2 -
                          (labels[i - 1].x - width(labels[i - 1].strText) / 2 +
                           width(labels[i - 1].strText)),
                      CRoundLabels::kGap);
        }
    }
}

// Drawn on the axis strip in place of the bins' labels, with the short ticks
// as they were.
TEST_F(ReadingAidsTest, RoundLabelsStandOnTheStrip) {
    Resize(kWidth, 405);
    StartRun(kRate, kFft, 22, kRate / 2);
    const QImage designed = Picture();
    m_pView->SetRoundLabels(true);
    const int nPlotH = m_pView->m_nPlotBottom;
    const int x1k = XOfHz(1000.0);
    // The axis line runs over the labels' top row.
    EXPECT_TRUE(
        ShowsText(Back(), x1k - TextWidth("1k") / 2, nPlotH + 5, "1k", kLabelText, kMargin, 1));
    EXPECT_EQ(Back(x1k, nPlotH + 1), kScaleColour) << "the label's own tick";
    // The short ticks at the bins are those of the designed scale; the long
    // ones stand at the labels.
    for (int x = 28; x < kWidth; ++x) {
        const bool bShortTick = PixelAt(designed, x, nPlotH + 4) == kScaleColour &&
                                PixelAt(designed, x, nPlotH + 1) != kScaleColour;
        if (bShortTick) {
            EXPECT_EQ(Back(x, nPlotH + 4), kScaleColour) << x;
        }
    }
}

} // namespace
