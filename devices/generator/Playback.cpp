#include "devices/generator/Playback.h"

#include "devices/generator/SignalGenerator.h"

void CPlayback::Render(int16_t* pInterleavedStereo, int nFrames) {
    const int nSounding = m_generator.Render(pInterleavedStereo, nFrames);
    m_nRendered.fetch_add(nFrames, std::memory_order_relaxed);
    if (nSounding > 0)
        m_nSilentFrames.store(nFrames - nSounding, std::memory_order_relaxed);
    else
        m_nSilentFrames.fetch_add(nFrames, std::memory_order_relaxed);
}

void CPlayback::ResetCounts() {
    m_bFailed.store(false, std::memory_order_relaxed);
    m_nUnderruns.store(0, std::memory_order_relaxed);
    m_dLatencySeconds.store(0.0, std::memory_order_relaxed);
    m_nSilentFrames.store(0, std::memory_order_relaxed);
    m_nRendered.store(0, std::memory_order_relaxed);
}
