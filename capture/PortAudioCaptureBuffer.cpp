#include "capture/PortAudioCaptureBuffer.h"

#include <new>
#include <portaudio.h>

#include "capture/CaptureFormat.h"
#include "capture/PortAudioSession.h"
#include "platform/Clock.h"

struct SPortAudioCallbacks {
    static int Stream(const void* pInput, void* /*pOutput*/, unsigned long nFrames,
                      const PaStreamCallbackTimeInfo* /*pTime*/, PaStreamCallbackFlags /*nStatus*/,
                      void* pUser) {
        static_cast<CPortAudioCaptureBuffer*>(pUser)->Deliver(pInput, nFrames);
        return paContinue;
    }
    static void Finished(void* pUser) { static_cast<CPortAudioCaptureBuffer*>(pUser)->Finished(); }
};

namespace {

int ToCaptureError(PaError err) {
    switch (err) {
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

} // namespace

CPortAudioCaptureBuffer::CPortAudioCaptureBuffer(std::shared_ptr<CPortAudioSession> pSession,
                                                 uint32_t nBytes)
    : CRingCaptureBuffer(nBytes), m_pSession(std::move(pSession)) {}

CPortAudioCaptureBuffer::~CPortAudioCaptureBuffer() {
    CloseStream();
}

int CPortAudioCaptureBuffer::Create(std::shared_ptr<CPortAudioSession> pSession, int nDeviceIndex,
                                    uint32_t nBytes, uint32_t nSampleRate,
                                    CPortAudioCaptureBuffer** ppBuffer) {
    *ppBuffer = nullptr;
    auto* pBuffer = new (std::nothrow) CPortAudioCaptureBuffer(std::move(pSession), nBytes);
    if (!pBuffer)
        return kCaptureErrOutOfMemory;
    if (!pBuffer->IsAllocated()) {
        pBuffer->Release();
        return kCaptureErrOutOfMemory;
    }

    std::unique_lock lock(CPortAudioSession::Lock(), std::defer_lock);
    if (!lock.try_lock_for(CPortAudioSession::kUserWait)) {
        pBuffer->Release();
        return kCaptureErrBusy;
    }
    CPortAudioSession::CQuietStderr quiet;
    const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(nDeviceIndex);
    if (!pInfo || pInfo->maxInputChannels < 1) {
        pBuffer->Release();
        return kCaptureErrNoDevice;
    }
    pBuffer->m_nChannels = pInfo->maxInputChannels >= 2 ? 2 : 1;
    PaStreamParameters input{};
    input.device = nDeviceIndex;
    input.channelCount = pBuffer->m_nChannels;
    input.sampleFormat = paInt16;
    input.suggestedLatency = pInfo->defaultLowInputLatency;
    input.hostApiSpecificStreamInfo = nullptr;
    PaError err = Pa_OpenStream(&pBuffer->m_pStream, &input, nullptr, nSampleRate,
                                paFramesPerBufferUnspecified, paNoFlag,
                                &SPortAudioCallbacks::Stream, pBuffer);
    if (err == paNoError)
        err = Pa_SetStreamFinishedCallback(pBuffer->m_pStream, &SPortAudioCallbacks::Finished);
    if (err != paNoError) {
        if (pBuffer->m_pStream)
            Pa_CloseStream(pBuffer->m_pStream);
        pBuffer->m_pStream = nullptr;
        // Not through Release: that would take the session lock again.
        delete pBuffer;
        return ToCaptureError(err);
    }
    *ppBuffer = pBuffer;
    return kCaptureOk;
}

void CPortAudioCaptureBuffer::Deliver(const void* pInput, unsigned long nFrames) {
    m_nLastDeliveryMs.store(TimeGetTime(), std::memory_order_relaxed);
    if (!pInput)
        return;
    const auto* pSamples = static_cast<const int16_t*>(pInput);
    if (m_nChannels == 2)
        WriteFrames(pSamples, static_cast<uint32_t>(nFrames));
    else
        WriteMonoFrames(pSamples, static_cast<uint32_t>(nFrames));
}

void CPortAudioCaptureBuffer::Finished() {
    if (!m_bStopping.load())
        MarkFailed();
}

int CPortAudioCaptureBuffer::OnStart() {
    if (!m_pStream || HasFailed())
        return kCaptureErrDeviceLost;
    std::lock_guard lock(CPortAudioSession::Lock());
    CPortAudioSession::CQuietStderr quiet;
    m_bStopping.store(false);
    m_nLastDeliveryMs.store(TimeGetTime(), std::memory_order_relaxed);
    const PaError err = Pa_StartStream(m_pStream);
    if (err != paNoError) {
        MarkFailed();
        return ToCaptureError(err);
    }
    return kCaptureOk;
}

void CPortAudioCaptureBuffer::OnStop() {
    if (!m_pStream)
        return;
    std::lock_guard lock(CPortAudioSession::Lock());
    m_bStopping.store(true);
    Pa_StopStream(m_pStream);
}

void CPortAudioCaptureBuffer::CloseStream() {
    if (!m_pStream)
        return;
    std::lock_guard lock(CPortAudioSession::Lock());
    CPortAudioSession::CQuietStderr quiet;
    m_bStopping.store(true);
    Pa_CloseStream(m_pStream);
    m_pStream = nullptr;
}

int CPortAudioCaptureBuffer::GetCurrentPosition(uint32_t* pCapturePos, uint32_t* pReadPos) {
    // A device that went away may simply stop calling back.
    if (IsCapturing() && !HasFailed()) {
        const uint32_t last = m_nLastDeliveryMs.load(std::memory_order_relaxed);
        if (static_cast<uint32_t>(TimeGetTime() - last) > kStallMs)
            MarkFailed();
    }
    return CRingCaptureBuffer::GetCurrentPosition(pCapturePos, pReadPos);
}
