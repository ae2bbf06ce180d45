#include "ViewTestSupport.h"

#include <QMouseEvent>
#include <QSpinBox>
#include <QTest>

namespace {

// Stands in for the dialog: counts the view's requests for compact mode,
// which it hears, as the dialog does, through a queued connection.
class CDialogStandIn : public QWidget {
public:
    int m_nRequests = 0;
};

// The view inside a window with the two span spins; like the dialog, a spin
// change is brought back into the view's span at once.
class GestureTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_pView = new CSpectrumView(&m_window);
        m_pView->setGeometry(0, 0, 600, 300);
        m_window.resize(600, 300);
        for (QSpinBox* pSpin : {&m_spinLow, &m_spinHigh}) {
            pSpin->setRange(0, 30000);
        }
        m_pView->m_pSpinSpanLow = &m_spinLow;
        m_pView->m_pSpinSpanHigh = &m_spinHigh;
        m_pView->m_pDialog = &m_dialog;
        QObject::connect(
            m_pView, &CSpectrumView::CompactModeRequested, &m_dialog,
            [this] { ++m_dialog.m_nRequests; }, Qt::QueuedConnection);
        QObject::connect(&m_spinLow, &QSpinBox::valueChanged, [this](int n) {
            m_pView->m_nSpanLowHz = n;
            ++m_nSpinChanges;
        });
        QObject::connect(&m_spinHigh, &QSpinBox::valueChanged, [this](int n) {
            m_pView->m_nSpanHighHz = n;
            ++m_nSpinChanges;
        });
        m_window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_window));
        m_pView->UpdateBackBuffer();
    }
    void StartRun(int nLowHz, int nHighHz) {
        m_pView->m_nSampleRate = 44100;
        m_pView->m_nFftSize = 4096;
        SetSpan(nLowHz, nHighHz);
    }
    // Puts span and spins at given edges without counting it as a gesture.
    void SetSpan(int nLowHz, int nHighHz) {
        m_spinLow.setValue(nLowHz);
        m_spinHigh.setValue(nHighHz);
        m_pView->m_nSpanLowHz = nLowHz;
        m_pView->m_nSpanHighHz = nHighHz;
        m_nSpinChanges = 0;
    }
    SExpectedGeometry Geometry() const {
        return ExpectedGeometry(44100, 4096, m_pView->m_nSpanLowHz, m_pView->m_nSpanHighHz, 600);
    }
    void Drag(int x0, int x1) {
        QTest::mousePress(m_pView, Qt::LeftButton, {}, QPoint(x0, 100));
        QTest::mouseRelease(m_pView, Qt::LeftButton, {}, QPoint(x1, 100));
    }
    // The order in which a double-click arrives.
    void DoubleClick(Qt::MouseButton button, int x) {
        QTest::mousePress(m_pView, button, {}, QPoint(x, 100));
        QTest::mouseRelease(m_pView, button, {}, QPoint(x, 100));
        QTest::mouseDClick(m_pView, button, {}, QPoint(x, 100));
        QTest::mouseRelease(m_pView, button, {}, QPoint(x, 100));
    }

    QWidget m_window;
    CSpectrumView* m_pView = nullptr;
    QSpinBox m_spinLow;
    QSpinBox m_spinHigh;
    CDialogStandIn m_dialog;
    int m_nSpinChanges = 0;
};

TEST_F(GestureTest, DragSetsTheSpanInEitherDirection) {
    StartRun(40, 16000);
    const SExpectedGeometry g = Geometry();
    const int nLow = g.HzAt(100);
    const int nHigh = g.HzAt(400);
    ASSERT_GT(nLow, 40);
    Drag(100, 400);
    EXPECT_EQ(m_spinLow.value(), nLow);
    EXPECT_EQ(m_spinHigh.value(), nHigh);

    SetSpan(40, 16000);
    Drag(400, 100);
    EXPECT_EQ(m_spinLow.value(), nLow);
    EXPECT_EQ(m_spinHigh.value(), nHigh);
}

TEST_F(GestureTest, NarrowSpansAreRefused) {
    StartRun(1300, 1600);
    const SExpectedGeometry g = Geometry();
    const int x1400 = g.ColumnOfHz(1400, 600);
    const int x1401 = g.ColumnOfHz(1401, 600);
    const int x1500 = g.ColumnOfHz(1500, 600);
    ASSERT_GE(x1400, 0);
    ASSERT_GE(x1401, 0);
    ASSERT_GE(x1500, 0);
    Drag(x1401, x1500); // (99 * 30) / 1500 = 1
    EXPECT_EQ(m_nSpinChanges, 0);
    EXPECT_EQ(m_spinLow.value(), 1300);
    Drag(x1400, x1500); // (100 * 30) / 1500 = 2
    EXPECT_EQ(m_spinLow.value(), 1400);
    EXPECT_EQ(m_spinHigh.value(), 1500);
}

