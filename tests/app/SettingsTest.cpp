#include "tests/app/AppTestSupport.h"

using D = CAnalyzerDialog;

namespace {

bool StereoControlsShown(CAnalyzerDialog& dlg) {
    bool bAny = false;
    for (int nId : StereoOnlyGroup())
        bAny = bAny || dlg.Control(nId)->isVisible();
    return bAny;
}

bool StereoControlsAllShown(CAnalyzerDialog& dlg) {
    bool bAll = true;
    for (int nId : StereoOnlyGroup())
        bAll = bAll && dlg.Control(nId)->isVisible();
    return bAll;
}

} // namespace

using SettingsTest = DialogTest;

TEST_F(SettingsTest, StereoShowsAndHidesTheRightOffsetWhileRunning) {
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_FALSE(StereoControlsShown(Dlg()));
    Click(Check(D::IDC_CHECK_STEREO));
    EXPECT_TRUE(StereoControlsAllShown(Dlg()));
    EXPECT_EQ(Dlg().Engine()->m_bStereo.load(), 1);
    Click(Check(D::IDC_CHECK_STEREO));
    EXPECT_FALSE(StereoControlsShown(Dlg()));
    EXPECT_EQ(Dlg().Engine()->m_bStereo.load(), 0);
    ClickStop();
}

// The right channel's controls belong to the running arrangement: a settings
// read while stopped or in compact mode leaves them hidden.
TEST_F(SettingsTest, StereoControlsStayHiddenWhileStoppedAndInCompactMode) {
    ClickStart();
    Click(Check(D::IDC_CHECK_STEREO));
    ClickStop();
    EXPECT_FALSE(StereoControlsShown(Dlg()));
    // A span change re-reads the settings while stopped.
    QTest::keyClick(Spin(D::IDC_SPIN_SPAN_LOW), Qt::Key_Up);
    EXPECT_FALSE(StereoControlsShown(Dlg()));

    ClickStart();
    EXPECT_TRUE(StereoControlsAllShown(Dlg()));
    Dlg().OnToggleCompactMode(); // compact
    Spin(D::IDC_SPIN_SPAN_LOW)->setValue(100);
    EXPECT_EQ(Dlg().Settings().m_nSpanLowHz, 100);
    EXPECT_FALSE(StereoControlsShown(Dlg()));
    Dlg().OnToggleCompactMode(); // normal again
    EXPECT_TRUE(StereoControlsAllShown(Dlg()));
    ClickStop();
}

TEST_F(SettingsTest, ChangesWhileStoppedReachTheViewOnlyAtStart) {
    QTest::keyClick(Spin(D::IDC_SPIN_YSCALE), Qt::Key_Up);
    QTest::keyClick(Spin(D::IDC_SPIN_MIN_X_SPACE), Qt::Key_Up);
    EXPECT_EQ(Dlg().Settings().m_nYScale, 101);
    EXPECT_EQ(Dlg().Settings().m_nMinXSpace, 3);
    EXPECT_EQ(Dlg().View()->m_nYScale.load(), 100);
    EXPECT_EQ(Dlg().View()->m_nMinXSpace.load(), 2);
    ClickStart();
    EXPECT_EQ(Dlg().View()->m_nYScale.load(), 101);
    EXPECT_EQ(Dlg().View()->m_nMinXSpace.load(), 3);
    ClickStop();
}

TEST_F(SettingsTest, ChangesWhileRunningReachEngineChannelsAndView) {
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    CSpectrumView* pView = Dlg().View();

    QTest::keyClick(Spin(D::IDC_SPIN_INERTIA), Qt::Key_Up);
    EXPECT_EQ(pEngine->m_nInertia.load(), 4);
    EXPECT_EQ(pEngine->m_chanLeft.m_nInertia.load(), 4);
    EXPECT_EQ(pEngine->m_chanRight.m_nInertia.load(), 4);

    Click(Check(D::IDC_CHECK_PEAKS));
    EXPECT_EQ(pEngine->m_chanLeft.m_bFastAttack.load(), 1);
    EXPECT_EQ(pEngine->m_chanRight.m_bFastAttack.load(), 1);
    Click(Check(D::IDC_CHECK_PINK_TO_FLAT));
    EXPECT_TRUE(pEngine->m_chanLeft.m_bPinkToFlat.load());
    EXPECT_TRUE(pEngine->m_chanRight.m_bPinkToFlat.load());
    Click(Check(D::IDC_CHECK_PINK_TO_FLAT));
    EXPECT_FALSE(pEngine->m_chanLeft.m_bPinkToFlat.load());

    QTest::keyClick(Spin(D::IDC_SPIN_LENGTH), Qt::Key_Down);
    EXPECT_EQ(pEngine->m_nLengthMs.load(), 92);

    QTest::keyClick(Spin(D::IDC_SPIN_YSCALE), Qt::Key_Up);
    QTest::keyClick(Spin(D::IDC_SPIN_OFFSET), Qt::Key_Down);
    QTest::keyClick(Spin(D::IDC_SPIN_MIN_X_SPACE), Qt::Key_Up);
    EXPECT_EQ(pView->m_nYScale.load(), 101);
    EXPECT_EQ(pView->m_nOffset.load(), 99);
    EXPECT_EQ(pView->m_nMinXSpace.load(), 3);

    QTest::keyClick(Spin(D::IDC_SPIN_SPAN_LOW), Qt::Key_Up);
    QTest::keyClick(Spin(D::IDC_SPIN_SPAN_HIGH), Qt::Key_Down);
    EXPECT_EQ(pEngine->m_nSpanLowHz.load(), 23);
    EXPECT_EQ(pEngine->m_nSpanHighHz.load(), 22049);
    EXPECT_EQ(pView->m_nSpanLowHz.load(), 23);
    EXPECT_EQ(pView->m_nSpanHighHz.load(), 22049);
    ClickStop();
}

