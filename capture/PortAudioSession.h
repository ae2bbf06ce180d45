#pragma once

#include <mutex>

// Keeps PortAudio initialised while it lives. Initialising probes every host
// API; the sound libraries' complaints about devices they cannot use would land
// on the user's terminal, so they are kept quiet, and a JACK server is never
// started just to be probed.
class CPortAudioSession {
public:
    CPortAudioSession();
    ~CPortAudioSession();
    CPortAudioSession(const CPortAudioSession&) = delete;
    CPortAudioSession& operator=(const CPortAudioSession&) = delete;

    bool IsOpen() const { return m_bOpen; }

    // PortAudio's set-up calls are not thread-safe: every call outside a
    // stream's own callback is made under this lock.
    static std::mutex& Lock();

    // Standard error goes to /dev/null while one lives.
    class CQuietStderr {
    public:
        CQuietStderr();
        ~CQuietStderr();
        CQuietStderr(const CQuietStderr&) = delete;
        CQuietStderr& operator=(const CQuietStderr&) = delete;

    private:
        int m_nSaved = -1;
    };

private:
    bool m_bOpen = false;
};
