#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "devices/CaptureDeviceBase.h"
#include "devices/PortAudioSession.h"

// The sound system's input devices through PortAudio, every host API's.
class CPortAudioDevice : public CCaptureDeviceBase {
public:
    struct SInput {
        SCaptureGuid guid;
        std::string description; // device name and host API
        std::string module;
    };

    // The input-capable devices, the likeliest to open on a desktop first (sound
    // servers, then the ALSA defaults, then plug devices, then raw hardware).
    // pDefault, if given, receives the description of the default input ("" if none).
    static std::vector<SInput> ListInputs(std::string* pDefault = nullptr);
    static bool IsGuid(const SCaptureGuid& guid);
    // Opens the device an identifier names, or the default input for null,
    // among the devices as last probed: it never probes. Opening it and making
    // its first ring wait at most nWait, together, for a probe under way.
    // kCaptureErrStillLooking when that probe does not end in time, or none
    // was made yet; kCaptureErrNoDevice when there is no such device (for
    // null: no default input).
    static int Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture,
                    std::chrono::milliseconds nWait = CPortAudioSession::kUserWait);

protected:
    // A ring fed at the buffer's rate as 16-bit, two channels or, for a
    // single-channel device, one channel copied into both halves of each frame.
    int CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) override;

private:
    using Clock = std::chrono::steady_clock;

    CPortAudioDevice(std::shared_ptr<CPortAudioSession> pSession, int nDeviceIndex,
                     Clock::time_point deadline);
    ~CPortAudioDevice() override;

    std::shared_ptr<CPortAudioSession> m_pSession;
    int m_nDeviceIndex;
    // When Open's wait runs out: the first ring waits what is left of it, a
    // later one a wait of its own.
    Clock::time_point m_deadline;
    bool m_bRingMade = false;
};
