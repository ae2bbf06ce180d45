#pragma once

#include "platform/DC.h"
#include "view/DifferenceBars.h"
#include "view/Frame.h"
#include "view/TransferPlot.h"

#include <QRegion>
#include <string>
#include <utility>
#include <vector>

class CNoteOverlay;
class CReferenceLine;
class CSpectrogram;

// The running frame: the black plot with its level grid, the bars of each
// channel with their hold levels, the cursor and power readouts, the
// statistics line, and the lines that say no sound arrives, that the built-in
// signal is analysed, or a notice; under the spectrum, while shown, the
// spectrogram with its time ruler. The note overlay and the reference line
// are composers of their own, which this one calls at their place in the
// frame. It repaints the plot and the label strip and leaves the scale strip
// and the axis column alone.
class CRunningFrame {
public:
    static constexpr const char* kSignalLostText = "No sound is arriving from the capture device.";
    static constexpr const char* kBuiltInSignalText = "Test signal";
    static constexpr const char* kFrozenText = "Frozen";

    // Draws frame f into dc. pRefill, when given, is the region of the
    // canvas's earlier frame of the same layout that changed: only it needs
    // filling. Returns the logical region of what changes from frame to frame
    // (all but the fills and the level grid).
    QRegion Compose(CDC& dc, const SFrame& f, const SPalette& palette, const QRegion* pRefill,
                    CNoteOverlay& notes, CReferenceLine& reference, CSpectrogram& spectrogram);
    // Whether refilling the plot and the margin covers rgnChanging: nothing of
    // it lies in the axis column or the scale strip, which frames do not draw.
    static bool CanRefill(const SFrame& f, const QRegion& rgnChanging);
    // A notice, while it lasts: a light line on a box of the margin's grey, a
    // quarter down the plot. The DC's colours are left as they were.
    static void DrawNotice(CDC& dc, const std::string& strNotice, int nWidth, int nPlotBottom);
    // Where the texts at the top left begin: after "Frozen" while frozen.
    static int TopLeftX(CDC& dc, const SFrame& f);

private:
    // One pass of a frame: the channel it draws and the levels it uses.
    struct SPass {
        int nIndex;
        const SChannelArrays* pArrays;
        double dYScale;
        int nYBase;
        double dFloor; // the lowest value drawn: 1.0 on the designed grid
    };

    static SPass MakePass(const SFrame& f, int nIndex);
    void BuildBars(const SFrame& f, const SPass& pass);
    // With the difference shown, the pass's bars become difference bars.
    void ReshapeToDifference(const SFrame& f, const SPass& pass, const CReferenceLine& reference);
    void FillPlot(CDC& dc, const SFrame& f, const QRegion* pRefill) const;
    void DrawBars(CDC& dc) const;
    const std::vector<SRectangle>& FilledBars();
    // The frequency and the power under the cursor: the nearest bin's, or
    // the band's whose bar it is over. False where there is none.
    bool UnderCursor(const SFrame& f, const SPass& pass, double* pHz, double* pValue) const;
    static void DrawPowerReadout(CDC& dc, const SFrame& f, const SPass& pass);
    void DrawCursorReadout(CDC& dc, const SFrame& f, const SPass& pass,
                           const SPalette& palette) const;
    // Returns the first row at the left that is free under them.
    static int DrawTexts(CDC& dc, const SFrame& f);
    static void DrawSpectrogram(CDC& dc, const SFrame& f, const SPass& pass,
                                CSpectrogram& spectrogram);
    const std::vector<double>& LogTable(int nEntries);

    std::vector<double> m_adLogBin;              // ln(b), kept while the size stays
    std::vector<SRectangle> m_aBars;             // a pass's bars
    std::vector<std::pair<int, int>> m_aBarBins; // the bins each bar covers, first..end
    std::vector<SRectangle> m_aHoldLevels;       // their hold lines (l..r at row t)
    std::vector<double> m_adBarValue;            // each bar's value, on its linear scale
    std::vector<SRectangle> m_aLeftBars;         // the left bars, for the markers
    CDifferenceBars m_difference;
    CTransferPlot m_transferPlot;
    // With octave bands: the band of each bar, whether it is hollow, and the
    // bars that are filled.
    std::vector<int> m_anBarBand;
    std::vector<bool> m_abHollow;
    std::vector<SRectangle> m_aFilledBars;
};
