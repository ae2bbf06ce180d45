#include "ViewTestSupport.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

std::string Printf(const char* pszFormat, double d) {
    char sz[64];
    std::snprintf(sz, sizeof sz, pszFormat, d);
    return sz;
}

// One drawn bar: columns nLeft..nRight-1 at the mean power of its bins.
struct SBar {
    int nLeft;
    int nRight;
    double dPower;
    double dHold;
};

// The bars of a pass from the grouping rule: a bar ends at the middle of the
// bin that makes it at least nMinXSpace wide.
std::vector<SBar> ExpectedBars(const SExpectedGeometry& g, const double* pP, const double* pH,
                               int nMinXSpace) {
    std::vector<SBar> bars;
    int nPrevX = 28;
    int n = 0;
    double dMeanP = 0.0;
    double dMeanH = 0.0;
    for (int b = g.nBinLow; b < g.nBinMax; ++b) {
        const int x = static_cast<int>(g.nXOff + g.dXScale * (std::log(b) + std::log(b + 1)) * 0.5);
        const double dP = (dMeanP * n + pP[b]) / (n + 1);
        const double dH = (dMeanH * n + pH[b]) / (n + 1);
        if (x < nPrevX + nMinXSpace) {
            dMeanP = dP;
            dMeanH = dH;
            ++n;
            continue;
        }
        bars.push_back({nPrevX, x, dP, dH});
        nPrevX = x;
        n = 0;
        dMeanP = dMeanH = 0.0;
    }
    return bars;
}

class FrameTest : public ViewTest {
protected:
    int PlotH() const { return m_pView->m_nPlotBottom; }
    SExpectedLevels Levels(int nOffset = 100) const {
        return ExpectedLevels(PlotH(), m_pView->m_nYScale, nOffset);
    }
    // Checks the column of a bar from its top to its bottom (exclusive).
    void ExpectBarColumn(int x, int nTop, int nBottom, COLORREF pen, COLORREF fill) {
        ASSERT_LT(nTop + 1, nBottom);
        EXPECT_EQ(Back(x, nTop), pen) << "top " << x << "," << nTop;
        for (int y = nTop + 1; y < nBottom - 1; ++y) {
            ASSERT_EQ(Back(x, y), fill) << x << "," << y;
        }
        EXPECT_EQ(Back(x, nBottom - 1), pen) << "bottom " << x << "," << nBottom - 1;
        EXPECT_NE(Back(x, nBottom), pen);
        EXPECT_NE(Back(x, nBottom), fill);
        EXPECT_NE(Back(x, nTop - 1), pen);
        EXPECT_NE(Back(x, nTop - 1), fill);
    }
};

TEST_F(FrameTest, GridLinesStandEveryTenDecibelsAndAreLabelled) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->m_nYScale = 100;
    m_pView->RenderFrame(2);
    const SExpectedLevels lv = Levels();
    std::vector<int> expectedRows;
    for (int k = -5; k <= 19; ++k) {
        const int y = static_cast<int>(k * std::log(10.0) * lv.dYScale + lv.nZeroY);
        if (y > 0 && y < PlotH()) {
            expectedRows.push_back(y);
            const std::string str = std::to_string(-10 * k);
            EXPECT_TRUE(
                ShowsText(Back(), 26 - TextWidth(str), y - 13 / 2, str, kLabelText, kMargin));
        }
    }
    ASSERT_EQ(expectedRows.size(), 9u); // 1, 34, 66, ... at a plot height of 278
    std::vector<int> rows;
    for (int y = 0; y <= PlotH(); ++y) {
        if (Back(300, y) == kGridColour) {
            rows.push_back(y);
        }
    }
    EXPECT_EQ(rows, expectedRows);
    EXPECT_EQ(Back(28, expectedRows[1]), kGridColour);
    EXPECT_EQ(Back(599, expectedRows[1]), kGridColour);
    EXPECT_EQ(Back(27, expectedRows[1]), kScaleColour); // the axis stays
}

TEST_F(FrameTest, ZeroPowerDrawsOnlyEmptyBars) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->RenderFrame(2);
    for (int x = 28; x < 600; ++x) {
        for (int y = 20; y <= PlotH(); ++y) { // below the statistics line
            const COLORREF c = Back(x, y);
            ASSERT_TRUE(c == kBlack || c == kGridColour) << x << "," << y;
        }
    }
}

