#include "devices/TestSignalCaptureBuffer.h"

#include <algorithm>

#include "devices/CaptureFormat.h"

CTestSignalCaptureBuffer::CTestSignalCaptureBuffer(uint32_t nBytes, uint32_t nSampleRate)
    : CRingCaptureBuffer(nBytes), m_nSampleRate(nSampleRate), m_signal(nSampleRate) {}

CTestSignalCaptureBuffer::~CTestSignalCaptureBuffer() = default;

int CTestSignalCaptureBuffer::OnStart() {
    std::lock_guard lock(m_lockSignal);
    if (m_block.empty()) {
        // Ten blocks at a time: a reader that asks seldom is caught up in steps.
        const uint32_t frames = std::max<uint32_t>(1, m_nSampleRate * kBlockMs / 100);
        try {
            m_block.resize(2 * static_cast<size_t>(frames));
        } catch (const std::bad_alloc&) {
            return kCaptureErrOutOfMemory;
        }
    }
    m_start = Clock::now();
    m_nFirstFrame = m_signal.FramesRendered();
    m_bRunning = true;
    return kCaptureOk;
}

void CTestSignalCaptureBuffer::OnStop() {
    std::lock_guard lock(m_lockSignal);
    m_bRunning = false;
}

int CTestSignalCaptureBuffer::GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) {
    CatchUp();
    return CRingCaptureBuffer::GetCurrentPosition(pCapturePos, pReadPos);
}

// Writes everything the clock says has been recorded by the end of the last
// whole block.
void CTestSignalCaptureBuffer::CatchUp() {
    std::lock_guard lock(m_lockSignal);
    if (!m_bRunning)
        return;
    const auto elapsedUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - m_start).count();
    const int64_t blockUs = int64_t{kBlockMs} * 1000;
    const auto deliveredUs = static_cast<uint64_t>(elapsedUs / blockUs * blockUs);
    const uint64_t target = m_nFirstFrame + deliveredUs * m_nSampleRate / 1000000;
    const auto blockFrames = static_cast<uint32_t>(m_block.size() / 2);
    while (m_signal.FramesRendered() < target) {
        const auto n = static_cast<uint32_t>(
            std::min<uint64_t>(blockFrames, target - m_signal.FramesRendered()));
        m_signal.Render(m_block.data(), n);
        WriteFrames(m_block.data(), n);
    }
}
