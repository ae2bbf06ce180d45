// The transfer-function mode's picture: magnitude above at its dB row from a
// 0 dB line Offset moves, phase below between its +-180 degree lines, and
// curves hidden where the coherence falls under the threshold.

#include "ViewTestSupport.h"

#include "analysis/transfer/TransferFunction.h"
#include "view/TransferPlot.h"

#include <cmath>
#include <vector>

namespace {

class TransferPlotTest : public ViewTest {
protected:
    static constexpr int kRate = 44100;
    static constexpr int kFft = 4096;

    void SetUp() override {
        ViewTest::SetUp();
        Resize(784, 405);
        StartRun(kRate, kFft, 22, kRate / 2);
        m_transfer.Setup(kFft, kRate);
        m_transfer.SetSmoothing(0);
        m_transfer.SetAveragingSeconds(0.0);
        m_pView->BindTransfer(&m_transfer);
        m_pView->SetTransferMode(true);
    }
    void TearDown() override {
        m_pView->BindChannels(nullptr, nullptr, 0, 0);
        m_pView->BindTransfer(nullptr);
        ViewTest::TearDown();
    }
    // One pass of a system of gain g (complex) on a flat reference.
    void Pass(double dGainRe, double dGainIm) {
        std::vector<SComplex> x(kFft, SComplex{1000.0, 0.0});
        std::vector<SComplex> y(kFft, SComplex{1000.0 * dGainRe, 1000.0 * dGainIm});
        m_transfer.Pass(x.data(), y.data(), 0.1);
    }
    // Whether column x holds colour cr within a pixel of row y.
    bool Near(int x, double y, COLORREF cr) const {
        for (int dy = -1; dy <= 1; ++dy) {
            if (Back(x, static_cast<int>(y) + dy) == cr)
                return true;
        }
        return false;
    }
    // The frame's geometry and results as the view takes them.
    SFrame Frame() const {
        SFrame f;
        f.nWidth = 784;
        f.nSpectrogramBottom = m_pView->m_nPlotBottom;
        f.nPlotBottom = SFrame::SpectrumBottom(f.nSpectrogramBottom);
        f.nYScale = m_pView->m_nYScale;
        f.nOffset = m_pView->m_nOffset;
        f.nFftSize = kFft;
        f.geo = SSpanGeometry::Of(kRate, kFft, 22, kRate / 2, f.nWidth);
        f.transfer.bHasResults = m_transfer.Results(f.transfer.results);
        return f;
    }

    CTransferFunction m_transfer;
};

} // namespace

// A gain of 0.5 at +90 degrees: the magnitude 6 dB under the 0 dB line, and
// after Offset 110 another 10 dB lower on the screen; the phase at +90.
TEST_F(TransferPlotTest, MagnitudeAndPhaseStandAtTheirRows) {
    Pass(0.0, 0.5);
    m_pView->RenderFrame(2);
    SFrame f = Frame();
    ASSERT_TRUE(f.transfer.bHasResults);
    const int x = 400;
    const double dPixels = CTransferPlot::PixelsPerDb(f);
    EXPECT_TRUE(Near(x, f.nPlotBottom / 2.0 + 6.02 * dPixels, CTransferPlot::kMagnitude));
    EXPECT_TRUE(Near(x, CTransferPlot::PhaseY(f, 90.0), CTransferPlot::kPhase));
    EXPECT_FALSE(Near(x, CTransferPlot::PhaseY(f, 0.0), CTransferPlot::kPhase));
    m_pView->m_nOffset = 110;
    m_pView->RenderFrame(2);
    f = Frame();
    EXPECT_TRUE(
        Near(x, f.nPlotBottom / 2.0 - 10 * dPixels + 6.02 * dPixels, CTransferPlot::kMagnitude));
    // The cursor reads the bin under it.
    m_pView->OnMouseMove(0, QPoint(x, 50));
    m_pView->RenderFrame(2);
    const std::string str = CTransferPlot::Readout(Frame(), CTransferPlot::BinAt(Frame(), x));
    EXPECT_NE(str.find("-6.0 dB  90.0"), std::string::npos) << str;
    EXPECT_TRUE(ShowsText(Back(), 784 - TextWidth(str) - 5, 18, str, kLabelText, kMargin));
    EXPECT_TRUE(ShowsText(Back(), 33, 4, "Delay 0.00 ms", kLabelText, kMargin));
}

// Passes that contradict each other leave no coherence: the curves go, the
// coherence's own line lies at its 0.
TEST_F(TransferPlotTest, CurvesAreHiddenWhereTheCoherenceIsLow) {
    Pass(0.5, 0.0);
    Pass(-0.5, 0.0);
    m_pView->RenderFrame(2);
    const SFrame f = Frame();
    int nCurve = 0;
    for (int x = 100; x < 700; x += 10) {
        for (int y = 0; y < f.PlotBottom(); ++y) {
            const COLORREF cr = Back(x, y);
            nCurve += cr == CTransferPlot::kMagnitude || cr == CTransferPlot::kPhase;
        }
    }
    EXPECT_EQ(nCurve, 0);
    EXPECT_EQ(CTransferPlot::Visibility(0.29, 0.3), 0.0);
    EXPECT_EQ(CTransferPlot::Visibility(0.8, 0.3), 1.0);
    EXPECT_NEAR(CTransferPlot::Visibility(0.55, 0.3), 0.5, 1e-12);
    EXPECT_EQ(CTransferPlot::Visibility(std::nan(""), 0.3), 0.0);
}
