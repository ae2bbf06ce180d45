#include "analysis/WeightingFilter.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
// Z's high-pass: two poles at 3 Hz take DC off and leave 10 Hz within 0.04 dB.
constexpr double kZHighPassHz = 3.0;
// The correction's half length: 7 taps either side of its centre.
constexpr int kHalfTaps = (CWeightingFilter::kMaxTaps - 1) / 2;

// The biquad s^2 / (s^2 + p s + q) through the bilinear transform at fs.
template <typename Section> Section HighPassSection(double p, double q, double fs) {
    const double k = 2.0 * fs;
    const double d0 = k * k + p * k + q;
    Section s;
    s.b0 = k * k / d0;
    s.b1 = -2.0 * k * k / d0;
    s.b2 = k * k / d0;
    s.a1 = (2.0 * q - 2.0 * k * k) / d0;
    s.a2 = (k * k - p * k + q) / d0;
    return s;
}

template <typename Section> std::complex<double> SectionResponse(const Section& s, double dOmega) {
    const std::complex<double> z1 = std::polar(1.0, -dOmega);
    const std::complex<double> z2 = z1 * z1;
    return (s.b0 + s.b1 * z1 + s.b2 * z2) / (1.0 + s.a1 * z1 + s.a2 * z2);
}

// Solves a x = b in place by Gaussian elimination with partial pivoting; a is
// n x n, row by row.
std::vector<double> Solve(std::vector<double> a, std::vector<double> b) {
    const std::size_t n = b.size();
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r) {
            if (std::abs(a[r * n + col]) > std::abs(a[pivot * n + col])) {
                pivot = r;
            }
        }
        for (std::size_t c = 0; c < n; ++c) {
            std::swap(a[col * n + c], a[pivot * n + c]);
        }
        std::swap(b[col], b[pivot]);
        for (std::size_t r = col + 1; r < n; ++r) {
            const double f = a[r * n + col] / a[col * n + col];
            for (std::size_t c = col; c < n; ++c) {
                a[r * n + c] -= f * a[col * n + c];
            }
            b[r] -= f * b[col];
        }
    }
    std::vector<double> x(n, 0.0);
    for (std::size_t i = n; i-- > 0;) {
        double sum = b[i];
        for (std::size_t c = i + 1; c < n; ++c) {
            sum -= a[i * n + c] * x[c];
        }
        x[i] = sum / a[i * n + i];
    }
    return x;
}

} // namespace

double CWeightingFilter::SBiquad::Settle(double x) {
    const double y = (b0 + b1 + b2) / (1.0 + a1 + a2) * x;
    s2 = b2 * x - a2 * y;
    s1 = b1 * x - a1 * y + s2;
    return y;
}

void CWeightingFilter::Design(EWeighting eWeighting, int nSampleRate) {
    m_eWeighting = eWeighting;
    m_nSampleRate = nSampleRate;
    m_nSections = 0;
    m_nTaps = 1;
    m_dGain = 1.0;
    m_bPrimed = false;
    if (nSampleRate <= 0) {
        return;
    }
    const double fs = nSampleRate;
    const double w1 = kTwoPi * SWeightingPoles::kF1;
    switch (eWeighting) {
    case EWeighting::Z: {
        const double wc = kTwoPi * kZHighPassHz;
        m_aSections[0] = HighPassSection<SBiquad>(std::numbers::sqrt2 * wc, wc * wc, fs);
        m_nSections = 1;
        break;
    }
    case EWeighting::A: {
        const double w2 = kTwoPi * SWeightingPoles::kF2;
        const double w3 = kTwoPi * SWeightingPoles::kF3;
        m_aSections[0] = HighPassSection<SBiquad>(2.0 * w1, w1 * w1, fs);
        m_aSections[1] = HighPassSection<SBiquad>(w2 + w3, w2 * w3, fs);
        m_nSections = 2;
        break;
    }
    case EWeighting::C:
        m_aSections[0] = HighPassSection<SBiquad>(2.0 * w1, w1 * w1, fs);
        m_nSections = 1;
        break;
    }
    if (eWeighting == EWeighting::Z) {
        m_dGain = 1.0 / std::pow(10.0, ResponseDb(1000.0) / 20.0);
    } else {
        FitCorrection();
    }
}

