#include "capture/PortAudioSession.h"

#include <alsa/asoundlib.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

void PrepareSoundLibraries() {
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        snd_lib_error_set_handler(IgnoreAlsaError);
        setenv("JACK_NO_START_SERVER", "1", 0);
    });
}

} // namespace

std::mutex& CPortAudioSession::Lock() {
    static std::mutex s_lock;
    return s_lock;
}

CPortAudioSession::CQuietStderr::CQuietStderr() {
    std::fflush(stderr);
    const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull < 0)
        return;
    m_nSaved = dup(STDERR_FILENO);
    if (m_nSaved >= 0)
        dup2(devNull, STDERR_FILENO);
    close(devNull);
}

CPortAudioSession::CQuietStderr::~CQuietStderr() {
    if (m_nSaved < 0)
        return;
    std::fflush(stderr);
    dup2(m_nSaved, STDERR_FILENO);
    close(m_nSaved);
}

CPortAudioSession::CPortAudioSession() {
    std::lock_guard lock(Lock());
    PrepareSoundLibraries();
    CQuietStderr quiet;
    m_bOpen = Pa_Initialize() == paNoError;
}

CPortAudioSession::~CPortAudioSession() {
    if (!m_bOpen)
        return;
    std::lock_guard lock(Lock());
    CQuietStderr quiet;
    Pa_Terminate();
}
