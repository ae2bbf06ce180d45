#pragma once

#include <atomic>
#include <cstdint>

#include "devices/CaptureDeviceBase.h"

class CScriptedCaptureBuffer;

// A capture device for tests. While it exists, CaptureCreate opens it by its
// identifier (the first one made registers them with it); its buffers are
// CScriptedCaptureBuffer rings the test drives.
class CScriptedCaptureDevice : public CCaptureDeviceBase {
public:
    // A new device holding one reference for the caller.
    static CScriptedCaptureDevice* Create();
    static bool IsGuid(const SCaptureGuid& guid);
    // Opens the registered device with that identifier (one more reference).
    static int Open(const SCaptureGuid& guid, ICaptureDevice** ppCapture);

    SCaptureGuid Guid() const;
    // The most recently created buffer (the device keeps a reference), or null.
    CScriptedCaptureBuffer* LastBuffer() const { return m_pLastBuffer.load(); }

    // Make opening the device, creating a buffer, or starting the buffers it
    // creates fail with this code (0: behave).
    std::atomic<int> m_nOpenResult{0};
    std::atomic<int> m_nCreateBufferResult{0};
    std::atomic<int> m_nBufferStartResult{0};
    std::atomic<int> m_nOpens{0};

protected:
    int CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) override;

private:
    CScriptedCaptureDevice();
    ~CScriptedCaptureDevice() override;

    uint32_t m_nId = 0;
    std::atomic<CScriptedCaptureBuffer*> m_pLastBuffer{nullptr};
};
