#include "app/WindowStacking.h"

#include <QWidget>
#include <QWindow>

#include <utility>

#include "view/SpectrumView.h"

CWindowStacking::CWindowStacking(QWidget* pWindow, CSpectrumView* pView, bool bCanStayOnTop)
    : m_pWindow(pWindow), m_pView(pView), m_bCanStayOnTop(bCanStayOnTop) {}

bool CWindowStacking::IsTopmost() const {
    return m_pWindow->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

void CWindowStacking::SetTopmost(bool bTopmost) {
    Qt::WindowFlags flags = m_pWindow->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, bTopmost);
    if (QWindow* pWindow = m_pWindow->windowHandle()) {
        // Changing the widget's flags would hide the window and show it
        // anew; the window itself changes its band in place.
        m_pWindow->overrideWindowFlags(flags);
        pWindow->setFlags(flags);
    } else {
        m_pWindow->setWindowFlags(flags);
    }
    // Where the desktop ignores the request, the user is told once how to
    // get the window on top instead.
    if (bTopmost && !m_bCanStayOnTop && !std::exchange(m_bToldNoTopmost, true))
        m_pView->ShowNotice(kNoTopmostText, kNoticeMs);
}
