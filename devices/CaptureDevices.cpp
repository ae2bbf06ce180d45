#include "devices/CaptureDevices.h"

#include <string>

#include "devices/CaptureDevice.h"
#include "devices/PortAudioDevice.h"
#include "devices/PortAudioSession.h"
#include "devices/PulseCaptureDevice.h"
#include "devices/ScriptedCaptureDevice.h"
#include "devices/TestSignalDevice.h"

namespace {

constexpr const char* kPrimaryDescription = "Primary capture device";

using EServer = CPulseCaptureDevice::EServer;

// Whether the server answers decides what PortAudio may probe, and whether
// its routes to the server open at all: a server that comes, goes or hangs
// makes the last probe stale.
void PrepareProbe(EServer eServer) {
    static EServer s_eLast = EServer::Absent;
    static bool s_bProbed = false;
    std::lock_guard lock(CPortAudioSession::Lock());
    CPortAudioSession::SetServerRoutes(eServer != EServer::NotAnswering);
    if (s_bProbed && eServer != s_eLast)
        CPortAudioSession::Forget();
    s_eLast = eServer;
    s_bProbed = true;
}

} // namespace

int CaptureEnumerate(CaptureEnumCallback pfnCallback, void* pContext) {
    if (!pfnCallback)
        return kCaptureErrInvalidParam;
    CPulseCaptureDevice::SServer server;
    const EServer eServer = CPulseCaptureDevice::ListSources(&server);
    PrepareProbe(eServer);
    std::string defaultInput;
    std::vector<CPortAudioDevice::SInput> inputs = CPortAudioDevice::ListInputs(&defaultInput);
    // A sound server that answers comes first with its own sources; PortAudio's
    // devices that only lead back to it would list it twice.
    if (eServer == EServer::Answering) {
        defaultInput = server.defaultDescription;
        std::erase_if(inputs, [](const CPortAudioDevice::SInput& input) {
            return CPulseCaptureDevice::RoutesToServer(input.description, input.module);
        });
    }
    // The primary device is the sound system's default input, or, on a machine
    // without one, the built-in signal.
    const std::string primary =
        std::string(kPrimaryDescription) + " (" +
        (defaultInput.empty() ? CTestSignalDevice::kDescription : defaultInput) + ")";
    if (!pfnCallback(nullptr, primary.c_str(), "", pContext))
        return kCaptureOk;
    for (const CPulseCaptureDevice::SSource& source : server.sources)
        if (!pfnCallback(&source.guid, source.description.c_str(), source.module.c_str(), pContext))
            return kCaptureOk;
    for (const CPortAudioDevice::SInput& input : inputs)
        if (!pfnCallback(&input.guid, input.description.c_str(), input.module.c_str(), pContext))
            return kCaptureOk;
    const SCaptureGuid testSignal = CTestSignalDevice::Guid();
    pfnCallback(&testSignal, CTestSignalDevice::kDescription, CTestSignalDevice::kModule, pContext);
    return kCaptureOk;
}

void CaptureRescan() {
    std::lock_guard lock(CPortAudioSession::Lock());
    CPortAudioSession::Forget();
}

int CaptureCreate(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture) {
    if (!ppCapture)
        return kCaptureErrInvalidParam;
    *ppCapture = nullptr;
    if (!pGuid) {
        const int server = CPulseCaptureDevice::Open(nullptr, ppCapture);
        // The sound system's default input would lead to the same frozen server.
        if (server == kCaptureOk || server == kCaptureErrServerHung)
            return server;
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
    if (CPulseCaptureDevice::IsGuid(*pGuid))
        return CPulseCaptureDevice::Open(pGuid, ppCapture);
    return kCaptureErrNoDevice;
}
