#pragma once

#include "platform/GdiTypes.h"

// A cosmetic pen: solid and one pixel wide, the only kind the display uses. A
// pen that was never created has no handle and cannot be selected.
//
// At a device pixel ratio above 1 a line is the whole number of device pixels
// that fits in one logical pixel; a pen that covers its logical pixels draws
// lines as thick as the device pixels that a logical pixel touches.
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
    void SetCoversLogicalPixels(bool bCovers) { m_bCoversLogicalPixels = bCovers; }
    bool CoversLogicalPixels() const { return m_bCoversLogicalPixels; }

private:
    bool m_bCreated = false;
    COLORREF m_crColour = RGB(0, 0, 0);
    bool m_bCoversLogicalPixels = false;
};
