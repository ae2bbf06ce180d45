#include "view/SpectrumView.h"

#include "view/BuildInfo.h"

#include "analysis/AnalysisChannel.h"
#include "analysis/ReferenceSpectrum.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScreen>
#include <QSpinBox>
#include <QThread>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>

Q_LOGGING_CATEGORY(lcPacing, "vemra.view.pacing")

namespace {

qint64 SteadyNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

CSpectrumView::CSpectrumView(QWidget* pParent) : QWidget(pParent), m_strWebAddress(g_szWebAddress) {
    m_penLeft.CreatePen(PS_SOLID, 1, RGB(30, 30, 130));
    m_penRight.CreatePen(PS_SOLID, 1, RGB(130, 30, 30));
    m_penScale.CreatePen(PS_SOLID, 1, RGB(100, 100, 100));
    m_penCursor.CreatePen(PS_SOLID, 1, RGB(180, 180, 0));
    m_penGrid.CreatePen(PS_SOLID, 1, RGB(80, 80, 80));
    m_penReference.CreatePen(PS_SOLID, 1, kReferenceColour);
    // At least a logical pixel thick at any ratio, to be seen over the bars.
    m_penReference.SetCoversLogicalPixels(true);
    m_pBrushLeft = std::make_unique<CBrush>(RGB(70, 70, 180));
    m_pBrushRight = std::make_unique<CBrush>(RGB(185, 50, 50));

    // Every pixel comes from the front image; the pointer is followed without a
    // button held so that the cursor readout can track it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);

    m_dScreenRatio = devicePixelRatioF();
    m_dDevicePixelRatio = m_dScreenRatio;
    m_dBufferRatio = m_dScreenRatio;
    m_timerRepaint.setSingleShot(true);
    m_timerRepaint.setTimerType(Qt::PreciseTimer);
    connect(&m_timerRepaint, &QTimer::timeout, this, [this] { AskForPaint(DamageToPaint()); });
    m_timerStall.setSingleShot(true);
    connect(&m_timerStall, &QTimer::timeout, this, &CSpectrumView::OnPaintOverdue);
}

CSpectrumView::~CSpectrumView() {
    OnDestroy();
}

// --- Qt events to handlers: the view's whole message map ----------------------
//
// Qt delivers a double-click as press, release, double-click, release, which is
// the order the handlers expect. The mouse is not captured: Qt's implicit grab
// would deliver a release or a move outside the view, which the view ignores.

bool CSpectrumView::event(QEvent* pEvent) {
    const QEvent::Type type = pEvent->type();
    if (type == QEvent::ScreenChangeInternal) {
        FollowScreenRatio();
    }
    const bool bResult = QWidget::event(pEvent);
    if (type == QEvent::WindowStateChange) {
        FollowVisibility(); // the view is a window of its own
    }
    return bResult;
}

// The top-level widget and its window tell when the view stops being seen:
// hidden, minimised, unmapped, on another workspace or covered where the
// platform says so (the window is then not exposed).
bool CSpectrumView::eventFilter(QObject* pWatched, QEvent* pEvent) {
    switch (pEvent->type()) {
    case QEvent::Hide:
        m_bShown = false;
        break;
    case QEvent::Show:
    case QEvent::Expose:
    case QEvent::WindowStateChange:
        FollowVisibility();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(pWatched, pEvent);
}

void CSpectrumView::showEvent(QShowEvent*) {
    WatchWindow();
    FollowVisibility();
}

void CSpectrumView::hideEvent(QHideEvent*) {
    m_bShown = false;
}

void CSpectrumView::paintEvent(QPaintEvent* pEvent) {
    FollowScreenRatio();
    QPainter painter(this);
    if (!PaintsWindow(painter)) {
        // A picture taken of the view (grab, render): the window's own paints
        // go on as they were. A hidden view's front may be old: draw anew.
        if (!m_bShown) {
            m_bInPaint = true;
            OnPaint();
            m_bInPaint = false;
        }
        ShowFront(painter, pEvent->region(), false);
        return;
    }
    m_clockPaint.start();
    m_timerRepaint.stop();
    m_timerStall.stop();
    m_bRepaintPosted = false;
    m_bRecovering = false;
    // A paint that follows a presented frame only shows it; one that Qt asks for
    // by itself (expose, resize) draws the frame again first, and so does the
    // first paint since the window came back: what waited meanwhile is old.
    const bool bFrameWaiting = m_bFrameWaiting.exchange(false);
    if (!bFrameWaiting || !m_bShown) {
        m_bInPaint = true;
        OnPaint();
        m_bInPaint = false;
    }
    ShowFront(painter, pEvent->region(), true);
    m_nRefreshNs = RefreshNs();
    m_nPaintedNs = SteadyNs();
    m_bShown = CanBeSeen();
}

// Whether a paint goes to the window, rather than into a picture of it.
bool CSpectrumView::PaintsWindow(const QPainter& painter) const {
    QBackingStore* pStore = backingStore();
    const QPaintEngine* pEngine = painter.paintEngine();
    return pStore != nullptr && pEngine != nullptr &&
           pEngine->paintDevice() == pStore->paintDevice();
}

void CSpectrumView::resizeEvent(QResizeEvent*) {
    OnSize(0, width(), height());
}

void CSpectrumView::mouseMoveEvent(QMouseEvent* pEvent) {
    const QPoint point = pEvent->position().toPoint();
    if (rect().contains(point)) {
        OnMouseMove(0, point);
    }
}

void CSpectrumView::mousePressEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        OnLButtonDown(0, pEvent->position().toPoint());
    }
}

