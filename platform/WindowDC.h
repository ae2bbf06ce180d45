#pragma once

#include "platform/DC.h"

// The device context of a window: all it can do is take block copies, which go
// to the window's surface.
class CWindowDC : public CDC {
public:
    explicit CWindowDC(IWindowSurface* pSurface) { Attach(pSurface); }
    IWindowSurface* GetSurface() const { return m_pWindow; }
};