TEST_F(FrameTest, BarTopsFollowThePowerAndBottomsTheDisplayMode) {
    StartRun(44100, 4096, 40, 16000, 1e11, 0.0);
    const SExpectedGeometry g = Geometry();
    const std::vector<SBar> bars = ExpectedBars(g, m_left.m_pPower, m_left.m_pHold, 0);
    const SBar& bar = bars[1]; // bin 5: columns 38 to 57
    ASSERT_EQ(bar.nLeft, 38);
    ASSERT_EQ(bar.nRight, 58);
    const int nTop = Levels().Y(1e11);
    ASSERT_EQ(nTop, 187); // 540 - 13.9 * ln(1e11)
    for (int nMode = 0; nMode <= 2; ++nMode) {
        SCOPED_TRACE(nMode);
        m_pView->m_nDisplayMode = nMode;
        m_pView->RenderFrame(2);
        ExpectBarColumn(42, nTop, PlotH() - 16 * nMode, kLeftPen, kLeftFill);
        EXPECT_EQ(Back(bar.nLeft, 200), kLeftPen);
        EXPECT_EQ(Back(bar.nRight - 1, 200), kLeftPen);
    }
}

TEST_F(FrameTest, MinXSpaceMergesBinsIntoBarsOfTheirMeanPower) {
    StartRun(44100, 4096, 40, 16000);
    for (int b = 0; b < 4096; ++b) {
        m_left.m_pPower[b] = 1e10 * (1 + b % 7) * (1 + b % 5);
    }
    m_pView->m_nMinXSpace = 25;
    m_pView->RenderFrame(2);
    const std::vector<SBar> bars = ExpectedBars(Geometry(), m_left.m_pPower, m_left.m_pHold, 25);
    ASSERT_GE(bars.size(), 10u);
    const SExpectedLevels lv = Levels();
    for (const SBar& bar : bars) {
        SCOPED_TRACE(bar.nLeft);
        ASSERT_GE(bar.nRight - bar.nLeft, 25);
        ExpectBarColumn((bar.nLeft + bar.nRight) / 2, lv.Y(bar.dPower), PlotH(), kLeftPen,
                        kLeftFill);
    }
    // Bins still gathered at the end of the span are not drawn.
    for (int y = 0; y < PlotH(); ++y) {
        ASSERT_NE(Back(bars.back().nRight + 1, y), kLeftFill);
    }
}

TEST_F(FrameTest, MinXSpaceZeroGivesEveryBinItsOwnBar) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    const std::vector<SBar> bars = ExpectedBars(Geometry(), m_left.m_pPower, m_left.m_pHold, 0);
    EXPECT_EQ(static_cast<int>(bars.size()), Geometry().nBinMax - Geometry().nBinLow);
    m_pView->RenderFrame(2);
    // The last bar ends at the middle of the last bin, short of the right edge.
    const int nLastRight = bars.back().nRight;
    EXPECT_EQ(Back(nLastRight - 1, 200), kLeftPen);
    EXPECT_EQ(Back(nLastRight, 200), kBlack);
}

TEST_F(FrameTest, HoldLevelIsALineAcrossTheBar) {
    StartRun(44100, 4096, 40, 16000, 1e11, 1e14);
    m_pView->m_bHold = 1;
    m_pView->RenderFrame(2);
    const SExpectedLevels lv = Levels();
    const int yHold = lv.Y(1e14);
    for (int x = 38; x < 58; ++x) {
        EXPECT_EQ(Back(x, yHold), kLeftPen) << x;
    }
    ExpectBarColumn(45, lv.Y(1e11), PlotH(), kLeftPen, kLeftFill);
    m_pView->m_bHold = 0;
    m_pView->RenderFrame(2);
    EXPECT_NE(Back(45, yHold), kLeftPen);
}

