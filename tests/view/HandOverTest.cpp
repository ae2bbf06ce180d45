// The hand-over of finished frames to the window and the frame thread that
// draws them: frames take turns in the buffers without copying the picture, a
// paint shows only whole frames, at most once per screen refresh, a presented
// frame is painted or the pacing recovers, and the passes never wait for the
// frames. Built on its own to run under the sanitizers.
#include "ViewTestSupport.h"

#include "view/NoteTable.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPixmap>
#include <QScreen>
#include <QTest>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <set>
#include <thread>
#include <vector>

namespace {

class HandOverTest : public ViewTest {
protected:
    void SetPower(double dPower) {
        auto lock = m_left.LockArrays();
        std::fill_n(m_left.m_pPower, 4096, dPower);
    }
    // A frame without the axis column, which frames leave alone: a note name
    // of the overlay may spill into it and stay there until the scale is drawn.
    static QImage Settled(const QImage& frame) {
        QImage img = frame.convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < img.height(); ++y)
            img.setPixel(27, y, 0);
        return img;
    }
    QImage Strip() const {
        return m_pView->FrontImage().copy(0, m_pView->m_nPlotBottom + 1, 600, 21);
    }
};

// Spectra that change from frame to frame: a few bars that rise, fall and
// move over an empty plot, hold levels above them.
void SetChangingSpectrum(CAnalysisChannel& chan, int i) {
    auto lock = chan.LockArrays();
    const int nPeak = 20 + i * 397 % 1500;
    for (int b = 0; b < chan.m_nSize; ++b) {
        const bool bPeak = b >= nPeak && b < nPeak + 8;
        chan.m_pPower[b] = bPeak ? 1e13 / (1 + i % 4) / (1 + b - nPeak) : 0.0;
        chan.m_pHold[b] = chan.m_pPower[b] * (2 + i % 2);
    }
}

// A frame drawn over an earlier one of the same layout, where only what
// changes is filled anew, is the picture a frame drawn afresh would be.
TEST_F(HandOverTest, AFrameDrawnOverAnEarlierOneIsTheOneDrawnAfresh) {
    StartRun(44100, 4096, 40, 16000);
    CSpectrumView fresh;
    for (CSpectrumView* pView : {m_pView.get(), &fresh}) {
        pView->resize(m_pView->size());
        pView->UpdateBackBuffer();
        pView->m_nSpanLowHz = 40;
        pView->m_nSpanHighHz = 16000;
        pView->m_nMinXSpace = 0;
        pView->m_bHold = 1;
        pView->SetFftsPerCycle(25);
        pView->m_nCursorY = 100;
    }
    fresh.BindChannels(&m_left, &m_right, 4096, 44100);
    for (int i = 0; i < 12; ++i) {
        SetChangingSpectrum(m_left, i);
        SetChangingSpectrum(m_right, i + 1);
        const int nFlags = i % 5 == 4 ? 3 : 2;
        for (CSpectrumView* pView : {m_pView.get(), &fresh})
            pView->m_nCursorX = i % 3 == 0 ? 10 : 60 + 45 * i;
        m_pView->RenderFrame(nFlags);
        fresh.DrawScale(); // every buffer's picture is then old: drawn afresh
        fresh.RenderFrame(nFlags);
        ASSERT_TRUE(m_pView->FrontImage() == fresh.FrontImage()) << "frame " << i;
    }
    fresh.BindChannels(nullptr, nullptr, 0, 0);
}

TEST_F(HandOverTest, EachFrameIsDrawnInABufferOtherThanThePresentedOne) {
    StartRun(44100, 4096, 40, 16000, 1e11, 1e12);
    m_pView->m_bHold = 1;
    m_pView->RenderFrame(2);
    const QImage first = m_pView->FrontImage();
    const QImage* pBackBuffer = m_pView->m_pBackImage.get();
    const uchar* pPresented = pBackBuffer->constBits();
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        m_pView->RenderFrame(2);
        EXPECT_NE(m_pView->m_pBackImage->constBits(), pPresented);
        pPresented = m_pView->m_pBackImage->constBits();
        // Whichever buffer it is drawn in, the frame shows the same picture.
        ASSERT_EQ(m_pView->FrontImage(), first);
    }
    EXPECT_EQ(m_pView->m_pBackImage.get(), pBackBuffer);
    // A frame that draws nothing shows the presented picture again.
    m_pView->RenderFrame(0);
    EXPECT_EQ(m_pView->m_pBackImage->constBits(), pPresented);
}

