#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "devices/RingCaptureBuffer.h"

class CPulseSession;
struct pa_stream;

// A ring that a record stream of the sound server fills, 16-bit stereo at the
// ring's rate (the server converts from whatever the source delivers). The
// stream's data arrives on the session's event thread, which only appends it to
// the ring; the reader never waits for the server.
//
// A stream that fails, a source that goes away or a server that ends makes
// GetCurrentPosition fail from then on.
class CPulseCaptureBuffer : public CRingCaptureBuffer {
public:
    // A ring of nBytes; OpenStream gives it its stream.
    explicit CPulseCaptureBuffer(uint32_t nBytes);

    // Opens a paused record stream on the source (empty: the server's default
    // source, followed when it changes) over the connection given, or over a
    // new one when it is null, waiting at most nTimeoutMs for the server in all.
    // Returns 0, or a negative code (kCaptureErrServerHung when the server did
    // not answer in time).
    int OpenStream(std::unique_ptr<CPulseSession> pSession, const std::string& sSource,
                   uint32_t nSampleRate, uint32_t nTimeoutMs);

    // How long a running stream may go without delivering before it counts as
    // gone (a server that hangs without closing the connection).
    static constexpr uint32_t kStallMs = 3000;
    // Fragment the server is asked to deliver. The newest block is then about
    // that old at most (about 25 ms measured), plus the source's own latency.
    static constexpr uint32_t kFragmentMs = 20;

protected:
    ~CPulseCaptureBuffer() override;
    int OnStart() override;
    void OnStop() override;

private:
    friend struct SPulseStreamCallbacks;
    int Cork(bool bPause);
    // Event thread: data is ready; the stream's state changed.
    void Read();
    void Append(const void* pData, size_t nBytes);
    void StreamStateChanged();
    void CloseStream();

    std::unique_ptr<CPulseSession> m_pSession;
    pa_stream* m_pStream = nullptr;
    // Set between OnStart and OnStop: data outside that is dropped.
    std::atomic<bool> m_bRunning{false};
    // Event thread only: bytes of a frame split across two fragments, and the
    // aligned copy of a fragment handed to the ring.
    std::vector<uint8_t> m_partial;
    std::vector<int16_t> m_frames;
};
