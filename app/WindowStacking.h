#pragma once

#include "app/StayOnTop.h"

class CSpectrumView;
class QWidget;

// Keeps a window above all others while compact mode lasts. Where the desktop
// does not grant that, the plot says once in a run how to get the window on
// top by the desktop's own means.
class CWindowStacking {
public:
    static constexpr const char* kNoTopmostText =
        "This desktop does not let programs stay on top: use the window menu's 'Always on top'.";
    static constexpr int kNoticeMs = 6000;

    CWindowStacking(QWidget* pWindow, CSpectrumView* pView, bool bCanStayOnTop);

    void SetTopmost(bool bTopmost);
    bool IsTopmost() const;

private:
    QWidget* m_pWindow;
    CSpectrumView* m_pView;
    bool m_bCanStayOnTop;
    bool m_bToldNoTopmost = false;
};
