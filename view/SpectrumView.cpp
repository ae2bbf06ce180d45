#include "view/SpectrumView.h"

#include "view/BuildInfo.h"

#include "analysis/AnalysisChannel.h"
#include "analysis/BinWidth.h"

#include <QMouseEvent>
#include <QSpinBox>
#include <algorithm>
#include <cmath>

CSpectrumView::CSpectrumView(QWidget* pParent)
    : QWidget(pParent), m_strWebAddress(g_szWebAddress), m_handOver(this),
      m_frameThread(
          [this](std::int64_t nPassIntervalNs) {
              return m_handOver.IsFrameWanted(nPassIntervalNs);
          },
          [this](int nFlags) { RenderFrame(nFlags); }) {
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
        m_handOver.FollowVisibility(); // the view is a window of its own
    }
    return bResult;
}

void CSpectrumView::showEvent(QShowEvent*) {
    m_handOver.OnShow();
}

void CSpectrumView::hideEvent(QHideEvent*) {
    m_handOver.OnHide();
}

void CSpectrumView::paintEvent(QPaintEvent* pEvent) {
    FollowScreenRatio();
    m_handOver.Paint(pEvent, [this] { OnPaint(); });
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

// Ctrl-clicks place and remove markers, and never reach the span gestures.
void CSpectrumView::mousePressEvent(QMouseEvent* pEvent) {
    m_bMarkerClick = (pEvent->modifiers() & Qt::ControlModifier) != 0;
    if (m_bMarkerClick) {
        const int x = pEvent->position().toPoint().x();
        if (pEvent->button() == Qt::LeftButton) {
            PlaceMarker((pEvent->modifiers() & Qt::ShiftModifier) != 0 ? 1 : 0, x);
        } else if (pEvent->button() == Qt::RightButton) {
            RemoveMarkerNear(x);
        }
        return;
    }
    if (pEvent->button() == Qt::LeftButton) {
        OnLButtonDown(0, pEvent->position().toPoint());
    }
}

void CSpectrumView::mouseReleaseEvent(QMouseEvent* pEvent) {
    const QPoint point = pEvent->position().toPoint();
    if (m_bMarkerClick || !rect().contains(point)) {
        return;
    }
    if (pEvent->button() == Qt::LeftButton) {
        OnLButtonUp(0, point);
    } else if (pEvent->button() == Qt::RightButton) {
        OnRButtonUp(0, point);
    }
}

void CSpectrumView::mouseDoubleClickEvent(QMouseEvent* pEvent) {
    // A quick second Ctrl-click is a click again.
    if ((pEvent->modifiers() & Qt::ControlModifier) != 0) {
        mousePressEvent(pEvent);
        return;
    }
    m_bMarkerClick = false;
    if (pEvent->button() == Qt::LeftButton) {
        OnLButtonDblClk(0, pEvent->position().toPoint());
    } else if (pEvent->button() == Qt::RightButton) {
        OnRButtonDblClk(0, pEvent->position().toPoint());
    }
}

// --- Handlers -----------------------------------------------------------------

// The view is going away: no frame is drawn any more, one in progress is
// waited for, and nothing is left for a late frame to draw into or show.
void CSpectrumView::OnDestroy() {
    m_frameThread.Stop();
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
    EndFreeze();
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
    EndFreeze();
}

// The dialog switches compact mode; it hears of it after this gesture's own
// events (its connection is queued).
void CSpectrumView::OnRButtonDblClk(unsigned /*nFlags*/, QPoint /*point*/) {
    emit CompactModeRequested();
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

// --- Settings and geometry ------------------------------------------------------

bool CSpectrumView::ApplySettings(const SViewSettings& s) {
    m_nSampleRate = s.nSampleRate;
    m_nFftSize = s.nFftSize;
    if (m_nSpanLowHz != s.nSpanLowHz || m_nSpanHighHz != s.nSpanHighHz) {
        m_nSpanLowHz = s.nSpanLowHz;
        m_nSpanHighHz = s.nSpanHighHz;
        EndFreeze();
        DrawScale();
    }
    const bool bHoldOn = s.bHold && m_bHold == 0;
    if (bHoldOn) {
        for (CBandHold& hold : m_aBandHold) {
            hold.Clear();
        }
    }
    m_bHold = s.bHold ? 1 : 0;
    m_nYScale = s.nYScale;
    m_nOffsetRight = s.nOffsetRight;
    m_nOffset = s.nOffset;
    m_nMinXSpace = s.nMinXSpace;
    return bHoldOn;
}

SSpanGeometry CSpectrumView::ComputeSpanGeometry() const {
    return SSpanGeometry::Of(m_nSampleRate, m_nFftSize, m_nSpanLowHz, m_nSpanHighHz, m_nWidth);
}

bool CSpectrumView::FrequencyAt(int x, int* pHz) const {
    if (m_nSampleRate <= 0 || m_nFftSize <= 0 || m_nWidth <= 28) {
        return false; // no run yet, or no room for an axis
    }
    *pHz = ComputeSpanGeometry().HzAt(x);
    return true;
}

// --- Channels and buffers -----------------------------------------------------

// No frame reads channels that go, or draws the new ones before they are all
// here: the frame thread runs exactly while channels are bound.
void CSpectrumView::BindChannels(CAnalysisChannel* pLeft, CAnalysisChannel* pRight, int nFftSize,
                                 int nSampleRate) {
    m_frameThread.Stop();
    EndFreeze(); // a run's end, or a new run
    {
        std::lock_guard lock(m_lockFrame);
        if (pLeft != nullptr) {
            m_nFftSize = nFftSize;
            m_nSampleRate = nSampleRate;
            m_dBinWidth = BinWidthHz(nSampleRate, nFftSize);
        }
        m_pRightChannel = pRight;
        m_pLeftChannel = pLeft;
        const int nFft = m_nFftSize;
        m_referenceLine.MapOntoBins(m_dBinWidth, nFft > 0 ? nFft / 2 + 1 : 0);
        // A repaint still pending for a frame of the old channels must draw
        // anew: after a Stop it shows the idle page, not the last spectrum.
        m_handOver.ForgetWaitingFrame();
    }
    if (pLeft != nullptr) {
        // A run's history and holds start with the run.
        m_spectrogram.Clear();
        for (CBandHold& hold : m_aBandHold) {
            hold.Clear();
        }
        if (m_bSpectrogram) {
            FollowSpectrogramShape();
        }
        m_frameThread.Start();
    }
}

void CSpectrumView::ReleaseBackBuffer() {
    m_dcWindow.Detach();
    m_dcMemory.Detach();
    m_pWindowDC.reset();
    m_pBackImage.reset();
    m_handOver.SetBuffers(nullptr, nullptr, QImage(), QImage());
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
    m_pWindowDC = std::make_unique<CWindowDC>(&m_handOver);
    m_dcWindow.Attach(m_pWindowDC->GetSurface());
    if (m_nBufferWidth < nWidth) {
        m_nBufferWidth = static_cast<int>(1.5 * nWidth);
    }
    if (m_nBufferHeight < nHeight) {
        m_nBufferHeight = static_cast<int>(1.5 * nHeight);
    }
    m_dBufferRatio = dRatio;
    m_pBackImage = std::make_unique<QImage>(NewBuffer());
    m_handOver.SetBuffers(m_pBackImage.get(), &m_dcMemory, NewBuffer(), NewBuffer());
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