TEST_F(HandOverTest, TheScaleIsInEveryBufferAndTheShownPictureWaitsForAFrame) {
    StartRun(44100, 4096, 40, 16000, 1e11);
    m_pView->RenderFrame(2);
    const QImage shown = m_pView->FrontImage();
    const QImage oldStrip = Strip();
    m_pView->m_nSpanLowHz = 200;
    m_pView->DrawScale();
    EXPECT_EQ(m_pView->FrontImage(), shown);
    m_pView->RenderFrame(2);
    const QImage newStrip = Strip();
    ASSERT_NE(newStrip, oldStrip);
    for (int i = 0; i < 4; ++i) {
        SetPower(1e9 * (i + 2));
        m_pView->RenderFrame(2);
        ASSERT_EQ(Strip(), newStrip) << i;
    }
}

// Frames of two alternating spectra drawn on a second thread while this
// thread paints: every painted picture is one of the two, never a mixture.
TEST_F(HandOverTest, PaintsShowOnlyWholeFramesWhileFramesArrive) {
    Resize(784, 405);
    StartRun(44100, 4096, 40, 16000);
    m_pView->SetFftsPerCycle(25);
    QImage aPicture[2];
    for (int i = 0; i < 2; ++i) {
        SetPower(i == 0 ? 1e12 : 1e8);
        m_pView->RenderFrame(2);
        aPicture[i] = m_pView->FrontImage().convertToFormat(QImage::Format_RGB32);
    }
    ASSERT_NE(aPicture[0], aPicture[1]);
    std::atomic<bool> bDone{false};
    std::thread cycle([&] {
        for (int i = 0; !bDone; ++i) {
            SetPower(i % 2 == 0 ? 1e12 : 1e8);
            m_pView->RenderFrame(2);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (int nPaint = 0; nPaint < 30; ++nPaint) {
        const QImage painted = m_pView->grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(painted == aPicture[0] || painted == aPicture[1]) << nPaint;
        QCoreApplication::processEvents();
    }
    bDone = true;
    cycle.join();
}

// A double-click (display mode) and mouse moves (cursor) while frames are
// drawn on another thread: every frame is of one mode and one cursor, never
// one mode's overlay over another's bars, nor a cursor line in the margin.
TEST_F(HandOverTest, SettingsChangedDuringFramesGiveFramesOfOneSetting) {
    Resize(784, 405);
    StartRun(44100, 4096, 40, 16000, 1e11, 1e12);
    m_pView->SetFftsPerCycle(25);
    m_left.m_dPeakHz = 440.0;
    const int aCursorX[] = {400, 10};
    std::vector<QImage> pictures;
    for (int nMode = 0; nMode < 3; ++nMode)
        for (int nCursorX : aCursorX) {
            m_pView->m_nDisplayMode = nMode;
            m_pView->m_nCursorX = nCursorX;
            m_pView->m_nCursorY = 100;
            for (int i = 0; i < 6; ++i) // the peak readout is written every fifth frame
                m_pView->RenderFrame(2);
            pictures.push_back(Settled(m_pView->FrontImage()));
        }
    // A hundred frames, however slow the build, while the settings change.
    constexpr int kFrames = 100;
    std::atomic<int> nFrames{0};
    std::atomic<int> nMixed{0};
    std::thread cycle([&] {
        for (; nFrames < kFrames; ++nFrames) {
            m_pView->RenderFrame(2);
            const QImage frame = Settled(m_pView->FrontImage());
            if (std::find(pictures.begin(), pictures.end(), frame) == pictures.end())
                ++nMixed;
        }
    });
    uint32_t nNoise = 12345;
    while (nFrames < kFrames) {
        nNoise = nNoise * 1664525u + 1013904223u;
        m_pView->m_nDisplayMode = static_cast<int>(nNoise >> 16) % 3;
        m_pView->m_nCursorX = aCursorX[(nNoise >> 8) & 1];
        std::this_thread::yield();
    }
    cycle.join();
    EXPECT_EQ(nMixed.load(), 0) << "of " << kFrames << " frames";
}

// A paint engine that, while the view's paint reads its picture, has more
// frames drawn, as the frame thread may do. It notes which pixels the paint
// read and the frames wrote, and whether the read ones changed meanwhile.
class CSlowReader : public QPaintEngine {
public:
    // With every feature, so that the painter hands images over as they are.
    CSlowReader(CSpectrumView& view, std::function<void()> fnFrame)
        : QPaintEngine(AllFeatures), m_view(view), m_fnFrame(fnFrame) {}
    bool begin(QPaintDevice*) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState&) override {}
    void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
    void drawPolygon(const QPointF*, int, PolygonDrawMode) override {}
    Type type() const override { return QPaintEngine::User; }
    void drawImage(const QRectF&, const QImage& img, const QRectF&,
                   Qt::ImageConversionFlags) override {
        const QImage before = img.copy();
        m_pixels.insert(img.constBits());
        for (int i = 0; i < 3; ++i) {
            m_fnFrame();
            m_pixels.insert(m_view.m_pBackImage->constBits());
            m_nWrittenWhileRead += m_view.m_pBackImage->constBits() == img.constBits() ? 1 : 0;
        }
        m_nChanged += img == before ? 0 : 1;
        ++m_nRead;
    }
    std::set<const uchar*> m_pixels;
    int m_nRead = 0;
    int m_nWrittenWhileRead = 0;
    int m_nChanged = 0;

private:
    CSpectrumView& m_view;
    std::function<void()> m_fnFrame;
};

class CSlowDevice : public QPaintDevice {
public:
    CSlowDevice(QSize size, CSlowReader* pEngine) : m_size(size), m_pEngine(pEngine) {}
    QPaintEngine* paintEngine() const override { return m_pEngine; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return m_size.width();
        case PdmHeight:
            return m_size.height();
        case PdmDepth:
            return 32;
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return 96;
        case PdmDevicePixelRatioScaled:
            return static_cast<int>(devicePixelRatioFScale());
        default:
            return 1;
        }
    }

private:
    QSize m_size;
    CSlowReader* m_pEngine;
};

// The pixels a paint reads are left alone by the frames drawn meanwhile, and
// no frame makes a copy of them (a shared picture written to would be copied
// first): three buffers take all the turns.
TEST_F(HandOverTest, FramesDrawnWhileAPaintReadsThePictureUseOtherBuffers) {
    StartRun(44100, 4096, 40, 16000);
    int nFrame = 0;
    CSlowReader reader(*m_pView, [&] {
        SetPower(++nFrame % 2 == 0 ? 1e12 : 1e8);
        m_pView->RenderFrame(2);
    });
    CSlowDevice device(m_pView->size(), &reader);
    for (int nPaint = 0; nPaint < 4; ++nPaint) {
        SetPower(1e10);
        m_pView->RenderFrame(2);
        m_pView->render(&device);
    }
    EXPECT_EQ(reader.m_nRead, 4);
    EXPECT_EQ(nFrame, 12);
    EXPECT_EQ(reader.m_nWrittenWhileRead, 0);
    EXPECT_EQ(reader.m_nChanged, 0);
    EXPECT_EQ(reader.m_pixels.size(), 3u);
}

// Counts the paints and the queued calls that ask for them; swallows the
// paints instead while told to.
class CPaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::Paint && m_bSwallowPaints)
            return true;
        m_nPaints += pEvent->type() == QEvent::Paint ? 1 : 0;
        m_nRequests += pEvent->type() == QEvent::MetaCall ? 1 : 0;
        return false;
    }
    int m_nPaints = 0;
    int m_nRequests = 0;
    bool m_bSwallowPaints = false;
};

