#include "view/LevelGrid.h"

#include "view/FormatText.h"

#include <cmath>

double CLevelGrid::TopDb(const SFrame& f, int nOffset) {
    return f.pLevels->TopDb() + 100 - nOffset;
}

void CLevelGrid::DrawDesigned(CDC& dc, const SFrame& f, double dYScale) {
    const int nPlotH = f.nPlotBottom;
    const int nZeroY = f.ZeroY();
    for (int k = -5; k <= 19; ++k) {
        const int y = static_cast<int>(k * kLn10 * dYScale + nZeroY);
        if (y <= 0 || y >= nPlotH) {
            continue;
        }
        dc.MoveTo(28, y);
        dc.LineTo(f.nWidth, y);
        const std::string strLabel = FormatText("%d", -10 * k);
        const CSize size = dc.GetTextExtent(strLabel);
        dc.TextOut(26 - size.cx, y - size.cy / 2, strLabel);
    }
}

// Each label is whole: one beside the top line or the floor moves inside the
// margin's strip, and one with no room left under the one above it is left
// out rather than drawn over it.
void CLevelGrid::DrawUnit(CDC& dc, const SFrame& f, double dYScale, int nYBase) {
    const int nPlotH = f.nPlotBottom;
    const double dPixelsPerDb = kLn10 * dYScale * 0.1;
    if (!(dPixelsPerDb > 0.0)) {
        return;
    }
    // The margin is filled down to nPlotH + 4; a spectrogram's ruler takes
    // it from nPlotH + 1.
    const int nLabelsEnd = f.nSpectrogramBottom > 0 ? nPlotH + 1 : nPlotH + 5;
    const double dOffset = f.pLevels->DbOffset();
    const int nHighest = static_cast<int>(std::floor((nYBase / dPixelsPerDb + dOffset) / 10));
    int nFreeFrom = 0; // the first row no label has taken
    for (int k = nHighest, nLines = 0; nLines < 200; --k, ++nLines) {
        const int y = static_cast<int>(nYBase - (10.0 * k - dOffset) * dPixelsPerDb);
        if (y >= nPlotH) {
            break;
        }
        if (y <= 0) {
            continue;
        }
        dc.MoveTo(28, y);
        dc.LineTo(f.nWidth, y);
        const std::string strLabel = FormatText("%d", 10 * k);
        const CSize size = dc.GetTextExtent(strLabel);
        const int nTop = std::clamp(y - size.cy / 2, 0, nLabelsEnd - size.cy);
        if (nTop < nFreeFrom || nTop < 0) {
            continue;
        }
        dc.TextOut(26 - size.cx, nTop, strLabel);
        nFreeFrom = nTop + size.cy;
    }
}
