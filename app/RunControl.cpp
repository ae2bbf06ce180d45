#include "app/RunControl.h"

#include "analysis/BinWidth.h"
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
    SViewSettings view;
    view.nSampleRate = s.m_nSampleRate;
    view.nFftSize = s.m_nFftSize;
    view.nSpanLowHz = s.m_nSpanLowHz;
    view.nSpanHighHz = s.m_nSpanHighHz;
    view.bHold = s.m_bHold;
    view.nYScale = s.m_nYScale;
    view.nOffsetRight = s.m_nOffsetRight;
    view.nOffset = s.m_nOffset;
    view.nMinXSpace = s.m_nMinXSpace;
    // A hold begins from what comes next, not from an earlier maximum.
    if (m_pView->ApplySettings(view)) {
        m_pEngine->m_chanLeft.ClearHold();
        m_pEngine->m_chanRight.ClearHold();
    }
}

int CRunControl::Open(const SCaptureGuid* pDevice) {
    if (!m_pEngine)
        return kCaptureErrNotOpen;
    const int nResult = m_pEngine->Open(pDevice);
    // Whichever entry opened it, the built-in signal is said to be one.
    m_pView->SetBuiltInSignal(nResult >= 0 && m_pEngine->IsBuiltInSignal());
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
    m_pView->SetBuiltInSignal(false);
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
    const double dBinWidth = BinWidthHz(m_pEngine->m_nSampleRate.load(), left.m_nSize);
    return CReferenceSpectrum::FromBins(left.m_pPower, left.m_nSize / 2 + 1, dBinWidth,
                                        left.PowerScale(), std::move(strSource));
}
