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
    // A sine oscillator stepped by rotation: (cos, sin) of its phase, turned by
    // the step's (cos, sin) at every sample, so that a sample costs two
    // multiplications and two additions instead of a sine.
    struct SOscillator {
        double dCos = 1.0;
        double dSin = 0.0;
        double dStepCos = 1.0;
        double dStepSin = 0.0;

        void SetFrequency(double dHz, double dRate);
        void Advance();
        // Rounding makes the radius wander by a few units in the last place per
        // step; put back on the unit circle now and then.
        void Normalise();
    };

    static double LeftPitch(double dSeconds); // as a MIDI note number
    double NextPink();
    void UpdatePitch(double dPitch);
    double LeftSample() const;

    uint32_t m_nSampleRate;
    uint64_t m_nFrame = 0;
    double m_dPitch = -1.0;
    double m_dLeftHz = 0.0;
    double m_dChordRoot = -1.0;
    SOscillator m_oscLeft;
    SOscillator m_aoscChord[3];
    uint32_t m_nNoise = 0x2545F491u;
    double m_adPink[7] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
};
