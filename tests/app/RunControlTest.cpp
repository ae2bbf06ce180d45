#include <QElapsedTimer>
#include <QKeyEvent>

#include <future>
#include <thread>

#include "devices/PortAudioSession.h"
#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

using RunControlTest = DialogTest;

TEST_F(RunControlTest, StartOpensTheSelectedDeviceAndShowsTheRunningArrangement) {
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    EXPECT_TRUE(m_prompts.empty());
    // Entry 1, the scripted device, was opened by its identifier.
    EXPECT_EQ(m_devices.pGood->m_nOpens.load(), 1);
    ASSERT_NE(m_devices.pGood->LastBuffer(), nullptr);
    EXPECT_EQ(m_devices.pGood->LastBuffer()->m_nStarts.load(), 1);
    EXPECT_NE(pEngine->m_pTimer, nullptr);
    EXPECT_EQ(pEngine->m_pView.load(), Dlg().View());
    // The view is bound to the engine's channels.
    EXPECT_EQ(Dlg().View()->m_pLeftChannel.load(), &pEngine->m_chanLeft);
    EXPECT_EQ(Dlg().View()->m_pRightChannel.load(), &pEngine->m_chanRight);
    for (int nId : SetupGroup())
        EXPECT_FALSE(Ctl(nId)->isVisible()) << nId;
    const std::vector<int> stereoOnly = StereoOnlyGroup();
    for (int nId : AnalysisGroup()) {
        const bool bStereoOnly = std::count(stereoOnly.begin(), stereoOnly.end(), nId) != 0;
        EXPECT_EQ(Ctl(nId)->isVisible(), !bStereoOnly) << nId;
    }
    EXPECT_TRUE(Dlg().HelpButton()->isVisible());
    ClickStop();
}

TEST_F(RunControlTest, StartAtDefaultsSetsTheRangesOfTheSetup) {
    ChooseSetup(kScripted, "44100 Hz", "4096");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->minimum(), 22);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->maximum(), 22050);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->value(), 22);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->minimum(), 65);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->maximum(), 22050);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 22050);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->maximum(), 93);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->value(), 93);
    ClickStop();
}

TEST_F(RunControlTest, StartAt8000With16384Samples) {
    ChooseSetup(kScripted, "8000 Hz", "16384");
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->minimum(), 1);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->maximum(), 4000);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->value(), 1);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->minimum(), 3);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->maximum(), 4000);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 4000);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->minimum(), 1);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->maximum(), 2048);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->value(), 2048);
    // The engine, the view and the ring got the set-up.
    EXPECT_EQ(pEngine->m_nSampleRate.load(), 8000);
    EXPECT_EQ(pEngine->m_nFftSize.load(), 16384);
    EXPECT_EQ(pEngine->m_nSpanLowHz.load(), 1);
    EXPECT_EQ(pEngine->m_nSpanHighHz.load(), 4000);
    EXPECT_EQ(pEngine->m_nLengthMs.load(), 2048);
    EXPECT_EQ(Dlg().View()->m_nSampleRate.load(), 8000);
    EXPECT_EQ(Dlg().View()->m_nFftSize.load(), 16384);
    EXPECT_EQ(Dlg().View()->m_nSpanLowHz.load(), 1);
    EXPECT_EQ(Dlg().View()->m_nSpanHighHz.load(), 4000);
    EXPECT_EQ(m_devices.pGood->LastBuffer()->m_wfx.nSamplesPerSec, 8000u);
    ClickStop();
}

TEST_F(RunControlTest, StartAt44100With1024Samples) {
    ChooseSetup(kScripted, "44100 Hz", "1024");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->minimum(), 86);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->value(), 86);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->minimum(), 258);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 22050);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->maximum(), 23);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->value(), 23);
    EXPECT_EQ(Dlg().Engine()->m_nLengthMs.load(), 23);
    ClickStop();
}

// The rates above 44100 Hz take their ranges from the same rule.
TEST_F(RunControlTest, StartAt96000With1024SamplesAnd48000With16384) {
    ChooseSetup(kScripted, "96000 Hz", "1024");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().Engine()->m_nSampleRate.load(), 96000);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->minimum(), 188);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->minimum(), 563);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->maximum(), 48000);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 48000);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->maximum(), 11);
    EXPECT_EQ(m_devices.pGood->LastBuffer()->m_wfx.nSamplesPerSec, 96000u);
    EXPECT_EQ(Dlg().View()->m_nSampleRate, 96000);
    ClickStop();

    ChooseSetup(kScripted, "48000 Hz", "16384");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->value(), 6);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->minimum(), 18);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 24000);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->value(), 341);
    EXPECT_EQ(Dlg().Engine()->m_nLengthMs.load(), 341);
    ClickStop();
}

