#include "capture/CaptureDevices.h"

#include <string>

#include "capture/CaptureDevice.h"
#include "capture/PortAudioDevice.h"
#include "capture/ScriptedCaptureDevice.h"
#include "capture/TestSignalDevice.h"

namespace {

constexpr const char* kPrimaryDescription = "Primary capture device";

} // namespace

int CaptureEnumerate(CaptureEnumCallback pfnCallback, void* pContext) {
    if (!pfnCallback)
        return kCaptureErrInvalidParam;
    std::string defaultInput;
    const std::vector<CPortAudioDevice::SInput> inputs =
        CPortAudioDevice::ListInputs(&defaultInput);
    // The primary device is the sound system's default input, or, on a machine
    // without one, the built-in signal.
    const std::string primary =
        std::string(kPrimaryDescription) + " (" +
        (defaultInput.empty() ? CTestSignalDevice::kDescription : defaultInput) + ")";
    if (!pfnCallback(nullptr, primary.c_str(), "", pContext))
        return kCaptureOk;
    for (const CPortAudioDevice::SInput& input : inputs)
        if (!pfnCallback(&input.guid, input.description.c_str(), input.module.c_str(), pContext))
            return kCaptureOk;
    const SCaptureGuid testSignal = CTestSignalDevice::Guid();
    pfnCallback(&testSignal, CTestSignalDevice::kDescription, CTestSignalDevice::kModule, pContext);
    return kCaptureOk;
}

int CaptureCreate(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture) {
    if (!ppCapture)
        return kCaptureErrInvalidParam;
    *ppCapture = nullptr;
    if (!pGuid) {
        if (CPortAudioDevice::Open(nullptr, ppCapture) == kCaptureOk)
            return kCaptureOk;
        return CTestSignalDevice::Open(ppCapture);
    }
    if (CTestSignalDevice::IsGuid(*pGuid))
        return CTestSignalDevice::Open(ppCapture);
    if (CScriptedCaptureDevice::IsGuid(*pGuid))
        return CScriptedCaptureDevice::Open(*pGuid, ppCapture);
    if (CPortAudioDevice::IsGuid(*pGuid))
        return CPortAudioDevice::Open(pGuid, ppCapture);
    return kCaptureErrNoDevice;
}
