#pragma once

#include <cstdint>

// Types shared by the capture-device layer and its users.

// Identifies a capture device across enumeration and creation. Enumeration
// passes null for the primary (default) device instead of an identifier.
struct SCaptureGuid {
    uint8_t bytes[16];
};

// The capture format: 16-bit PCM, interleaved frames.
struct SWaveFormat {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};

inline constexpr uint16_t kWaveFormatPcm = 1;

// What a looping capture buffer is created with.
struct SCaptureBufferDesc {
    uint32_t dwSize;
    uint32_t dwFlags;
    uint32_t dwBufferBytes;
    uint32_t dwReserved;
    const SWaveFormat* lpwfxFormat;
    uint32_t dwFXCount;
    const void* lpDSCFXDesc;
};

inline constexpr uint32_t kCaptureBufferDescSize = 28;
inline constexpr uint32_t kCaptureStartLooping = 1;

// Results: 0 (or 1 where an operation says so) is success, negative is failure.
inline constexpr int kCaptureOk = 0;
inline constexpr int kCaptureErrGeneric = -1;
inline constexpr int kCaptureErrInvalidParam = -2;
inline constexpr int kCaptureErrNoDevice = -3;
inline constexpr int kCaptureErrBadFormat = -4;
inline constexpr int kCaptureErrOutOfMemory = -5;
inline constexpr int kCaptureErrDeviceLost = -6;
inline constexpr int kCaptureErrBusy = -7;
inline constexpr int kCaptureErrNotOpen = -8;
// No sound server is running (nothing listens where the desktop's server would).
inline constexpr int kCaptureErrNoServer = -9;
// A sound server is there but does not answer in time (frozen or overloaded).
inline constexpr int kCaptureErrServerHung = -10;
// The sound system's devices are still being probed (or never were yet), and
// the probe did not end within the user interface's wait.
inline constexpr int kCaptureErrStillLooking = -11;
