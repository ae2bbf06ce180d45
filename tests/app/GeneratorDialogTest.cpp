// The signal generator through the window: "Signal generator…" opens its
// panel, which plays into a private server's default output, a null sink
// whose monitor is the analyser's default input. What the analyser then reads
// is what the generator was asked for. Without a server, the panel says why
// it cannot play.

#include <QDoubleSpinBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>

#include <numeric>

#include "app/BandCommands.h"
#include "app/GeneratorPanel.h"
#include "app/LevelCommands.h"
#include "tests/app/ExportFixture.h"
#include "tests/devices/OnEachServer.h"

namespace {

class GeneratorTestBase : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ASSERT_TRUE(m_dir.isValid());
        SetSaveFileHook(
            [this](const QString&, const QString&, const QString&) { return m_strAnswer; });
    }
    void TearDown() override {
        SetSaveFileHook(nullptr);
        DialogTest::TearDown();
    }

    CGeneratorPanel& OpenPanel() {
        QTest::keyClick(&Dlg(), Qt::Key_N, Qt::ControlModifier);
        EXPECT_NE(Dlg().Generator(), nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(Dlg().Generator()));
        return *Dlg().Generator();
    }
    static void Choose(QComboBox* pList, const QString& strText) {
        const int nIndex = pList->findText(strText);
        ASSERT_GE(nIndex, 0) << strText.toStdString();
        pList->setCurrentIndex(nIndex);
        emit pList->activated(nIndex);
    }
    QString Status() { return Dlg().Generator()->StatusLabel()->text(); }
    QString SaveCsv() {
        m_strAnswer = m_dir.filePath(QStringLiteral("generator.csv"));
        Dlg().Export().SaveSpectrumAction()->trigger();
        return m_strAnswer;
    }

    QTemporaryDir m_dir;
    QString m_strAnswer;
};

class GeneratorDialogTest : public GeneratorTestBase,
                            public ::testing::WithParamInterface<std::tuple<ESoundServer>> {
protected:
    void SetUp() override {
        m_pServer = MakeServer(std::get<0>(GetParam()));
        ASSERT_TRUE(m_pServer->HasFolder());
        ASSERT_TRUE(m_pServer->Start()) << m_pServer->Log();
        m_desktop.pfnEnumerateDevices = CaptureEnumerate;
        GeneratorTestBase::SetUp();
    }

    // The analyser on the default input (the generator's sink's monitor) at
    // 48 kHz with 16384 points, in dBFS: the generator plays at that rate.
    void ChooseRun() {
        ChooseSetup(kPrimary, QStringLiteral("48000 Hz"), QStringLiteral("16384"));
        Dlg().Levels().UnitAction(ELevelUnit::Dbfs)->trigger();
    }
    // Starts it, its bars averaging over many passes.
    void StartAnalyser() {
        ClickStart();
        ASSERT_NE(Dlg().Engine(), nullptr);
        Spin(D::IDC_SPIN_INERTIA)->setValue(60);
    }
    // Alt+P, the Play button's own key, in the panel's window.
    void Play(CGeneratorPanel& panel) {
        panel.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
        QTest::keyClick(&panel, Qt::Key_P, Qt::AltModifier);
        // The button's own key presses it after a short animation.
        ASSERT_TRUE(QTest::qWaitFor([&] { return panel.IsPlaying(); }, 1000))
            << Status().toStdString();
    }

    std::unique_ptr<CPrivateSoundServer> m_pServer;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(OnEachServer, GeneratorDialogTest, ::testing::Combine(kEachServer),
                         SServerName());

// Pink noise at -20 dBFS reads -20 dBFS on the meter, and lies flat in
// third-octave bands; the file says what played.
TEST_P(GeneratorDialogTest, PinkNoiseReadsItsLevelAndLiesFlatInThirdOctaves) {
    ChooseRun();
    Dlg().Bands().Action(3)->trigger();
    CGeneratorPanel& panel = OpenPanel();
    EXPECT_EQ(panel.OutputList()->itemText(0),
              QString::fromLatin1(CPrivateSoundServer::kSinkDescription));
    EXPECT_EQ(panel.SignalList()->currentText(), QStringLiteral("Pink noise"));
    EXPECT_EQ(panel.LevelSpin()->value(), -20.0);
    Play(panel);
    EXPECT_TRUE(Status().startsWith(QStringLiteral("Playing at 48000 Hz")))
        << Status().toStdString();
    SaveShot(&panel, "generator_panel");
    StartAnalyser();
    // Pink noise's power lies low, where a second holds few cycles: its
    // level is read as the meter's Leq over some seconds, the bands' once
    // their averages have settled.
    QTest::qWait(1000);
    Dlg().Engine()->m_chanLeft.m_meter.Reset();
    QTest::qWait(6000);
    EXPECT_NEAR(10.0 * std::log10(Dlg().Engine()->m_chanLeft.m_meter.Figures().dLeq), -20.0, 0.5);

    const SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_EQ(csv.Comment(QStringLiteral("Generator")),
              QStringLiteral("Pink noise, -20.0 dBFS RMS, Both"));
    std::vector<std::pair<double, double>> bands; // nominal Hz, left level
    for (const QStringList& row : csv.records.mid(1))
        if (const double dHz = row[1].toDouble(); dHz >= 200.0 && dHz <= 10000.0)
            bands.emplace_back(dHz, row[4].toDouble());
    ASSERT_EQ(bands.size(), 18u);
    const double dMean =
        std::accumulate(bands.begin(), bands.end(), 0.0,
                        [](double d, const auto& band) { return d + band.second; }) /
        double(bands.size());
    double dWorst = 0.0;
    for (const auto& [dHz, dDb] : bands) {
        EXPECT_NEAR(dDb, dMean, 1.5) << dHz << " Hz";
        dWorst = std::max(dWorst, std::abs(dDb - dMean));
    }
    std::printf("[ figures  ] Leq %.2f dBFS, bands 200 Hz-10 kHz within %.2f dB of their mean\n",
                10.0 * std::log10(Dlg().Engine()->m_chanLeft.m_meter.Figures().dLeq), dWorst);
    panel.OnStop();
}

// A 1 kHz sine is read as 1000.0 Hz; Stop fades it out and the panel is
// back to stopped, the file no longer naming the generator.
TEST_P(GeneratorDialogTest, ASineReadsItsFrequencyAndStopEndsIt) {
    ChooseRun();
    StartAnalyser();
    CGeneratorPanel& panel = OpenPanel();
    Choose(panel.SignalList(), QStringLiteral("Sine"));
    EXPECT_TRUE(panel.FrequencySpin()->isVisible());
    EXPECT_EQ(panel.FrequencySpin()->value(), 1000.0);
    EXPECT_EQ(panel.LevelSpin()->maximum(), 0.0);
    Play(panel);
    ASSERT_TRUE(QTest::qWaitFor(
        [this] { return std::abs(Dlg().Engine()->m_chanLeft.m_dPeakHz.load() - 1000.0) < 0.05; },
        5000))
        << Dlg().Engine()->m_chanLeft.m_dPeakHz.load();
    const SCsv csv = SCsv::Read(SaveCsv());
    EXPECT_EQ(csv.Comment(QStringLiteral("Generator")),
              QStringLiteral("Sine, -20.0 dBFS RMS, Both"));
    EXPECT_EQ(csv.Comment(QStringLiteral("Generator frequency (Hz)")), QStringLiteral("1000.0"));

    Click(panel.StopButton());
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel.PlayButton()->isEnabled(); }, 500));
    EXPECT_EQ(Status(), QStringLiteral("Stopped."));
    EXPECT_EQ(SCsv::Read(SaveCsv()).Comment(QStringLiteral("Generator")), QStringLiteral("<none>"));
}

