#include "capture/PortAudioDevice.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <portaudio.h>

#include "capture/PortAudioCaptureBuffer.h"
#include "capture/PortAudioSession.h"

namespace {

constexpr uint8_t kTag[4] = {'V', 'm', 'r', 'P'};

// Device indices change when devices come and go; the identifier is made of
// what names the device instead: its host API, its name and which of several
// equally named devices it is.
uint64_t NameHash(const char* pszHostApi, const char* pszName) {
    uint64_t h = 14695981039346656037ull;
    auto mix = [&h](const char* s) {
        for (; *s; ++s) {
            h ^= static_cast<uint8_t>(*s);
            h *= 1099511628211ull;
        }
        h ^= 0xFF;
        h *= 1099511628211ull;
    };
    mix(pszHostApi);
    mix(pszName);
    return h;
}

SCaptureGuid MakeGuid(uint64_t nHash, uint16_t nOccurrence) {
    SCaptureGuid guid{};
    std::memcpy(guid.bytes, kTag, sizeof kTag);
    std::memcpy(guid.bytes + 4, &nHash, sizeof nHash);
    std::memcpy(guid.bytes + 12, &nOccurrence, sizeof nOccurrence);
    return guid;
}

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
    std::vector<std::pair<uint64_t, uint16_t>> seen;
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(i);
        if (!pInfo || pInfo->maxInputChannels < 1 || !pInfo->name)
            continue;
        const PaHostApiInfo* pApi = Pa_GetHostApiInfo(pInfo->hostApi);
        const char* pszApi = pApi && pApi->name ? pApi->name : "";
        const uint64_t hash = NameHash(pszApi, pInfo->name);
        uint16_t occurrence = 0;
        for (auto& [h, n] : seen)
            if (h == hash)
                occurrence = ++n;
        if (occurrence == 0)
            seen.emplace_back(hash, 0);
        std::string description = pInfo->name;
        if (*pszApi)
            description += std::string(" (") + pszApi + ")";
        found.push_back(SFound{i, DesktopRank(pInfo->name),
                               CPortAudioDevice::SInput{MakeGuid(hash, occurrence), description,
                                                        std::string("PortAudio ") + pszApi}});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const SFound& a, const SFound& b) { return a.nRank < b.nRank; });
    return found;
}

} // namespace

CPortAudioDevice::CPortAudioDevice(std::shared_ptr<CPortAudioSession> pSession, int nDeviceIndex)
    : m_pSession(std::move(pSession)), m_nDeviceIndex(nDeviceIndex) {}

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
    return std::memcmp(guid.bytes, kTag, sizeof kTag) == 0;
}

int CPortAudioDevice::Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture) {
    *ppCapture = nullptr;
    // Another thread may be probing the devices, which can take a while.
    std::unique_lock lock(CPortAudioSession::Lock(), std::defer_lock);
    if (!lock.try_lock_for(CPortAudioSession::kUserWait))
        return kCaptureErrBusy;
    std::shared_ptr<CPortAudioSession> pSession = CPortAudioSession::Current();
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
    *ppCapture = new (std::nothrow) CPortAudioDevice(std::move(pSession), index);
    return *ppCapture ? kCaptureOk : kCaptureErrOutOfMemory;
}

int CPortAudioDevice::CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) {
    CPortAudioCaptureBuffer* pBuffer = nullptr;
    const int result = CPortAudioCaptureBuffer::Create(
        m_pSession, m_nDeviceIndex, desc.dwBufferBytes, desc.lpwfxFormat->nSamplesPerSec, &pBuffer);
    *ppBuffer = pBuffer;
    return result;
}
