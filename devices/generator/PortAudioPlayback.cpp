#include "devices/generator/PortAudioPlayback.h"

#include <chrono>
#include <mutex>
#include <portaudio.h>

#include "devices/CaptureFormat.h"
#include "devices/PortAudioSession.h"

struct SPortAudioPlaybackCallbacks {
    static int Stream(const void*, void* pOutput, unsigned long nFrames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags nStatus, void* pUser) {
        auto* pPlayback = static_cast<CPortAudioPlayback*>(pUser);
        if (nStatus & paOutputUnderflow)
            pPlayback->CountUnderrun();
        pPlayback->Render(static_cast<int16_t*>(pOutput), int(nFrames));
        return paContinue;
    }
};

namespace {

// A suggested latency the sound system's own thread can hold on a busy
// machine; ALSA's "low" default can be a few milliseconds.
constexpr double kLatencySeconds = 0.04;

std::string IdOf(const PaDeviceInfo& info) {
    const PaHostApiInfo* pApi = Pa_GetHostApiInfo(info.hostApi);
    return std::string(pApi && pApi->name ? pApi->name : "") + "\t" + info.name;
}

std::string DescriptionOf(const PaDeviceInfo& info) {
    const PaHostApiInfo* pApi = Pa_GetHostApiInfo(info.hostApi);
    std::string description = info.name;
    if (pApi && pApi->name && *pApi->name)
        description += std::string(" (") + pApi->name + ")";
    return description;
}

bool IsStereoOutput(const PaDeviceInfo* pInfo) {
    return pInfo && pInfo->name && pInfo->maxOutputChannels >= 2;
}

} // namespace

std::vector<CPortAudioPlayback::SOutput> CPortAudioPlayback::ListOutputs() {
    std::vector<SOutput> outputs;
    std::unique_lock lock(CPortAudioSession::Lock(), std::defer_lock);
    if (!lock.try_lock_for(CPortAudioSession::kUserWait))
        return outputs;
    const std::shared_ptr<CPortAudioSession> pSession = CPortAudioSession::Probed();
    if (!pSession || !pSession->IsOpen())
        return outputs;
    const int nDefault = Pa_GetDefaultOutputDevice();
    for (int i = 0; i < Pa_GetDeviceCount(); ++i) {
        const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(i);
        if (!IsStereoOutput(pInfo))
            continue;
        SOutput output{IdOf(*pInfo), DescriptionOf(*pInfo)};
        if (i == nDefault)
            outputs.insert(outputs.begin(), std::move(output));
        else
            outputs.push_back(std::move(output));
    }
    return outputs;
}

CPortAudioPlayback::CPortAudioPlayback(CSignalGenerator& generator) : CPlayback(generator) {}

CPortAudioPlayback::~CPortAudioPlayback() {
    Close();
}

// Under the session lock.
int CPortAudioPlayback::FindOutput(const std::string& sOutput) const {
    if (sOutput.empty())
        return Pa_GetDefaultOutputDevice();
    for (int i = 0; i < Pa_GetDeviceCount(); ++i)
        if (const PaDeviceInfo* pInfo = Pa_GetDeviceInfo(i);
            IsStereoOutput(pInfo) && IdOf(*pInfo) == sOutput)
            return i;
    return paNoDevice;
}

int CPortAudioPlayback::Open(const std::string& sOutput, int nSampleRate, uint32_t nTimeoutMs) {
    Close();
    ResetCounts();
    std::unique_lock lock(CPortAudioSession::Lock(), std::defer_lock);
    if (!lock.try_lock_for(std::chrono::milliseconds(nTimeoutMs)))
        return kCaptureErrStillLooking;
    m_pSession = CPortAudioSession::Probed();
    if (!m_pSession || !m_pSession->IsOpen())
        return kCaptureErrStillLooking;
    const int nDevice = FindOutput(sOutput);
    const PaDeviceInfo* pInfo = nDevice != paNoDevice ? Pa_GetDeviceInfo(nDevice) : nullptr;
    if (!IsStereoOutput(pInfo))
        return kCaptureErrNoDevice;
    PaStreamParameters output{};
    output.device = nDevice;
    output.channelCount = 2;
    output.sampleFormat = paInt16;
    output.suggestedLatency = std::max(pInfo->defaultLowOutputLatency, kLatencySeconds);
    PaError err =
        Pa_OpenStream(&m_pStream, nullptr, &output, nSampleRate, paFramesPerBufferUnspecified,
                      paClipOff, &SPortAudioPlaybackCallbacks::Stream, this);
    if (err == paNoError)
        err = Pa_StartStream(m_pStream);
    if (err != paNoError) {
        if (m_pStream)
            Pa_CloseStream(m_pStream);
        m_pStream = nullptr;
        m_pSession.reset();
        return CPortAudioSession::CaptureError(err);
    }
    if (const PaStreamInfo* pStreamInfo = Pa_GetStreamInfo(m_pStream))
        SetLatency(pStreamInfo->outputLatency);
    return kCaptureOk;
}

void CPortAudioPlayback::Close() {
    if (!m_pStream)
        return;
    std::lock_guard lock(CPortAudioSession::Lock());
    Pa_StopStream(m_pStream);
    Pa_CloseStream(m_pStream);
    m_pStream = nullptr;
    m_pSession.reset();
}
