#include "devices/CaptureDeviceBase.h"

int CCaptureDeviceBase::CreateCaptureBuffer(const SCaptureBufferDesc* pDesc,
                                            ICaptureBuffer** ppBuffer) {
    if (!ppBuffer)
        return kCaptureErrInvalidParam;
    *ppBuffer = nullptr;
    if (const int check = CheckBufferDesc(pDesc); check < 0)
        return check;
    return CreateRing(*pDesc, ppBuffer);
}

uint32_t CCaptureDeviceBase::AddRef() {
    return m_nRefs.fetch_add(1, std::memory_order_relaxed) + 1;
}

uint32_t CCaptureDeviceBase::Release() {
    const uint32_t left = m_nRefs.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
        delete this;
    return left;
}

int CCaptureDeviceBase::CheckBufferDesc(const SCaptureBufferDesc* pDesc) {
    if (!pDesc || pDesc->dwSize < kCaptureBufferDescSize || !pDesc->lpwfxFormat)
        return kCaptureErrInvalidParam;
    const SWaveFormat& wfx = *pDesc->lpwfxFormat;
    if (wfx.wFormatTag != kWaveFormatPcm || wfx.nChannels != 2 || wfx.wBitsPerSample != 16 ||
        wfx.nBlockAlign != 4 || wfx.nSamplesPerSec == 0 ||
        wfx.nAvgBytesPerSec != 4 * wfx.nSamplesPerSec)
        return kCaptureErrBadFormat;
    if (pDesc->dwBufferBytes == 0 || pDesc->dwBufferBytes % wfx.nBlockAlign != 0)
        return kCaptureErrInvalidParam;
    return kCaptureOk;
}
