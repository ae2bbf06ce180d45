#pragma once

#include "analysis/LevelMeter.h"
#include "analysis/LevelScale.h"
#include "analysis/OctaveBands.h"
#include "analysis/PowerScale.h"
#include "analysis/distortion/DistortionAnalyser.h"
#include "analysis/loudness/LoudnessMeter.h"
#include "analysis/transfer/TransferFunction.h"
#include "platform/Brush.h"
#include "platform/Pen.h"
#include "view/SpanGeometry.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

// One channel's arrays as a frame draws them, copied under the channel's lock
// as the frame begins: bins 0 to N/2 of the averaged power and of the held
// maxima (in a level unit, on the unit's linear scale), and the mean power
// over all N bins for the power readout.
struct SChannelArrays {
    std::vector<double> adPower;
    std::vector<double> adHold;
    double dMeanPower = 0.0; // the sum of P[i] / N over all N entries, in index order
    SPowerScale scale;       // how the power relates to a reference's levels
    // In a level unit, the factor per bin that took the power to the unit's
    // linear scale; empty as designed.
    std::vector<double> adUnitGain;
    // While bands are shown: each band's power and held power, as the arrays.
    std::vector<double> adBandPower;
    std::vector<double> adBandHold;

    bool HasArrays() const { return !adPower.empty(); }
    int Bins() const { return static_cast<int>(adPower.size()); }
};

// The aids to reading the picture, as a frame takes them: all off, the
// picture is as designed.
struct SReadingAids {
    // The picture stands still: the arrays, readouts and spectrogram are those
    // of the moment it froze.
    bool bFrozen = false;
    // Markers A and B on the left channel, in Hz; NaN where not set.
    double adMarkerHz[2] = {std::nan(""), std::nan("")};
    // The bars show the live level less the reference's, in dB.
    bool bDifference = false;
    // Display mode 1 reads the tracked peak as a note with cents off A4.
    bool bCents = false;
    double dA4Hz = 440.0;

    bool HasMarker(int i) const { return !std::isnan(adMarkerHz[i]); }
};

// The transfer-function mode as a frame takes it: the estimate's results at
// bins 0 to N/2, the coherence under which the curves are hidden, the delay
// in use, and a kept trace (the view's, valid while the frame is drawn; null
// for none).
struct STransferFrame {
    bool bOn = false;
    bool bHasResults = false;
    CTransferFunction::SResults results;
    double dThreshold = 0.3;
    double dDelayMs = 0.0;
    const CTransferFunction::SResults* pKept = nullptr;
};

// The measurements shown beside the spectrum, as the user interface sets them.
struct SMeasureSettings {
    bool bDistortion = false;
    bool bLoudness = false;
    double dTargetLufs = -23.0;
    bool bLoudnessInLu = false; // re the target instead of LUFS

    bool operator==(const SMeasureSettings&) const = default;
};

// The measurements as a frame takes them: the settings, and the readings of
// the run (none while it is not bound).
struct SMeasureFrame {
    SMeasureSettings settings;
    bool bHasDistortion = false;
    SDistortion distortion;
    bool bHasLoudness = false;
    SLoudnessFigures loudness;
};

// What one running frame draws, taken once as it begins: the view's settings
// and geometry and copies of the channels' arrays, so that neither the user
// interface nor the acquisition cycle changes anything under a frame, and a
// frame never shows one mode's overlay over another's bars.
struct SFrame {
    int nFlags = 0; // bit 0: stereo
    int nWidth = 0;
    int nHeight = 0;
    int nPlotBottom = 0;
    int nSampleRate = 0;
    int nFftSize = 0;
    SSpanGeometry geo{};
    int nMode = 0;
    int nCursorX = -1;
    int nCursorY = -1;
    int nYScale = 100;
    int nOffset = 100;
    int nOffsetRight = 100;
    int nMinXSpace = 2;
    bool bHold = false;
    int nFftsPerCycle = 10;
    bool bSignalLost = false;
    bool bBuiltInSignal = false;
    double dPeakHz = 0.0;  // the left channel's tracked peak
    std::string strNotice; // empty while none is shown
    // The unit levels are read in (the view's, valid while the frame is
    // drawn); as designed the arrays hold the channels' power as it is.
    const CLevelScale* pLevels = nullptr;
    bool bMeter = false;     // the level meter's readout is shown
    bool bSlowMeter = false; // its time weighting is Slow
    SMeterFigures meter{};   // the left channel's meter
    SChannelArrays left;
    SChannelArrays right; // without arrays in mono
    // While the spectrogram is shown, the plot's bottom, over the scale strip:
    // the spectrum then ends at nPlotBottom, under half way down, and the
    // spectrogram fills the rest. 0 while it is not shown.
    int nSpectrogramBottom = 0;
    int nHistorySeconds = 0; // the spectrogram's history
    // While octave bands are shown instead of the bins: the run's bands (the
    // view's, valid while the frame is drawn). Null otherwise.
    const COctaveBands* pBands = nullptr;
    SReadingAids aids;
    STransferFrame transfer;
    SMeasureFrame measures;

    bool IsStereo() const { return (nFlags & 1) != 0 && right.HasArrays(); }
    int ZeroY() const { return static_cast<int>(nPlotBottom * 0.125); }
    // The bottom of the whole plot, spectrogram or not.
    int PlotBottom() const { return nSpectrogramBottom > 0 ? nSpectrogramBottom : nPlotBottom; }
    // The spectrogram's newest row, under a line that parts it from the spectrum.
    int SpectrogramTop() const { return nPlotBottom + 2; }
    // Where the spectrum ends above a spectrogram, on a plot whose bottom is
    // nPlotBottom.
    static int SpectrumBottom(int nPlotBottom) { return nPlotBottom * 45 / 100; }
    bool IsDesigned() const { return pLevels == nullptr || pLevels->IsDesigned(); }
};

// ln 10, as the frames' level arithmetic takes it.
inline const double kLn10 = std::log(10.0);

// What a bar shows of the bins it covers, gathered bin by bin: as designed
// the mean of their values (the grid's own arithmetic), in a level unit the
// strongest, so that a tone reads its level whatever else shares its bar.
// A NaN among them makes the bar's NaN.
struct SBarValue {
    bool bStrongest = false;
    int n = 0;
    double dValue = 0.0;

    // The bar's value with v added.
    double With(double v) const {
        if (n == 0) {
            return v;
        }
        if (!bStrongest) {
            return (dValue * n + v) / (n + 1);
        }
        return std::isnan(v) || std::isnan(dValue) ? v + dValue : std::max(dValue, v);
    }
    void Add(double v) {
        dValue = With(v);
        ++n;
    }
    void Restart() {
        n = 0;
        dValue = 0.0;
    }
};

// The y of a power value on a pass's level scale (yScale pixels per unit of
// natural logarithm, yBase the y of the level 1.0); values below the floor
// (1.0 on the designed grid) stand at the floor.
inline int LevelY(double dYScale, int nYBase, double dValue, double dFloor = 1.0) {
    return static_cast<int>(nYBase - dYScale * std::log(std::max(dValue, dFloor)));
}

// The view's pens and brushes, which the composers draw with.
struct SPalette {
    const CPen* pPenLeft;
    const CPen* pPenRight;
    const CPen* pPenScale;
    const CPen* pPenCursor;
    const CPen* pPenGrid;
    const CPen* pPenReference;
    const CBrush* pBrushLeft;
    const CBrush* pBrushRight;
};
