#include "tests/devices/ScriptedCaptureDevice.h"

#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "devices/CaptureDevices.h"
#include "tests/devices/ScriptedCaptureBuffer.h"

namespace {

constexpr uint8_t kTag[4] = {'V', 'm', 'r', 'S'};

struct SRegistry {
    std::mutex lock;
    std::map<uint32_t, CScriptedCaptureDevice*> devices;
    uint32_t nLastId = 0;
};

SRegistry& Registry() {
    static SRegistry s_registry;
    return s_registry;
}

uint32_t IdOf(const SCaptureGuid& guid) {
    uint32_t id = 0;
    std::memcpy(&id, guid.bytes + 4, sizeof id);
    return id;
}

} // namespace

CScriptedCaptureDevice::CScriptedCaptureDevice() {
    SRegistry& reg = Registry();
    std::lock_guard lock(reg.lock);
    m_nId = ++reg.nLastId;
    reg.devices[m_nId] = this;
}

CScriptedCaptureDevice::~CScriptedCaptureDevice() {
    {
        SRegistry& reg = Registry();
        std::lock_guard lock(reg.lock);
        reg.devices.erase(m_nId);
    }
    if (CScriptedCaptureBuffer* pBuffer = m_pLastBuffer.load())
        pBuffer->Release();
}

CScriptedCaptureDevice* CScriptedCaptureDevice::Create() {
    // CaptureCreate opens scripted devices from the first one on.
    static const bool s_bRegistered = [] {
        CaptureRegisterBackend({&CScriptedCaptureDevice::IsGuid, &CScriptedCaptureDevice::Open});
        return true;
    }();
    (void)s_bRegistered;
    return new CScriptedCaptureDevice();
}

SCaptureGuid CScriptedCaptureDevice::Guid() const {
    SCaptureGuid guid{};
    std::memcpy(guid.bytes, kTag, sizeof kTag);
    std::memcpy(guid.bytes + 4, &m_nId, sizeof m_nId);
    return guid;
}

bool CScriptedCaptureDevice::IsGuid(const SCaptureGuid& guid) {
    return std::memcmp(guid.bytes, kTag, sizeof kTag) == 0;
}

int CScriptedCaptureDevice::Open(const SCaptureGuid& guid, ICaptureDevice** ppCapture) {
    SRegistry& reg = Registry();
    std::lock_guard lock(reg.lock);
    auto it = reg.devices.find(IdOf(guid));
    if (it == reg.devices.end())
        return kCaptureErrNoDevice;
    CScriptedCaptureDevice* pDevice = it->second;
    ++pDevice->m_nOpens;
    if (const int result = pDevice->m_nOpenResult.load(); result != 0)
        return result;
    pDevice->AddRef();
    *ppCapture = pDevice;
    return kCaptureOk;
}

int CScriptedCaptureDevice::CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) {
    if (const int result = m_nCreateBufferResult.load(); result != 0)
        return result;
    auto* pBuffer = new (std::nothrow) CScriptedCaptureBuffer(desc);
    if (const int result = Adopt(pBuffer, ppBuffer); result < 0)
        return result;
    pBuffer->m_nStartResult = m_nBufferStartResult.load();
    pBuffer->AddRef(); // the device's own, so tests can look at it afterwards
    if (CScriptedCaptureBuffer* pOld = m_pLastBuffer.exchange(pBuffer))
        pOld->Release();
    return kCaptureOk;
}
