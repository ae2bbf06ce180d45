#pragma once

#include "platform/DC.h"
#include "platform/WindowSurface.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QTimer>
#include <atomic>
#include <functional>
#include <initializer_list>
#include <mutex>

Q_DECLARE_LOGGING_CATEGORY(lcPacing)

class QPainter;
class QPaintEvent;
class QWidget;

// The hand-over of finished pictures from the thread that draws them to the
// window, and the pace at which they are drawn.
//
// Buffers: three take turns. The back buffer (the view's bitmap) is drawn in;
// the front, whose pixels the window reads, shares its pixels with the back
// buffer it was presented from; the two spares wait. A drawing that would
// write pixels the window may be reading swaps in a spare first and carries
// over the parts it does not redraw, so that no frame copies the whole
// picture. A paint reads the front's pixels outside the lock and says which
// ones, so that no drawing picks them. The buffers and their records belong
// to the view's frame lock; the front and the damage to m_lockFront.
//
// Pace: a frame is drawn only while the window can be seen, once the frame
// before has been painted, and no sooner than the last pass before the next
// screen refresh (IsFrameWanted). At most one paint per refresh, covering only
// where the window's picture may differ from the front.
//
// Invariant: a presented frame is painted, or the pacing recovers within a
// few refreshes. Every presented frame sets m_bFrameWaiting, and the
// user-interface thread asks Qt to paint a region it can paint (inside the
// view's visible region); the paint clears it. While the window can be seen,
// a frame whose paint has not come kStallRefreshes refreshes after it was
// asked for, though the user-interface thread ran meanwhile, is given up (and
// one never asked for, after kBusyRefreshes): the next frame is drawn anyway,
// the whole window asked for, and a debug line logged (category
// vemra.view.pacing). A user interface merely busy for a while is waited for.
// So frames never stop for good while a run lasts and the window can be seen,
// and they stop at once when it cannot.
class CFrameHandOver : public QObject, public IWindowSurface {
    Q_OBJECT

public:
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
        // In a level unit the grid moves with its top level and the unit's
        // offset; as designed both stay 0.
        double dGridTopDb = 0.0;
        double dGridDbOffset = 0.0;
        // The spectrogram's bottom and history (its time ruler), 0 without.
        int nSpectrogramBottom = 0;
        int nHistorySeconds = 0;
        // The difference from the reference has a grid of its own.
        bool bDifference = false;
        // The transfer-function mode's picture is drawn whole.
        bool bTransfer = false;
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

    // Refreshes a presented frame may wait for its paint before the pacing
    // gives up waiting: once Qt was asked for it, and while it was not.
    static constexpr int kStallRefreshes = 4;
    static constexpr int kBusyRefreshes = 30;

    // A child of the view, which it lives in as a member.
    explicit CFrameHandOver(QWidget* pView);

    // The back buffer and the DC over it, and the two spares, all of one size
    // and ratio; a null back buffer leaves none (under the frame lock).
    void SetBuffers(QImage* pBack, CDC* pdcMemory, QImage imgSpare0, QImage imgSpare1);
    // Before drawing into the back buffer: swaps in a spare where the window
    // may be reading the back buffer's pixels and brings over, from the
    // picture last presented, the logical rectangles aKeep.
    void TakeFreshCanvas(std::initializer_list<QRect> aKeep);
    // The same, returning the picture last presented (null when the back
    // buffer can be drawn on as it is) for the caller to bring over from.
    const QImage* SwapInSpare();
    // The record of the back buffer's pixels.
    SCanvasRecord& CanvasRecord();

    // IWindowSurface: a finished back buffer becomes the front, on any thread.
    void Present(const QImage& imgSource, const QRect& rcSource, const QPoint& ptDest) override;

    // The view's paint: fnDrawAnew draws a frame first where the waiting one
    // is not what the window needs (user-interface thread).
    void Paint(QPaintEvent* pEvent, const std::function<void()>& fnDrawAnew);
    // The picture last handed to the window, in device pixels with its ratio
    // set (a copy, taken under its lock).
    QImage FrontImage() const;
    // Frames presented since the view was made.
    int PresentedFrames() const { return m_nPresented.load(); }

    // Visibility, told by the view's own events (user-interface thread).
    void OnShow();
    void OnHide() { m_bShown = false; }
    void FollowVisibility();

    // Asked before each frame from the passes' arrays, with the time between
    // the last two passes: a frame drawn now is painted at the first refresh
    // after the last paint; when the next pass, and the time a frame takes,
    // still fit before that refresh, the next pass is drawn instead.
    bool IsFrameWanted(qint64 nPassIntervalNs);
    // How long the last frame took to draw.
    void NoteFrameTime(qint64 nFrameNs) { m_nFrameNs = nFrameNs; }
    // A repaint still pending for a frame of other channels draws anew.
    void ForgetWaitingFrame() { m_bFrameWaiting = false; }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    const SCanvasRecord* RecordOf(const uchar* pBits) const;
    QImage* FreeSpare();
    void AnnounceFrame();
    // Invoked by name through the event queue: no functor built on the frame
    // thread then crosses to the user-interface thread.
    Q_INVOKABLE void ScheduleRepaint();
    void MarkFrameWaiting();
    void AskForPaint(const QRegion& rgn);
    void OnPaintOverdue();
    bool IsNeverAskedFor(qint64 nNow) const;
    void RecoverPacing(const char* pszWhy);
    bool PaintsWindow(const QPainter& painter) const;
    void ShowFront(QPainter& painter, const QRegion& rgnPainted, bool bWindow);
    QRegion DamageToPaint() const;
    bool CanBeSeen() const;
    void WatchWindow();
    void Watch(QPointer<QObject>& pWatched, QObject* pNow);
    qint64 RefreshNs() const;

    QWidget* m_pView;

    // Under the view's frame lock.
    QImage* m_pBack = nullptr;
    CDC* m_pdcMemory = nullptr;
    QImage m_aimgSpare[2];
    bool m_bCanvasShown = false;      // the back buffer's pixels are the front's
    SCanvasRecord m_aCanvasRecord[3]; // one per buffer

    mutable std::mutex m_lockFront; // guards the fields down to m_pPaintedBits
    QImage m_imgFront;              // shares the pixels of the back buffer it was presented from
    QRect m_rcFront;                // the part of m_imgFront to show, in device pixels
    SCanvasRecord m_recFront;       // what m_imgFront holds
    // Where the window's picture may differ from the front (logical pixels):
    // a paint needs to cover no more than this.
    QRegion m_rgnDamage;
    bool m_bDamageAll = true;
    const uchar* m_pPaintedBits = nullptr; // the pixels a paint is reading, if any
    std::atomic<int> m_nPresented{0};

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
    // Steady-clock times in ns: the last paint; the screen's refresh period;
    // the time the last frame took to draw.
    std::atomic<qint64> m_nPaintedNs{0};
    std::atomic<qint64> m_nRefreshNs{16666667};
    std::atomic<qint64> m_nFrameNs{0};
    // The top-level widget and its window, whose events tell whether the view
    // can be seen (user-interface thread only).
    QPointer<QObject> m_pWatchedWidget;
    QPointer<QObject> m_pWatchedWindow;
    QTimer m_timerRepaint;      // user-interface thread only
    QTimer m_timerStall;        // a paint asked for is overdue; same thread
    QElapsedTimer m_clockPaint; // since the last paint, user-interface thread only
};
