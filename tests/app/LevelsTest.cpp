// Levels in real units through the window: the "?" menu's unit, weighting
// and meter, a tone saved in dBFS, a calibrator's tone measured into dB SPL,
// the checks that refuse a bad measurement, and a microphone's response.

#include <QAction>
#include <QComboBox>
#include <QDate>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>

#include "app/CalibrationDialog.h"
#include "app/CalibrationStore.h"
#include "app/LevelCommands.h"
#include "tests/app/ExportFixture.h"

namespace {

class LevelsTest : public ExportTest {
protected:
    void SetUp() override {
        // Each test begins with no calibration kept.
        QFile::remove(CCalibrationStore::FilePath());
        ExportTest::SetUp();
    }
    CLevelCommands& Levels() { return Dlg().Levels(); }

    void Choose(QAction* pAction) {
        ASSERT_TRUE(pAction->isEnabled()) << pAction->text().toStdString();
        pAction->trigger();
    }
    // Opens "Calibrate…" and presses one of its buttons; the dialog's answer.
    bool Calibrate(QPushButton* (CCalibrationDialog::*button)() const) {
        Levels().CalibrateAction()->trigger();
        CCalibrationDialog* pDialog = Levels().CalibrationDialog();
        EXPECT_NE(pDialog, nullptr);
        if (pDialog == nullptr)
            return false;
        QSignalSpy finished(pDialog, &CCalibrationDialog::Finished);
        (pDialog->*button)()->click();
        EXPECT_TRUE(finished.count() > 0 || finished.wait(CCalibrationDialog::kMeasureMs + 3000));
        m_strStatus = pDialog->StatusLabel()->text();
        pDialog->close(); // as its user does: the main window has the keys again
        Dlg().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&Dlg()));
        return !finished.isEmpty() && finished.first().at(0).toBool();
    }
    double MeterDb(double dOffset) {
        return CLevelScale::Db(Dlg().Engine()->m_chanLeft.m_meter.Figures().dLevel) + dOffset;
    }

    QString m_strStatus;
};

QStringList MenuTexts(const QMenu* pMenu) {
    QStringList texts;
    for (const QAction* pAction : pMenu->actions())
        texts << (pAction->isSeparator() ? QStringLiteral("-") : pAction->text());
    return texts;
}

} // namespace

TEST_F(LevelsTest, TheMenuOffersTheUnitsWhileStoppedAndTheMeterOnlyInOne) {
    const QStringList texts = MenuTexts(Dlg().HelpButton()->menu());
    for (const char* psz : {"Level unit", "Weighting", "Level meter", "Time weighting",
                            "Reset meter", "Calibrate\u2026", "Forget calibration",
                            "Load microphone response\u2026", "Clear microphone response"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(psz))) << psz;
    EXPECT_TRUE(Levels().UnitAction(ELevelUnit::AsDesigned)->isChecked());
    EXPECT_TRUE(Levels().WeightingAction(EWeighting::Z)->isChecked());
    EXPECT_FALSE(Levels().UnitAction(ELevelUnit::DbSpl)->isEnabled()); // no calibration yet
    EXPECT_FALSE(Levels().MeterAction()->isEnabled());

    QTest::keyClick(Dlg().HelpButton(), Qt::Key_D, Qt::ControlModifier);
    EXPECT_TRUE(Levels().UnitAction(ELevelUnit::Dbfs)->isChecked());
    EXPECT_TRUE(Levels().MeterAction()->isChecked()); // on by default in a unit
    QTest::keyClick(Dlg().HelpButton(), Qt::Key_M, Qt::ControlModifier);
    EXPECT_FALSE(Levels().MeterAction()->isChecked());
    EXPECT_EQ(Dlg().View()->LevelSettings().eUnit, ELevelUnit::Dbfs);

    Choose(Levels().UnitAction(ELevelUnit::AsDesigned));
    EXPECT_FALSE(Levels().MeterAction()->isChecked());
    EXPECT_TRUE(Dlg().View()->LevelSettings().IsDesigned());
    Choose(Levels().UnitAction(ELevelUnit::Dbfs));
    EXPECT_FALSE(Levels().MeterAction()->isChecked()); // as the user left it
}

