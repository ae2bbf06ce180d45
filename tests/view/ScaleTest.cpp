#include "ViewTestSupport.h"

#include <cstdio>
#include <set>
#include <vector>

namespace {

class ScaleTest : public ViewTest {
protected:
    std::set<int> ColumnsIn(int y, COLORREF c) const {
        std::set<int> xs;
        for (int x = 28; x < m_pView->m_nWidth; ++x) {
            if (Back(x, y) == c) {
                xs.insert(x);
            }
        }
        return xs;
    }
    // The short-tick rule: a bin more than 2 pixels right of the last short tick.
    std::set<int> ShortTickColumns(const SExpectedGeometry& g) const {
        std::set<int> xs;
        int nLast = -100;
        for (int k = g.nBinLow; k < g.nBinMax; ++k) {
            const int x = g.X(k);
            if (nLast + 2 < x) {
                xs.insert(x);
                nLast = x;
            }
        }
        return xs;
    }
};

TEST_F(ScaleTest, FullSpanAt44100HzHasFourteenLabelsAnd147ShortTicks) {
    StartRun(44100, 4096, 40, 16000);
    const SExpectedGeometry g = Geometry();
    ASSERT_EQ(g.nBinLow, 4);
    ASSERT_EQ(g.nBinMax, 1486);
    ASSERT_EQ(g.nXOff, -106);
    EXPECT_DOUBLE_EQ(m_pView->m_dBinWidth, 10.7666015625);

    const int pb = m_pView->m_nPlotBottom;
    const std::vector<std::pair<int, int>> labels = {
        {43, 28},    {75, 82},    {118, 125},  {183, 167},  {280, 208},  {431, 250},  {657, 291},
        {1001, 332}, {1529, 373}, {2336, 414}, {3575, 455}, {5459, 496}, {8344, 537}, {12748, 578}};
    std::set<int> longTicks;
    for (auto [nHz, x] : labels) {
        longTicks.insert(x);
        const std::string str = std::to_string(nHz);
        // The axis line runs over the top row of the labels.
        EXPECT_TRUE(ShowsText(Back(), x - TextWidth(str) / 2, pb + 5, str, kLabelText, kMargin, 1));
    }
    EXPECT_EQ(ColumnsIn(pb + 1, kScaleColour), longTicks);
    EXPECT_EQ(ColumnsIn(pb + 2, kScaleColour), longTicks);

    const std::set<int> shortTicks = ShortTickColumns(g);
    EXPECT_EQ(shortTicks.size(), 147u);
    std::set<int> tickRows = shortTicks;
    tickRows.insert(longTicks.begin(), longTicks.end());
    EXPECT_EQ(ColumnsIn(pb + 3, kScaleColour), tickRows);
    EXPECT_EQ(ColumnsIn(pb + 4, kScaleColour), tickRows);
}

TEST_F(ScaleTest, FloorSpanLabelsFourBinsAndLeavesTheLastOne) {
    StartRun(44100, 4096, 22, 65);
    const SExpectedGeometry g = Geometry();
    ASSERT_EQ(g.nBinLow, 2);
    ASSERT_EQ(g.nBinMax, 6);
    const int pb = m_pView->m_nPlotBottom;
    const int anHz[] = {22, 32, 43, 54};
    std::set<int> xs;
    for (int k = 2; k <= 5; ++k) {
        const int x = g.X(k);
        xs.insert(x);
        const std::string str = std::to_string(anHz[k - 2]);
        EXPECT_TRUE(ShowsText(Back(), x - TextWidth(str) / 2, pb + 5, str, kLabelText, kMargin, 1));
    }
    EXPECT_EQ(ColumnsIn(pb + 1, kScaleColour), xs);
    EXPECT_EQ(ColumnsIn(pb + 3, kScaleColour), xs);
}

TEST_F(ScaleTest, AxesMarginAndStripFollowTheClientSize) {
    StartRun(44100, 4096, 40, 16000);
    const int pb = m_pView->m_nPlotBottom;
    for (int y = 0; y <= pb + 4; ++y) {
        ASSERT_EQ(Back(27, y), kScaleColour) << y;
    }
    for (int x = 27; x < 600; ++x) {
        ASSERT_EQ(Back(x, pb + 5), kScaleColour) << x;
    }
    EXPECT_EQ(Back(27, pb + 6), kMargin);
    EXPECT_EQ(Back(0, 0), kMargin);
    EXPECT_EQ(Back(26, 150), kMargin);
    EXPECT_EQ(Back(300, pb), kMargin);
    EXPECT_EQ(Back(300, 299), kMargin);
    // The scale leaves the plot alone and the background at the strip's grey.
    EXPECT_EQ(Back(300, pb - 1), kBlack);
    EXPECT_EQ(m_pView->m_dcMemory.GetBkColor(), kMargin);
    EXPECT_EQ(m_pView->m_bScaleBusy.load(), 0);
}

TEST_F(ScaleTest, NoScaleBeforeTheFirstRun) {
    m_pView->m_dcMemory.FillSolidRect(0, 0, 600, 300, RGB(1, 2, 3));
    m_pView->DrawScale();
    EXPECT_EQ(Back(27, 10), RGB(1, 2, 3));
    EXPECT_EQ(Back(0, 299), RGB(1, 2, 3));
}

} // namespace