// Stop, another rate and size, Start: span and length follow the new set-up;
// everything else keeps its value and reaches the new engine.
TEST_F(RunControlTest, ValuesSurviveAStopAndAStartWithAnotherRate) {
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    QTest::keyClick(Spin(D::IDC_SPIN_INERTIA), Qt::Key_Up);     // 4
    QTest::keyClick(Spin(D::IDC_SPIN_YSCALE), Qt::Key_Down);    // 99
    QTest::keyClick(Spin(D::IDC_SPIN_OFFSET), Qt::Key_Up);      // 101
    QTest::keyClick(Spin(D::IDC_SPIN_MIN_X_SPACE), Qt::Key_Up); // 3
    Click(Check(D::IDC_CHECK_STEREO));
    QTest::keyClick(Spin(D::IDC_SPIN_OFFSET_RIGHT), Qt::Key_Down); // 99
    Click(Check(D::IDC_CHECK_PEAKS));
    Click(Check(D::IDC_CHECK_PINK_TO_FLAT));
    Click(Check(D::IDC_CHECK_HOLD));
    QComboBox* pWindow = List(D::IDC_LIST_WINDOW);
    pWindow->setFocus();
    QTest::keyClick(pWindow, Qt::Key_Down); // Hamming
    ClickStop();
    ASSERT_EQ(Dlg().Engine(), nullptr);

    ChooseSetup(kScripted, "22050 Hz", "2048");
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_LOW)->value(), 22); // 2 * 22050 / 2048 = 21.5
    EXPECT_EQ(Spin(D::IDC_SPIN_SPAN_HIGH)->value(), 11025);
    EXPECT_EQ(Spin(D::IDC_SPIN_LENGTH)->value(), 93); // 1000 * 2048 / 22050 = 92.9
    EXPECT_EQ(pEngine->m_nSampleRate.load(), 22050);
    EXPECT_EQ(pEngine->m_nFftSize.load(), 2048);
    EXPECT_EQ(pEngine->m_nInertia.load(), 4);
    EXPECT_EQ(pEngine->m_chanLeft.m_nInertia.load(), 4);
    EXPECT_EQ(pEngine->m_chanRight.m_nInertia.load(), 4);
    EXPECT_EQ(pEngine->m_chanLeft.m_bFastAttack.load(), 1);
    EXPECT_EQ(pEngine->m_chanRight.m_bFastAttack.load(), 1);
    EXPECT_TRUE(pEngine->m_chanLeft.m_bPinkToFlat.load());
    EXPECT_TRUE(pEngine->m_chanRight.m_bPinkToFlat.load());
    EXPECT_EQ(pEngine->m_bStereo.load(), 1);
    EXPECT_EQ(pEngine->m_nWindowType.load(), 3);
    EXPECT_EQ(pEngine->m_chanLeft.m_nWindowType.load(), 3);
    EXPECT_EQ(pEngine->m_chanRight.m_nWindowType.load(), 3);
    CSpectrumView* pView = Dlg().View();
    EXPECT_EQ(pView->m_nYScale.load(), 99);
    EXPECT_EQ(pView->m_nOffset.load(), 101);
    EXPECT_EQ(pView->m_nOffsetRight.load(), 99);
    EXPECT_EQ(pView->m_nMinXSpace.load(), 3);
    EXPECT_EQ(pView->m_bHold.load(), 1);
    EXPECT_EQ(pView->m_nSampleRate.load(), 22050);
    // Still stereo: the right offset is shown again.
    EXPECT_TRUE(Ctl(D::IDC_SPIN_OFFSET_RIGHT)->isVisible());
    ClickStop();
}

TEST_F(RunControlTest, StopReturnsToTheSetupAndTheIdleView) {
    const QStringList threadsBefore = Threads();
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    QTest::qWait(700); // at least one acquisition cycle
    ClickStop();
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().View()->m_pLeftChannel.load(), nullptr);
    EXPECT_EQ(Dlg().View()->m_pRightChannel.load(), nullptr);
    EXPECT_EQ(m_devices.pGood->LastBuffer()->m_nStops.load(), 1);
    for (int nId : SetupGroup())
        EXPECT_TRUE(Ctl(nId)->isVisible()) << nId;
    for (int nId : AnalysisGroup())
        EXPECT_FALSE(Ctl(nId)->isVisible()) << nId;
    EXPECT_TRUE(NoThreadLeftSince(threadsBefore));
    // Stop while stopped changes nothing.
    Dlg().OnStop();
    EXPECT_TRUE(Ctl(D::IDC_START)->isVisible());
}

