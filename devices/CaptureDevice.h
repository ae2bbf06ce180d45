#pragma once

#include <cstdint>

#include "devices/CaptureFormat.h"

class ICaptureBuffer;

// An opened capture device: makes looping capture buffers. Reference counted.
class ICaptureDevice {
public:
    // Creates a ring of exactly pDesc->dwBufferBytes bytes in the format
    // *pDesc->lpwfxFormat (16-bit PCM, 2 channels). Returns 0 and one reference
    // in *ppBuffer, or a negative code with *ppBuffer null.
    virtual int CreateCaptureBuffer(const SCaptureBufferDesc* pDesc, ICaptureBuffer** ppBuffer) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~ICaptureDevice() = default;
};