void CSpectrumView::mouseReleaseEvent(QMouseEvent* pEvent) {
    const QPoint point = pEvent->position().toPoint();
    if (!rect().contains(point)) {
        return;
    }
    if (pEvent->button() == Qt::LeftButton) {
        OnLButtonUp(0, point);
    } else if (pEvent->button() == Qt::RightButton) {
        OnRButtonUp(0, point);
    }
}

void CSpectrumView::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    if (pEvent->button() == Qt::LeftButton) {
        OnLButtonDblClk(0, pEvent->position().toPoint());
    } else if (pEvent->button() == Qt::RightButton) {
        OnRButtonDblClk(0, pEvent->position().toPoint());
    }
}

// --- Handlers -----------------------------------------------------------------

// The view is going away: wait for a frame in progress, then leave nothing for a
// late frame to draw into or show.
void CSpectrumView::OnDestroy() {
    std::lock_guard lock(m_lockFrame);
    m_pLeftChannel = nullptr;
    m_pRightChannel = nullptr;
    ReleaseBackBuffer();
}

void CSpectrumView::OnPaint() {
    RenderFrame(-1);
}

void CSpectrumView::OnSize(unsigned /*nType*/, int /*cx*/, int /*cy*/) {
    m_nCursorX = -10;
    RedrawAll();
}

// The buffer, the scale while running, and the frame, for a new size or ratio.
void CSpectrumView::RedrawAll() {
    UpdateBackBuffer();
    if (m_pLeftChannel.load() != nullptr) {
        DrawScale();
    }
    RenderFrame(-1);
}

void CSpectrumView::OnMouseMove(unsigned /*nFlags*/, QPoint point) {
    m_nCursorX = point.x();
    m_nCursorY = point.y();
}

void CSpectrumView::OnLButtonDblClk(unsigned /*nFlags*/, QPoint /*point*/) {
    int nMode = m_nDisplayMode.load() + 1;
    m_nDisplayMode = nMode > 2 ? 0 : nMode;
}

void CSpectrumView::OnRButtonDblClk(unsigned /*nFlags*/, QPoint /*point*/) {
    // The dialog toggles compact mode on a right press on its background;
    // posted, so that it happens after this gesture's own messages.
    if (m_pDialog != nullptr) {
        QCoreApplication::postEvent(
            m_pDialog, new QMouseEvent(QEvent::MouseButtonPress, QPointF(0, 0), QPointF(0, 0),
                                       Qt::RightButton, Qt::RightButton, Qt::NoModifier));
    }
}

void CSpectrumView::OnLButtonDown(unsigned /*nFlags*/, QPoint point) {
    int nHz = 0;
    if (FrequencyAt(point.x(), &nHz)) {
        m_nDragLowHz = nHz;
    }
}

