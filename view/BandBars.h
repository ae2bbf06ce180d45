#pragma once

#include "platform/DC.h"
#include "view/Frame.h"

#include <utility>
#include <vector>

// The bars of octave bands: one per band, from its lower edge's x to its
// upper edge's on the frequency axis, one pixel apart, as high as the band's
// power. A band narrower than two bins, which the run cannot resolve, is
// drawn hollow.
class CBandBars {
public:
    // Where a pass's bars go: their rectangles, the bins each takes, the hold
    // lines, the band of each bar and whether it is hollow.
    struct SBars {
        std::vector<SRectangle>& aBars;
        std::vector<std::pair<int, int>>& aBins;
        std::vector<SRectangle>& aHoldLevels;
        std::vector<int>& anBand;
        std::vector<bool>& abHollow;
    };

    // The bars of the frame's bands for one channel's band powers, on the
    // pass's level scale (y = nYBase - dYScale ln v, nothing below dFloor).
    static void Build(const SFrame& f, const SChannelArrays& arrays, double dYScale, int nYBase,
                      double dFloor, const SBars& out);
    // The columns of band i's bar, first and one past the last.
    static std::pair<int, int> Columns(const SFrame& f, int i);
    // The band whose bar holds column x, or -1.
    static int BandAt(const SFrame& f, int x);
    // The outlines of the hollow bars, with the pen selected.
    static void DrawHollow(CDC& dc, const std::vector<SRectangle>& aBars,
                           const std::vector<bool>& abHollow);
};
