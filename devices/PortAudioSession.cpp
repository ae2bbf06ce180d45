#include "devices/PortAudioSession.h"

#include <alsa/asoundlib.h>
#include <cstdlib>
#include <jack/jack.h>
#include <portaudio.h>
#include <string>

#include "devices/CaptureFormat.h"

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}
void IgnoreJackMessage(const char*) {}

void PrepareSoundLibraries() {
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        snd_lib_error_set_handler(IgnoreAlsaError);
        // PortAudio asks for a JACK server on every probe; without one, JACK
        // explains at length that it could not connect.
        jack_set_error_function(IgnoreJackMessage);
        jack_set_info_function(IgnoreJackMessage);
        setenv("JACK_NO_START_SERVER", "1", 0);
    });
}

// The session in use and what the next probe is to do. Never destroyed: a
// thread still probing when the program ends must not find it gone.
struct SRegistry {
    std::shared_ptr<CPortAudioSession> pCurrent;
    bool bStale = false;
    bool bServerRoutes = true;
    bool bServerRoutesOfCurrent = true;
};

SRegistry& Registry() {
    static auto* s_pRegistry = new SRegistry;
    return *s_pRegistry;
}

// PortAudio finds ALSA's plug-in devices in ALSA's configuration tree; a
// device taken out of the tree is not probed. Reading the configuration anew
// brings the devices back.
void ShowServerRoutes(bool bShow) {
    static bool s_bHidden = false;
    if (bShow) {
        if (s_bHidden)
            snd_config_update_free_global();
        s_bHidden = false;
        return;
    }
    if (snd_config_update() < 0 || !snd_config)
        return;
    for (const char* pszName : CPortAudioSession::kServerRoutes) {
        snd_config_t* pNode = nullptr;
        if (snd_config_search(snd_config, (std::string("pcm.") + pszName).c_str(), &pNode) >= 0)
            snd_config_delete(pNode);
    }
    s_bHidden = true;
}

} // namespace

std::timed_mutex& CPortAudioSession::Lock() {
    static auto* s_pLock = new std::timed_mutex;
    return *s_pLock;
}

CPortAudioSession::CPortAudioSession(bool bServerRoutes) : m_bServerRoutes(bServerRoutes) {
    PrepareSoundLibraries();
    ShowServerRoutes(bServerRoutes);
    m_bOpen = Pa_Initialize() == paNoError;
}

CPortAudioSession::~CPortAudioSession() {
    if (!m_bOpen)
        return;
    Pa_Terminate();
}

std::shared_ptr<CPortAudioSession> CPortAudioSession::Current() {
    SRegistry& r = Registry();
    const bool bStale = r.bStale || r.bServerRoutes != r.bServerRoutesOfCurrent;
    // A device still open on the old session keeps PortAudio initialised, so
    // a new one would only see the old probe: wait until it is closed.
    if (r.pCurrent && (!bStale || r.pCurrent.use_count() > 1))
        return r.pCurrent;
    r.pCurrent.reset();
    r.pCurrent.reset(new CPortAudioSession(r.bServerRoutes));
    r.bServerRoutesOfCurrent = r.bServerRoutes;
    r.bStale = false;
    return r.pCurrent;
}

std::shared_ptr<CPortAudioSession> CPortAudioSession::Probed() {
    return Registry().pCurrent;
}

void CPortAudioSession::Forget() {
    Registry().bStale = true;
}

void CPortAudioSession::SetServerRoutes(bool bProbe) {
    Registry().bServerRoutes = bProbe;
}

int CPortAudioSession::CaptureError(int nPortAudioError) {
    switch (nPortAudioError) {
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paInvalidChannelCount:
        return kCaptureErrBadFormat;
    case paInsufficientMemory:
        return kCaptureErrOutOfMemory;
    case paDeviceUnavailable:
    case paInvalidDevice:
        return kCaptureErrNoDevice;
    default:
        return kCaptureErrGeneric;
    }
}