// The span gesture: the two frequencies of press and release become the span,
// kept at least six bins high and two bins low, and sent only when it is wider
// than about a fifteenth of its high edge.
void CSpectrumView::OnLButtonUp(unsigned /*nFlags*/, QPoint point) {
    int nHz = 0;
    if (!FrequencyAt(point.x(), &nHz)) {
        return;
    }
    m_nDragHighHz = nHz;
    if (nHz < m_nDragLowHz) {
        m_nDragHighHz = m_nDragLowHz;
        m_nDragLowHz = nHz;
    }
    const int nRate = m_nSampleRate;
    const int nFft = m_nFftSize;
    const double dHighFloor = nRate * 6.0 / nFft + 0.5;
    const double dLowFloor = nRate * 2.0 / nFft + 0.5;
    m_nDragHighHz = m_nDragHighHz <= dHighFloor ? static_cast<int>(dHighFloor) : m_nDragHighHz;
    m_nDragHighHz = std::min(m_nDragHighHz, nRate / 2);
    m_nDragLowHz = m_nDragLowHz <= dLowFloor ? static_cast<int>(dLowFloor) : m_nDragLowHz;
    m_nDragLowHz = std::min(m_nDragLowHz, nRate / 2);

    if (m_nDragHighHz > 0 && (m_nDragHighHz - m_nDragLowHz) * 30 / m_nDragHighHz > 1) {
        SetSpan(m_nDragLowHz, m_nDragHighHz);
    }
}

// Zoom out by an octave on each side, within the two-bin floor and R/2.
void CSpectrumView::OnRButtonUp(unsigned /*nFlags*/, QPoint /*point*/) {
    const int nRate = m_nSampleRate;
    const int nFft = m_nFftSize;
    if (nRate <= 0 || nFft <= 0) {
        return;
    }
    m_nDragHighHz = std::min(2 * m_nSpanHighHz.load(), nRate / 2);
    m_nDragLowHz = m_nSpanLowHz / 2;
    const double dLowFloor = nRate * 2.0 / nFft + 0.5;
    if (dLowFloor > m_nDragLowHz) {
        m_nDragLowHz = static_cast<int>(dLowFloor);
    }
    SetSpan(m_nDragLowHz, m_nDragHighHz);
}

// Both spins are set synchronously; the dialog's change handling brings the
// edges back into the view (and redraws the scale) before this returns.
void CSpectrumView::SetSpan(int nLowHz, int nHighHz) {
    if (m_pSpinSpanLow != nullptr) {
        m_pSpinSpanLow->setValue(nLowHz);
    }
    if (m_pSpinSpanHigh != nullptr) {
        m_pSpinSpanHigh->setValue(nHighHz);
    }
}

// --- Geometry -----------------------------------------------------------------

SSpanGeometry CSpectrumView::ComputeSpanGeometry() {
    const int nFft = m_nFftSize;
    SSpanGeometry geo{};
    geo.dBinWidth = static_cast<double>(m_nSampleRate) / nFft;
    m_dBinWidth = geo.dBinWidth;

    int nBinMax = static_cast<int>(m_nSpanHighHz / geo.dBinWidth + 0.5);
    if (nBinMax >= nFft / 2) {
        nBinMax = nFft / 2;
    }
    if (nBinMax <= 6) {
        nBinMax = 6;
    }
    int nBinLow = static_cast<int>(m_nSpanLowHz / geo.dBinWidth + 0.5);
    if (nBinLow >= nBinMax) {
        nBinLow = nBinMax - 2;
    }
    if (nBinLow <= 1) {
        nBinLow = 2;
    }
    geo.nBinLow = nBinLow;
    geo.nBinMax = nBinMax;
    geo.dXScale = (m_nWidth - 28) / std::log(static_cast<double>(nBinMax) / nBinLow);
    geo.nXOff = static_cast<int>(28 - geo.dXScale * std::log(static_cast<double>(nBinLow)));
    return geo;
}

bool CSpectrumView::FrequencyAt(int x, int* pHz) {
    if (m_nSampleRate <= 0 || m_nFftSize <= 0 || m_nWidth <= 28) {
        return false; // no run yet, or no room for an axis
    }
    const SSpanGeometry geo = ComputeSpanGeometry();
    const int e =
        x + static_cast<int>(geo.dXScale * std::log(static_cast<double>(geo.nBinLow)) - 28);
    const double dHz = geo.dBinWidth * std::exp(e / geo.dXScale);
    *pHz = static_cast<int>(std::clamp(dHz, 0.0, 1.0e9));
    return true;
}

// --- Back buffer and hand-over -----------------------------------------------