TEST_F(GestureTest, AClickAtFortyHertzGivesTheSixBinFloor) {
    StartRun(22, 22050);
    const int x40 = Geometry().ColumnOfHz(40, 600);
    ASSERT_GE(x40, 0);
    Drag(x40, x40);
    EXPECT_EQ(m_spinLow.value(), 40);
    EXPECT_EQ(m_spinHigh.value(), 65);
}

TEST_F(GestureTest, AClickAboveTheFloorSendsNothing) {
    StartRun(40, 16000);
    Drag(300, 300);
    EXPECT_EQ(m_nSpinChanges, 0);
    EXPECT_EQ(m_spinLow.value(), 40);
    EXPECT_EQ(m_spinHigh.value(), 16000);
}

TEST_F(GestureTest, RightClickZoomsOutAnOctaveEachSide) {
    StartRun(1000, 4000);
    QTest::mouseClick(m_pView, Qt::RightButton, {}, QPoint(300, 100));
    EXPECT_EQ(m_spinLow.value(), 500);
    EXPECT_EQ(m_spinHigh.value(), 8000);
}

TEST_F(GestureTest, ZoomOutAtTheFloorsSendsTheSameEdgesAgain) {
    StartRun(22, 22050);
    {
        // Markers, so that the values sent show; the span stays at the floors.
        const QSignalBlocker blockLow(m_spinLow);
        const QSignalBlocker blockHigh(m_spinHigh);
        m_spinLow.setValue(100);
        m_spinHigh.setValue(200);
    }
    QTest::mouseClick(m_pView, Qt::RightButton, {}, QPoint(300, 100));
    EXPECT_EQ(m_spinLow.value(), 22);
    EXPECT_EQ(m_spinHigh.value(), 22050);
}

TEST_F(GestureTest, LeftDoubleClickCyclesTheDisplayMode) {
    StartRun(40, 16000);
    const int anModes[] = {1, 2, 0, 1};
    for (int nMode : anModes) {
        DoubleClick(Qt::LeftButton, 300);
        EXPECT_EQ(m_pView->m_nDisplayMode.load(), nMode);
    }
    EXPECT_EQ(m_nSpinChanges, 0);
}

TEST_F(GestureTest, RightDoubleClickZoomsTwiceAndAsksForCompactModeOnce) {
    StartRun(1000, 4000);
    DoubleClick(Qt::RightButton, 300);
    EXPECT_EQ(m_spinLow.value(), 250);
    EXPECT_EQ(m_spinHigh.value(), 16000);
    EXPECT_EQ(m_dialog.m_nRequests, 0); // posted, not called
    QCoreApplication::processEvents();
    EXPECT_EQ(m_dialog.m_nRequests, 1);
}

TEST_F(GestureTest, PressInsideAndReleaseOutsideChangesNothing) {
    StartRun(40, 16000);
    QTest::mousePress(m_pView, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseRelease(m_pView, Qt::LeftButton, {}, QPoint(700, 100));
    QTest::mousePress(m_pView, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseRelease(m_pView, Qt::LeftButton, {}, QPoint(400, 320));
    EXPECT_EQ(m_nSpinChanges, 0);
}

TEST_F(GestureTest, PointerMovesSetTheCursorAndResizeHidesIt) {
    StartRun(40, 16000);
    QMouseEvent move(QEvent::MouseMove, QPointF(123, 45), m_pView->mapToGlobal(QPointF(123, 45)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_pView, &move);
    EXPECT_EQ(m_pView->m_nCursorX.load(), 123);
    EXPECT_EQ(m_pView->m_nCursorY.load(), 45);
    m_pView->resize(500, 250);
    EXPECT_EQ(m_pView->m_nCursorX.load(), -10);
}

TEST_F(GestureTest, BeforeTheFirstRunGesturesDoNothing) {
    m_spinLow.setValue(123);
    m_spinHigh.setValue(456);
    m_nSpinChanges = 0;
    Drag(100, 400);
    QTest::mouseClick(m_pView, Qt::RightButton, {}, QPoint(300, 100));
    DoubleClick(Qt::LeftButton, 50);
    EXPECT_EQ(m_nSpinChanges, 0);
    EXPECT_EQ(m_spinLow.value(), 123);
}

TEST_F(GestureTest, ANarrowViewSendsNothingAndDoesNotFault) {
    StartRun(40, 16000);
    m_pView->setGeometry(0, 0, 20, 300);
    Drag(5, 15);
    QTest::mouseClick(m_pView, Qt::RightButton, {}, QPoint(10, 100));
    EXPECT_EQ(m_spinHigh.value(), 22050); // only the zoom-out, which needs no axis
}

} // namespace
