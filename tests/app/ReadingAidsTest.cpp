// The aids to reading the picture through the window: Freeze with Ctrl+Space
// whatever has the focus, markers placed with Ctrl-clicks on two tones and
// saved in the file, the difference of an equaliser's output from the pink
// noise kept before it, and the note and label submenus.

#include <QAction>
#include <QMenu>
#include <QPushButton>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/PitchName.h"
#include "app/AxisCommands.h"
#include "app/BandCommands.h"
#include "app/LevelCommands.h"
#include "app/ReadingCommands.h"
#include "app/ReferenceCommands.h"
#include "tests/app/ExportFixture.h"
#include "tests/app/TestSignals.h"
#include "view/SpectrumView.h"

namespace {

constexpr int kRing = kRingFrames;

class ReadingAidsTest : public ExportTest {
protected:
    CReadingCommands& Reading() { return Dlg().Reading(); }
    CSpectrumView& View() { return *Dlg().View(); }

    void Play(const std::vector<double>& adSignal) {
        m_pRing->Fill([&](uint32_t i) { return int16_t(std::lround(adSignal[i % kRing])); },
                      [](uint32_t) { return int16_t(0); });
    }
    void PlayTones(const std::vector<std::pair<double, double>>& aTones) {
        std::vector<double> ad(kRing, 0.0);
        for (int i = 0; i < kRing; ++i)
            for (const auto& [dHz, dDbfs] : aTones)
                ad[std::size_t(i)] += 32768.0 * std::pow(10.0, dDbfs / 20) *
                                      std::sin(2 * std::numbers::pi * dHz * i / 44100);
        Play(ad);
    }
    // A logarithmic sweep from 100 Hz to 10 kHz over the ring's two seconds.
    void PlaySweep() {
        std::vector<double> ad(kRing);
        const double dRatio = std::log(100.0);
        for (int i = 0; i < kRing; ++i) {
            const double t = i / 44100.0;
            const double dPhase =
                2 * std::numbers::pi * 100.0 * 2.0 / dRatio * (std::exp(dRatio * t / 2.0) - 1.0);
            ad[std::size_t(i)] = 10000.0 * std::sin(dPhase);
        }
        Play(ad);
    }
    int XOfHz(double dHz) {
        const SSpanGeometry geo = View().ComputeSpanGeometry();
        return static_cast<int>(geo.XOf(dHz / geo.dBinWidth));
    }
    // Waits for nFrames more frames on the window.
    bool WaitForFrames(int nFrames) {
        const int nBefore = View().PresentedFrames();
        return QTest::qWaitFor([&] { return View().PresentedFrames() >= nBefore + nFrames; }, 5000);
    }
    // The data rows of a saved file.
    QList<QStringList> Rows(const QString& strName) { return SCsv::Read(SaveCsv(strName)).records; }
};

} // namespace

