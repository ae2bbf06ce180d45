#pragma once

#include "platform/DC.h"
#include "view/Frame.h"

#include <string>

// The loudness meter at the plot's left: "M -22.8  S -23.1  I -23.0 LUFS
// LRA 4.2 LU  TP -1.3 dBTP", or in LU re the target. Amber while the
// short-term loudness lies more than 1 LU above the target, red while the
// true peak exceeds -1 dBTP.
class CLoudnessReadout {
public:
    static constexpr double kLoudAboveTargetLu = 1.0;
    static constexpr double kTruePeakLimitDbtp = -1.0;
    static constexpr COLORREF kAmber = RGB(230, 200, 90);
    static constexpr COLORREF kRed = RGB(240, 80, 70);

    static std::string Text(const SMeasureFrame& m);
    // The readout's colour, or crNormal where nothing is over.
    static COLORREF Colour(const SMeasureFrame& m, COLORREF crNormal);
    static void Draw(CDC& dc, const SFrame& f, int y);
};
