#pragma once

#include <atomic>
#include <cstdint>

#include "devices/CaptureDevice.h"

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

    // Hands out a ring just made with new (std::nothrow) once fnOpen, given the
    // ring, has connected it to its source: kCaptureOk; out of memory when the
    // ring or its storage could not be had; or what fnOpen returned when it
    // failed. A ring not handed out is released.
    template <typename TRing, typename FOpen>
    static int Adopt(TRing* pRing, ICaptureBuffer** ppBuffer, FOpen fnOpen) {
        if (!pRing)
            return kCaptureErrOutOfMemory;
        const int result = pRing->IsAllocated() ? fnOpen(*pRing) : kCaptureErrOutOfMemory;
        if (result < 0) {
            pRing->Release();
            return result;
        }
        *ppBuffer = pRing;
        return kCaptureOk;
    }
    template <typename TRing> static int Adopt(TRing* pRing, ICaptureBuffer** ppBuffer) {
        return Adopt(pRing, ppBuffer, [](TRing&) { return kCaptureOk; });
    }

private:
    std::atomic<uint32_t> m_nRefs{1};
};
