#include "view/FrameHandOver.h"

#include "platform/Clock.h"

#include <QBackingStore>
#include <QCoreApplication>
#include <QMetaObject>
#include <QPaintEngine>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <chrono>

Q_LOGGING_CATEGORY(lcPacing, "vemra.view.pacing")

CFrameHandOver::CFrameHandOver(QWidget* pView) : QObject(pView), m_pView(pView) {
    m_timerRepaint.setSingleShot(true);
    m_timerRepaint.setTimerType(Qt::PreciseTimer);
    connect(&m_timerRepaint, &QTimer::timeout, this, [this] { AskForPaint(DamageToPaint()); });
    m_timerStall.setSingleShot(true);
    connect(&m_timerStall, &QTimer::timeout, this, &CFrameHandOver::OnPaintOverdue);
}

// --- Buffers ----------------------------------------------------------------------

void CFrameHandOver::SetBuffers(QImage* pBack, CDC* pdcMemory, QImage imgSpare0, QImage imgSpare1) {
    m_pBack = pBack;
    m_pdcMemory = pdcMemory;
    m_aimgSpare[0] = std::move(imgSpare0);
    m_aimgSpare[1] = std::move(imgSpare1);
    m_bCanvasShown = false;
    for (SCanvasRecord& rec : m_aCanvasRecord) {
        rec = SCanvasRecord{};
    }
}

void CFrameHandOver::TakeFreshCanvas(std::initializer_list<QRect> aKeep) {
    const QImage* pShown = SwapInSpare();
    if (pShown == nullptr) {
        return;
    }
    for (const QRect& rc : aKeep) {
        m_pdcMemory->CopyFrom(*pShown, rc.x(), rc.y(), rc.width(), rc.height());
    }
}

const QImage* CFrameHandOver::SwapInSpare() {
    if (!m_bCanvasShown) {
        return nullptr;
    }
    QImage* pSpare = FreeSpare();
    m_pBack->swap(*pSpare);
    m_pdcMemory->Attach(m_pBack);
    m_bCanvasShown = false;
    return pSpare;
}

// A spare that no paint is reading: the front is the back buffer's (it was
// presented last), and a paint reads at most one older picture.
QImage* CFrameHandOver::FreeSpare() {
    std::lock_guard lock(m_lockFront);
    return m_aimgSpare[0].constBits() == m_pPaintedBits ? &m_aimgSpare[1] : &m_aimgSpare[0];
}

