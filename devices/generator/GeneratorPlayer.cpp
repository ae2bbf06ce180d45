#include "devices/generator/GeneratorPlayer.h"

#include <chrono>
#include <thread>

#include "devices/CaptureFormat.h"
#include "devices/PulseSession.h"
#include "devices/generator/PortAudioPlayback.h"
#include "devices/generator/PulsePlayback.h"

namespace {

// Listing waits no longer for a server than opening a capture device does.
constexpr uint32_t kListTimeoutMs = 800;

} // namespace

CGeneratorPlayer::CGeneratorPlayer() = default;

CGeneratorPlayer::~CGeneratorPlayer() {
    Shutdown();
}

std::vector<SPlaybackOutput> CGeneratorPlayer::ListOutputs() {
    std::vector<SPlaybackOutput> outputs;
    CPulseSession session(kListTimeoutMs);
    std::vector<CPulseSession::SSink> sinks;
    if (session.IsConnected() && session.QuerySinks(&sinks, kListTimeoutMs)) {
        for (CPulseSession::SSink& sink : sinks)
            outputs.push_back({SPlaybackOutput::EKind::Server, std::move(sink.name),
                               std::move(sink.description)});
        return outputs;
    }
    for (CPortAudioPlayback::SOutput& output : CPortAudioPlayback::ListOutputs())
        outputs.push_back({SPlaybackOutput::EKind::PortAudio, std::move(output.id),
                           std::move(output.description)});
    return outputs;
}

int CGeneratorPlayer::Play(const SPlaybackOutput& output, int nSampleRate, int nPeriodSize,
                           const SGeneratorSettings& settings) {
    const bool bSameStream = m_pPlayback && !m_pPlayback->HasFailed() &&
                             output.eKind == m_output.eKind && output.id == m_output.id &&
                             nSampleRate == m_nSampleRate && nPeriodSize == m_nPeriodSize;
    if (!bSameStream)
        CloseStream();
    m_settings = settings;
    m_generator.SetSettings(settings);
    if (bSameStream) {
        m_generator.Play();
        m_eState = EState::Playing;
        return kCaptureOk;
    }
    // The stream's thread is not running yet: preparing cannot race it.
    m_generator.Prepare(nSampleRate, nPeriodSize);
    m_generator.SetSettings(settings);
    m_generator.Play();
    if (output.eKind == SPlaybackOutput::EKind::PortAudio)
        m_pPlayback = std::make_unique<CPortAudioPlayback>(m_generator);
    else
        m_pPlayback = std::make_unique<CPulsePlayback>(m_generator);
    const int nResult = m_pPlayback->Open(output.id, nSampleRate, kOpenTimeoutMs);
    if (nResult < 0) {
        m_generator.Stop();
        m_pPlayback.reset();
        m_eState = EState::Stopped;
        return nResult;
    }
    m_output = output;
    m_nSampleRate = nSampleRate;
    m_nPeriodSize = nPeriodSize;
    m_eState = EState::Playing;
    return kCaptureOk;
}

void CGeneratorPlayer::Change(const SGeneratorSettings& settings) {
    m_settings = settings;
    m_generator.SetSettings(settings);
}

void CGeneratorPlayer::Stop() {
    m_generator.Stop();
    if (m_eState == EState::Playing)
        m_eState = EState::Stopping;
}

bool CGeneratorPlayer::FadeHeard() const {
    const double dSilent = double(m_pPlayback->SilentFrames()) / std::max(m_nSampleRate, 1);
    return dSilent >= m_pPlayback->LatencySeconds() + kTailSeconds;
}

CGeneratorPlayer::EState CGeneratorPlayer::Poll() {
    if (!m_pPlayback)
        return m_eState;
    if (m_pPlayback->HasFailed()) {
        m_generator.Stop();
        CloseStream();
        m_eState = EState::Failed;
    } else if (m_eState == EState::Stopping && FadeHeard()) {
        CloseStream();
        m_eState = EState::Stopped;
    }
    return m_eState;
}

void CGeneratorPlayer::Shutdown(uint32_t nTimeoutMs) {
    if (!m_pPlayback)
        return;
    Stop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (!m_pPlayback->HasFailed() && !FadeHeard() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    CloseStream();
    m_eState = EState::Stopped;
}

long long CGeneratorPlayer::Underruns() const {
    return m_pPlayback ? m_pPlayback->Underruns() : m_nUnderruns;
}

double CGeneratorPlayer::LatencySeconds() const {
    return m_pPlayback ? m_pPlayback->LatencySeconds() : m_dLatencySeconds;
}

void CGeneratorPlayer::CloseStream() {
    if (!m_pPlayback)
        return;
    m_pPlayback->Close();
    m_nUnderruns = m_pPlayback->Underruns();
    m_dLatencySeconds = m_pPlayback->LatencySeconds();
    m_pPlayback.reset();
}
