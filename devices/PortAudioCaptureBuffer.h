#pragma once

#include <atomic>
#include <chrono>
#include <memory>

#include "devices/RingCaptureBuffer.h"

class CPortAudioSession;
typedef void PaStream;

// A ring that a PortAudio input stream fills from its callback. A stream that
// fails, or a device that goes away, makes GetCurrentPosition fail from then on.
class CPortAudioCaptureBuffer : public CRingCaptureBuffer {
public:
    // A ring of nBytes on the session's devices; OpenStream gives it its stream.
    CPortAudioCaptureBuffer(std::shared_ptr<CPortAudioSession> pSession, uint32_t nBytes);

    // Opens (but does not start) an input stream on the device, waiting until
    // the deadline at most for a probe under way. Returns 0, or a negative code
    // with no stream left open (kCaptureErrStillLooking when the probe goes on).
    int OpenStream(int nDeviceIndex, uint32_t nSampleRate,
                   std::chrono::steady_clock::time_point deadline);

    // How long a running stream may go without delivering before it counts as gone.
    static constexpr uint32_t kStallMs = 2000;

protected:
    ~CPortAudioCaptureBuffer() override;
    int OnStart() override;
    void OnStop() override;

private:
    friend struct SPortAudioCallbacks;
    // From the stream's callbacks: frames arrived; the stream ended.
    void Deliver(const void* pInput, unsigned long nFrames);
    void Finished();
    void CloseStream();

    std::shared_ptr<CPortAudioSession> m_pSession;
    PaStream* m_pStream = nullptr;
    int m_nChannels = 2;
    std::atomic<bool> m_bStopping{false};
};
