#include "ViewTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <thread>
#include <vector>

namespace {

// The view inside a shown window, so that size changes arrive as Qt events.
class BufferTest : public ViewTest {
protected:
    void SetUp() override {
        m_pWindow = std::make_unique<QWidget>();
        m_pWindow->resize(1600, 1000);
        m_pView = std::make_unique<CSpectrumView>(m_pWindow.get());
        m_pView->setGeometry(0, 0, 600, 300);
        m_pWindow->show();
        QCoreApplication::processEvents();
    }
    void TearDown() override {
        m_pView.reset();
        m_pWindow.reset();
    }
    std::unique_ptr<QWidget> m_pWindow;
};

TEST_F(BufferTest, TheBufferGrowsByHalfAgainAndNeverShrinks) {
    EXPECT_EQ(m_pView->m_nBufferWidth.load(), 900);
    EXPECT_EQ(m_pView->m_nBufferHeight.load(), 450);
    const QImage* pBitmap = m_pView->m_pBackImage.get();
    ASSERT_NE(pBitmap, nullptr);
    EXPECT_EQ(pBitmap->size(), QSize(900, 450));

    m_pView->setGeometry(0, 0, 400, 200);
    EXPECT_EQ(m_pView->m_pBackImage.get(), pBitmap);
    EXPECT_EQ(m_pView->m_nWidth.load(), 400);
    EXPECT_EQ(m_pView->m_nPlotBottom.load(), 178);

    m_pView->setGeometry(0, 0, 1000, 300);
    EXPECT_EQ(m_pView->m_pBackImage->size(), QSize(1500, 450));
    m_pView->setGeometry(0, 0, 1000, 460);
    EXPECT_EQ(m_pView->m_pBackImage->size(), QSize(1500, 690));
}

TEST_F(BufferTest, ResizeWhileRunningRedrawsScaleAndFrame) {
    StartRun(44100, 4096, 40, 16000, 1e9);
    m_pView->RenderFrame(2);
    m_pView->setGeometry(0, 0, 800, 400);
    EXPECT_EQ(Back(27, 10), kScaleColour);
    EXPECT_EQ(Back(799, 400 - 22 + 5), kScaleColour);
    EXPECT_EQ(PixelAt(m_pView->FrontImage(), 27, 10), kScaleColour);
    EXPECT_EQ(m_pView->FrontImage().size(), QSize(800, 400));
}

// The scale's ticks under the plot: the device columns of scale colour in a
// row, right of the axis.
std::vector<int> TickColumns(const QImage& img, int y) {
    std::vector<int> xs;
    for (int x = static_cast<int>(28 * img.devicePixelRatio()); x < img.width(); ++x) {
        if (PixelAt(img, x, y) == kScaleColour) {
            xs.push_back(x);
        }
    }
    return xs;
}

TEST_F(BufferTest, ARatioChangeRebuildsTheBufferAndRedrawsTheScale) {
    StartRun(44100, 4096, 40, 16000, 1e9);
    m_pView->RenderFrame(2);
    const QImage before = m_pView->FrontImage();
    const int pb = m_pView->m_nPlotBottom;
    std::vector<int> ticksDoubled;
    for (int x : TickColumns(before, pb + 1)) {
        ticksDoubled.insert(ticksDoubled.end(), {2 * x, 2 * x + 1});
    }

    m_pView->SetDevicePixelRatio(2.0);
    EXPECT_EQ(m_pView->DevicePixelRatio(), 2.0);
    EXPECT_EQ(m_pView->m_nBufferWidth.load(), 900);
    EXPECT_EQ(m_pView->m_pBackImage->size(), QSize(1800, 900));
    EXPECT_EQ(m_pView->m_pBackImage->devicePixelRatio(), 2.0);
    const QImage twice = m_pView->FrontImage();
    ASSERT_EQ(twice.size(), QSize(1200, 600));
    EXPECT_EQ(twice.devicePixelRatio(), 2.0);
    EXPECT_EQ(TickColumns(twice, 2 * (pb + 1)), ticksDoubled);
    EXPECT_EQ(TickColumns(twice, 2 * (pb + 1) + 1), ticksDoubled);
    for (int y = 0; y < 2 * (pb + 5); ++y) {
        ASSERT_EQ(PixelAt(twice, 54, y), kScaleColour) << y;
        ASSERT_EQ(PixelAt(twice, 55, y), kScaleColour) << y;
    }

    m_pView->SetDevicePixelRatio(1.5);
    EXPECT_EQ(m_pView->m_pBackImage->size(), QSize(1350, 675));
    EXPECT_EQ(m_pView->FrontImage().size(), QSize(900, 450));
    m_pView->SetDevicePixelRatio(1.0);
    EXPECT_EQ(m_pView->FrontImage(), before);
}

TEST_F(BufferTest, AViewWithoutAreaDrawsNothingAndDoesNotFault) {
    StartRun(44100, 4096, 40, 16000, 1e9);
    for (QSize size : {QSize(0, 0), QSize(0, 300), QSize(600, 0), QSize(20, 10), QSize(28, 30)}) {
        SCOPED_TRACE(size.width());
        m_pView->setGeometry(0, 0, size.width(), size.height());
        m_pView->m_nCursorX = 40;
        m_pView->m_nCursorY = 5;
        m_pView->DrawScale();
        m_pView->m_nDisplayMode = 1;
        m_pView->RenderFrame(3);
        m_pView->m_nDisplayMode = 2;
        m_pView->RenderFrame(3);
        ASSERT_NE(m_pView->m_pBackImage, nullptr);
        EXPECT_FALSE(m_pView->m_pBackImage->isNull());
    }
}

TEST_F(BufferTest, AFreshViewOfNoSizeHasNoBufferAndDrawsNothing) {
    CSpectrumView view;
    view.resize(0, 0);
    view.UpdateBackBuffer();
    EXPECT_EQ(view.m_pWindowDC, nullptr);
    view.RenderFrame(3);
    view.DrawScale();
    EXPECT_TRUE(view.FrontImage().isNull());
}

// Frames drawn on a second thread while the user-interface thread paints,
// resizes and draws the scale: run under ThreadSanitizer to check the hand-over.
TEST_F(BufferTest, FramesFromAnotherThreadWhileTheWindowPaints) {
    StartRun(44100, 4096, 40, 16000, 1e9, 1e10);
    m_pView->m_bHold = 1;
    m_pView->m_nDisplayMode = 1;
    std::atomic<bool> bDone{false};
    std::atomic<int> nFrames{0};
    std::thread cycle([&] {
        for (int i = 0; i < 300; ++i) {
            {
                auto lock = m_left.LockArrays();
                m_left.m_pPower[10 + i % 100] = 1e12;
            }
            m_left.m_dPeakHz = 400.0 + i;
            m_pView->SetFftsPerCycle(i % 50);
            m_pView->RenderFrame(3);
            nFrames.fetch_add(1);
        }
        bDone = true;
    });
    QElapsedTimer timer;
    timer.start();
    int nStep = 0;
    while (!bDone && timer.elapsed() < 20000) {
        m_pView->m_nCursorX = 100 + nStep % 400;
        m_pView->m_nCursorY = 50;
        m_pView->repaint();
        if (++nStep % 20 == 0) {
            m_pView->setGeometry(0, 0, 600 + nStep % 300, 300 + nStep % 100);
        }
        QCoreApplication::processEvents();
    }
    cycle.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(nFrames.load(), 300);
    EXPECT_EQ(m_pView->m_bFrameBusy.load(), 0);
    EXPECT_EQ(m_pView->m_bScaleBusy.load(), 0);
    m_pView->RenderFrame(3);
    EXPECT_EQ(m_pView->FrontImage().size(), QSize(m_pView->width(), m_pView->height()));
}

} // namespace
