#pragma once

#include "platform/DC.h"

#include <string>

struct SFrame;

// Display mode 1: a line at every note of the table inside the span, named at
// its foot, and the tracked peak of the left channel with its distance from
// the nearest note (in Hz from the table's note, or with the cents aid in
// cents from the nearest equal-tempered note in scientific pitch). It is drawn before the left
// bars, which stand over it.
class CNoteOverlay {
public:
    void Draw(CDC& dc, const SFrame& f, const CPen& penGrid);

    // Kept across frames, runs and modes: the readout last built, and the
    // number of overlay frames since it was built; it is rebuilt on every fifth
    // overlay frame so that it can be read.
    std::string m_strPeakReadout;
    int m_nReadoutAge = 10;
};
