#pragma once

#include "platform/DC.h"
#include "view/Frame.h"

#include <string>

// In a level unit, the unit's name or the level meter's figures at the plot's
// top left.
class CLevelReadout {
public:
    // The meter's readout in the frame's unit, e.g. "RMS -20.4  Peak -13.4
    // dBFS" or "LAF 72.4  LAeq 70.1  LAFmax 80.3 dB", and the time it could
    // not hear where there was any.
    static std::string MeterText(const SFrame& f);
    // On the first text row at the left, after the test signal's name. Where
    // it would run into the statistics line (which begins at nRightEnd) it
    // takes the first free row below: under the cursor's level in the modes
    // without the peak readout, under that readout in mode 1. Returns the
    // first row at the left that is free under it.
    static int DrawCaption(CDC& dc, const SFrame& f, int nRightEnd);
};
