#pragma once

#include <atomic>
#include <cstdint>

#include "devices/CaptureFormat.h"
#include "devices/RingCaptureBuffer.h"

// A capture buffer whose ring contents and positions a test sets directly; it
// records what its reader asked of it and can be told to fail.
class CScriptedCaptureBuffer : public CRingCaptureBuffer {
public:
    CScriptedCaptureBuffer(const SCaptureBufferDesc& desc);

    using CRingCaptureBuffer::SetPositions;
    using CRingCaptureBuffer::WriteBytesAt;
    // Writes one frame at a frame index of the ring (wrapping).
    void WriteFrameAt(uint32_t nFrame, int16_t nLeft, int16_t nRight);
    // Fills the whole ring: frame i gets fnLeft(i) and fnRight(i).
    template <typename Left, typename Right> void Fill(Left fnLeft, Right fnRight) {
        const uint32_t frames = BufferBytes() / 4;
        for (uint32_t i = 0; i < frames; ++i)
            WriteFrameAt(i, fnLeft(i), fnRight(i));
    }

    // Make Start, GetCurrentPosition or Lock return nResult (0: behave).
    std::atomic<int> m_nStartResult{0};
    std::atomic<int> m_nPositionResult{0};
    std::atomic<int> m_nLockResult{0};

    // What the reader did.
    std::atomic<int> m_nStarts{0};
    std::atomic<int> m_nStops{0};
    std::atomic<uint32_t> m_nStartFlags{0};
    std::atomic<int> m_nLocks{0};
    std::atomic<int> m_nUnlocks{0};
    std::atomic<uint32_t> m_nLastLockOffset{0};
    std::atomic<uint32_t> m_nLastLockBytes{0};
    std::atomic<uint32_t> m_nLastUnlockBytes{0};
    // The description and format it was created with.
    SCaptureBufferDesc m_desc{};
    SWaveFormat m_wfx{};

    int Start(uint32_t nFlags) override;
    int GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) override;
    int Lock(uint32_t nOffset, uint32_t nBytes, void** ppRegion1, uint32_t* pBytes1,
             void** ppRegion2, uint32_t* pBytes2, uint32_t nFlags) override;
    int Unlock(void* pRegion1, uint32_t nBytes1, void* pRegion2, uint32_t nBytes2) override;

protected:
    ~CScriptedCaptureBuffer() override = default;
    int OnStart() override;
    void OnStop() override;
};