TEST_F(FrameTest, StereoDrawsTheRightChannelOverTheLeft) {
    StartRun(44100, 4096, 40, 16000, 1e12);
    std::fill_n(m_right.m_pPower, 4096, 1e10);
    m_pView->m_nOffsetRight = 100;
    m_pView->RenderFrame(3);
    const SExpectedLevels lv = Levels();
    // The right bar (lower) is drawn over the left one; above it the left shows.
    ExpectBarColumn(45, lv.Y(1e10), PlotH(), kRightPen, kRightFill);
    EXPECT_EQ(Back(45, lv.Y(1e12) + 3), kLeftFill);
    EXPECT_EQ(Back(45, lv.Y(1e12)), kLeftPen);
}

TEST_F(FrameTest, OffsetsMoveEachChannelsLevels) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    std::fill_n(m_right.m_pPower, 4096, 1e11);
    m_pView->m_nOffset = 120;
    m_pView->m_nOffsetRight = 90;
    m_pView->RenderFrame(2);
    ExpectBarColumn(45, Levels(120).Y(1e11), PlotH(), kLeftPen, kLeftFill);
    m_pView->RenderFrame(3);
    ExpectBarColumn(45, Levels(90).Y(1e11), PlotH(), kRightPen, kRightFill);
    EXPECT_NE(Levels(120).Y(1e11), Levels(90).Y(1e11));
}

TEST_F(FrameTest, StatisticsLineShowsPassesAndTheirTime) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->SetFftsPerCycle(0);
    m_pView->RenderFrame(2);
    EXPECT_EQ(m_pView->m_nFftsPerCycle.load(), 10);
    std::string str = "10 FFTs á 80 ms";
    EXPECT_TRUE(ShowsText(Back(), 600 - TextWidth(str) - 5, 4, str, kLabelText, kMargin));

    m_pView->SetFftsPerCycle(7);
    m_pView->RenderFrame(2);
    str = "7 FFTs á 114 ms";
    EXPECT_TRUE(ShowsText(Back(), 600 - TextWidth(str) - 5, 4, str, kLabelText, kMargin));
    EXPECT_EQ(m_pView->m_nFftsPerCycle.load(), 7);
}

TEST_F(FrameTest, PowerReadoutInModeTwo) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    std::fill_n(m_right.m_pPower, 4096, 3e10);
    m_pView->m_nDisplayMode = 2;
    m_pView->RenderFrame(3);
    std::string str = "Power L: 10.0";
    EXPECT_TRUE(ShowsText(Back(), 600 - TextWidth(str) - 5, 18, str, kLabelText, kMargin));
    str = "R: 3.0";
    EXPECT_TRUE(ShowsText(Back(), 600 - TextWidth(str) - 5, 32, str, kLabelText, kMargin));
}

TEST_F(FrameTest, CursorReadoutRightOfTheMiddle) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    m_pView->m_nCursorX = 400;
    m_pView->m_nCursorY = 100;
    m_pView->RenderFrame(2);
    const SExpectedGeometry g = Geometry();
    const SExpectedLevels lv = Levels();
    const int yc = lv.Y(1e11);
    for (int y = yc + 3; y <= PlotH(); ++y) {
        ASSERT_EQ(Back(400, y), kCursorColour) << y;
    }
    EXPECT_EQ(Back(400, yc - 2), kCursorColour); // the dot's outline
    const double dBin = std::exp((400 - g.nXOff) / g.dXScale);
    const std::string strHz = Printf("%.1f Hz", dBin * g.dBinWidth);
    EXPECT_TRUE(
        ShowsText(Back(), 400 - TextWidth(strHz) - 5, PlotH() - 14, strHz, kLabelText, kMargin));
    const std::string strDb =
        Printf("%.1f dB", 10 * (lv.nZeroY - yc) / (std::log(10.0) * lv.dYScale));
    EXPECT_TRUE(ShowsText(Back(), 600 - TextWidth(strDb) - 5, 18, strDb, kLabelText, kMargin));
}

TEST_F(FrameTest, CursorReadoutLeftOfTheMiddleAndLiftedByTheMode) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    m_pView->m_nCursorX = 100;
    m_pView->m_nCursorY = 100;
    m_pView->m_nDisplayMode = 2;
    m_pView->RenderFrame(2);
    const SExpectedGeometry g = Geometry();
    const std::string strHz =
        Printf("%.1f Hz", std::exp((100 - g.nXOff) / g.dXScale) * g.dBinWidth);
    EXPECT_TRUE(ShowsText(Back(), 105, PlotH() - 42, strHz, kLabelText, kMargin));
}

