// The transfer-function mode through the window: a system made by hand on
// the scripted device (pink noise on the left, the same noise through a
// peaking equaliser and 220 samples later on the right), the delay found,
// and the estimate in the saved file against the equaliser's own response.

#include <QAction>
#include <QMenu>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

#include "app/ReferenceCommands.h"
#include "app/TransferCommands.h"
#include "capture/CaptureEngine.h"
#include "tests/app/ExportFixture.h"
#include "tests/app/TestSignals.h"
#include "view/SpectrumView.h"

namespace {

constexpr int kDelay = 220;

class TransferTest : public ExportTest {
protected:
    CTransferCommands& Transfer() { return Dlg().Transfer(); }
    CSpectrumView& View() { return *Dlg().View(); }

    // The left channel plays the noise, the right the system's output.
    void PlaySystem(const std::vector<double>& adLeft, const std::vector<double>& adRight) {
        m_pRing->Fill([&](uint32_t i) { return int16_t(std::lround(adLeft[i % kRingFrames])); },
                      [&](uint32_t i) { return int16_t(std::lround(adRight[i % kRingFrames])); });
    }
    // The row of the saved transfer function nearest dHz.
    static QStringList RowAt(const SCsv& csv, double dHz) {
        QStringList best;
        double dBest = 1e9;
        for (const QStringList& row : csv.records.mid(1)) {
            if (std::abs(row[0].toDouble() - dHz) < dBest) {
                dBest = std::abs(row[0].toDouble() - dHz);
                best = row;
            }
        }
        return best;
    }
};

} // namespace

