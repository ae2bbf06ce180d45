#include "devices/PortAudioCaptureBuffer.h"

#include <new>
#include <portaudio.h>

#include "devices/CaptureFormat.h"
#include "devices/PortAudioSession.h"

struct SPortAudioCallbacks {
    static int Stream(const void* pInput, void* /*pOutput*/, unsigned long nFrames,
                      const PaStreamCallbackTimeInfo* /*pTime*/, PaStreamCallbackFlags /*nStatus*/,
                      void* pUser) {
        static_cast<CPortAudioCaptureBuffer*>(pUser)->Deliver(pInput, nFrames);
        return paContinue;
    }
    static void Finished(void* pUser) { static_cast<CPortAudioCaptureBuffer*>(pUser)->Finished(); }
};

CPortAudioCaptureBuffer::CPortAudioCaptureBuffer(std::shared_ptr<CPortAudioSession> pSession,
                                                 uint32_t nBytes)
    : CRingCaptureBuffer(nBytes), m_pSession(std::move(pSession)) {
    SetStallLimit(kStallMs);
}

CPortAudioCaptureBuffer::~CPortAudioCaptureBuffer() {
    CloseStream();
}

int CPortAudioCaptureBuffer::OpenStream(int nDeviceIndex, uint32_t nSampleRate,
                                        std::chrono::steady_clock::time_point deadline) {
    // Another thread may be probing the devices, which can take a while.
    std::unique_lock lock(CPortAudioSession::Lock(), std::defer_lock);
    if (!lock.try_lock_until(deadline))
        return kCaptureErrStillLooking;
    const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(nDeviceIndex);
    if (!pInfo || pInfo->maxInputChannels < 1)
        return kCaptureErrNoDevice;
    m_nChannels = pInfo->maxInputChannels >= 2 ? 2 : 1;
    PaStreamParameters input{};
    input.device = nDeviceIndex;
    input.channelCount = m_nChannels;
    input.sampleFormat = paInt16;
    input.suggestedLatency = pInfo->defaultLowInputLatency;
    input.hostApiSpecificStreamInfo = nullptr;
    PaError err =
        Pa_OpenStream(&m_pStream, &input, nullptr, nSampleRate, paFramesPerBufferUnspecified,
                      paNoFlag, &SPortAudioCallbacks::Stream, this);
    if (err == paNoError)
        err = Pa_SetStreamFinishedCallback(m_pStream, &SPortAudioCallbacks::Finished);
    if (err == paNoError)
        return kCaptureOk;
    if (m_pStream)
        Pa_CloseStream(m_pStream);
    m_pStream = nullptr;
    return CPortAudioSession::CaptureError(err);
}

void CPortAudioCaptureBuffer::Deliver(const void* pInput, unsigned long nFrames) {
    NoteDelivery();
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
    std::unique_lock lock(CPortAudioSession::Lock(), std::defer_lock);
    if (!lock.try_lock_for(CPortAudioSession::kUserWait))
        return kCaptureErrStillLooking;
    m_bStopping.store(false);
    const PaError err = Pa_StartStream(m_pStream);
    if (err != paNoError) {
        MarkFailed();
        return CPortAudioSession::CaptureError(err);
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
    m_bStopping.store(true);
    Pa_CloseStream(m_pStream);
    m_pStream = nullptr;
}