TEST_F(FrameTest, NoCursorReadoutAtTheMarginOrBelowThePlot) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    m_pView->m_nCursorX = 30;
    m_pView->m_nCursorY = 100;
    m_pView->RenderFrame(2);
    m_pView->m_nCursorX = 300;
    m_pView->m_nCursorY = PlotH();
    m_pView->RenderFrame(2);
    for (int x = 0; x < 600; ++x) {
        for (int y = 0; y < 300; ++y) {
            ASSERT_NE(Back(x, y), kCursorColour) << x << "," << y;
        }
    }
}

TEST_F(FrameTest, CursorReadoutStaysInsideTheArrayWhateverTheCursor) {
    // A channel smaller than the view's transform size, and cursors far out:
    // the sanitizer build catches any read outside the arrays.
    StartRun(44100, 16384, 22, 22050, 1e9);
    ASSERT_TRUE(m_left.Setup(1024, 1024.0 / 44100));
    for (int cx : {31, 299, 599, 5000, 100000, INT32_MAX / 2}) {
        m_pView->m_nCursorX = cx;
        m_pView->m_nCursorY = 5;
        m_pView->RenderFrame(2);
    }
    EXPECT_EQ(m_pView->m_bFrameBusy.load(), 0);
}

TEST_F(FrameTest, TheFrameIsHandedToTheWindow) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    m_pView->RenderFrame(2);
    const QImage front = m_pView->FrontImage();
    ASSERT_EQ(front.size(), QSize(600, 300));
    EXPECT_EQ(front, Back().copy(0, 0, 600, 300));
}

TEST_F(FrameTest, RepaintBeforeAnyFlagsOnlyShowsTheBackBuffer) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    m_pView->m_dcMemory.FillSolidRect(0, 0, 600, 300, RGB(1, 2, 3));
    m_pView->RenderFrame(-1);
    EXPECT_EQ(PixelAt(m_pView->FrontImage(), 300, 150), RGB(1, 2, 3));
    m_pView->RenderFrame(2);
    m_pView->m_dcMemory.FillSolidRect(0, 0, 600, 300, RGB(1, 2, 3));
    m_pView->RenderFrame(-1); // now redraws the spectrum with the stored flags
    EXPECT_EQ(Back(42, 200), kLeftFill);
}

TEST_F(FrameTest, AFrameWhileTheScaleIsDrawnDrawsNothing) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    m_pView->m_dcMemory.FillSolidRect(0, 0, 600, 300, RGB(1, 2, 3));
    m_pView->RenderFrame(-1);
    m_pView->m_bScaleBusy = 1;
    m_pView->RenderFrame(2);
    m_pView->m_bScaleBusy = 0;
    EXPECT_EQ(Back(42, 200), RGB(1, 2, 3));
    EXPECT_EQ(m_pView->m_nLastFlags, 0); // a refused call keeps no flags
    EXPECT_EQ(m_pView->m_bFrameBusy.load(), 0);
    m_pView->m_bFrameBusy = 1;
    m_pView->RenderFrame(2);
    EXPECT_EQ(Back(42, 200), RGB(1, 2, 3));
    EXPECT_EQ(m_pView->m_bFrameBusy.load(), 1);
    m_pView->m_bFrameBusy = 0;
}

TEST_F(FrameTest, FramesLeaveTheScaleStripAlone) {
    StartRun(44100, 4096, 40, 16000, 1e12);
    const QImage before = Back().copy(28, PlotH() + 1, 572, 21);
    m_pView->m_nDisplayMode = 1;
    m_pView->m_nCursorX = 200;
    m_pView->m_nCursorY = 50;
    m_pView->RenderFrame(3);
    EXPECT_EQ(Back().copy(28, PlotH() + 1, 572, 21), before);
}

