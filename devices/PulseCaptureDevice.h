#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/CaptureDeviceBase.h"

class CPulseSession;

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

    // What asking the server came to.
    enum class EServer {
        Answering,
        Absent,       // nothing listens where the server would (none is ever started)
        NotAnswering, // it is there but gave no answer within a short timeout
    };

    // Asks the server for its sources; *pServer stays empty unless it answers.
    static EServer ListSources(SServer* pServer);
    // Whether a PortAudio input only leads to the sound server again (ALSA's
    // "pulse", "pipewire" and "default" devices and the converters in front of
    // them); those are left out while a server answers, so nothing is listed twice.
    static bool RoutesToServer(const std::string& sDescription, const std::string& sModule);

    static bool IsGuid(const SCaptureGuid& guid);
    static SCaptureGuid GuidOf(const std::string& sSourceName);
    // Opens the source an identifier names, or the server's default source for
    // null. kCaptureErrNoServer when no server runs, kCaptureErrServerHung when
    // it does not answer, kCaptureErrNoDevice when there is no such source.
    static int Open(const SCaptureGuid* pGuid, ICaptureDevice** ppCapture);

    static constexpr const char* kModule = "PulseAudio";
    // Opening a device and making its first ring, together, never wait longer
    // for the server: the user interface makes both calls.
    static constexpr uint32_t kOpenBudgetMs = 800;

protected:
    int CreateRing(const SCaptureBufferDesc& desc, ICaptureBuffer** ppBuffer) override;

private:
    CPulseCaptureDevice(std::string sSource, std::unique_ptr<CPulseSession> pSession,
                        uint32_t nDeadlineMs);
    ~CPulseCaptureDevice() override;

    // The server's name of the source; empty for its default source.
    std::string m_sSource;
    // The connection Open made, handed to the first ring, and when Open's
    // budget runs out (TimeGetTime).
    std::unique_ptr<CPulseSession> m_pSession;
    uint32_t m_nDeadlineMs;
};
