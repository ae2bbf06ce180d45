#include "view/TimeRuler.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// Ticks every second (further apart where seconds crowd) down the label
// strip beside the spectrogram, numbered in seconds before now where there
// is room; a longer tick at each number.
void CTimeRuler::Draw(CDC& dc, const SFrame& f, const CPen& penScale) {
    const int nTop = f.SpectrogramTop();
    const int nBottom = f.PlotBottom();
    dc.FillSolidRect(0, f.nPlotBottom + 1, 27, nBottom + 5 - f.nPlotBottom, RGB(32, 32, 32));
    const double dPerSecond = (nBottom + 1 - nTop) / static_cast<double>(f.nHistorySeconds);
    if (!(dPerSecond > 0.0)) {
        return;
    }
    auto StepFor = [dPerSecond](double dMinPixels) {
        for (int nStep : {1, 2, 5, 10, 15, 30}) {
            if (nStep * dPerSecond >= dMinPixels) {
                return nStep;
            }
        }
        return 60;
    };
    const int nTickStep = StepFor(3.0);
    const int nTextHeight = dc.GetTextExtent("0").cy;
    int nLabelStep = StepFor(2.2 * nTextHeight);
    // Where seconds crowd too much for two numbers, one still says the scale:
    // the largest round step inside the history, where its number has room.
    int nOnlyLabel = 0;
    if (nLabelStep >= f.nHistorySeconds) {
        for (int nStep : {1, 2, 5, 10, 15, 30}) {
            const double dY = nStep * dPerSecond;
            if (nStep < f.nHistorySeconds && dY >= nTextHeight / 2.0 &&
                nBottom + 1 - nTop - dY >= nTextHeight / 2.0) {
                nOnlyLabel = nStep;
            }
        }
    }
    dc.SelectObject(&penScale);
    for (int s = 1; s < f.nHistorySeconds; ++s) {
        const bool bLabel = nOnlyLabel > 0 ? s == nOnlyLabel : s % nLabelStep == 0;
        if (!bLabel && s % nTickStep != 0) {
            continue;
        }
        const int y = nTop + static_cast<int>(std::lround(s * dPerSecond));
        dc.MoveTo(bLabel ? 20 : 23, y);
        dc.LineTo(27, y);
        if (bLabel) {
            char szLabel[16];
            std::snprintf(szLabel, sizeof szLabel, "%ds", s);
            const CSize size = dc.GetTextExtent(szLabel);
            dc.TextOut(std::max(0, 19 - size.cx), y - size.cy / 2, szLabel);
        }
    }
}
