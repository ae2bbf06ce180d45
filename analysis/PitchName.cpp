#include "analysis/PitchName.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr const char* kNames[12] = {"C",  "C#", "D",  "D#", "E",  "F",
                                    "F#", "G",  "G#", "A",  "A#", "B"};

// Floor division and its remainder, for the semitones below C0 as well.
int FloorDiv(int n, int d) {
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

} // namespace

SPitchName SPitchName::Of(double dHz, double dA4Hz) {
    SPitchName name;
    if (!(dHz > 0.0) || !(dA4Hz > 0.0) || !std::isfinite(dHz)) {
        return name;
    }
    const double dSemitones = 12.0 * std::log2(dHz / dA4Hz);
    const double dNearest = std::round(dSemitones);
    name.nCents = static_cast<int>(std::lround(100.0 * (dSemitones - dNearest)));
    // Semitones from C0: A4 lies 9 above C4, 57 above C0.
    const int nFromC0 = static_cast<int>(dNearest) + 57;
    const int nOctave = FloorDiv(nFromC0, 12);
    name.strNote = std::string(kNames[nFromC0 - 12 * nOctave]) + std::to_string(nOctave);
    return name;
}

std::string SPitchName::Readout(double dHz, double dA4Hz) {
    const SPitchName name = Of(dHz, dA4Hz);
    char sz[96];
    if (name.strNote.empty()) {
        std::snprintf(sz, sizeof sz, "%.2f Hz", dHz > 0.0 ? dHz : 0.0);
    } else {
        std::snprintf(sz, sizeof sz, "%s %+d cents  %.2f Hz", name.strNote.c_str(), name.nCents,
                      dHz);
    }
    return sz;
}
