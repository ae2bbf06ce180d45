// The spectrogram through the window: the "?" menu's commands, a tone's line
// under its bar, a sweep's rows, the history while the window is hidden and
// over Stop and Start, and the picture the export takes.

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QPushButton>

#include "app/SpectrogramCommands.h"
#include "tests/app/ExportFixture.h"
#include "view/Frame.h"
#include "view/Spectrogram.h"

namespace {

// Of a picture's colours, how light one is (the sum of its channels).
int Light(const QImage& img, int x, int y) {
    const QRgb px = img.pixel(x, y);
    return qRed(px) + qGreen(px) + qBlue(px);
}

int LightestColumn(const QImage& img, int y, int xFrom) {
    int nBest = xFrom;
    for (int x = xFrom; x < img.width(); ++x) {
        if (Light(img, x, y) > Light(img, nBest, y))
            nBest = x;
    }
    return nBest;
}

class SpectrogramTest : public ExportTest {
protected:
    CSpectrogramCommands& Commands() { return Dlg().Spectrogram(); }
    const CSpectrogram& History() { return Dlg().View()->Spectrogram(); }
    void SwitchWithKeys() { QTest::keyClick(&Dlg(), Qt::Key_G, Qt::ControlModifier); }
    void WaitForRows(int nRows) {
        const int nBefore = History().RowsWritten();
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return History().RowsWritten() >= nBefore + nRows; }, 10000));
    }
    // The picture once a frame newer than now has been handed to the window.
    QImage NextFront() {
        const int nBefore = Dlg().View()->PresentedFrames();
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return Dlg().View()->PresentedFrames() > nBefore; }, 5000));
        const QImage img = Dlg().View()->FrontImage();
        EXPECT_EQ(img.devicePixelRatio(), 1.0);
        return img;
    }
    int SpectrumBottom() { return SFrame::SpectrumBottom(Dlg().View()->m_nPlotBottom); }
    int SpectrogramTop() { return SpectrumBottom() + 2; }
};

} // namespace

TEST_F(SpectrogramTest, TheMenuOffersItWhileStoppedWithTenSecondsOfHistory) {
    const QMenu* pMenu = Dlg().HelpButton()->menu();
    QStringList texts;
    for (const QAction* pAction : pMenu->actions())
        texts << pAction->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Spectrogram")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Spectrogram history")));
    QAction* pShow = Commands().ShowAction();
    EXPECT_TRUE(pShow->isCheckable());
    EXPECT_TRUE(pShow->isEnabled());
    EXPECT_FALSE(pShow->isChecked());
    EXPECT_EQ(pShow->shortcut(), QKeySequence(QStringLiteral("Ctrl+G")));
    for (int nSeconds : {5, 10, 30, 60}) {
        ASSERT_NE(Commands().HistoryAction(nSeconds), nullptr);
        EXPECT_EQ(Commands().HistoryAction(nSeconds)->text(), QStringLiteral("%1 s").arg(nSeconds));
        EXPECT_EQ(Commands().HistoryAction(nSeconds)->isChecked(), nSeconds == 10);
    }
    SwitchWithKeys();
    EXPECT_TRUE(Dlg().View()->IsSpectrogramShown());
    Commands().HistoryAction(30)->trigger();
    EXPECT_EQ(Dlg().View()->SpectrogramSeconds(), 30);
    SwitchWithKeys();
    EXPECT_FALSE(Dlg().View()->IsSpectrogramShown());
}

// A steady 1 kHz tone draws a light vertical line in the column where its
// bar stands, within a pixel; the picture copied and saved holds it too.
TEST_F(SpectrogramTest, ASteadyToneDrawsALineUnderItsBar) {
    StartWithSine(1000, -12);
    SwitchWithKeys();
    WaitForRows(20);
    const QImage front = NextFront();
    // The bar: the columns whose bar stands highest in the spectrum.
    int nBarTop = SpectrumBottom();
    int nBarLeft = -1;
    int nBarRight = -1;
    for (int x = 28; x < front.width(); ++x) {
        for (int y = 40; y < SpectrumBottom(); ++y) {
            const QRgb px = front.pixel(x, y);
            if (qBlue(px) > 120 && qRed(px) < 100) { // the left channel's bar
                if (y < nBarTop) {
                    nBarTop = y;
                    nBarLeft = x;
                }
                if (y == nBarTop)
                    nBarRight = x;
                break;
            }
        }
    }
    ASSERT_GE(nBarLeft, 28) << "no bar found";
    const int x = LightestColumn(front, SpectrogramTop() + 2, 28);
    EXPECT_GE(x, nBarLeft - 1);
    EXPECT_LE(x, nBarRight + 1);
    // A line: the same column in rows further down, well lighter than beside it.
    for (int nRow : {6, 12, 18}) {
        const int y = SpectrogramTop() + nRow;
        EXPECT_EQ(LightestColumn(front, y, 28), x) << "row " << nRow;
        EXPECT_GT(Light(front, x, y), Light(front, x + 20, y) + 200) << "row " << nRow;
    }
    // The export takes the picture shown, spectrogram and all.
    Dlg().View()->m_bScaleBusy = 1; // no frame replaces the one shown meanwhile
    QTest::qWait(100);
    const QImage shown = Dlg().View()->FrontImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(Light(shown, x, SpectrogramTop() + 6), Light(front, x, SpectrogramTop() + 6));
    Dlg().Export().CopyPictureAction()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32), shown);
    m_strAnswer = m_dir.filePath(QStringLiteral("picture.png"));
    Dlg().Export().SavePictureAction()->trigger();
    EXPECT_EQ(QImage(m_strAnswer).convertToFormat(QImage::Format_RGB32), shown);
    Dlg().View()->m_bScaleBusy = 0;
}

