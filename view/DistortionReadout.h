#pragma once

#include "platform/DC.h"
#include "platform/GdiTypes.h"
#include "view/Frame.h"

#include <string>
#include <vector>

// The distortion of the left channel's strongest tone: one line at the
// plot's left, "1000.0 Hz -6.0 dBFS  THD 0.105 % (-59.6 dB)  THD+N 0.135 %
// (-57.4 dB)  SINAD 57.4 dB", or why there is no reading; and each harmonic
// marked over its bar with its number and its level re the fundamental.
class CDistortionReadout {
public:
    static std::string Text(const SDistortion& d);
    // "H3 -70"
    static std::string HarmonicLabel(int k, const SHarmonic& h);
    // A ratio as a percentage to three significant digits at least: 0.105,
    // 0.00316.
    static std::string Percent(double dPercent);

    // The line at y, and the labels over the bars (aBars, the left
    // channel's) where they do not run into one another.
    static void Draw(CDC& dc, const SFrame& f, const std::vector<SRectangle>& aBars, int y);
};
