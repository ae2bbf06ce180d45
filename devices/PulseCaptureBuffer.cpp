#include "devices/PulseCaptureBuffer.h"

#include <cstring>
#include <new>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/sample.h>
#include <pulse/stream.h>

#include "devices/CaptureFormat.h"
#include "devices/PulseSession.h"
#include "platform/Clock.h"

struct SPulseStreamCallbacks {
    static void Read(pa_stream*, size_t, void* pUser) {
        static_cast<CPulseCaptureBuffer*>(pUser)->Read();
    }
    static void State(pa_stream*, void* pUser) {
        static_cast<CPulseCaptureBuffer*>(pUser)->StreamStateChanged();
    }
};

namespace {

constexpr uint32_t kFrameBytes = 4;
constexpr const char* kStreamName = "Spectrum analysis";

} // namespace

CPulseCaptureBuffer::CPulseCaptureBuffer(uint32_t nBytes) : CRingCaptureBuffer(nBytes) {
    SetStallLimit(kStallMs);
}

CPulseCaptureBuffer::~CPulseCaptureBuffer() {
    m_bRunning.store(false);
    CloseStream();
    // Ends the event thread: no callback reaches this buffer afterwards.
    m_pSession.reset();
}

int CPulseCaptureBuffer::OpenStream(std::unique_ptr<CPulseSession> pSession,
                                    const std::string& sSource, uint32_t nSampleRate,
                                    uint32_t nTimeoutMs) {
    const uint32_t start = TimeGetTime();
    m_pSession = pSession
                     ? std::move(pSession)
                     : std::unique_ptr<CPulseSession>(new (std::nothrow) CPulseSession(nTimeoutMs));
    if (!m_pSession)
        return kCaptureErrOutOfMemory;
    if (m_pSession->ConnectResult() == CPulseSession::EConnect::TimedOut)
        return kCaptureErrServerHung;
    if (!m_pSession->IsConnected())
        return kCaptureErrNoServer;
    const uint32_t spent = TimeGetTime() - start;
    const uint32_t streamTimeoutMs = spent < nTimeoutMs ? nTimeoutMs - spent : 1;

    CPulseSession::CLock lock(*m_pSession);
    pa_context* pContext = m_pSession->Context();
    const pa_sample_spec sampleFormat{PA_SAMPLE_S16NE, nSampleRate, 2};
    if (!pa_sample_spec_valid(&sampleFormat))
        return kCaptureErrBadFormat;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    m_pStream = pa_stream_new(pContext, kStreamName, &sampleFormat, &map);
    if (!m_pStream)
        return CPulseSession::CaptureError(pa_context_errno(pContext));
    pa_stream_set_state_callback(m_pStream, &SPulseStreamCallbacks::State, this);
    pa_stream_set_read_callback(m_pStream, &SPulseStreamCallbacks::Read, this);
    m_pSession->SetLostHandler([this] { MarkFailed(); });

    // Small fragments keep the newest block fresh. A chosen source stays chosen:
    // if it goes away the stream fails instead of quietly moving elsewhere; the
    // default source is followed wherever the user moves it.
    pa_buffer_attr attr;
    std::memset(&attr, 0xFF, sizeof attr);
    attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(kFragmentMs * 1000ull, &sampleFormat));
    auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
    if (!sSource.empty())
        flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(m_pStream, sSource.empty() ? nullptr : sSource.c_str(), &attr,
                                 flags) < 0)
        return CPulseSession::CaptureError(pa_context_errno(pContext));
    return m_pSession->AwaitStream(m_pStream, streamTimeoutMs);
}

void CPulseCaptureBuffer::CloseStream() {
    if (!m_pSession)
        return;
    CPulseSession::CLock lock(*m_pSession);
    m_pSession->SetLostHandler(nullptr);
    if (!m_pStream)
        return;
    pa_stream_set_state_callback(m_pStream, nullptr, nullptr);
    pa_stream_set_read_callback(m_pStream, nullptr, nullptr);
    pa_stream_disconnect(m_pStream);
    pa_stream_unref(m_pStream);
    m_pStream = nullptr;
}

int CPulseCaptureBuffer::Cork(bool bPause) {
    CPulseSession::CLock lock(*m_pSession);
    if (pa_stream_get_state(m_pStream) != PA_STREAM_READY)
        return kCaptureErrDeviceLost;
    // What the server kept while paused is stale by now.
    if (!bPause)
        if (pa_operation* pFlush = pa_stream_flush(m_pStream, nullptr, nullptr))
            pa_operation_unref(pFlush);
    pa_operation* pCork = pa_stream_cork(m_pStream, bPause ? 1 : 0, nullptr, nullptr);
    if (!pCork)
        return kCaptureErrDeviceLost;
    pa_operation_unref(pCork);
    return kCaptureOk;
}

int CPulseCaptureBuffer::OnStart() {
    if (!m_pStream || HasFailed())
        return kCaptureErrDeviceLost;
    m_bRunning.store(true);
    if (const int result = Cork(false); result < 0) {
        m_bRunning.store(false);
        MarkFailed();
        return result;
    }
    return kCaptureOk;
}

void CPulseCaptureBuffer::OnStop() {
    m_bRunning.store(false);
    if (m_pStream)
        Cork(true);
}

void CPulseCaptureBuffer::Read() {
    for (;;) {
        const void* pData = nullptr;
        size_t nBytes = 0;
        if (pa_stream_peek(m_pStream, &pData, &nBytes) < 0) {
            MarkFailed();
            return;
        }
        if (nBytes == 0)
            return;
        // A hole (no data, a length) is a gap in the recording: silence.
        if (m_bRunning.load(std::memory_order_relaxed))
            Append(pData, nBytes);
        pa_stream_drop(m_pStream);
    }
}

void CPulseCaptureBuffer::Append(const void* pData, size_t nBytes) {
    NoteDelivery();
    const size_t held = m_partial.size();
    m_partial.resize(held + nBytes);
    if (pData)
        std::memcpy(m_partial.data() + held, pData, nBytes);
    else
        std::memset(m_partial.data() + held, 0, nBytes);
    const size_t nFrames = m_partial.size() / kFrameBytes;
    if (nFrames == 0)
        return;
    m_frames.resize(nFrames * 2);
    std::memcpy(m_frames.data(), m_partial.data(), nFrames * kFrameBytes);
    m_partial.erase(m_partial.begin(),
                    m_partial.begin() + static_cast<std::ptrdiff_t>(nFrames * kFrameBytes));
    WriteFrames(m_frames.data(), static_cast<uint32_t>(nFrames));
}

void CPulseCaptureBuffer::StreamStateChanged() {
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(m_pStream)))
        MarkFailed();
    m_pSession->Signal();
}
