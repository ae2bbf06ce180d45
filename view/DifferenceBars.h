#pragma once

#include "platform/DC.h"
#include "view/Frame.h"

#include <utility>
#include <vector>

// The difference from the reference: each bar stands up or down from a 0 dB
// line in the middle of the plot by the live level less the reference's, in
// dB, on a grid of its own with a line every 3 dB. Y-scale sets the height of
// 10 dB as on the level grid. A bar where the reference has no value is left
// out.
class CDifferenceBars {
public:
    static constexpr int kGridStepDb = 3;

    // The 0 dB line's row, and the pixels per dB, for a frame with the pass's
    // level scale (dYScale pixels per unit of natural logarithm).
    static int ZeroY(const SFrame& f) { return (f.nPlotBottom - 16 * f.nMode) / 2; }
    static double PixelsPerDb(double dYScale) { return kLn10 * dYScale * 0.1; }

    // The difference in dB of a live value over a reference value on the same
    // linear scale; NaN where either has none.
    static double DifferenceDb(double dLive, double dReference);

    // Turns the bars of a pass into difference bars: adLive and adReference
    // hold each bar's value; a bar without a reference goes, with its entry in
    // each of the parallel lists given. The differences are kept, one per
    // bar left, for the cursor.
    void Reshape(const SFrame& f, double dYScale, const std::vector<double>& adLive,
                 const std::vector<double>& adReference, std::vector<SRectangle>& aBars,
                 std::vector<std::pair<int, int>>& aBins, std::vector<int>& anBand,
                 std::vector<bool>& abHollow);
    // The difference of the bar at column x, false where none is.
    bool At(int x, double* pDb) const;

    // The grid with its labels in the margin, with the pen selected; the 0 dB
    // line in the reference's pen.
    static void DrawGrid(CDC& dc, const SFrame& f, double dYScale, const CPen& penZero);

private:
    std::vector<SRectangle> m_aBars;
    std::vector<double> m_adDb;
};
