#pragma once

#include "analysis/PowerScale.h"
#include "platform/DC.h"

#include <memory>
#include <utility>
#include <vector>

class COctaveBands;
class CReferenceSpectrum;

// The level scale a reference line is drawn on: dYScale pixels per unit of
// natural logarithm, the level 1.0 at nYBase, nothing below dFloor.
struct SReferenceScale {
    double dYScale;
    int nYBase;
    double dFloor;
};

// A spectrum to compare the live one with, drawn over the bars as a line at
// the left channel's levels: through the middle of each bar, at the height
// the bar would have at the reference's mean power over its bins, kept inside
// the plot. It breaks where the reference has no value. The reference is laid
// onto the bins of each run anew, whatever its rate and size, and onto the
// channel's scale at each frame, so that it follows the window, its length and
// Pink 2 Flat as the bars do.
class CReferenceLine {
public:
    // The line's colour, used nowhere else on the plot.
    static constexpr COLORREF kColour = RGB(255, 140, 0);

    // A reference (null for none), laid onto nBins bins of dBinWidth Hz.
    void SetReference(std::shared_ptr<const CReferenceSpectrum> pReference, double dBinWidth,
                      int nBins);
    // The same reference on the bins of another run.
    void MapOntoBins(double dBinWidth, int nBins);
    // The line through a frame's bars (their rectangles, and the bins each
    // covers), on the bars' level scale, above the floor nBottom. In a level
    // unit (padUnitGain: the channel's factor per bin to it) the reference
    // takes the unit as the bars do, and each bar's strongest bin; as
    // designed the mean of its bins. With octave bands each bar is a band's
    // (panBand), and the reference takes the band's power as the bars do.
    void Build(const std::vector<SRectangle>& aBars, const std::vector<std::pair<int, int>>& aBins,
               const SPowerScale& scale, const std::vector<double>* padUnitGain,
               const SReferenceScale& y, int nBottom, const std::vector<int>* panBand = nullptr,
               const COctaveBands* pBands = nullptr);
    void ClearLine() { m_aLine.clear(); }
    bool HasReference() const { return !m_adLevel.empty(); }
    // The value of each bar Build was given, on the bars' linear scale; NaN
    // where the reference has none.
    const std::vector<double>& BarValues() const { return m_adBarValue; }
    void Draw(CDC& dc, const CPen& pen) const;

private:
    std::shared_ptr<const CReferenceSpectrum> m_pReference;
    std::vector<double> m_adLevel; // at the bins of the run, NaN where it has none
    std::vector<CPoint> m_aLine;   // a point with x < 0 breaks the line
    std::vector<double> m_adBarValue;
};
