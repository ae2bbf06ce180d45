#pragma once

#include "platform/GdiTypes.h"

// A solid brush.
class CBrush {
public:
    CBrush() = default;
    explicit CBrush(COLORREF crColour) { CreateSolidBrush(crColour); }

    bool CreateSolidBrush(COLORREF crColour) {
        m_crColour = crColour;
        m_bCreated = true;
        return true;
    }
    const void* GetSafeHandle() const { return m_bCreated ? this : nullptr; }
    COLORREF GetColour() const { return m_crColour; }

private:
    bool m_bCreated = false;
    COLORREF m_crColour = RGB(255, 255, 255);
};
