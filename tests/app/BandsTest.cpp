// Octave bands through the window: the "Bands" submenu and Ctrl+B, a tone's
// band level in the saved file, and a band file refused as a reference.

#include <QAction>
#include <QMenu>
#include <QPushButton>

#include <cmath>
#include <numbers>

#include "app/BandCommands.h"
#include "app/LevelCommands.h"
#include "app/ReferenceCommands.h"
#include "tests/app/ExportFixture.h"

namespace {

class BandsTest : public ExportTest {
protected:
    CBandCommands& Bands() { return Dlg().Bands(); }
};

} // namespace

TEST_F(BandsTest, TheSubmenuOffersTheBandsWhileStoppedAndOffByDefault) {
    QStringList texts;
    for (const QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << pAction->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Bands")));
    QStringList items;
    for (const QAction* pAction : Bands().Menu()->actions()) {
        items << pAction->text();
        EXPECT_TRUE(pAction->isEnabled());
    }
    EXPECT_EQ(items, (QStringList{"Off", "1/1 octave", "1/3 octave", "1/6 octave", "1/12 octave"}));
    EXPECT_TRUE(Bands().Action(0)->isChecked());
    EXPECT_EQ(Bands().Action(3)->shortcut(), QKeySequence(QStringLiteral("Ctrl+B")));
    QTest::keyClick(&Dlg(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(Dlg().View()->BandFraction(), 3);
    Bands().Action(12)->trigger();
    EXPECT_EQ(Dlg().View()->BandFraction(), 12);
    Bands().Action(0)->trigger();
    EXPECT_EQ(Dlg().View()->BandFraction(), 0);
}

// A 1 kHz sine at -12 dBFS, saved with third-octave bands in dBFS: a row per
// band of the span, the 1 kHz band reading the sine's level, and no bins.
// Tones at 125, 250, 500 Hz, 1 and 4 kHz, -30 dBFS each, at 4096 points and
// a Length of 10 ms: Hann's window over 441 samples resolves the bands from
// 1.6 kHz up only, and says so, while the 4 kHz band reads its tone. With
// Hold on and the spectrum kept as the reference, each row has the band's
// hold and the reference's level in the band.
TEST_F(BandsTest, AShortLengthResolvesOnlyWhatItsWindowResolves) {
    StartWithSine(1000, -30);
    const double dAmplitude = 32768.0 * std::pow(10.0, -30.0 / 20);
    m_pRing->Fill(
        [&](uint32_t i) {
            double d = 0.0;
            for (double dHz : {125.0, 250.0, 500.0, 1000.0, 4000.0})
                d += dAmplitude * std::sin(2 * std::numbers::pi * dHz * i / 44100);
            return int16_t(std::lround(d));
        },
        [](uint32_t) { return int16_t(0); });
    Dlg().Levels().UnitAction(ELevelUnit::Dbfs)->trigger();
    QTest::keyClick(&Dlg(), Qt::Key_B, Qt::ControlModifier);
    Spin(D::IDC_SPIN_LENGTH)->setValue(10);
    Click(Check(D::IDC_CHECK_HOLD));
    WaitForPasses(5);
    Dlg().Reference().KeepAction()->trigger();
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_FALSE(csv.records.isEmpty());
    EXPECT_EQ(csv.records[0].mid(4), (QStringList{"Left level (dBFS)", "Left hold (dBFS)",
                                                  "Reference level (dBFS)", "Resolved"}));
    bool bFound = false;
    for (const QStringList& row : csv.records.mid(1)) {
        ASSERT_EQ(row.size(), 8);
        EXPECT_EQ(row[7], row[0].toDouble() > 1300 ? QStringLiteral("yes") : QStringLiteral("no"))
            << row[1].toStdString();
        const double dLevel = row[4].toDouble();
        EXPECT_GE(row[5].toDouble(), dLevel - 0.01) << row[1].toStdString();
        EXPECT_NEAR(row[6].toDouble(), dLevel, 0.5) << row[1].toStdString();
        if (row[1] == QStringLiteral("4000")) {
            bFound = true;
            EXPECT_NEAR(dLevel, -30.0, 0.3);
            EXPECT_LT(row[5].toDouble(), -29.0);
        }
    }
    EXPECT_TRUE(bFound);
}

TEST_F(BandsTest, TheSavedFileHasARowPerBandWithTheTonesLevelInItsBand) {
    StartWithSine(1000, -12);
    Dlg().Levels().UnitAction(ELevelUnit::Dbfs)->trigger();
    QTest::keyClick(&Dlg(), Qt::Key_B, Qt::ControlModifier);
    WaitForPasses(3);
    QTest::qWait(100);
    SaveShot(&Dlg(), "bands-tone");
    const SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_EQ(csv.Comment(QStringLiteral("Bands")), QStringLiteral("1/3 octave"));
    ASSERT_FALSE(csv.records.isEmpty());
    EXPECT_EQ(csv.records[0], (QStringList{"Band centre (Hz)", "Nominal (Hz)", "Lower edge (Hz)",
                                           "Upper edge (Hz)", "Left level (dBFS)", "Resolved"}));
    // The span, 21.5 Hz to 22.05 kHz, holds the bands of 25 Hz to 16 kHz
    // whole (20 kHz reaches 22.4 kHz).
    ASSERT_EQ(csv.records.size(), 1 + 29);
    EXPECT_EQ(csv.records[1][1], QStringLiteral("25"));
    EXPECT_EQ(csv.records.last()[1], QStringLiteral("16000"));
    bool bFound = false;
    for (const QStringList& row : csv.records.mid(1)) {
        ASSERT_EQ(row.size(), 6);
        EXPECT_LT(row[2].toDouble(), row[0].toDouble());
        EXPECT_GT(row[3].toDouble(), row[0].toDouble());
        // The 160 Hz band is the first three bins wide at this size: twice
        // the noise bandwidth of Hann's window over the whole block.
        EXPECT_EQ(row[5], row[0].toDouble() > 150 ? QStringLiteral("yes") : QStringLiteral("no"));
        if (row[1] == QStringLiteral("1000")) {
            bFound = true;
            EXPECT_NEAR(row[4].toDouble(), -12.0, 0.2);
        } else if (row[0].toDouble() > 1500 || row[0].toDouble() < 700) {
            EXPECT_LT(row[4].toDouble(), -40.0) << row[1].toStdString();
        }
    }
    EXPECT_TRUE(bFound);

    // A band file is no spectrum to compare with: loading it says so and
    // changes nothing.
    m_strOpen = m_strAnswer;
    m_prompts.clear();
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_TRUE(m_prompts[0].strText.contains(QStringLiteral("the file holds octave bands")))
        << m_prompts[0].strText.toStdString();
    EXPECT_EQ(Dlg().Reference().Reference(), nullptr);
}
