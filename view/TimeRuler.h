#pragma once

#include "platform/DC.h"
#include "platform/Pen.h"
#include "view/Frame.h"

// The time ruler in the label strip beside the spectrogram: a tick for each
// second before now, numbered where there is room. It stands still while the
// rows move under it, as a time axis does.
class CTimeRuler {
public:
    // Fills the strip on the margin's grey from the line under the spectrum
    // down to the axis, and draws the ticks with penScale.
    static void Draw(CDC& dc, const SFrame& f, const CPen& penScale);
};
