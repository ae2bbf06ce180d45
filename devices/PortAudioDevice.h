#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/CaptureDeviceBase.h"

class CPortAudioSession;

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
    // Opens the device an identifier names, or the default input for null.
    // kCaptureErrNoDevice when there is no such device.
    static int Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture);

protected:
    // A ring fed at the buffer's rate as 16-bit, two channels or, for a
    // single-channel device, one channel copied into both halves of each frame.
    int CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) override;

private:
    CPortAudioDevice(std::shared_ptr<CPortAudioSession> pSession, int nDeviceIndex);
    ~CPortAudioDevice() override;

    std::shared_ptr<CPortAudioSession> m_pSession;
    int m_nDeviceIndex;
};
