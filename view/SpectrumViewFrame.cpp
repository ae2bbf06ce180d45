#include "view/SpectrumView.h"

#include "view/IdlePage.h"
#include "view/LevelGrid.h"
#include "view/ScaleStrip.h"

#include "analysis/AnalysisChannel.h"

#include <QTimer>
#include <algorithm>
#include <chrono>

namespace {

// A plot with room for its scale, its level labels and its readouts.
constexpr int kMinPlotWidth = 240;
constexpr int kMinPlotHeight = 120;

} // namespace

// A frame: the guards, the idle page or the spectra, then the hand-over to the
// window. A frame that cannot be drawn at once (another frame, the scale or a
// buffer rebuild in progress) is skipped, never waited for.
void CSpectrumView::RenderFrame(int nFlags) {
    if (m_bScaleBusy.load() != 0) {
        return;
    }
    if (m_bFrameBusy.exchange(1) == 1) {
        return;
    }
    std::unique_lock lock(m_lockFrame, std::try_to_lock);
    if (!lock.owns_lock()) {
        m_bFrameBusy = 0;
        return;
    }
    if (m_nLastFlags < 0) {
        m_nLastFlags = 0;
    }
    if (nFlags == -1) {
        nFlags = m_nLastFlags;
    } else {
        m_nLastFlags = nFlags;
    }
    const int nWidth = m_nWidth;
    const int nHeight = m_nHeight;
    if (m_pWindowDC != nullptr && nWidth > 0 && nHeight > 0) {
        CAnalysisChannel* pLeft = m_pLeftChannel.load();
        if (pLeft == nullptr) {
            m_handOver.TakeFreshCanvas({});
            TakeNotice(m_frame.strNotice);
            CIdlePage::Draw(m_dcMemory, nWidth, nHeight, m_strWebAddress, m_frame.strNotice);
            m_handOver.CanvasRecord().bFrame = false;
        } else if ((nFlags & 2) != 0 && m_nSampleRate > 0 && m_nFftSize > 0) {
            const auto start = std::chrono::steady_clock::now();
            DrawRunningFrame(nFlags, pLeft);
            m_handOver.NoteFrameTime(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
        }
        m_dcWindow.BitBlt(0, 0, nWidth, nHeight, &m_dcMemory, 0, 0, SRCCOPY);
        m_nFrontPassNs = m_nFramePassNs;
    }
    lock.unlock();
    m_bFrameBusy = 0;
}

// What the frame draws, taken once as it begins: the settings, and the
// channels' arrays copied under their locks, both channels of one moment.
void CSpectrumView::TakeFrame(int nFlags, CAnalysisChannel* pLeft) {
    SFrame& f = m_frame;
    f.nFlags = nFlags;
    f.nWidth = m_nWidth;
    f.nHeight = m_nHeight;
    const int nPlotBottom = m_nPlotBottom;
    const bool bTransfer = m_bTransfer && m_pTransfer.load() != nullptr;
    const bool bSpectrogram = m_bSpectrogram && !bTransfer;
    // The transfer function's phase takes the spectrogram's place.
    f.nSpectrogramBottom = bSpectrogram || bTransfer ? nPlotBottom : 0;
    f.nPlotBottom = bSpectrogram || bTransfer ? SFrame::SpectrumBottom(nPlotBottom) : nPlotBottom;
    f.nHistorySeconds = m_nHistorySeconds;
    f.nSampleRate = m_nSampleRate;
    f.nFftSize = m_nFftSize;
    f.geo = SSpanGeometry::Of(f.nSampleRate, f.nFftSize, m_nSpanLowHz, m_nSpanHighHz, f.nWidth);
    if (bSpectrogram) {
        m_spectrogram.SetShape(SpectrogramShape(f.geo, f.nWidth, nPlotBottom, m_dBufferRatio,
                                                f.nSampleRate, f.nFftSize));
    }
    f.nMode = m_nDisplayMode;
    f.nCursorX = m_nCursorX;
    f.nCursorY = m_nCursorY;
    f.nYScale = m_nYScale;
    f.nOffset = m_nOffset;
    f.nOffsetRight = m_nOffsetRight;
    f.nMinXSpace = m_nMinXSpace;
    f.bHold = m_bHold != 0;
    if (m_nFftsPerCycle == 0) {
        m_nFftsPerCycle = 10; // before the first cycle has ended
    }
    TakeAids(f.aids);
    m_eFreeze = !f.aids.bFrozen   ? EFreeze::Live
                : m_frozen.bTaken ? EFreeze::Replay
                                  : EFreeze::Record;
    const bool bReplay = m_eFreeze == EFreeze::Replay;
    f.nFftsPerCycle = bReplay ? m_frozen.nFftsPerCycle : m_nFftsPerCycle.load();
    f.bSignalLost = m_bSignalLost;
    f.bBuiltInSignal = m_bBuiltInSignal;
    f.dPeakHz = bReplay ? m_frozen.dPeakHz : pLeft->m_dPeakHz.load(std::memory_order_relaxed);
    TakeNotice(f.strNotice);
    m_levelScale.Update(m_levelSettings, f.nSampleRate, f.nFftSize);
    f.pLevels = &m_levelScale;
    f.bMeter = m_bMeter;
    f.bSlowMeter = m_bSlowMeter;
    f.meter = bReplay ? m_frozen.meter : pLeft->m_meter.Figures();
    if (m_eFreeze == EFreeze::Record) {
        m_frozen.nFftsPerCycle = f.nFftsPerCycle;
        m_frozen.dPeakHz = f.dPeakHz;
        m_frozen.meter = f.meter;
    }

    CAnalysisChannel* pRight = m_pRightChannel.load();
    if (bReplay) {
        // The channels the picture froze with, whatever the passes hold now.
        f.nFlags = (nFlags & ~1) | (m_frozen.bStereo ? 1 : 0);
        TakeFrozen(m_frozen.left, f.left);
        if (m_frozen.bStereo) {
            TakeFrozen(m_frozen.right, f.right);
        } else {
            f.right.adPower.clear();
            f.right.adHold.clear();
        }
    } else {
        const bool bStereo = (nFlags & 1) != 0 && pRight != nullptr;
        auto lockLeft = pLeft->LockArrays();
        std::unique_lock<std::mutex> lockRight;
        if (bStereo && pRight != pLeft) {
            lockRight = pRight->LockArrays();
        }
        m_nFramePassNs = m_frameThread.PassNs();
        const bool bRecord = m_eFreeze == EFreeze::Record;
        TakeArrays(*pLeft, f.left, bRecord ? &m_frozen.left : nullptr);
        if (bRecord) {
            m_frozen.bStereo = bStereo;
        }
        if (bStereo) {
            TakeArrays(*pRight, f.right, bRecord ? &m_frozen.right : nullptr);
        } else {
            f.right.adPower.clear();
            f.right.adHold.clear();
        }
    }
    TakeTransfer();
    TakeMeasures();
    // The bands, and which of them the window resolves at its length.
    const int nBandFraction = f.transfer.bOn ? 0 : m_nBandFraction.load();
    f.pBands = nullptr;
    if (nBandFraction > 0) {
        m_bands.Build(nBandFraction, f.nSampleRate, f.nFftSize, f.geo.nBinLow * f.geo.dBinWidth,
                      f.geo.nBinMax * f.geo.dBinWidth, f.left.scale.NoiseBandwidthBins());
        f.pBands = &m_bands;
    }
}

// Bins 0 to N/2, all a frame draws; the mean over all N bins only where the
// power readout shows it.
void CSpectrumView::TakeArrays(const CAnalysisChannel& chan, SChannelArrays& a,
                               SFrozenChannel* pRecord) {
    if (chan.m_pPower == nullptr || chan.m_pHold == nullptr || chan.m_nSize <= 0) {
        a.adPower.clear();
        a.adHold.clear();
        if (pRecord != nullptr) {
            *pRecord = SFrozenChannel{};
        }
        return;
    }
    const int nBins = chan.m_nSize / 2 + 1;
    a.adPower.assign(chan.m_pPower, chan.m_pPower + nBins);
    a.adHold.assign(chan.m_pHold, chan.m_pHold + nBins);
    a.scale = chan.PowerScale();
    if (pRecord != nullptr) {
        pRecord->adPower = a.adPower;
        pRecord->adHold = a.adHold;
        pRecord->scale = a.scale;
    }
    ToUnit(a);
    a.dMeanPower = 0.0;
    if (m_frame.nMode == 2) {
        const int nFft = m_frame.nFftSize;
        const int nEntries = std::min(nFft, chan.m_nSize);
        for (int i = 0; i < nEntries; ++i) {
            a.dMeanPower += chan.m_pPower[i] / nFft;
        }
    }
    if (pRecord != nullptr) {
        pRecord->dMeanPower = a.dMeanPower;
    }
}

// In a level unit the frame draws the levels of the unit's linear scale.
void CSpectrumView::ToUnit(SChannelArrays& a) {
    if (m_levelScale.IsDesigned()) {
        a.adUnitGain.clear();
        return;
    }
    a.adUnitGain = m_levelScale.ChannelGains(a.scale);
    const std::vector<double>& adGain = a.adUnitGain;
    const std::size_t nBins = std::min(a.adPower.size(), adGain.size());
    double* pPower = a.adPower.data();
    double* pHold = a.adHold.data();
    for (std::size_t k = 0; k < nBins; ++k) {
        pPower[k] *= adGain[k];
        pHold[k] *= adGain[k];
    }
}

// A running frame repaints all but the scale's strip and axis. A canvas that
// holds an earlier frame of the same layout differs from this frame only in
// the changing parts of both: the rest of it is left as it is.
void CSpectrumView::DrawRunningFrame(int nFlags, CAnalysisChannel* pLeft) {
    TakeFrame(nFlags, pLeft);
    TakeBands(m_frame.left, 0);
    TakeBands(m_frame.right, 1);
    if (m_eFreeze == EFreeze::Record) {
        m_frozen.left.adBandHold = m_frame.left.adBandHold;
        m_frozen.right.adBandHold = m_frame.right.adBandHold;
        m_frozen.bTaken = true;
    }
    const SFrame& f = m_frame;
    CFrameHandOver::SFrameLayout layout{f.nWidth,  f.nHeight,      f.nPlotBottom,     f.nMode,
                                        f.nYScale, m_dBufferRatio, m_nScaleGeneration};
    layout.nSpectrogramBottom = f.nSpectrogramBottom;
    layout.nHistorySeconds = f.nSpectrogramBottom > 0 ? f.nHistorySeconds : 0;
    layout.bDifference = f.aids.bDifference;
    layout.bTransfer = f.transfer.bOn;
    if (!f.IsDesigned()) {
        layout.dGridTopDb = CLevelGrid::TopDb(f, f.nOffset);
        layout.dGridDbOffset = f.pLevels->DbOffset();
    }
    const QImage* pShown = m_handOver.SwapInSpare();
    CFrameHandOver::SCanvasRecord& rec = m_handOver.CanvasRecord();
    const bool bRefill =
        rec.bFrame && rec.layout == layout && CRunningFrame::CanRefill(f, rec.rgnChanging);
    if (pShown != nullptr && !bRefill) {
        m_dcMemory.CopyFrom(*pShown, 0, f.PlotBottom(), f.nWidth, f.nHeight - f.PlotBottom());
        m_dcMemory.CopyFrom(*pShown, 27, 0, 1, f.PlotBottom());
    }
    const QRegion rgnOld = rec.rgnChanging;
    rec.bFrame = false; // while it is being drawn
    rec.rgnChanging = m_runningFrame.Compose(m_dcMemory, f, Palette(), bRefill ? &rgnOld : nullptr,
                                             m_noteOverlay, m_referenceLine, m_spectrogram);
    rec.layout = layout;
    rec.bFrame = true;
}

// With bands, each band's power from the copied arrays, in the frame's unit
// as they are, and its hold as the passes keep it (from now, where they hold
// nothing for these bands yet).
void CSpectrumView::TakeBands(SChannelArrays& a, int nChannel) {
    if (m_frame.pBands == nullptr || !a.HasArrays()) {
        a.adBandPower.clear();
        a.adBandHold.clear();
        return;
    }
    m_bands.Powers(a.adPower.data(), a.Bins(), a.scale.NoiseBandwidthBins(), a.adBandPower);
    const SSpanGeometry& geo = m_frame.geo;
    const SBandHoldKey key{m_bands.Fraction(), m_frame.nSampleRate, m_frame.nFftSize,
                           geo.nBinLow * geo.dBinWidth, geo.nBinMax * geo.dBinWidth};
    const SFrozenChannel& frozen = nChannel == 0 ? m_frozen.left : m_frozen.right;
    if (m_eFreeze == EFreeze::Replay && m_frame.bHold &&
        frozen.adBandHold.size() == a.adBandPower.size()) {
        a.adBandHold = frozen.adBandHold;
    } else if (!m_frame.bHold || !m_aBandHold[nChannel].Take(key, a.adBandHold) ||
               a.adBandHold.size() != a.adBandPower.size()) {
        a.adBandHold = a.adBandPower;
    }
}

SPalette CSpectrumView::Palette() const {
    return SPalette{&m_penLeft, &m_penRight,     &m_penScale,        &m_penCursor,
                    &m_penGrid, &m_penReference, m_pBrushLeft.get(), m_pBrushRight.get()};
}

// The scale is drawn into every buffer's picture by the frames that carry it
// over; it waits for a frame in progress, and frames arriving meanwhile see
// the busy flag.
void CSpectrumView::DrawScale() {
    m_bScaleBusy = 1;
    {
        std::lock_guard lock(m_lockFrame);
        const int nWidth = m_nWidth;
        const int nHeight = m_nHeight;
        if (m_dcMemory.IsAttached() && nWidth > 0 && nHeight > 0 && m_nSampleRate > 0 &&
            m_nFftSize > 0) {
            m_handOver.TakeFreshCanvas({QRect(0, 0, nWidth, nHeight)});
            m_handOver.CanvasRecord().bFrame = false;
            ++m_nScaleGeneration;
            const SSpanGeometry geo = ComputeSpanGeometry();
            const bool bRound = m_bRoundLabels;
            const int nBandFraction = m_nBandFraction;
            if (bRound && nBandFraction > 0) {
                m_scaleBands.Build(nBandFraction, m_nSampleRate, m_nFftSize,
                                   geo.nBinLow * geo.dBinWidth, geo.nBinMax * geo.dBinWidth,
                                   m_frame.left.scale.NoiseBandwidthBins());
            }
            CScaleStrip::Draw(m_dcMemory, geo, nWidth, nHeight, m_nPlotBottom, m_penScale, bRound,
                              bRound && nBandFraction > 0 ? &m_scaleBands : nullptr);
        }
    }
    m_bScaleBusy = 0;
}

void CSpectrumView::SetReference(std::shared_ptr<const CReferenceSpectrum> pReference) {
    std::lock_guard lock(m_lockFrame);
    const int nFft = m_nFftSize;
    m_referenceLine.SetReference(std::move(pReference), m_dBinWidth, nFft > 0 ? nFft / 2 + 1 : 0);
}

void CSpectrumView::SetLevels(const SLevelSettings& settings, bool bMeter, bool bSlowMeter) {
    {
        std::lock_guard lock(m_lockFrame);
        m_levelSettings = settings;
    }
    m_spectrogram.SetLevels(settings);
    for (CBandHold& hold : m_aBandHold) {
        hold.SetLevels(settings);
    }
    m_bMeter = bMeter;
    m_bSlowMeter = bSlowMeter;
}

SLevelSettings CSpectrumView::LevelSettings() const {
    std::lock_guard lock(m_lockFrame);
    return m_levelSettings;
}

void CSpectrumView::ShowNotice(const std::string& strText, int nMilliseconds) {
    {
        std::lock_guard lock(m_lockFrame);
        m_strNotice = strText;
        m_noticeUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(nMilliseconds);
    }
    // Frames come and go while running; the welcome page is drawn anew when
    // the notice ends.
    QTimer::singleShot(nMilliseconds + 10, this, [this] { RenderFrame(-1); });
}

std::string CSpectrumView::Notice() const {
    std::lock_guard lock(m_lockFrame);
    std::string strNotice;
    TakeNotice(strNotice);
    return strNotice;
}

// Under m_lockFrame: the notice shown now, or none, into a string a frame
// keeps (which then allocates nothing).
void CSpectrumView::TakeNotice(std::string& strNotice) const {
    if (std::chrono::steady_clock::now() < m_noticeUntil) {
        strNotice = m_strNotice;
    } else {
        strNotice.clear();
    }
}

void CSpectrumView::SetWebAddress(const std::string& strAddress) {
    {
        std::lock_guard lock(m_lockFrame);
        if (m_strWebAddress == strAddress)
            return;
        m_strWebAddress = strAddress;
    }
    // The page shown names the old address until it is drawn again.
    if (m_pLeftChannel.load() == nullptr)
        RenderFrame(-1);
}

std::string CSpectrumView::WebAddress() const {
    std::lock_guard lock(m_lockFrame);
    return m_strWebAddress;
}

QSize CSpectrumView::MinimumPictureSize(bool bIdle) const {
    const QSize plot(kMinPlotWidth, kMinPlotHeight);
    return bIdle ? plot.expandedTo(CIdlePage::MinimumSize(WebAddress())) : plot;
}
