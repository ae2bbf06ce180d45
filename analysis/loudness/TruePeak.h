#pragma once

#include <array>

// The true peak of one channel as BS.1770 measures it: the signal
// interpolated to four times its rate, and the largest absolute value of the
// result, which finds the peaks that fall between samples (a sine at a
// quarter of the rate can peak 3 dB above its samples).
//
// The interpolator is a 48-tap linear-phase low-pass, four phases of 12
// taps: a Kaiser-windowed sinc cut off at half the input rate. Phase 0
// falls on the input samples themselves, which are taken as they come, so
// that a true peak never reads below the sample peak; phases 1 to 3 lie a
// quarter, a half and three quarters of a sample after them.
//
// An interpolated point counts once all 12 samples it is made of have come
// since the start, a restart or a reset: one made partly of nothing, or of
// what came before, would ring on the step into the signal and read peaks
// it does not have.
class CTruePeak {
public:
    static constexpr int kFactor = 4;
    static constexpr int kTaps = 12; // per phase
    using Phase = std::array<double, kTaps>;

    // The taps of each phase, for the samples from the oldest to the newest.
    static const std::array<Phase, kFactor>& Phases();

    // Forgets the signal, which does not go on from what came before.
    void Restart() { m_nFilling = kTaps - 1; }

    // The next sample, full scale 1.0.
    void Process(double x) {
        m_adHistory[static_cast<std::size_t>(m_nOldest)] = x;
        m_adHistory[static_cast<std::size_t>(m_nOldest + kTaps)] = x;
        m_nOldest = m_nOldest + 1 == kTaps ? 0 : m_nOldest + 1;
        double dPeak = Magnitude(x);
        if (m_nFilling > 0) {
            --m_nFilling;
        } else {
            const double* pWindow = m_adHistory.data() + m_nOldest;
            for (std::size_t i = 1; i < kFactor; ++i) {
                dPeak = Larger(dPeak, Magnitude(Dot((*m_pPhases)[i], pWindow)));
            }
        }
        m_dPeak = Larger(m_dPeak, dPeak);
    }

    // The largest absolute value interpolated since the last ResetPeak, full
    // scale 1.0.
    double Peak() const { return m_dPeak; }
    // Starts a new peak from the next sample on.
    void ResetPeak() {
        m_dPeak = 0.0;
        Restart();
    }

private:
    static double Magnitude(double x) { return x < 0.0 ? -x : x; }
    static double Larger(double a, double b) { return a < b ? b : a; }
    static double Dot(const Phase& taps, const double* pWindow) {
        double y = 0.0;
        for (std::size_t k = 0; k < kTaps; ++k) {
            y += taps[k] * pWindow[k];
        }
        return y;
    }
    const std::array<Phase, kFactor>* m_pPhases = &Phases();
    // The last kTaps samples twice over, so that they always lie in order from
    // m_nOldest on.
    std::array<double, 2 * kTaps> m_adHistory{};
    int m_nOldest = 0;
    int m_nFilling = kTaps - 1; // samples still to come before the window is full
    double m_dPeak = 0.0;
};
