// The aids to reading the picture: freeze, the markers, the difference from
// the reference, the note readout in cents and the round labels.
#include "view/SpectrumView.h"

#include "view/MarkerOverlay.h"
#include "view/TransferPlot.h"

#include <cmath>

bool CSpectrumView::SetFrozen(bool bFrozen) {
    if (!bFrozen) {
        EndFreeze();
        return true;
    }
    if (m_pLeftChannel.load() == nullptr) {
        return false;
    }
    {
        std::lock_guard lock(m_lockFrame);
        m_frozen.bTaken = false; // the next frame takes it
    }
    m_spectrogram.Freeze(true);
    m_bFrozen = true;
    return true;
}

void CSpectrumView::EndFreeze() {
    if (m_bFrozen.exchange(false)) {
        m_spectrogram.Freeze(false);
        emit FreezeEnded();
    }
}

bool CSpectrumView::FrozenPass(SFrozenPass& frozen) const {
    std::lock_guard lock(m_lockFrame);
    if (!m_bFrozen || !m_frozen.bTaken) {
        return false;
    }
    frozen = m_frozen;
    return true;
}

// The frames' own record of the picture shown, taken once as it froze.
void CSpectrumView::TakeFrozen(const SFrozenChannel& frozen, SChannelArrays& a) {
    a.adPower = frozen.adPower;
    a.adHold = frozen.adHold;
    a.scale = frozen.scale;
    a.dMeanPower = frozen.dMeanPower;
    ToUnit(a);
}

void CSpectrumView::TakeAids(SReadingAids& aids) const {
    aids.bFrozen = m_bFrozen;
    aids.adMarkerHz[0] = m_adMarkerHz[0];
    aids.adMarkerHz[1] = m_adMarkerHz[1];
    aids.bDifference = m_bDifference && m_referenceLine.HasReference();
    aids.bCents = m_bCents;
    aids.dA4Hz = m_dA4Hz;
}

bool CSpectrumView::PlaceMarker(int nMarker, int x) {
    double dHz = std::nan("");
    {
        std::lock_guard lock(m_lockFrame);
        if (m_pLeftChannel.load() != nullptr && m_frame.nWidth == m_nWidth) {
            dHz = CMarkerOverlay::SnapHz(m_frame, x);
        }
    }
    if (std::isnan(dHz)) {
        return false;
    }
    SetMarkerHz(nMarker, dHz);
    return true;
}

void CSpectrumView::RemoveMarkerNear(int x) {
    const SSpanGeometry geo = ComputeSpanGeometry();
    int nNearest = -1;
    double dNearest = 0.0;
    for (int i = 0; i < 2; ++i) {
        const double dHz = MarkerHz(i);
        if (std::isnan(dHz) || !(geo.dBinWidth > 0.0)) {
            continue;
        }
        const double dDistance = std::abs(geo.XOf(dHz / geo.dBinWidth) - x);
        if (nNearest < 0 || dDistance < dNearest) {
            nNearest = i;
            dNearest = dDistance;
        }
    }
    if (nNearest >= 0) {
        SetMarkerHz(nNearest, std::nan(""));
    }
}

void CSpectrumView::ClearMarkers() {
    SetMarkerHz(0, std::nan(""));
    SetMarkerHz(1, std::nan(""));
}

bool CSpectrumView::PeakToMarkerA() {
    double dHz = std::nan("");
    {
        std::lock_guard lock(m_lockFrame);
        if (m_pLeftChannel.load() != nullptr) {
            dHz = CMarkerOverlay::StrongestHz(m_frame);
        }
    }
    if (std::isnan(dHz)) {
        return false;
    }
    SetMarkerHz(0, dHz);
    return true;
}

CSpectrumView::SMarkerFigures CSpectrumView::MarkerFigures() const {
    SMarkerFigures figures{{std::nan(""), std::nan("")}, {std::nan(""), std::nan("")}};
    std::lock_guard lock(m_lockFrame);
    for (int i = 0; i < 2; ++i) {
        const double dHz = MarkerHz(i);
        if (std::isnan(dHz) || m_pLeftChannel.load() == nullptr) {
            continue;
        }
        figures.adHz[i] = dHz;
        const CMarkerOverlay::SReading reading = CMarkerOverlay::Read(m_frame, dHz);
        if (reading.bValid) {
            figures.adDb[i] = CMarkerOverlay::LevelDb(m_frame, reading.dValue);
        }
    }
    return figures;
}

void CSpectrumView::SetNoteReadout(bool bCents, double dA4Hz) {
    m_bCents = bCents;
    m_dA4Hz = dA4Hz;
}

