#include "devices/CaptureDevices.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "devices/CaptureDevice.h"
#include "devices/PortAudioDevice.h"
#include "devices/PortAudioSession.h"
#include "devices/PulseCaptureDevice.h"
#include "devices/TestSignalDevice.h"

namespace {

constexpr const char* kPrimaryDescription = "Primary capture device";
constexpr const char* kServerNotAnswering = "the sound server is not answering";

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
    // without one, the built-in signal. A server that does not answer would
    // be opened as the default input: the entry says so, rather than
    // offering the built-in signal it is not.
    const std::string primary = std::string(kPrimaryDescription) + " (" +
                                (eServer == EServer::NotAnswering ? kServerNotAnswering
                                 : defaultInput.empty()           ? CTestSignalDevice::kDescription
                                                                  : defaultInput) +
                                ")";
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

namespace {

// What the primary entry says it is: the sound server's default source; else
// the sound system's default input, as last probed; else, where there is
// neither, the built-in signal. Whatever else goes wrong is said, never
// covered with a stand-in. The server and the probe are waited for, together,
// no longer than the user interface waits.
int OpenPrimary(ICaptureDevice** ppCapture) {
    const auto deadline = std::chrono::steady_clock::now() + CPortAudioSession::kUserWait;
    // A frozen server would freeze its route through the default input too.
    if (const int server = CPulseCaptureDevice::Open(nullptr, ppCapture);
        server != kCaptureErrNoServer)
        return server;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int input = CPortAudioDevice::Open(nullptr, ppCapture,
                                             std::max(left, std::chrono::milliseconds::zero()));
    if (input == kCaptureErrNoDevice)
        return CTestSignalDevice::Open(ppCapture);
    return input;
}

} // namespace

namespace {

// Registered before any device is opened; read-only afterwards.
std::vector<SCaptureBackend>& RegisteredBackends() {
    static std::vector<SCaptureBackend> s_backends;
    return s_backends;
}

} // namespace

void CaptureRegisterBackend(const SCaptureBackend& backend) {
    RegisteredBackends().push_back(backend);
}

int CaptureCreate(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture) {
    if (!ppCapture)
        return kCaptureErrInvalidParam;
    *ppCapture = nullptr;
    if (!pGuid)
        return OpenPrimary(ppCapture);
    if (CTestSignalDevice::IsGuid(*pGuid))
        return CTestSignalDevice::Open(ppCapture);
    for (const SCaptureBackend& backend : RegisteredBackends())
        if (backend.pfnIsGuid(*pGuid))
            return backend.pfnOpen(*pGuid, ppCapture);
    if (CPortAudioDevice::IsGuid(*pGuid))
        return CPortAudioDevice::Open(pGuid, ppCapture);
    if (CPulseCaptureDevice::IsGuid(*pGuid))
        return CPulseCaptureDevice::Open(pGuid, ppCapture);
    return kCaptureErrNoDevice;
}
