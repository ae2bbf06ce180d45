#include "analysis/loudness/TruePeak.h"

#include <cmath>
#include <numbers>

namespace {

// The Kaiser window's shape: 6 keeps each phase's pass band within 0.01 dB of
// flat up to 0.3 of the input rate and within 0.06 dB up to 0.35.
constexpr double kKaiserBeta = 6.0;
// The window reaches over 6 input samples either side of the interpolated point.
constexpr double kHalfSpan = CTruePeak::kTaps / 2;

double Sinc(double t) {
    return t == 0.0 ? 1.0 : std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
}

double Kaiser(double t) {
    const double r = 1.0 - (t / kHalfSpan) * (t / kHalfSpan);
    return std::cyl_bessel_i(0.0, kKaiserBeta * std::sqrt(r > 0.0 ? r : 0.0)) /
           std::cyl_bessel_i(0.0, kKaiserBeta);
}

// Phase p interpolates p / kFactor of a sample after the window's tap 5, the
// sixth of twelve from the oldest; tap k sits t = 5 + p / kFactor - k samples
// before that point. Each phase is scaled to pass a steady level unchanged.
CTruePeak::Phase DesignPhase(int nPhase) {
    CTruePeak::Phase taps{};
    double dSum = 0.0;
    for (int k = 0; k < CTruePeak::kTaps; ++k) {
        const double t = (CTruePeak::kTaps / 2 - 1) + double(nPhase) / CTruePeak::kFactor - k;
        taps[std::size_t(k)] = Sinc(t) * Kaiser(t);
        dSum += taps[std::size_t(k)];
    }
    for (double& d : taps) {
        d /= dSum;
    }
    return taps;
}

std::array<CTruePeak::Phase, CTruePeak::kFactor> Design() {
    std::array<CTruePeak::Phase, CTruePeak::kFactor> phases{};
    for (int p = 0; p < CTruePeak::kFactor; ++p) {
        phases[std::size_t(p)] = DesignPhase(p);
    }
    return phases;
}

} // namespace

const std::array<CTruePeak::Phase, CTruePeak::kFactor>& CTruePeak::Phases() {
    static const std::array<Phase, kFactor> phases = Design();
    return phases;
}
