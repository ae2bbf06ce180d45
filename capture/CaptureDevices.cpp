#include "capture/CaptureDevices.h"

#include "capture/CaptureDevice.h"
#include "capture/ScriptedCaptureDevice.h"
#include "capture/TestSignalDevice.h"

int CaptureEnumerate(CaptureEnumCallback pfnCallback, void* pContext) {
    if (!pfnCallback)
        return kCaptureErrInvalidParam;
    if (!pfnCallback(nullptr, "Primary capture device", "", pContext))
        return kCaptureOk;
    const SCaptureGuid testSignal = CTestSignalDevice::Guid();
    pfnCallback(&testSignal, CTestSignalDevice::kDescription, CTestSignalDevice::kModule, pContext);
    return kCaptureOk;
}

int CaptureCreate(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture) {
    if (!ppCapture)
        return kCaptureErrInvalidParam;
    *ppCapture = nullptr;
    if (!pGuid || CTestSignalDevice::IsGuid(*pGuid))
        return CTestSignalDevice::Open(ppCapture);
    if (CScriptedCaptureDevice::IsGuid(*pGuid))
        return CScriptedCaptureDevice::Open(*pGuid, ppCapture);
    return kCaptureErrNoDevice;
}
