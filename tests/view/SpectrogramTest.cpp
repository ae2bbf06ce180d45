// The spectrogram under the spectrum: its colours, which columns show which
// bins, when rows are written, and what a new shape keeps of the history.

#include "ViewTestSupport.h"

#include "view/Inferno.h"
#include "view/Spectrogram.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// CIE L* (D65) of an sRGB colour 0xRRGGBB.
double Lightness(std::uint32_t rgb) {
    auto Linear = [](int n) {
        const double c = n / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double y = 0.2126 * Linear(int(rgb >> 16) & 0xff) +
                     0.7152 * Linear(int(rgb >> 8) & 0xff) + 0.0722 * Linear(int(rgb) & 0xff);
    return y > 216.0 / 24389 ? 116 * std::cbrt(y) - 16 : y * 24389.0 / 27;
}

double Lightness(const QImage& img, int x, int y) {
    return Lightness(img.pixel(x, y) & 0xffffff);
}

// The column of a picture's row that is lightest.
int LightestColumn(const QImage& img, int y, int xFrom = 0) {
    int nBest = xFrom;
    for (int x = xFrom; x < img.width(); ++x) {
        if (Lightness(img, x, y) > Lightness(img, nBest, y)) {
            nBest = x;
        }
    }
    return nBest;
}

TEST(SpectrogramColours, LightnessRisesFromBlackToPaleYellow) {
    const auto& aTable = InfernoTable();
    EXPECT_LT(Lightness(aTable.front()), 2.0);
    EXPECT_GT(Lightness(aTable.back()), 95.0);
    for (std::size_t i = 1; i < aTable.size(); ++i) {
        EXPECT_GT(Lightness(aTable[i]), Lightness(aTable[i - 1])) << "entry " << i;
    }
}

// Levels are hundredths of a dB of the power, to the hundredth, over the
// whole range a run's power takes, and clamped beyond it.
TEST(SpectrogramColumns, LevelsAreHundredthsOfADb) {
    for (double dPower = 1.7e-31; dPower < 1e31; dPower *= 1.37) {
        EXPECT_NEAR(CSpectrogramColumns::LevelOf(dPower), 1000 * std::log10(dPower), 1.0) << dPower;
    }
    EXPECT_EQ(CSpectrogramColumns::LevelOf(0.0), CSpectrogramColumns::kLowestLevel);
    EXPECT_EQ(CSpectrogramColumns::LevelOf(1e-40), CSpectrogramColumns::kLowestLevel);
    EXPECT_EQ(CSpectrogramColumns::LevelOf(INFINITY), 32000);
    EXPECT_EQ(CSpectrogramColumns::LevelOf(NAN), CSpectrogramColumns::kLowestLevel);
}

// A spectrogram of its own, fed passes at times the test chooses.
class SpectrogramShapeTest : public ::testing::Test {
protected:
    static constexpr int kRate = 44100;
    static constexpr int kFft = 4096;
    static constexpr int kBins = kFft / 2 + 1;

    void SetUp() override {
        ASSERT_TRUE(m_chan.Setup(kFft, double(kFft) / kRate));
        m_scale = m_chan.PowerScale();
        m_adPower.assign(kBins, 1e6);
        m_spectrogram.SetShape(Shape(22, kRate / 2, 600, 200, 10));
        m_spectrogram.SetColours(1e6, 1e16, m_scale, true);
    }
    static SSpectrogramShape Shape(int nLowHz, int nHighHz, int nWidth, int nRows, int nSeconds) {
        SSpectrogramShape shape;
        shape.geo = SSpanGeometry::Of(kRate, kFft, nLowHz, nHighHz, nWidth);
        shape.nFirstColumn = 28;
        shape.nColumns = nWidth - 28;
        shape.nRows = nRows;
        shape.nBins = kBins;
        shape.nSampleRate = kRate;
        shape.nFftSize = kFft;
        shape.nRowNs = std::int64_t(nSeconds) * 1'000'000'000 / nRows;
        return shape;
    }
    // Passes every nStepMs from nFromMs up to nToMs, a tone at nBin while
    // fnOn says so.
    template <typename On> void Passes(int nFromMs, int nToMs, int nStepMs, int nBin, On fnOn) {
        for (int t = nFromMs; t <= nToMs; t += nStepMs) {
            m_adPower[std::size_t(nBin)] = fnOn(t) ? 1e14 : 1e6;
            m_spectrogram.Pass(m_adPower.data(), kBins, m_scale, std::int64_t(t) * 1'000'000 + 1);
        }
    }
    // The shown rows (newest first) whose level at column c stands out.
    std::vector<int> RowsWithTone(int c) const {
        const SSpectrogramShape shape = m_spectrogram.Shape();
        const std::vector<std::int16_t> anLevels = m_spectrogram.LevelsShown();
        std::vector<int> anRows;
        for (int r = 0; r < shape.nRows; ++r) {
            if (anLevels[std::size_t(r) * shape.nColumns + c] > -5000) { // -50 dBFS
                anRows.push_back(r);
            }
        }
        return anRows;
    }

    CAnalysisChannel m_chan;
    SPowerScale m_scale;
    std::vector<double> m_adPower;
    CSpectrogram m_spectrogram;
};

// With 10 s over 200 rows (50 ms a row) and a pass every 23 ms, a tone from
// 3.0 s to 5.0 s stands, at 9.0 s, 4 to 6 seconds down: rows 80 to 120,
// within one row.
TEST_F(SpectrogramShapeTest, ASignalReachesTheRowsOfItsTime) {
    const int nColumn = m_spectrogram.ColumnOfBin(93);
    ASSERT_GE(nColumn, 0);
    Passes(0, 9000, 23, 93, [](int t) { return t >= 3000 && t < 5000; });
    const std::vector<int> anRows = RowsWithTone(nColumn);
    ASSERT_FALSE(anRows.empty());
    EXPECT_NEAR(anRows.front(), 80, 1);
    EXPECT_NEAR(anRows.back(), 120, 1);
    EXPECT_EQ(int(anRows.size()), anRows.back() - anRows.front() + 1) << "a gap in the tone";
    EXPECT_EQ(m_spectrogram.RowsRecorded(), 180); // from 0 to 8.95 s, 50 ms apart
}

// A tone that lasts less than a row is kept by the row it falls in, also
// when another pass comes before the row is written (rows fall due at 1001
// and 1050 ms, the click at 1008), and rows keep their pace when passes come
// slower than rows.
TEST_F(SpectrogramShapeTest, ShortEventsAndSlowPassesKeepTheirRows) {
    const int nColumn = m_spectrogram.ColumnOfBin(200);
    Passes(0, 2000, 7, 200, [](int t) { return t == 1008; });
    EXPECT_EQ(RowsWithTone(nColumn).size(), 1u);
    const int nBefore = m_spectrogram.RowsWritten();
    Passes(2120, 4000, 120, 200, [](int) { return false; });   // the last at 3.92 s
    EXPECT_NEAR(m_spectrogram.RowsWritten() - nBefore, 39, 1); // rows 2.0 s to 3.9 s
    EXPECT_NEAR(RowsWithTone(nColumn).front(), (3920 - 1008) / 50, 1);
}

// A new span keeps the history at its frequencies, and a longer history
// squeezes it into fewer rows; what the old shape did not show is cleared.
TEST_F(SpectrogramShapeTest, ANewShapeKeepsTheHistoryAtItsFrequenciesAndTimes) {
    m_spectrogram.SetShape(Shape(1000, 10000, 600, 200, 10));
    Passes(0, 990, 10, 400, [](int) { return true; }); // 20 rows of 50 ms
    ASSERT_EQ(m_spectrogram.RowsRecorded(), 20);
    m_spectrogram.SetShape(Shape(22, kRate / 2, 600, 200, 10));
    const int nColumn = m_spectrogram.ColumnOfBin(400);
    ASSERT_GE(nColumn, 0);
    EXPECT_EQ(RowsWithTone(nColumn).size(), 20u);
    for (int c : {nColumn - 2, nColumn + 2}) {
        EXPECT_TRUE(RowsWithTone(c).empty()) << "the tone spread to column " << c;
    }
    // Below 1 kHz and above 10 kHz the old span showed nothing.
    const SSpanGeometry geo = m_spectrogram.Shape().geo;
    const std::vector<std::int16_t> anLevels = m_spectrogram.LevelsShown();
    for (int c : {5, 100, 400, 560}) {
        const double dHz = geo.BinAt(28 + c + 0.5) * geo.dBinWidth;
        const bool bShownBefore = dHz > 1010 && dHz < 9900;
        EXPECT_EQ(anLevels[std::size_t(c)] != CSpectrogram::kNoLevel, bShownBefore) << dHz;
        EXPECT_EQ(anLevels[std::size_t(25 * 572 + c)], CSpectrogram::kNoLevel) << "row 25";
    }
    m_spectrogram.SetShape(Shape(22, kRate / 2, 600, 200, 20));
    EXPECT_EQ(m_spectrogram.RowsRecorded(), 10);
    EXPECT_EQ(RowsWithTone(nColumn).size(), 10u);
}

// Rows already written take new colours when the levels mapped to them move.
TEST_F(SpectrogramShapeTest, TheWholeHistoryTakesANewContrast) {
    Passes(0, 490, 10, 400, [](int) { return true; });
    const int nColumn = m_spectrogram.ColumnOfBin(400);
    const double dBefore = Lightness(m_spectrogram.Picture(), nColumn, 5);
    m_spectrogram.SetColours(1e12, 1e20, m_scale, true);
    const double dAfter = Lightness(m_spectrogram.Picture(), nColumn, 5);
    EXPECT_LT(dAfter, dBefore - 20);
}

// A running window with the spectrogram shown: one pass writes a row.
class SpectrogramViewTest : public ViewTest {
protected:
    void ShowWithRow(int nWidth, int nHeight, int nFft, int nBin) {
        Resize(nWidth, nHeight);
        StartRun(44100, nFft, 22, 22050, 1e9, 1e9);
        m_left.m_pPower[nBin] = 1e15;
        m_pView->SetSpectrogram(true, 10);
        m_pView->NewArrays(2);
        m_pView->RenderFrame(2);
    }
    // The back buffer's first spectrogram row, below the line under the
    // spectrum.
    int TopRow() const { return SFrame::SpectrumBottom(m_pView->m_nPlotBottom) + 2; }
};

// Above 10 kHz a 784-pixel window gives each column several bins: the one
// that holds the tone lights its column, and no neighbour hides it.
TEST_F(SpectrogramViewTest, ANarrowHighToneStaysVisible) {
    const int nBin = 4458; // 12 kHz at 16384 points
    ShowWithRow(784, 405, 16384, nBin);
    const CSpectrogram& spectrogram = m_pView->Spectrogram();
    const int nColumn = spectrogram.ColumnOfBin(nBin);
    ASSERT_GE(nColumn, 0);
    int nSharing = 0;
    for (int b = nBin - 60; b <= nBin + 60; ++b) {
        nSharing += spectrogram.ColumnOfBin(b) == nColumn ? 1 : 0;
    }
    EXPECT_GT(nSharing, 8) << "bins do not crowd here";
    const int x = LightestColumn(Back(), TopRow(), 28);
    EXPECT_EQ(x, 28 + nColumn);
    EXPECT_NEAR(x, Geometry().X(nBin), 1);
    EXPECT_GT(Lightness(Back(), x, TopRow()), Lightness(Back(), x - 3, TopRow()) + 40);
}

// A tone at a low bin on a wide window, where columns lie between bins: the
// lightest column is the tone's bar's, and the columns around it fade in dB.
TEST_F(SpectrogramViewTest, ALowToneLightsTheColumnOfItsBar) {
    ShowWithRow(1200, 500, 4096, 20);
    const int x = LightestColumn(Back(), TopRow(), 28);
    EXPECT_NEAR(x, Geometry().X(20), 1);
    // Bin 21 stands 8 columns further: the columns between fade towards it.
    ASSERT_GE(Geometry().X(21) - x, 7);
    for (int dx = 1; dx < 6; ++dx) {
        EXPECT_LT(Lightness(Back(), x + dx, TopRow()), Lightness(Back(), x + dx - 1, TopRow()))
            << dx;
    }
}

} // namespace
