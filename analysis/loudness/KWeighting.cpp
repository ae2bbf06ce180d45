#include "analysis/loudness/KWeighting.h"

#include <cmath>
#include <initializer_list>
#include <numbers>

namespace {

// An analog second-order section in s normalised to its centre w0:
//   H(s) = (high s^2 + band s / Q + low) / (s^2 + s / Q + 1).
struct SPrototype {
    double dCentreHz;
    double dQ;
    double dHigh; // the gain far above the centre
    double dBand; // the gain of the band-pass part
    double dLow;  // the gain far below the centre
};

// The prototypes whose transforms at 48 kHz are the standard's coefficients,
// found by transforming those back. The shelf rises by 4.0 dB with a band gain
// near the square root of it; the high-pass has a pass-band gain 0.04 dB over
// 1, which the standard's coefficients carry.
constexpr SPrototype kShelf{1681.9744509555323, 0.7071752369554193, 1.5848647011308556,
                            1.2587209302325613, 1.0};
constexpr SPrototype kHighPass{38.13547087611304, 0.5003270373250421, 1.0049948987146884, 0.0, 0.0};

// The bilinear transform with s = (1 - z^-1) / (W (1 + z^-1)), W = tan(pi f0 / fs),
// which puts the prototype's centre at f0 exactly at any rate.
SBiquadCoefficients Transform(const SPrototype& p, double fs) {
    const double w = std::tan(std::numbers::pi * p.dCentreHz / fs);
    const double wq = w / p.dQ;
    const double w2 = w * w;
    const double a0 = 1.0 + wq + w2;
    SBiquadCoefficients c;
    c.b0 = (p.dHigh + p.dBand * wq + p.dLow * w2) / a0;
    c.b1 = 2.0 * (p.dLow * w2 - p.dHigh) / a0;
    c.b2 = (p.dHigh - p.dBand * wq + p.dLow * w2) / a0;
    c.a1 = 2.0 * (w2 - 1.0) / a0;
    c.a2 = (1.0 - wq + w2) / a0;
    return c;
}

// Far below the quietest 16-bit sample (3e-5), and far above the subnormals.
constexpr double kTiny = 1e-30;

void Flush(double& s) {
    if (std::abs(s) < kTiny) {
        s = 0.0;
    }
}

} // namespace

void CKWeighting::Design(int nSampleRate) {
    m_nSampleRate = nSampleRate;
    m_shelf = SSection{Transform(kShelf, nSampleRate)};
    m_highPass = SSection{Transform(kHighPass, nSampleRate)};
    m_bPrimed = false;
}

double CKWeighting::SSection::Settle(double x) {
    const double y = (c.b0 + c.b1 + c.b2) / (1.0 + c.a1 + c.a2) * x;
    s2 = c.b2 * x - c.a2 * y;
    s1 = c.b1 * x - c.a1 * y + s2;
    return y;
}

void CKWeighting::Prime(double x) {
    m_highPass.Settle(m_shelf.Settle(x));
    m_bPrimed = true;
}

void CKWeighting::FlushTinyState() {
    for (SSection* p : {&m_shelf, &m_highPass}) {
        Flush(p->s1);
        Flush(p->s2);
    }
}
