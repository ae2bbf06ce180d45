#pragma once

#include "analysis/PowerScale.h"
#include "capture/EngineView.h"
#include "platform/Brush.h"
#include "platform/DC.h"
#include "platform/Pen.h"
#include "platform/WindowDC.h"
#include "platform/WindowSurface.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLoggingCategory>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

Q_DECLARE_LOGGING_CATEGORY(lcPacing)

class CAnalysisChannel;
class CReferenceSpectrum;
class QPainter;
class QSpinBox;

// Where the bins of the displayed span fall on the logarithmic x axis: bin b
// (whole or fractional) lies at x = trunc(dXScale * ln(b) + nXOff). Bin nBinLow
// falls at about x = 28 (the left margin), bin nBinMax at about the right edge.
struct SSpanGeometry {
    double dBinWidth; // Hz per bin
    int nBinLow;
    int nBinMax;
    double dXScale; // pixels per unit of natural logarithm
    int nXOff;
};

// The spectrum display: a back buffer that every picture is composed in, the
// run parameters and display settings the drawing reads, and the mouse gestures
// that choose the frequency span and the display mode.
//
// Geometry is in logical pixels; the pictures are drawn at the window's device
// pixel ratio, so that each logical pixel gets ratio x ratio device pixels.
//
// Threads: the user-interface thread runs the event handlers, UpdateBackBuffer
// and DrawScale; the acquisition cycle calls RenderFrame from its own thread.
// The fields both threads touch are atomics. m_lockFrame keeps a frame apart
// from DrawScale and UpdateBackBuffer; a frame that cannot draw at once is
// skipped rather than waited for.
//
// Hand-over: a finished back buffer becomes m_imgFront by sharing its pixels
// (under m_lockFront), and the user-interface thread is asked to paint it. The
// next drawing swaps in one of two spare buffers that the window no longer
// reads and carries over the parts it does not redraw (the scale strip for a
// frame), so that no frame copies the whole picture.
//
// Pace: the acquisition cycle draws a frame only when IsFrameWanted says so:
// while the window can be seen, once the frame before has been painted, and
// on the last pass before the next screen refresh is due. Its rule, which
// every change to the hand-over keeps:
//
//   A presented frame is painted, or the pacing recovers within a few
//   refreshes. Every presented frame sets m_bFrameWaiting, and the user
//   interface asks Qt to paint a region it can paint (inside the view's
//   visible region); the paint clears it. While the window can be seen, a
//   frame whose paint has not come kStallRefreshes refreshes after it was
//   asked for, though the user interface ran meanwhile, is given up (and
//   one never asked for, after kBusyRefreshes): the next frame is drawn
//   anyway, the whole window asked for, and a debug line logged (category
//   vemra.view.pacing). A user interface merely busy for a while is waited
//   for. So frames never stop for good while a run lasts and the window can
//   be seen, and they stop at once when it cannot.
class CSpectrumView : public QWidget, public IEngineView, private IWindowSurface {
    Q_OBJECT

public:
    explicit CSpectrumView(QWidget* pParent = nullptr);
    ~CSpectrumView() override;

    // The address the welcome page sends the reader to with F1: the one F1
    // opens (the build's web address until the dialog says otherwise). A page
    // on show is drawn again with the new address.
    void SetWebAddress(const std::string& strAddress);

    // A spectrum to compare the live one with, drawn over the bars as a line
    // at the left channel's levels; null draws none. It is laid onto the bins
    // of each run anew, whatever its rate and size.
    void SetReference(std::shared_ptr<const CReferenceSpectrum> pReference);
    // The line's colour, used nowhere else on the plot.
    static constexpr COLORREF kReferenceColour = RGB(255, 140, 0);
    std::string WebAddress() const;

    // A line across the upper plot, over the spectrum or the welcome page,
    // for nMilliseconds from now.
    void ShowNotice(const std::string& strText, int nMilliseconds);
    std::string Notice() const; // the line shown now, or empty

