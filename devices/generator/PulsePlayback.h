#pragma once

#include <memory>

#include "devices/generator/Playback.h"

class CPulseSession;
struct pa_stream;

// A playback stream on the desktop's sound server (PulseAudio, or PipeWire
// through its PulseAudio interface), over a connection of its own. The server
// asks for sound on the session's event thread, which renders it straight
// into the server's own memory.
//
// The stream keeps kTargetLatencyMs queued: enough to ride out a busy
// machine's scheduling, short enough that Stop's fade is heard at once.
class CPulsePlayback : public CPlayback {
public:
    static constexpr uint32_t kTargetLatencyMs = 40;
    static constexpr uint32_t kRequestMs = 10;

    explicit CPulsePlayback(CSignalGenerator& generator);
    ~CPulsePlayback() override;

    int Open(const std::string& sSink, int nSampleRate, uint32_t nTimeoutMs) override;
    void Close() override;

private:
    friend struct SPulsePlaybackCallbacks;
    int Connect(const std::string& sSink, int nSampleRate, uint32_t nTimeoutMs);
    // Event thread.
    void Write(size_t nBytes);
    void StateChanged();
    void UpdateLatency();

    std::unique_ptr<CPulseSession> m_pSession;
    pa_stream* m_pStream = nullptr;
};