void CSpectrumView::BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                                 int nSampleRate) {
    // Waits for a frame in progress, so that none still reads the old channels.
    std::lock_guard lock(m_lockFrame);
    if (pLeft != nullptr) {
        m_nFftSize = nFftSize;
        m_nSampleRate = nSampleRate;
        if (nFftSize > 0) {
            m_dBinWidth = static_cast<double>(nSampleRate) / nFftSize;
        }
    }
    m_pRightChannel = pRight;
    m_pLeftChannel = pLeft;
    MapReference();
    // A repaint still pending for a frame of the old channels must draw anew:
    // after a Stop it shows the idle page, not the last spectrum.
    m_bFrameWaiting = false;
}

void CSpectrumView::ReleaseBackBuffer() {
    m_dcWindow.Detach();
    m_dcMemory.Detach();
    m_pWindowDC.reset();
    m_pBackImage.reset();
    m_aimgSpare[0] = QImage();
    m_aimgSpare[1] = QImage();
    m_bCanvasShown = false;
    for (SCanvasRecord& rec : m_aCanvasRecord) {
        rec = SCanvasRecord{};
    }
    m_recPresent = SCanvasRecord{};
}

// A buffer of the logical buffer size in device pixels, black.
QImage CSpectrumView::NewBuffer() const {
    const double dRatio = m_dBufferRatio;
    QImage img(std::max(static_cast<int>(std::lround(m_nBufferWidth * dRatio)), 1),
               std::max(static_cast<int>(std::lround(m_nBufferHeight * dRatio)), 1),
               QImage::Format_RGB32);
    img.setDevicePixelRatio(dRatio);
    img.fill(Qt::black);
    return img;
}

// Grows the bitmap by half again of the client size that outgrew it; never
// shrinks it, so that dragging a window edge does not rebuild it at every step.
// A new device pixel ratio rebuilds it at the same logical size.
void CSpectrumView::UpdateBackBuffer() {
    std::lock_guard lock(m_lockFrame);
    const int nWidth = width();
    const int nHeight = height();
    m_nPlotBottom = nHeight - 22;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    const double dRatio = m_dDevicePixelRatio;
    if (nWidth <= m_nBufferWidth && nHeight <= m_nBufferHeight && dRatio == m_dBufferRatio) {
        return;
    }
    ReleaseBackBuffer();
    m_pWindowDC = std::make_unique<CWindowDC>(static_cast<IWindowSurface*>(this));
    m_dcWindow.Attach(m_pWindowDC->GetSurface());
    if (m_nBufferWidth < nWidth) {
        m_nBufferWidth = static_cast<int>(1.5 * nWidth);
    }
    if (m_nBufferHeight < nHeight) {
        m_nBufferHeight = static_cast<int>(1.5 * nHeight);
    }
    m_dBufferRatio = dRatio;
    m_pBackImage = std::make_unique<QImage>(NewBuffer());
    m_aimgSpare[0] = NewBuffer();
    m_aimgSpare[1] = NewBuffer();
    m_dcMemory.Attach(m_pBackImage.get());
}

void CSpectrumView::SetDevicePixelRatio(double dRatio) {
    if (!(dRatio > 0.0) || dRatio == m_dDevicePixelRatio) {
        return;
    }
    m_dDevicePixelRatio = dRatio;
    RedrawAll();
}

// The window moved to another screen, or its screen changed its ratio.
void CSpectrumView::FollowScreenRatio() {
    const double dRatio = devicePixelRatioF();
    if (dRatio != m_dScreenRatio) {
        m_dScreenRatio = dRatio;
        SetDevicePixelRatio(dRatio);
    }
}

// --- Hand-over ------------------------------------------------------------------
//
// Three buffers take turns: the back buffer (m_pBackImage), which the drawing
// writes; the front, whose pixels the window reads, shared with the back buffer
// it came from; and the spares. A paint reads the front's pixels outside the
// lock and says which ones in m_pPaintedBits, so that no drawing picks them.

// Before drawing into a back buffer whose pixels the window may be reading,
// swap in a spare and bring over, from the picture last presented, the logical
// rectangles that the drawing will not cover.
void CSpectrumView::TakeFreshCanvas(std::initializer_list<QRect> aKeep) {
    const QImage* pShown = SwapInSpare();
    if (pShown == nullptr) {
        return;
    }
    for (const QRect& rc : aKeep) {
        m_dcMemory.CopyFrom(*pShown, rc.x(), rc.y(), rc.width(), rc.height());
    }
}