// The same tone reads the same dBFS at every size, in the file as on the plot.
TEST_F(LevelsTest, AToneSavedInDbfsReadsItsLevelAtEverySize) {
    for (const char* pszSize : {"4096", "16384"}) {
        SCOPED_TRACE(pszSize);
        const int nSize = QString::fromLatin1(pszSize).toInt();
        const int nBin = kToneBin * nSize / 4096;
        StartWithSine(kToneBin * 44100.0 / 4096, -20.0, pszSize);
        Choose(Levels().UnitAction(ELevelUnit::Dbfs));
        Click(Check(D::IDC_CHECK_HOLD));
        WaitForPasses(3);
        const SCsv csv = SCsv::Read(SaveCsv());
        ASSERT_EQ(csv.records.size(), 1 + nSize / 2 + 1);
        EXPECT_EQ(csv.records[0].mid(0, 4), QStringList({"Frequency (Hz)", "Left level (dBFS)",
                                                         "Left hold (dBFS)", "Left power"}));
        EXPECT_NEAR(csv.records[nBin + 1][1].toDouble(), -20.0, 0.2);
        EXPECT_NEAR(csv.records[nBin + 1][2].toDouble(), -20.0, 0.2);
        EXPECT_EQ(csv.Comment("Level unit"), "dBFS");
        EXPECT_EQ(csv.Comment("Weighting"), "Z");
        EXPECT_NEAR(csv.Comment("Meter RMS (dBFS)").toDouble(), -20.0, 0.2);
        EXPECT_NEAR(csv.Comment("Meter peak (dBFS)").toDouble(), -20.0, 0.1);
        Click(Check(D::IDC_CHECK_HOLD));
        m_clock.disconnect();
        m_clock.stop();
        ClickStop();
    }
}

TEST_F(LevelsTest, ACalibratorsToneSetsDbSplAndASofterToneReadsItsLevel) {
    StartWithSine(1000.0, -26.0);
    ASSERT_TRUE(Calibrate(&CCalibrationDialog::MeasureButton)) << m_strStatus.toStdString();
    EXPECT_TRUE(m_strStatus.contains(QStringLiteral("Measured -26.0")))
        << m_strStatus.toStdString();
    EXPECT_TRUE(Levels().UnitAction(ELevelUnit::DbSpl)->isChecked());
    const auto stored = CCalibrationStore::Load(QStringLiteral("Scripted device"));
    ASSERT_TRUE(stored.has_value());
    EXPECT_NEAR(stored->dFullScaleDbSpl, 120.0, 0.1);
    EXPECT_EQ(stored->strDate, QDate::currentDate().toString(Qt::ISODate));

    PlaySine(1000.0, -46.0);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::abs(MeterDb(stored->dFullScaleDbSpl) - 74.0) < 0.05; }, 5000))
        << MeterDb(stored->dFullScaleDbSpl);
    Levels().ResetMeterAction()->trigger(); // Leq and maximum of the softer tone alone
    WaitForPasses(5);
    const SCsv csv = SCsv::Read(SaveCsv());
    ASSERT_FALSE(csv.records.isEmpty());
    EXPECT_EQ(csv.records[0][1], QStringLiteral("Left level (dB SPL)"));
    EXPECT_NEAR(csv.Comment("LZF (dB)").toDouble(), 74.0, 0.2);
    EXPECT_NEAR(csv.Comment("LZeq (dB)").toDouble(), 74.0, 0.2);
    EXPECT_NEAR(csv.Comment("LZFmax (dB)").toDouble(), 74.0, 0.2);
    EXPECT_EQ(csv.Comment("Meter gaps (s)"), QStringLiteral("0.0"));
    EXPECT_TRUE(
        csv.Comment("Calibration").contains(QStringLiteral("calibrator 94.0 dB SPL at 1000 Hz")))
        << csv.Comment("Calibration").toStdString();

    // Kept for the device, for the next run of the program, until forgotten.
    Choose(Levels().ForgetAction());
    EXPECT_FALSE(CCalibrationStore::Load(QStringLiteral("Scripted device")).has_value());
    EXPECT_TRUE(Levels().UnitAction(ELevelUnit::Dbfs)->isChecked());
    EXPECT_FALSE(Levels().UnitAction(ELevelUnit::DbSpl)->isEnabled());
}

