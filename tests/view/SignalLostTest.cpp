// The line that says no sound arrives: in the middle of the plot, over the
// bars, only in running frames and only while the engine says so.
#include "ViewTestSupport.h"

#include "platform/DC.h"

namespace {

class SignalLostTest : public ViewTest {
protected:
    // Where the line stands: centred in the plot right of the margin.
    QPoint TextAt() const {
        CDC dc;
        const CSize size = dc.GetTextExtent(CSpectrumView::kSignalLostText);
        const int nPlotH = m_pView->m_nPlotBottom;
        return {28 + std::max(0, (m_pView->m_nWidth - 28 - size.cx) / 2),
                std::max(0, (nPlotH - size.cy) / 2)};
    }
    bool ShowsMessage(const QImage& img) const {
        const QPoint at = TextAt();
        return ShowsText(img, at.x(), at.y(), CSpectrumView::kSignalLostText, kLabelText, kMargin);
    }
    // Pixels of a text box (its background) in the plot's middle rows, where
    // no other text stands while the readouts are off.
    int TextBoxPixelsInPlot(const QImage& img) const {
        const int nMiddle = m_pView->m_nPlotBottom / 2;
        int n = 0;
        for (int y = nMiddle - 20; y < nMiddle + 20; ++y)
            for (int x = 28; x < m_pView->m_nWidth; ++x)
                n += PixelAt(img, x, y) == kMargin ? 1 : 0;
        return n;
    }
};

} // namespace

TEST_F(SignalLostTest, ARunningFrameSaysSoInTheMiddleOfThePlotOverTheBars) {
    StartRun(44100, 4096, 40, 16000, 1e14, 0.0); // bars up to the top
    m_pView->SetSignalLost(true);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(ShowsMessage(Back()));
    // The window got that frame.
    EXPECT_TRUE(ShowsMessage(m_pView->FrontImage()));
    // Bars still stand beside the text box.
    EXPECT_EQ(Back(TextAt().x() - 3, TextAt().y() + 5), kLeftFill);
}

TEST_F(SignalLostTest, WithoutItThePlotHoldsNoText) {
    StartRun(44100, 4096, 40, 16000, 1e8, 0.0);
    m_pView->RenderFrame(3);
    EXPECT_FALSE(ShowsMessage(Back()));
    EXPECT_EQ(TextBoxPixelsInPlot(Back()), 0);

    m_pView->SetSignalLost(true);
    m_pView->RenderFrame(3);
    EXPECT_GT(TextBoxPixelsInPlot(Back()), 500);
    m_pView->SetSignalLost(false);
    m_pView->RenderFrame(3);
    EXPECT_EQ(TextBoxPixelsInPlot(Back()), 0);
}

// The built-in signal's tune looks like real input: while it is analysed the
// plot says so, on the statistics line's row at the plot's left, in its
// colours, even in the narrowest window and beside the no-sound line.
TEST_F(SignalLostTest, TheBuiltInSignalIsNamedAtThePlotsTopLeft) {
    const QSize smallest = m_pView->MinimumPictureSize(false);
    Resize(smallest.width(), smallest.height());
    StartRun(44100, 4096, 40, 16000, 1e14, 0.0);
    m_pView->SetFftsPerCycle(100);
    m_pView->RenderFrame(2);
    EXPECT_FALSE(ShowsText(Back(), 33, 4, CSpectrumView::kBuiltInSignalText, kLabelText, kMargin));
    m_pView->m_bBuiltInSignal = true;
    m_pView->SetSignalLost(true);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(ShowsText(Back(), 33, 4, CSpectrumView::kBuiltInSignalText, kLabelText, kMargin));
    // Whole, and clear of the statistics line at the row's other end.
    const int nRight = 33 + TextWidth(CSpectrumView::kBuiltInSignalText);
    const int nStatistics = smallest.width() - 5 - TextWidth("100 FFTs á 8 ms");
    EXPECT_LT(nRight, nStatistics);
    EXPECT_TRUE(ShowsMessage(Back()));
}

TEST_F(SignalLostTest, TheIdlePageNeverShowsIt) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->SetSignalLost(true);
    m_pView->BindChannels(nullptr, nullptr, 4096, 44100);
    m_pView->RenderFrame(2);
    EXPECT_FALSE(ShowsMessage(Back()));
}

TEST_F(SignalLostTest, AViewNarrowerThanTheTextStartsItAtTheMargin) {
    Resize(120, 90);
    StartRun(8000, 1024, 10, 4000);
    m_pView->SetSignalLost(true);
    m_pView->RenderFrame(2);
    EXPECT_EQ(TextAt().x(), 28);
    EXPECT_TRUE(ShowsMessage(Back()));
}