    // IEngineView
    void BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                      int nSampleRate) override;
    void DrawScale() override;
    bool IsScaleBusy() const override { return m_bScaleBusy.load() != 0; }
    void SetFftsPerCycle(int nPasses) override { m_nFftsPerCycle.store(nPasses); }
    bool IsFrameWanted() override;
    // Refreshes a presented frame may wait for its paint before the pacing
    // gives up waiting: once Qt was asked for it, and while it was not.
    static constexpr int kStallRefreshes = 4;
    static constexpr int kBusyRefreshes = 30;
    void RenderFrame(int nFlags) override;
    void SetSignalLost(bool bLost) override { m_bSignalLost = bLost; }

    void UpdateBackBuffer();
    // Draws at dRatio device pixels per logical pixel from now on: the buffers
    // are rebuilt, the scale and the frame drawn anew. The view follows its
    // window's ratio by itself; tests and benchmarks choose one.
    void SetDevicePixelRatio(double dRatio);
    double DevicePixelRatio() const { return m_dDevicePixelRatio.load(); }
    SSpanGeometry ComputeSpanGeometry();
    // The smallest size that shows a picture whole: the welcome page with
    // every line whole and apart (bIdle), or a plot with its scale and
    // readouts.
    QSize MinimumPictureSize(bool bIdle) const;
    // Frequency in Hz under client column x; false before the first run.
    bool FrequencyAt(int x, int* pHz);

    // Handlers, wired from Qt's events in SpectrumView.cpp.
    void OnDestroy();
    void OnPaint();
    void OnSize(unsigned nType, int cx, int cy);
    void OnMouseMove(unsigned nFlags, QPoint point);
    void OnLButtonDblClk(unsigned nFlags, QPoint point);
    void OnRButtonDblClk(unsigned nFlags, QPoint point);
    void OnLButtonDown(unsigned nFlags, QPoint point);
    void OnLButtonUp(unsigned nFlags, QPoint point);
    void OnRButtonUp(unsigned nFlags, QPoint point);

    // The picture last handed to the window, in device pixels with its ratio
    // set (a copy, taken under its lock).
    QImage FrontImage() const;

    // Settings and run parameters, written by the dialog and the engine.
    QWidget* m_pDialog = nullptr; // a right double-click posts it a right press at (0, 0)
    std::atomic<int> m_nDisplayMode{0};
    std::atomic<CAnalysisChannel*> m_pLeftChannel{nullptr};
    std::atomic<CAnalysisChannel*> m_pRightChannel{nullptr};
    QSpinBox* m_pSpinSpanLow = nullptr;
    QSpinBox* m_pSpinSpanHigh = nullptr;
    std::atomic<int> m_bHold{0};
    std::atomic<int> m_nYScale{100};
    std::atomic<int> m_nOffsetRight{100};
    std::atomic<int> m_nOffset{100};
    std::atomic<int> m_nMinXSpace{2};
    std::atomic<int> m_nSpanLowHz{0};
    std::atomic<int> m_nSpanHighHz{0};
    std::atomic<int> m_nFftSize{0};    // 0 until the first run
    std::atomic<int> m_nSampleRate{0}; // 0 until the first run
    std::atomic<int> m_nFftsPerCycle{0};
    std::atomic<int> m_bScaleBusy{0};
    std::atomic<int> m_bFrameBusy{0};
    std::atomic<double> m_dBinWidth{0.0};
    // The device stopped delivering: running frames say so in the plot.
    std::atomic<bool> m_bSignalLost{false};
    // The built-in test signal is analysed, not a sound from outside: running
    // frames say so at the plot's top left.
    std::atomic<bool> m_bBuiltInSignal{false};

    static constexpr const char* kSignalLostText = "No sound is arriving from the capture device.";
    static constexpr const char* kBuiltInSignalText = "Test signal";

    CPen m_penLeft;
    CPen m_penRight;
    CPen m_penScale;
    CPen m_penCursor;
    CPen m_penGrid;
    CPen m_penReference;
    std::unique_ptr<CBrush> m_pBrushLeft;
    std::unique_ptr<CBrush> m_pBrushRight;

    // Back buffer and client geometry; rewritten only under m_lockFrame.
    std::atomic<int> m_nBufferWidth{0};
    std::atomic<int> m_nBufferHeight{0};
    std::atomic<int> m_nWidth{0};
    std::atomic<int> m_nHeight{0};
    std::atomic<int> m_nPlotBottom{-22};
    std::atomic<int> m_nCursorY{-1};
    std::atomic<int> m_nCursorX{-1};
    CDC m_dcWindow;
    CDC m_dcMemory;
    std::unique_ptr<CWindowDC> m_pWindowDC;
    std::unique_ptr<QImage> m_pBackImage;

    // Span gesture state (user-interface thread only).
    int m_nDragLowHz = 0;
    int m_nDragHighHz = 0;

    // Kept across frames (inside the frame guard only): the most recent explicit
    // flags, and the peak readout with the number of overlay frames since it was
    // built.
    int m_nLastFlags = 0;
    std::string m_strPeakReadout;
    int m_nReadoutAge = 10;