// A logarithmic sweep from 100 Hz to 5 kHz over two and a half seconds: row
// by row, from the oldest to the newest, the lightest column moves right
// (within the pixel the two bins around a tone may share).
TEST_F(SpectrogramTest, ASweepMovesRightRowByRow) {
    Commands().HistoryAction(5)->trigger();
    StartWithSine(100, -12);
    SwitchWithKeys(); // an empty history, from a ring that holds the sine
    QElapsedTimer sweep;
    sweep.start();
    while (sweep.elapsed() < 2500) {
        // Whole periods in the two-second ring: no block holds a jump.
        const double dHz = 100 * std::pow(50.0, sweep.elapsed() / 2500.0);
        PlaySine(std::round(2 * dHz) / 2, -12);
        QTest::qWait(40);
    }
    SaveShot(&Dlg(), "spectrogram-sweep");
    ClickStop();
    const QImage rows = History().Picture();
    const int nRecorded = History().RowsRecorded();
    ASSERT_GT(nRecorded, 40);
    std::vector<int> anColumns;
    for (int r = nRecorded - 1; r >= 0; --r) {
        const int x = LightestColumn(rows, r, 0);
        ASSERT_GT(Light(rows, x, r), 300) << "no tone in row " << r;
        anColumns.push_back(x);
    }
    // Between two bins of nearly equal power the lightest column may flip
    // back and forth by one from row to row; it never falls back further
    // than that from the furthest right it reached.
    int nFurthest = anColumns.front();
    for (std::size_t i = 1; i < anColumns.size(); ++i) {
        EXPECT_GE(anColumns[i], nFurthest - 1) << "row " << nRecorded - 1 - int(i);
        nFurthest = std::max(nFurthest, anColumns[i]);
    }
    // From about 100 Hz to about 5 kHz: ln 50 of the axis.
    const SSpanGeometry geo = History().Shape().geo;
    EXPECT_NEAR(anColumns.back() - anColumns.front(), geo.dXScale * std::log(50.0),
                0.1 * geo.dXScale * std::log(50.0));
}

// Hidden, the window gets no frames, yet rows keep coming: shown again, the
// history has no gap. It stays over Stop, and Start begins it anew.
TEST_F(SpectrogramTest, RowsKeepComingWhileHiddenAndStartBeginsAnew) {
    Commands().HistoryAction(5)->trigger();
    StartWithSine(1000, -12);
    SwitchWithKeys(); // an empty history, from a ring that holds the sine
    WaitForRows(5);
    Dlg().hide();
    QTest::qWait(200); // a frame begun before may still be handed over

    const int nFrames = Dlg().View()->PresentedFrames();
    WaitForRows(30);
    EXPECT_EQ(Dlg().View()->PresentedFrames(), nFrames) << "frames drawn for a hidden window";
    Dlg().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Dlg()));
    NextFront();
    // The tone's column is lit in every row recorded so far.
    const int nColumn = History().ColumnOfBin(93); // 1 kHz at 4096 points
    const int nColumns = History().Shape().nColumns;
    const std::vector<std::int16_t> anLevels = History().LevelsShown();
    const int nRecorded = History().RowsRecorded();
    ASSERT_GE(nRecorded, 35);
    for (int r = 0; r < nRecorded; ++r)
        EXPECT_GT(anLevels[std::size_t(r * nColumns + nColumn)], -3000) << "row " << r;

    ClickStop();
    const QImage stopped = History().Picture();
    const int nAtStop = History().RowsRecorded();
    QTest::qWait(200);
    EXPECT_EQ(History().RowsRecorded(), nAtStop);
    EXPECT_EQ(History().Picture(), stopped) << "the history changed after Stop";
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_LT(History().RowsRecorded(), 5);
}