// Swaps a spare in for a back buffer whose pixels the window may be reading;
// returns the picture last presented, or null when the back buffer was not
// presented and can be drawn on as it is.
const QImage* CSpectrumView::SwapInSpare() {
    if (!m_bCanvasShown) {
        return nullptr;
    }
    QImage* pSpare = FreeSpare();
    m_pBackImage->swap(*pSpare);
    m_dcMemory.Attach(m_pBackImage.get());
    m_bCanvasShown = false;
    return pSpare;
}

// The record of the back buffer's pixels; a buffer not seen before holds
// nothing known.
CSpectrumView::SCanvasRecord& CSpectrumView::CanvasRecord() {
    const uchar* pBits = m_pBackImage->constBits();
    for (SCanvasRecord& rec : m_aCanvasRecord) {
        if (rec.pBits == pBits) {
            return rec;
        }
    }
    auto isBuffer = [this](const uchar* p) {
        return p == m_pBackImage->constBits() || p == m_aimgSpare[0].constBits() ||
               p == m_aimgSpare[1].constBits();
    };
    for (SCanvasRecord& rec : m_aCanvasRecord) {
        if (rec.pBits == nullptr || !isBuffer(rec.pBits)) {
            rec = SCanvasRecord{};
            rec.pBits = pBits;
            return rec;
        }
    }
    m_aCanvasRecord[0] = SCanvasRecord{};
    m_aCanvasRecord[0].pBits = pBits;
    return m_aCanvasRecord[0];
}

// The logical pixels that cover a region of device pixels.
QRegion CSpectrumView::LogicalRegion(const QRegion& rgnDevice) const {
    const double dRatio = m_dBufferRatio;
    if (dRatio == 1.0) {
        return rgnDevice;
    }
    QRegion rgn;
    for (const QRect& rc : rgnDevice) {
        const int l = static_cast<int>(std::floor(rc.left() / dRatio));
        const int t = static_cast<int>(std::floor(rc.top() / dRatio));
        const int r = static_cast<int>(std::ceil((rc.right() + 1) / dRatio));
        const int b = static_cast<int>(std::ceil((rc.bottom() + 1) / dRatio));
        rgn |= QRect(l, t, r - l, b - t);
    }
    return rgn;
}

// A spare that no paint is reading: the front is the back buffer's (it was
// presented last), and a paint reads at most one older picture.
QImage* CSpectrumView::FreeSpare() {
    std::lock_guard lock(m_lockFront);
    return m_aimgSpare[0].constBits() == m_pPaintedBits ? &m_aimgSpare[1] : &m_aimgSpare[0];
}

// Called by the window DC's BitBlt at the end of a frame, on either thread.
void CSpectrumView::Present(const QImage& imgSource, const QRect& rcSource, const QPoint& ptDest) {
    const QRect rcShown = rcSource.intersected(imgSource.rect());
    if (rcShown.isEmpty() || ptDest != QPoint(0, 0)) {
        return; // the view shows its buffer from the top-left corner only
    }
    {
        std::lock_guard lock(m_lockFront);
        // Between two running frames of one layout only their changing parts
        // differ; anything else may differ anywhere.
        const bool bSameLayout =
            m_recPresent.bFrame && m_recFront.bFrame && m_recPresent.layout == m_recFront.layout;
        if (bSameLayout) {
            m_rgnDamage |= m_recPresent.rgnChanging;
            m_rgnDamage |= m_recFront.rgnChanging;
        } else {
            m_bDamageAll = true;
        }
        m_imgFront = imgSource;
        m_rcFront = rcShown;
        m_recFront = m_recPresent;
    }
    m_bCanvasShown = true;
    AnnounceFrame();
}

// Asks for a repaint unless one is already on its way; a paint under way
// shows the frame anyway.
void CSpectrumView::AnnounceFrame() {
    const bool bOwnThread = QThread::currentThread() == thread();
    if (bOwnThread && m_bInPaint) {
        return;
    }
    MarkFrameWaiting();
    if (m_bRepaintPosted.exchange(true)) {
        return;
    }
    if (bOwnThread) {
        ScheduleRepaint();
    } else {
        QMetaObject::invokeMethod(this, "ScheduleRepaint", Qt::QueuedConnection);
    }
}