TEST_F(FrameTest, InvertedSpanShowsTheTwoBinsBelowTheHighEdge) {
    StartRun(44100, 4096, 5000, 1000, 1e11);
    const SExpectedGeometry g = Geometry();
    EXPECT_EQ(g.nBinLow, g.nBinMax - 2);
    m_pView->RenderFrame(2);
    const std::vector<SBar> bars = ExpectedBars(g, m_left.m_pPower, m_left.m_pHold, 0);
    ASSERT_EQ(bars.size(), 2u);
    ExpectBarColumn((bars[0].nLeft + bars[0].nRight) / 2, Levels().Y(1e11), PlotH(), kLeftPen,
                    kLeftFill);
}

} // namespace

// ---------------------------------------------------------------------------
// Level units: the picture in dBFS and dB SPL.

namespace {

SLevelSettings Unit(ELevelUnit eUnit, EWeighting eWeighting = EWeighting::Z,
                    double dFullScaleDbSpl = 0.0) {
    SLevelSettings s;
    s.eUnit = eUnit;
    s.eWeighting = eWeighting;
    s.dFullScaleDbSpl = dFullScaleDbSpl;
    return s;
}

// The channels' power of a full-scale sine at a bin centre, 0 dBFS.
double FullScalePower(const CAnalysisChannel& chan) {
    const auto lock = chan.LockArrays();
    return chan.PowerScale().Gain(1.0);
}

// The rows of the grid's lines down column x, and the label beside each.
std::vector<int> GridRows(const QImage& img, int x, int nPlotH) {
    std::vector<int> rows;
    for (int y = 1; y < nPlotH; ++y) {
        if (PixelAt(img, x, y) == kGridColour) {
            rows.push_back(y);
        }
    }
    return rows;
}

} // namespace

// Lines every 10 dB at round levels, each labelled with the level a bar that
// reaches it has; Offset and Y-scale move and stretch the levels, not the
// labels' meaning.
TEST_F(FrameTest, InDbfsABarReachesTheLineLabelledWithItsLevel) {
    StartRun(44100, 4096, 40, 16000);
    const double dMinus20 = 0.01 * FullScalePower(m_left);
    m_pView->SetLevels(Unit(ELevelUnit::Dbfs), false, false);
    for (const auto& [nOffset, nYScale] : {std::pair{100, 100}, {113, 100}, {100, 170}}) {
        SCOPED_TRACE(testing::Message() << "offset " << nOffset << " Y-scale " << nYScale);
        m_pView->m_nOffset = nOffset;
        m_pView->m_nYScale = nYScale;
        std::fill_n(m_left.m_pPower, 4096, 0.0);
        m_pView->RenderFrame(2);
        const std::vector<int> rows = GridRows(Back(), 300, PlotH());
        ASSERT_GE(rows.size(), 3u);
        const double dPixelsPer10Db = std::log(10.0) * PlotH() * nYScale * 0.0005;
        for (std::size_t i = 1; i < rows.size(); ++i) {
            EXPECT_NEAR(rows[i] - rows[i - 1], dPixelsPer10Db, 1.0);
        }
        // 0 dBFS an eighth down at Offset 100; Offset 113 lifts the bars 13 dB.
        const double dTopLevel = 100 - nOffset - (rows[0] - PlotH() / 8) / dPixelsPer10Db * 10;
        const int nTopLevel = static_cast<int>(std::lround(dTopLevel / 10) * 10);
        EXPECT_NEAR(dTopLevel, nTopLevel, 0.5);
        int nMinus20Row = -1;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const std::string str = std::to_string(nTopLevel - 10 * int(i));
            // Centred on its line, or at the top where it would be cut.
            EXPECT_TRUE(ShowsText(Back(), 26 - TextWidth(str), std::max(rows[i] - 13 / 2, 0), str,
                                  kLabelText, kMargin));
            if (nTopLevel - 10 * int(i) == -20) {
                nMinus20Row = rows[i];
            }
        }
        ASSERT_GE(nMinus20Row, 0);
        std::fill_n(m_left.m_pPower, 4096, dMinus20);
        m_pView->RenderFrame(2);
        EXPECT_EQ(Back(45, nMinus20Row), kLeftPen); // a wide bar's top lies on it
        EXPECT_EQ(Back(45, nMinus20Row + 1), kLeftFill);
        EXPECT_EQ(Back(45, nMinus20Row - 1), kBlack);
    }
}