// The calibration has a window of its own: a clean calibrator passes with
// the rectangular window and a short length too. It calibrates the device and
// microphone response chosen now: one loaded while it measures gives the
// measurement up, and the next takes its correction off.
TEST_F(LevelsTest, TheCalibrationFollowsWhatIsChosenWhateverTheWindow) {
    StartWithSine(1000.0, -26.0, "1024");
    List(D::IDC_LIST_WINDOW)->setCurrentIndex(0);
    Spin(D::IDC_SPIN_LENGTH)->setValue(10);
    ASSERT_TRUE(Calibrate(&CCalibrationDialog::MeasureButton)) << m_strStatus.toStdString();
    auto stored = CCalibrationStore::Load(QStringLiteral("Scripted device"));
    ASSERT_TRUE(stored.has_value());
    EXPECT_NEAR(stored->dFullScaleDbSpl, 120.0, 0.1);

    m_strOpen = m_dir.filePath(QStringLiteral("plus2.txt"));
    QFile file(m_strOpen);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("100\t2,0\n1000\t2,0\n10000\t2,0\n");
    file.close();
    Levels().CalibrateAction()->trigger();
    CCalibrationDialog* pDialog = Levels().CalibrationDialog();
    ASSERT_NE(pDialog, nullptr);
    EXPECT_FALSE(pDialog->MicrophoneLabel()->isVisibleTo(pDialog));
    pDialog->MeasureButton()->click();
    ASSERT_TRUE(pDialog->IsMeasuring());
    Choose(Levels().LoadMicAction());
    EXPECT_FALSE(pDialog->IsMeasuring());
    EXPECT_TRUE(pDialog->StatusLabel()->text().contains(QStringLiteral("changed while measuring")))
        << pDialog->StatusLabel()->text().toStdString();
    EXPECT_TRUE(pDialog->MicrophoneLabel()->text().contains(QStringLiteral("plus2.txt")));
    ASSERT_TRUE(Calibrate(&CCalibrationDialog::MeasureButton)) << m_strStatus.toStdString();
    stored = CCalibrationStore::Load(QStringLiteral("Scripted device"));
    ASSERT_TRUE(stored.has_value());
    EXPECT_NEAR(stored->dFullScaleDbSpl, 122.0, 0.1); // the calibrator reads 94 through it
}

TEST_F(LevelsTest, AMeasurementThatFailsACheckStoresNothingAndSaysWhich) {
    StartWithSine(1000.0, 0.0); // reaches full scale
    EXPECT_FALSE(Calibrate(&CCalibrationDialog::MeasureButton));
    EXPECT_TRUE(m_strStatus.contains(QStringLiteral("full scale"))) << m_strStatus.toStdString();
    PlaySine(1100.0, -26.0);
    EXPECT_FALSE(Calibrate(&CCalibrationDialog::MeasureButton));
    EXPECT_TRUE(m_strStatus.contains(QStringLiteral("5 % away"))) << m_strStatus.toStdString();
    EXPECT_FALSE(CCalibrationStore::Load(QStringLiteral("Scripted device")).has_value());
    EXPECT_FALSE(Levels().UnitAction(ELevelUnit::DbSpl)->isEnabled());
}

TEST_F(LevelsTest, AMeterReadingSetsTheCalibrationThroughItsWeighting) {
    StartWithSine(1000.0, -30.0);
    Levels().CalibrateAction()->trigger();
    CCalibrationDialog* pDialog = Levels().CalibrationDialog();
    ASSERT_NE(pDialog, nullptr);
    pDialog->MeterSpin()->setValue(80.0);
    pDialog->MeterWeightingList()->setCurrentIndex(0); // A: 0 dB at 1 kHz
    ASSERT_TRUE(Calibrate(&CCalibrationDialog::SetFromMeterButton)) << m_strStatus.toStdString();
    const auto stored = CCalibrationStore::Load(QStringLiteral("Scripted device"));
    ASSERT_TRUE(stored.has_value());
    EXPECT_NEAR(stored->dFullScaleDbSpl, 110.0, 0.2);
    EXPECT_TRUE(stored->strHow.startsWith(QStringLiteral("meter reading 80.0 dB(A) SPL")));
}