// A drag over the display moves the span spins, which bring the new span
// into the dialog, the engine and the view.
TEST_F(SettingsTest, ASpanDragOnTheViewReachesTheEngine) {
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    CSpectrumView* pView = Dlg().View();
    const int y = pView->height() / 2;
    QTest::mousePress(pView, Qt::LeftButton, {}, QPoint(200, y));
    QTest::mouseMove(pView, QPoint(450, y));
    QTest::mouseRelease(pView, Qt::LeftButton, {}, QPoint(450, y));
    const int nLow = Spin(D::IDC_SPIN_SPAN_LOW)->value();
    const int nHigh = Spin(D::IDC_SPIN_SPAN_HIGH)->value();
    EXPECT_GT(nLow, 22);
    EXPECT_LT(nHigh, 22050);
    EXPECT_LT(nLow, nHigh);
    EXPECT_EQ(Dlg().Settings().m_nSpanLowHz, nLow);
    EXPECT_EQ(Dlg().Settings().m_nSpanHighHz, nHigh);
    EXPECT_EQ(pEngine->m_nSpanLowHz.load(), nLow);
    EXPECT_EQ(pEngine->m_nSpanHighHz.load(), nHigh);
    EXPECT_EQ(pView->m_nSpanLowHz.load(), nLow);
    EXPECT_EQ(pView->m_nSpanHighHz.load(), nHigh);
    ClickStop();
}

TEST_F(SettingsTest, SwitchingHoldOnClearsBothChannelsHolds) {
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    auto fillHolds = [pEngine](double dValue) {
        for (CAnalysisChannel* pChannel : {&pEngine->m_chanLeft, &pEngine->m_chanRight}) {
            auto lock = pChannel->LockArrays();
            std::fill(pChannel->m_pHold, pChannel->m_pHold + pChannel->m_nSize, dValue);
        }
    };
    auto holdsAre = [pEngine](double dValue) {
        for (CAnalysisChannel* pChannel : {&pEngine->m_chanLeft, &pEngine->m_chanRight}) {
            auto lock = pChannel->LockArrays();
            for (int i = 0; i < pChannel->m_nSize; ++i) {
                if (pChannel->m_pHold[i] != dValue)
                    return false;
            }
        }
        return true;
    };
    // The scripted ring holds silence, so the cycle never raises a hold.
    fillHolds(1e9);
    Click(Check(D::IDC_CHECK_HOLD));
    EXPECT_EQ(Dlg().View()->m_bHold.load(), 1);
    EXPECT_TRUE(holdsAre(0.0));

    fillHolds(1e9);
    Click(Check(D::IDC_CHECK_HOLD)); // off: nothing is cleared
    EXPECT_EQ(Dlg().View()->m_bHold.load(), 0);
    EXPECT_TRUE(holdsAre(1e9));
    ClickStop();
}

TEST_F(SettingsTest, AWindowFunctionChangeReachesBothChannels) {
    ClickStart();
    CCaptureEngine* pEngine = Dlg().Engine();
    ASSERT_NE(pEngine, nullptr);
    QComboBox* pWindow = List(D::IDC_LIST_WINDOW);
    pWindow->setFocus();
    // From Hanning up to Rectangular, as with the arrow keys.
    QTest::keyClick(pWindow, Qt::Key_Up);
    QTest::keyClick(pWindow, Qt::Key_Up);
    ASSERT_EQ(pWindow->currentText(), QStringLiteral("Rectangular"));
    EXPECT_EQ(Dlg().Settings().m_nWindowType, 0);
    EXPECT_EQ(pEngine->m_nWindowType.load(), 0);
    for (CAnalysisChannel* pChannel : {&pEngine->m_chanLeft, &pEngine->m_chanRight}) {
        EXPECT_EQ(pChannel->m_nWindowType.load(), 0);
        auto lock = pChannel->LockArrays();
        // A Hanning table starts at 0; the rectangular one is 1 throughout.
        EXPECT_EQ(pChannel->m_pWindow[0], 1.0);
        EXPECT_EQ(pChannel->m_pWindow[pChannel->m_nSize / 3], 1.0);
    }
    ClickStop();
}

TEST_F(SettingsTest, AWindowFunctionChangeWhileStoppedWaitsForStart) {
    QComboBox* pWindow = List(D::IDC_LIST_WINDOW);
    pWindow->setCurrentIndex(3);
    emit pWindow->activated(3); // as a person's choice from the list
    EXPECT_EQ(Dlg().Settings().m_nWindowType, 3);
    ClickStart();
    ASSERT_NE(Dlg().Engine(), nullptr);
    EXPECT_EQ(Dlg().Engine()->m_nWindowType.load(), 3);
    ClickStop();
}
