#include "ViewTestSupport.h"

#include <QPainter>
#include <algorithm>
#include <vector>

namespace {

constexpr COLORREF kMarker = RGB(1, 2, 3);

// A run drawn by a second view of the same size at another device pixel ratio,
// from the same channels as m_pView's.
class DeviceRatioTest : public ViewTest {
protected:
    int PlotH() const { return m_pView->m_nPlotBottom; }
    std::unique_ptr<CSpectrumView> ViewAt(double dRatio) {
        const CSpectrumView& model = *m_pView;
        auto pView = std::make_unique<CSpectrumView>();
        pView->resize(model.size());
        pView->SetDevicePixelRatio(dRatio);
        pView->UpdateBackBuffer();
        pView->m_nSpanLowHz = model.m_nSpanLowHz.load();
        pView->m_nSpanHighHz = model.m_nSpanHighHz.load();
        pView->m_nYScale = model.m_nYScale.load();
        pView->m_nOffset = model.m_nOffset.load();
        pView->m_nOffsetRight = model.m_nOffsetRight.load();
        pView->m_nMinXSpace = model.m_nMinXSpace.load();
        pView->m_bHold = model.m_bHold.load();
        pView->m_nDisplayMode = model.m_nDisplayMode.load();
        pView->BindChannels(&m_left, &m_right, model.m_nFftSize, model.m_nSampleRate);
        pView->DrawScale();
        return pView;
    }
    // Ragged spectra with hold levels above them, different in each channel.
    void FillChannels() {
        for (int b = 0; b < 4096; ++b) {
            m_left.m_pPower[b] = 1e9 * (1 + (b * 37) % 101) * (1 + b % 3);
            m_left.m_pHold[b] = 4 * m_left.m_pPower[b];
            m_right.m_pPower[b] = 1e9 * (1 + (b * 53) % 97);
            m_right.m_pHold[b] = 5 * m_right.m_pPower[b];
        }
    }
};

// Pixels that differ from their right or lower neighbour inside rc.
int EdgePixels(const QImage& img, const QRect& rc) {
    int n = 0;
    for (int y = rc.top(); y < rc.bottom(); ++y) {
        for (int x = rc.left(); x < rc.right(); ++x) {
            const QRgb px = img.pixel(x, y);
            n += (px != img.pixel(x + 1, y) || px != img.pixel(x, y + 1)) ? 1 : 0;
        }
    }
    return n;
}

// The runs of colour c down device column x, from row 0 to nEnd.
std::vector<int> RunsDown(const QImage& img, int x, int nEnd, COLORREF c) {
    std::vector<int> runs;
    int nRun = 0;
    for (int y = 0; y <= nEnd; ++y) {
        if (y < nEnd && PixelAt(img, x, y) == c) {
            ++nRun;
        } else if (nRun > 0) {
            runs.push_back(nRun);
            nRun = 0;
        }
    }
    return runs;
}

TEST_F(DeviceRatioTest, AtRatioTwoTheShapesAreTheRatioOnePictureDoubled) {
    StartRun(44100, 4096, 40, 16000);
    FillChannels();
    m_pView->m_bHold = 1;
    for (int nMinXSpace : {0, 2}) {
        SCOPED_TRACE(nMinXSpace);
        m_pView->m_nMinXSpace = nMinXSpace;
        m_pView->SetFftsPerCycle(37);
        m_pView->RenderFrame(3);
        auto pBig = ViewAt(2.0);
        pBig->SetFftsPerCycle(37);
        pBig->RenderFrame(3);
        const QImage big = pBig->FrontImage();
        ASSERT_EQ(big.size(), QSize(1200, 600));
        EXPECT_EQ(big.devicePixelRatio(), 2.0);
        // The plot, its axis and the ticks under it: everything but the texts.
        int nCompared = 0;
        for (int y = 17; y <= PlotH() + 5; ++y) {
            for (int x = 27; x < 600; ++x) {
                const QRgb px = Back().pixel(x, y);
                for (int i = 0; i < 4; ++i) {
                    ASSERT_EQ(big.pixel(2 * x + i % 2, 2 * y + i / 2), px) << x << "," << y;
                }
                ++nCompared;
            }
        }
        EXPECT_GT(nCompared, 100000);
    }
}

// The statistics line stands in its logical box, drawn by a font of twice the
// size: finer than its ratio-1 picture doubled.
TEST_F(DeviceRatioTest, AtRatioTwoTextsKeepTheirBoxesAndAreDrawnAtDeviceResolution) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->SetFftsPerCycle(37);
    m_pView->RenderFrame(2);
    auto pBig = ViewAt(2.0);
    pBig->SetFftsPerCycle(37);
    pBig->RenderFrame(2);
    const QImage big = pBig->FrontImage();
    const std::string str = "37 FFTs á 21 ms";
    const QRect rcBox(600 - TextWidth(str) - 5, 4, TextWidth(str), 13);
    ASSERT_TRUE(ShowsText(Back(), rcBox.x(), rcBox.y(), str, kLabelText, kMargin));
    const QRect rcDevice(2 * rcBox.x(), 2 * rcBox.y(), 2 * rcBox.width(), 2 * rcBox.height());
    for (int y = rcDevice.top() - 2; y <= rcDevice.bottom() + 2; ++y) {
        for (int x = rcDevice.left() - 2; x <= rcDevice.right() + 2; ++x) {
            const COLORREF c = PixelAt(big, x, y);
            const bool bNeutral = GetRValue(c) == GetGValue(c) && GetGValue(c) == GetBValue(c);
            if (rcDevice.contains(x, y)) {
                ASSERT_TRUE(bNeutral && GetRValue(c) >= 32) << x << "," << y;
            } else {
                ASSERT_EQ(c, kBlack) << x << "," << y;
            }
        }
    }
    const QImage doubled =
        Back().copy(rcBox).scaled(rcDevice.size(), Qt::IgnoreAspectRatio, Qt::FastTransformation);
    EXPECT_GT(EdgePixels(big, rcDevice), EdgePixels(doubled, doubled.rect()));
}

