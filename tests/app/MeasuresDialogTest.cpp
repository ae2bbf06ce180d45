// The distortion readout and the loudness meter through the window on the
// scripted device: their items in the "?" menu, usable while stopped, and
// the lines the saved file gets from them.

#include <QAction>
#include <QMenu>

#include <cmath>
#include <numbers>

#include "app/MeasureCommands.h"
#include "tests/app/ExportFixture.h"

namespace {

class MeasuresDialogTest : public ExportTest {
protected:
    CMeasureCommands& Measures() { return Dlg().Measures(); }
    double Figure(const SCsv& csv, const char* pszKey) {
        bool bOk = false;
        const double d = csv.Comment(QString::fromLatin1(pszKey)).toDouble(&bOk);
        EXPECT_TRUE(bOk) << pszKey << ": "
                         << csv.Comment(QString::fromLatin1(pszKey)).toStdString();
        return d;
    }
    // A 1 kHz tone of dDbfs in both channels (whole periods in the ring),
    // with H2 and H3 at their levels re it in the left.
    void PlayTone(double dDbfs, double dH2Db, double dH3Db) {
        const double dAmplitude = 32768.0 * std::pow(10.0, dDbfs / 20.0);
        const double dStep = 2 * std::numbers::pi * 1000.0 / 44100;
        const auto left = [&](uint32_t i) {
            const double d = dStep * i;
            return int16_t(std::lround(dAmplitude *
                                       (std::sin(d) + std::pow(10.0, dH2Db / 20) * std::sin(2 * d) +
                                        std::pow(10.0, dH3Db / 20) * std::sin(3 * d))));
        };
        const auto right = [&](uint32_t i) {
            return int16_t(std::lround(dAmplitude * std::sin(dStep * i)));
        };
        m_pRing->Fill(left, right);
    }
};

} // namespace

TEST_F(MeasuresDialogTest, TheItemsAreInTheMenuWithTheirKeysAndDefaults) {
    QStringList texts;
    for (const QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << pAction->text();
    for (const char* pszItem :
         {"Distortion", "Loudness meter", "Loudness target", "Loudness scale", "Reset loudness"})
        EXPECT_TRUE(texts.contains(QString::fromLatin1(pszItem))) << pszItem;
    EXPECT_EQ(Measures().DistortionAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+H")));
    EXPECT_EQ(Measures().LoudnessAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+U")));
    EXPECT_FALSE(Measures().DistortionAction()->isChecked());
    EXPECT_FALSE(Measures().LoudnessAction()->isChecked());
    EXPECT_TRUE(Measures().TargetAction(-23)->isChecked());
    EXPECT_EQ(Measures().TargetAction(-24)->text(), QStringLiteral("ATSC A/85 (-24 LKFS)"));
    EXPECT_TRUE(Measures().ScaleAction(false)->isChecked());
    // Usable while stopped: the keys switch them.
    QTest::keyClick(Ctl(D::IDC_START), Qt::Key_H, Qt::ControlModifier);
    QTest::keyClick(Ctl(D::IDC_START), Qt::Key_U, Qt::ControlModifier);
    EXPECT_TRUE(Measures().DistortionAction()->isChecked());
    EXPECT_TRUE(Measures().LoudnessAction()->isChecked());
}

// A stereo tone at -23 dBFS is -23 LUFS; the file says so to one decimal,
// with the target chosen; without the meter it says nothing of loudness.
TEST_F(MeasuresDialogTest, TheFileGetsTheLoudnessLines) {
    StartWithSine(1000.0, -23.0);
    PlayTone(-23.0, -200.0, -200.0);
    Measures().LoudnessAction()->setChecked(true);
    Measures().TargetAction(-14)->trigger();
    QTest::qWait(3600);
    const SCsv csv = SCsv::Read(SaveCsv());
    for (const char* pszKey :
         {"Loudness momentary (LUFS)", "Loudness short-term (LUFS)", "Loudness integrated (LUFS)",
          "Loudness momentary max (LUFS)", "Loudness short-term max (LUFS)", "True peak (dBTP)"})
        EXPECT_NEAR(Figure(csv, pszKey), -23.0, 0.2) << pszKey;
    EXPECT_NEAR(Figure(csv, "Loudness range (LU)"), 0.0, 0.2);
    EXPECT_EQ(csv.Comment(QStringLiteral("Loudness target (LUFS)")), QStringLiteral("-14.0"));
    // One decimal.
    EXPECT_EQ(csv.Comment(QStringLiteral("Loudness integrated (LUFS)")).section(u'.', 1).size(), 1);

    Measures().LoudnessAction()->setChecked(false);
    EXPECT_EQ(SCsv::Read(SaveCsv()).Comment(QStringLiteral("Loudness integrated (LUFS)")),
              QStringLiteral("<none>"));
}

// H2 at -60 and H3 at -70 dB on a -6 dBFS tone, 16384 points: THD reads
// -59.6 dB; harmonics beyond the span are "none"; a Length shorter than the
// block is said.
TEST_F(MeasuresDialogTest, TheFileGetsTheDistortionLines) {
    StartWithSine(1000.0, -6.0, "16384");
    PlayTone(-6.0, -60.0, -70.0);
    Measures().DistortionAction()->setChecked(true);
    Spin(D::IDC_SPIN_INERTIA)->setValue(4);
    WaitForPasses(8);
    SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_NEAR(Figure(csv, "Fundamental (Hz)"), 1000.0, 0.05);
    EXPECT_NEAR(Figure(csv, "Fundamental (dBFS)"), -6.0, 0.05);
    EXPECT_NEAR(Figure(csv, "THD (dB)"), -59.6, 0.2);
    EXPECT_NEAR(Figure(csv, "THD (%)"), 0.105, 0.003);
    EXPECT_NEAR(Figure(csv, "H2 (dB)"), -60.0, 0.2);
    EXPECT_NEAR(Figure(csv, "H3 (dB)"), -70.0, 0.3);
    // 16-bit samples: the noise is the input's own.
    EXPECT_LT(Figure(csv, "THD+N (dB)"), -59.0);
    EXPECT_NEAR(Figure(csv, "SINAD (dB)"), -Figure(csv, "THD+N (dB)"), 1e-9);
    EXPECT_GT(Figure(csv, "SNR (dB)"), 80.0);
    EXPECT_EQ(csv.Comment(QStringLiteral("Distortion")), QStringLiteral("<none>"));

    Spin(D::IDC_SPIN_SPAN_HIGH)->setValue(5000);
    WaitForPasses(2);
    csv = SCsv::Read(SaveCsv());
    EXPECT_LT(Figure(csv, "H5 (dB)"), -90.0) << "H5 at 5 kHz lies inside the span";
    EXPECT_EQ(csv.Comment(QStringLiteral("H6 (dB)")), QStringLiteral("none"));
    EXPECT_NEAR(Figure(csv, "THD (dB)"), -59.6, 0.2);

    Spin(D::IDC_SPIN_LENGTH)->setValue(Spin(D::IDC_SPIN_LENGTH)->value() / 2);
    WaitForPasses(2);
    csv = SCsv::Read(SaveCsv());
    EXPECT_EQ(csv.Comment(QStringLiteral("Distortion")),
              QStringLiteral("Distortion: Length must take the whole block"));
    EXPECT_EQ(csv.Comment(QStringLiteral("THD (dB)")), QStringLiteral("none"));
}
