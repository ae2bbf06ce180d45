#include "ViewTestSupport.h"

#include "view/NoteTable.h"

#include <cmath>

namespace {

TEST(NoteTableTest, EntriesAreSemitonesFromA27_5WithOrAtTheTop) {
    EXPECT_DOUBLE_EQ(g_dNoteHz[0], 27.5);
    EXPECT_DOUBLE_EQ(g_dNoteHz[2], 30.8677);
    EXPECT_DOUBLE_EQ(g_dNoteHz[48], 440.0);
    EXPECT_DOUBLE_EQ(g_dNoteHz[63], 1046.502);
    EXPECT_STREQ(g_szNoteName[48], "A");
    EXPECT_STREQ(g_szNoteName[51], "C");
    EXPECT_STREQ(g_szNoteName[61], "A#");
    EXPECT_STREQ(g_szNoteName[63], "OR");
    for (int i = 1; i < kNoteCount; ++i) {
        // Seven significant digits of an equal-tempered semitone.
        EXPECT_NEAR(g_dNoteHz[i] / g_dNoteHz[i - 1], std::pow(2.0, 1.0 / 12), 2e-6) << i;
        if (i < 63) {
            EXPECT_STREQ(g_szNoteName[i], g_szNoteName[i % 12]) << i;
        }
    }
}

TEST(NoteTableTest, NearestNote) {
    EXPECT_EQ(FindNearestNote(440.0), 48);
    EXPECT_EQ(FindNearestNote(452.0), 48);
    EXPECT_EQ(FindNearestNote(20.0), 0);
    EXPECT_EQ(FindNearestNote(1000.0), 62);
    EXPECT_EQ(FindNearestNote(1020.0), 63);
    EXPECT_EQ(FindNearestNote(5000.0), 63);
    EXPECT_EQ(FindNearestNote(0.0), 0);
}

TEST(NoteTableTest, AnExactTieGoesToTheUpperNote) {
    // 55 and 58.27047 have a midpoint that lies exactly halfway in doubles.
    const double dMid = (g_dNoteHz[12] + g_dNoteHz[13]) / 2;
    ASSERT_EQ(g_dNoteHz[13] - dMid, dMid - g_dNoteHz[12]);
    EXPECT_EQ(FindNearestNote(dMid), 13);
    EXPECT_EQ(FindNearestNote(std::nextafter(dMid, 0.0)), 12);
}

class NoteOverlayTest : public ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        StartRun(44100, 4096, 40, 16000);
        m_pView->m_nDisplayMode = 1;
    }
    std::string ReadoutFor(double dHz) {
        m_left.m_dPeakHz = dHz;
        m_pView->m_noteOverlay.m_nReadoutAge = 10;
        m_pView->RenderFrame(2);
        return m_pView->m_noteOverlay.m_strPeakReadout;
    }
};

TEST_F(NoteOverlayTest, ReadoutNamesTheNearestNoteAndTheDeviation) {
    EXPECT_EQ(ReadoutFor(440.0), "440.00 Hz (0.00) <A>");
    EXPECT_EQ(ReadoutFor(452.0), "452.00 Hz (12.00) <A>");
    EXPECT_EQ(ReadoutFor(20.0), "20.00 Hz (-7.50) <A>");
    EXPECT_EQ(ReadoutFor(1000.0), "1000.00 Hz (12.23) <B>");
    EXPECT_EQ(ReadoutFor(1020.0), "1020.00 Hz (-26.50) <OR>");
    const double dMid = (g_dNoteHz[12] + g_dNoteHz[13]) / 2;
    EXPECT_EQ(ReadoutFor(dMid), "56.64 Hz (-1.64) <A#>");
}