TEST_F(DeviceRatioTest, AtOneAndAHalfThePlotFillCoversEachDevicePixelOnce) {
    StartRun(44100, 4096, 40, 16000);
    auto pView = ViewAt(1.5);
    const CDC& dc = pView->m_dcMemory;
    pView->m_dcMemory.FillSolidRect(0, 0, 600, 300, kMarker);
    pView->RenderFrame(2);
    const QImage img = pView->FrontImage();
    const QRect rcPlot = dc.DeviceRect(28, 0, 572, PlotH() + 1);
    ASSERT_EQ(rcPlot.right(), img.width() - 1);
    for (int y = 0; y < img.height(); ++y) {
        for (int x = 0; x < img.width(); ++x) {
            const COLORREF c = PixelAt(img, x, y);
            if (rcPlot.contains(x, y)) {
                ASSERT_NE(c, kMarker) << x << "," << y;
            } else if ((x == rcPlot.left() - 1 && y <= rcPlot.bottom()) ||
                       (y == rcPlot.bottom() + 1 && x >= rcPlot.left())) {
                // The axis column and the strip under the plot are not the frame's.
                ASSERT_EQ(c, kMarker) << x << "," << y;
            }
        }
    }
}

TEST_F(DeviceRatioTest, AtFractionalRatiosAllGridLinesOfAPictureAreEquallyThick) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->RenderFrame(2);
    const std::vector<int> gridRows = RunsDown(Back(), 300, PlotH(), kGridColour);
    ASSERT_EQ(gridRows, std::vector<int>(9, 1));
    for (double dRatio : {1.25, 1.5, 1.75, 2.5}) {
        SCOPED_TRACE(dRatio);
        auto pView = ViewAt(dRatio);
        pView->RenderFrame(2);
        const QImage img = pView->FrontImage();
        const int nThickness = static_cast<int>(dRatio);
        const int x = pView->m_dcMemory.DeviceCoordinate(300);
        EXPECT_EQ(RunsDown(img, x, pView->m_dcMemory.DeviceCoordinate(PlotH()), kGridColour),
                  std::vector<int>(gridRows.size(), nThickness));
        // The axis beside the plot is as thick as the grid.
        const int y = pView->m_dcMemory.DeviceCoordinate(PlotH() / 2);
        int nAxis = 0;
        for (int xAxis = 0; xAxis < x; ++xAxis) {
            nAxis += PixelAt(img, xAxis, y) == kScaleColour ? 1 : 0;
        }
        EXPECT_EQ(nAxis, nThickness);
    }
}

} // namespace
