#pragma once

#include "platform/GdiTypes.h"

// A cosmetic pen: solid and one pixel wide, the only kind the display uses. A
// pen that was never created has no handle and cannot be selected.
class CPen {
public:
    CPen() = default;
    CPen(int nStyle, int nWidth, COLORREF crColour) { CreatePen(nStyle, nWidth, crColour); }

    bool CreatePen(int /*nStyle*/, int /*nWidth*/, COLORREF crColour) {
        m_crColour = crColour;
        m_bCreated = true;
        return true;
    }
    const void* GetSafeHandle() const { return m_bCreated ? this : nullptr; }
    COLORREF GetColour() const { return m_crColour; }

private:
    bool m_bCreated = false;
    COLORREF m_crColour = RGB(0, 0, 0);
};
