#include "devices/RingCaptureBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "devices/CaptureFormat.h"
#include "platform/Clock.h"

namespace {

constexpr uint32_t kFrameBytes = 4;

void PutSample(uint8_t* p, int16_t v) {
    const auto u = static_cast<uint16_t>(v);
    p[0] = static_cast<uint8_t>(u & 0xFF);
    p[1] = static_cast<uint8_t>(u >> 8);
}

} // namespace

CRingCaptureBuffer::CRingCaptureBuffer(uint32_t nBytes) {
    if (nBytes == 0 || nBytes % kFrameBytes != 0)
        return;
    m_pRing = new (std::nothrow) uint8_t[nBytes]();
    m_pLocked = new (std::nothrow) uint8_t[nBytes]();
    if (!m_pRing || !m_pLocked) {
        delete[] m_pRing;
        delete[] m_pLocked;
        m_pRing = m_pLocked = nullptr;
        return;
    }
    m_nBytes = nBytes;
}

CRingCaptureBuffer::~CRingCaptureBuffer() {
    delete[] m_pRing;
    delete[] m_pLocked;
}

int CRingCaptureBuffer::Start(uint32_t /*nFlags*/) {
    std::lock_guard state(m_lockState);
    if (m_bCapturing.load(std::memory_order_relaxed))
        return kCaptureOk;
    NoteDelivery();
    const int result = OnStart();
    if (result >= 0)
        m_bCapturing.store(true, std::memory_order_release);
    return result;
}

int CRingCaptureBuffer::Stop() {
    std::lock_guard state(m_lockState);
    if (!m_bCapturing.load(std::memory_order_relaxed))
        return kCaptureOk;
    OnStop();
    m_bCapturing.store(false, std::memory_order_release);
    return kCaptureOk;
}

int CRingCaptureBuffer::GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) {
    if (m_nStallMs > 0 && IsCapturing() && !HasFailed()) {
        const uint32_t last = m_nLastDeliveryMs.load(std::memory_order_relaxed);
        if (static_cast<uint32_t>(TimeGetTime() - last) > m_nStallMs)
            MarkFailed();
    }
    if (m_bFailed.load(std::memory_order_acquire))
        return kCaptureErrDeviceLost;
    if (pCapturePos)
        *pCapturePos = m_nCapturePos.load(std::memory_order_acquire);
    if (pReadPos)
        *pReadPos = m_nReadPos.load(std::memory_order_acquire);
    return kCaptureOk;
}

int CRingCaptureBuffer::Lock(uint32_t nOffset, uint32_t nBytes, void** ppRegion1, uint32_t* pBytes1,
                             void** ppRegion2, uint32_t* pBytes2, uint32_t /*nFlags*/) {
    if (!ppRegion1 || !pBytes1 || nOffset >= m_nBytes || nBytes == 0 || nBytes > m_nBytes)
        return kCaptureErrInvalidParam;
    if (m_bLocked.exchange(true, std::memory_order_acq_rel))
        return kCaptureErrBusy;
    const uint32_t n1 = std::min(nBytes, m_nBytes - nOffset);
    const uint32_t n2 = nBytes - n1;
    if (n2 > 0 && (!ppRegion2 || !pBytes2)) {
        m_bLocked.store(false, std::memory_order_release);
        return kCaptureErrInvalidParam;
    }
    {
        std::lock_guard ring(m_lockRing);
        std::memcpy(m_pLocked, m_pRing + nOffset, n1);
        std::memcpy(m_pLocked + n1, m_pRing, n2);
    }
    *ppRegion1 = m_pLocked;
    *pBytes1 = n1;
    if (ppRegion2)
        *ppRegion2 = n2 > 0 ? m_pLocked + n1 : nullptr;
    if (pBytes2)
        *pBytes2 = n2;
    return kCaptureOk;
}

int CRingCaptureBuffer::Unlock(void* pRegion1, uint32_t /*nBytes1*/, void* /*pRegion2*/,
                               uint32_t /*nBytes2*/) {
    if (pRegion1 != m_pLocked || !m_bLocked.load(std::memory_order_acquire))
        return kCaptureErrInvalidParam;
    m_bLocked.store(false, std::memory_order_release);
    return kCaptureOk;
}

uint32_t CRingCaptureBuffer::AddRef() {
    return m_nRefs.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t CRingCaptureBuffer::Release() {
    const uint32_t left = m_nRefs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) {
        {
            std::lock_guard state(m_lockState);
            if (m_bCapturing.exchange(false, std::memory_order_acq_rel))
                OnStop();
        }
        delete this;
    }
    return left;
}

template <typename FrameWriter>
void CRingCaptureBuffer::AppendFrames(uint32_t nFrames, FrameWriter write) {
    if (!m_pRing || nFrames == 0)
        return;
    std::lock_guard ring(m_lockRing);
    uint32_t pos = m_nReadPos.load(std::memory_order_relaxed);
    for (uint32_t i = 0; i < nFrames; ++i) {
        write(m_pRing + pos, i);
        pos += kFrameBytes;
        if (pos >= m_nBytes)
            pos = 0;
    }
    m_nCapturePos.store(pos, std::memory_order_release);
    m_nReadPos.store(pos, std::memory_order_release);
}

void CRingCaptureBuffer::WriteFrames(const int16_t* pFrames, uint32_t nFrames) {
    AppendFrames(nFrames, [pFrames](uint8_t* p, uint32_t i) {
        PutSample(p, pFrames[2 * i]);
        PutSample(p + 2, pFrames[2 * i + 1]);
    });
}

void CRingCaptureBuffer::WriteMonoFrames(const int16_t* pSamples, uint32_t nFrames) {
    AppendFrames(nFrames, [pSamples](uint8_t* p, uint32_t i) {
        PutSample(p, pSamples[i]);
        PutSample(p + 2, pSamples[i]);
    });
}

void CRingCaptureBuffer::MarkFailed() {
    m_bFailed.store(true, std::memory_order_release);
}

void CRingCaptureBuffer::WriteBytesAt(uint32_t nOffset, const void* pBytes, uint32_t nBytes) {
    if (!m_pRing)
        return;
    std::lock_guard ring(m_lockRing);
    const auto* src = static_cast<const uint8_t*>(pBytes);
    for (uint32_t i = 0; i < nBytes; ++i)
        m_pRing[(nOffset + i) % m_nBytes] = src[i];
}

void CRingCaptureBuffer::SetPositions(uint32_t nCapturePos, uint32_t nReadPos) {
    m_nCapturePos.store(nCapturePos, std::memory_order_release);
    m_nReadPos.store(nReadPos, std::memory_order_release);
}

void CRingCaptureBuffer::NoteDelivery() {
    m_nLastDeliveryMs.store(TimeGetTime(), std::memory_order_relaxed);
}
