#include "devices/PortAudioDevice.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <portaudio.h>
#include <utility>

#include "devices/DeviceGuid.h"
#include "devices/PortAudioCaptureBuffer.h"
#include "devices/PortAudioSession.h"

namespace {

// Device indices change when devices come and go; the identifier is made of
// what names the device instead: its host API, its name and which of several
// equally named devices it is.
constexpr char kTag[5] = "VmrP";

// Lower opens more likely on a desktop: sound servers share the card with
// every other program, raw hardware devices are often held by one of them.
int DesktopRank(const std::string& name) {
    if (name == "pipewire" || name == "pulse" || name == "jack")
        return 0;
    if (name == "default")
        return 1;
    if (name == "sysdefault")
        return 2;
    if (name.find("(hw:") != std::string::npos)
        return 4;
    return 3;
}

struct SFound {
    int nIndex;
    int nRank;
    CPortAudioDevice::SInput input;
};

// Every input-capable device, ranked; the caller holds the session lock.
std::vector<SFound> FindInputs() {
    std::vector<SFound> found;
    std::map<std::pair<std::string, std::string>, uint16_t> seen;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(i);
        if (!pInfo || pInfo->maxInputChannels < 1 || !pInfo->name)
            continue;
        const PaHostApiInfo* pApi = Pa_GetHostApiInfo(pInfo->hostApi);
        const char* pszApi = pApi && pApi->name ? pApi->name : "";
        const uint16_t occurrence = seen[{pszApi, pInfo->name}]++;
        std::string description = pInfo->name;
        if (*pszApi)
            description += std::string(" (") + pszApi + ")";
        found.push_back(
            SFound{i, DesktopRank(pInfo->name),
                   CPortAudioDevice::SInput{MakeDeviceGuid(kTag, {pszApi, pInfo->name}, occurrence),
                                            description, std::string("PortAudio ") + pszApi}});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const SFound& a, const SFound& b) { return a.nRank < b.nRank; });
    return found;
}

} // namespace

CPortAudioDevice::CPortAudioDevice(std::shared_ptr<CPortAudioSession> pSession, int nDeviceIndex,
                                   Clock::time_point deadline)
    : m_pSession(std::move(pSession)), m_nDeviceIndex(nDeviceIndex), m_deadline(deadline) {}

CPortAudioDevice::~CPortAudioDevice() = default;

std::vector<CPortAudioDevice::SInput> CPortAudioDevice::ListInputs(std::string* pDefault) {
    std::vector<SInput> inputs;
    if (pDefault)
        pDefault->clear();
    std::lock_guard lock(CPortAudioSession::Lock());
    if (!CPortAudioSession::Current()->IsOpen())
        return inputs;
    const int defaultIndex = Pa_GetDefaultInputDevice();
    for (SFound& f : FindInputs()) {
        if (pDefault && f.nIndex == defaultIndex)
            *pDefault = f.input.description;
        inputs.push_back(std::move(f.input));
    }
    return inputs;
}

bool CPortAudioDevice::IsGuid(const SCaptureGuid& guid) {
    return HasDeviceTag(guid, kTag);
}

int CPortAudioDevice::Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture,
                           std::chrono::milliseconds nWait) {
    *ppCapture = nullptr;
    const Clock::time_point deadline = Clock::now() + nWait;
    // Another thread may be probing the devices, which can take a while; the
    // probe it makes is the one to open from.
    std::unique_lock lock(CPortAudioSession::Lock(), std::defer_lock);
    if (!lock.try_lock_until(deadline))
        return kCaptureErrStillLooking;
    std::shared_ptr<CPortAudioSession> pSession = CPortAudioSession::Probed();
    if (!pSession)
        return kCaptureErrStillLooking;
    if (!pSession->IsOpen())
        return kCaptureErrNoDevice;
    int index = paNoDevice;
    if (!pGuid) {
        index = Pa_GetDefaultInputDevice();
    } else {
        for (const SFound& f : FindInputs())
            if (std::memcmp(f.input.guid.bytes, pGuid->bytes, sizeof pGuid->bytes) == 0)
                index = f.nIndex;
    }
    if (index == paNoDevice || index < 0)
        return kCaptureErrNoDevice;
    *ppCapture = new (std::nothrow) CPortAudioDevice(std::move(pSession), index, deadline);
    return *ppCapture ? kCaptureOk : kCaptureErrOutOfMemory;
}

int CPortAudioDevice::CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) {
    const Clock::time_point deadline =
        std::exchange(m_bRingMade, true) ? Clock::now() + CPortAudioSession::kUserWait : m_deadline;
    return Adopt(new (std::nothrow) CPortAudioCaptureBuffer(m_pSession, desc.dwBufferBytes),
                 ppBuffer, [&](CPortAudioCaptureBuffer& ring) {
                     return ring.OpenStream(m_nDeviceIndex, desc.lpwfxFormat->nSamplesPerSec,
                                            deadline);
                 });
}