TEST_F(ReadingAidsTest, TheMenuOffersTheAidsAndTheirShortcuts) {
    QStringList texts;
    for (const QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << pAction->text();
    for (const char* psz : {"Freeze", "Peak to marker A", "Clear markers", "Show difference",
                            "Note readout", "Frequency labels"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(psz))) << psz;
    EXPECT_EQ(Reading().FreezeAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+Space")));
    EXPECT_EQ(Reading().PeakToMarkerAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+1")));
    EXPECT_EQ(Reading().DifferenceAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+E")));
    // Stopped, nothing to freeze; without a reference, no difference.
    EXPECT_FALSE(Reading().FreezeAction()->isEnabled());
    EXPECT_FALSE(Reading().DifferenceAction()->isEnabled());
    QStringList notes;
    for (const QAction* pAction : Dlg().Axis().NoteMenu()->actions())
        if (!pAction->isSeparator())
            notes << pAction->text();
    EXPECT_EQ(notes,
              (QStringList{"As designed", "Cents", QStringLiteral("Reference pitch\u2026")}));
    EXPECT_TRUE(Dlg().Axis().NotesAsDesignedAction()->isChecked());
    EXPECT_TRUE(Dlg().Axis().LabelsAsDesignedAction()->isChecked());
}

// A sweep plays; Ctrl+Space with the focus on Stop freezes the picture
// without stopping: frames a second apart are the same, pixel for pixel, and
// files saved meanwhile hold the same spectrum; unfrozen, the picture moves
// again.
TEST_F(ReadingAidsTest, FreezeStopsThePictureNotTheRun) {
    StartWithSine(1000, -20);
    PlaySweep();
    WaitForPasses(3);
    QWidget* pStop = Ctl(D::IDC_STOP);
    ASSERT_TRUE(pStop->hasFocus());
    QTest::keyClick(pStop, Qt::Key_Space, Qt::ControlModifier);
    ASSERT_NE(Dlg().Engine(), nullptr) << "Ctrl+Space pressed Stop";
    EXPECT_TRUE(View().IsFrozen());
    EXPECT_TRUE(Reading().FreezeAction()->isChecked());
    ASSERT_TRUE(WaitForFrames(2));
    const QImage first = View().FrontImage();
    SaveShot(&Dlg(), "frozen");
    const int nPasses = Dlg().Engine()->m_nPassCount.load();
    QTest::qWait(1000);
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_NE(Dlg().Engine()->m_nPassCount.load(), nPasses) << "the analysis stopped";
    EXPECT_EQ(View().FrontImage(), first);

    const SCsv frozen = SCsv::Read(SaveCsv(QStringLiteral("frozen.csv")));
    EXPECT_EQ(frozen.Comment(QStringLiteral("Frozen")), QStringLiteral("yes"));
    QTest::qWait(300);
    EXPECT_EQ(Rows(QStringLiteral("frozen-later.csv")), frozen.records);
    SFrozenPass pass;
    ASSERT_TRUE(View().FrozenPass(pass));
    ASSERT_EQ(frozen.records.size(), qsizetype(pass.left.adPower.size() + 1));
    const int nPowerColumn = int(frozen.records[0].indexOf(QStringLiteral("Left power")));
    ASSERT_GT(nPowerColumn, 0) << frozen.records[0].join(u',').toStdString();
    for (std::size_t k = 1; k < pass.left.adPower.size(); k += 97)
        EXPECT_EQ(frozen.records[qsizetype(k + 1)][nPowerColumn].toDouble(), pass.left.adPower[k]);

    QTest::keyClick(pStop, Qt::Key_Space, Qt::ControlModifier);
    EXPECT_FALSE(View().IsFrozen());
    QTest::qWait(300);
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_NE(View().FrontImage(), first);
    EXPECT_NE(Rows(QStringLiteral("live.csv")), frozen.records);
}

// A new span ends a freeze, and the item says so; Stop too.
TEST_F(ReadingAidsTest, ASpanChangeAndStopEndTheFreeze) {
    StartWithSine(1000, -20);
    Reading().FreezeAction()->trigger();
    ASSERT_TRUE(View().IsFrozen());
    Spin(D::IDC_SPIN_SPAN_LOW)->setValue(200);
    EXPECT_FALSE(View().IsFrozen());
    EXPECT_FALSE(Reading().FreezeAction()->isChecked());
    Reading().FreezeAction()->trigger();
    ASSERT_TRUE(View().IsFrozen());
    ClickStop();
    EXPECT_FALSE(View().IsFrozen());
    EXPECT_FALSE(Reading().FreezeAction()->isChecked());
    EXPECT_FALSE(Reading().FreezeAction()->isEnabled());
}

// Two tones, 500 Hz at -20 dBFS and 2 kHz at -32 dBFS: a Ctrl-click a few
// pixels off each places A and B on the tones without changing the span;
// they read 12 dB apart, two octaves, and the file says so; a new span keeps
// their frequencies; Ctrl+right-click takes the nearest away.
TEST_F(ReadingAidsTest, MarkersOnTwoTonesReadTheirDifference) {
    StartWithSine(1000, -20);
    PlayTones({{500.0, -20.0}, {2000.0, -32.0}});
    Dlg().Levels().UnitAction(ELevelUnit::Dbfs)->trigger();
    WaitForPasses(3);
    ASSERT_TRUE(WaitForFrames(2));
    const int nLow = Spin(D::IDC_SPIN_SPAN_LOW)->value();
    const int nHigh = Spin(D::IDC_SPIN_SPAN_HIGH)->value();
    QTest::mouseClick(&View(), Qt::LeftButton, Qt::ControlModifier, QPoint(XOfHz(500.0) + 3, 100));
    QTest::mouseClick(&View(), Qt::LeftButton, Qt::ControlModifier | Qt::ShiftModifier,
                      QPoint(XOfHz(2000.0) - 4, 150));
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->value(), nLow);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), nHigh);
    EXPECT_NEAR(View().MarkerHz(0), 500.0, 0.05);
    EXPECT_NEAR(View().MarkerHz(1), 2000.0, 0.05);
    ASSERT_TRUE(WaitForFrames(1));
    SaveShot(&Dlg(), "markers");
    const CSpectrumView::SMarkerFigures figures = View().MarkerFigures();
    EXPECT_NEAR(figures.adDb[0], -20.0, 0.2);
    EXPECT_NEAR(figures.adDb[1] - figures.adDb[0], -12.0, 0.2);

    const SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_NEAR(csv.Comment(QStringLiteral("Marker A (Hz)")).toDouble(), 500.0, 0.05);
    EXPECT_NEAR(csv.Comment(QStringLiteral("Marker B (Hz)")).toDouble(), 2000.0, 0.05);
    EXPECT_NEAR(csv.Comment(QStringLiteral("Marker A level")).toDouble(), -20.0, 0.2);
    EXPECT_NEAR(csv.Comment(QStringLiteral("Marker B level")).toDouble(), -32.0, 0.2);
    EXPECT_NEAR(csv.Comment(QStringLiteral("Marker delta (dB)")).toDouble(), -12.0, 0.2);

    Spin(D::IDC_SPIN_SPAN_LOW)->setValue(300);
    Spin(D::IDC_SPIN_SPAN_HIGH)->setValue(4000);
    ASSERT_TRUE(WaitForFrames(2));
    EXPECT_NEAR(View().MarkerHz(0), 500.0, 0.05);
    EXPECT_NEAR(View().MarkerHz(1), 2000.0, 0.05);
    EXPECT_NEAR(View().MarkerFigures().adDb[1], -32.0, 0.2);

    QTest::mouseClick(&View(), Qt::RightButton, Qt::ControlModifier, QPoint(XOfHz(1800.0), 100));
    EXPECT_TRUE(std::isnan(View().MarkerHz(1)));
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 4000) << "the right click zoomed out";
    // Ctrl+1 brings A back to the strongest tone from wherever it stands.
    View().SetMarkerHz(0, 3000.0);
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_1, Qt::ControlModifier);
    EXPECT_NEAR(View().MarkerHz(0), 500.0, 0.05);
    Reading().ClearMarkersAction()->trigger();
    EXPECT_TRUE(std::isnan(View().MarkerHz(0)));
    EXPECT_EQ(
        SCsv::Read(SaveCsv(QStringLiteral("none.csv"))).Comment(QStringLiteral("Marker A (Hz)")),
        QStringLiteral("<none>"));
}

