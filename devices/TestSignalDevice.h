#pragma once

#include "devices/CaptureDeviceBase.h"

// The built-in device: always present, needs no sound card. Its buffers carry
// the test signal (CTestSignal) in real time.
class CTestSignalDevice : public CCaptureDeviceBase {
public:
    static constexpr const char* kDescription = "Test signal (built-in)";
    static constexpr const char* kModule = "vemra-test-signal";

    static SCaptureGuid Guid();
    static bool IsGuid(const SCaptureGuid& guid);
    // Returns 0 with one reference in *ppCapture.
    static int Open(ICaptureDevice** ppCapture);
    // Whether an opened device is this one, whichever entry opened it.
    static bool Is(const ICaptureDevice* pDevice);

protected:
    int CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) override;

private:
    CTestSignalDevice() = default;
};
