#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class CSignalGenerator;

// A playback stream that takes its sound from the signal generator, on the
// sound system's own thread. The user interface opens and closes it; the
// stream thread only renders and counts, so it never waits for anyone.
class CPlayback {
public:
    virtual ~CPlayback() = default;
    CPlayback(const CPlayback&) = delete;
    CPlayback& operator=(const CPlayback&) = delete;

    // Opens and starts a stereo stream at the rate on the output (empty: the
    // default one), waiting at most nTimeoutMs. 0, or a negative capture
    // error code.
    virtual int Open(const std::string& sOutput, int nSampleRate, uint32_t nTimeoutMs) = 0;
    // Stops and closes the stream; nothing is rendered afterwards.
    virtual void Close() = 0;

    // The stream failed or its server went away.
    bool HasFailed() const { return m_bFailed.load(std::memory_order_relaxed); }
    // Times the sound system ran dry because the stream fell behind.
    long long Underruns() const { return m_nUnderruns.load(std::memory_order_relaxed); }
    // How long a frame rendered now takes to be heard, as the sound system
    // last reported it; 0 before it has.
    double LatencySeconds() const { return m_dLatencySeconds.load(std::memory_order_relaxed); }
    // Frames rendered silent since the generator last sounded: once they
    // cover the latency, the fade-out has been heard whole.
    long long SilentFrames() const { return m_nSilentFrames.load(std::memory_order_relaxed); }
    // Frames rendered since the stream opened.
    long long FramesRendered() const { return m_nRendered.load(std::memory_order_relaxed); }

protected:
    explicit CPlayback(CSignalGenerator& generator) : m_generator(generator) {}

    // Stream thread: the next frames of sound.
    void Render(int16_t* pInterleavedStereo, int nFrames);
    void MarkFailed() { m_bFailed.store(true, std::memory_order_relaxed); }
    void CountUnderrun() { m_nUnderruns.fetch_add(1, std::memory_order_relaxed); }
    void SetLatency(double dSeconds) {
        m_dLatencySeconds.store(dSeconds, std::memory_order_relaxed);
    }
    void ResetCounts();

private:
    CSignalGenerator& m_generator;
    std::atomic<bool> m_bFailed{false};
    std::atomic<long long> m_nUnderruns{0};
    std::atomic<double> m_dLatencySeconds{0.0};
    std::atomic<long long> m_nSilentFrames{0};
    std::atomic<long long> m_nRendered{0};
};
