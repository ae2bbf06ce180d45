#pragma once

#include <algorithm>
#include <cmath>

// Where a power value stands on the level grid the frames draw (a line every
// 10 dB, 0 dB at an eighth of the plot's height), for the run's offset and
// Y-scale. The frames place a value at a pixel row, and the cursor readout
// reads the row back; this is the same scale without that rounding, so it
// depends on the offset and the Y-scale but not on the window's size. Powers
// below 1.0 stand at 1.0, as in the frames.
//
// With dYScale = plot height * Y-scale / 2000, a value P stands at
//   y = (130 - offset) ln10 dYScale / 10 + 1.6 height - dYScale ln P
// and the readout gives 10 (height / 8 - y) / (ln10 dYScale), which comes to
//   10 log10 P - 130 + offset - 2950 / (ln10 Y-scale / 10).
inline double GridLevelDb(double dPower, int nOffset, int nYScale) {
    const double dLn10 = std::log(10.0);
    return 10.0 * std::log10(std::max(dPower, 1.0)) - 130.0 + nOffset - 29500.0 / (dLn10 * nYScale);
}
