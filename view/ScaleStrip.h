#pragma once

#include "platform/DC.h"
#include "view/SpanGeometry.h"

// The frame around the plot: the grey left margin, the 22-pixel strip under
// the plot with a tick at transform bins and labels in Hz, and the two axis
// lines. Frames leave all of it alone, so it is drawn only when the run
// starts, the span changes or the view is resized.
class COctaveBands;

class CScaleStrip {
public:
    // With bRound, round labels (CRoundLabels) stand in place of the bins'
    // own, or with pBands the bands' names; the short ticks stay.
    static void Draw(CDC& dc, const SSpanGeometry& geo, int nWidth, int nHeight, int nPlotBottom,
                     const CPen& penScale, bool bRound = false,
                     const COctaveBands* pBands = nullptr);
};
