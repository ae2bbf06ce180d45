#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/generator/Playback.h"
#include "devices/generator/SignalGenerator.h"

// Where the generator can play.
struct SPlaybackOutput {
    enum class EKind { Server, PortAudio };
    EKind eKind = EKind::Server;
    std::string id; // the server's sink name, or PortAudio's id; empty: the default
    std::string description;
};

// The signal generator and the stream that plays it. The user interface
// plays, changes and stops it and looks in on it (Poll) a few times a second;
// the stream's own thread renders and never waits for it.
//
// Stop fades out and keeps the stream running on silence until the fade has
// been heard, so that closing it cuts nothing short.
class CGeneratorPlayer {
public:
    enum class EState { Stopped, Playing, Stopping, Failed };

    static constexpr uint32_t kOpenTimeoutMs = 1500;
    // Silence played after the fade, beyond the stream's latency, before
    // the stream closes.
    static constexpr double kTailSeconds = 0.05;

    CGeneratorPlayer();
    ~CGeneratorPlayer();
    CGeneratorPlayer(const CGeneratorPlayer&) = delete;
    CGeneratorPlayer& operator=(const CGeneratorPlayer&) = delete;

    // The sound server's outputs, its default first, when a server answers;
    // otherwise PortAudio's stereo outputs.
    static std::vector<SPlaybackOutput> ListOutputs();

    // Starts playing the settings on the output at the rate, nPeriodSize
    // being the periodic noise's period. Already playing there at that rate,
    // only the settings change (with their fades). 0, or a negative capture
    // error code with the player stopped.
    int Play(const SPlaybackOutput& output, int nSampleRate, int nPeriodSize,
             const SGeneratorSettings& settings);
    // A new signal, level or channel choice while playing.
    void Change(const SGeneratorSettings& settings);
    // Fades out; Poll closes the stream once the fade has been heard.
    void Stop();
    // Closes a stream that has finished its fade or failed; the state then.
    EState Poll();
    // For the end of the program: fades out and waits for that, at most
    // nTimeoutMs, then closes.
    void Shutdown(uint32_t nTimeoutMs = 500);

    EState State() const { return m_eState; }
    bool IsSounding() const { return m_eState == EState::Playing; }
    const SGeneratorSettings& Settings() const { return m_settings; }
    int SampleRate() const { return m_nSampleRate; }
    long long Underruns() const;
    // Frames the open stream has rendered; 0 when none is open.
    long long FramesRendered() const { return m_pPlayback ? m_pPlayback->FramesRendered() : 0; }
    double LatencySeconds() const;

private:
    bool FadeHeard() const;
    void CloseStream();

    CSignalGenerator m_generator;
    std::unique_ptr<CPlayback> m_pPlayback;
    SPlaybackOutput m_output;
    SGeneratorSettings m_settings;
    int m_nSampleRate = 0;
    int m_nPeriodSize = 0;
    EState m_eState = EState::Stopped;
    long long m_nUnderruns = 0; // of the stream last closed
    double m_dLatencySeconds = 0.0;
};
