#include "tests/devices/ScriptedCaptureBuffer.h"

CScriptedCaptureBuffer::CScriptedCaptureBuffer(const SCaptureBufferDesc& desc)
    : CRingCaptureBuffer(desc.dwBufferBytes), m_desc(desc), m_wfx(*desc.lpwfxFormat) {
    m_desc.lpwfxFormat = &m_wfx;
}

void CScriptedCaptureBuffer::WriteFrameAt(uint32_t nFrame, int16_t nLeft, int16_t nRight) {
    const auto l = static_cast<uint16_t>(nLeft);
    const auto r = static_cast<uint16_t>(nRight);
    const uint8_t frame[4] = {static_cast<uint8_t>(l & 0xFF), static_cast<uint8_t>(l >> 8),
                              static_cast<uint8_t>(r & 0xFF), static_cast<uint8_t>(r >> 8)};
    WriteBytesAt(nFrame * 4 % BufferBytes(), frame, 4);
}

int CScriptedCaptureBuffer::Start(uint32_t nFlags) {
    m_nStartFlags = nFlags;
    return CRingCaptureBuffer::Start(nFlags);
}

int CScriptedCaptureBuffer::GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) {
    if (const int result = m_nPositionResult.load(); result != 0)
        return result;
    return CRingCaptureBuffer::GetCurrentPosition(pCapturePos, pReadPos);
}

int CScriptedCaptureBuffer::Lock(uint32_t nOffset, uint32_t nBytes, void** ppRegion1,
                                 uint32_t* pBytes1, void** ppRegion2, uint32_t* pBytes2,
                                 uint32_t nFlags) {
    ++m_nLocks;
    m_nLastLockOffset = nOffset;
    m_nLastLockBytes = nBytes;
    if (const int result = m_nLockResult.load(); result != 0)
        return result;
    return CRingCaptureBuffer::Lock(nOffset, nBytes, ppRegion1, pBytes1, ppRegion2, pBytes2,
                                    nFlags);
}

int CScriptedCaptureBuffer::Unlock(void* pRegion1, uint32_t nBytes1, void* pRegion2,
                                   uint32_t nBytes2) {
    ++m_nUnlocks;
    m_nLastUnlockBytes = nBytes1 + nBytes2;
    return CRingCaptureBuffer::Unlock(pRegion1, nBytes1, pRegion2, nBytes2);
}

int CScriptedCaptureBuffer::OnStart() {
    ++m_nStarts;
    return m_nStartResult.load();
}

void CScriptedCaptureBuffer::OnStop() {
    ++m_nStops;
}
