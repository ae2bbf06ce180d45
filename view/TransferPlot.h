#pragma once

#include "platform/DC.h"
#include "platform/Pen.h"
#include "view/Frame.h"

#include <array>
#include <string>

// The transfer-function mode's picture: the plot split as the spectrogram
// splits it, the magnitude in dB above (a grid around 0 dB; Y-scale sets the
// height of 10 dB and Offset moves 0 dB) with the coherence as a thin line
// on a 0-1 scale of its own, and the phase in degrees below (lines at 0, +-90
// and +-180). Where the coherence is low the curves mean little: they are
// drawn fully from 0.8 up and fade out towards the threshold, under which
// they are hidden. A kept trace stands in the reference's orange. The cursor
// reads frequency, magnitude, phase and coherence at the top right, the
// markers under it, and the delay stands at the top left.
class CTransferPlot {
public:
    static constexpr COLORREF kMagnitude = RGB(110, 150, 255);
    static constexpr COLORREF kPhase = RGB(110, 210, 110);
    static constexpr COLORREF kCoherence = RGB(200, 110, 200);
    static constexpr double kFullCoherence = 0.8;

    CTransferPlot();

    // Draws the frame's plot, margin and readouts (not the statistics line,
    // which the running frame adds).
    void Compose(CDC& dc, const SFrame& f, const SPalette& palette);

    // Where things stand: the 0 dB row and pixels per dB of the upper plot,
    // the phase plot's rows, and the visibility of a curve at a coherence.
    static double PixelsPerDb(const SFrame& f);
    static double ZeroDbY(const SFrame& f);
    static int PhaseTop(const SFrame& f) { return f.nPlotBottom + 2; }
    static int PhaseBottom(const SFrame& f) { return f.PlotBottom() - 1; }
    static double PhaseY(const SFrame& f, double dDeg);
    static double Visibility(double dCoherence, double dThreshold);
    // The bin a column shows: the nearest to its middle, inside 1 to N/2.
    static int BinAt(const SFrame& f, int x);
    // "1000.0 Hz  +5.8 dB  45.0°  γ² 0.98", dashes where the bin has no value.
    static std::string Readout(const SFrame& f, int nBin);
    static std::string DelayText(const SFrame& f);

private:
    static constexpr int kFadeSteps = 8;
    void DrawGrids(CDC& dc, const SFrame& f, const SPalette& palette) const;
    void DrawCurves(CDC& dc, const SFrame& f) const;
    void DrawKept(CDC& dc, const SFrame& f, const CPen& pen) const;
    void DrawReadouts(CDC& dc, const SFrame& f, const SPalette& palette) const;
    const CPen& Faded(const std::array<CPen, kFadeSteps + 1>& pens, double dVisibility) const;

    std::array<CPen, kFadeSteps + 1> m_aMagnitudePens;
    std::array<CPen, kFadeSteps + 1> m_aPhasePens;
    CPen m_penCoherence;
};
