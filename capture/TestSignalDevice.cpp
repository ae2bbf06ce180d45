#include "capture/TestSignalDevice.h"

#include <cstring>
#include <new>

#include "capture/TestSignalCaptureBuffer.h"

SCaptureGuid CTestSignalDevice::Guid() {
    return SCaptureGuid{{'V', 'm', 'r', 'T', 'e', 's', 't', 'S', 'i', 'g', 'n', 'a', 'l', 0, 0, 1}};
}

bool CTestSignalDevice::IsGuid(const SCaptureGuid& guid) {
    const SCaptureGuid mine = Guid();
    return std::memcmp(guid.bytes, mine.bytes, sizeof mine.bytes) == 0;
}

int CTestSignalDevice::Open(ICaptureDevice** ppCapture) {
    if (!ppCapture)
        return kCaptureErrInvalidParam;
    *ppCapture = new (std::nothrow) CTestSignalDevice();
    return *ppCapture ? kCaptureOk : kCaptureErrOutOfMemory;
}

int CTestSignalDevice::CreateCaptureBuffer(const SCaptureBufferDesc* pDesc,
                                           ICaptureBuffer** ppBuffer) {
    if (!ppBuffer)
        return kCaptureErrInvalidParam;
    *ppBuffer = nullptr;
    if (const int check = CheckBufferDesc(pDesc); check < 0)
        return check;
    auto* pBuffer = new (std::nothrow)
        CTestSignalCaptureBuffer(pDesc->dwBufferBytes, pDesc->lpwfxFormat->nSamplesPerSec);
    if (!pBuffer)
        return kCaptureErrOutOfMemory;
    if (!pBuffer->IsAllocated()) {
        pBuffer->Release();
        return kCaptureErrOutOfMemory;
    }
    *ppBuffer = pBuffer;
    return kCaptureOk;
}
