#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "devices/CaptureBuffer.h"
#include "devices/CaptureFormat.h"

// The ring behind every backend's capture buffer: 16-bit stereo frames, a
// capture position and a read position, and wrap-around locking.
//
// One writer (the backend's audio callback or generator thread) appends frames
// at the read position and then advances it; one reader locks ranges. A lock
// hands out a copy of the range taken under the ring's mutex, so the writer can
// go on filling the ring while the reader works through its regions.
class CRingCaptureBuffer : public ICaptureBuffer {
public:
    // A ring of nBytes bytes (a multiple of 4). Check IsAllocated afterwards.
    explicit CRingCaptureBuffer(uint32_t nBytes);

    bool IsAllocated() const { return m_pRing != nullptr; }
    uint32_t BufferBytes() const { return m_nBytes; }
    bool IsCapturing() const { return m_bCapturing.load(std::memory_order_acquire); }
    bool HasFailed() const { return m_bFailed.load(std::memory_order_acquire); }

    int Start(uint32_t nFlags) override;
    int Stop() override;
    int GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) override;
    int Lock(uint32_t nOffset, uint32_t nBytes, void** ppRegion1, uint32_t* pBytes1,
             void** ppRegion2, uint32_t* pBytes2, uint32_t nFlags) override;
    int Unlock(void* pRegion1, uint32_t nBytes1, void* pRegion2, uint32_t nBytes2) override;
    uint32_t AddRef() override;
    uint32_t Release() override;

    // Writer side. Appends interleaved stereo frames at the read position.
    void WriteFrames(const int16_t* pFrames, uint32_t nFrames);
    // Appends single-channel samples, each filling both halves of its frame.
    void WriteMonoFrames(const int16_t* pSamples, uint32_t nFrames);
    // The device failed or went away: positions can no longer be had.
    void MarkFailed();
    // The backend heard from its source (sound, or news of a gap).
    void NoteDelivery();

protected:
    // A running source that sends nothing for nMs counts as gone: a server
    // that hangs keeps its connection open, and a device that went away may
    // simply stop calling back. 0 (the default): never.
    void SetStallLimit(uint32_t nMs) { m_nStallMs = nMs; }

    ~CRingCaptureBuffer() override;
    // Backend hooks, called by Start and Stop (and OnStop once more before the
    // buffer is destroyed, so that no writer outlives the ring).
    virtual int OnStart() { return kCaptureOk; }
    virtual void OnStop() {}
    // Raw access for scripted sources: bytes at an offset, and both positions.
    void WriteBytesAt(uint32_t nOffset, const void* pBytes, uint32_t nBytes);
    void SetPositions(uint32_t nCapturePos, uint32_t nReadPos);

private:
    template <typename FrameWriter> void AppendFrames(uint32_t nFrames, FrameWriter write);

    uint32_t m_nBytes = 0;
    uint32_t m_nStallMs = 0;
    std::atomic<uint32_t> m_nLastDeliveryMs{0};
    uint8_t* m_pRing = nullptr;
    // What a lock hands out: the locked range, region 2 right after region 1.
    uint8_t* m_pLocked = nullptr;
    // Held for one block write or one lock's copy.
    std::mutex m_lockRing;
    // Serialises Start, Stop and release.
    std::mutex m_lockState;
    std::atomic<uint32_t> m_nCapturePos{0};
    std::atomic<uint32_t> m_nReadPos{0};
    std::atomic<bool> m_bCapturing{false};
    std::atomic<bool> m_bFailed{false};
    std::atomic<bool> m_bLocked{false};
    std::atomic<uint32_t> m_nRefs{1};
};
