#pragma once

// Signals the window tests play through the scripted device, one two-second
// ring (88200 frames at 44.1 kHz) long and periodic in it, so that the ring
// plays them without a seam.

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

constexpr int kRingFrames = 88200;

// White noise through a -3 dB per octave filter (Paul Kellet's refined pink
// filter), run twice round so that its state has settled, at dRms.
inline std::vector<double> PinkRing(double dRms, unsigned nSeed = 7) {
    std::mt19937 rng(nSeed);
    std::normal_distribution<double> white(0.0, 1.0);
    std::vector<double> adWhite(kRingFrames);
    for (double& d : adWhite)
        d = white(rng);
    double b[7] = {};
    std::vector<double> adPink(kRingFrames);
    for (int nRound = 0; nRound < 2; ++nRound) {
        for (int i = 0; i < kRingFrames; ++i) {
            const double w = adWhite[std::size_t(i)];
            b[0] = 0.99886 * b[0] + w * 0.0555179;
            b[1] = 0.99332 * b[1] + w * 0.0750759;
            b[2] = 0.96900 * b[2] + w * 0.1538520;
            b[3] = 0.86650 * b[3] + w * 0.3104856;
            b[4] = 0.55000 * b[4] + w * 0.5329522;
            b[5] = -0.7616 * b[5] - w * 0.0168980;
            adPink[std::size_t(i)] = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + w * 0.5362;
            b[6] = w * 0.115926;
        }
    }
    double dSquares = 0.0;
    for (double d : adPink)
        dSquares += d * d;
    const double dScale = dRms / std::sqrt(dSquares / kRingFrames);
    for (double& d : adPink)
        d *= dScale;
    return adPink;
}

// A peaking equaliser, the audio cookbook's biquad, at 44.1 kHz.
struct SPeakingEq {
    double b0, b1, b2, a1, a2;

    // dQ the quality; with a bandwidth in octaves use Q of that bandwidth.
    static SPeakingEq Of(double dHz, double dGainDb, double dQ) {
        const double A = std::pow(10.0, dGainDb / 40);
        const double w0 = 2 * std::numbers::pi * dHz / 44100;
        const double alpha = std::sin(w0) / (2 * dQ);
        const double a0 = 1 + alpha / A;
        return {(1 + alpha * A) / a0, -2 * std::cos(w0) / a0, (1 - alpha * A) / a0,
                -2 * std::cos(w0) / a0, (1 - alpha / A) / a0};
    }
    // The quality of a bandwidth of dOctaves (1.41 for one octave).
    static double QOfOctaves(double dOctaves) {
        const double d = std::pow(2.0, dOctaves);
        return std::sqrt(d) / (d - 1);
    }
    std::complex<double> Response(double dHz) const {
        const std::complex<double> z = std::polar(1.0, -2 * std::numbers::pi * dHz / 44100);
        return (b0 + b1 * z + b2 * z * z) / (1.0 + a1 * z + a2 * z * z);
    }
    // The ring through the filter, twice round so that the result is
    // periodic in it as the input is.
    std::vector<double> Filter(const std::vector<double>& adIn) const {
        std::vector<double> adOut(adIn.size());
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (int nRound = 0; nRound < 2; ++nRound) {
            for (std::size_t i = 0; i < adIn.size(); ++i) {
                const double y = b0 * adIn[i] + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
                x2 = x1, x1 = adIn[i], y2 = y1, y1 = y;
                adOut[i] = y;
            }
        }
        return adOut;
    }
    // The gain in dB a pink noise gets over a band: |H|^2 averaged in equal
    // steps of log f (the pink weight) between its edges.
    double BandGainDb(double dLowHz, double dHighHz) const {
        double dSum = 0.0;
        for (int i = 0; i < 1000; ++i)
            dSum += std::norm(Response(dLowHz * std::pow(dHighHz / dLowHz, (i + 0.5) / 1000)));
        return 10 * std::log10(dSum / 1000);
    }
};
