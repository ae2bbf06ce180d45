#include "capture/PulseCaptureDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "capture/PulseCaptureBuffer.h"
#include "capture/PulseSession.h"

namespace {

// Source names are the server's stable keys; the identifier carries a 96-bit
// hash of the name behind a tag no other backend uses, and Open finds the
// source again by hashing the names the server lists.
constexpr uint8_t kTag[4] = {'V', 'm', 'r', 'U'};

uint64_t Fnv1a64(const std::string& s) {
    uint64_t h = 14695981039346656037ull;
    for (const char c : s) {
        h ^= static_cast<uint8_t>(c);
        h *= 1099511628211ull;
    }
    return h;
}

uint32_t Fnv1a32(const std::string& s) {
    uint32_t h = 2166136261u;
    for (const char c : s) {
        h ^= static_cast<uint8_t>(c);
        h *= 16777619u;
    }
    return h;
}

// Lower comes first: what the user chose as input, what the desktop plays,
// other inputs, other outputs' monitors.
int SourceRank(const CPulseSession::SSource& source, const CPulseSession::SServerInfo& info) {
    if (source.name == info.defaultSource)
        return 0;
    if (!source.monitorOf.empty() && source.monitorOf == info.defaultSink)
        return 1;
    return source.monitorOf.empty() ? 2 : 3;
}

bool QueryServer(CPulseSession::SServerInfo* pInfo) {
    CPulseSession session;
    return session.IsConnected() && session.Query(pInfo);
}

} // namespace

CPulseCaptureDevice::CPulseCaptureDevice(std::string sSource) : m_sSource(std::move(sSource)) {}

bool CPulseCaptureDevice::ListSources(SServer* pServer) {
    *pServer = SServer{};
    CPulseSession::SServerInfo info;
    if (!QueryServer(&info))
        return false;
    std::stable_sort(info.sources.begin(), info.sources.end(),
                     [&info](const CPulseSession::SSource& a, const CPulseSession::SSource& b) {
                         return SourceRank(a, info) < SourceRank(b, info);
                     });
    const std::string module = info.serverName.empty() ? kModule : info.serverName;
    for (const CPulseSession::SSource& source : info.sources) {
        if (source.name == info.defaultSource)
            pServer->defaultDescription = source.description;
        pServer->sources.push_back(SSource{GuidOf(source.name), source.description, module});
    }
    if (pServer->defaultDescription.empty())
        pServer->defaultDescription = info.defaultSource;
    return true;
}

bool CPulseCaptureDevice::RoutesToServer(const std::string& sDescription,
                                         const std::string& sModule) {
    if (sModule != "PortAudio ALSA")
        return false;
    static constexpr const char* kRouting[] = {
        "pulse",   "pipewire",   "default",   // the server itself
        "lavrate", "samplerate", "speexrate", // rate converters in front of "default"
        "upmix",   "vdownmix",   "speex",     // channel mixers and filters in front of it
    };
    for (const char* pszName : kRouting)
        if (sDescription == std::string(pszName) + " (ALSA)")
            return true;
    return false;
}

bool CPulseCaptureDevice::IsGuid(const SCaptureGuid& guid) {
    return std::memcmp(guid.bytes, kTag, sizeof kTag) == 0;
}

SCaptureGuid CPulseCaptureDevice::GuidOf(const std::string& sSourceName) {
    SCaptureGuid guid{};
    const uint64_t h64 = Fnv1a64(sSourceName);
    const uint32_t h32 = Fnv1a32(sSourceName);
    std::memcpy(guid.bytes, kTag, sizeof kTag);
    std::memcpy(guid.bytes + 4, &h64, sizeof h64);
    std::memcpy(guid.bytes + 12, &h32, sizeof h32);
    return guid;
}

int CPulseCaptureDevice::Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture) {
    if (!ppCapture)
        return kCaptureErrInvalidParam;
    *ppCapture = nullptr;
    CPulseSession::SServerInfo info;
    if (!QueryServer(&info))
        return kCaptureErrNoDevice;
    std::string source;
    if (pGuid) {
        const auto found = std::find_if(
            info.sources.begin(), info.sources.end(), [pGuid](const CPulseSession::SSource& s) {
                const SCaptureGuid guid = GuidOf(s.name);
                return std::memcmp(guid.bytes, pGuid->bytes, sizeof guid.bytes) == 0;
            });
        if (found == info.sources.end())
            return kCaptureErrNoDevice;
        source = found->name;
    }
    *ppCapture = new (std::nothrow) CPulseCaptureDevice(std::move(source));
    return *ppCapture ? kCaptureOk : kCaptureErrOutOfMemory;
}

int CPulseCaptureDevice::CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) {
    CPulseCaptureBuffer* pBuffer = nullptr;
    const int result = CPulseCaptureBuffer::Create(m_sSource, desc.dwBufferBytes,
                                                   desc.lpwfxFormat->nSamplesPerSec, &pBuffer);
    *ppBuffer = pBuffer;
    return result;
}