TEST_F(TransferTest, TheMenuOffersTheModeAndItsSettings) {
    QStringList texts;
    for (const QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << pAction->text();
    for (const char* psz :
         {"Transfer function", "Reference channel", "Averaging", "Smoothing", "Coherence threshold",
          "Find delay", "Delay\u2026", "Clear delay", "Save as FRD\u2026"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(psz))) << psz;
    EXPECT_EQ(Transfer().ModeAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+T")));
    EXPECT_EQ(Transfer().FindDelayAction()->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
    EXPECT_FALSE(Transfer().IsOn());
    EXPECT_FALSE(Transfer().IsReferenceRight());
    EXPECT_EQ(Transfer().AveragingSeconds(), 2.0);
    EXPECT_EQ(Transfer().Smoothing(), 24);
    EXPECT_EQ(Transfer().Threshold(), 0.3);
    // Usable while stopped; Find delay needs a run.
    QTest::keyClick(&Dlg(), Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(Transfer().IsOn());
    EXPECT_TRUE(View().IsTransferMode());
    EXPECT_FALSE(Transfer().FindDelayAction()->isEnabled());
}

// Find delay gives the system's 220 samples; then the estimate reads the
// equaliser's magnitude within 0.5 dB and its phase within 10 degrees, with
// a coherence of at least 0.95 over the band, in the saved file.
TEST_F(TransferTest, ASystemMadeByHandReadsItsOwnResponse) {
    StartWithSine(1000, -200);
    const std::vector<double> adNoise = PinkRing(32768.0 * std::pow(10.0, -20.0 / 20));
    const SPeakingEq eq = SPeakingEq::Of(1000.0, 6.0, SPeakingEq::QOfOctaves(1.0));
    std::vector<double> adOut = eq.Filter(adNoise);
    std::rotate(adOut.rbegin(), adOut.rbegin() + kDelay, adOut.rend()); // 220 samples later
    PlaySystem(adNoise, adOut);
    Transfer().AveragingAction(0.0)->trigger(); // Infinite
    QTest::keyClick(&Dlg(), Qt::Key_T, Qt::ControlModifier);
    ASSERT_TRUE(Dlg().Engine()->m_bTransfer.load());
    WaitForPasses(3);
    ASSERT_TRUE(Transfer().FindDelayAction()->isEnabled());
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transfer().DelayMs() != 0.0; }, 5000))
        << View().Notice();
    EXPECT_EQ(Dlg().Engine()->m_nDelaySamples.load(), kDelay);
    EXPECT_NEAR(Transfer().DelayMs(), kDelay * 1000.0 / 44100, 1e-9);
    EXPECT_EQ(View().Notice(), "Delay 4.99 ms");
    WaitForPasses(80);
    SaveShot(&Dlg(), "transfer");

    const SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_EQ(csv.Comment(QStringLiteral("Transfer function")), QStringLiteral("on"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Reference channel")), QStringLiteral("Left"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Delay (ms)")), QStringLiteral("4.99"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Averaging")), QStringLiteral("Infinite"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Smoothing")), QStringLiteral("1/24 octave"));
    ASSERT_EQ(csv.records[0],
              (QStringList{"Frequency (Hz)", "Magnitude (dB)", "Phase (deg)", "Coherence"}));
    EXPECT_EQ(csv.records.size(), 1 + 4096 / 2);
    for (double dHz : {250.0, 1000.0, 4000.0}) {
        const QStringList row = RowAt(csv, dHz);
        const std::complex<double> h = eq.Response(row[0].toDouble());
        EXPECT_NEAR(row[1].toDouble(), 20 * std::log10(std::abs(h)), 0.5) << dHz;
        EXPECT_NEAR(row[2].toDouble(), std::arg(h) * 180 / std::numbers::pi, 10.0) << dHz;
    }
    double dLowest = 1.0;
    for (const QStringList& row : csv.records.mid(1)) {
        const double dHz = row[0].toDouble();
        if (dHz >= 200 && dHz <= 10000)
            dLowest = std::min(dLowest, row[3].toDouble());
    }
    EXPECT_GE(dLowest, 0.95);

    // Kept, the transfer function is the trace to compare with.
    Dlg().Reference().KeepAction()->trigger();
    CTransferFunction::SResults kept;
    ASSERT_TRUE(View().KeptTransfer(kept));
    EXPECT_NEAR(kept.adMagnitudeDb[1000 * 4096 / 44100], RowAt(csv, 990)[1].toDouble(), 0.5);

    // With the right channel as the reference the system runs backwards:
    // the delay is negative and the equaliser a notch.
    Transfer().ReferenceAction(true)->trigger();
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Transfer().DelayMs() < 0.0; }, 5000))
        << View().Notice();
    EXPECT_EQ(Dlg().Engine()->m_nDelaySamples.load(), -kDelay);
    WaitForPasses(40);
    const SCsv backwards = SCsv::Read(SaveCsv(QStringLiteral("backwards.csv")));
    EXPECT_EQ(backwards.Comment(QStringLiteral("Reference channel")), QStringLiteral("Right"));
    const QStringList row = RowAt(backwards, 1000.0);
    EXPECT_NEAR(row[1].toDouble(), -20 * std::log10(std::abs(eq.Response(row[0].toDouble()))), 0.5);

    // The same as FRD: a line per bin above the threshold, '*' comments.
    m_strAnswer = m_dir.filePath(QStringLiteral("system.frd"));
    Dlg().Export().SaveFrdAction()->trigger();
    QFile frd(m_strAnswer);
    ASSERT_TRUE(frd.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(frd.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 1000);
    EXPECT_TRUE(lines[0].startsWith(u'*'));
    const QStringList first =
        lines.filter(QRegularExpression(QStringLiteral("^[0-9]"))).first().split(u' ');
    EXPECT_EQ(first.size(), 3);
}

// Without a signal on either channel, nothing is found and nothing changes;
// the file's cells stay empty rather than reading NaN or infinity.
TEST_F(TransferTest, NoSignalFindsNoDelayAndLeavesEmptyCells) {
    StartWithSine(1000, -200);
    QTest::keyClick(&Dlg(), Qt::Key_T, Qt::ControlModifier);
    WaitForPasses(3);
    QTest::keyClick(Ctl(D::IDC_STOP), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !View().Notice().empty(); }, 5000));
    EXPECT_NE(View().Notice().find("No signal"), std::string::npos) << View().Notice();
    EXPECT_EQ(Transfer().DelayMs(), 0.0);
    WaitForPasses(2);
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_EQ(csv.records.size(), 1 + 4096 / 2);
    for (const QStringList& row : csv.records.mid(1)) {
        ASSERT_EQ(row.size(), 4);
        EXPECT_EQ(row.mid(1), (QStringList{"", "", ""})) << row.join(u',').toStdString();
    }
}
