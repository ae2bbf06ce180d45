#include "devices/TestSignalDevice.h"

#include <cstring>
#include <new>

#include "devices/TestSignalCaptureBuffer.h"

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

bool CTestSignalDevice::Is(const ICaptureDevice* pDevice) {
    return dynamic_cast<const CTestSignalDevice*>(pDevice) != nullptr;
}

int CTestSignalDevice::CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) {
    return Adopt(new (std::nothrow)
                     CTestSignalCaptureBuffer(desc.dwBufferBytes, desc.lpwfxFormat->nSamplesPerSec),
                 ppBuffer);
}
