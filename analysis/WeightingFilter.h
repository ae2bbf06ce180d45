#pragma once

#include "analysis/Weighting.h"

#include <array>

// A frequency weighting of IEC 61672-1 as a filter on the samples, for a level
// meter that meters every sample: A and C, and Z, which is flat from 10 Hz
// and removes DC.
//
// The networks' low-frequency poles and their zeros at 0 Hz are biquads
// through the bilinear transform, whose warping is negligible there. What is
// left, the pair of poles at 12.2 kHz (near or above half the rate at the
// lower rates, where the bilinear transform would bend it most) and the
// biquads' own small warping, is a short linear-phase FIR fitted by least
// squares to the standard's magnitude up to near half the rate. The whole
// reads 0 dB at 1 kHz.
class CWeightingFilter {
public:
    // Designs the filter for a weighting at a rate; the next sample starts it.
    void Design(EWeighting eWeighting, int nSampleRate);
    EWeighting Weighting() const { return m_eWeighting; }
    int SampleRate() const { return m_nSampleRate; }

    // Forgets the signal: the next sample is taken as a steady level that has
    // lasted, so that a DC offset gives no transient.
    void Reset() { m_bPrimed = false; }

    double Process(double x) {
        if (!m_bPrimed) {
            Prime(x);
        }
        for (int i = 0; i < m_nSections; ++i) {
            x = m_aSections[static_cast<std::size_t>(i)].Process(x);
        }
        return m_nTaps > 1 ? Correct(x) : x * m_dGain;
    }

    // The designed response at dHz in dB, as the coefficients give it.
    double ResponseDb(double dHz) const;

    static constexpr int kMaxTaps = 15;

private:
    // y = b0 x + s1; s1 = b1 x - a1 y + s2; s2 = b2 x - a2 y (transposed form 2).
    struct SBiquad {
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double s1 = 0, s2 = 0;
        double Process(double x) {
            const double y = b0 * x + s1;
            s1 = b1 * x - a1 * y + s2;
            s2 = b2 * x - a2 * y;
            return y;
        }
        // The state of a section that has had the input x for ever.
        double Settle(double x);
    };

    void Prime(double x);
    double Correct(double x) {
        m_adDelay[static_cast<std::size_t>(m_nHead)] = x;
        double y = 0.0;
        int j = m_nHead;
        for (int k = 0; k < m_nTaps; ++k) {
            y += m_adTaps[static_cast<std::size_t>(k)] * m_adDelay[static_cast<std::size_t>(j)];
            j = j == 0 ? m_nTaps - 1 : j - 1;
        }
        m_nHead = m_nHead + 1 == m_nTaps ? 0 : m_nHead + 1;
        return y;
    }
    void FitCorrection();

    EWeighting m_eWeighting = EWeighting::Z;
    int m_nSampleRate = 0;
    std::array<SBiquad, 2> m_aSections{};
    int m_nSections = 0;
    std::array<double, kMaxTaps> m_adTaps{};
    std::array<double, kMaxTaps> m_adDelay{};
    int m_nTaps = 1;
    int m_nHead = 0;
    double m_dGain = 1.0; // without a correction
    bool m_bPrimed = false;
};
