#pragma once

#include <atomic>
#include <cstdint>

#include "capture/CaptureDevice.h"

// What every backend's device shares: the reference count and the check of a
// buffer description (16-bit PCM, two channels, a whole number of frames).
class CCaptureDeviceBase : public ICaptureDevice {
public:
    uint32_t AddRef() override;
    uint32_t Release() override;

    // kCaptureOk, or why the description cannot be served.
    static int CheckBufferDesc(const SCaptureBufferDesc* pDesc);

protected:
    CCaptureDeviceBase() = default;
    ~CCaptureDeviceBase() override = default;

private:
    std::atomic<uint32_t> m_nRefs{1};
};
