#include "devices/TestSignalCaptureBuffer.h"

#include <algorithm>
#include <chrono>
#include <system_error>

#include "devices/CaptureFormat.h"

CTestSignalCaptureBuffer::CTestSignalCaptureBuffer(uint32_t nBytes, uint32_t nSampleRate)
    : CRingCaptureBuffer(nBytes), m_nSampleRate(nSampleRate), m_signal(nSampleRate) {}

CTestSignalCaptureBuffer::~CTestSignalCaptureBuffer() = default;

int CTestSignalCaptureBuffer::OnStart() {
    if (m_block.empty()) {
        // Room for ten blocks: a writer that was held up catches up in steps.
        const uint32_t frames = std::max<uint32_t>(1, m_nSampleRate * kBlockMs / 100);
        try {
            m_block.resize(2 * static_cast<size_t>(frames));
        } catch (const std::bad_alloc&) {
            return kCaptureErrOutOfMemory;
        }
    }
    m_bStopWriter = false;
    try {
        m_writer = std::thread(&CTestSignalCaptureBuffer::WriterLoop, this);
    } catch (const std::system_error&) {
        return kCaptureErrGeneric;
    }
    return kCaptureOk;
}

void CTestSignalCaptureBuffer::OnStop() {
    {
        std::lock_guard lock(m_lockWriter);
        m_bStopWriter = true;
    }
    m_wakeWriter.notify_all();
    if (m_writer.joinable())
        m_writer.join();
}

void CTestSignalCaptureBuffer::WriterLoop() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const uint64_t firstFrame = m_signal.FramesRendered();
    const auto blockFrames = static_cast<uint32_t>(m_block.size() / 2);
    std::unique_lock lock(m_lockWriter);
    for (int block = 1;; ++block) {
        const Clock::time_point due = start + std::chrono::milliseconds(kBlockMs * block);
        if (m_wakeWriter.wait_until(lock, due, [this] { return m_bStopWriter; }))
            return;
        // Everything the clock says has been "recorded" by now.
        const auto elapsedUs =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        const uint64_t target =
            firstFrame + static_cast<uint64_t>(elapsedUs) * m_nSampleRate / 1000000;
        while (m_signal.FramesRendered() < target) {
            const auto n = static_cast<uint32_t>(
                std::min<uint64_t>(blockFrames, target - m_signal.FramesRendered()));
            m_signal.Render(m_block.data(), n);
            WriteFrames(m_block.data(), n);
        }
    }
}
