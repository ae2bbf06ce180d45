#pragma once

class QImage;
class QPoint;
class QRect;

// What a window offers its device context: a place that takes finished
// pictures. Present may be called from any thread; the window copies the
// rectangle and shows it at its next paint.
class IWindowSurface {
public:
    virtual void Present(const QImage& imgSource, const QRect& rcSource, const QPoint& ptDest) = 0;

protected:
    ~IWindowSurface() = default;
};
