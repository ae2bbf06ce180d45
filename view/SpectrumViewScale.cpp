#include "view/SpectrumView.h"

#include <cmath>
#include <cstdio>

// The frame around the plot: the grey left margin, the 22-pixel strip under the
// plot with a tick at transform bins and labels in Hz, and the two axis lines.
// Frames leave all of it alone, so it is drawn only when the run starts, the
// span changes or the view is resized.
void CSpectrumView::DrawScale() {
    m_bScaleBusy = 1;
    {
        // Waits for a frame in progress; frames arriving now see the busy flag.
        std::lock_guard lock(m_lockFrame);
        const int nWidth = m_nWidth;
        const int nHeight = m_nHeight;
        if (m_dcMemory.IsAttached() && nWidth > 0 && nHeight > 0 && m_nSampleRate > 0 &&
            m_nFftSize > 0) {
            const int nPlotBottom = m_nPlotBottom;
            TakeFreshCanvas({QRect(0, 0, nWidth, nHeight)});
            CanvasRecord().bFrame = false;
            ++m_nScaleGeneration;
            m_dcMemory.SetBkColor(RGB(0, 0, 0));
            m_dcMemory.SetTextColor(RGB(197, 197, 197));
            if (m_penScale.GetSafeHandle() != nullptr) {
                m_dcMemory.SelectObject(&m_penScale);
            }
            const SSpanGeometry geo = ComputeSpanGeometry();
            // The fills leave the background colour at the strip's grey, which
            // the labels stand on.
            m_dcMemory.FillSolidRect(0, 0, 27, nHeight, RGB(32, 32, 32));
            m_dcMemory.FillSolidRect(0, nPlotBottom, nWidth, nHeight - nPlotBottom,
                                     RGB(32, 32, 32));

            // A label needs more than 40 pixels from the previous one; short ticks
            // thin out to one every 3 pixels where the bins crowd.
            int nLastLabelX = -100;
            int nLastTickX = -100;
            for (int k = geo.nBinLow; k < geo.nBinMax; ++k) {
                const int x =
                    static_cast<int>(geo.dXScale * std::log(static_cast<double>(k)) + geo.nXOff);
                if (x > nLastLabelX + 40) {
                    char szLabel[16];
                    std::snprintf(szLabel, sizeof szLabel, "%d",
                                  static_cast<int>(k * geo.dBinWidth + 0.5));
                    const CSize size = m_dcMemory.GetTextExtent(szLabel);
                    m_dcMemory.TextOut(x - size.cx / 2, nPlotBottom + 5, szLabel);
                    m_dcMemory.MoveTo(x, nPlotBottom + 1);
                    m_dcMemory.LineTo(x, nPlotBottom + 5);
                    nLastLabelX = x;
                }
                if (nLastTickX + 2 < x) {
                    m_dcMemory.MoveTo(x, nPlotBottom + 3);
                    m_dcMemory.LineTo(x, nPlotBottom + 5);
                    nLastTickX = x;
                }
            }
            m_dcMemory.MoveTo(27, 0);
            m_dcMemory.LineTo(27, nPlotBottom + 5);
            m_dcMemory.LineTo(nWidth, nPlotBottom + 5);
        }
    }
    m_bScaleBusy = 0;
}
