#include "devices/generator/PulsePlayback.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/sample.h>
#include <pulse/stream.h>

#include "devices/CaptureFormat.h"
#include "devices/PulseSession.h"
#include "platform/Clock.h"

struct SPulsePlaybackCallbacks {
    static void Write(pa_stream*, size_t nBytes, void* pUser) {
        static_cast<CPulsePlayback*>(pUser)->Write(nBytes);
    }
    static void State(pa_stream*, void* pUser) {
        static_cast<CPulsePlayback*>(pUser)->StateChanged();
    }
    static void Underflow(pa_stream*, void* pUser) {
        static_cast<CPulsePlayback*>(pUser)->CountUnderrun();
    }
    static void Latency(pa_stream*, void* pUser) {
        static_cast<CPulsePlayback*>(pUser)->UpdateLatency();
    }
};

namespace {

constexpr size_t kPlaybackFrameBytes = 4;
constexpr const char* kPlaybackStreamName = "Signal generator";

} // namespace

CPulsePlayback::CPulsePlayback(CSignalGenerator& generator) : CPlayback(generator) {}

CPulsePlayback::~CPulsePlayback() {
    Close();
}

int CPulsePlayback::Open(const std::string& sSink, int nSampleRate, uint32_t nTimeoutMs) {
    Close();
    ResetCounts();
    const int nResult = Connect(sSink, nSampleRate, nTimeoutMs);
    if (nResult < 0)
        Close();
    return nResult;
}

int CPulsePlayback::Connect(const std::string& sSink, int nSampleRate, uint32_t nTimeoutMs) {
    const uint32_t start = TimeGetTime();
    m_pSession.reset(new (std::nothrow) CPulseSession(nTimeoutMs));
    if (!m_pSession)
        return kCaptureErrOutOfMemory;
    if (m_pSession->ConnectResult() == CPulseSession::EConnect::TimedOut)
        return kCaptureErrServerHung;
    if (!m_pSession->IsConnected())
        return kCaptureErrNoServer;
    const uint32_t spent = TimeGetTime() - start;
    const uint32_t nStreamTimeoutMs = spent < nTimeoutMs ? nTimeoutMs - spent : 1;

    CPulseSession::CLock lock(*m_pSession);
    pa_context* pContext = m_pSession->Context();
    const pa_sample_spec format{PA_SAMPLE_S16NE, uint32_t(nSampleRate), 2};
    if (!pa_sample_spec_valid(&format))
        return kCaptureErrBadFormat;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    m_pStream = pa_stream_new(pContext, kPlaybackStreamName, &format, &map);
    if (!m_pStream)
        return CPulseSession::CaptureError(pa_context_errno(pContext));
    pa_stream_set_state_callback(m_pStream, &SPulsePlaybackCallbacks::State, this);
    pa_stream_set_write_callback(m_pStream, &SPulsePlaybackCallbacks::Write, this);
    pa_stream_set_underflow_callback(m_pStream, &SPulsePlaybackCallbacks::Underflow, this);
    pa_stream_set_latency_update_callback(m_pStream, &SPulsePlaybackCallbacks::Latency, this);
    m_pSession->SetLostHandler([this] { MarkFailed(); });

    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr);
    attr.tlength = uint32_t(pa_usec_to_bytes(kTargetLatencyMs * 1000ull, &format));
    attr.minreq = uint32_t(pa_usec_to_bytes(kRequestMs * 1000ull, &format));
    // A chosen output stays chosen: if it goes away the stream fails rather
    // than sounding somewhere else. The default output is followed.
    auto flags = static_cast<pa_stream_flags_t>(
        PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING);
    if (!sSink.empty())
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_playback(m_pStream, sSink.empty() ? nullptr : sSink.c_str(), &attr, flags,
                                   nullptr, nullptr) < 0)
        return CPulseSession::CaptureError(pa_context_errno(pContext));
    return m_pSession->AwaitStream(m_pStream, nStreamTimeoutMs);
}

void CPulsePlayback::Close() {
    if (!m_pSession)
        return;
    {
        CPulseSession::CLock lock(*m_pSession);
        m_pSession->SetLostHandler(nullptr);
        if (m_pStream) {
            pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
            pa_stream_set_write_callback(m_pStream, nullptr, nullptr);
            pa_stream_set_underflow_callback(m_pStream, nullptr, nullptr);
            pa_stream_set_latency_update_callback(m_pStream, nullptr, nullptr);
            pa_stream_disconnect(m_pStream);
            pa_stream_unref(m_pStream);
            m_pStream = nullptr;
        }
    }
    // Ends the event thread: no callback reaches this stream afterwards.
    m_pSession.reset();
}

// Renders into the server's own buffers: nothing is allocated here.
void CPulsePlayback::Write(size_t nBytes) {
    while (nBytes >= kPlaybackFrameBytes) {
        void* pData = nullptr;
        size_t nGiven = nBytes;
        if (pa_stream_begin_write(m_pStream, &pData, &nGiven) < 0 || !pData) {
            MarkFailed();
            return;
        }
        const size_t nFrames = std::min(nGiven, nBytes) / kPlaybackFrameBytes;
        if (nFrames == 0) {
            pa_stream_cancel_write(m_pStream);
            return;
        }
        Render(static_cast<int16_t*>(pData), int(nFrames));
        if (pa_stream_write(m_pStream, pData, nFrames * kPlaybackFrameBytes, nullptr, 0,
                            PA_SEEK_RELATIVE) < 0) {
            MarkFailed();
            return;
        }
        nBytes -= nFrames * kPlaybackFrameBytes;
    }
}

void CPulsePlayback::StateChanged() {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(m_pStream)))
        MarkFailed();
    m_pSession->Signal();
}

void CPulsePlayback::UpdateLatency() {
    pa_usec_t nUs = 0;
    int bNegative = 0;
    if (pa_stream_get_latency(m_pStream, &nUs, &bNegative) == 0)
        SetLatency(bNegative ? 0.0 : double(nUs) * 1e-6);
}
