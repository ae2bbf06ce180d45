#include "app/RunControl.h"

#include "capture/CaptureEngine.h"
#include "view/SpectrumView.h"

CRunControl::CRunControl(CSpectrumView* pView) : m_pView(pView) {}

CRunControl::~CRunControl() {
    // Nobody hears of a run that ends with its owner.
    blockSignals(true);
    Stop();
}

void CRunControl::Create(const SDialogSettings& settings) {
    m_pEngine = new CCaptureEngine;
    m_pEngine->m_pView = m_pView;
    m_pEngine->m_nFftSize = settings.m_nFftSize;
    m_pEngine->m_nSampleRate = settings.m_nSampleRate;
    m_pView->m_nFftSize = settings.m_nFftSize;
    m_pView->m_nSampleRate = settings.m_nSampleRate;
    emit RunningChanged(true);
}

void CRunControl::Push(const SDialogSettings& settings) {
    if (!m_pEngine)
        return;
    PushToEngine(settings);
    PushToView(settings);
}

void CRunControl::PushToEngine(const SDialogSettings& s) {
    m_pEngine->m_nInertia = s.m_nInertia;
    for (CAnalysisChannel* pChannel : {&m_pEngine->m_chanLeft, &m_pEngine->m_chanRight}) {
        pChannel->m_nInertia = s.m_nInertia;
        pChannel->m_bPinkToFlat = s.m_bPinkToFlat;
        pChannel->m_bFastAttack = s.m_bFastAttack ? 1 : 0;
    }
    m_pEngine->m_nLengthMs = s.m_nLengthMs;
    m_pEngine->m_bStereo = s.m_bStereo ? 1 : 0;
    m_pEngine->m_nSpanLowHz = s.m_nSpanLowHz;
    m_pEngine->m_nSpanHighHz = s.m_nSpanHighHz;
    if (m_pEngine->m_nWindowType.exchange(s.m_nWindowType) != s.m_nWindowType) {
        for (CAnalysisChannel* pChannel : {&m_pEngine->m_chanLeft, &m_pEngine->m_chanRight}) {
            pChannel->m_nWindowType = s.m_nWindowType;
            // Regenerated over the whole block; the next cycle shortens it
            // again where the analysis length is below the block length.
            pChannel->SetWindow(s.m_nWindowType, 0);
        }
    }
}

void CRunControl::PushToView(const SDialogSettings& s) {
    if (m_pView->m_nSpanLowHz != s.m_nSpanLowHz || m_pView->m_nSpanHighHz != s.m_nSpanHighHz) {
        m_pView->m_nSpanLowHz = s.m_nSpanLowHz;
        m_pView->m_nSpanHighHz = s.m_nSpanHighHz;
        m_pView->DrawScale();
    }
    if (m_pView->m_bHold != int(s.m_bHold)) {
        m_pView->m_bHold = s.m_bHold ? 1 : 0;
        // A hold begins from what comes next, not from an earlier maximum.
        if (s.m_bHold) {
            m_pEngine->m_chanLeft.ClearHold();
            m_pEngine->m_chanRight.ClearHold();
        }
    }
    m_pView->m_nYScale = s.m_nYScale;
    m_pView->m_nOffsetRight = s.m_nOffsetRight;
    m_pView->m_nOffset = s.m_nOffset;
    m_pView->m_nMinXSpace = s.m_nMinXSpace;
}

int CRunControl::Open(const SCaptureGuid* pDevice) {
    if (!m_pEngine)
        return kCaptureErrNotOpen;
    const int nResult = m_pEngine->Open(pDevice);
    // Whichever entry opened it, the built-in signal is said to be one.
    m_pView->m_bBuiltInSignal = nResult >= 0 && m_pEngine->IsBuiltInSignal();
    return nResult;
}

int CRunControl::Start() {
    return m_pEngine ? m_pEngine->Start() : kCaptureErrNotOpen;
}

void CRunControl::Stop() {
    if (!m_pEngine)
        return;
    // A cycle in progress leaves after its current pass; Stop waits for it.
    m_pEngine->m_bStopCycle = 1;
    m_pEngine->m_nPassCount = 20000;
    m_pEngine->Stop();
    delete m_pEngine;
    m_pEngine = nullptr;
    // The channels are gone with the engine.
    m_pView->BindChannels(nullptr, nullptr, m_pView->m_nFftSize, m_pView->m_nSampleRate);
    m_pView->m_bBuiltInSignal = false;
    m_pView->update();
    emit RunningChanged(false);
}

CReferenceSpectrum CRunControl::LeftSpectrum(std::string strSource) const {
    if (!m_pEngine)
        return {};
    const CAnalysisChannel& left = m_pEngine->m_chanLeft;
    const auto lock = left.LockArrays();
    if (!left.m_pPower || left.m_nSize <= 0)
        return {};
    const double dBinWidth = double(m_pEngine->m_nSampleRate.load()) / left.m_nSize;
    return CReferenceSpectrum::FromBins(left.m_pPower, left.m_nSize / 2 + 1, dBinWidth,
                                        left.PowerScale(), std::move(strSource));
}
