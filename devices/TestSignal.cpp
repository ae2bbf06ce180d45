#include "devices/TestSignal.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185307179586;

// The tune, as MIDI note numbers: A4 C5 E5 D5 B4 G4 E4 F4.
constexpr int kTune[] = {69, 72, 76, 74, 71, 67, 64, 65};
constexpr int kTuneLength = sizeof(kTune) / sizeof(kTune[0]);

// Fundamental and harmonics of the left tone, as fractions of full scale.
constexpr double kHarmonics[] = {0.30, 0.12, 0.06, 0.03};
constexpr double kChordLevel = 0.08;
constexpr double kPinkLevel = 0.05;

double MidiToHz(double note) {
    return 440.0 * std::pow(2.0, (note - 69.0) / 12.0);
}

int16_t ToSample(double v) {
    const double scaled = std::clamp(v, -1.0, 1.0) * 32767.0;
    return static_cast<int16_t>(std::lround(scaled));
}

} // namespace

CTestSignal::CTestSignal(uint32_t nSampleRate) : m_nSampleRate(nSampleRate ? nSampleRate : 1) {}

double CTestSignal::LeftPitch(double dSeconds) {
    const auto step = static_cast<long long>(std::floor(dSeconds / kNoteSeconds));
    const int note = kTune[step % kTuneLength];
    const double into = dSeconds - static_cast<double>(step) * kNoteSeconds;
    if (step == 0 || into >= kGlideSeconds)
        return note;
    const int previous = kTune[(step - 1) % kTuneLength];
    const double u = into / kGlideSeconds;
    const double eased = u * u * (3.0 - 2.0 * u);
    return previous + (note - previous) * eased;
}

double CTestSignal::LeftToneHz(double dSeconds) {
    return MidiToHz(LeftPitch(dSeconds));
}

// Paul Kellet's economy filter over a deterministic white source: about 3 dB
// per octave down, the slope the analyser's "Pink 2 Flat" weighting undoes.
double CTestSignal::NextPink() {
    m_nNoise ^= m_nNoise << 13;
    m_nNoise ^= m_nNoise >> 17;
    m_nNoise ^= m_nNoise << 5;
    const double white = static_cast<double>(m_nNoise) / 2147483648.0 - 1.0;
    double* b = m_adPink;
    b[0] = 0.99886 * b[0] + white * 0.0555179;
    b[1] = 0.99332 * b[1] + white * 0.0750759;
    b[2] = 0.96900 * b[2] + white * 0.1538520;
    b[3] = 0.86650 * b[3] + white * 0.3104856;
    b[4] = 0.55000 * b[4] + white * 0.5329522;
    b[5] = -0.7616 * b[5] - white * 0.0168980;
    const double pink = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + white * 0.5362;
    b[6] = white * 0.115926;
    return pink * 0.11;
}

void CTestSignal::SOscillator::SetFrequency(double dHz, double dRate) {
    const double dStep = kTwoPi * dHz / dRate;
    dStepCos = std::cos(dStep);
    dStepSin = std::sin(dStep);
}

void CTestSignal::SOscillator::Advance() {
    const double c = dCos * dStepCos - dSin * dStepSin;
    dSin = dSin * dStepCos + dCos * dStepSin;
    dCos = c;
}

void CTestSignal::SOscillator::Normalise() {
    const double dRadius = std::sqrt(dCos * dCos + dSin * dSin);
    dCos /= dRadius;
    dSin /= dRadius;
}

// Frequencies change only while the left tone glides; most samples reuse them.
void CTestSignal::UpdatePitch(double dPitch) {
    if (dPitch == m_dPitch)
        return;
    const double rate = m_nSampleRate;
    m_dPitch = dPitch;
    m_dLeftHz = MidiToHz(dPitch);
    m_oscLeft.SetFrequency(m_dLeftHz, rate);
    // The chord follows the notes without the glide.
    const double root = std::round(dPitch) - 12.0;
    if (root == m_dChordRoot)
        return;
    m_dChordRoot = root;
    const double chord[3] = {root, root + 4.0, root + 7.0};
    for (int v = 0; v < 3; ++v)
        m_aoscChord[v].SetFrequency(MidiToHz(chord[v]), rate);
}

// The harmonics from the fundamental's phase by complex powers: the sine of
// h times the phase is the imaginary part of (cos + i sin) to the h.
double CTestSignal::LeftSample() const {
    const double nyquist = m_nSampleRate / 2.0;
    const double c1 = m_oscLeft.dCos;
    const double s1 = m_oscLeft.dSin;
    double c = c1;
    double s = s1;
    double left = 0.0;
    for (int h = 0; h < 4; ++h) {
        if (m_dLeftHz * (h + 1) < nyquist)
            left += kHarmonics[h] * s;
        const double cNext = c * c1 - s * s1;
        s = s * c1 + c * s1;
        c = cNext;
    }
    return left;
}

void CTestSignal::Render(int16_t* pFrames, uint32_t nFrames) {
    constexpr uint64_t kNormaliseEvery = 1024;
    const double rate = m_nSampleRate;
    for (uint32_t i = 0; i < nFrames; ++i, ++m_nFrame) {
        UpdatePitch(LeftPitch(static_cast<double>(m_nFrame) / rate));
        const double left = LeftSample();
        double right = kPinkLevel * NextPink();
        for (const SOscillator& osc : m_aoscChord)
            right += kChordLevel * osc.dSin;
        pFrames[2 * i] = ToSample(left);
        pFrames[2 * i + 1] = ToSample(right);

        m_oscLeft.Advance();
        for (SOscillator& osc : m_aoscChord)
            osc.Advance();
        if (m_nFrame % kNormaliseEvery == 0) {
            m_oscLeft.Normalise();
            for (SOscillator& osc : m_aoscChord)
                osc.Normalise();
        }
    }
}