// A buffer not seen before holds nothing known.
CFrameHandOver::SCanvasRecord& CFrameHandOver::CanvasRecord() {
    const uchar* pBits = m_pBack->constBits();
    for (SCanvasRecord& rec : m_aCanvasRecord) {
        if (rec.pBits == pBits) {
            return rec;
        }
    }
    auto isBuffer = [this](const uchar* p) {
        return p == m_pBack->constBits() || p == m_aimgSpare[0].constBits() ||
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

const CFrameHandOver::SCanvasRecord* CFrameHandOver::RecordOf(const uchar* pBits) const {
    for (const SCanvasRecord& rec : m_aCanvasRecord) {
        if (rec.pBits == pBits) {
            return &rec;
        }
    }
    return nullptr;
}

// Called by the window DC's BitBlt at the end of a frame, on either thread,
// under the frame lock.
void CFrameHandOver::Present(const QImage& imgSource, const QRect& rcSource, const QPoint& ptDest) {
    const QRect rcShown = rcSource.intersected(imgSource.rect());
    if (rcShown.isEmpty() || ptDest != QPoint(0, 0)) {
        return; // the view shows its buffer from the top-left corner only
    }
    const SCanvasRecord* pRecord = RecordOf(imgSource.constBits());
    const SCanvasRecord rec = pRecord != nullptr ? *pRecord : SCanvasRecord{};
    {
        std::lock_guard lock(m_lockFront);
        // Between two running frames of one layout only their changing parts
        // differ; anything else may differ anywhere.
        if (rec.bFrame && m_recFront.bFrame && rec.layout == m_recFront.layout) {
            m_rgnDamage |= rec.rgnChanging;
            m_rgnDamage |= m_recFront.rgnChanging;
        } else {
            m_bDamageAll = true;
        }
        m_imgFront = imgSource;
        m_rcFront = rcShown;
        m_recFront = rec;
    }
    m_bCanvasShown = true;
    ++m_nPresented;
    AnnounceFrame();
}

// --- Painting ---------------------------------------------------------------------

// A paint that follows a presented frame only shows it; one that Qt asks for
// by itself (expose, resize) draws the frame again first, and so does the
// first paint since the window came back: what waited meanwhile is old. A
// picture taken of the view (grab, render) leaves the window's paints alone.
void CFrameHandOver::Paint(QPaintEvent* pEvent, const std::function<void()>& fnDrawAnew) {
    QPainter painter(m_pView);
    const auto drawAnew = [&] {
        m_bInPaint = true;
        fnDrawAnew();
        m_bInPaint = false;
    };
    if (!PaintsWindow(painter)) {
        // A hidden view's front may be old: draw anew.
        if (!m_bShown) {
            drawAnew();
        }
        ShowFront(painter, pEvent->region(), false);
        return;
    }
    m_clockPaint.start();
    m_timerRepaint.stop();
    m_timerStall.stop();
    m_bRepaintPosted = false;
    m_bRecovering = false;
    const bool bFrameWaiting = m_bFrameWaiting.exchange(false);
    if (!bFrameWaiting || !m_bShown) {
        drawAnew();
    }
    ShowFront(painter, pEvent->region(), true);
    m_nRefreshNs = RefreshNs();
    m_nPaintedNs = SteadyNs();
    m_bShown = CanBeSeen();
}

// Whether a paint goes to the window, rather than into a picture of it.
bool CFrameHandOver::PaintsWindow(const QPainter& painter) const {
    QBackingStore* pStore = m_pView->backingStore();
    const QPaintEngine* pEngine = painter.paintEngine();
    return pStore != nullptr && pEngine != nullptr &&
           pEngine->paintDevice() == pStore->paintDevice();
}

// Paints the front 1:1 in device pixels, holding the lock only to take it.
// Qt paints only rgnPainted; whatever else of the front the window lacks, of
// what Qt can paint, is asked for at once (for the window, bWindow, only).
void CFrameHandOver::ShowFront(QPainter& painter, const QRegion& rgnPainted, bool bWindow) {
    QImage img;
    QRect rc;
    QRegion rgnLeft;
    const QRegion rgnPaintable = bWindow ? m_pView->visibleRegion() : QRegion();
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
    const int nWidth = m_pView->width();
    const int nHeight = m_pView->height();
    if (dWidth < nWidth) {
        painter.fillRect(QRectF(dWidth, 0, nWidth - dWidth, nHeight), Qt::black);
    }
    if (dHeight < nHeight) {
        painter.fillRect(QRectF(0, dHeight, nWidth, nHeight - dHeight), Qt::black);
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

QImage CFrameHandOver::FrontImage() const {
    std::lock_guard lock(m_lockFront);
    return m_imgFront.copy(m_rcFront);
}

// What the window must paint to show the front: where they may differ, of
// what Qt can paint. Qt sends no paint for a region it cannot paint, and a
// frame would then wait for one in vain.
QRegion CFrameHandOver::DamageToPaint() const {
    const QRegion rgnPaintable = m_pView->visibleRegion();
    std::lock_guard lock(m_lockFront);
    return m_bDamageAll || m_rgnDamage.isEmpty() ? rgnPaintable : m_rgnDamage & rgnPaintable;
}

// --- Asking for paints ------------------------------------------------------------

// Asks for a repaint unless one is already on its way; a paint under way
// shows the frame anyway.
void CFrameHandOver::AnnounceFrame() {
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
void CFrameHandOver::ScheduleRepaint() {
    const qint64 nWaitNs = m_clockPaint.isValid() ? RefreshNs() - m_clockPaint.nsecsElapsed() : 0;
    if (nWaitNs <= 0) {
        AskForPaint(DamageToPaint());
    } else if (!m_timerRepaint.isActive()) {
        m_timerRepaint.start(static_cast<int>((nWaitNs + 999999) / 1000000));
    }
}

qint64 CFrameHandOver::RefreshNs() const {
    const QScreen* pScreen = m_pView->screen();
    const double dHz =
        pScreen != nullptr && pScreen->refreshRate() >= 1.0 ? pScreen->refreshRate() : 60.0;
    return static_cast<qint64>(1e9 / dHz);
}

// A presented frame now waits for its paint, from this moment on. The time
// is stored first: whoever sees the flag sees this wait's start or a later one.
void CFrameHandOver::MarkFrameWaiting() {
    m_nWaitingSinceNs = SteadyNs();
    m_bFrameWaiting = true;
}

// Asks Qt for a paint of rgn, and watches for it (user-interface thread).
void CFrameHandOver::AskForPaint(const QRegion& rgn) {
    m_nPaintAskedNs = SteadyNs();
    m_pView->update(rgn);
    m_timerStall.start(static_cast<int>(kStallRefreshes * RefreshNs() / 1000000));
}

// --- Pace and recovery ------------------------------------------------------------

bool CFrameHandOver::IsFrameWanted(qint64 nPassIntervalNs) {
    const qint64 nNow = SteadyNs();
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
    return nNow + nPassIntervalNs + m_nFrameNs.load() >= nDue;
}

// No paint came kStallRefreshes refreshes after one was asked for. A thread
// that was busy meanwhile may still hold the request: it is handled first.
// What is left was dropped, or the platform never sent the paint.
void CFrameHandOver::OnPaintOverdue() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
    if (m_bFrameWaiting.load() && m_bShown.load()) {
        RecoverPacing("and the window was asked to paint it, but no paint came");
        m_pView->update(m_pView->visibleRegion());
    }
}

// Whether the frame waiting has waited kBusyRefreshes since it was presented
// without the user-interface thread asking Qt to paint it: a request that
// went astray.
bool CFrameHandOver::IsNeverAskedFor(qint64 nNow) const {
    const qint64 nSince = m_nWaitingSinceNs.load();
    return m_nPaintAskedNs.load() < nSince && nNow - nSince >= kBusyRefreshes * m_nRefreshNs.load();
}

// The next frame is drawn anyway and the whole window is asked for, so that
// the picture never stops; said once until a paint comes.
void CFrameHandOver::RecoverPacing(const char* pszWhy) {
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

// --- Visibility -------------------------------------------------------------------

void CFrameHandOver::OnShow() {
    WatchWindow();
    FollowVisibility();
}

// The top-level widget and its window tell when the view stops being seen:
// hidden, minimised, unmapped, on another workspace or covered where the
// platform says so (the window is then not exposed).
bool CFrameHandOver::eventFilter(QObject* pWatched, QEvent* pEvent) {
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
    return QObject::eventFilter(pWatched, pEvent);
}

bool CFrameHandOver::CanBeSeen() const {
    const QWidget* pTop = m_pView->window();
    const QWindow* pWindow = pTop->windowHandle();
    return m_pView->isVisible() && !pTop->isMinimized() && pWindow != nullptr &&
           pWindow->isExposed();
}

// Moves the event filter from what a pointer watched to what it is to watch
// now.
void CFrameHandOver::Watch(QPointer<QObject>& pWatched, QObject* pNow) {
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
void CFrameHandOver::WatchWindow() {
    QWidget* pTop = m_pView->window();
    // The view's own events come anyway.
    Watch(m_pWatchedWidget, pTop != m_pView ? pTop : nullptr);
    Watch(m_pWatchedWindow, pTop->windowHandle());
}

// Frames stop as soon as the view cannot be seen. When it can again, a paint
// is asked for: it draws a current frame, and from then on frames flow.
void CFrameHandOver::FollowVisibility() {
    if (!CanBeSeen()) {
        m_bShown = false;
    } else if (!m_bShown) {
        m_pView->update();
    }
}