protected:
    bool event(QEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    void hideEvent(QHideEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void resizeEvent(QResizeEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;

private:
    // One pass of a frame: the channel it draws and the levels it uses.
    struct SPass {
        int nIndex;
        const double* pPower;
        const double* pHold;
        int nBins; // entries in pPower and pHold
        double dYScale;
        int nYBase;
        SPowerScale scale; // how the channel's power relates to a reference's levels
    };

    void Present(const QImage& imgSource, const QRect& rcSource, const QPoint& ptDest) override;
    void SetSpan(int nLowHz, int nHighHz);
    void ReleaseBackBuffer();
    QImage NewBuffer() const;
    void RedrawAll();
    void FollowScreenRatio();

    // What a running frame draws the same way as long as none of these
    // change: the black plot with its level grid, the margin with its labels
    // and the scale strip. The rest of a frame changes from frame to frame.
    struct SFrameLayout {
        int nWidth = 0;
        int nHeight = 0;
        int nPlotBottom = 0;
        int nMode = 0;
        int nYScale = 0;
        double dRatio = 0.0;
        unsigned nScaleGeneration = 0;
        bool operator==(const SFrameLayout&) const = default;
    };
    // What a buffer's pixels hold: a running frame of a layout whose changing
    // parts lie inside rgnChanging (logical pixels), or anything else.
    struct SCanvasRecord {
        const uchar* pBits = nullptr;
        bool bFrame = false;
        SFrameLayout layout;
        QRegion rgnChanging;
    };

    // Hand-over (SpectrumView.cpp).
    void TakeFreshCanvas(std::initializer_list<QRect> aKeep);
    const QImage* SwapInSpare();
    SCanvasRecord& CanvasRecord();
    QRegion LogicalRegion(const QRegion& rgnDevice) const;
    QRegion DamageToPaint() const;
    QImage* FreeSpare();
    void AnnounceFrame();
    // Invoked by name through the event queue: no functor built on the frame
    // thread then crosses to the user-interface thread.
    Q_INVOKABLE void ScheduleRepaint();
    bool PaintsWindow(const QPainter& painter) const;
    void MarkFrameWaiting();
    void AskForPaint(const QRegion& rgn);
    void OnPaintOverdue();
    bool IsNeverAskedFor(qint64 nNow) const;
    void RecoverPacing(const char* pszWhy);
    void ShowFront(QPainter& painter, const QRegion& rgnPainted, bool bWindow);
    // Visibility (user-interface thread).
    bool CanBeSeen() const;
    void WatchWindow();
    void Watch(QPointer<QObject>& pWatched, QObject* pNow);
    void FollowVisibility();
    qint64 RefreshNs() const;

    // The display settings one frame draws with, read once as it begins: the
    // user interface may change any of them while the frame is drawn, and a
    // frame must not show one mode's overlay over another's bars.
    struct SFrameSettings {
        int nMode;
        int nCursorX;
        int nCursorY;
        int nYScale;
        int nOffset;
        int nOffsetRight;
        int nMinXSpace;
        bool bHold;
    };
    SFrameSettings ReadFrameSettings() const;

    // Frame steps (SpectrumViewFrame.cpp, SpectrumViewNotes.cpp, SpectrumViewIdle.cpp).
    void DrawRunningFrame(int nFlags, CAnalysisChannel* pLeft);
    bool CanRefill(const QRegion& rgnChanging) const;
    QRegion DrawSpectra(int nFlags, CAnalysisChannel* pLeft, CAnalysisChannel* pRight,
                        const SFrameSettings& set, const QRegion* pRefill);
    void FillPlot(const QRegion* pRefill);
    void DrawLevelGrid(const SPass& pass, int nZeroY);
    SPass MakePass(int nIndex, const CAnalysisChannel& chan, const SFrameSettings& set) const;
    static bool HasArrays(const SPass& pass) {
        return pass.pPower != nullptr && pass.pHold != nullptr && pass.nBins > 0;
    }
    void BuildBars(const SPass& pass, const SSpanGeometry& geo, const SFrameSettings& set);
    void DrawBars();
    void DrawReferenceLine();
    void MapReference();
    void DrawPowerReadout(const SPass& pass);
    void DrawCursorReadout(const SPass& pass, const SSpanGeometry& geo, int nZeroY,
                           const SFrameSettings& set);
    void DrawStatistics();
    void DrawBuiltInSignal();
    void DrawSignalLost();
    void DrawNotice();
    void DrawNoteOverlay(const SSpanGeometry& geo);
    void DrawIdlePage();
    int LevelY(const SPass& pass, double dValue) const;
    const std::vector<double>& LogTable(int nEntries);

    mutable std::mutex m_lockFrame;
    // Under m_lockFrame.
    std::string m_strWebAddress;
    std::string m_strNotice;
    std::chrono::steady_clock::time_point m_noticeUntil;
    std::atomic<double> m_dDevicePixelRatio{1.0};
    double m_dBufferRatio = 1.0; // the buffers' ratio, inside the frame guard only
    double m_dScreenRatio = 1.0; // the window's ratio last seen, user-interface thread only
    QImage m_aimgSpare[2];       // inside the frame guard only
    bool m_bCanvasShown = false; // m_pBackImage's pixels are the front's, inside the frame guard
    SCanvasRecord m_aCanvasRecord[3]; // one per buffer, inside the frame guard only
    SCanvasRecord m_recPresent;       // the picture being presented, inside the frame guard only
    unsigned m_nScaleGeneration = 0;  // scales drawn, inside the frame guard only
    mutable std::mutex m_lockFront;   // guards the three fields below
    QImage m_imgFront;                // shares the pixels of the back buffer it was presented from
    QRect m_rcFront;                  // the part of m_imgFront to show, in device pixels
    SCanvasRecord m_recFront;         // what m_imgFront holds
    // Where the window's picture may differ from the front (logical pixels):
    // a paint needs to cover no more than this.
    QRegion m_rgnDamage;
    bool m_bDamageAll = true;
    const uchar* m_pPaintedBits = nullptr;     // the pixels a paint is reading, if any
    std::atomic<bool> m_bFrameWaiting{false};  // a presented frame waits to be painted
    std::atomic<qint64> m_nWaitingSinceNs{0};  // since when, on the steady clock
    std::atomic<qint64> m_nPaintAskedNs{0};    // when Qt was last asked for a paint
    std::atomic<bool> m_bRepaintPosted{false}; // a repaint is asked for and not yet done
    std::atomic<bool> m_bRecovering{false};    // the pacing gave up a wait; no paint since
    bool m_bInPaint = false;                   // user-interface thread only
    // The window can be seen and has been painted since it could: frames are
    // wanted. Cleared as soon as the window is hidden, minimised or covered;
    // set again by the first paint after it came back, which draws anew.
    std::atomic<bool> m_bShown{false};
    // Steady-clock times in ns: the last paint, and the last time the cycle
    // asked for a frame; the screen's refresh period; the time the last frame
    // took to draw.
    std::atomic<qint64> m_nPaintedNs{0};
    std::atomic<qint64> m_nAskedNs{0};
    std::atomic<qint64> m_nRefreshNs{16666667};
    std::atomic<qint64> m_nFrameNs{0};
    // The top-level widget and its window, whose events tell whether the view
    // can be seen (user-interface thread only).
    QPointer<QObject> m_pWatchedWidget;
    QPointer<QObject> m_pWatchedWindow;
    QTimer m_timerRepaint;                 // user-interface thread only
    QTimer m_timerStall;                   // a paint asked for is overdue; same thread
    QElapsedTimer m_clockPaint;            // since the last paint, user-interface thread only
    std::vector<double> m_adLogBin;        // ln(b), inside the frame guard only
    std::vector<SRectangle> m_aBars;       // a pass's bars, inside the frame guard only
    std::vector<SRectangle> m_aHoldLevels; // their hold lines (l..r at row t)
    // The reference, and its level at the bins of the run (NaN where it has
    // none), which each frame lays onto the left channel's scale: under
    // m_lockFrame.
    std::shared_ptr<const CReferenceSpectrum> m_pReference;
    std::vector<double> m_adReference;
    // Where the reference line passes through each bar of the left channel;
    // a point with x < 0 breaks it. Inside the frame guard only.
    std::vector<CPoint> m_aReferenceLine;
};