TEST_F(RunControlTest, TheBuiltInSignalRunsAndStops) {
    ChooseSetup(kBuiltIn, "44100 Hz", "4096");
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    QTest::qWait(1400);
    EXPECT_TRUE(m_prompts.empty());
    ClickStop();
    EXPECT_EQ(Dlg().Engine(), nullptr);
}

TEST_F(RunControlTest, ADeviceThatFailsToOpenOrStartSaysSorryAndStaysStopped) {
    ChooseSetup(kBroken, "44100 Hz", "4096");
    ClickStart();
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(m_prompts[0].strText,
              QStringLiteral("Sorry!\nBut I couldn't open the capture device.\n"
                             "The device is busy or has been removed."));
    EXPECT_EQ(m_prompts[0].strCaption, QCoreApplication::applicationName());
    EXPECT_EQ(m_prompts[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().View()->m_pLeftChannel.load(), nullptr);
    for (int nId : SetupGroup())
        EXPECT_TRUE(Ctl(nId)->isVisible()) << nId;
    for (int nId : AnalysisGroup())
        EXPECT_FALSE(Ctl(nId)->isVisible()) << nId;

    // A device that opens but will not start its stream is no better.
    m_devices.pGood->m_nBufferStartResult = kCaptureErrBusy;
    List(D::IDC_LIST_DEVICE)->setCurrentIndex(kScripted);
    ClickStart();
    ASSERT_EQ(m_prompts.size(), 2u);
    EXPECT_EQ(m_prompts[1].strText, m_prompts[0].strText);
    EXPECT_EQ(Dlg().View()->m_pLeftChannel.load(), nullptr);

    // Ready for another Start.
    m_devices.pGood->m_nBufferStartResult = 0;
    ClickStart();
    EXPECT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(m_prompts.size(), 2u);
    ClickStop();
}

TEST_F(RunControlTest, StartWhileRunningSaysHelloAndChangesNothing) {
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    Dlg().OnStart(); // the button is hidden: Alt+S or a script is the only way
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(
        m_prompts[0].strText,
        QStringLiteral("Hello?\nYou are already up and running, please stop before you start."));
    EXPECT_EQ(m_prompts[0].strCaption, QCoreApplication::applicationName());
    EXPECT_EQ(Dlg().Engine(), pEngine);
    EXPECT_EQ(m_devices.pGood->m_nOpens.load(), 1);
    ClickStop();
}

TEST_F(RunControlTest, ChoosingThePrimaryEntryOpensTheDefaultInput) {
    // The primary entry carries no identifier: the default input opens, and
    // the scripted devices are left alone.
    ChooseSetup(kPrimary, "44100 Hz", "4096");
    ClickStart();
    EXPECT_EQ(m_devices.pGood->m_nOpens.load(), 0);
    EXPECT_EQ(m_devices.pBroken->m_nOpens.load(), 0);
    Dlg().OnStop();
}

// Start on the primary entry while the devices are being probed (the list is
// on its way) says so within the user's wait, and opens no stand-in.
TEST_F(RunControlTest, StartWhileTheDevicesAreProbedSaysSoAndOpensNoStandIn) {
    setenv("PULSE_SERVER", "unix:/nonexistent/vemra/native", 1); // no server answers here
    std::promise<void> probing, probed;
    std::thread prober([&] {
        std::lock_guard probe(CPortAudioSession::Lock());
        probing.set_value();
        probed.get_future().wait();
    });
    probing.get_future().wait();
    ChooseSetup(kPrimary, "44100 Hz", "4096");
    QElapsedTimer timer;
    timer.start();
    ClickStart();
    EXPECT_LT(timer.elapsed(), 1000);
    probed.set_value();
    prober.join();
    ASSERT_EQ(m_prompts.size(), 1u);
    EXPECT_EQ(m_prompts[0].strText,
              QStringLiteral("Sorry!\nBut I couldn't open the capture device.\n"
                             "The sound system is still looking for devices."));
    EXPECT_EQ(Dlg().Engine(), nullptr);
}

TEST_F(RunControlTest, AnEmptySelectionOpensTheDefaultInput) {
    List(D::IDC_LIST_DEVICE)->setCurrentIndex(-1);
    ClickStart();
    EXPECT_EQ(m_devices.pGood->m_nOpens.load(), 0);
    Dlg().OnStop();
}

TEST_F(RunControlTest, EnterDoesNothing) {
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    for (QWidget* pFocus : {Ctl(D::IDC_STOP), Ctl(D::IDC_SPIN_YSCALE), Ctl(D::IDC_CHECK_HOLD)}) {
        pFocus->setFocus();
        QTest::keyClick(pFocus, Qt::Key_Return);
        QTest::keyClick(pFocus, Qt::Key_Enter);
    }
    EXPECT_TRUE(Dlg().isVisible());
    EXPECT_NE(Dlg().Engine(), nullptr);
    EXPECT_FALSE(Check(D::IDC_CHECK_HOLD)->isChecked());
    ClickStop();
    Ctl(D::IDC_START)->setFocus();
    QTest::keyClick(Ctl(D::IDC_START), Qt::Key_Return);
    EXPECT_TRUE(Dlg().isVisible());
    EXPECT_EQ(Dlg().Engine(), nullptr);
}

TEST_F(RunControlTest, EscWhileRunningStopsTheCaptureAndEndsTheDialog) {
    const QStringList threadsBefore = Threads();
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    QTest::qWait(700);
    QTest::keyClick(Ctl(D::IDC_SPIN_YSCALE), Qt::Key_Escape);
    EXPECT_FALSE(Dlg().isVisible());
    EXPECT_EQ(Dlg().result(), QDialog::Rejected);
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(m_devices.pGood->LastBuffer()->m_nStops.load(), 1);
    EXPECT_TRUE(NoThreadLeftSince(threadsBefore));
}

TEST_F(RunControlTest, ClosingWhileRunningStopsTheCaptureFirst) {
    const QStringList threadsBefore = Threads();
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    QTest::qWait(700);
    EXPECT_TRUE(Dlg().close());
    EXPECT_FALSE(Dlg().isVisible());
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().View()->m_pLeftChannel.load(), nullptr);
    EXPECT_TRUE(NoThreadLeftSince(threadsBefore));
}

