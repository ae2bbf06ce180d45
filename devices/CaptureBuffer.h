#pragma once

#include <cstdint>

// A looping ring of captured 16-bit frames. One writer (the audio callback or a
// generator) fills it; one reader (the acquisition cycle) locks ranges of it.
// Reference counted: Release drops the caller's reference.
class ICaptureBuffer {
public:
    // Starts capturing (kCaptureStartLooping: round and round the ring). 0 on success.
    virtual int Start(uint32_t nFlags) = 0;
    // Ends capturing; the ring keeps what it holds. 0 on success.
    virtual int Stop() = 0;
    // Receives the capture position and the read position: everything before the
    // read position is complete. Either pointer may be null. 0 on success,
    // negative once the device has failed or gone away.
    virtual int GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) = 0;
    // Locks nBytes from nOffset. A range that runs past the end of the ring comes
    // back as two regions, the second starting at offset 0; otherwise region 2 is
    // null with length 0. The regions stay valid and unchanged until Unlock.
    // Negative, with nothing locked, for a range outside the ring or a second lock.
    virtual int Lock(uint32_t nOffset, uint32_t nBytes, void** ppRegion1, uint32_t* pBytes1,
                     void** ppRegion2, uint32_t* pBytes2, uint32_t nFlags) = 0;
    virtual int Unlock(void* pRegion1, uint32_t nBytes1, void* pRegion2, uint32_t nBytes2) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    virtual ~ICaptureBuffer() = default;
};
