#pragma once

class QImage;
class QPoint;
class QRect;

// What a window offers its device context: a place that takes finished
// pictures. Present may be called from any thread with a rectangle in the
// image's device pixels; the window shows it at its next paint. A window may
// keep the image's pixels rather than copy them: the caller then leaves them
// unchanged until it has presented another image.
class IWindowSurface {
public:
    virtual void Present(const QImage& imgSource, const QRect& rcSource, const QPoint& ptDest) = 0;

protected:
    ~IWindowSurface() = default;
};