// At most one paint per screen refresh: a frame that comes sooner is painted
// when the refresh is over.
void CSpectrumView::ScheduleRepaint() {
    const qint64 nWaitNs = m_clockPaint.isValid() ? RefreshNs() - m_clockPaint.nsecsElapsed() : 0;
    if (nWaitNs <= 0) {
        AskForPaint(DamageToPaint());
    } else if (!m_timerRepaint.isActive()) {
        m_timerRepaint.start(static_cast<int>((nWaitNs + 999999) / 1000000));
    }
}

qint64 CSpectrumView::RefreshNs() const {
    const QScreen* pScreen = screen();
    const double dHz =
        pScreen != nullptr && pScreen->refreshRate() >= 1.0 ? pScreen->refreshRate() : 60.0;
    return static_cast<qint64>(1e9 / dHz);
}

// --- Pace of the frames -------------------------------------------------------

// Asked by every pass of the acquisition cycle. A frame drawn now is painted
// at the first refresh after the last paint; when the next pass, and the time
// a frame takes, still fit before that refresh, the next pass draws it from
// newer arrays. The first pass after a gap (a new cycle) draws at once.
bool CSpectrumView::IsFrameWanted() {
    const qint64 nNow = SteadyNs();
    const qint64 nSinceAsked = nNow - m_nAskedNs.exchange(nNow);
    if (!m_bShown.load()) {
        return false;
    }
    if (m_bFrameWaiting.load()) {
        if (!IsNeverAskedFor(nNow)) {
            return false;
        }
        RecoverPacing("and the window was not asked to paint it");
        return true;
    }
    const qint64 nDue = m_nPaintedNs.load() + m_nRefreshNs.load();
    return nNow + nSinceAsked + m_nFrameNs.load() >= nDue;
}

// A presented frame now waits for its paint, from this moment on. The time
// is stored first: whoever sees the flag sees this wait's start or a later one.
void CSpectrumView::MarkFrameWaiting() {
    m_nWaitingSinceNs = SteadyNs();
    m_bFrameWaiting = true;
}

// Asks Qt for a paint of rgn, and watches for it (user-interface thread).
void CSpectrumView::AskForPaint(const QRegion& rgn) {
    m_nPaintAskedNs = SteadyNs();
    update(rgn);
    m_timerStall.start(static_cast<int>(kStallRefreshes * RefreshNs() / 1000000));
}

// No paint came kStallRefreshes refreshes after one was asked for. A thread
// that was busy meanwhile may still hold the request: it is handled first.
// What is left was dropped, or the platform never sent the paint.
void CSpectrumView::OnPaintOverdue() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    if (m_bFrameWaiting.load() && m_bShown.load()) {
        RecoverPacing("and the window was asked to paint it, but no paint came");
        update(visibleRegion());
    }
}

// Whether the frame waiting has waited kBusyRefreshes since it was presented
// without the user-interface thread asking Qt to paint it: a request that
// went astray.
bool CSpectrumView::IsNeverAskedFor(qint64 nNow) const {
    const qint64 nSince = m_nWaitingSinceNs.load();
    return m_nPaintAskedNs.load() < nSince && nNow - nSince >= kBusyRefreshes * m_nRefreshNs.load();
}

// The paint a presented frame waits for is overdue while the window could be
// seen. The next frame is drawn anyway and the whole window is asked for, so
// that the picture never stops; said once until a paint comes.
void CSpectrumView::RecoverPacing(const char* pszWhy) {
    if (!m_bRecovering.exchange(true)) {
        qCDebug(lcPacing).nospace()
            << "a frame presented " << (SteadyNs() - m_nWaitingSinceNs.load()) / 1000000
            << " ms ago has not been painted, " << pszWhy
            << "; drawing the next one and repainting the whole window";
    }
    {
        std::lock_guard lock(m_lockFront);
        m_bDamageAll = true;
    }
    m_bRepaintPosted = false;
    m_bFrameWaiting = false;
}

bool CSpectrumView::CanBeSeen() const {
    const QWidget* pTop = window();
    const QWindow* pWindow = pTop->windowHandle();
    return isVisible() && !pTop->isMinimized() && pWindow != nullptr && pWindow->isExposed();
}