void CSpectrumView::SetRoundLabels(bool bRound) {
    if (m_bRoundLabels.exchange(bRound) != bRound && m_pLeftChannel.load() != nullptr) {
        DrawScale();
    }
}

void CSpectrumView::SetBands(int nFraction) {
    const int nWas = m_nBandFraction.exchange(nFraction);
    // The names of the bands stand on the axis.
    if (nWas != nFraction && m_bRoundLabels && m_pLeftChannel.load() != nullptr) {
        DrawScale();
    }
}

// The estimate's results as this frame shows them: the frozen ones while
// frozen, else the estimate's now.
void CSpectrumView::TakeTransfer() {
    STransferFrame& t = m_frame.transfer;
    const CTransferFunction* pTransfer = m_pTransfer.load();
    t.bOn = m_bTransfer && pTransfer != nullptr;
    if (!t.bOn) {
        return;
    }
    t.dThreshold = m_dCoherenceThreshold;
    t.dDelayMs = m_dDelayMs;
    t.pKept = m_bKeptTransfer ? &m_keptTransfer : nullptr;
    if (m_eFreeze == EFreeze::Replay) {
        t.bHasResults = m_frozen.bTransfer;
        t.results = m_frozen.transfer;
        return;
    }
    if (m_eFreeze == EFreeze::Record) {
        // The whole record, for the file saved while frozen.
        m_frozen.bTransfer = pTransfer->Results(m_frozen.transfer);
        t.bHasResults = m_frozen.bTransfer;
        t.results = m_frozen.transfer;
        return;
    }
    // Live, only the bins the picture reads: one per column, the cursor's
    // and the markers'.
    m_anTransferBins.clear();
    for (int x = 28; x < m_frame.nWidth; ++x) {
        m_anTransferBins.push_back(CTransferPlot::BinAt(m_frame, x));
    }
    for (int i = 0; i < 2; ++i) {
        if (m_frame.aids.HasMarker(i) && m_frame.geo.dBinWidth > 0.0) {
            m_anTransferBins.push_back(
                static_cast<int>(std::lround(m_frame.aids.adMarkerHz[i] / m_frame.geo.dBinWidth)));
        }
    }
    t.bHasResults = pTransfer->Results(t.results, &m_anTransferBins);
}

bool CSpectrumView::KeepTransfer() {
    CTransferFunction::SResults kept;
    if (!TransferShown(kept)) {
        return false;
    }
    std::lock_guard lock(m_lockFrame);
    m_keptTransfer = std::move(kept);
    m_bKeptTransfer = true;
    return true;
}

void CSpectrumView::ClearKeptTransfer() {
    std::lock_guard lock(m_lockFrame);
    m_bKeptTransfer = false;
}

bool CSpectrumView::KeptTransfer(CTransferFunction::SResults& kept) const {
    std::lock_guard lock(m_lockFrame);
    if (m_bKeptTransfer) {
        kept = m_keptTransfer;
    }
    return m_bKeptTransfer;
}

// Every bin: the frozen record's, or the estimate's now.
bool CSpectrumView::TransferShown(CTransferFunction::SResults& results) const {
    std::lock_guard lock(m_lockFrame);
    if (!m_frame.transfer.bOn) {
        return false;
    }
    if (m_bFrozen && m_frozen.bTaken) {
        results = m_frozen.transfer;
        return m_frozen.bTransfer;
    }
    const CTransferFunction* pTransfer = m_pTransfer.load();
    return pTransfer != nullptr && pTransfer->Results(results);
}

void CSpectrumView::SetMeasures(const SMeasureSettings& settings) {
    std::lock_guard lock(m_lockMeasures);
    m_measures = settings;
}

SMeasureSettings CSpectrumView::Measures() const {
    std::lock_guard lock(m_lockMeasures);
    return m_measures;
}

// A frozen picture keeps its distortion reading; the loudness meter goes on,
// as the level meter does not: it measures the programme, not the moment.
void CSpectrumView::TakeMeasures() {
    SMeasureFrame& m = m_frame.measures;
    m.settings = Measures();
    const CDistortionAnalyser* pDistortion = m_pDistortion.load();
    m.bHasDistortion = m.settings.bDistortion && pDistortion != nullptr;
    if (m.bHasDistortion) {
        if (m_eFreeze == EFreeze::Replay) {
            m.distortion = m_frozen.distortion;
        } else {
            m.distortion = pDistortion->Result();
        }
        if (m_eFreeze == EFreeze::Record) {
            m_frozen.distortion = m.distortion;
        }
    }
    const CLoudnessMeter* pLoudness = m_pLoudness.load();
    m.bHasLoudness = m.settings.bLoudness && pLoudness != nullptr;
    if (m.bHasLoudness) {
        m.loudness = pLoudness->Figures();
    }
}
