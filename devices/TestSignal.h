#pragma once

#include <cstdint>

// The built-in device's signal, the same on every run. Left: a tone with three
// harmonics that dwells on a note for three seconds and then glides to the next
// of a short tune. Right: the major chord an octave below the left note, over
// soft pink noise.
class CTestSignal {
public:
    explicit CTestSignal(uint32_t nSampleRate);

    // Appends the next nFrames stereo frames (left, right) to pFrames.
    void Render(int16_t* pFrames, uint32_t nFrames);
    uint64_t FramesRendered() const { return m_nFrame; }

    // The left tone's fundamental, in Hz, dSeconds into the signal.
    static double LeftToneHz(double dSeconds);

    static constexpr double kNoteSeconds = 3.0;
    static constexpr double kGlideSeconds = 0.2;

private:
    static double LeftPitch(double dSeconds); // as a MIDI note number
    double NextPink();
    void UpdatePitch(double dPitch);

    uint32_t m_nSampleRate;
    uint64_t m_nFrame = 0;
    double m_dPitch = -1.0;
    double m_dLeftHz = 0.0;
    double m_adChordHz[3] = {0.0, 0.0, 0.0};
    double m_dLeftPhase = 0.0;
    double m_adChordPhase[3] = {0.0, 0.0, 0.0};
    uint32_t m_nNoise = 0x2545F491u;
    double m_adPink[7] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
};