// Moves the view's event filter from what a pointer watched to what it is to
// watch now.
void CSpectrumView::Watch(QPointer<QObject>& pWatched, QObject* pNow) {
    if (pWatched == pNow) {
        return;
    }
    if (pWatched != nullptr) {
        pWatched->removeEventFilter(this);
    }
    pWatched = pNow;
    if (pNow != nullptr) {
        pNow->installEventFilter(this);
    }
}

// The top-level widget and its window may change (the view is put in another
// window, or its window is made anew for other flags); each show looks again.
void CSpectrumView::WatchWindow() {
    QWidget* pTop = window();
    // The view's own events come anyway.
    Watch(m_pWatchedWidget, pTop != this ? pTop : nullptr);
    Watch(m_pWatchedWindow, pTop->windowHandle());
}

// Frames stop as soon as the view cannot be seen. When it can again, a paint
// is asked for: it draws a current frame, and from then on frames flow.
void CSpectrumView::FollowVisibility() {
    if (!CanBeSeen()) {
        m_bShown = false;
    } else if (!m_bShown) {
        update();
    }
}

// What the window must paint to show the front: where they may differ, of
// what Qt can paint. Qt sends no paint for a region it cannot paint, and a
// frame would then wait for one in vain.
QRegion CSpectrumView::DamageToPaint() const {
    const QRegion rgnPaintable = visibleRegion();
    std::lock_guard lock(m_lockFront);
    return m_bDamageAll || m_rgnDamage.isEmpty() ? rgnPaintable : m_rgnDamage & rgnPaintable;
}

// Paints the front 1:1 in device pixels, holding the lock only to take it.
// Qt paints only rgnPainted; whatever else of the front the window lacks, of
// what Qt can paint, is asked for at once (for the window, bWindow, only).
void CSpectrumView::ShowFront(QPainter& painter, const QRegion& rgnPainted, bool bWindow) {
    QImage img;
    QRect rc;
    QRegion rgnLeft;
    const QRegion rgnPaintable = bWindow ? visibleRegion() : QRegion();
    {
        std::lock_guard lock(m_lockFront);
        img = m_imgFront;
        rc = m_rcFront;
        m_pPaintedBits = img.constBits();
        if (bWindow) {
            rgnLeft = (m_bDamageAll ? rgnPaintable : m_rgnDamage & rgnPaintable) - rgnPainted;
            m_rgnDamage = rgnLeft;
            m_bDamageAll = false;
        }
    }
    // A rectangle at a time: under a clip of one rectangle the picture is
    // copied line by line, where a clip of several would have Qt blend it
    // span by span, on threads of its own for larger areas.
    for (const QRect& rcPainted : rgnPainted) {
        painter.setClipRect(rcPainted);
        painter.drawImage(QPointF(0, 0), img, QRectF(rc));
    }
    painter.setClipping(false);
    const double dRatio = img.isNull() ? 1.0 : img.devicePixelRatio();
    const double dWidth = rc.width() / dRatio;
    const double dHeight = rc.height() / dRatio;
    if (dWidth < width()) {
        painter.fillRect(QRectF(dWidth, 0, width() - dWidth, height()), Qt::black);
    }
    if (dHeight < height()) {
        painter.fillRect(QRectF(0, dHeight, width(), height() - dHeight), Qt::black);
    }
    painter.end();
    img = QImage();
    {
        std::lock_guard lock(m_lockFront);
        m_pPaintedBits = nullptr;
    }
    if (!rgnLeft.isEmpty()) {
        MarkFrameWaiting();
        m_bRepaintPosted = true;
        AskForPaint(rgnLeft);
    }
}

QImage CSpectrumView::FrontImage() const {
    std::lock_guard lock(m_lockFront);
    return m_imgFront.copy(m_rcFront);
}

void CSpectrumView::SetReference(std::shared_ptr<const CReferenceSpectrum> pReference) {
    std::lock_guard lock(m_lockFrame);
    m_pReference = std::move(pReference);
    MapReference();
}

// Under m_lockFrame: the reference's level at bins 0 to N/2 of the run.
void CSpectrumView::MapReference() {
    const int nFftSize = m_nFftSize;
    if (m_pReference == nullptr || nFftSize <= 0) {
        m_adReference.clear();
        return;
    }
    m_pReference->MapOntoBins(m_dBinWidth, nFftSize / 2 + 1, m_adReference);
}
