#include "view/SpectrumView.h"

#include "analysis/AnalysisChannel.h"
#include "view/NoteTable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// Display mode 1: a line at every note of the table inside the span, named at
// its foot, and the tracked peak with its distance from the nearest note. The
// text is rebuilt on every fifth overlay frame so that it can be read.
void CSpectrumView::DrawNoteOverlay(const SSpanGeometry& geo) {
    const int nPlotH = m_nPlotBottom;
    const int nWidth = m_nWidth;
    m_dcMemory.SelectObject(&m_penGrid);
    for (int i = 0; i < kNoteCount; ++i) {
        const double dBin = g_dNoteHz[i] / geo.dBinWidth;
        if (!(dBin > geo.nBinLow)) {
            continue;
        }
        const int x = static_cast<int>(std::log(dBin) * geo.dXScale + geo.nXOff);
        if (x <= 0 || x >= nWidth) {
            continue;
        }
        m_dcMemory.MoveTo(x, 0);
        m_dcMemory.LineTo(x, nPlotH - 15);
        const CSize size = m_dcMemory.GetTextExtent(g_szNoteName[i]);
        m_dcMemory.TextOut(x - size.cx / 2, nPlotH - 14, g_szNoteName[i]);
    }

    if (++m_nReadoutAge > 4) {
        const double dPeakHz = m_pLeftChannel.load()->m_dPeakHz.load(std::memory_order_relaxed);
        const int i = FindNearestNote(dPeakHz);
        char sz[96];
        const int n = std::snprintf(sz, sizeof sz, "%-2.2f Hz (%-2.2f) <%s>", dPeakHz,
                                    dPeakHz - g_dNoteHz[i], g_szNoteName[i]);
        m_strPeakReadout.assign(
            sz, static_cast<std::size_t>(n < 0 ? 0 : std::min<int>(n, sizeof sz - 1)));
        m_nReadoutAge = 0;
    }
    const CSize size = m_dcMemory.GetTextExtent(m_strPeakReadout);
    m_dcMemory.TextOut(140 - size.cx / 2, 20, m_strPeakReadout);
}