// In a level unit a bar stands at its strongest bin, and so does its hold:
// a tone among many bins of one bar reads its level, where the mean of the
// bins (as designed) would put the bar far lower.
TEST_F(FrameTest, InAUnitABarAndItsHoldStandAtTheirStrongestBin) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->SetLevels(Unit(ELevelUnit::Dbfs), false, false);
    m_pView->m_nMinXSpace = 25;
    m_pView->m_bHold = 1;
    m_pView->RenderFrame(2);
    int nMinus20Row = -1, nMinus10Row = -1;
    const std::vector<int> rows = GridRows(Back(), 300, PlotH());
    for (int nRow : rows) {
        for (auto [nDb, pnRow] : {std::pair{-20, &nMinus20Row}, {-10, &nMinus10Row}}) {
            const std::string str = std::to_string(nDb);
            if (ShowsText(Back(), 26 - TextWidth(str), nRow - 13 / 2, str, kLabelText, kMargin))
                *pnRow = nRow;
        }
    }
    ASSERT_GE(nMinus20Row, 0);
    ASSERT_GE(nMinus10Row, 0);
    const int nBin = 1000; // 10.8 kHz: many bins share a 25-pixel bar
    m_left.m_pPower[nBin] = 0.01 * FullScalePower(m_left);
    m_left.m_pHold[nBin] = 0.1 * FullScalePower(m_left);
    m_pView->RenderFrame(2);
    const int x = Geometry().X(nBin + 0.5);
    EXPECT_EQ(Back(x, nMinus20Row), kLeftPen);
    EXPECT_EQ(Back(x, nMinus20Row + 1), kLeftFill);
    EXPECT_EQ(Back(x, nMinus10Row), kLeftPen) << "the hold line";
    EXPECT_EQ(Back(x, nMinus20Row - 1), kBlack);
}

// Every label of a unit's grid is whole: the top line's moves into the
// strip rather than being cut, and where lines crowd (the smallest window
// with the spectrogram on) a label with no room is left out, not drawn over
// another; the time ruler still has a number.
TEST_F(FrameTest, InAUnitEveryLabelIsWhole) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->SetLevels(Unit(ELevelUnit::Dbfs), false, false);
    bool bTopLabel = false;
    for (int nOffset = 100; nOffset < 115 && !bTopLabel; ++nOffset) {
        m_pView->m_nOffset = nOffset;
        m_pView->RenderFrame(2);
        const std::vector<int> rows = GridRows(Back(), 300, PlotH());
        ASSERT_FALSE(rows.empty());
        if (rows[0] >= 6)
            continue;
        const double dPixelsPer10Db = std::log(10.0) * PlotH() * 0.05;
        const int nTopLevel = static_cast<int>(
            std::lround((100 - nOffset - (rows[0] - PlotH() / 8) / dPixelsPer10Db * 10) / 10) * 10);
        const std::string str = std::to_string(nTopLevel);
        EXPECT_TRUE(ShowsText(Back(), 26 - TextWidth(str), 0, str, kLabelText, kMargin)) << nOffset;
        bTopLabel = true;
    }
    EXPECT_TRUE(bTopLabel) << "no offset put a line at the top";

    const QSize smallest = m_pView->MinimumPictureSize(false);
    Resize(smallest.width(), smallest.height());
    m_pView->SetSpectrogram(true, 10);
    m_pView->m_nOffset = 100;
    m_pView->m_nYScale = 40;
    m_pView->RenderFrame(2);
    // Rows of the label strip with text in them come in runs no taller than
    // one text: no two labels overlap.
    const auto HasText = [this](int y) { // ink brighter than the ruler's ticks
        for (int x = 0; x < 27; ++x)
            if (GetRValue(Back(x, y)) > 110)
                return true;
        return false;
    };
    const int nSpectrumBottom = SFrame::SpectrumBottom(PlotH());
    int nRun = 0, nRuns = 0;
    for (int y = 0; y <= nSpectrumBottom + 1; ++y) {
        nRun = HasText(y) ? nRun + 1 : 0;
        nRuns += nRun == 1 ? 1 : 0;
        ASSERT_LE(nRun, 13) << "labels over each other at y " << y;
    }
    EXPECT_GE(nRuns, 2);
    bool bRulerNumber = false;
    for (int y = nSpectrumBottom + 2; y < PlotH(); ++y)
        bRulerNumber = bRulerNumber || HasText(y);
    EXPECT_TRUE(bRulerNumber);
}

