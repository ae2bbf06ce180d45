#pragma once

#include <atomic>
#include <cstdint>

#include "capture/CaptureDevice.h"

// What every backend's device shares: the reference count and the check of a
// buffer description (16-bit PCM, two channels, a whole number of frames).
class CCaptureDeviceBase : public ICaptureDevice {
public:
    // Checks the call and the description, then has the backend make the ring.
    int CreateCaptureBuffer(const SCaptureBufferDesc* pDesc, ICaptureBuffer** ppBuffer) final;
    uint32_t AddRef() override;
    uint32_t Release() override;

    // kCaptureOk, or why the description cannot be served.
    static int CheckBufferDesc(const SCaptureBufferDesc* pDesc);

protected:
    CCaptureDeviceBase() = default;
    ~CCaptureDeviceBase() override = default;

    // Makes the ring for a description that passed the checks; *ppBuffer is
    // null on entry and stays null on failure.
    virtual int CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) = 0;

    // Hands out a ring just made with new (std::nothrow): kCaptureOk, or out of
    // memory when it or its storage could not be had (the ring is released).
    template <typename TRing> static int Adopt(TRing* pRing, ICaptureBuffer** ppBuffer) {
        if (!pRing)
            return kCaptureErrOutOfMemory;
        if (!pRing->IsAllocated()) {
            pRing->Release();
            return kCaptureErrOutOfMemory;
        }
        *ppBuffer = pRing;
        return kCaptureOk;
    }

private:
    std::atomic<uint32_t> m_nRefs{1};
};
