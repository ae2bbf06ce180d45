#pragma once

#include <chrono>
#include <memory>
#include <mutex>

// PortAudio, initialised. Initialising probes every device of every host API,
// which takes a while and, on a desktop, opens ALSA's devices that lead to the
// sound server; so one session serves every listing and every device until
// the devices are to be probed anew. The sound libraries' complaints about
// devices they cannot use would land on the user's terminal, so ALSA's and
// JACK's are turned off through their own hooks (the rest of the program keeps
// its standard error), and a JACK server is never started just to be probed.
class CPortAudioSession {
public:
    ~CPortAudioSession();
    CPortAudioSession(const CPortAudioSession&) = delete;
    CPortAudioSession& operator=(const CPortAudioSession&) = delete;

    bool IsOpen() const { return m_bOpen; }

    // The capture layer's error code for a PortAudio error.
    static int CaptureError(int nPortAudioError);

    // PortAudio's set-up calls are not thread-safe: every call outside a
    // stream's own callback is made under this lock. A probe holds it
    // throughout, so whoever waits for it may be waiting for a probe.
    static std::timed_mutex& Lock();
    // How long the user interface waits for the lock while another thread
    // probes the devices, before it gives up.
    static constexpr std::chrono::milliseconds kUserWait{800};

    // Under Lock(): the session the devices are listed from. The devices are
    // probed the first time, and again once Forget or a change of
    // SetServerRoutes has made the probe stale and no open device still uses
    // the old session. Probing takes a while: never on the user interface.
    static std::shared_ptr<CPortAudioSession> Current();
    // Under Lock(): the session of the last probe, stale or not, or null
    // before the first. Never probes: what the user interface opens from.
    static std::shared_ptr<CPortAudioSession> Probed();
    // Under Lock(): the next Current probes anew (a device may have been
    // plugged in or taken away).
    static void Forget();
    // Under Lock(): whether probing may open ALSA's devices that lead to the
    // sound server. A server that does not answer makes each of them wait out
    // the sound library's own timeout of half a minute.
    static void SetServerRoutes(bool bProbe);

    // ALSA's devices that only lead to the sound server: the server itself,
    // and the converters and mixers in front of "default".
    static constexpr const char* kServerRoutes[] = {
        "pulse",   "pipewire",   "default",   // the server itself
        "lavrate", "samplerate", "speexrate", // rate converters in front of "default"
        "upmix",   "vdownmix",   "speex",     // channel mixers and filters in front of it
    };

private:
    explicit CPortAudioSession(bool bServerRoutes);

    bool m_bOpen = false;
    bool m_bServerRoutes;
};
