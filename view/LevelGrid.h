#pragma once

#include "platform/DC.h"
#include "view/Frame.h"

// The level grid behind the bars, drawn with the pen selected: as designed a
// line every 10 dB from +50 to -190 on the grid's own arithmetic; in a level
// unit a line every 10 dB at round levels of the unit, each labelled with the
// level a bar reaching it has. Labels stand right-aligned in the margin.
class CLevelGrid {
public:
    // The level the plot's top grid line (an eighth down) stands for in a
    // level unit at this offset: Offset shifts the bars as on the designed
    // grid, and the lines stay at round levels.
    static double TopDb(const SFrame& f, int nOffset);
    // dYScale pixels per unit of natural logarithm of power.
    static void DrawDesigned(CDC& dc, const SFrame& f, double dYScale);
    // nYBase: the y of the unit's linear value 1.0.
    static void DrawUnit(CDC& dc, const SFrame& f, double dYScale, int nYBase);
};
