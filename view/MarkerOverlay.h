#pragma once

#include "platform/DC.h"
#include "view/Frame.h"

#include <string>
#include <vector>

// Markers A and B on the left channel: a small labelled triangle on the top
// of each marker's bar, and at the top right the frequency and level of each,
// with their difference once both are set. A marker keeps its frequency; its
// level is read anew at each frame, off the tone's whole lobe (or its band),
// so that a tone between two bins reads its own level.
class CMarkerOverlay {
public:
    static constexpr int kSnapPixels = 5;
    static constexpr const char* kNames[2] = {"A", "B"};

    // What a marker at dHz reads: its frequency and its level on the unit's
    // linear scale (as designed the channel's power).
    struct SReading {
        bool bValid = false;
        double dHz = 0.0;
        double dValue = 0.0;
    };
    static SReading Read(const SFrame& f, double dHz);

    // Where a marker placed at column x goes: the tone of the strongest bin
    // (or the centre of the strongest band) within kSnapPixels of it; NaN
    // where the frame has none.
    static double SnapHz(const SFrame& f, int x);
    // The strongest tone (or band) of the span.
    static double StrongestHz(const SFrame& f);
    // The marker's column on the frame's axis, or -1 outside the plot.
    static int ColumnOf(const SFrame& f, double dHz);
    // The top of the bar (of aBars) that holds column x; the plot's floor
    // where none does.
    static int BarTopAt(const SFrame& f, const std::vector<SRectangle>& aBars, int x);

    // The level in dB in the frame's unit (as designed, on the grid).
    static double LevelDb(const SFrame& f, double dValue);
    // "A  500.0 Hz  -20.0 dBFS"
    static std::string MarkerText(const SFrame& f, int nMarker, const SReading& reading);
    // "Δ 1500.0 Hz  -12.0 dB  2.00 oct"
    static std::string DeltaText(const SFrame& f, const SReading& a, const SReading& b);

    // The triangles over the bars shown (aBars), then the readouts from row
    // nTopY down, with the pen and the DC's text colour as they are.
    static void Draw(CDC& dc, const SFrame& f, const std::vector<SRectangle>& aBars, int nTopY);
};