// In cents the readout names the nearest equal-tempered note with its
// octave, at the reference pitch chosen, in the same place; the note lines
// stay the table's.
TEST_F(NoteOverlayTest, InCentsTheReadoutNamesOctaveAndCentsAtTheReferencePitch) {
    m_pView->SetNoteReadout(true, 440.0);
    EXPECT_EQ(ReadoutFor(1000.0), "B5 +21 cents  1000.00 Hz");
    m_pView->SetNoteReadout(true, 415.0);
    EXPECT_EQ(ReadoutFor(27.5), "A#0 +1 cents  27.50 Hz");
    const std::string str = "A#0 +1 cents  27.50 Hz";
    EXPECT_TRUE(ShowsText(Back(), 140 - TextWidth(str) / 2, 20, str, kLabelText, kMargin));
    m_pView->SetNoteReadout(false, 415.0);
    EXPECT_EQ(ReadoutFor(440.0), "440.00 Hz (0.00) <A>");
}

TEST_F(NoteOverlayTest, ReadoutIsCentredOn140AndRebuiltEveryFifthFrame) {
    m_left.m_dPeakHz = 440.0;
    m_pView->RenderFrame(2);
    const std::string strFirst = "440.00 Hz (0.00) <A>";
    EXPECT_TRUE(
        ShowsText(Back(), 140 - TextWidth(strFirst) / 2, 20, strFirst, kLabelText, kMargin));
    m_left.m_dPeakHz = 452.0;
    for (int i = 0; i < 4; ++i) {
        m_pView->RenderFrame(2);
        EXPECT_EQ(m_pView->m_noteOverlay.m_strPeakReadout, strFirst) << i;
    }
    m_pView->RenderFrame(2);
    EXPECT_EQ(m_pView->m_noteOverlay.m_strPeakReadout, "452.00 Hz (12.00) <A>");
    // Frames of other modes leave the readout's age alone.
    m_pView->m_nDisplayMode = 0;
    m_pView->RenderFrame(2);
    EXPECT_EQ(m_pView->m_noteOverlay.m_nReadoutAge, 0);
}

TEST_F(NoteOverlayTest, NoteLinesStandAtTheNotesWithTheirNames) {
    m_pView->RenderFrame(2);
    const SExpectedGeometry g = Geometry();
    const int nPlotH = m_pView->m_nPlotBottom;
    int nDrawn = 0;
    for (int i = 0; i < kNoteCount; ++i) {
        const double dBin = g_dNoteHz[i] / g.dBinWidth;
        if (!(dBin > g.nBinLow)) {
            continue;
        }
        const int x = g.X(dBin);
        ++nDrawn;
        EXPECT_EQ(Back(x, 0), kGridColour) << i;
        EXPECT_EQ(Back(x, nPlotH - 16), kGridColour) << i;
        EXPECT_NE(Back(x, nPlotH - 15), kGridColour) << i;
    }
    EXPECT_EQ(nDrawn, 64 - 8); // 27.5 .. 41.2 Hz lie at or below bin 4 (43.07 Hz)
    // The topmost entry is named at its foot (nothing stands right of it).
    const int x = g.X(g_dNoteHz[63] / g.dBinWidth);
    EXPECT_TRUE(ShowsText(Back(), x - TextWidth("OR") / 2, nPlotH - 14, "OR", kLabelText, kMargin));
}

TEST_F(NoteOverlayTest, AboveTheTableNoLinesButStillTheReadout) {
    m_pView->m_nSpanLowHz = 2000;
    m_pView->DrawScale();
    m_left.m_dPeakHz = 440.0;
    m_pView->RenderFrame(2);
    for (int x = 28; x < 600; ++x) {
        ASSERT_NE(Back(x, 5), kGridColour) << x;
    }
    const std::string str = "440.00 Hz (0.00) <A>";
    EXPECT_TRUE(ShowsText(Back(), 140 - TextWidth(str) / 2, 20, str, kLabelText, kMargin));
}

TEST_F(NoteOverlayTest, RightChannelGetsNoOverlayOfItsOwn) {
    m_left.m_dPeakHz = 440.0;
    m_right.m_dPeakHz = 1000.0;
    m_pView->RenderFrame(3);
    EXPECT_EQ(m_pView->m_noteOverlay.m_strPeakReadout, "440.00 Hz (0.00) <A>");
}

} // namespace
