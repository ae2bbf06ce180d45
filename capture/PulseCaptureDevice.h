#pragma once

#include <string>
#include <vector>

#include "capture/CaptureDeviceBase.h"

// The sources of the desktop's sound server (PulseAudio, or PipeWire through
// its PulseAudio interface), monitors of the outputs included: "Monitor of
// Speakers" is how a person analyses what the desktop plays.
class CPulseCaptureDevice : public CCaptureDeviceBase {
public:
    struct SSource {
        SCaptureGuid guid;
        std::string description;
        std::string module;
    };
    struct SServer {
        // The default source's description: what the primary device records.
        std::string defaultDescription;
        // The default source first, then the default output's monitor, the
        // other inputs and the other monitors.
        std::vector<SSource> sources;
    };

    // Asks the server for its sources. False, with *pServer empty, when no
    // server answers within a short timeout (none is ever started).
    static bool ListSources(SServer* pServer);
    // Whether a PortAudio input only leads to the sound server again (ALSA's
    // "pulse", "pipewire" and "default" devices and the converters in front of
    // them); those are left out while a server answers, so nothing is listed twice.
    static bool RoutesToServer(const std::string& sDescription, const std::string& sModule);

    static bool IsGuid(const SCaptureGuid& guid);
    static SCaptureGuid GuidOf(const std::string& sSourceName);
    // Opens the source an identifier names, or the server's default source for
    // null. kCaptureErrNoDevice when no server answers or there is no such source.
    static int Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture);

    // A record stream of the source at the buffer's rate, 16-bit stereo.

    static constexpr const char* kModule = "PulseAudio";

protected:
    int CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) override;

private:
    explicit CPulseCaptureDevice(std::string sSource);
    ~CPulseCaptureDevice() override = default;

    // The server's name of the source; empty for its default source.
    std::string m_sSource;
};