// Pink noise kept as the reference, then the same noise through a +6 dB
// peaking equaliser at 1 kHz: with third-octave bands and the difference
// shown, the 1 kHz band's bar stands the equaliser's gain over the band
// above the 0 dB line and the 200 Hz band's on it, and the file's
// "Difference (dB)" column says the same.
TEST_F(ReadingAidsTest, TheDifferenceShowsAnEqualisersEffect) {
    StartWithSine(1000, -200, "16384"); // silence until the noise plays
    Spin(D::IDC_SPIN_INERTIA)->setValue(50);
    const std::vector<double> adPink = PinkRing(32768.0 * std::pow(10.0, -20.0 / 20));
    Play(adPink);
    QTest::keyClick(&Dlg(), Qt::Key_B, Qt::ControlModifier);
    Dlg().Levels().UnitAction(ELevelUnit::Dbfs)->trigger();
    WaitForPasses(250);
    Dlg().Reference().KeepAction()->trigger();
    ASSERT_TRUE(Reading().DifferenceAction()->isEnabled());
    const SPeakingEq eq = SPeakingEq::Of(1000.0, 6.0, 1.4);
    Play(eq.Filter(adPink));
    QTest::keyClick(&Dlg(), Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(View().IsDifferenceShown());
    WaitForPasses(250);
    ASSERT_TRUE(WaitForFrames(2));

    SaveShot(&Dlg(), "difference-bands");
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_FALSE(csv.records.isEmpty());
    const int nColumn = int(csv.records[0].indexOf(QStringLiteral("Difference (dB)")));
    ASSERT_GT(nColumn, 0) << csv.records[0].join(u',').toStdString();
    int nChecked = 0;
    for (const QStringList& row : csv.records.mid(1)) {
        const double dExpected = eq.BandGainDb(row[2].toDouble(), row[3].toDouble());
        if (row[1] == QStringLiteral("1000") || row[1] == QStringLiteral("200")) {
            EXPECT_NEAR(row[nColumn].toDouble(), dExpected, 0.7) << row[1].toStdString();
            ++nChecked;
        }
    }
    EXPECT_EQ(nChecked, 2);

    // On the screen: each band's bar from the 0 dB line in the middle of the
    // plot, 10 dB as high as Y-scale makes it.
    const QImage img = View().FrontImage();
    const double dRatio = img.devicePixelRatio();
    const int nPlotH = View().m_nPlotBottom;
    const int nZero = nPlotH / 2;
    const double dPixelsPerDb =
        std::log(10.0) * nPlotH * Spin(D::IDC_SPIN_YSCALE)->value() * 0.0005 / 10;
    const auto barTopDb = [&](double dHz) {
        const int x = static_cast<int>(XOfHz(dHz) * dRatio);
        int y = static_cast<int>(nZero * dRatio);
        // Up the bar from the 0 dB line while it is the bar's colours.
        const auto isBar = [&](int yy) {
            const QRgb px = img.pixel(x, yy);
            return px == qRgb(70, 70, 180) || px == qRgb(30, 30, 130);
        };
        while (y > 0 && isBar(y - 1))
            --y;
        return (nZero - y / dRatio) / dPixelsPerDb;
    };
    const double d1k = eq.BandGainDb(891.25, 1122.0);
    EXPECT_NEAR(barTopDb(1000.0), d1k, 0.7 + 1 / dPixelsPerDb);
    EXPECT_NEAR(barTopDb(200.0), 0.0, 0.7 + 1 / dPixelsPerDb);

    // Clearing the reference ends the difference.
    Dlg().Reference().ClearAction()->trigger();
    EXPECT_FALSE(View().IsDifferenceShown());
    EXPECT_FALSE(Reading().DifferenceAction()->isEnabled());
}

// "Reference pitch…" takes A4 from 415 to 466 Hz; the cents readout uses it.
TEST_F(ReadingAidsTest, ReferencePitchAndTheCentsReadout) {
    CAxisCommands& axis = Dlg().Axis();
    double dOffered = 0.0;
    SetAskNumberHook([&](const QString&, double dValue, double dMin, double dMax) {
        dOffered = dValue;
        EXPECT_EQ(dMin, 415.0);
        EXPECT_EQ(dMax, 466.0);
        return 415.0;
    });
    axis.ReferencePitchAction()->trigger();
    SetAskNumberHook(nullptr);
    EXPECT_EQ(dOffered, 440.0);
    EXPECT_EQ(axis.ReferencePitch(), 415.0);
    EXPECT_FALSE(axis.SetReferencePitch(470.0));
    EXPECT_FALSE(axis.SetReferencePitch(400.0));
    EXPECT_EQ(axis.ReferencePitch(), 415.0);
    axis.CentsAction()->trigger();
    EXPECT_TRUE(View().m_bCents.load());
    EXPECT_EQ(View().m_dA4Hz.load(), 415.0);
    axis.NotesAsDesignedAction()->trigger();
    EXPECT_FALSE(View().m_bCents.load());
    axis.RoundLabelsAction()->trigger();
    EXPECT_TRUE(View().HasRoundLabels());
    axis.LabelsAsDesignedAction()->trigger();
    EXPECT_FALSE(View().HasRoundLabels());
}
