#include "analysis/Weighting.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kF1 = SWeightingPoles::kF1;
constexpr double kF2 = SWeightingPoles::kF2;
constexpr double kF3 = SWeightingPoles::kF3;
constexpr double kF4 = SWeightingPoles::kF4;

// What the bare networks read at 1 kHz; taking them off brings 1 kHz to 0 dB.
constexpr double kA1000Db = -2.000;
constexpr double kC1000Db = -0.062;

// The C network: two poles at f1 and two at f4, with zeros at 0 Hz.
double CNetworkDb(double dF2) {
    const double dGain = kF4 * kF4 * dF2 / ((dF2 + kF1 * kF1) * (dF2 + kF4 * kF4));
    return 20.0 * std::log10(dGain);
}

// The A network is the C network with the two further high-pass poles at f2 and f3.
double ANetworkDb(double dF2) {
    const double dHighPass = dF2 / std::sqrt((dF2 + kF2 * kF2) * (dF2 + kF3 * kF3));
    return CNetworkDb(dF2) + 20.0 * std::log10(dHighPass);
}

} // namespace

double WeightingDb(EWeighting w, double dHz) {
    if (w == EWeighting::Z)
        return 0.0;
    if (!(dHz > 0.0))
        return -std::numeric_limits<double>::infinity();
    const double dF2 = dHz * dHz;
    return w == EWeighting::A ? ANetworkDb(dF2) - kA1000Db : CNetworkDb(dF2) - kC1000Db;
}

double WeightingPowerGain(EWeighting w, double dHz) {
    if (w == EWeighting::Z)
        return 1.0;
    if (!(dHz > 0.0))
        return 0.0;
    return std::pow(10.0, WeightingDb(w, dHz) / 10.0);
}

const char* WeightingLetter(EWeighting w) {
    switch (w) {
    case EWeighting::A:
        return "A";
    case EWeighting::C:
        return "C";
    case EWeighting::Z:
        break;
    }
    return "Z";
}