// Passes as the acquisition cycle makes them, on a thread of their own: each
// one a new spectrum, told to the view, whose frame thread draws a frame of it
// when the window wants one. Counts the passes and the frames presented.
class CPasses {
public:
    CPasses(CSpectrumView& view, std::function<void(int)> fnSpectrum, int nFlags = 2)
        : m_view(view), m_nFirstFrame(view.PresentedFrames()),
          m_thread([this, &view, fnSpectrum, nFlags] {
              for (int i = 0; !m_bDone; ++i) {
                  fnSpectrum(i);
                  view.NewArrays(nFlags);
                  ++m_nPasses;
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~CPasses() { Stop(); }
    void Stop() {
        m_bDone = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    int Frames() const { return m_view.PresentedFrames() - m_nFirstFrame; }
    std::atomic<int> m_nPasses{0};

private:
    CSpectrumView& m_view;
    const int m_nFirstFrame;
    std::atomic<bool> m_bDone{false};
    std::thread m_thread;
};

void HandleEventsUntil(const std::function<bool()>& fnDone) {
    while (!fnDone())
        QCoreApplication::processEvents();
}

TEST_F(HandOverTest, TheWindowIsPaintedAtMostOncePerRefreshAndGetsNoFrameItDoesNotPaint) {
    StartRun(44100, 4096, 40, 16000, 1e10);
    m_pView->show();
    QCoreApplication::processEvents();
    CPaintCounter counter;
    m_pView->installEventFilter(&counter);
    // The requests for a paint go to the view's hand-over.
    QObject* pHandOver = m_pView->findChild<CFrameHandOver*>();
    ASSERT_NE(pHandOver, nullptr);
    pHandOver->installEventFilter(&counter);
    QElapsedTimer timer;
    timer.start();
    CPasses passes(*m_pView, [this](int i) { SetPower(1e8 * (1 + i % 50)); });
    // This thread comes to its events every few passes, as a busy window
    // does: a frame wanted while one waits for its paint would be drawn on
    // every pass meanwhile, several times as many frames as paints.
    HandleEventsUntil([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
        return timer.elapsed() >= 500;
    });
    passes.Stop();
    const double dRefreshes = timer.elapsed() * m_pView->screen()->refreshRate() / 1000.0;
    QCoreApplication::processEvents();
    m_pView->removeEventFilter(&counter);
    pHandOver->removeEventFilter(&counter);
    EXPECT_GE(passes.Frames(), 2);
    EXPECT_LE(counter.m_nPaints, dRefreshes + 2);
    // Every frame but one still on its way has been painted.
    EXPECT_LE(passes.Frames(), counter.m_nPaints + 1) << "of " << passes.m_nPasses << " passes";
    // A request is posted only while none is outstanding.
    EXPECT_LE(counter.m_nRequests, counter.m_nPaints + 1);
}

// Counts the lines the frame pacing logs when it has to recover, while it
// lives; they may come from the frame thread.
class CPacingLog {
public:
    CPacingLog() : m_pfnPrevious(qInstallMessageHandler(&Handle)) { s_nLines = 0; }
    ~CPacingLog() { qInstallMessageHandler(m_pfnPrevious); }
    int Lines() const { return s_nLines; }

private:
    static void Handle(QtMsgType, const QMessageLogContext& context, const QString&) {
        if (context.category != nullptr && std::strcmp(context.category, "vemra.view.pacing") == 0)
            ++s_nLines;
    }
    static inline std::atomic<int> s_nLines{0};
    QtMessageHandler m_pfnPrevious;
};

class PacingTest : public HandOverTest {
protected:
    double RefreshMs() const { return 1000.0 / m_pView->screen()->refreshRate(); }
    // The paints of the shown window while passes draw frames for nRefreshes
    // screen refreshes after its first paint, and on until there are three
    // of them, for a few seconds at most. fnDuring runs on each turn of the
    // event loop meanwhile; it may return from which paint on they count
    // (the first by default), and the count goes on until three such came.
    int PaintsOver(int nRefreshes, CPaintCounter& counter, const std::function<int()>& fnDuring,
                   int nPointerX = -1) {
        m_pView->show();
        m_pView->installEventFilter(&counter);
        CPasses passes(*m_pView, [this](int i) { SetPower(1e8 * (1 + i % 50)); });
        QElapsedTimer timer;
        timer.start();
        HandleEventsUntil([&] { return counter.m_nPaints > 0 || timer.elapsed() > 2000; });
        const int nFirst = counter.m_nPaints;
        // Showing the window resized it, which hides the cursor readout
        // until the pointer moves.
        if (nPointerX >= 0)
            QTest::mouseMove(m_pView.get(), QPoint(nPointerX, 100));
        // A slow (sanitizer) build gets up to five seconds for three paints.
        timer.restart();
        HandleEventsUntil([&] {
            const int nCountFrom = std::max(nFirst, fnDuring());
            return timer.elapsed() >= nRefreshes * RefreshMs() &&
                   (counter.m_nPaints - nCountFrom >= 3 || timer.elapsed() >= 5000);
        });
        passes.Stop();
        m_pView->removeEventFilter(&counter);
        m_pView->hide();
        QCoreApplication::processEvents();
        return counter.m_nPaints - nFirst;
    }
    int PaintsOver(
        int nRefreshes, CPaintCounter& counter, const std::function<void()>& fnDuring = [] {},
        int nPointerX = -1) {
        return PaintsOver(nRefreshes, counter, std::function<int()>([&] {
                              fnDuring();
                              return 0;
                          }),
                          nPointerX);
    }
};

// Whatever a frame draws at or past the plot's right edge (a text or a dot
// that the window cannot show), the window keeps being painted, and without
// the pacing having to recover: each paint covers only what can be painted.
TEST_F(PacingTest, FramesKeepBeingPaintedWhateverIsDrawnAtTheRightEdge) {
    struct SCase {
        const char* pszName;
        std::function<void()> fnSetUp;
        int nPointerFromRight = -1; // where the pointer rests, if anywhere
    };
    const QSize smallest = m_pView->MinimumPictureSize(false);
    const auto running = [this] {
        Resize(784, 405);
        StartRun(44100, 4096, 40, 16000, 1e10);
    };
    const SCase aCases[] = {
        {"pointer on the last column", running, 0},
        {"pointer on the last column but one", running, 1},
        {"pointer on the last column but two", running, 2},
        {"pointer on the first column", running, 783},
        {"notice in the narrowest compact window",
         [&] {
             Resize(smallest.width(), smallest.height());
             StartRun(44100, 4096, 40, 16000, 1e10);
             m_pView->ShowNotice("This desktop does not keep windows on top of the others: "
                                 "compact mode stays below them.",
                                 60000);
         }},
        {"note name at the right edge",
         [&] {
             // A width at which a note's line stands on one of the last two
             // columns, its name reaching past them.
             auto noteAtEdge = [](int nWidth) {
                 const SExpectedGeometry geo = ExpectedGeometry(44100, 4096, 40, 1000, nWidth);
                 for (double dHz : g_dNoteHz) {
                     const int x = geo.X(dHz / geo.dBinWidth);
                     if (x >= nWidth - 2 && x < nWidth)
                         return true;
                 }
                 return false;
             };
             int nWidth = 300;
             while (nWidth < 900 && !noteAtEdge(nWidth))
                 ++nWidth;
             ASSERT_LT(nWidth, 900);
             Resize(nWidth, 300);
             StartRun(44100, 4096, 40, 1000, 1e10);
             m_pView->m_nDisplayMode = 1;
         }},
        {"signal lost at the smallest size",
         [&] {
             Resize(smallest.width(), smallest.height());
             StartRun(44100, 4096, 40, 16000, 1e10);
             m_pView->SetSignalLost(true);
         }},
    };
    CPacingLog log;
    for (const SCase& c : aCases) {
        SCOPED_TRACE(c.pszName);
        c.fnSetUp();
        CPaintCounter counter;
        // At most one paint per refresh; several refreshes without one are a
        // picture that stopped.
        const int nPointerX =
            c.nPointerFromRight < 0 ? -1 : m_pView->width() - 1 - c.nPointerFromRight;
        EXPECT_GE(PaintsOver(
                      12, counter, [] {}, nPointerX),
                  3);
        EXPECT_EQ(log.Lines(), 0) << "the pacing had to recover";
        m_pView->BindChannels(nullptr, nullptr, 0, 0);
    }
}

// Paints that do not come (Qt sends none for a region it cannot paint, or
// a platform drops them): the pacing recovers by itself within a few
// refreshes, says so, and frames flow again once paints come.
TEST_F(PacingTest, PaintsThatDoNotComeDoNotStopThePicture) {
    StartRun(44100, 4096, 40, 16000, 1e10);
    CPacingLog log;
    CPaintCounter counter;
    // From the first paint on, none comes until the pacing says it recovers
    // (two seconds at most).
    QElapsedTimer timer;
    const int nPaints = PaintsOver(40, counter, [&] {
        if (!timer.isValid()) {
            timer.start();
            counter.m_bSwallowPaints = true;
        } else if (log.Lines() > 0 || timer.elapsed() > 2000) {
            counter.m_bSwallowPaints = false;
        }
    });
    EXPECT_GE(log.Lines(), 1) << "no recovery while paints did not come";
    EXPECT_GE(nPaints, 3);
}

// A user interface busy for a while (a file written, a screen grabbed) paints
// late: that is waited for, not taken for a paint that never comes.
TEST_F(PacingTest, ABusyUserInterfaceIsWaitedFor) {
    StartRun(44100, 4096, 40, 16000, 1e10);
    CPacingLog log;
    CPaintCounter counter;
    int nBusy = 0;
    const int nPaints = PaintsOver(40, counter, [&] {
        if (counter.m_nPaints > 2 && nBusy < 3) {
            ++nBusy;
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    });
    EXPECT_EQ(nBusy, 3);
    EXPECT_GE(nPaints, 3);
    EXPECT_EQ(log.Lines(), 0) << "a busy user interface was taken for a stalled one";
}

// A screen that paints more than it is asked to (exposes, a compositor's own
// redraws): those paints draw anew or show the front, and once they stop the
// frames go on at their pace, without a recovery.
TEST_F(PacingTest, PaintsNotAskedForLeaveThePaceAlone) {
    StartRun(44100, 4096, 40, 16000, 1e10);
    CPacingLog log;
    CPaintCounter counter;
    QElapsedTimer timer;
    int nPaintsAfter = -1;
    // A slow (sanitizer) build may have few refreshes left after the
    // unasked paints: the count goes on until three paints came after them.
    PaintsOver(40, counter, std::function<int()>([&] {
                   if (!timer.isValid())
                       timer.start();
                   if (timer.elapsed() < 20 * RefreshMs())
                       m_pView->repaint();
                   else if (nPaintsAfter < 0)
                       nPaintsAfter = counter.m_nPaints;
                   return nPaintsAfter < 0 ? counter.m_nPaints : nPaintsAfter;
               }));
    EXPECT_GE(counter.m_nPaints - nPaintsAfter, 3);
    EXPECT_EQ(log.Lines(), 0);
}

// A pass that finds the frame thread busy does not wait: while a frame waits
// for the left channel's arrays (held here), passes tell the view of a
// hundred new ones and go on.
TEST_F(HandOverTest, APassThatFindsTheFrameThreadBusyDoesNotWait) {
    StartRun(44100, 4096, 40, 16000, 1e10);
    CPaintCounter counter;
    m_pView->installEventFilter(&counter);
    m_pView->show();
    HandleEventsUntil([&] { return counter.m_nPaints > 0; }); // painted: frames wanted
    m_pView->removeEventFilter(&counter);
    // Passes until the frame thread is inside a frame, waiting.
    auto lockLeft = m_left.LockArrays();
    QElapsedTimer timer;
    timer.start();
    HandleEventsUntil([&] {
        m_pView->NewArrays(2);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_pView->m_bFrameBusy.load() == 1 || timer.elapsed() > 5000;
    });
    ASSERT_EQ(m_pView->m_bFrameBusy.load(), 1) << "the frame thread drew no frame";
    std::atomic<int> nTold{0};
    std::thread passes([&] {
        for (; nTold < 100; ++nTold)
            m_pView->NewArrays(2);
    });
    timer.restart();
    while (nTold < 100 && timer.elapsed() < 5000)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(nTold.load(), 100) << "a pass waited for the frame thread";
    EXPECT_EQ(m_pView->m_bFrameBusy.load(), 1);
    lockLeft.unlock();
    passes.join();
}

// The frame thread runs from the binding of a run's channels to their
// unbinding, which waits for a frame in progress: channels that go right
// after it are never read again (the sanitizers would see it), however many
// passes still come, and no frame is drawn of them.
TEST_F(HandOverTest, TheFrameThreadDrawsOnlyWhileChannelsAreBound) {
    auto pLeft = std::make_unique<CAnalysisChannel>();
    ASSERT_TRUE(pLeft->Setup(4096, 4096 / 44100.0));
    std::fill_n(pLeft->m_pPower, 4096, 1e10);
    StartRun(44100, 4096, 40, 16000);
    m_pView->BindChannels(pLeft.get(), nullptr, 4096, 44100);
    m_pView->show();
    CPasses passes(*m_pView, [](int) {});
    const int nBefore = m_pView->PresentedFrames();
    HandleEventsUntil([&] { return m_pView->PresentedFrames() >= nBefore + 3; });
    m_pView->BindChannels(nullptr, nullptr, 4096, 44100);
    pLeft.reset();
    const int nAtUnbind = m_pView->PresentedFrames();
    QElapsedTimer timer;
    timer.start();
    HandleEventsUntil([&] { return timer.elapsed() > 100; });
    passes.Stop();
    // Only the welcome page, which the window's paints may draw anew.
    EXPECT_EQ(m_pView->m_pLeftChannel.load(), nullptr);
    EXPECT_LE(m_pView->PresentedFrames() - nAtUnbind, 7);
    const QImage shown = m_pView->FrontImage();
    EXPECT_EQ(PixelAt(shown, 20, 200), kBlack) << "a running frame after the unbinding";
}

// Passes in stereo reach the window in stereo: the frame thread draws the
// right channel's bars over the left's.
TEST_F(HandOverTest, TheFrameThreadDrawsBothChannelsInStereo) {
    StartRun(44100, 4096, 40, 16000, 1e12);
    {
        auto lock = m_right.LockArrays();
        std::fill_n(m_right.m_pPower, 4096, 1e10);
    }
    m_pView->show();
    CPasses passes(
        *m_pView, [](int) {}, 3);
    const int nBefore = m_pView->PresentedFrames();
    HandleEventsUntil([&] { return m_pView->PresentedFrames() >= nBefore + 3; });
    passes.Stop();
    const SExpectedLevels lv = ExpectedLevels(m_pView->m_nPlotBottom, 100, 100);
    const QImage shown = m_pView->FrontImage();
    EXPECT_EQ(PixelAt(shown, 45, lv.Y(1e10) + 3), kRightFill);
    EXPECT_EQ(PixelAt(shown, 45, lv.Y(1e12) + 3), kLeftFill);
}

// Notes the part of the window each paint covers.
class CPaintedRegions : public QObject {
public:
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::Paint)
            m_aPainted.push_back(static_cast<QPaintEvent*>(pEvent)->region().boundingRect());
        return false;
    }
    std::vector<QRect> m_aPainted;
};

// Paints cover only where frames changed, and the window shows each whole
// frame all the same, also when pictures are taken of the view meanwhile.
TEST_F(HandOverTest, PaintsOfWhatChangedLeaveTheWindowShowingTheWholeFrame) {
    StartRun(44100, 4096, 40, 16000);
    m_pView->show();
    CPaintedRegions painted;
    m_pView->installEventFilter(&painted);
    HandleEventsUntil([&] { return !painted.m_aPainted.empty(); });
    for (int i = 0; i < 10; ++i) {
        SetChangingSpectrum(m_left, i);
        if (i % 3 == 1)
            m_pView->grab();
        const std::size_t nPaints = painted.m_aPainted.size();
        m_pView->RenderFrame(2);
        HandleEventsUntil([&] { return painted.m_aPainted.size() > nPaints; });
        QPaintDevice* pWindow = m_pView->backingStore()->paintDevice();
        ASSERT_EQ(pWindow->devType(), QInternal::Image);
        const QImage shown = static_cast<QImage*>(pWindow)->convertToFormat(QImage::Format_RGB32);
        const QImage front = m_pView->FrontImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_TRUE(shown.copy(front.rect()) == front) << "frame " << i;
    }
    m_pView->removeEventFilter(&painted);
    const auto nPartial = std::count_if(painted.m_aPainted.begin(), painted.m_aPainted.end(),
                                        [&](const QRect& rc) { return rc != m_pView->rect(); });
    EXPECT_GE(nPartial, 5);
}

// While the window is hidden the passes go on and draw nothing; the first
// paint after it is shown again has the newest spectrum.
TEST_F(HandOverTest, AHiddenWindowGetsNoFramesAndShowsACurrentOneWhenBack) {
    StartRun(44100, 4096, 40, 16000);
    SetPower(1e12);
    m_pView->RenderFrame(2);
    const QImage current = m_pView->FrontImage();
    m_pView->show();
    CPasses passes(*m_pView, [this](int i) { SetPower(1e8 + i); });
    HandleEventsUntil([&] { return passes.Frames() >= 3; });
    m_pView->hide();
    const int nFramesShown = passes.Frames();
    const int nPassesShown = passes.m_nPasses;
    HandleEventsUntil([&] { return passes.m_nPasses >= nPassesShown + 40; });
    passes.Stop();
    EXPECT_LE(passes.Frames(), nFramesShown + 1); // one may have been under way
    SetPower(1e12);
    m_pView->show();
    CPaintCounter counter;
    m_pView->installEventFilter(&counter);
    HandleEventsUntil([&] { return counter.m_nPaints >= 1; });
    m_pView->removeEventFilter(&counter);
    EXPECT_TRUE(m_pView->FrontImage() == current) << "the paint showed an older frame";
}

} // namespace
