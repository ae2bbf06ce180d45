#include "view/NoteOverlay.h"

#include "analysis/PitchName.h"

#include "view/Frame.h"
#include "view/NoteTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void CNoteOverlay::Draw(CDC& dc, const SFrame& f, const CPen& penGrid) {
    const SSpanGeometry& geo = f.geo;
    const int nPlotH = f.nPlotBottom;
    dc.SelectObject(&penGrid);
    for (int i = 0; i < kNoteCount; ++i) {
        const double dBin = g_dNoteHz[i] / geo.dBinWidth;
        if (!(dBin > geo.nBinLow)) {
            continue;
        }
        const int x = static_cast<int>(std::log(dBin) * geo.dXScale + geo.nXOff);
        if (x <= 0 || x >= f.nWidth) {
            continue;
        }
        dc.MoveTo(x, 0);
        dc.LineTo(x, nPlotH - 15);
        const CSize size = dc.GetTextExtent(g_szNoteName[i]);
        dc.TextOut(x - size.cx / 2, nPlotH - 14, g_szNoteName[i]);
    }

    if (++m_nReadoutAge > 4 && f.aids.bCents) {
        m_strPeakReadout = SPitchName::Readout(f.dPeakHz, f.aids.dA4Hz);
        m_nReadoutAge = 0;
    } else if (m_nReadoutAge > 4) {
        const double dPeakHz = f.dPeakHz;
        const int i = FindNearestNote(dPeakHz);
        char sz[96];
        const int n = std::snprintf(sz, sizeof sz, "%-2.2f Hz (%-2.2f) <%s>", dPeakHz,
                                    dPeakHz - g_dNoteHz[i], g_szNoteName[i]);
        m_strPeakReadout.assign(
            sz, static_cast<std::size_t>(n < 0 ? 0 : std::min<int>(n, sizeof sz - 1)));
        m_nReadoutAge = 0;
    }
    const CSize size = dc.GetTextExtent(m_strPeakReadout);
    dc.TextOut(140 - size.cx / 2, 20, m_strPeakReadout);
}