// The modal run of the program: the dialog's modal loop ends when the window
// is closed, with the capture stopped and no thread left behind.
TEST_F(RunControlTest, TheProgramsRunEndsWhenTheWindowCloses) {
    m_pDialog.reset();
    const int nThreadsBefore = ThreadCount();
    {
        CAnalyzerDialog dlg(m_desktop);
        bool bWasRunning = false;
        QTimer::singleShot(100, &dlg, [&] {
            // A main window, not a modal dialog.
            EXPECT_FALSE(dlg.isModal());
            EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return !dlg.Devices().IsLookingForDevices(); }, 5000));
            qobject_cast<QPushButton*>(dlg.Control(D::IDC_START))->click();
            bWasRunning = dlg.Engine() != nullptr;
            QTimer::singleShot(700, &dlg, [&] { dlg.close(); });
        });
        CSpectrumApp::RunMainWindow(dlg);
        EXPECT_TRUE(bWasRunning);
        EXPECT_EQ(dlg.Engine(), nullptr);
    }
    // The timer's thread and the device list's are gone with the dialog (the
    // count before may still have held the previous dialog's ending one).
    EXPECT_TRUE(QTest::qWaitFor([&] { return ThreadCount() <= nThreadsBefore; }, 1000))
        << ThreadCount() << " threads, " << nThreadsBefore << " before";
}

// The group holding the focus is hidden by Start and by Stop: the focus goes
// to the button that undoes it, so that Space never opens the help menu.
TEST_F(RunControlTest, FocusGoesToStopAfterStartAndToStartAfterStop) {
    QTest::keyClick(List(D::IDC_LIST_DEVICE), Qt::Key_Tab);
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().focusWidget(), Ctl(D::IDC_STOP));
    QTest::keyClick(Dlg().focusWidget(), Qt::Key_Space);
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().focusWidget(), Ctl(D::IDC_START));
    QTest::keyClick(Dlg().focusWidget(), Qt::Key_Space);
    EXPECT_NE(Dlg().Engine(), nullptr);
    ClickStop();

    // A Start that fails leaves the focus on Start too.
    ChooseSetup(kBroken, "44100 Hz", "4096");
    ClickStart();
    EXPECT_EQ(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().focusWidget(), Ctl(D::IDC_START));
}
