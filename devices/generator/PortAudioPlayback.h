#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/generator/Playback.h"

class CPortAudioSession;
typedef void PaStream;

// A playback stream on a PortAudio output (ALSA or JACK), for machines
// where no sound server runs. PortAudio's callback thread renders.
class CPortAudioPlayback : public CPlayback {
public:
    struct SOutput {
        std::string id;          // host API and name, what Open takes
        std::string description; // "HDA Intel PCH: ALC892 Analog (hw:0,0) (ALSA)"
    };

    // The stereo outputs of the last probe, the default output first.
    static std::vector<SOutput> ListOutputs();

    explicit CPortAudioPlayback(CSignalGenerator& generator);
    ~CPortAudioPlayback() override;

    // sOutput is an id from ListOutputs; empty for the default output.
    int Open(const std::string& sOutput, int nSampleRate, uint32_t nTimeoutMs) override;
    void Close() override;

private:
    friend struct SPortAudioPlaybackCallbacks;
    int FindOutput(const std::string& sOutput) const;

    std::shared_ptr<CPortAudioSession> m_pSession;
    PaStream* m_pStream = nullptr;
};