// The server killed under the generator: the panel apologises within a
// second and can play again once the server is back.
TEST_P(GeneratorDialogTest, AServerKilledWhilePlayingIsSaidAndNothingHangs) {
    CGeneratorPanel& panel = OpenPanel();
    Play(panel);
    QTest::qWait(200);
    m_pServer->Stop(SIGKILL);
    QElapsedTimer timer;
    timer.start();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Status().startsWith(QStringLiteral("Sorry!")); }, 3000));
    EXPECT_LT(timer.elapsed(), 1000);
    EXPECT_EQ(Status(), QStringLiteral("Sorry!\nBut the output went away: the sound server ended "
                                       "or the device was removed."));
    EXPECT_TRUE(panel.PlayButton()->isEnabled());
    EXPECT_FALSE(panel.StopButton()->isEnabled());
    timer.restart();
    Dlg().close();
    EXPECT_LT(timer.elapsed(), 500);
}

// Without a sound server or a sound card there is nothing to play through,
// and a server output that has gone is said in the panel.
class GeneratorWithoutServerTest : public GeneratorTestBase {};

TEST_F(GeneratorWithoutServerTest, ThePanelSaysWhyItCannotPlay) {
    QStringList texts;
    for (const QAction* pAction : Dlg().HelpButton()->menu()->actions())
        texts << pAction->text();
    EXPECT_TRUE(texts.contains(QStringLiteral("Signal generator\u2026")));
    CGeneratorPanel panel(
        &Dlg(),
        [] {
            return std::pair{44100, 4096};
        },
        [] {
            return std::vector<SPlaybackOutput>{
                {SPlaybackOutput::EKind::Server, "vemra_gone", "Gone"}};
        });
    panel.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
    EXPECT_EQ(panel.LevelSpin()->maximum(), CSignalGenerator::kMaxNoiseLevelDbfs);
    EXPECT_FALSE(panel.FrequencySpin()->isVisible());
    QTest::mouseClick(panel.PlayButton(), Qt::LeftButton);
    EXPECT_FALSE(panel.IsPlaying());
    EXPECT_EQ(panel.StatusLabel()->text(),
              QStringLiteral("Sorry!\nBut I couldn't open the output.\nThe sound server is not "
                             "running."));
    EXPECT_TRUE(panel.FileComments().empty());
    EXPECT_TRUE(m_prompts.empty()) << "the panel, not a message box, says it";
}