// The correction's amplitude is c0 + 2 sum c_k cos(k w): it is fitted, on a
// logarithmic grid from 10 Hz to 95 % of half the rate, to what the standard's
// magnitude asks of it beyond the biquads, in relative terms (each point by
// the inverse square of its target, bounded where the target is far down).
void CWeightingFilter::FitCorrection() {
    const double fs = m_nSampleRate;
    const int nBasis = kHalfTaps + 1;
    std::vector<double> a(std::size_t(nBasis * nBasis), 0.0);
    std::vector<double> b(std::size_t(nBasis), 0.0);
    std::vector<double> phi(std::size_t(nBasis), 0.0);
    const double dLow = std::log(10.0);
    const double dHigh = std::log(0.95 * fs / 2.0);
    constexpr int kPoints = 400;
    m_nTaps = 1; // the biquads alone while the target is worked out
    m_dGain = 1.0;
    for (int i = 0; i < kPoints; ++i) {
        const double dHz = std::exp(dLow + (dHigh - dLow) * i / (kPoints - 1));
        const double dTarget =
            std::pow(10.0, (WeightingDb(m_eWeighting, dHz) - ResponseDb(dHz)) / 20.0);
        const double dWeight = 1.0 / std::pow(std::max(dTarget, 0.05), 2.0);
        const double dOmega = kTwoPi * dHz / fs;
        for (int k = 0; k < nBasis; ++k) {
            phi[std::size_t(k)] = k == 0 ? 1.0 : 2.0 * std::cos(k * dOmega);
        }
        for (int j = 0; j < nBasis; ++j) {
            for (int k = 0; k < nBasis; ++k) {
                a[std::size_t(j * nBasis + k)] +=
                    dWeight * phi[std::size_t(j)] * phi[std::size_t(k)];
            }
            b[std::size_t(j)] += dWeight * phi[std::size_t(j)] * dTarget;
        }
    }
    const std::vector<double> c = Solve(std::move(a), std::move(b));
    m_nTaps = 2 * kHalfTaps + 1;
    for (int k = 0; k <= kHalfTaps; ++k) {
        m_adTaps[std::size_t(kHalfTaps + k)] = c[std::size_t(k)];
        m_adTaps[std::size_t(kHalfTaps - k)] = c[std::size_t(k)];
    }
    const double dAt1k = std::pow(10.0, ResponseDb(1000.0) / 20.0);
    for (int k = 0; k < m_nTaps; ++k) {
        m_adTaps[std::size_t(k)] /= dAt1k;
    }
}

double CWeightingFilter::ResponseDb(double dHz) const {
    if (m_nSampleRate <= 0) {
        return 0.0;
    }
    const double dOmega = kTwoPi * dHz / m_nSampleRate;
    std::complex<double> h = m_nTaps > 1 ? 0.0 : m_dGain;
    for (int k = 0; k < m_nTaps && m_nTaps > 1; ++k) {
        h += m_adTaps[std::size_t(k)] * std::polar(1.0, -k * dOmega);
    }
    for (int i = 0; i < m_nSections; ++i) {
        h *= SectionResponse(m_aSections[std::size_t(i)], dOmega);
    }
    return 20.0 * std::log10(std::max(std::abs(h), 1e-300));
}

void CWeightingFilter::Prime(double x) {
    for (int i = 0; i < m_nSections; ++i) {
        x = m_aSections[std::size_t(i)].Settle(x);
    }
    m_adDelay.fill(x);
    m_nHead = 0;
    m_bPrimed = true;
}