// A calibration belongs to its device: another falls back to dBFS, once.
TEST_F(LevelsTest, ADeviceWithoutCalibrationFallsBackToDbfsAndSaysSo) {
    SStoredCalibration calibration;
    calibration.bCalibrated = true;
    calibration.dFullScaleDbSpl = 110.0;
    ASSERT_TRUE(CCalibrationStore::Save(QStringLiteral("Scripted device"), calibration));
    List(D::IDC_LIST_DEVICE)->setCurrentIndex(kBuiltIn);
    List(D::IDC_LIST_DEVICE)->setCurrentIndex(kScripted);
    Choose(Levels().UnitAction(ELevelUnit::DbSpl));
    EXPECT_EQ(Dlg().View()->LevelSettings().dFullScaleDbSpl, 110.0);

    List(D::IDC_LIST_DEVICE)->setCurrentIndex(kBuiltIn);
    EXPECT_TRUE(Levels().UnitAction(ELevelUnit::Dbfs)->isChecked());
    EXPECT_FALSE(Levels().UnitAction(ELevelUnit::DbSpl)->isEnabled());
    EXPECT_TRUE(QString::fromStdString(Dlg().View()->Notice()).startsWith("No calibration for"));
    Dlg().View()->ShowNotice("", 0);
    List(D::IDC_LIST_DEVICE)->setCurrentIndex(kScripted);
    List(D::IDC_LIST_DEVICE)->setCurrentIndex(kBuiltIn);
    EXPECT_EQ(Dlg().View()->Notice(), ""); // dBFS was chosen by then: nothing to say
}

// A calibrations.ini edited by hand or by another program cannot put a level
// that is none into the picture: it is left out, and said.
TEST_F(LevelsTest, AStoredCalibrationThatIsNoPlausibleLevelIsLeftOutAndSaid) {
    for (const char* pszBad : {"nan", "inf", "1e300", "50"}) {
        SCOPED_TRACE(pszBad);
        QFile::remove(CCalibrationStore::FilePath());
        {
            QSettings settings(CCalibrationStore::FilePath(), QSettings::IniFormat);
            settings.beginGroup(QStringLiteral("device-Scripted%20device"));
            settings.setValue(QStringLiteral("fullScaleDbSpl"), QString::fromLatin1(pszBad));
            settings.setValue(QStringLiteral("microphone"),
                              QStringLiteral("mic1;m.txt;;20:nan;1000:0"));
        }
        List(D::IDC_LIST_DEVICE)->setCurrentIndex(kBuiltIn);
        List(D::IDC_LIST_DEVICE)->setCurrentIndex(kScripted);
        EXPECT_FALSE(Levels().UnitAction(ELevelUnit::DbSpl)->isEnabled());
        EXPECT_FALSE(Levels().Calibration().bCalibrated);
        EXPECT_EQ(Levels().Calibration().pMic, nullptr);
        const QString strNotice = QString::fromStdString(Dlg().View()->Notice());
        EXPECT_TRUE(strNotice.startsWith(QStringLiteral("Left out for Scripted device: its "
                                                        "calibration (") +
                                         QString::fromLatin1(pszBad)))
            << strNotice.toStdString();
        EXPECT_TRUE(strNotice.contains(QStringLiteral("microphone response")))
            << strNotice.toStdString();
    }
}

TEST_F(LevelsTest, AMicrophoneFileIsKeptWithTheDeviceAndABadOneChangesNothing) {
    List(D::IDC_LIST_DEVICE)->setCurrentIndex(kScripted);
    m_strOpen = m_dir.filePath(QStringLiteral("mic.txt"));
    QFile file(m_strOpen);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("\"Sens Factor =-.7dB, SERNO: 1\"\n20 2.0\n1000 0\n20000 -3\n");
    file.close();
    Choose(Levels().LoadMicAction());
    EXPECT_TRUE(m_prompts.empty());
    auto stored = CCalibrationStore::Load(QStringLiteral("Scripted device"));
    ASSERT_TRUE(stored.has_value() && stored->pMic != nullptr);
    EXPECT_EQ(stored->pMic->m_aPoints.size(), 3u);
    EXPECT_EQ(stored->pMic->m_strFileName, "mic.txt");

    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("20 2.0\n1000 0\n500 1\n");
    file.close();
    Choose(Levels().LoadMicAction());
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_TRUE(m_prompts[0].strText.contains(QStringLiteral("Reading stopped at line 3: ")))
        << m_prompts[0].strText.toStdString();
    stored = CCalibrationStore::Load(QStringLiteral("Scripted device"));
    ASSERT_TRUE(stored.has_value() && stored->pMic != nullptr);
    EXPECT_EQ(stored->pMic->m_aPoints.size(), 3u); // the one before stays

    Choose(Levels().ClearMicAction());
    EXPECT_FALSE(CCalibrationStore::Load(QStringLiteral("Scripted device")).has_value());
}
