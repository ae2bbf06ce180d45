#include "devices/PulseCaptureDevice.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "devices/DeviceGuid.h"
#include "devices/PortAudioSession.h"
#include "devices/PulseCaptureBuffer.h"
#include "devices/PulseSession.h"
#include "platform/Clock.h"

namespace {

// Source names are the server's stable keys; Open finds the source again by
// the identifiers of the names the server lists.
constexpr char kTag[5] = "VmrU";

// Lower comes first: what the user chose as input, what the desktop plays,
// other inputs, other outputs' monitors.
int SourceRank(const CPulseSession::SSource& source, const CPulseSession::SServerInfo& info) {
    if (source.name == info.defaultSource)
        return 0;
    if (!source.monitorOf.empty() && source.monitorOf == info.defaultSink)
        return 1;
    return source.monitorOf.empty() ? 2 : 3;
}

// kCaptureOk with the server's answer, kCaptureErrNoServer or kCaptureErrServerHung.
int QueryServer(CPulseSession& session, CPulseSession::SServerInfo* pInfo, uint32_t nTimeoutMs) {
    switch (session.ConnectResult()) {
    case CPulseSession::EConnect::Refused:
        return kCaptureErrNoServer;
    case CPulseSession::EConnect::TimedOut:
        return kCaptureErrServerHung;
    case CPulseSession::EConnect::Connected:
        break;
    }
    bool bTimedOut = false;
    if (session.Query(pInfo, nTimeoutMs, &bTimedOut))
        return kCaptureOk;
    return bTimedOut ? kCaptureErrServerHung : kCaptureErrNoServer;
}

// Milliseconds left until a TimeGetTime deadline, at least nFloorMs.
uint32_t MsLeft(uint32_t nDeadlineMs, uint32_t nFloorMs) {
    const auto left = static_cast<int32_t>(nDeadlineMs - TimeGetTime());
    return std::max<int32_t>(left, static_cast<int32_t>(nFloorMs));
}

// A connection that has spent its budget still gets this long to open a stream.
constexpr uint32_t kStreamFloorMs = 50;

} // namespace

CPulseCaptureDevice::CPulseCaptureDevice(std::string sSource,
                                         std::unique_ptr<CPulseSession> pSession,
                                         uint32_t nDeadlineMs)
    : m_sSource(std::move(sSource)), m_pSession(std::move(pSession)), m_nDeadlineMs(nDeadlineMs) {}

CPulseCaptureDevice::~CPulseCaptureDevice() = default;

CPulseCaptureDevice::EServer CPulseCaptureDevice::ListSources(SServer* pServer) {
    *pServer = SServer{};
    CPulseSession::SServerInfo info;
    CPulseSession session;
    switch (QueryServer(session, &info, CPulseSession::kQueryTimeoutMs)) {
    case kCaptureOk:
        break;
    case kCaptureErrServerHung:
        return EServer::NotAnswering;
    default:
        return EServer::Absent;
    }
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
    return EServer::Answering;
}

bool CPulseCaptureDevice::RoutesToServer(const std::string& sDescription,
                                         const std::string& sModule) {
    if (sModule != "PortAudio ALSA")
        return false;
    for (const char* pszName : CPortAudioSession::kServerRoutes)
        if (sDescription == std::string(pszName) + " (ALSA)")
            return true;
    return false;
}

bool CPulseCaptureDevice::IsGuid(const SCaptureGuid& guid) {
    return HasDeviceTag(guid, kTag);
}

SCaptureGuid CPulseCaptureDevice::GuidOf(const std::string& sSourceName) {
    return MakeDeviceGuid(kTag, {sSourceName});
}

int CPulseCaptureDevice::Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture) {
    if (!ppCapture)
        return kCaptureErrInvalidParam;
    *ppCapture = nullptr;
    const uint32_t deadline = TimeGetTime() + kOpenBudgetMs;
    std::unique_ptr<CPulseSession> pSession(new (std::nothrow) CPulseSession(kOpenBudgetMs));
    if (!pSession)
        return kCaptureErrOutOfMemory;
    CPulseSession::SServerInfo info;
    if (const int result = QueryServer(*pSession, &info, MsLeft(deadline, 1)); result < 0)
        return result;
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
    *ppCapture =
        new (std::nothrow) CPulseCaptureDevice(std::move(source), std::move(pSession), deadline);
    return *ppCapture ? kCaptureOk : kCaptureErrOutOfMemory;
}

// The first ring takes Open's connection and what is left of its budget; a
// later one connects anew with a budget of its own.
int CPulseCaptureDevice::CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) {
    const uint32_t timeoutMs = m_pSession ? MsLeft(m_nDeadlineMs, kStreamFloorMs) : kOpenBudgetMs;
    return Adopt(new (std::nothrow) CPulseCaptureBuffer(desc.dwBufferBytes), ppBuffer,
                 [&](CPulseCaptureBuffer& ring) {
                     return ring.OpenStream(std::move(m_pSession), m_sSource,
                                            desc.lpwfxFormat->nSamplesPerSec, timeoutMs);
                 });
}
