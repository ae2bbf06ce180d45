#include "view/SpectrumView.h"

#include "analysis/AnalysisChannel.h"
#include "platform/Clock.h"

#include <cmath>

// The spectrogram's rows and the bands' hold are written by the passes,
// whether or not the window can be seen; the frames only show them.
void CSpectrumView::NewArrays(int nFlags) {
    if (m_bSpectrogram.load(std::memory_order_relaxed)) {
        RecordRow();
    }
    if (m_nBandFraction.load(std::memory_order_relaxed) > 0 && m_bHold.load() != 0) {
        RecordBandHold(nFlags);
    }
    m_frameThread.NewArrays(nFlags);
}

// The bands of the span shown now, by the frames' rule.
SBandHoldKey CSpectrumView::BandHoldKey() const {
    const SSpanGeometry geo = ComputeSpanGeometry();
    return SBandHoldKey{m_nBandFraction.load(), m_nSampleRate.load(), m_nFftSize.load(),
                        geo.nBinLow * geo.dBinWidth, geo.nBinMax * geo.dBinWidth};
}

void CSpectrumView::RecordBandHold(int nFlags) {
    const SBandHoldKey key = BandHoldKey();
    CAnalysisChannel* apChannel[2] = {m_pLeftChannel.load(),
                                      (nFlags & 1) != 0 ? m_pRightChannel.load() : nullptr};
    for (int i = 0; i < 2; ++i) {
        if (apChannel[i] == nullptr) {
            continue;
        }
        auto lock = apChannel[i]->LockArrays();
        if (apChannel[i]->m_pPower != nullptr && apChannel[i]->m_nSize > 0) {
            m_aBandHold[i].Pass(key, apChannel[i]->m_pPower, apChannel[i]->m_nSize / 2 + 1,
                                apChannel[i]->PowerScale());
        }
    }
}

bool CSpectrumView::BandHold(int nChannel, std::vector<double>& adHold) const {
    return nChannel >= 0 && nChannel < 2 && m_bHold.load() != 0 && m_nBandFraction.load() > 0 &&
           m_aBandHold[nChannel].Take(BandHoldKey(), adHold);
}

void CSpectrumView::RecordRow() {
    CAnalysisChannel* pLeft = m_pLeftChannel.load();
    if (pLeft == nullptr) {
        return;
    }
    const std::int64_t nNowNs = SteadyNs();
    auto lock = pLeft->LockArrays();
    if (pLeft->m_pPower != nullptr && pLeft->m_nSize > 0) {
        m_spectrogram.Pass(pLeft->m_pPower, pLeft->m_nSize / 2 + 1, pLeft->PowerScale(), nNowNs);
    }
}

// Switched on, the history starts empty; a new length re-maps it.
void CSpectrumView::SetSpectrogram(bool bShown, int nHistorySeconds) {
    const bool bWasShown = m_bSpectrogram.exchange(bShown);
    m_nHistorySeconds = std::max(nHistorySeconds, 1);
    if (bShown && !bWasShown) {
        m_spectrogram.Clear();
    }
    if (bShown) {
        FollowSpectrogramShape();
    }
}

// The shape the next frame would give the spectrogram, so that rows come in
// it before any frame is drawn (a run started while the window is hidden).
void CSpectrumView::FollowSpectrogramShape() {
    std::lock_guard lock(m_lockFrame);
    const int nRate = m_nSampleRate;
    const int nFft = m_nFftSize;
    if (nRate <= 0 || nFft <= 0) {
        return;
    }
    m_spectrogram.SetShape(SpectrogramShape(ComputeSpanGeometry(), m_nWidth, m_nPlotBottom,
                                            m_dBufferRatio, nRate, nFft));
}

// The plot's device columns from x = 28 on and its device rows under the
// spectrum, as a DC at dRatio maps them.
SSpectrogramShape CSpectrumView::SpectrogramShape(const SSpanGeometry& geo, int nWidth,
                                                  int nPlotBottom, double dRatio, int nSampleRate,
                                                  int nFftSize) const {
    auto Device = [dRatio](int v) { return static_cast<int>(std::round(v * dRatio)); };
    SFrame f;
    f.nPlotBottom = SFrame::SpectrumBottom(nPlotBottom);
    f.nSpectrogramBottom = nPlotBottom;
    SSpectrogramShape shape;
    shape.geo = geo;
    shape.dRatio = dRatio;
    shape.nFirstColumn = Device(28);
    shape.nColumns = Device(nWidth) - shape.nFirstColumn;
    shape.nRows = Device(f.PlotBottom() + 1) - Device(f.SpectrogramTop());
    shape.nBins = nFftSize / 2 + 1;
    shape.nSampleRate = nSampleRate;
    shape.nFftSize = nFftSize;
    shape.nRowNs =
        shape.nRows > 0 ? std::int64_t(m_nHistorySeconds) * 1'000'000'000 / shape.nRows : 0;
    return shape;
}