// The unit stands on the first row, after the test signal's name; with the
// meter, its figures do, in the unit's words.
TEST_F(FrameTest, TheUnitAndTheMetersFiguresStandAtTheTopLeft) {
    StartRun(44100, 4096, 40, 16000);
    const auto shows = [this](int x, const std::string& str) {
        return ShowsText(Back(), x, 4, str, kLabelText, kMargin);
    };
    m_pView->RenderFrame(2);
    EXPECT_FALSE(shows(33, "dBFS")); // as designed: nothing
    m_pView->SetLevels(Unit(ELevelUnit::Dbfs, EWeighting::A), false, false);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(shows(33, "dBFS (A)"));

    // Digital silence lies below anything the input can show.
    std::vector<std::int32_t> anSamples(44100, 0);
    m_left.m_meter.Feed(anSamples.data(), 44100);
    m_pView->SetLevels(Unit(ELevelUnit::Dbfs), true, false);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(shows(33, "RMS < -150  Peak < -150 dBFS"));
    for (int i = 0; i < 44100; ++i) // -20 dB, peak -20 dB
        anSamples[std::size_t(i)] = std::lround(3276.8 * std::sin(2 * M_PI * 1000 * i / 44100));
    for (int nSecond = 0; nSecond < 2; ++nSecond)
        m_left.m_meter.Feed(anSamples.data(), 44100);
    m_left.m_meter.Reset();
    m_left.m_meter.Feed(anSamples.data(), 44100);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(shows(33, "RMS -20.0  Peak -20.0 dBFS"));
    m_pView->SetLevels(Unit(ELevelUnit::DbSpl, EWeighting::A, 94.0), true, true);
    m_pView->SetBuiltInSignal(true);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(shows(33, "Test signal"));
    EXPECT_TRUE(shows(33 + TextWidth("Test signal") + 12, "LAS 74.0  LAeq 74.0  LASmax 74.0 dB"));

    // Where the first row has no room beside the statistics line, the row
    // below it takes the readout (under the peak readout in mode 1).
    Resize(340, 200);
    for (int nMode : {0, 1}) {
        m_pView->m_nDisplayMode = nMode;
        m_pView->RenderFrame(2);
        EXPECT_TRUE(ShowsText(Back(), 33, nMode == 1 ? 34 : 18,
                              "LAS 74.0  LAeq 74.0  LASmax 74.0 dB", kLabelText, kMargin))
            << nMode;
    }
    // Time the meter could not hear is said after its figures.
    m_left.m_meter.AddGap(2.5);
    m_pView->SetBuiltInSignal(false);
    Resize(800, 300);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(shows(33, "LAS 74.0  LAeq 74.0  LASmax 74.0 dB  (2.5 s not metered)"));
}

// The readout gives the bin's own level in the unit, not its pixel row's.
TEST_F(FrameTest, InAUnitTheCursorReadsTheBinsLevel) {
    StartRun(44100, 4096, 40, 16000);
    std::fill_n(m_left.m_pPower, 4096, std::pow(10.0, -3.37) * FullScalePower(m_left));
    m_pView->SetLevels(Unit(ELevelUnit::DbSpl, EWeighting::Z, 100.0), false, false);
    m_pView->m_nCursorX = 400;
    m_pView->m_nCursorY = 100;
    m_pView->RenderFrame(2);
    EXPECT_TRUE(
        ShowsText(Back(), 600 - TextWidth("66.3 dB") - 5, 18, "66.3 dB", kLabelText, kMargin));
    // Silence lies below what the input can show, not at a number.
    std::fill_n(m_left.m_pPower, 4096, 0.0);
    m_pView->RenderFrame(2);
    EXPECT_TRUE(
        ShowsText(Back(), 600 - TextWidth("< -50 dB") - 5, 18, "< -50 dB", kLabelText, kMargin));
}
