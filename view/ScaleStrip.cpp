#include "view/ScaleStrip.h"

#include "view/RoundLabels.h"

#include <cmath>
#include <cstdio>

void CScaleStrip::Draw(CDC& dc, const SSpanGeometry& geo, int nWidth, int nHeight, int nPlotBottom,
                       const CPen& penScale, bool bRound, const COctaveBands* pBands) {
    dc.SetBkColor(RGB(0, 0, 0));
    dc.SetTextColor(RGB(197, 197, 197));
    if (penScale.GetSafeHandle() != nullptr) {
        dc.SelectObject(&penScale);
    }
    // The fills leave the background colour at the strip's grey, which the
    // labels stand on.
    dc.FillSolidRect(0, 0, 27, nHeight, RGB(32, 32, 32));
    dc.FillSolidRect(0, nPlotBottom, nWidth, nHeight - nPlotBottom, RGB(32, 32, 32));

    // A label needs more than 40 pixels from the previous one; short ticks
    // thin out to one every 3 pixels where the bins crowd.
    int nLastLabelX = -100;
    int nLastTickX = -100;
    for (int k = geo.nBinLow; k < geo.nBinMax; ++k) {
        const int x = static_cast<int>(geo.dXScale * std::log(static_cast<double>(k)) + geo.nXOff);
        if (!bRound && x > nLastLabelX + 40) {
            char szLabel[16];
            std::snprintf(szLabel, sizeof szLabel, "%d", static_cast<int>(k * geo.dBinWidth + 0.5));
            const CSize size = dc.GetTextExtent(szLabel);
            dc.TextOut(x - size.cx / 2, nPlotBottom + 5, szLabel);
            dc.MoveTo(x, nPlotBottom + 1);
            dc.LineTo(x, nPlotBottom + 5);
            nLastLabelX = x;
        }
        if (nLastTickX + 2 < x) {
            dc.MoveTo(x, nPlotBottom + 3);
            dc.LineTo(x, nPlotBottom + 5);
            nLastTickX = x;
        }
    }
    if (bRound) {
        CRoundLabels::Draw(dc, geo, nWidth, nPlotBottom, pBands);
    }
    dc.MoveTo(27, 0);
    dc.LineTo(27, nPlotBottom + 5);
    dc.LineTo(nWidth, nPlotBottom + 5);
}
